// Fitmire end to end: in a temporary station root it picks up a hand-off
// file, saves the left and right insoles in the insole directory and exits,
// also with its window covered and extra expose events arriving; the saved
// pixels are checked against values worked out from the rebuild's formulas.
// Malformed files, a read-only insole directory and a context without
// frame-buffer objects keep the hand-off file aside and save nothing wrong.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <iterator>
#include <memory>

#include "common/file_util.h"
#include "strandel_harness.h"
#include "tests/support/gl_context.h"

namespace fs = std::filesystem;
using testsupport::put;
using testsupport::slurp;

namespace {

const char kTemplate[] = "255mm narrow 20220606 backmove 5mm.bmp";

// The left insole template, 1 mm per pixel, row 0 at the bottom: a sole of
// columns 50..99, rows 30..329, widened to columns 40..109 on rows 220..259;
// height 10 with a plateau of 66 on rows 80..199, columns 60..99, that holds
// a pocket of 10 on rows 150..159, columns 85..89. Only the blue byte is the
// height: green and red carry other values.
void template_px(int r, int c, unsigned char bgr[3]) {
    const bool sole = (r >= 30 && r <= 329 && c >= 50 && c <= 99) || (r >= 220 && r <= 259 && c >= 40 && c <= 109);
    const bool pocket = r >= 150 && r <= 159 && c >= 85 && c <= 89;
    const bool plateau = r >= 80 && r <= 199 && c >= 60 && c <= 99;
    bgr[0] = !sole ? 0 : (plateau && !pocket) ? 66 : 10;
    bgr[1] = static_cast<unsigned char>(255 - bgr[0]);
    bgr[2] = static_cast<unsigned char>(40 + c);
}

// A flat pad stamp: every pixel 128, so the pad is a rotated rectangle of
// 2 mm / 128 x 5 x 128 = 10 height steps.
void drop_px(int, int, unsigned char bgr[3]) { bgr[0] = bgr[1] = bgr[2] = 128; }

// The grey value of the pixel at (row, column) of a saved image: a 24-bit
// 150 x 360 BMP as FreeImage writes it, pixels from byte 54 in rows of 452
// bytes; -1 for any other file, -2 for a pixel whose three bytes differ.
int pixel(const std::string& bmp, int row, int col) {
    if (bmp.size() != 54 + 452 * 360 || bmp.compare(0, 2, "BM") != 0 || bmp[28] != 24) return -1;
    const char* px = &bmp[54 + row * 452 + col * 3];
    return px[0] == px[1] && px[1] == px[2] ? static_cast<unsigned char>(px[0]) : -2;
}

// Every window of the display whose name is `title`, with all its subwindows.
void windows_named(Display* d, Window w, const char* title, bool inside, std::vector<Window>& out) {
    char* name = nullptr;
    if (!inside && XFetchName(d, w, &name) && name) {
        inside = std::string(name) == title;
        XFree(name);
    }
    if (inside) out.push_back(w);
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return;
    for (unsigned i = 0; i < n; ++i) windows_named(d, kids[i], title, inside, out);
    if (kids) XFree(kids);
}

// Polls `done` every 100 ms for up to `seconds`.
template <class F>
bool wait_until(int seconds, F done) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// The program's windows go away while exposes are still being sent to them.
int ignore_x_error(Display*, XErrorEvent*) { return 0; }

// Another program's window over the whole screen, mapped once Fitmire's
// window is there (and, when asked, after it has had time to be drawn). With
// `exposes`, exposes go to every window of the program until stopped, as a
// window manager redrawing would; only that thread uses the display then.
class ScreenCover {
public:
    ~ScreenCover() {
        stop_exposes();
        if (d_) XCloseDisplay(d_);  // the cover goes with the connection
    }
    bool cover_fitmire(bool after_first_draw, size_t instances = 1, bool exposes = false) {
        if (!(d_ = XOpenDisplay(nullptr))) return false;
        XSetErrorHandler(ignore_x_error);
        std::vector<Window> windows;  // the main windows and the views' own, which may come later
        auto find = [&] {
            windows.clear();
            windows_named(d_, DefaultRootWindow(d_), "Fitmire", false, windows);
            return windows.size() >= instances;
        };
        if (!wait_until(10, find)) return false;
        if (after_first_draw) std::this_thread::sleep_for(std::chrono::milliseconds(500));
        XSetWindowAttributes a;
        a.override_redirect = True;
        a.background_pixel = BlackPixel(d_, DefaultScreen(d_));
        XMapRaised(d_, XCreateWindow(d_, DefaultRootWindow(d_), 0, 0, DisplayWidth(d_, DefaultScreen(d_)),
                                     DisplayHeight(d_, DefaultScreen(d_)), 0, CopyFromParent, InputOutput,
                                     CopyFromParent, CWOverrideRedirect | CWBackPixel, &a));
        XSync(d_, False);
        if (exposes)
            exposer_ = std::thread([this, windows, instances]() mutable {
                for (; !stop_; std::this_thread::sleep_for(std::chrono::microseconds(100))) {
                    if (windows.size() < 2 * instances) {
                        windows.clear();
                        windows_named(d_, DefaultRootWindow(d_), "Fitmire", false, windows);
                    }
                    for (Window w : windows) {
                        XEvent e = {};
                        e.xexpose = {Expose, 0, False, d_, w, 0, 0, 150, 360, 0};
                        XSendEvent(d_, w, False, ExposureMask, &e);
                    }
                    XFlush(d_);
                }
            });
        return true;
    }
    void stop_exposes() {
        stop_ = true;
        if (exposer_.joinable()) exposer_.join();
    }

private:
    Display* d_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread exposer_;
};

// One station root with Fitmire's files in its server directory, and the
// Fitmire started there.
class Station {
public:
    ~Station() {
        if (pid > 0) wait_exit(0);
    }
    bool set_up(const char* degree_30) {
        fs::create_directories(insole);
        fs::create_directories(server);
        // FreeImage tells the type from the bytes, so a BMP can stand in for the PNG stamp.
        return put(server + "/" + kTemplate, testsupport::bmp24(150, 360, template_px)) &&
               put(server + "/drop.png", testsupport::bmp24(250, 250, drop_px)) &&
               put(server + "/lut_ancestor.txt", "0 0 0\n") && put(server + "/bt_degree_30.txt", degree_30);
    }
    // `old_gl`: a 2.1 context without frame-buffer objects, as an old card
    // offers. `read_only_insole`: the insole directory cannot be written.
    void start(bool old_gl = false, bool read_only_insole = false) {
        if (read_only_insole) ::chmod(insole.c_str(), 0555);
        if (old_gl) {
            ::setenv("MESA_GL_VERSION_OVERRIDE", "2.1", 1);
            ::setenv("MESA_EXTENSION_OVERRIDE", "-GL_ARB_framebuffer_object", 1);
        }
        pid = strandel_harness::start_strandel(server, root.path(), root / "fitmire.log", read_only_insole,
                                               std::string(STATION_BINARY_DIR) + "/scaler/Fitmire");
        ::unsetenv("MESA_GL_VERSION_OVERRIDE");
        ::unsetenv("MESA_EXTENSION_OVERRIDE");
    }
    // Written whole at once: the program may look at any moment.
    bool hand_off(const std::string& text) {
        return common::write_file_atomic(server + "/insole parameters.txt", text);
    }
    // Its exit status; -1 when it still runs after `seconds` (it is then ended).
    int wait_exit(int seconds) {
        const int status = strandel_harness::wait_exit(pid, seconds);
        pid = -1;
        return status;
    }
    std::vector<std::string> bmps_under(const std::string& dir) {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().extension() == ".bmp" && e.path().filename() != kTemplate)
                found.push_back(fs::relative(e.path(), dir).string());
        return found;
    }
    std::string log() { return slurp(root / "fitmire.log"); }
    size_t said(const std::string& line) {
        const std::string text = log();
        size_t n = 0;
        for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
        return n;
    }
    bool wait_said(const std::string& line, size_t n, int seconds) {
        return wait_until(seconds, [&] { return said(line) >= n; });
    }
    std::string kept_handoff() { return slurp(server + "/refused/insole parameters.txt"); }

