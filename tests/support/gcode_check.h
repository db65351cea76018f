// A reader of the path program's G-code files for tests: checks every line
// against the fixed line forms and the layer structure, and collects the
// values that tests assert on.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// One stretch of extrusion moves without a travel between them.
struct GcodeStretch {
    double length_mm = 0;  // X/Y path length
    double e = 0;          // filament fed along it
    int moves = 0;
    double left_e = 0;     // E at its prime minus E before the retract that preceded it
    bool primed = false;   // started after a retract-travel-prime (false: straight after a reset or a move)
};

// One extrusion move: from where the nozzle was to where the line sends it.
struct GcodeMove {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct GcodeLayer {
    double z = 0;                     // from the header "G1 Z%.2f"
    std::vector<double> first_e_after_reset;  // first E written after each "G92 E0"
    std::vector<GcodeStretch> stretches;
    double deepest_retract = 0;       // largest drop of E from one E move to the next
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
