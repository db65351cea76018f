// File helpers shared by the programs: whole-file reads and writes, and the
// write-then-rename that keeps readers from ever seeing half a file.
#pragma once

#include <string>

namespace common {

// Reads a whole file; false when it cannot be opened or read.
bool read_file(const std::string& path, std::string& out);
// Writes data to path + ".tmp" and renames it over path; false (and path
// untouched) on any failure.
bool write_file_atomic(const std::string& path, const std::string& data);
bool file_exists(const std::string& path);

}  // namespace common