    testsupport::TempDir root;
    std::string insole = root / "insole", files = root / "VerdanelFiles", server = files + "/Hostlet";
    pid_t pid = -1;
};

class FitmireRun : public ::testing::Test, public Station {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
        ASSERT_TRUE(set_up("1"));
    }
};

// A pixel worked out from the rebuild's formulas: row, column, value.
struct Expected {
    int row, col, value;
    const char* why;
};

// Both sides worked out from the rebuild's formulas for the file
// "left 0.15 249 ..." / "right 0.3 279 ... 0912345678", the left with the
// 30-degree limit on, the right without it. Template box: columns 40..109 (70 mm), rows 30..329 (300 mm).
//
// Left: length 249 + 10 = 259; width 70 + trunc(-41 / 5) = 62 (remainder -1);
// scale_x = 62/70 x 150 = 132.857, quad width X = ceil(132.857) + 1 = 134;
// scale_y = 259/300 x 360 = 310.8, Y = 311; offsets 75 - 74.5 x 132.857/150 =
// 9.014 and 180 - 179.5 x 0.8633 = 25.03. Output column c shows template
// column floor((c + 0.5 - 9.014) x 152/134), row r template row
// floor((r + 0.5 - 25.03) x 360/311). Heights x 0.8633, lowest back to 10:
// 66 -> 56 x 0.8633 + 10 = 58.3 -> 58. Arch factor 1 + (0.27 - 0.15)/0.17 x 0.15
// = 1.10588: v -> (v - 10) x 1.10588 + 10. Pad: box 62 x 259, W = 41,
// L = 129.5; leftmost (44, 216), rightmost (105, 216), lowest (54, 51),
// highest (54, 309) (corner pixels trimmed) cross at column 54, row 216; the
// quad covers rows 87..215, columns 34..74, turned by -4 degrees about
// (44.5, 206.5), so 117 rows below the pivot it sits 8 columns further left.
const Expected kLeft[] = {
    {129, 90, 63, "template (120, 92), plateau: 58 -> 48 x 1.10588 + 10 = 63.08"},
    {68, 96, 10, "(96.5 - 9.014) x 152/134 = 99.2: the sole's last column"},
    {68, 97, 0, "100.4: outside (a quad of 135 would give 99.5, inside)"},
    {230, 105, 10, "109.4: the widened part's last column (a quad of 133 gives 110.3)"},
    {230, 106, 0, "110.6: outside"},
    {309, 70, 10, "(309.5 - 25.03) x 360/311 = 329.3: the toe row"},
    {310, 70, 0, "330.4: beyond the toe"},
    // The pocket of 10 covers output rows ..162 and columns 84..87. The slope limit lets a height
    // rise 3 per side step and 4 per diagonal step away from it: 13 and 14, then x 1.10588.
    {163, 88, 14, "diagonal off the pocket's corner: 4 x 1.10588 + 10 = 14.4"},
    {163, 87, 13, "above the pocket: 3 x 1.10588 + 10 = 13.3"},
    {162, 88, 13, "right of the pocket: 13"},
    {89, 30, 10, "outside the sole, under the pad's lower end leaning left (from column 26)"},
    {89, 70, 10, "sole only: the turned pad ends at column 66 on this row"},
    {213, 60, 20, "sole 10 + pad 10"},
    {216, 60, 10, "above the anchor row: no pad"},
};

