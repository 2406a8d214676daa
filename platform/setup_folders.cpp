#include "setup_folders.h"

#include <cerrno>

#include <sys/stat.h>

namespace krv::platform {

int MakePublicFolders(const std::string &path, std::vector<std::string> *created) {
    if (path.empty())
        return ENOENT;
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = path.find('/', at + 1);
        const std::string folder = path.substr(0, at);
        struct stat st {};
        if (::stat(folder.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return ENOTDIR;
            continue;
        }
        if (errno != ENOENT)
            return errno;
        if (::mkdir(folder.c_str(), 0755) == 0) {
            if (created)
                created->push_back(folder);
        } else if (errno != EEXIST) {
            return errno;
        }
    }
    return 0;
}

} // namespace krv::platform
