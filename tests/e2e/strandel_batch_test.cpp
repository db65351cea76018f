// Strandel's batch end to end in a station laid out by `make station`: a job
// list of sample and real feet, a right foot, a marked image, a missing one,
// and per-job settings files; the program writes one complete G-code file per
// usable image through temp/, removes the images it is done with and ends by
// itself; a killed job is retried with its settings; a held batch is mended
// at the window with an operator's keys and clicks, and a window covered
// before it was ever drawn still works through its list. The starting print
// set suits the printer it is meant for.
#include <gtest/gtest.h>
// X11 after the test framework: its macros would clash with the framework's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <tuple>
#include <vector>

#include "job_spacing.h"
#include "strandel_harness.h"
#include "tests/engine/foot_samples.h"
#include "tests/support/gcode_check.h"
#include "tests/support/gl_context.h"

namespace fs = std::filesystem;
using namespace strandel_harness;

namespace {

using testsupport::put;
using testsupport::slurp;

struct Station {
    testsupport::TempDir tmp;
    std::string root = tmp.path(), insole = root + "/insole", files = root + "/VerdanelFiles";
    std::string server = files + "/Hostlet", log = root + "/strandel.log";
    // Laid out as `make station` does, with its starting print set.
    explicit Station(bool job_spacing = true) {
        const std::string cmd = std::string("'") + STATION_SOURCE_DIR + "/tools/lay_out_station.sh' '" + root +
                                "' '" + STATION_BINARY_DIR + "' >/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        // The A4 settings set their own 0.3.
        if (job_spacing) put(server + "/va_spacing.txt", e2e::job_spacing_file_value());
    }
    void image(const std::string& from, const std::string& as) {
        fs::copy_file(from, insole + "/" + as, fs::copy_options::overwrite_existing);
    }
    // Runs the batch to its end; the console.
    std::string run() {
        const int status = wait_exit(start_strandel(server, root, log), 280);
        const std::string out = slurp(log);
        EXPECT_EQ(status, 0) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
        return out;
    }
};

// The station's start and end blocks around the layers, and only the feeds of
// its starting set: first layer 1200, other layers 1800, travel 3000 mm/min
// (and the end block's own 600).
void expect_complete_gcode(const std::string& path, const std::string& server) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(fs::exists(path));
    const std::string g = slurp(path);
    const std::string begin = slurp(server + "/tx_begin_area.txt"), end = slurp(server + "/tx_end_area.txt");
    EXPECT_EQ(g.rfind(begin + "\n", 0), 0u);
    for (const char* part : {"\n\nG1 Z", "G92 E0", "G1 X"}) EXPECT_NE(g.find(part), std::string::npos) << part;
    ASSERT_GE(g.size(), end.size() + 1);
    EXPECT_EQ(g.substr(g.size() - end.size() - 1), "\n" + end);
    std::set<int> feeds;
    for (size_t at = g.find(" F"); at != std::string::npos; at = g.find(" F", at + 1))
        feeds.insert(std::atoi(g.c_str() + at + 2));
    EXPECT_EQ(feeds, (std::set<int>{600, 1200, 1800, 3000}));
}

// The printer the set is for (README, "Print parameters"): its nozzle and
// filament, its 300 x 300 bed with the origin at the front-left corner; and
// retracting further pulls molten filament up into the cold part of the hot end.
constexpr double kNozzle_mm = 0.4, kFilament_mm = 1.75, kBed_mm = 300, kMaxRetract_mm = 5;
// Bounds on the filament fed per millimetre of path, as multiples of what the
// nozzle lays at the layer's height; a first layer may be squashed wider.
constexpr double kUpperLo = 0.8, kUpperHi = 1.2, kFirstLo = 0.8, kFirstHi = 1.6;
// Filament a path start may leave behind (prime minus retraction).
constexpr double kMaxLeft_mm = 0.5;