// Right: length 279 + 10 = 289; width 70 + trunc(-11 / 5) = 68; scale_x =
// 145.714, X = 147; scale_y = 346.8, Y = 347; offsets 2.629 and 7.08. The
// template is mirrored: column c shows template column
// floor((149 - c + 0.5 - 2.629) x 152/147), row r template row
// floor((r + 0.5 - 7.08) x 360/347). Heights x 0.9633: 66 -> 63.95 -> 63; arch
// factor 1 - (0.3 - 0.27)/0.05 x 0.15 = 0.91: v -> (v - 10) x 0.91 + 10. Pad:
// box 68 x 289, W = 45, L = 144.5; leftmost (41, 220), rightmost (108, 220),
// lowest (97, 36), highest (97, 324) (last pixel of the row for a right
// foot) cross at column 97, row 220; the quad covers rows 76..219, columns
// 75..119, turned by +4 degrees about (87.5, 210.5): its lower end leans right.
const Expected kRight[] = {
    {123, 51, 58, "template (120, 99), plateau mirrored to the left: 53 x 0.91 + 10 = 58.2"},
    {123, 90, 20, "template column 58, sole 10 + pad 10 (unmirrored this is plateau)"},
    {55, 98, 10, "template column (51.5 - 2.629) x 152/147 = 50.5: the sole's edge"},
    {55, 99, 0, "49.5: outside"},
    {55, 50, 0, "template column 100.2: outside (a quad of 148 gives 99.5, inside)"},
    {324, 70, 10, "(324.5 - 7.08) x 360/347 = 329.3: the toe row"},
    {325, 70, 0, "330.3: beyond the toe"},
    // The pocket, mirrored: rows 152..160, columns 60..64; no slope limit around it.
    {156, 62, 10, "inside the pocket"},
    {161, 60, 58, "above the pocket: plateau"},
    {78, 80, 10, "sole only: the turned pad starts at column 84 on this row"},
    {78, 90, 20, "sole 10 + pad 10"},
    {85, 118, 10, "outside the sole, pad only"},
    {82, 122, 10, "outside the sole, under the pad's lower end leaning right"},
    {219, 90, 20, "the pad's top row"},
    {220, 90, 10, "the anchor row: no pad"},
};

