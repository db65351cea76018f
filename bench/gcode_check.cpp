// Command-line wrapper of the tests' G-code checker, for the benchmark table: checks one file.
// Usage: bench_gcode_check FILE [START_TEXT_FILE END_TEXT_FILE]
// Without the text files the start text is taken as everything before the first layer header and
// the end text as the shortest tail after which the rest of the file checks out.
#include <cstdio>
#include <string>

#if __has_include("tests/support/gcode_check.h")
#include "tests/support/gcode_check.h"
#define HAVE_CHECKER 1
#else
#define HAVE_CHECKER 0
#endif

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s FILE [START_TEXT_FILE END_TEXT_FILE]\n", argv[0]);
        return 2;
    }
#if !HAVE_CHECKER
    std::printf("gcode_check: the project's G-code checker is not in this tree\n");
    return 3;
#else
    using testsupport::check_gcode;
    using testsupport::read_text_file;
    std::string text;
    if (!read_text_file(argv[1], &text)) {
        std::printf("gcode_check: cannot read %s\n", argv[1]);
        return 1;
    }
    if (text.empty()) {
        std::printf("gcode_check: %s is empty\n", argv[1]);
        return 1;
    }
    testsupport::GcodeCheck best;
    bool have = false;
    if (argc == 4) {
        std::string start, end;
        if (!read_text_file(argv[2], &start) || !read_text_file(argv[3], &end)) {
            std::printf("gcode_check: cannot read the start or end text file\n");
            return 1;
        }
        best = check_gcode(text, start, end);
        have = true;
    } else {
        const size_t first = text.find("\n\n\nG1 Z");
        if (first == std::string::npos) {
            std::printf("gcode_check: %s has no layer header\n", argv[1]);
            return 1;
        }
        const std::string start = text.substr(0, first);
        // The end text is a handful of lines; try the shortest tails first.
        size_t cut = text.size();
        for (int tries = 0; tries < 60 && cut > first; ++tries) {
            const size_t nl = text.rfind('\n', cut - 1);
            if (nl == std::string::npos || nl < first) break;
            testsupport::GcodeCheck c = check_gcode(text, start, text.substr(nl + 1));
            if (!have || c.problems.size() < best.problems.size()) best = c, have = true;
            if (c.ok()) break;
            cut = nl;
        }
    }
    if (!have) {
        std::printf("gcode_check: %s: no layers found\n", argv[1]);
        return 1;
    }
    if (!best.ok()) {
        std::printf("gcode_check: %s: %zu problems\n%s", argv[1], best.problems.size(), best.report().c_str());
        return 1;
    }
    int moves = 0;
    for (const auto& l : best.layers) moves += static_cast<int>(l.extrusions.size());
    std::printf("gcode_check: ok, %zu layers, %d extrusion moves, X %.1f..%.1f Y %.1f..%.1f\n", best.layers.size(),
                moves, best.min_x, best.max_x, best.min_y, best.max_y);
    return best.layers.empty() ? 1 : 0;
#endif
}
