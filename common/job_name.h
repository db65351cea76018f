// The one limit on a job name (the customer's mobile that names an insole job)
// shared by all three programs, so a name one program accepts is one the next
// can finish, and the check that keeps a name inside its directory.
#pragma once

#include <cstddef>
#include <string>

namespace common {

// The path program formats "C:\VerdanelFiles\temp\<name>_iRight.gcode" into a
// 128-byte buffer: 22 + name + 13 + 1 <= 128 leaves 92 bytes for the name.
// Hostlet hands over no longer name, Fitmire saves none and the path program
// prints every one up to it.
constexpr int kMaxJobNameBytes = 92;

// True when name can stand as one file name inside a station directory: not
// empty, at most max_bytes, no path separator, drive colon, "..", or control
// byte (NUL included). Otherwise false, with the reason in why.
bool file_name_usable(const std::string& name, size_t max_bytes, std::string* why = nullptr);

// A job name: a usable file name of at most kMaxJobNameBytes.
inline bool job_name_usable(const std::string& name, std::string* why = nullptr) {
    return file_name_usable(name, kMaxJobNameBytes, why);
}

}  // namespace common
