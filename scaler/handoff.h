// Reader of the hand-off file "insole parameters.txt": the "left" and "right"
// records with their eight numbers and the job name, and the judgement of
// each record's numbers.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "common/job_name.h"

namespace fitmire {

constexpr int kMaxWord = 63;  // longest word of the file, "left"/"right" included
constexpr int kMaxJobName = common::kMaxJobNameBytes;
// The insole is made 10 mm longer than the foot and must fit the 360-row image.
constexpr float kMaxFootLength = 350;
// The path program prints no insole whose image spans fewer rows (1 mm each).
constexpr int kMinInsoleRows = 80;

// What the file brought. A record is "left" or "right", eight number places
// and, for "right", the job name: each place is one word, so a word that is
// no number never moves the job name to another place. A record cut short by
// the end of the file or by the next record word is refused.
struct Handoff {
    bool left_found = false, right_found = false;
    // Why each record cannot be used; empty when it can. Only a usable
    // record's numbers are taken into its values.
    std::string left_refused, right_refused;
    float left_values[8] = {};
    float right_values[8] = {};
    bool job_name_read = false;  // a "right" record carried a name in its place
    char job_name[kMaxJobName + 1] = {};
    // The name in the file cannot be used as it stands (too long, a NUL byte);
    // job_name is then empty and the job must be refused, never saved as "_iLeft".
    bool job_name_broken = false;
    // The name as the file gave it, for console lines (a long one cut, "..." after it).
    std::string job_name_text;
    // The console output of the reading ends inside a line (the "%f " values).
    bool line_open = false;
    // Why no job may be taken from the file at all (a word outside any
    // record, a record cut short or without its job name, a side missing or
    // given twice); empty when the file holds one whole job.
    std::string file_refused;
};

// Parses the file's bytes (any white space between words, records in any
// order; a leading UTF-8 byte-order mark, as editors write it, is no word).
// The "FOUND LEFT/RIGHT" lines and the left values go to `console` (when
// given) as each record is read. Problems (over-long words, an
// over-long job name) are appended to `problems` as text; the parse itself
// never fails.
void parse_insole_parameters(const char* data, size_t size, Handoff& out, std::string* problems = nullptr,
                             FILE* console = nullptr);

// Whether a hand-off file waits at path: a plain file that can be opened,
// or anything else in its place (to be taken and refused); never blocks.
bool handoff_waiting(const std::string& path);
// Reads the file whole (at most 64 KiB) and parses it; no plain file (a
// FIFO, a directory) is refused without waiting on it. False when it cannot be
// opened or is too large (with `problems` saying why); it is not deleted here.
bool read_insole_parameters_file(const std::string& path, Handoff& out, std::string* problems = nullptr,
                                 FILE* console = nullptr);

// One number place as "%f" reads it: the whole word must be its number
// ("nan", "inf", "1e3" and "+5" are numbers here, "12abc" is not).
bool read_number(const char* word, float& v);

// Why a record's arch index (values[0]) and foot length in mm (values[1])
// cannot make an insole the path program prints; empty when they can.
std::string record_refusal(const float* values);

}  // namespace fitmire
