// Files a process works in for a while and that its sudden end would leave behind: the page files
// of a document in the data folder, a document being drawn in a printer's spool folder.
//
// The process that makes such a file holds an exclusive lock on it (flock) from the moment it
// exists until it is removed or put in its final place. The kernel drops the lock when the process
// ends, however it ends, so a file whose lock is free belongs to nobody any more: a later process,
// or the service that saw its tool end, sweeps it. A file a live process still uses is never
// removed, since its lock is held.
//
// Between a file's creation and its lock there is an instant in which it is nobody's to look at:
// its maker holds a shared lock on the folder for that instant (FileMaking), and a sweep that gets
// the folder's exclusive lock knows that no file in it is in that instant. When a maker is at work
// the sweep takes only files old enough (kLeftoverAge) to be past it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// How long a leftover stays unwritten before it is swept while other processes are making files
// in its folder: far longer than the instant between a file's creation and its lock.
constexpr std::chrono::seconds kLeftoverAge{60};

// Holds the folder's shared making lock for its lifetime: made just before a leftover-kind file is
// created in the open folder, ended once the file's own in-use lock is taken. A folder descriptor
// below 0 is let be.
class FileMaking final {
public:
    explicit FileMaking(int folder);
    ~FileMaking();
    FileMaking(const FileMaking&) = delete;
    FileMaking& operator=(const FileMaking&) = delete;

private:
    int folder_;
};

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
// regular files of this user whose in-use lock is free, made by no process still between their
// creation and their lock (the folder's making lock is had), or else unwritten for kLeftoverAge.
// The folder's descriptor must be one of the caller's own opens. isLeftover
// is asked before a file is opened and again once its lock is held, so it may look at other files
// that the lock's holder would have settled. Returns how many files were removed.
int SweepLeftovers(int folder, const std::function<bool(std::string_view name)>& isLeftover);

// Sweeps from a folder (native path) the page files GetTempFileNameW made there with this prefix
// that nobody uses any more, as its first call in the folder does; the folder must be one this
// process trusts, else nothing is done. Returns how many were removed.
int SweepTempFileLeftovers(const std::string& folder, const std::string& prefix);

} // namespace platform
