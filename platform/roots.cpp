// Directory roots: the station's two Windows roots mapped onto directories
// named by the environment.
#include "platform.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace platform {

namespace {
std::string env_or(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

std::string home_root() {
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/insole-station";
}

std::string strip_trailing_slash(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

bool iequal_prefix(const std::string& s, size_t pos, const char* word) {
    size_t n = 0;
    for (; word[n]; ++n) {
        if (pos + n >= s.size()) return false;
        if (std::tolower(static_cast<unsigned char>(s[pos + n])) !=
            std::tolower(static_cast<unsigned char>(word[n])))
            return false;
    }
    // The root name must end at a separator or at the end of the path.
    return pos + n == s.size() || s[pos + n] == '/';
}
}  // namespace

std::string insole_dir() { return strip_trailing_slash(env_or("STATION_INSOLE_DIR", home_root() + "/insole")); }
std::string files_dir() { return strip_trailing_slash(env_or("STATION_FILES_DIR", home_root() + "/VerdanelFiles")); }
std::string server_dir() { return files_dir() + "/Hostlet"; }

std::vector<std::string> make_roots_absolute() {
    std::vector<std::string> changed;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return changed;
    for (const char* name : {"STATION_INSOLE_DIR", "STATION_FILES_DIR"}) {
        const char* v = std::getenv(name);
        if (!v || !*v || v[0] == '/') continue;
        const std::string absolute = std::string(cwd) + "/" + v;
        setenv(name, absolute.c_str(), 1);
        changed.push_back(std::string(name) + "=" + absolute);
    }
    return changed;
}

std::string map_path(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    if (p.size() >= 3 && (p[0] == 'c' || p[0] == 'C') && p[1] == ':' && p[2] == '/') {
        size_t pos = 3;
        while (pos < p.size() && p[pos] == '/') ++pos;
        const char* roots[] = {"insole", "VerdanelFiles"};
        for (int r = 0; r < 2; ++r) {
            if (iequal_prefix(p, pos, roots[r])) {
                std::string rest = p.substr(pos + std::char_traits<char>::length(roots[r]));
                std::string base = r == 0 ? insole_dir() : files_dir();
                return base + rest;
            }
        }
    }
    return p;
}

}  // namespace platform
