// A reader of the path program's G-code files for tests: checks every line
// against the fixed line forms and the layer structure, and collects the
// values that tests assert on.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// One extrusion move: from where the nozzle was to where the line sends it.
struct GcodeMove {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct GcodeLayer {
    double z = 0;                     // from the header "G1 Z%.2f"
    std::vector<double> first_e_after_reset;  // first E written after each "G92 E0"
    std::vector<GcodeMove> extrusions;        // in file order
};

struct GcodeCheck {
    std::vector<std::string> problems;  // empty when the file is well formed
    std::vector<GcodeLayer> layers;
    double min_x = 1e9, max_x = -1e9, min_y = 1e9, max_y = -1e9;  // over every X/Y written
    bool ok() const { return problems.empty(); }
    std::string report() const;
};

// text: the whole file; start_text / end_text: the start and end blocks.
GcodeCheck check_gcode(const std::string& text, const std::string& start_text, const std::string& end_text);
bool read_text_file(const std::string& path, std::string* text);

}  // namespace testsupport
