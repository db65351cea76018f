// Strandel's batch end to end in a station laid out by `make station`: a job
// list of sample and real feet, a right foot, a marked image, a missing one,
// and per-job settings files; the program writes one complete G-code file per
// usable image through temp/, removes the images it is done with and ends by
// itself; a killed job is retried with its settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <tuple>
#include <fstream>
#include <sstream>
#include <vector>

#include "job_spacing.h"
#include "strandel_harness.h"
#include "tests/engine/foot_samples.h"
#include "tests/support/gl_context.h"

namespace fs = std::filesystem;
using namespace strandel_harness;

namespace {

using testsupport::put;
using testsupport::slurp;

struct Station {
    testsupport::TempDir tmp;
    std::string root = tmp.path();
    std::string insole = root + "/insole";
    std::string files = root + "/VerdanelFiles";
    std::string server = files + "/Hostlet";
    std::string log = root + "/strandel.log";
    // Laid out as `make station` does, with its starting print set.
    Station() {
        const std::string cmd = std::string("'") + STATION_SOURCE_DIR + "/tools/lay_out_station.sh' '" + root +
                                "' '" + STATION_BINARY_DIR + "' >/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        // The A4 settings set their own 0.3.
        put(server + "/va_spacing.txt", e2e::job_spacing_file_value());
    }
    void image(const std::string& from, const std::string& as) {
        fs::copy_file(from, insole + "/" + as, fs::copy_options::overwrite_existing);
    }
};

// The station's start and end blocks around the layers, and only the feeds of
// its starting set: first layer 1200, other layers 1800, travel 3000 mm/min
// (and the end block's own 600).
void expect_complete_gcode(const std::string& path, const std::string& server) {
    ASSERT_TRUE(fs::exists(path)) << path;
    const std::string g = slurp(path);
    const std::string begin = slurp(server + "/tx_begin_area.txt"), end = slurp(server + "/tx_end_area.txt");
    // Homed, heated and waited for, absolute extrusion; cooled and parked after.
    for (const char* line : {"\nG28\n", "\nM82\n", "\nM109 S220\n", "\nM190 S50\n"})
        EXPECT_NE(("\n" + begin + "\n").find(line), std::string::npos) << line;
    for (const char* line : {"\nM104 S0\n", "\nM140 S0\n", "\nG28 X0 Y0\n"})
        EXPECT_NE(("\n" + end).find(line), std::string::npos) << line;
    EXPECT_EQ(g.rfind(begin + "\n", 0), 0u) << path;
    EXPECT_NE(g.find("\n\nG1 Z"), std::string::npos) << path;
    EXPECT_NE(g.find("G92 E0"), std::string::npos) << path;
    EXPECT_NE(g.find("G1 X"), std::string::npos) << path;
    ASSERT_GE(g.size(), end.size() + 1);
    EXPECT_EQ(g.substr(g.size() - end.size() - 1), "\n" + end) << path;
    std::set<int> feeds;
    for (size_t at = g.find(" F"); at != std::string::npos; at = g.find(" F", at + 1))
        feeds.insert(std::atoi(g.c_str() + at + 2));
    EXPECT_EQ(feeds, (std::set<int>{600, 1200, 1800, 3000})) << path;
}

bool have_display_and_program(VirtualDisplay& d) { return d.ok() && fs::exists(strandel_binary()); }

// A foot bitmap (row 0 the heel end) as a grey 24-bit BMP.
const std::vector<uint8_t>* g_foot = nullptr;
std::string foot_bmp(const std::vector<uint8_t>& px) {
    g_foot = &px;
    return testsupport::bmp24(footsamples::W, footsamples::H, [](int row, int col, unsigned char bgr[3]) {
        bgr[0] = bgr[1] = bgr[2] = (*g_foot)[row * footsamples::W + col];
    });
}

// Variant 0 ("十月版"): settings beside the image in C:\insole, read and removed.
// Every insole is measured whole and printed to its top (its highest value /
// 5 less the 2 mm base, the last layer within one layer of it), wherever its
// bump or plateau lies and on the scaling program's insoles.
TEST(StrandelBatch, QuenorListWritesOneGcodePerUsableImage) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    Station st;
    put(st.server + "/sl_version.txt", "0");
    st.image(std::string(STATION_SAMPLE_DIR) + "/foot_left_large_flat.bmp", "20220606001_iLeft.bmp");
    st.image(std::string(STATION_SAMPLE_DIR) + "/foot_right_large_flat_r.bmp", "20220606001_r.bmp");
    st.image(std::string(STATION_SAMPLE_DIR) + "/foot_left_large_marked.bmp", "marked_iLeft.bmp");
    st.image(testsupport::testdata("bmc_MDwalk2_R.bmp"), "bmc_iRight.bmp");
    st.image(testsupport::testdata("mun104_MUN104L_L.bmp"), "mun_iLeft.bmp");
    put(st.insole + "/20220606001_iLeft.txt", "density 2\n");
    // The same greys through an inverted palette: index 255 - v shows grey v.
    const std::string grey8 = slurp(std::string(STATION_SAMPLE_DIR) + "/foot_left_large_flat_8bit.bmp");
    std::string inverted = grey8;
    for (size_t i = 54; i < inverted.size(); ++i)
        if (i >= 1078 || (i - 54) % 4 != 3) inverted[i] = static_cast<char>(~grey8[i]);
    put(st.insole + "/grey8_iLeft.bmp", grey8);
    put(st.insole + "/inverted8_iLeft.bmp", inverted);
    // A download the station server could not move into place holds the temp name.
    put(st.files + "/temp/20220606001_iLeft.gcode", "; a download\n");
    std::vector<std::pair<std::string, double>> tops;  // name, image top in mm
    auto add = [&](const std::string& name, const std::vector<uint8_t>& px) {
        put(st.insole + "/" + name, foot_bmp(px));
        tops.push_back({name, *std::max_element(px.begin(), px.end()) / 5.0 - 2.0});
    };
    // Drawn feet of value 40 with a disc of value top: 20 px of 150 is 28 mm over the base.
    auto disc = [&](const std::string& name, bool left, float x, float y, float radius, uint8_t top) {
        footsamples::DrawnFoot p;
        p.left = left;
        std::vector<uint8_t> px = footsamples::drawn_foot(p);
        for (int i = 0; i < footsamples::W * footsamples::H; ++i)
            if (px[i]) px[i] = std::hypot(i % footsamples::W - x, i / footsamples::W - y) <= radius ? top : 40;
        add(name, px);
    };
    // The sanitizer pass, whose layers are many times slower, prints one bump
    // a side where the un-centred model was cut, and one scaled insole.
    for (int left = 0; left < 2; ++left)  // columns towards the little toe from the middle, row
        for (auto [at, lateral, row] : {std::tuple{"heel", 0, 64}, {"arch", 10, 124}, {"forefoot", 0, 196}, {"toes", -26, 240}})
            if (!e2e::kShortJobs || std::string(at) == (left ? "toes" : "forefoot"))
                disc(at + std::string(left ? "_iLeft.bmp" : "_iRight.bmp"), left, 75 + (left ? -lateral : lateral), row, 10, 150);
    disc("plateau_iLeft.bmp", true, 75, 196, std::sqrt(150 / 3.14159f), 100);
    for (const char* name : {"fitmire_A_iRight.bmp", "fitmire_A_iLeft.bmp", "fitmire_B_iLeft.bmp", "fitmire_B_iRight.bmp"})
        if (!e2e::kShortJobs || tops.size() < 4) add(name, footsamples::read_foot_bmp(testsupport::testdata(name)));
    std::string list = "20220606001_iLeft.bmp\r\nghost.bmp\r\n20220606001_r.bmp\r\nmarked_iLeft.bmp\r\nbmc_iRight.bmp\r\n"
                       "mun_iLeft.bmp\r\ngrey8_iLeft.bmp\r\ninverted8_iLeft.bmp";
    for (const auto& j : tops) list += "\r\n" + j.first;
    put(st.insole + "/Bmp_List.txt", list);

