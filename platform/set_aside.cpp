// Moving refused inputs into a folder beside them without replacing anything there.
#include <sys/stat.h>

#include <cerrno>

#include "platform.h"

namespace platform {

namespace {

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "name (n).ext" for n > 1; the extension is what follows the last dot.
std::string numbered(const std::string& name, int n) {
    if (n <= 1) return name;
    const size_t dot = name.find_last_of('.');
    const std::string tag = " (" + std::to_string(n) + ")";
    if (dot == std::string::npos || dot == 0) return name + tag;
    return name.substr(0, dot) + tag + name.substr(dot);
}

}  // namespace

std::vector<std::string> set_aside(const std::vector<std::string>& paths, const std::string& folder) {
    std::vector<std::string> out(paths.size());
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return out;
    for (int n = 1; n < 10000; ++n) {
        bool free = true;
        struct stat st;
        for (const std::string& p : paths)
            if (::lstat((folder + "/" + numbered(base_name(p), n)).c_str(), &st) == 0) free = false;
        if (!free) continue;
        bool taken = false;
        for (size_t i = 0; i < paths.size(); ++i) {
            const std::string to = folder + "/" + numbered(base_name(paths[i]), n);
            const MoveResult r = rename_no_replace(paths[i], to);
            if (r == MoveResult::moved) out[i] = to;
            // Another file took the name meanwhile: the rest go with the next number.
            if (r == MoveResult::target_exists) taken = true;
        }
        if (!taken) return out;
        std::vector<std::string> rest;
        for (size_t i = 0; i < paths.size(); ++i)
            if (out[i].empty()) rest.push_back(paths[i]);
        const std::vector<std::string> more = set_aside(rest, folder);
        for (size_t i = 0, k = 0; i < paths.size(); ++i)
            if (out[i].empty()) out[i] = more[k++];
        return out;
    }
    return out;
}

}  // namespace platform
