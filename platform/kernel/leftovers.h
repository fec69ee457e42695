// Files a process works in for a while and that its sudden end would leave behind: the page files
// of a document in the data folder, a document being drawn in a printer's spool folder.
//
// The process that makes such a file holds an exclusive lock on it (flock) from the moment it
// exists until it is removed or put in its final place. The kernel drops the lock when the process
// ends, however it ends, so a file whose lock is free and that has not been written for a while
// belongs to nobody any more: a later process sweeps it. A file a live process still uses is never
// removed, since its lock is held.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// How long a leftover stays unwritten before it is swept. It covers the instant between a file's
// creation and its lock, and the files of processes that took no lock.
constexpr std::chrono::seconds kLeftoverAge{60};

// Takes the lock that marks an open file as in use; it lasts as long as this open file (any of its
// descriptors) or the process. False with errno set.
bool MarkInUse(int descriptor);

// Keeps a descriptor, and with it the file's in-use lock, until the file has been removed from its
// folder (looked at whenever another file is held) or the process ends. Takes the descriptor over.
// `native` is the path the file was made at.
void HoldUntilRemoved(int descriptor, const std::string& native);

// The descriptor kept for the file made at this path (even once the file is gone from its
// folder, until another file is held); -1 when none is kept. It stays the holder's: the caller
// must not close it.
int HeldFileOf(const std::string& native);

// How many descriptors HoldUntilRemoved keeps now.
std::size_t HeldFileCount();

// Removes from the folder the files that nobody uses any more and that isLeftover names as such:
// regular files of this user, not written for kLeftoverAge, whose in-use lock is free. isLeftover
// is asked before a file is opened and again once its lock is held, so it may look at other files
// that the lock's holder would have settled. Returns how many files were removed.
int SweepLeftovers(int folder, const std::function<bool(std::string_view name)>& isLeftover);

} // namespace platform
