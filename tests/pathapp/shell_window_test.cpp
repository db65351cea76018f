// The path program's windows built in an empty working directory: places,
// labels, start values, the variant menu, the label font, the image view's
// origin grip and job list, the test view's measuring cross, and the batch
// load of job images with their per-job settings files.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Menu_Button.H>
#include <FreeImage.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "common/job_name.h"
#include "engine/params.h"
#include "pathapp/actions.h"
#include "pathapp/app.h"
#include "pathapp/batch.h"
#include "pathapp/param_set.h"
#include "pathapp/views.h"
#include "platform/platform.h"
#include "tests/support/gl_context.h"

namespace fs = std::filesystem;
using namespace pathapp;

namespace {

using testsupport::put;
using testsupport::slurp;

// Runs f with the console captured and returns what it printed.
template <class F>
std::string captured(F&& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// The end of a batch ends the program: a case that ran into it would end this
// test program with status 0, the cases after it never run.
bool g_all_ran = false;
struct AllRan : ::testing::Environment {
    void TearDown() override { g_all_ran = true; }
};
[[maybe_unused]] const auto* const g_all_ran_env = ::testing::AddGlobalTestEnvironment(new AllRan);
[[maybe_unused]] const int g_exit_check = std::atexit([] {
    if (!g_all_ran) std::_Exit(3);
});

void collect(Fl_Widget* w, std::vector<Fl_Widget*>& out) {
    out.push_back(w);
    if (Fl_Group* g = w->as_group())
        for (int i = 0; i < g->children(); ++i) collect(g->child(i), out);
}

class ShellWindows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (tmp_) return;  // the windows are built once per program, as in Strandel (and live to its end)
        tmp_ = new testsupport::TempDir();
        for (const char* d : {"server", "insole", "VerdanelFiles/Hostlet", "VerdanelFiles/temp"})
            fs::create_directories(*tmp_ / d);
        setenv("STATION_INSOLE_DIR", (*tmp_ / "insole").c_str(), 1);
        setenv("STATION_FILES_DIR", (*tmp_ / "VerdanelFiles").c_str(), 1);
        // Start-up reads everything relative to an empty working directory.
        ASSERT_EQ(chdir((*tmp_ / "server").c_str()), 0);
        put("sl_version.txt", "2");  // the variant the menu starts at
        captured([] {
            use_cjk_font();
            build_windows();
        });
    }
    static Fl_Widget* find(Fl_Widget* top, const char* label, int x, int y, int w, int h) {
        std::vector<Fl_Widget*> all;
        collect(top, all);
        for (Fl_Widget* wd : all)
            if (wd->label() && strcmp(wd->label(), label) == 0 && wd->x() == x && wd->y() == y && wd->w() == w &&
                wd->h() == h)
                return wd;
        return nullptr;
    }
    static testsupport::TempDir* tmp_;
    GL_Display_Image& iv = *image_view;
    GL_Display_3D& v = *view_3d;
};
testsupport::TempDir* ShellWindows::tmp_ = nullptr;

struct Row {
    const char* label;
    int x, y, w, h;
};

// Sizes, titles and the start values the program's own start order gives
// (each parameter's own start value: the parameter-table test).
TEST_F(ShellWindows, BothWindowsAndTheirStartValues) {
    EXPECT_STREQ(main_window->label(), "Strandel");
    EXPECT_FALSE(main_window->resizable());
    EXPECT_STREQ(adv_edit_window->label(), "Adv Edit");
    EXPECT_TRUE(adv_edit_window->w() == 382 && adv_edit_window->h() == 331 && !adv_edit_window->shown());
    EXPECT_TRUE(image_view->x() == 25 && image_view->y() == 65 && image_view->w() == 525 && image_view->h() == 675);
    EXPECT_TRUE(view_3d->x() == 565 && view_3d->w() == 260 && test_view->x() == 1390 && test_view->h() == 360);
    EXPECT_EQ(gp_img, image_view);
    // The three views are closed as groups: no widget became their child.
    EXPECT_EQ(image_view->children() + view_3d->children() + test_view->children(), 0);
    using namespace engine;
    EXPECT_EQ(image_view->origin_point[0] * 1000 + image_view->origin_point[1], 30030);
    EXPECT_EQ(pval(ck_offset_cross), 1);
    EXPECT_EQ(pval(choice_interval), 2);  // "0.300000", "1", "3", "1.5" with "3" selected
    EXPECT_EQ(view_3d->raster.saved_interval_index, 2);
    EXPECT_TRUE(param_widgets[choice_interval]->active());
    EXPECT_TRUE(view_3d->raster.grid.empty());  // no PointSpacing.txt, no sample grid
}