void expect_pixels(const std::string& bmp, const Expected* begin, const Expected* end, const char* side) {
    for (const Expected* e = begin; e != end; ++e)
        EXPECT_EQ(pixel(bmp, e->row, e->col), e->value) << side << " " << e->row << "," << e->col << ": " << e->why;
}

}  // namespace

// The right side is saved only by the draw that rebuilt it: exposes arriving
// between the left save and the right record's tick save nothing. Without the
// slope limit (the station's default) a rebuild is quick enough to leave room
// for such a draw before the next tick.
TEST_F(FitmireRun, CoveredWindowWithExtraExposesSavesEachSideFromItsOwnRebuild) {
    // Three stations at once, each with its own odds of a stray draw at the wrong moment.
    Station more[2];
    Station* all[] = {this, &more[0], &more[1]};
    for (Station* st : all) {
        ASSERT_TRUE(st->set_up("0"));
        st->start();
    }
    ScreenCover cover;
    ASSERT_TRUE(cover.cover_fitmire(true, 3, true)) << log();
    for (Station* st : all) ASSERT_TRUE(st->hand_off("left 0.15 249 0 0 0 0 0 0\nright 0.3 279 0 0 0 0 0 0 0912345678\n"));
    int status[3];
    for (int i = 0; i < 3; ++i) status[i] = all[i]->wait_exit(30);
    cover.stop_exposes();

    // The right image is the one a file whose left record is refused gives.
    start();
    ASSERT_TRUE(hand_off("left 0.15 -5 0 0 0 0 0 0\nright 0.3 279 0 0 0 0 0 0 solo\n"));
    ASSERT_EQ(wait_exit(30), 0) << log();
    const std::string solo = slurp(insole + "/solo_iRight.bmp");
    expect_pixels(solo, std::begin(kRight), std::end(kRight), "right");
    for (int i = 0; i < 3; ++i) {
        Station& st = *all[i];
        ASSERT_EQ(status[i], 0) << st.log();
        EXPECT_FALSE(common::file_exists(st.server + "/insole parameters.txt"));
        const std::string left = slurp(st.insole + "/0912345678_iLeft.bmp");
        const std::string right = slurp(st.insole + "/0912345678_iRight.bmp");
        EXPECT_GT(pixel(left, 100, 90), 10) << i;  // the left plateau
        EXPECT_TRUE(left != right) << i;  // (no byte dump of two images)
        EXPECT_TRUE(right == solo) << i;
    }
}

// Covered before it was ever drawn, the window is raised for the job. A
// right record whose foot length no foot has is refused: the left side is
// saved, the program ends, and the hand-off file is kept aside.
TEST_F(FitmireRun, RefusedRightRecordUnderACoverSavesTheLeftKeepsTheFileAndEnds) {
    start();
    ScreenCover cover;
    ASSERT_TRUE(cover.cover_fitmire(false)) << log();
    const std::string file = "left 0.15 249 0 0 0 0 0 0\nright 0.3 -5 0 0 0 0 0 0 0912345678\n";
    ASSERT_TRUE(hand_off(file));
    ASSERT_EQ(wait_exit(30), 0) << log();
    EXPECT_EQ(bmps_under(root.path()), std::vector<std::string>{"insole/0912345678_iLeft.bmp"});
    expect_pixels(slurp(insole + "/0912345678_iLeft.bmp"), std::begin(kLeft), std::end(kLeft), "left");
    EXPECT_EQ(kept_handoff(), file);
    EXPECT_FALSE(common::file_exists(server + "/insole parameters.txt"));
    EXPECT_NE(log().find("the right record is refused (its foot length -5 mm is not positive)"), std::string::npos)
        << log();
}