void expect_printable(const std::string& path, const std::string& begin, const std::string& end) {
    SCOPED_TRACE(path);
    std::string text;
    ASSERT_TRUE(testsupport::read_text_file(path, &text));
    const testsupport::GcodeCheck c = testsupport::check_gcode(text, begin, end);
    ASSERT_TRUE(c.ok()) << c.report();
    ASSERT_GE(c.layers.size(), 2u);
    EXPECT_TRUE(c.min_x >= 0 && c.max_x <= kBed_mm && c.min_y >= 0 && c.max_y <= kBed_mm)
        << c.min_x << " " << c.max_x << " " << c.min_y << " " << c.max_y;
    double below = 0;
    for (size_t i = 0; i < c.layers.size(); ++i) {
        const testsupport::GcodeLayer& l = c.layers[i];
        SCOPED_TRACE("layer " + std::to_string(i) + " at Z " + std::to_string(l.z));
        const double nominal = kNozzle_mm * (l.z - below) / (M_PI * kFilament_mm * kFilament_mm / 4);
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
            EXPECT_TRUE(first_start || s.left_e <= kMaxLeft_mm + 0.001) << s.left_e;
            first_start = false;
        }
        EXPECT_LE(l.deepest_retract, kMaxRetract_mm);
    }
}

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

    const std::string out = st.run();
    ASSERT_FALSE(HasFailure());

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
    for (const char* name : {"killed_iLeft.txt", "clean_iLeft.txt"}) put(st.insole + "/" + name, "density 1\n");

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
    st.run();
    ASSERT_FALSE(HasFailure());
    const std::string retried = slurp(st.files + "/killed_iLeft.gcode");
    expect_complete_gcode(st.files + "/killed_iLeft.gcode", st.server);
    EXPECT_EQ(retried, slurp(st.files + "/clean_iLeft.gcode"));
    EXPECT_NE(retried, slurp(st.files + "/plain_iLeft.gcode"));
    EXPECT_TRUE(fs::is_empty(st.insole));
}

// The starting print set that `make station` writes, judged as the printer it
// is meant for would take it: the batch's G-code for a left and a right insole
// read back move by move against that printer's nozzle, filament and bed.
TEST(StrandelBatch, StartingPrintSetSuitsItsPrinter) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    Station st(false);
    put(st.server + "/sl_version.txt", "1");  // no per-job settings: the set alone
    // The scaling program's template is an insole height image as the demo
    // hands them over, and at 255 mm a long one.
    for (const char* as : {"job_iLeft.bmp", "job_iRight.bmp"})
        st.image(testsupport::sample("255mm narrow 20220606 backmove 5mm.bmp"), as);
    put(st.insole + "/Bmp_List.txt", "job_iLeft.bmp\r\njob_iRight.bmp");
    st.run();
    ASSERT_FALSE(HasFailure());
    const std::string begin = slurp(st.server + "/tx_begin_area.txt"), end = slurp(st.server + "/tx_end_area.txt");
    // Homed, heated and waited for, absolute extrusion; cooled and parked after.
    for (const char* line : {"\nG28\n", "\nM82\n", "\nM109 S220\n", "\nM190 S50\n"})
        EXPECT_NE(("\n" + begin + "\n").find(line), std::string::npos) << line;
    for (const char* line : {"\nM104 S0\n", "\nM140 S0\n", "\nG28 X0 Y0\n"})
        EXPECT_NE(("\n" + end).find(line), std::string::npos) << line;
    for (const char* side : {"/job_iLeft.gcode", "/job_iRight.gcode"}) expect_printable(st.files + side, begin, end);
}

