// The starting print set that `make station` writes, judged as the printer it
// is meant for would take it: the batch's G-code for a left and a right insole
// read back move by move against that printer's nozzle, filament and bed.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "strandel_harness.h"
#include "tests/support/gcode_check.h"
#include "tests/support/gl_context.h"

namespace fs = std::filesystem;
using namespace strandel_harness;

namespace {

using testsupport::put;
using testsupport::slurp;

// The printer the set is for (README, "Print parameters").
constexpr double kNozzle_mm = 0.4;
constexpr double kFilament_mm = 1.75;
constexpr double kBedX_mm = 300, kBedY_mm = 300;  // origin at the front-left corner
// Retracting further pulls molten filament up into the cold part of the hot end.
constexpr double kMaxRetract_mm = 5;

// Bounds on the filament fed per millimetre of path, as multiples of what the
// nozzle lays at the layer's height; a first layer may be squashed wider.
constexpr double kUpperLo = 0.8, kUpperHi = 1.2;
constexpr double kFirstLo = 0.8, kFirstHi = 1.6;
// Filament a path start may leave behind (prime minus retraction).
constexpr double kMaxLeft_mm = 0.5;

double nominal_e_per_mm(double layer_mm) {
    const double area = M_PI * kFilament_mm * kFilament_mm / 4;
    return kNozzle_mm * layer_mm / area;
}

void expect_printable(const std::string& path, const std::string& begin, const std::string& end) {
    SCOPED_TRACE(path);
    std::string text;
    ASSERT_TRUE(testsupport::read_text_file(path, &text));
    const testsupport::GcodeCheck c = testsupport::check_gcode(text, begin, end);
    ASSERT_TRUE(c.ok()) << c.report();
    ASSERT_GE(c.layers.size(), 2u);

    EXPECT_GE(c.min_x, 0);
    EXPECT_LE(c.max_x, kBedX_mm);
    EXPECT_GE(c.min_y, 0);
    EXPECT_LE(c.max_y, kBedY_mm);

    double below = 0;
    for (size_t i = 0; i < c.layers.size(); ++i) {
        const testsupport::GcodeLayer& l = c.layers[i];
        SCOPED_TRACE("layer " + std::to_string(i) + " at Z " + std::to_string(l.z));
        const double nominal = nominal_e_per_mm(l.z - below);
        below = l.z;
        const double lo = (i == 0 ? kFirstLo : kUpperLo) * nominal, hi = (i == 0 ? kFirstHi : kUpperHi) * nominal;
        ASSERT_FALSE(l.stretches.empty());
        bool first_start = i == 0;
        for (const testsupport::GcodeStretch& s : l.stretches) {
            // E has three decimals, X and Y two: allow the rounding of both ends.
            const double slack = 0.001 + hi * 0.015 * s.moves;
            EXPECT_GE(s.e, lo * s.length_mm - slack) << s.e / s.length_mm << " per mm over " << s.length_mm << " mm";
            EXPECT_LE(s.e, hi * s.length_mm + slack) << s.e / s.length_mm << " per mm over " << s.length_mm << " mm";
            if (!s.primed) continue;
            // The program's own one-off prime opens the print.
            if (!first_start) EXPECT_LE(s.left_e, kMaxLeft_mm + 0.001);
            first_start = false;
        }
        EXPECT_LE(l.deepest_retract, kMaxRetract_mm);
    }
}

TEST(GcodeBounds, StartingPrintSetSuitsItsPrinter) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    testsupport::TempDir tmp;
    const std::string root = tmp.path(), insole = root + "/insole", files = root + "/VerdanelFiles";
    const std::string server = files + "/Hostlet";
    const std::string cmd = std::string("'") + STATION_SOURCE_DIR + "/tools/lay_out_station.sh' '" + root + "' '" +
                            STATION_BINARY_DIR + "' >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    put(server + "/sl_version.txt", "1");  // no per-job settings: the set alone
    // The scaling program's template is an insole height image as the demo
    // hands them over, and at 255 mm a long one.
    const std::string insole_image = testsupport::sample("255mm narrow 20220606 backmove 5mm.bmp");
    fs::copy_file(insole_image, insole + "/job_iLeft.bmp");
    fs::copy_file(insole_image, insole + "/job_iRight.bmp");
    put(insole + "/Bmp_List.txt", "job_iLeft.bmp\r\njob_iRight.bmp");

    const pid_t pid = start_strandel(server, root, root + "/strandel.log");
    ASSERT_GT(pid, 0);
    const int status = wait_exit(pid, 120);
    const std::string out = slurp(root + "/strandel.log");
    ASSERT_EQ(status, 0) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);

    const std::string begin = slurp(server + "/tx_begin_area.txt"), end = slurp(server + "/tx_end_area.txt");
    expect_printable(files + "/job_iLeft.gcode", begin, end);
    expect_printable(files + "/job_iRight.gcode", begin, end);
}

}  // namespace
