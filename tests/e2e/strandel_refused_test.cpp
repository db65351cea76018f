// Strandel's batch on images it can never print: a foot from which no model
// can be built, a wrong-sized image, a too short foot and a name too long for
// the G-code paths are set aside with their settings in refused/, and the
// server's list writer lists nothing more, so the program is not started for
// them again; list names reaching outside the insole directory touch nothing;
// the longest name prints. A read-only insole directory is reported, not
// taken for success.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/job_name.h"
#include "station/bmp_list.h"
#include "job_spacing.h"
#include "strandel_harness.h"
#include "tests/support/gl_context.h"

namespace fs = std::filesystem;
using namespace strandel_harness;
using testsupport::put;
using testsupport::slurp;

namespace {

// A 24-bit 150 x 360 BMP holding one pixel-wide line of 121 rows: the spur
// pass leaves nothing of it.
std::string line_foot_bmp() {
    return testsupport::bmp24(150, 360, [](int row, int col, unsigned char bgr[3]) {
        const unsigned char v = row >= 100 && row <= 220 && col == 70 ? 80 : 0;
        bgr[0] = bgr[1] = bgr[2] = v;
    });
}

// A 150 x 360 1-bit BMP, black with a white foot on rows 60..299, columns 40..111.
std::string one_bit_foot() {
    std::string b(62 + 20 * 360, '\0');
    auto put32 = [&](int at, int v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
    };
    b[0] = 'B', b[1] = 'M', b[26] = 1, b[28] = 1;
    put32(2, static_cast<int>(b.size())), put32(10, 62), put32(14, 40), put32(18, 150), put32(22, 360);
    put32(58, 0xffffff);  // palette entry 1: white
    for (int r = 60; r < 300; ++r) b.replace(62 + r * 20 + 5, 9, 9, '\xff');
    return b;
}

struct Root {
    testsupport::TempDir tmp;
    std::string root = tmp.path(), insole = root + "/insole", files = root + "/VerdanelFiles";
    std::string server = files + "/Hostlet", log = root + "/strandel.log";
    Root() {
        fs::create_directories(insole);
        fs::create_directories(files + "/temp");
        fs::create_directories(server);
        put(server + "/sl_version.txt", "0");
        put(server + "/va_spacing.txt", e2e::job_spacing_file_value());
    }
    void sample(const char* from, const std::string& as) {
        fs::copy_file(std::string(STATION_SAMPLE_DIR) + "/" + from, insole + "/" + as);
    }
    std::string run(bool no_file_override = false) {
        const pid_t pid = start_strandel(server, root, log, no_file_override);
        EXPECT_GT(pid, 0);
        const int status = wait_exit(pid, 280);
        const std::string out = slurp(log);
        EXPECT_EQ(status, 0) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
        return out;
    }
};

bool have_display_and_program(VirtualDisplay& d) { return d.ok() && fs::exists(strandel_binary()); }

TEST(StrandelRefused, ImagesSetAsideAreNotListedAgainAndOutsideNamesTouchNothing) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    Root r;
    const std::string longest(common::kMaxJobNameBytes, '9');
    const std::string too_long = longest + "9_iRight.bmp";
    ASSERT_TRUE(put(r.insole + "/line_iLeft.bmp", line_foot_bmp()));
    put(r.insole + "/line_iLeft.txt", "density 1");
    r.sample("foot_left_120x300.bmp", "small_iLeft.bmp");
    r.sample("foot_left_short_79rows.bmp", "short_iLeft.bmp");
    r.sample("foot_right_small_flat.bmp", too_long);
    r.sample("foot_right_small_flat.bmp", longest + "_iRight.bmp");
    fs::copy_file(std::string(STATION_SAMPLE_DIR) + "/foot_right_small_flat.bmp", r.root + "/outside_iLeft.bmp");
    // Images that can never be printed, each set aside with its own reason.
    std::string header_only(54, '\0');
    header_only[0] = 'B', header_only[1] = 'M', header_only[10] = 54, header_only[14] = 40, header_only[28] = 24;
    for (int at : {18, 22}) {  // 100000 x 100000 pixels, none of them there
        header_only[at] = static_cast<char>(0xa0);
        header_only[at + 1] = static_cast<char>(0x86);
        header_only[at + 2] = 1;
    }
    std::string colour = slurp(std::string(STATION_SAMPLE_DIR) + "/foot_left_large_flat_8bit.bmp");
    colour[54 + 4 * 200 + 2] = 0;  // the red of palette entry 200
    const struct {
        std::string name, bytes, why;
    } odd[] = {
        {"huge_iLeft.bmp", header_only, "not a 150 x 360 image"},
        {"onebit_iLeft.bmp", one_bit_foot(), "a 1-bit image holds no height values"},
        {"colour_iLeft.bmp", colour, "its palette is not grey (entry 200 is 0, 200, 200)"},
    };
    std::string list;
    for (const auto& o : odd) {
        ASSERT_TRUE(put(r.insole + "/" + o.name, o.bytes));
        list += o.name + "\r\n";
    }
    put(r.insole + "/Bmp_List.txt", list + "line_iLeft.bmp\r\nsmall_iLeft.bmp\r\nshort_iLeft.bmp\r\n" + too_long +
                                        "\r\n../outside_iLeft.bmp\r\n" + r.root + "/outside_iLeft.bmp\r\n" + longest +
                                        "_iRight.bmp");
    const std::string out = r.run();
    for (const auto& o : odd) {
        EXPECT_EQ(slurp(r.insole + "/refused/" + o.name), o.bytes) << o.name;
        EXPECT_NE(out.find(o.name + ": refused (" + o.why + "); set aside as "), std::string::npos) << o.why << out;
    }