// Left clicks at points of a top-level window, and keys, through XTest.
struct Operator {
    Display* d = XOpenDisplay(nullptr);
    platform::WindowHandle win;
    ~Operator() {
        if (d) XCloseDisplay(d);
    }
    void click(const int (&at)[2]) {
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(d, win, DefaultRootWindow(d), at[0], at[1], &x, &y, &child);
        XTestFakeMotionEvent(d, -1, x, y, 0);
        for (Bool down : {True, False}) XTestFakeButtonEvent(d, 1, down, 0);
        settle();
    }
    void key(KeySym k, KeySym held = NoSymbol) {
        for (Bool down : {True, False})
            for (KeySym s : {held, k})
                if (s != NoSymbol) XTestFakeKeyEvent(d, XKeysymToKeycode(d, s), down, 0);
        settle();
    }
    // Into a field, its text selected and typed over key by key.
    void type_over(const int (&at)[2], const std::string& text) {
        click(at);
        key(XK_a, XK_Control_L);
        for (char c : text) key(c == '.' ? XK_period : static_cast<KeySym>(c));
    }
    void settle() {
        XSync(d, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
};

// A window manager that maps every new window under a cover over the whole
// screen: the program's windows are mapped but never exposed, never drawn.
struct CoveringManager {
    Display* d = XOpenDisplay(nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> mapped{0};
    std::thread thread{[this] {
        XSetWindowAttributes a{};
        a.override_redirect = True;
        XMapRaised(d, XCreateWindow(d, DefaultRootWindow(d), 0, 0, 1600, 900, 0, CopyFromParent, InputOutput,
                                    CopyFromParent, CWOverrideRedirect, &a));
        XSelectInput(d, DefaultRootWindow(d), SubstructureRedirectMask);
        for (XEvent e; !stop; XSync(d, False)) {
            pollfd p{ConnectionNumber(d), POLLIN, 0};
            if (!XPending(d) && poll(&p, 1, 20) <= 0) continue;
            XNextEvent(d, &e);
            if (e.type == MapRequest) {
                XLowerWindow(d, e.xmaprequest.window);
                XMapWindow(d, e.xmaprequest.window);
                ++mapped;
            } else if (e.type == ConfigureRequest) {
                const XConfigureRequestEvent& r = e.xconfigurerequest;
                XWindowChanges c{r.x, r.y, r.width, r.height, r.border_width, 0, 0};
                XConfigureWindow(d, r.window, r.value_mask & ~(CWSibling | CWStackMode), &c);
            }
        }
    }};
    ~CoveringManager() {
        stop = true;
        thread.join();
        XCloseDisplay(d);
    }
};

// The strip under the views shows the hold: red, its text white. Looked at over two seconds of frames.
bool hold_is_shown(platform::WindowHandle win) {
    for (int tries = 0; tries < 20; ++tries) {
        int w = 0, h = 0, red = 0;
        wait_for_frame_at(win, 700, 800, 0.1);
        const std::vector<uint8_t> rgb = grab_window(win, w, h);
        for (int x = 32; w >= 1470 && h >= 826 && x < 1468; x += 7) {
            const uint8_t* p = &rgb[(static_cast<size_t>(790) * w + x) * 3];
            red += p[0] > 200 && p[1] < 60 && p[2] < 60;
        }
        if (red > 100) return true;
    }
    return false;
}

// Main-window places of the widgets the operator uses.
constexpr int kOriginX[2] = {598, 604}, kOriginY[2] = {598, 630}, kExtrusion[2] = {1250, 651};
constexpr int kSpacing[2] = {660, 41}, kGetPath[2] = {871, 743}, kSavePath[2] = {955, 742};
constexpr int kLayerSlider[2] = {400, 16}, kLoadBmp[2] = {760, 40};

// A held batch mended at the window: each typed value is taken only once
// finished (leaving the field, Enter), written whole to the server
// directory; until the last is finished no job starts, and each reason is
// said once. Clicks on the job's controls during the job change nothing: its
// G-code is that of a run whose files held the values from the start, in a
// window covered before it was ever drawn.
TEST(StrandelBatch, HeldBatchIsMendedByTypingAndClicksCannotSpoilTheJob) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    std::string runs[2];  // covered with the station's values; held and mended
    for (int held = 0; held < 2; ++held) {
        Station st;
        put(st.server + "/sl_version.txt", "1");
        st.image(std::string(STATION_SAMPLE_DIR) + "/foot_right_small_flat.bmp", "held_iRight.bmp");
        put(st.insole + "/Bmp_List.txt", "held_iRight.bmp");
        const std::string spacing = e2e::job_spacing_file_value(), origin = slurp(st.server + "/origin_point.txt");
        const std::string extrusion = slurp(st.server + "/va_extrusion.txt");
        if (!held) {
            CoveringManager manager;
            ASSERT_EQ(wait_exit(start_strandel(st.server, st.root, st.log), 200), 0) << slurp(st.log);
            EXPECT_GE(manager.mapped, 1);
            runs[0] = slurp(st.files + "/held_iRight.gcode");
            expect_complete_gcode(st.files + "/held_iRight.gcode", st.server);
            double z = 0;  // the layers rise to the top of the insole
            for (size_t at = runs[0].find("\n\nG1 Z"); at != std::string::npos; at = runs[0].find("\n\nG1 Z", at + 1)) {
                EXPECT_GT(std::atof(runs[0].c_str() + at + 6), z);
                z = std::atof(runs[0].c_str() + at + 6);
            }
            EXPECT_GT(z, 10.0);
            continue;
        }
        ASSERT_EQ(origin, "150\n30\n1\n1\n");
        put(st.server + "/va_extrusion.txt", "45");
        put(st.server + "/origin_point.txt", "X 150\nY 30\n");
        put(st.server + "/va_spacing.txt", "5");
        const pid_t pid = start_strandel(st.server, st.root, st.log);
        const std::string wait = "; no job is started, the images wait\n";
        auto said = [&](const std::string& line) {
            for (int t = 0; t < 600 && slurp(st.log).find(line + wait) == std::string::npos; ++t)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return slurp(st.log).find(line + wait) != std::string::npos;
        };
        Operator op{XOpenDisplay(nullptr), wait_for_window("Strandel", 60)};
        ASSERT_TRUE(op.d && op.win && said("origin_point.txt: is not four whole numbers")) << slurp(st.log);
        EXPECT_TRUE(hold_is_shown(op.win));
        // Into the factor field and out without an edit: nothing is taken.
        op.click(kExtrusion);
        op.click(kOriginY);
        EXPECT_EQ(slurp(st.server + "/va_extrusion.txt"), "45");
        op.type_over(kOriginX, "150");
        op.click(kOriginY);
        ASSERT_TRUE(said("va_spacing.txt: holds 5, outside 0.01 to 1")) << slurp(st.log);
        op.type_over(kExtrusion, std::to_string(std::atof(extrusion.c_str())).substr(0, 5));
        EXPECT_EQ(slurp(st.server + "/va_extrusion.txt"), "45") << "taken before Enter";
        op.key(XK_Return);
        // All but the last digit of the spacing: a value in range, half typed.
        const std::string typed = std::to_string(std::atof(spacing.c_str())).substr(0, 4);
        op.type_over(kSpacing, typed.substr(0, 3));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_EQ(slurp(st.server + "/va_spacing.txt"), "5") << "a half-typed value was taken";
        EXPECT_TRUE(hold_is_shown(op.win));
        EXPECT_EQ(slurp(st.log).find("STRLEN"), std::string::npos) << "a job started on a half-typed value";
        op.key(typed.back());
        op.key(XK_Return);
        for (int t = 0; t < 6000 && !fs::exists(st.files + "/temp/held_iRight.gcode"); ++t)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        op.click(kGetPath);
        op.click(kLayerSlider);
        EXPECT_FALSE(fs::exists(st.files + "/held_iRight.gcode")) << "the job ended before the clicks";
        op.click(kSavePath);
        op.click(kLoadBmp);
        ASSERT_EQ(wait_exit(pid, 200), 0) << slurp(st.log);
        const std::string out = slurp(st.log);
        EXPECT_EQ(out.find(wait, out.find("0.01 to 1" + wait) + 10), std::string::npos) << "said again";
        EXPECT_EQ(slurp(st.server + "/va_extrusion.txt"), extrusion);
        EXPECT_EQ(slurp(st.server + "/va_spacing.txt"), spacing);
        EXPECT_EQ(slurp(st.server + "/origin_point.txt"), origin);
        runs[1] = slurp(st.files + "/held_iRight.gcode");
        // The engine takes the factor in single precision, as the file gives it: byte for byte.
        EXPECT_EQ(runs[1], runs[0]);
    }
}

}  // namespace
