// The check of names that become part of file names in the station's directories.
#include "job_name.h"

namespace common {

bool file_name_usable(const std::string& name, size_t max_bytes, std::string* why) {
    auto refuse = [&](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    if (name.empty()) return refuse("it is empty");
    if (name.size() > max_bytes) return refuse("it is longer than " + std::to_string(max_bytes) + " bytes");
    for (unsigned char c : name) {
        if (c == '/' || c == '\\') return refuse("it holds a path separator");
        if (c == ':') return refuse("it holds a drive colon");
        if (c < 0x20 || c == 0x7f) return refuse("it holds a control byte");
    }
    if (name.find("..") != std::string::npos) return refuse("it holds \"..\"");
    return true;
}

}  // namespace common
