// Who may read what the platform makes on the host.
//
// On Windows a new folder or file takes its access rights from the folder it is made in, and what a
// process makes without saying otherwise is open to its own user and the administrators only. Here
// the same is said with modes, set exactly whatever the umask the process was started with:
// - the folders of the machine's layout (var, var/lib, run, mnt…) may be entered and read by all;
// - a program's folder in the common application-data folder, and everything made in it, belongs
//   to its owner alone: it holds the pages of the documents people print;
// - temporary files are their owner's alone;
// - the log folder and its files may be read by their owner's group (administrators reading logs).
// The platform never changes the process's file-creation mask: programs that load it keep theirs.
//
// What a process writes for its owner goes only into folders that no other user can change: a
// folder another user owns or may write in could have any file in it swapped for a link to a file
// the writer may write and the other user may not.
#pragma once

#include <string>
#include <sys/types.h>

namespace platform {

// A folder of the machine's layout: anyone may look in, only its owner may write.
constexpr mode_t kSharedFolderMode = 0755;
// A program's folder in the common application-data folder, and every folder made below it.
constexpr mode_t kPrivateFolderMode = 0700;
// A temporary file.
constexpr mode_t kPrivateFileMode = 0600;
// The log folder, and each log file in it.
constexpr mode_t kLogFolderMode = 0750;
constexpr mode_t kLogFileMode = 0640;

// The common application-data folder (native): <root>/var/lib.
std::string CommonAppDataFolder();

// True when the native path is a program's folder in the common application-data folder
// (<root>/var/lib/NAME) or lies below one.
bool IsPrivatePlace(const std::string& native);

// Makes one folder with exactly the mode its place calls for, whatever the umask. True when the
// folder was made (made = true) or is there already as a folder; false with errno set otherwise.
bool MakeFolder(const std::string& native, bool& made);

// Makes an absolute folder and every missing parent, each with the mode of its place. False with
// errno set when one of them cannot be made.
bool MakeFolders(const std::string& native);

// Makes an absolute folder with exactly `mode` when it is missing (its missing parents with the
// modes of their places). False with errno set when it cannot be made.
bool MakeFolderOfMode(const std::string& native, mode_t mode);

// Takes group and other access away from a private folder that its owner made earlier under a
// wider mode; called before something is made in it. Anything else is left as it is.
void TightenPrivateFolder(const std::string& native);

// Why the folder may not hold what this process writes, as a sentence naming it; empty when it
// may: it and every folder above it belong to this process's user or the superuser, and no other
// user may write in them, unless the folder keeps them from removing or renaming what is not
// theirs (the sticky bit of /tmp). A folder that is not there is not refused here: making
// something in it fails on its own.
std::string UntrustedFolderReason(const std::string& native);

// True when the folder may hold what this process writes. Otherwise says why on standard error,
// once per process and folder ("quillon: ..."), and gives false with errno set to EACCES.
bool TrustFolder(const std::string& native);

// Opens a file in an open folder to append to, making it with exactly `mode` when it is missing.
// A link is never followed, only a regular file of this process's user is taken, and one left
// wider is narrowed to `mode`. A descriptor, or -1 with errno set.
int OpenAppendFile(int folder, const std::string& name, mode_t mode);

// Opens by its native path a file the platform writes or reads for the program (a metafile being
// recorded, say). A file this process made with GetTempFileNameW and still holds is opened
// through the descriptor that made it, never through its name, which could have been swapped for
// a link meanwhile; in a private place no other file is opened through a link. `flags` as for
// open(2); a descriptor, or -1 with errno set.
int OpenOwnFile(const std::string& native, int flags, mode_t mode = kPrivateFileMode);

} // namespace platform
