// Reader of the hand-off file "insole parameters.txt": the "left" and "right"
// records with their eight numbers and the job name, and the job-name check
// that keeps the output names inside the insole directory.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace fitmire {

constexpr int kMaxWord = 63;     // longest word of the file, "left"/"right" included
constexpr int kMaxJobName = 130;  // longest job name

// What the file brought. Values and the job name start from their previous
// contents: a number that does not parse leaves the rest of its record as it
// was, and a file without a job name keeps the previous one (empty at start).
struct Handoff {
    bool left_found = false, right_found = false;
    float left_values[8] = {};
    float right_values[8] = {};
    bool job_name_read = false;  // a "right" record carried a name
    char job_name[kMaxJobName + 1] = {};
    // The name in the file cannot be used as it stands (too long, a NUL byte);
    // job_name is then empty and the job must be refused, never saved as "_iLeft".
    bool job_name_broken = false;
    // The console output of the reading ends inside a line (the "%f " values).
    bool line_open = false;
};

// Parses the file's bytes (any white space between words, records in any
// order). The "FOUND LEFT/RIGHT" lines and the left values go to `console`
// (when given) as each record is read. Problems (over-long words, an
// over-long job name) are appended to `problems` as text; the parse itself
// never fails.
void parse_insole_parameters(const char* data, size_t size, Handoff& out, std::string* problems = nullptr,
                             FILE* console = nullptr);

// Reads the file whole (at most 64 KiB) and parses it. False when it cannot be
// opened or is too large (with `problems` saying why); it is not deleted here.
bool read_insole_parameters_file(const std::string& path, Handoff& out, std::string* problems = nullptr,
                                 FILE* console = nullptr);

// True when a job name can become part of "C:/insole/<name>_iLeft.bmp"
// without leaving the directory: at most 130 characters, no path separator,
// drive colon, "..", or control character. The empty name is usable: the
// files are then "_iLeft.bmp" and "_iRight.bmp".
bool job_name_usable(const char* name, std::string* why = nullptr);

}  // namespace fitmire
