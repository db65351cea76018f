// File helpers shared by the programs: whole-file reads and writes, and the
// write-then-rename that keeps readers from ever seeing half a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace common {

// Reads a whole file; false when it cannot be opened or read.
bool read_file(const std::string& path, std::string& out);
// Writes data to path + ".tmp" and renames it over path; false (and path
// untouched) on any failure.
bool write_file_atomic(const std::string& path, const std::string& data);
bool file_exists(const std::string& path);

// A read-only descriptor of a plain file, or -1: with `kind` naming what the
// path is instead ("a directory", "a FIFO", "a device", "a socket"), or an
// empty `kind` when it is missing or cannot be opened. A FIFO or a device is
// never opened: the name is judged first, and the open cannot block should
// the name change hands before it. `size` is the file's length.
int open_plain_file(const std::string& path, std::string& kind, uint64_t& size);
// Reads a plain file of at most `limit` bytes without ever blocking on it;
// false when it is missing, no plain file or larger (`why` says which, empty
// when it is missing).
bool read_plain_file(const std::string& path, size_t limit, std::string& out, std::string& why);

}  // namespace common