    EXPECT_TRUE(fs::exists(r.files + "/" + longest + "_iRight.gcode"));
    EXPECT_TRUE(fs::is_empty(r.files + "/temp"));
    std::vector<std::string> refused, gcode;
    for (const auto& e : fs::directory_iterator(r.insole + "/refused")) refused.push_back(e.path().filename());
    std::sort(refused.begin(), refused.end());
    EXPECT_EQ(refused, (std::vector<std::string>{too_long, "colour_iLeft.bmp", "huge_iLeft.bmp", "line_iLeft.bmp",
                                                 "line_iLeft.txt", "onebit_iLeft.bmp", "short_iLeft.bmp",
                                                 "small_iLeft.bmp"}));
    EXPECT_EQ(slurp(r.insole + "/refused/line_iLeft.txt"), "density 1");
    // The image outside the insole directory is neither read nor printed nor removed.
    EXPECT_TRUE(fs::exists(r.root + "/outside_iLeft.bmp"));
    for (const auto& e : fs::recursive_directory_iterator(r.root))
        if (e.path().extension() == ".gcode") gcode.push_back(e.path().filename());
    EXPECT_EQ(gcode, std::vector<std::string>{longest + "_iRight.gcode"});
    EXPECT_EQ(out.find("RESULT getFilename " + r.root + "/outside"), std::string::npos) << out;
    EXPECT_NE(out.find("line_iLeft.bmp: refused (no insole model can be built from the image); set aside as " +
                       r.insole + "/refused/line_iLeft.bmp"),
              std::string::npos)
        << out;

    // The next file cycle of the server finds nothing waiting: no list, no start.
    ::setenv("STATION_INSOLE_DIR", r.insole.c_str(), 1);
    EXPECT_FALSE(station::write_bmp_list());
    ::unsetenv("STATION_INSOLE_DIR");
    EXPECT_FALSE(fs::exists(r.insole + "/Bmp_List.txt"));
}

// A parameter file holding a value its widget cannot (or no printer can)
// take is refused: in each case's station the batch starts no
// job, the image waits in place and no G-code is written anywhere.
TEST(StrandelRefused, OutOfRangeParameterFilesHoldTheBatch) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    const struct {
        const char *file, *value, *why;
    } cases[] = {
        {"va_spacing.txt", "0", "holds 0, outside 0.01 to 1"},
        {"va_spacing.txt", "\n", "holds no number (0), outside 0.01 to 1"},
        {"va_spacing.txt", "inf", "holds no finite number"},
        {"va_spacing.txt", "0.001", "holds 0.001000000047, outside 0.01 to 1"},
        {"va_extrusion.txt", "-1.000000", "holds -1, outside 0 to 10"},
        {"va_first_extrusion.txt", "1e30", "holds 1.000000015e+30, outside 0 to 10"},
        {"origin_point.txt", "100000\n30\n1\n1\n", "x holds 100000, outside -100 to 300"},
        {"va_first_speed.txt", "-1800", "holds -1800, outside 0 to 100000"},
        {"va_empty_speed.txt", "99999999999", "holds 2147483647, outside 0 to 100000"},
    };
    // One at a time: a window covered before its first frame is never drawn.
    for (const auto& k : cases) {
        Root r;
        r.sample("foot_right_small_flat.bmp", "wait_iRight.bmp");
        put(r.insole + "/Bmp_List.txt", "wait_iRight.bmp");
        put(r.server + "/" + k.file, k.value);
        const pid_t pid = start_strandel(r.server, r.root, r.log);
        const std::string line = std::string(k.file) + ": " + k.why + "; no job is started, the images wait";
        std::string out;
        // Waits for the line, but not once the job has started.
        const std::string started = r.files + "/temp/wait_iRight.gcode";
        for (int t = 0; t < 600 && out.find(line) == std::string::npos && !fs::exists(started); ++t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            out = slurp(r.log);
        }
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
        EXPECT_EQ(wait_exit(pid, 1), -1) << "the program waits for the parameter to be mended";
        EXPECT_TRUE(fs::exists(r.insole + "/wait_iRight.bmp")) << line;
        for (const auto& e : fs::recursive_directory_iterator(r.root))
            EXPECT_NE(e.path().extension(), ".gcode") << e.path();
    }
}

// Nothing can be removed or moved in a read-only insole directory: the job is
// printed, and the console says that the list, the image and the refused
// image stay.
TEST(StrandelRefused, ReadOnlyInsoleDirectoryIsReported) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    Root r;
    r.sample("foot_right_small_flat.bmp", "next_iRight.bmp");
    r.sample("foot_left_120x300.bmp", "small_iLeft.bmp");
    put(r.insole + "/Bmp_List.txt", "small_iLeft.bmp\nnext_iRight.bmp");
    ::chmod(r.insole.c_str(), 0555);
    const std::string out = r.run(true);
    ::chmod(r.insole.c_str(), 0755);
    EXPECT_TRUE(fs::exists(r.files + "/next_iRight.gcode"));
    for (const std::string& line :
         {r.insole + "/Bmp_List.txt cannot be removed", r.insole + "/next_iRight.bmp cannot be removed",
          "small_iLeft.bmp: refused (not a 150 x 360 image); it cannot be moved into " + r.insole + "/refused"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    EXPECT_TRUE(fs::exists(r.insole + "/next_iRight.bmp"));
    EXPECT_TRUE(fs::exists(r.insole + "/small_iLeft.bmp"));
}

}  // namespace