// Malformed hand-off files, each in its own station at once: no image under a
// wrong name, a file that is not one whole job refused whole, the
// file kept aside whole (or in place when refused/ cannot take it), and
// Fitmire ends; so it does without a template, and with status 1 when a side
// cannot be saved (a read-only insole directory).
TEST_F(FitmireRun, MalformedFilesSaveNoWrongNameKeepTheFileAndEnd) {
    const std::string good_left = "left 0.25 245 0 0 0 0 0 0\n";
    const std::string right = "right 0.3 250 0 0 0 0 0 0 ";
    const struct {
        std::string file;
        std::vector<std::string> images;
        int status = 0;
        bool no_template = false, read_only = false, no_refused_folder = false;
    } cases[] = {
        {"left 0.25 1e30 0 0 0 0 0 0\nright 0.3 1e30 0 0 0 0 0 0 huge\n", {}},
        {good_left + "right 0.3 250 0 0 0 0 0 0\n", {}},
        {good_left + right + "first\n" + good_left + right + "second\n", {}},
        {good_left + right + "notemplate\n", {}, 1, true},
        {"left 0.15 249 0 0 0 0 0 0\nright 0.3 279 0 0 0 0 0 0 0912345678\n", {}, 1, false, true},
        // Both records refused (lengths in centimetres), and no refused/ to take the file: it stays in place.
        {"left 0.25 24.5 0 0 0 0 0 0\nright 0.3 25 0 0 0 0 0 0 cm\n", {}, 0, false, false, true},
    };
    const size_t n = std::size(cases);
    std::vector<std::unique_ptr<Station>> st;
    for (size_t i = 0; i < n; ++i) {
        st.push_back(std::make_unique<Station>());
        ASSERT_TRUE(st[i]->set_up("0"));
        if (cases[i].no_template) fs::remove(st[i]->server + "/" + kTemplate);
        if (cases[i].no_refused_folder) put(st[i]->server + "/refused", "a file");
        st[i]->start(false, cases[i].read_only);
        ASSERT_TRUE(st[i]->hand_off(cases[i].file));
    }
    for (size_t i = 0; i < n; ++i) {
        Station& s = *st[i];
        SCOPED_TRACE(cases[i].file);
        ASSERT_EQ(s.wait_exit(60), cases[i].status) << s.log();
        EXPECT_EQ(s.bmps_under(s.root.path()), cases[i].images) << s.log();
        const std::string in_place = s.server + "/insole parameters.txt";
        EXPECT_EQ(cases[i].no_refused_folder ? slurp(in_place) : s.kept_handoff(), cases[i].file) << s.log();
        EXPECT_EQ(common::file_exists(in_place), cases[i].no_refused_folder);
    }
}

// On a context without frame-buffer objects nothing can be rebuilt: the
// console says so once per job, not on every draw, and each job's file stays aside.
TEST_F(FitmireRun, WithoutFrameBuffersEachJobIsReportedOnceAndKept) {
    start(true);
    const char not_saved[] = "the left insole is not saved: the rebuild needs an off-screen frame buffer";
    for (int job = 1; job <= 2; ++job) {
        ASSERT_TRUE(hand_off("left 0.15 249 0 0 0 0 0 0\nright 0.3 279 0 0 0 0 0 0 j" + std::to_string(job) + "\n"));
        ASSERT_TRUE(wait_until(30, [&] { return !common::file_exists(server + "/insole parameters.txt"); })) << log();
        ASSERT_TRUE(wait_said(not_saved, job, 30)) << log();
        // Two more hand-off checks (about four seconds of draws at 120 a second).
        const size_t checks = said("Loop Check!");
        ASSERT_TRUE(wait_said("Loop Check!", checks + 2, 30)) << log();
        EXPECT_EQ(said(not_saved), static_cast<size_t>(job)) << log();
        EXPECT_EQ(said("OpenGL frame-buffer objects are not available"), 1u) << log();
    }
    EXPECT_EQ(wait_exit(1), -1) << log();
    EXPECT_TRUE(bmps_under(root.path()).empty());
    EXPECT_NE(kept_handoff().find(" j1"), std::string::npos);
    EXPECT_NE(slurp(server + "/refused/insole parameters (2).txt").find(" j2"), std::string::npos);
}