TEST_F(ShellWindows, EveryLabelledWidgetAtItsPlace) {
    const Row adv[] = {
        {"第一層厚度", 91, 17, 65, 28},    {"第二層厚度", 236, 17, 65, 28},    {"固定定位", 47, 75, 85, 20},
        {"關閉 Z path", 137, 75, 95, 20},  {"第一層擠出量", 95, 107, 65, 28},  {"第二層擠出量", 250, 107, 65, 28},
        {"點間距", 115, 217, 131, 22},     {"mm以上的間距", 55, 185, 65, 24}, {"interval", 115, 248, 131, 22},
    };
    for (const Row& r : adv)
        EXPECT_NE(find(adv_edit_window, r.label, r.x, r.y, r.w, r.h), nullptr) << r.label;
    const Row main_rows[] = {
        {"底板參數2", 1320, 750, 152, 20}, {"y", 578, 618, 40, 24}, {"x", 578, 592, 40, 24},
        {"讀取BMP", 695, 15, 130, 50}, {"切層間距", 629, 25, 62, 33}, {"Save Path", 915, 710, 80, 65},
        {"Show Path", 565, 476, 110, 35}, {"Show Picture", 565, 513, 110, 35}, {"Show Point", 565, 550, 110, 35},
        {"參數", 1075, 35, 280, 685}, {"起始參數", 1099, 69, 230, 140}, {"結束參數", 1099, 233, 230, 140},
        {"空跑 抬高(mm)", 1219, 602, 65, 28}, {"移動速度", 1117, 409, 195, 131}, {"第一層", 1187, 416, 65, 28},
        {"其他層", 1187, 445, 65, 28}, {"空跑", 1187, 475, 65, 28}, {"同向加速", 1187, 505, 65, 28},
        {"預擠回抽速度", 1187, 507, 65, 28}, {"擠出量 倍數", 1219, 637, 65, 28}, {"交錯間隔", 1183, 567, 130, 20},
        {"預擠", 1219, 663, 65, 28}, {"回抽", 1219, 689, 65, 28}, {"time", 1105, 742, 100, 33},
        {"位移交疊", 872, 492, 86, 25}, {"interval", 927, 530, 80, 27}, {"點間距", 917, 572, 131, 20},
        {"Reset", 95, 335, 75, 60}, {"Test", 223, 405, 105, 50}, {"CUT Plane", 75, 194, 542, 36},
        {"橫向位移(mm)", 1505, 466, 60, 25}, {"縱向位移(mm)", 1505, 493, 60, 25}, {"橫向間距", 1435, 545, 131, 20},
        {"縱向間距", 1435, 520, 131, 20}, {"Get Path", 830, 710, 82, 66}, {"讀取STL", 1375, 595, 105, 50},
        {"Z rotate", 835, 121, 75, 40}, {"Get Height", 835, 385, 104, 53}, {"Show Coord.", 682, 476, 110, 35},
        {"Show Contour", 682, 512, 110, 35}, {"X rotate", 835, 39, 75, 40}, {"Y rotate", 835, 80, 75, 40},
        {"CUT Plane", 25, 4, 542, 36}, {"Contour", 1010, 710, 70, 35}, {"Slope 30", 648, 615, 85, 25},
        {"起始切層(mm)", 925, 457, 95, 26}, {"自訂角度", 930, 47, 94, 26}, {"現在角度", 995, 83, 60, 29},
        {"- 15", 925, 150, 46, 25}, {"15", 972, 150, 46, 25}, {"- 5", 925, 122, 46, 25}, {"5 ", 972, 122, 46, 25},
        {"Load Para", 990, 373, 74, 35}, {"Sava Para", 990, 408, 74, 35}, {"讀取輪廓圖", 1375, 650, 115, 50},
        {"列印厚度(mm)", 974, 244, 34, 24}, {"輪廓模式", 920, 268, 84, 20}, {"擠出量 max", 965, 295, 65, 28},
        {"擠出量 min", 965, 325, 65, 28}, {"全墊列印", 735, 75, 80, 25}, {"edit", 1000, 615, 64, 20},
        {"底板參數1", 1320, 725, 152, 20}, {"Show Pts", 1475, 725, 90, 50}, {"dilation", 1500, 670, 64, 35},
        {"底板形狀", 866, 640, 95, 30}, {"第一層列印高度(mm)", 700, 746, 65, 24}, {"擠出量(體積)", 1440, 11, 62, 24},
        {"擠出量(長度)", 1440, 41, 97, 24}, {"緻密底層(前四層)", 875, 200, 125, 25}, {"儲存STL", 650, 70, 75, 25},
        {"x offset:", 703, 591, 40, 24}, {"版本設定", 1485, 790, 85, 35},
    };
    for (const Row& r : main_rows)
        EXPECT_NE(find(main_window, r.label, r.x, r.y, r.w, r.h), nullptr) << r.label;
    // Label sizes other than 14 (the colours and boxes are plain constants of the code).
    const std::pair<const char*, int> sizes[] = {{"讀取BMP", 21}, {"參數", 20},       {"Test", 28},     {"讀取STL", 21},
                                                 {"自訂角度", 15}, {"現在角度", 16}, {"讀取輪廓圖", 21}, {"Show Pts", 16}};
    std::vector<Fl_Widget*> all;
    collect(main_window, all);
    collect(adv_edit_window, all);
    for (Fl_Widget* w : all) {
        if (!w->label() || w == main_window || w == adv_edit_window) continue;
        auto size = std::find_if(std::begin(sizes), std::end(sizes), [&](const auto& l) { return !strcmp(l.first, w->label()); });
        EXPECT_EQ(w->labelsize(), size == std::end(sizes) ? 14 : size->second) << w->label();
    }
    EXPECT_TRUE(main_window->non_modal());
    // Hidden from creation on: "同向加速" and the frame with "Reset", "Test" and a "CUT Plane".
    EXPECT_FALSE(find(main_window, "同向加速", 1187, 505, 65, 28)->visible());
    EXPECT_FALSE(find(main_window, "Reset", 95, 335, 75, 60)->visible_r());
    EXPECT_TRUE(find(main_window, "預擠回抽速度", 1187, 507, 65, 28)->visible());
    EXPECT_STREQ(find(main_window, "預擠", 1219, 663, 65, 28)->tooltip(), "要比回抽還高");
    EXPECT_STREQ(find(main_window, "回抽", 1219, 689, 65, 28)->tooltip(), "要比預擠還低");
}