    const pid_t pid = start_strandel(st.server, st.root, st.log);
    ASSERT_GT(pid, 0);
    const int status = wait_exit(pid, 280);
    const std::string out = slurp(st.log);
    ASSERT_EQ(status, 0) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);

    for (const char* g : {"20220606001_iLeft.gcode", "20220606001_r.gcode", "marked_iLeft.gcode", "bmc_iRight.gcode",
                          "mun_iLeft.gcode", "grey8_iLeft.gcode"})
        expect_complete_gcode(st.files + "/" + g, st.server);
    EXPECT_EQ(slurp(st.files + "/inverted8_iLeft.gcode"), slurp(st.files + "/grey8_iLeft.gcode"));
    const double spacing = std::atof(e2e::job_spacing_file_value());
    for (const auto& [name, top] : tops) {
        SCOPED_TRACE(name);
        const size_t at = out.find("fname " + name + "\n"), h = out.find("Height ", at);
        ASSERT_NE(h, std::string::npos);
        const double height = std::atof(out.c_str() + h + 7);
        EXPECT_NEAR(height, top, 0.05);
        const std::string g = slurp(st.files + "/" + name.substr(0, name.size() - 3) + "gcode");
        const size_t first = g.find("\n\nG1 Z"), last = g.rfind("\n\nG1 Z");
        ASSERT_NE(first, std::string::npos);
        const double layers = std::round((std::atof(g.c_str() + last + 6) - std::atof(g.c_str() + first + 6)) / spacing) + 1;
        EXPECT_GE(layers * spacing, height - spacing - 1e-3) << layers << " layers";
    }
    EXPECT_FALSE(fs::exists(st.files + "/ghost.gcode"));
    // Only the download is left in temp/, byte for byte.
    EXPECT_EQ(slurp(st.files + "/temp/20220606001_iLeft.gcode"), "; a download\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(st.files + "/temp"), fs::directory_iterator()), 1);
    // The done images are gone after their G-code, with the settings file of the first.
    EXPECT_TRUE(fs::is_empty(st.insole));
    EXPECT_NE(out.find("FOUND RIGHT BMP\n\n"), std::string::npos);
    EXPECT_NE(out.find("tmpFile 20220606001_iLeft.txt\n"), std::string::npos);
    EXPECT_NE(out.find("End Saving\n"), std::string::npos);
    // Job settings are never written back to parameter files.
    EXPECT_FALSE(fs::exists(st.server + "/va_point_space.txt"));
    EXPECT_FALSE(fs::exists(st.server + "/PointSpacing.txt"));
}

