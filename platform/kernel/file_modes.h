// Who may read what the platform makes on the host.
//
// On Windows a new folder or file takes its access rights from the folder it is made in, and what a
// process makes without saying otherwise is open to its own user and the administrators only. Here
// the same is said with modes, set exactly whatever the umask the process was started with:
// - the folders of the machine's layout (var, var/lib, run, mnt…) may be entered and read by all;
// - a program's folder in the common application-data folder, and everything made in it, belongs
//   to its owner alone: it holds the pages of the documents people print;
// - temporary files are their owner's alone;
// - anything else a process makes (the log that Boost.Log writes, for one) follows the process's
//   file-creation mask, which the platform sets to 027 when it is loaded: never world-readable.
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
// The file-creation mask of every process that loads the platform.
constexpr mode_t kProcessCreationMask = 027;

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

// Takes group and other access away from a private folder that its owner made earlier under a
// wider mode; called before something is made in it. Anything else is left as it is.
void TightenPrivateFolder(const std::string& native);

} // namespace platform