// The stored variant (anything but 0..2 gives the first item) picks the menu
// item; a pick changes the title and is never stored.
TEST_F(ShellWindows, VariantMenuStartsAtItsStoredItemAndTitlesFollowPicks) {
    EXPECT_EQ(current_variant(), 2);
    for (const auto& [text, variant] : {std::pair<const char*, int>{"2", 2}, {"abc", 0}, {"3", 0}, {"-1", 0}}) {
        put("v.txt", text);
        EXPECT_EQ(read_variant_file("v.txt"), variant) << text;
    }
    fs::remove("v.txt");
    EXPECT_EQ(read_variant_file("v.txt"), 0);
    const char* variants[][2] = {{"十月版", "Fitmire (Quenor)"}, {"一般版", "Fitmire (Normal)"}, {"A4版", "Fitmire (A4)"}};
    for (int i : {1, 2, 0}) {
        EXPECT_STREQ(menu_version->menu()[i].label(), variants[i][0]);
        menu_version->value(i);
        choose_variant_title(menu_version, nullptr);
        EXPECT_STREQ(main_window->label(), variants[i][1]);
    }
    EXPECT_EQ(slurp("sl_version.txt"), "2");
    main_window->label("Strandel");
}

TEST_F(ShellWindows, PanelToggleChangesOnlyTheWindowSize) {
    auto* t = static_cast<Fl_Button*>(param_widgets[engine::bt_panel_toggle]);
    ASSERT_EQ(t->x() * 1000 + t->y(), 1690);
    for (int on : {1, 0}) {
        t->value(on);
        t->do_callback();
        EXPECT_EQ(main_window->w() * 1000 + main_window->h(), on ? 765720 : 1375792);
    }
    // Widgets keep their places: "版本設定" now lies beyond the window's edges.
    EXPECT_NE(find(main_window, "版本設定", 1485, 790, 85, 35), nullptr);
    main_window->size(1576, 828);
}

// FLTK compares a font's new name with the one it holds: the names of an
// earlier call must still be alive when the fonts are set again.
TEST_F(ShellWindows, LabelFontHoldsEveryLabelCharacter) {
    const std::string name = Fl::get_font(FL_HELVETICA);
    use_cjk_font();
    EXPECT_EQ(name, Fl::get_font(FL_HELVETICA));
    // FLTK's Xft names start with a style character.
    FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>(name.c_str() + 1));
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult res;
    FcPattern* match = FcFontMatch(nullptr, pat, &res);
    ASSERT_NE(match, nullptr);
    FcCharSet* cs = nullptr;
    ASSERT_EQ(FcPatternGetCharSet(match, FC_CHARSET, 0, &cs), FcResultMatch);
    std::vector<Fl_Widget*> all;
    collect(main_window, all);
    collect(adv_edit_window, all);
    int checked = 0;
    for (Fl_Widget* w : all) {
        const unsigned char* s = reinterpret_cast<const unsigned char*>(w->label());
        FcChar32 c;
        for (int len = s ? static_cast<int>(strlen(w->label())) : 0, n; len > 0; s += n, len -= n, ++checked) {
            ASSERT_GT(n = FcUtf8ToUcs4(s, &c, len), 0);
            EXPECT_TRUE(FcCharSetHasChar(cs, c)) << w->label() << " U+" << std::hex << c;
        }
    }
    EXPECT_GT(checked, 300);
    FcPatternDestroy(match);
    FcPatternDestroy(pat);
}

// ---- image view ------------------------------------------------------------------------

void send(Fl_Widget* w, int event, int x, int y, int button) {
    Fl::e_x = x;
    Fl::e_y = y;
    Fl::e_keysym = FL_Button + button;
    Fl::e_state = event == FL_RELEASE ? 0 : (button == FL_LEFT_MOUSE ? FL_BUTTON1 : 0);
    w->handle(event);
}