// A "十月版" job killed before its G-code is in place keeps its image and its
// settings; the next run prints it with those settings, exactly as a job that
// was never interrupted, and not with the operator's own values.
TEST(StrandelBatch, KilledQuenorJobIsRetriedWithItsOwnSettings) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    Station st;
    put(st.server + "/sl_version.txt", "0");
    const std::string foot = testsupport::testdata("bmc_MDwalk2_R.bmp");
    for (const char* name : {"plain_iLeft.bmp", "killed_iLeft.bmp", "clean_iLeft.bmp"}) st.image(foot, name);
    put(st.insole + "/killed_iLeft.txt", "density 1\n");
    put(st.insole + "/clean_iLeft.txt", "density 1\n");

    put(st.insole + "/Bmp_List.txt", "killed_iLeft.bmp");
    pid_t pid = start_strandel(st.server, st.root, st.log);
    ASSERT_GT(pid, 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!fs::exists(st.files + "/temp/killed_iLeft.gcode") && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(pid, SIGKILL);
    wait_exit(pid, 10);
    ASSERT_FALSE(fs::exists(st.files + "/killed_iLeft.gcode")) << "the job ended before it could be killed";
    EXPECT_TRUE(fs::exists(st.insole + "/killed_iLeft.bmp"));
    EXPECT_TRUE(fs::exists(st.insole + "/killed_iLeft.txt"));

    // The job without settings first: job settings stay in force for the rest of a run.
    put(st.insole + "/Bmp_List.txt", "plain_iLeft.bmp\nkilled_iLeft.bmp\nclean_iLeft.bmp");
    pid = start_strandel(st.server, st.root, st.log);
    ASSERT_GT(pid, 0);
    const int status = wait_exit(pid, 280);
    const std::string out = slurp(st.log);
    ASSERT_EQ(status, 0) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    const std::string retried = slurp(st.files + "/killed_iLeft.gcode");
    expect_complete_gcode(st.files + "/killed_iLeft.gcode", st.server);
    EXPECT_EQ(retried, slurp(st.files + "/clean_iLeft.gcode"));
    EXPECT_NE(retried, slurp(st.files + "/plain_iLeft.gcode"));
    EXPECT_TRUE(fs::is_empty(st.insole));
}

// Variant 2 ("A4版"): settings in the server directory, which keeps its file.
TEST(StrandelBatch, A4SettingsFileInTheServerDirectoryStays) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    Station st;
    put(st.server + "/sl_version.txt", "2");
    st.image(std::string(STATION_SAMPLE_DIR) + "/foot_right_small_flat.bmp", "a4job_iRight.bmp");
    put(st.server + "/a4job_iRight.txt", "full 1\ntype s\n");
    put(st.insole + "/Bmp_List.txt", "a4job_iRight.bmp");

    pid_t pid = start_strandel(st.server, st.root, st.log);
    ASSERT_GT(pid, 0);
    const int status = wait_exit(pid, 280);
    const std::string out = slurp(st.log);
    ASSERT_EQ(status, 0) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    expect_complete_gcode(st.files + "/a4job_iRight.gcode", st.server);
    EXPECT_FALSE(fs::exists(st.insole + "/a4job_iRight.bmp"));
    EXPECT_TRUE(fs::exists(st.server + "/a4job_iRight.txt"));
    EXPECT_FALSE(fs::exists(st.insole + "/Bmp_List.txt"));
}

}  // namespace
