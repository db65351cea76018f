// Reader of the hand-off file "insole parameters.txt": the "left" and "right"
// records with their eight numbers and the job name, and the job-name check
// that keeps the output names inside the insole directory.
#pragma once

#include <cstddef>
#include <string>

namespace fitmire {

constexpr int kMaxWord = 63;     // longest word of the file, "left"/"right" included
constexpr int kMaxJobName = 130;  // longest job name

// What the file brought. Values and the job name start from their previous
// contents: a number that does not parse leaves the rest of its record as it was.
struct Handoff {
    bool left_found = false, right_found = false;
    float left_values[8] = {};
    float right_values[8] = {};
    bool job_name_read = false;  // a "right" record carried a name
    char job_name[kMaxJobName + 1] = {};
    std::string found_lines;  // "FOUND LEFT/RIGHT" console lines in file order
};

// Parses the file's bytes (any white space between words, records in any
// order). Problems (over-long words, an over-long job name) are appended to
// `problems` as text; the parse itself never fails.
void parse_insole_parameters(const char* data, size_t size, Handoff& out, std::string* problems = nullptr);

// Reads the file whole (at most 64 KiB) and parses it. False when it cannot be
// opened or is too large (with `problems` saying why); it is not deleted here.
bool read_insole_parameters_file(const std::string& path, Handoff& out, std::string* problems = nullptr);

// True when a job name can become part of "C:/insole/<name>_iLeft.bmp"
// without leaving the directory: non-empty, at most 130 characters, no path
// separator, drive colon, "..", control character, and not only dots/blanks.
bool job_name_usable(const char* name, std::string* why = nullptr);

}  // namespace fitmire