// The grip is the nine by nine pixels about the origin; the 3-D view turns
// and zooms with the mouse.
TEST_F(ShellWindows, DraggedOriginIsWrittenOnReleaseAndTheMouseTurnsThe3DView) {
    const int h = image_view->h();
    const int ox = image_view->origin_point[0], oy = h - 1 - image_view->origin_point[1];  // window row
    EXPECT_TRUE(image_view->grips_origin(ox - 4, oy + 4));
    EXPECT_FALSE(image_view->grips_origin(ox + 5, oy) || image_view->grips_origin(ox, oy - 5));
    testing::internal::CaptureStdout();
    send(image_view, FL_PUSH, ox + 4, oy - 4, FL_LEFT_MOUSE);
    ASSERT_TRUE(image_view->dragging_origin);
    send(image_view, FL_DRAG, 12, h - 1 - 40, FL_LEFT_MOUSE);
    EXPECT_FALSE(fs::exists("origin_point.txt"));
    send(image_view, FL_RELEASE, 12, h - 1 - 40, FL_LEFT_MOUSE);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(slurp("origin_point.txt"), "12\n40\n1\n1\n");
    EXPECT_FALSE(image_view->dragging_origin);
    EXPECT_EQ(engine::pval(engine::origin_x) * 1000 + engine::pval(engine::origin_y), 12040);
    EXPECT_NE(out.find("mouse position [ 12, 634 ] \n"), std::string::npos);
    send(image_view, FL_PUSH, 12 + 5, h - 1 - 40, FL_LEFT_MOUSE);  // beside the origin: nothing taken
    EXPECT_FALSE(image_view->dragging_origin);
    send(image_view, FL_RELEASE, 12 + 5, h - 1 - 40, FL_LEFT_MOUSE);
    fs::remove("origin_point.txt");
    image_view->origin_point[0] = image_view->origin_point[1] = 30;

    const float yaw = view_3d->view_yaw, pitch = view_3d->view_pitch, zoom = view_3d->zoom;
    send(view_3d, FL_PUSH, 100, 100, FL_LEFT_MOUSE);
    send(view_3d, FL_DRAG, 110, 95, FL_LEFT_MOUSE);
    EXPECT_FLOAT_EQ(view_3d->view_yaw, yaw + 10);
    EXPECT_FLOAT_EQ(view_3d->view_pitch, pitch - 5);
    Fl::e_dy = 3;
    view_3d->handle(FL_MOUSEWHEEL);
    EXPECT_FLOAT_EQ(view_3d->zoom, zoom + 0.3f);
    view_3d->view_yaw = yaw, view_3d->view_pitch = pitch, view_3d->zoom = zoom;
}

