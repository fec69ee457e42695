// Links that others left in a folder of this process's user while it was open to them. The
// platform makes no links in the folders it writes in, and opens nothing there through one: a
// link in such a folder was put there by somebody else, and would stand in the way of the file
// of its name for good.
#pragma once

#include <string>

namespace platform {

// Removes every link from an open folder that belongs to this process's user, saying of each on
// standard error which it was and where it led ("quillon: ..."). `shown` names the folder in those
// lines. The number removed; 0 for a folder of another user, which is left as it is.
int RemovePlantedLinks(int folder, const std::string& shown);

} // namespace platform
