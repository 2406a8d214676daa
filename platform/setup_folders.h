// Folders the installer and the registry store make for the whole machine:
// never open to others (mode 0755, less what the umask takes away). A
// folder others may write is one in which any user could replace an
// installed program or rewrite a record.
#pragma once

#include <string>
#include <vector>

namespace krv::platform {

// Makes each missing folder of `path`, the last one included, from the top
// down, with mode 0755; each one made is appended to *created. 0 when the
// folder is there at the end, else the errno of the first one that could
// not be made (ENOTDIR when something else stands on the way).
int MakePublicFolders(const std::string &path, std::vector<std::string> *created = nullptr);

} // namespace krv::platform