// The image view reads origin_point.txt through the bounded parameter-file
// reader: anything but four whole numbers, or an x or y beyond the widgets'
// -100 to 300 (one beyond int is held at its end), refuses the file; the
// origin stays 30, 30 and the batch waits.
TEST_F(ShellWindows, OriginFileIsFourNumbersInRangeOrRefused) {
    const struct {
        const char* text;
        const char* why;  // "" when taken
    } cases[] = {
        {"300\n-7\n2\n3\n", ""},
        {"300\n-7\nbroken 5\n", "is not four whole numbers"},
        {"X 150\nY 30\n", "is not four whole numbers"},
        {"30\n30\n1\n1\n5\n", "is not four whole numbers"},
        {"99999999999999999999\n-7\n1\n1\n", "x holds 2147483647, outside -100 to 300"},
        {"30\n301\n1\n1\n", "y holds 301, outside -100 to 300"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        put("origin_point.txt", c.text);
        testing::internal::CaptureStdout();
        GL_Display_Image view(0, 0, 100, 100);
        testing::internal::GetCapturedStdout();
        const bool taken = !*c.why;
        EXPECT_EQ(view.origin_point[0] * 1000 + view.origin_point[1], taken ? 300 * 1000 - 7 : 30 * 1000 + 30);
        EXPECT_EQ(view.origin_extra[0] * 10 + view.origin_extra[1], taken ? 23 : 11);
        EXPECT_EQ(batch_param_blocker(), taken ? "" : std::string("origin_point.txt: ") + c.why);
        clear_param_refusal("");
    }
    fs::remove("origin_point.txt");
    engine::params().set_value(engine::origin_x, 30);
    engine::params().set_value(engine::origin_y, 30);
}

// A list with names is read, removed and starts the batch (the batch program
// shows it end to end); an empty one is removed and starts nothing. A held
// batch says why once, on the console and in the window (whose title stays);
// right-foot names shift the origin, missing images are skipped.
TEST_F(ShellWindows, HeldBatchIsSaidOnceRightFootNamesShiftTheOriginMissingImagesAreSkipped) {
    const std::string list = platform::insole_dir() + "/Bmp_List.txt";
    put(list, "");
    image_view->read_bmp_list();
    EXPECT_EQ(image_view->bmp_count, 0);
    EXPECT_FALSE(fs::exists(list));
    EXPECT_FALSE(image_view->batch_load_pending || image_view->batch_job_running);

    const int ox = iv.origin_point[0];
    const char* names[] = {"abc_r.bmp", "def_r.bmp", "ghi_l.bmp"};
    for (int i = 0; i < 3; ++i) snprintf(iv.bmp_list[i], BMP_NAME_SIZE, "%s", names[i]);
    iv.bmp_count = 5;  // more to come: the batch does not end here
    iv.bmp_index = 0;
    iv.batch_load_pending = iv.batch_job_running = 1;
    captured([] { refuse_param_file("va_extrusion.txt", "holds 45, outside 0 to 10", 0.1); });
    const std::string held = captured([] {
        for (int i = 0; i < 5; ++i) view_3d->batch_load_step();
    });
    EXPECT_EQ(held, "va_extrusion.txt: holds 45, outside 0 to 10; no job is started, the images wait\n");
    EXPECT_EQ(iv.bmp_index, 0);
    EXPECT_TRUE(batch_hold_box->visible());
    EXPECT_STREQ(batch_hold_box->label(), "va_extrusion.txt: holds 45, outside 0 to 10\nno job is started, the images wait");
    EXPECT_STREQ(main_window->label(), "Strandel");
    clear_param_refusal("");
    testing::internal::CaptureStdout();
    view_3d->batch_load_step();
    EXPECT_FALSE(batch_hold_box->visible());
    EXPECT_EQ(iv.bmp_index, 1);  // missing: skipped
    EXPECT_EQ(engine::pval(engine::va_x_offset), 10);
    EXPECT_EQ(iv.origin_point[0], ox + 10);
    view_3d->batch_load_step();
    EXPECT_EQ(iv.origin_point[0], ox + 20);
    view_3d->batch_load_step();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(engine::pval(engine::va_x_offset), 0);
    EXPECT_EQ(iv.origin_point[0], ox + 20);
    EXPECT_EQ(engine::pval(engine::origin_x), ox + 20);
    EXPECT_EQ(iv.bmp_index, 3);
    EXPECT_TRUE(iv.batch_load_pending);
    EXPECT_NE(out.find("fname abc_r.bmp\nsizeof(fname) 9\nfname-6 _r.bmp\nFOUND RIGHT BMP\n\n"), std::string::npos)
        << out;
    EXPECT_FALSE(fs::exists("origin_point.txt"));  // the shift is not stored
    iv.origin_point[0] = ox;
    iv.batch_load_pending = iv.batch_job_running = 0;
    iv.bmp_count = 0;
    engine::params().set_value(engine::va_x_offset, 0);
    ASSERT_EQ(chdir((*tmp_ / "server").c_str()), 0);
}

// ---- the crosses -----------------------------------------------------------------------

// The test view's cross starts at the corner and measures inside the
// outline; the pointer's window row counts down from the top, the cross's
// row up from the bottom; a view gone leaves no redraw timer.
TEST(TestViewCross, MeasuresInsideTheOutlineFollowsThePointerAndLeavesNoTimer) {
    static uint8_t px[IMAGE_H][PLANE_ROW];
    memset(px, 0, sizeof px);
    auto v = std::make_unique<GL_Display_TEST>(0, 0, 150, 360);
    captured([&] { measure_cross(px, *v); });
    EXPECT_EQ(v->right_x - v->left_x, 149);
    EXPECT_EQ(v->cross_y - v->lower_y, 0);
    px[100][20] = px[100][80] = px[30][50] = 255;
    const struct {
        int x, y, left, right, lower;  // -1: not checked
    } cases[] = {{50, 100, 20, 80, 30}, {10, 100, 1, 20, -1}, {500, -7, -1, 0, 0}};  // outside: runs to 1, reads nothing
    for (const auto& c : cases) {
        v->cross_x = c.x, v->cross_y = c.y;
        measure_cross(px, *v);
        EXPECT_TRUE((c.left < 0 || v->left_x == c.left) && v->right_x == c.right && (c.lower < 0 || v->lower_y == c.lower))
            << c.x << "," << c.y << ": " << v->left_x << " " << v->right_x << " " << v->lower_y;
    }
    captured([&] { send(v.get(), FL_MOVE, 10, 20, 0); });
    EXPECT_EQ(v->cross_x * 1000 + v->cross_y, 10339);
    void* const p = v.get();
    EXPECT_TRUE(Fl::has_timeout(redraw_timer, p));
    v.reset();
    EXPECT_FALSE(Fl::has_timeout(redraw_timer, p));
    // The image view's cross sits at the reference point less the origin, scaled to the view.
    const float heel[2] = {150, 180};
    const int32_t origin[2] = {30, 40};
    float cx = 0, cy = 0;
    origin_cross_position(heel, origin, 525, 675, cx, cy);
    EXPECT_FLOAT_EQ(cx, 120 * 1.75f);
    EXPECT_FLOAT_EQ(cy, 140 * 1.875f);
}

// ---- batch load of a job image -----------------------------------------------------------

// A 150 x 360 (or other) BMP whose foot covers rows first..last (FreeImage rows, bottom first).
// Columns 40..109 hold foot value 60; `spot` sets one pixel {row, column, value}.
struct Spot {
    int row = -1, col = -1, value = 0;
};
void write_foot(const std::string& path, int first, int last, int w = 150, int h = 360, int bpp = 32,
                Spot spot = Spot()) {
    FIBITMAP* b = FreeImage_Allocate(w, h, bpp);
    for (int r = 0; r < h; ++r) {
        uint8_t* line = FreeImage_GetScanLine(b, r);
        for (int k = 0; k < w; ++k) {
            uint8_t* p = line + k * (bpp / 8);
            p[0] = r == spot.row && k == spot.col ? spot.value : r >= first && r <= last && k >= 40 && k < 110 ? 60 : 0;
            if (bpp == 32) p[3] = 0;
        }
    }
    ASSERT_TRUE(FreeImage_Save(FIF_BMP, b, path.c_str(), 0));
    FreeImage_Unload(b);
}

class BatchLoad : public ShellWindows {
protected:
    void SetUp() override {
        insole_ = platform::insole_dir();
        ASSERT_TRUE(platform::change_dir("C:\\insole\\"));
        batch_mode = true;
    }
    void TearDown() override {
        batch_mode = false;
        menu_version->value(0);
        image_view->batch_load_pending = image_view->batch_job_running = 0;
        image_view->bmp_count = image_view->bmp_index = 0;
        if (chdir((*tmp_ / "server").c_str()) != 0) ADD_FAILURE();
    }
    std::string insole_;
};

// Images the program can never print are moved with their settings file into
// refused/ (never deleted, never replacing what is there); names that reach
// outside the insole directory touch nothing; an image that cannot be read
// (still on its way, or missing) stays where it is.
TEST_F(BatchLoad, RefusedImagesAreSetAsideWithTheirSettingsAndNothingOutsideIsTouched) {
    menu_version->value(0);
    const std::string outside = insole_ + "/../outside.bmp";
    const std::string long_name = std::string(common::kMaxJobNameBytes + 1, 'n') + "_iRight.bmp";
    write_foot(insole_ + "/short.bmp", 100, 178);  // 79 rows
    put(insole_ + "/short.txt", "density 1");
    write_foot(insole_ + "/big.bmp", 10, 200, 200, 360);
    put(insole_ + "/big.txt", "density 2");
    write_foot(insole_ + "/" + long_name, 50, 300);
    write_foot(insole_ + "/back\\slash.bmp", 50, 300);
    write_foot(outside, 50, 300);
    write_foot(insole_ + "/onebit.bmp", 50, 300, 150, 360, 1);
    const std::string grey8 = slurp(std::string(STATION_SAMPLE_DIR) + "/foot_left_large_flat_8bit.bmp");
    std::string huge = grey8.substr(0, 54), colour = grey8;
    for (int at : {18, 22}) huge.replace(at, 4, "\xa0\x86\x01\x00", 4);  // 100000 x 100000, no pixel there
    colour[54 + 4 * 200 + 2] = 0;  // the red of palette entry 200
    put(insole_ + "/huge.bmp", huge);
    put(insole_ + "/colour.bmp", colour);
    fs::create_directory(insole_ + "/refused");
    put(insole_ + "/refused/short.bmp", "an earlier refused image");
    const std::vector<std::string> names = {"short.bmp", "big.bmp", long_name, "back\\slash.bmp", "../outside.bmp",
                                            outside, "..", "missing.bmp", "short79.bmp", "huge.bmp", "onebit.bmp",
                                            "colour.bmp"};
    for (size_t i = 0; i < names.size(); ++i) snprintf(iv.bmp_list[i], BMP_NAME_SIZE, "%s", names[i].c_str());
    iv.bmp_count = static_cast<int>(names.size()) + 1;  // more to come: the batch does not end here
    iv.bmp_index = 0;
    iv.batch_load_pending = iv.batch_job_running = 1;
    v.job_image_path.clear();
    const std::string out = captured([&] {
        for (size_t i = 0; i < names.size(); ++i) v.batch_load_step();
    });
    EXPECT_EQ(iv.bmp_index, static_cast<int>(names.size()));
    EXPECT_TRUE(v.job_image_path.empty());
    std::vector<std::string> refused, left;
    for (const auto& e : fs::directory_iterator(insole_ + "/refused")) refused.push_back(e.path().filename());
    for (const auto& e : fs::directory_iterator(insole_)) left.push_back(e.path().filename());
    std::sort(refused.begin(), refused.end());
    EXPECT_EQ(refused, (std::vector<std::string>{"back\\slash.bmp", "big.bmp", "big.txt", "colour.bmp", "huge.bmp",
                                                 long_name, "onebit.bmp", "short (2).bmp", "short (2).txt", "short.bmp"}));
    EXPECT_EQ(left, std::vector<std::string>{"refused"});
    EXPECT_EQ(slurp(insole_ + "/refused/short.bmp"), "an earlier refused image");
    EXPECT_EQ(slurp(insole_ + "/refused/big.txt"), "density 2");
    EXPECT_TRUE(fs::exists(outside));
    for (const char* line :
         {"short.bmp: refused (the foot spans fewer than 80 rows); set aside as ",
          "big.bmp: refused (not a 150 x 360 image); set aside as ", "refused (the G-code paths do not fit 128",
          "huge.bmp: refused (not a 150 x 360 image)", "onebit.bmp: refused (a 1-bit image holds no height values)",
          "colour.bmp: refused (its palette is not grey (entry 200 is 0, 200, 200))",
          "../outside.bmp: refused (unusable name: it holds a path separator); job skipped, nothing outside",
          ": refused (unusable name: it holds a path separator); job skipped, nothing outside",
          "..: refused (unusable name: it holds \"..\"); job skipped, nothing outside",
          "missing.bmp: missing or not a readable image; job skipped, the image is kept"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    fs::remove_all(insole_ + "/refused");
    fs::remove(outside);
}

// The state every batch case starts from: 點間距 3, 自訂角度 on, no turn.
void reset_job_parameters() {
    using namespace engine;
    params().set_value(bt_whole_insole, 0);
    params().set_value(bt_test1, 0);
    params().set_value(va_spacing, 0.1);
    params().set_value(va_point_space, 3);
    fill_interval_choice();
    params().set_value(ck_self_def_angle, 1);
    view_3d->current_angle = 0;
    view_3d->model_rot_z = 0;
    view_3d->raster.saved_point_space = 99;
    view_3d->raster.saved_interval_index = 99;
}

// A job's settings: "A4版" reads type and full from the server directory's
// file, which stays, and sets its own layer spacing of 0.3 (no parameter file
// written); "十月版" reads density from the image's own file. The file
// beside the image goes with the image, kept for a retry until then.
TEST_F(BatchLoad, JobSettingsOfEachVariant) {
    using namespace engine;
    const std::string img = insole_ + "/job.bmp", own = insole_ + "/job.txt";
    const std::string server = platform::server_dir() + "/job.txt";
    const struct {
        int variant;       // 2 "A4版", 0 "十月版"
        const char* text;  // of the variant's settings file; nullptr: none
        int whole, point_space, saved_point, self_angle, angle, rot_z;
        const char* interval;  // the selected item of "interval"; nullptr: not checked
        int saved_index;
    } cases[] = {
        {2, "full 1\ntype s\n", 1, 4, 4, 1, 75, 0, nullptr, 0},
        {2, "type c full 0", 0, 6, 6, 0, -45, -45, nullptr, 0},
        {2, "type l", 0, 4, 4, 0, -45, -45, nullptr, 0},
        // Any other type: only spacing and 全墊列印; the image's own turn of -75 stays.
        {2, "full 7 type q", 1, 3, 3, 1, -75, 0, nullptr, 0},
        {0, nullptr, 0, 3, 99, 1, -75, 0, "3", 99},  // nothing but the turn changes
        {0, "density 0", 0, 6, 99, 0, -45, -45, "3", 99},
        {0, "density 1 nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn end", 0, 5, 5, 0,
         -45, -45, "2.5", 3},
        {0, "density 2", 0, 4, 4, 0, -45, -45, "2", 2},
        {0, "density 9", 0, 3, 99, 0, -45, -45, "3", 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "no settings file");
        menu_version->value(c.variant);
        reset_job_parameters();
        write_foot(img, 50, 300);
        fs::remove(own);
        if (c.variant == 2) put(server, c.text), put(own, "density 1");  // a same-named file in C:\insole
        if (c.variant == 0 && c.text) put(own, c.text);
        std::string to_remove;
        const std::string out = captured([&] { EXPECT_TRUE(load_batch_file(img, nullptr, &to_remove)); });
        EXPECT_TRUE(c.variant == 2 || out.find("tmpFile job.txt\n") != std::string::npos) << out;
        EXPECT_TRUE(!c.text || strlen(c.text) < 80 || out.find("a token of 80 characters skipped") != std::string::npos);
        EXPECT_EQ(pval(bt_whole_insole), c.whole);
        EXPECT_TRUE(c.variant == 0 || std::abs(pval(va_spacing) - 0.3) < 1e-6);
        EXPECT_EQ(pval(va_point_space), c.point_space);
        EXPECT_EQ(view_3d->raster.saved_point_space, c.saved_point);
        if (c.interval) {
            EXPECT_STREQ(static_cast<Fl_Choice*>(param_widgets[choice_interval])->text(), c.interval);
            EXPECT_EQ(view_3d->raster.saved_interval_index, c.saved_index);
        }
        EXPECT_EQ(pval(ck_self_def_angle), c.self_angle);
        EXPECT_EQ(view_3d->current_angle, c.angle);
        EXPECT_EQ(pval(out_current_angle), c.angle);
        EXPECT_EQ(view_3d->model_rot_z, c.rot_z);
        EXPECT_TRUE(c.variant == 0 || fs::exists(server));
        EXPECT_EQ(fs::exists(own), c.text != nullptr);
        EXPECT_EQ(to_remove, c.text ? own : "");
    }
    EXPECT_FALSE(fs::exists(*tmp_ / "server/va_spacing.txt"));
    for (const std::string& f : {server, own, img}) fs::remove(f);
    reset_job_parameters();
}

// A job's end: its image and settings stay until its G-code is in place, the
// next run tries it again (the batch program shows it end to end, and that
// both go once it is); a job that wrote no layer never prints.
TEST_F(BatchLoad, FinishedQuenorJobKeepsItsFilesUntilTheGcodeIsInPlace) {
    menu_version->value(0);
    const std::string img = insole_ + "/retry.bmp", settings = insole_ + "/retry.txt";
    write_foot(img, 50, 300);
    put(settings, "density 1");
    v.job_image_path = img, v.job_settings_path = settings;
    // A job file still in temp/ (the rename failed) is not in place, even with
    // an older file of the final name there.
    const std::string fin = *tmp_ / "VerdanelFiles/retry.gcode", temp = *tmp_ / "VerdanelFiles/temp/retry.gcode";
    put(fin, "G1");
    put(temp, "G1");
    snprintf(v.gcode_path, sizeof v.gcode_path, "%s", fin.c_str());
    snprintf(v.gcode_temp_path, sizeof v.gcode_temp_path, "%s", temp.c_str());
    iv.batch_job_running = 1;
    iv.bmp_count = 2, iv.bmp_index = 1;  // more to come: the end of the batch ends the program
    v.raster.layers_written = 3;
    EXPECT_NE(captured([&] { batch_job_finished(v); }).find("the image is kept"), std::string::npos);
    EXPECT_TRUE(fs::exists(img) && fs::exists(settings));
    EXPECT_FALSE(iv.batch_job_running);
    EXPECT_TRUE(iv.batch_load_pending);  // on to the next name
    fs::remove(temp);
    v.job_image_path = img, v.job_settings_path = settings, v.raster.layers_written = 0;
    const std::string said = captured([&] { batch_job_finished(v); });
    EXPECT_NE(said.find("retry.bmp: refused (no layer of the foot has a path to print)"), std::string::npos) << said;
    EXPECT_TRUE(fs::exists(insole_ + "/refused/retry.bmp") && fs::exists(insole_ + "/refused/retry.txt"));
    EXPECT_TRUE(v.job_settings_path.empty());
    fs::remove_all(insole_ + "/refused");
    fs::remove(fin);
    v.model.clear();
    reset_job_parameters();
}

// The batch load's own steps on the foot map: the slope pass with edge limit
// 2, the heel floor unless 全墊列印, the heel point recentred on the raster.
TEST_F(BatchLoad, SlopeHeelFloorAndHeelPointOfTheLoad) {
    using namespace engine;
    menu_version->value(1);  // "一般版": no settings file
    const std::string img = insole_ + "/steps.bmp";
    for (int whole : {0, 1}) {
        SCOPED_TRACE(whole);
        reset_job_parameters();
        params().set_value(bt_test1, 1);
        params().set_value(bt_whole_insole, whole);
        params().set_value(ck_self_def_angle, 0);
        view_3d->current_angle = 0;
        view_3d->model_rot_z = 10;
        // A spike of 70 in the flat 60 of the foot (rows 50..300, columns 40..109).
        write_foot(img, 50, 300, 150, 360, 32, Spot{200, 70, 70});
        PressureImage& pi = gp_img->img;
        captured([&] { EXPECT_TRUE(load_batch_file(img)); });
        EXPECT_EQ(pi.slope_image[200][70], 62);  // at most 2 over its side neighbours
        EXPECT_EQ(pi.foot_image[200][70], 62);
        EXPECT_EQ(pi.foot_image[200][71], 60);
        // 自訂角度 off: the turn becomes -45 and the model turns by -45 from where it was.
        EXPECT_EQ(view_3d->current_angle, -45);
        EXPECT_EQ(view_3d->model_rot_z, -35);

        // A faint 5 in the heel third: lo 50, hi 300, so rows below 50 + 250 / 3 = 133.
        write_foot(img, 50, 300, 150, 360, 32, Spot{120, 45, 5});
        params().set_value(bt_test1, 0);
        captured([&] { EXPECT_TRUE(load_batch_file(img)); });
        EXPECT_EQ(pi.foot_image[120][45], whole ? 5 : 16);
        // The first run of values >= 10 on the lowest row: row 50, columns 40..109.
        EXPECT_EQ(gp_img->heel_raw[0], 40 + 70 / 2);
        EXPECT_EQ(gp_img->heel_raw[1], 50);
        const ModelBox& b = view_3d->box;
        EXPECT_FLOAT_EQ(gp_img->heel_point[0], 75 + 150 - (b.model_min_x + b.model_max_x) * 0.5f);
        EXPECT_FLOAT_EQ(gp_img->heel_point[1],
                        50 + 180 - (b.model_min_y + b.model_max_y) * 0.5f + gp_img->shape.decresing_time);
    }
    fs::remove(img);
    view_3d->model.clear();
    reset_job_parameters();
}

// The start step counts the name as used even when its G-code cannot be
// opened (where an opened one goes, the batch program shows end to end); an
// image loaded but never measured is skipped at the next frame.
TEST_F(BatchLoad, StartStepAdvancesTheIndexAndAnUnmeasuredImageIsSkipped) {
    snprintf(iv.bmp_list[1], BMP_NAME_SIZE, "%s", std::string(120, 'n').c_str());  // paths too long
    iv.bmp_count = 3;
    iv.bmp_index = 1;
    iv.batch_slice_pending = 1;
    captured([&] { v.batch_start_step(); });
    EXPECT_EQ(iv.bmp_index, 2);
    EXPECT_FALSE(iv.batch_job_running || iv.batch_slice_pending);
    EXPECT_TRUE(iv.batch_load_pending);  // on to the next name

    const int ox = iv.origin_point[0];
    const std::string img = insole_ + "/twice.bmp";
    write_foot(img, 50, 300);
    snprintf(iv.bmp_list[0], BMP_NAME_SIZE, "%s", "twice.bmp");
    iv.bmp_index = 0;
    iv.batch_load_pending = iv.batch_job_running = 1;
    testing::internal::CaptureStdout();
    view_3d->batch_load_step();  // loaded; no layer step measures it
    EXPECT_EQ(iv.bmp_index, 0);
    EXPECT_TRUE(iv.batch_load_pending);
    view_3d->batch_load_step();  // the next frame moves on instead of loading it again
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(iv.bmp_index, 1);
    EXPECT_TRUE(iv.batch_load_pending);
    EXPECT_TRUE(view_3d->job_image_path.empty());
    EXPECT_TRUE(fs::exists(img));  // no G-code came of it
    EXPECT_NE(out.find("twice.bmp: the model was not measured"), std::string::npos) << out;
    fs::remove(img);
    view_3d->model.clear();
    iv.origin_point[0] = ox;
}

TEST(SaveGcodeName, GcodeAddedUnlessTheNameEndsSo) {
    const char* cases[][2] = {{"left", "left.gcode"}, {"left.gcode", "left.gcode"},
                              {"left.GCODE", "left.GCODE.gcode"}, {"/tmp/a/.gcode", "/tmp/a/.gcode"}};
    for (const auto& c : cases) EXPECT_EQ(gcode_save_name(c[0]), c[1]);
}

}  // namespace
