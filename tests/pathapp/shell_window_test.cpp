// The path program's windows built in an empty working directory: places,
// labels, start values, the variant menu, the label font, the image view's
// origin grip and job list, the test view's measuring cross, and the batch
// load of job images with their per-job settings files.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Menu_Button.H>
#include <FreeImage.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

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

void collect(Fl_Widget* w, std::vector<Fl_Widget*>& out) {
    out.push_back(w);
    if (Fl_Group* g = w->as_group())
        for (int i = 0; i < g->children(); ++i) collect(g->child(i), out);
}

class ShellWindows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (tmp_) return;  // the windows are built once per program, as in Strandel
        tmp_ = new testsupport::TempDir();
        fs::create_directories(*tmp_ / "server");
        fs::create_directories(*tmp_ / "insole");
        fs::create_directories(*tmp_ / "VerdanelFiles/Hostlet");
        fs::create_directories(*tmp_ / "VerdanelFiles/temp");
        setenv("STATION_INSOLE_DIR", (*tmp_ / "insole").c_str(), 1);
        setenv("STATION_FILES_DIR", (*tmp_ / "VerdanelFiles").c_str(), 1);
        // Start-up reads everything relative to an empty working directory.
        ASSERT_EQ(chdir((*tmp_ / "server").c_str()), 0);
        testing::internal::CaptureStdout();
        use_cjk_font();
        build_windows();
        startup_log_ = new std::string(testing::internal::GetCapturedStdout());
    }
    static void TearDownTestSuite() {
        // The windows live to the end of the program, as in Strandel.
        if (chdir("/") != 0) return;
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
    static std::string* startup_log_;
};
testsupport::TempDir* ShellWindows::tmp_ = nullptr;
std::string* ShellWindows::startup_log_ = nullptr;

struct Row {
    const char* label;
    int x, y, w, h;
};

TEST_F(ShellWindows, BothWindowsHaveTheirSizesAndTitles) {
    ASSERT_NE(main_window, nullptr);
    EXPECT_STREQ(main_window->label(), "Strandel");
    EXPECT_EQ(main_window->w(), 1576);
    EXPECT_EQ(main_window->h(), 828);
    EXPECT_FALSE(main_window->resizable());
    EXPECT_STREQ(adv_edit_window->label(), "Adv Edit");
    EXPECT_EQ(adv_edit_window->w(), 382);
    EXPECT_EQ(adv_edit_window->h(), 331);
    EXPECT_FALSE(adv_edit_window->shown());
    EXPECT_EQ(image_view->x(), 25);
    EXPECT_EQ(image_view->y(), 65);
    EXPECT_EQ(image_view->w(), 525);
    EXPECT_EQ(image_view->h(), 675);
    EXPECT_EQ(view_3d->x(), 565);
    EXPECT_EQ(view_3d->w(), 260);
    EXPECT_EQ(test_view->x(), 1390);
    EXPECT_EQ(test_view->h(), 360);
    EXPECT_EQ(gp_img, image_view);
    // The three views are closed as groups: no widget became their child.
    EXPECT_EQ(image_view->children(), 0);
    EXPECT_EQ(view_3d->children(), 0);
    EXPECT_EQ(test_view->children(), 0);
    EXPECT_NE(startup_log_->find("w 150   h 360 \n"), std::string::npos);
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
    // Hidden from creation on: "同向加速" and the frame with "Reset", "Test" and a "CUT Plane".
    EXPECT_FALSE(find(main_window, "同向加速", 1187, 505, 65, 28)->visible());
    EXPECT_FALSE(find(main_window, "Reset", 95, 335, 75, 60)->visible_r());
    EXPECT_TRUE(find(main_window, "預擠回抽速度", 1187, 507, 65, 28)->visible());
    EXPECT_STREQ(find(main_window, "預擠", 1219, 663, 65, 28)->tooltip(), "要比回抽還高");
    EXPECT_STREQ(find(main_window, "回抽", 1219, 689, 65, 28)->tooltip(), "要比預擠還低");
}

TEST_F(ShellWindows, ParametersShowTheirStartValues) {
    using namespace engine;
    for (int i = 0; i < PARAM_COUNT; ++i) {
        const ParamId id = static_cast<ParamId>(i);
        const ParamInfo& p = param_info(id);
        // Choices and texts have no number to start at; the offset check is
        // switched on by the start-up itself.
        if (p.kind == ParamKind::CH || p.kind == ParamKind::MI || id == ck_offset_cross) continue;
        EXPECT_NEAR(pval(id), p.start, 1e-6) << p.name;
    }
    EXPECT_EQ(image_view->origin_point[0], 30);
    EXPECT_EQ(image_view->origin_point[1], 30);
    EXPECT_EQ(pval(ck_offset_cross), 1);
    EXPECT_EQ(pval(choice_interval), 2);  // "0.300000", "1", "3", "1.5" with "3" selected
    EXPECT_TRUE(param_widgets[choice_interval]->active());
    EXPECT_TRUE(view_3d->raster.grid.empty());  // no PointSpacing.txt, no sample grid
}

TEST_F(ShellWindows, VariantMenuStartsAtItsStoredItemAndTitlesFollowPicks) {
    EXPECT_EQ(current_variant(), 0);
    const struct {
        const char* item;
        const char* title;
    } variants[] = {{"十月版", "Fitmire (Quenor)"}, {"一般版", "Fitmire (Normal)"}, {"A4版", "Fitmire (A4)"}};
    for (int i : {1, 2, 0}) {
        EXPECT_STREQ(menu_version->menu()[i].label(), variants[i].item);
        menu_version->value(i);
        choose_variant_title(menu_version, nullptr);
        EXPECT_STREQ(main_window->label(), variants[i].title);
    }
    EXPECT_FALSE(fs::exists("sl_version.txt"));  // picking never stores the variant
    main_window->label("Strandel");
}

TEST_F(ShellWindows, PanelToggleChangesOnlyTheWindowSize) {
    auto* t = static_cast<Fl_Button*>(param_widgets[engine::bt_panel_toggle]);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->x(), 1);
    EXPECT_EQ(t->y(), 690);
    t->value(1);
    t->do_callback();
    EXPECT_EQ(main_window->w(), 765);
    EXPECT_EQ(main_window->h(), 720);
    t->value(0);
    t->do_callback();
    EXPECT_EQ(main_window->w(), 1375);
    EXPECT_EQ(main_window->h(), 792);
    // Widgets keep their places: "版本設定" now lies beyond the window's edges.
    EXPECT_NE(find(main_window, "版本設定", 1485, 790, 85, 35), nullptr);
    main_window->size(1576, 828);
}

TEST_F(ShellWindows, VariantFileReading) {
    // Anything but 0..2 gives the first item.
    const struct {
        const char* text;
        int variant;
    } cases[] = {{"2", 2}, {"abc", 0}, {"7", 0}, {"-1", 0}};
    for (const auto& c : cases) {
        put("v.txt", c.text);
        EXPECT_EQ(read_variant_file("v.txt"), c.variant) << c.text;
    }
    fs::remove("v.txt");
    EXPECT_EQ(read_variant_file("v.txt"), 0);
}

TEST_F(ShellWindows, LabelFontHoldsEveryLabelCharacter) {
    const char* name = Fl::get_font(FL_HELVETICA);
    ASSERT_NE(name, nullptr);
    std::string family = name + 1;  // FLTK's Xft names start with a style character
    FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>(family.c_str()));
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
        if (!w->label()) continue;
        const unsigned char* s = reinterpret_cast<const unsigned char*>(w->label());
        int len = static_cast<int>(strlen(w->label()));
        while (len > 0) {
            FcChar32 c;
            const int n = FcUtf8ToUcs4(s, &c, len);
            ASSERT_GT(n, 0);
            EXPECT_TRUE(FcCharSetHasChar(cs, c)) << w->label() << " U+" << std::hex << c;
            s += n;
            len -= n;
            ++checked;
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

TEST_F(ShellWindows, OriginGripIsNineByNinePixels) {
    const int h = image_view->h();
    const int oy = h - 1 - image_view->origin_point[1];  // window row of the origin
    const int ox = image_view->origin_point[0];
    EXPECT_TRUE(image_view->grips_origin(ox + 4, oy - 4));  // 4 right, 4 above
    EXPECT_TRUE(image_view->grips_origin(ox - 4, oy + 4));
    EXPECT_FALSE(image_view->grips_origin(ox + 5, oy));
    EXPECT_FALSE(image_view->grips_origin(ox, oy - 5));
}

TEST_F(ShellWindows, DraggedOriginIsWrittenOnRelease) {
    const int h = image_view->h();
    const int ox = image_view->origin_point[0], oy = h - 1 - image_view->origin_point[1];
    testing::internal::CaptureStdout();
    send(image_view, FL_PUSH, ox + 4, oy - 4, FL_LEFT_MOUSE);
    ASSERT_TRUE(image_view->dragging_origin);
    send(image_view, FL_DRAG, 12, h - 1 - 40, FL_LEFT_MOUSE);
    EXPECT_FALSE(fs::exists("origin_point.txt"));
    send(image_view, FL_RELEASE, 12, h - 1 - 40, FL_LEFT_MOUSE);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(slurp("origin_point.txt"), "12\n40\n1\n1\n");
    EXPECT_FALSE(image_view->dragging_origin);
    EXPECT_EQ(engine::pval(engine::origin_x), 12);
    EXPECT_EQ(engine::pval(engine::origin_y), 40);
    EXPECT_NE(out.find("mouse position [ 12, 634 ] \n"), std::string::npos);
    // A push beside the origin takes nothing.
    send(image_view, FL_PUSH, 12 + 5, h - 1 - 40, FL_LEFT_MOUSE);
    EXPECT_FALSE(image_view->dragging_origin);
    send(image_view, FL_RELEASE, 12 + 5, h - 1 - 40, FL_LEFT_MOUSE);
    fs::remove("origin_point.txt");
    image_view->origin_point[0] = image_view->origin_point[1] = 30;
}

// The image view reads origin_point.txt through the bounded parameter-file
// reader: numbers beyond int are held at its ends, a word stops the rest.
TEST_F(ShellWindows, OriginFileWithHugeNumberAndWordIsReadSafely) {
    put("origin_point.txt", "99999999999999999999\n-7\nbroken 5\n");
    testing::internal::CaptureStdout();
    {
        GL_Display_Image view(0, 0, 100, 100);
        EXPECT_EQ(view.origin_point[0], 2147483647);
        EXPECT_EQ(view.origin_point[1], -7);
        EXPECT_EQ(view.origin_extra[0], 1);
        EXPECT_EQ(view.origin_extra[1], 1);
    }
    testing::internal::GetCapturedStdout();
    fs::remove("origin_point.txt");
    engine::params().set_value(engine::origin_x, 30);
    engine::params().set_value(engine::origin_y, 30);
}

TEST_F(ShellWindows, JobListIsReadDeletedAndStartsTheBatch) {
    const std::string list = platform::insole_dir() + "/Bmp_List.txt";
    put(list, "a.bmp\nb.bmp");
    testing::internal::CaptureStdout();
    image_view->read_bmp_list();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "bmp_list[ 0 ] a.bmp\nbmp_list[ 0 ] a.bmp\nbmp_list[ 1 ] b.bmp\n");
    EXPECT_EQ(image_view->bmp_count, 2);
    EXPECT_FALSE(fs::exists(list));
    EXPECT_TRUE(image_view->batch_load_pending);
    EXPECT_TRUE(image_view->batch_job_running);
    image_view->batch_load_pending = image_view->batch_job_running = 0;

    put(list, "");
    image_view->read_bmp_list();
    EXPECT_EQ(image_view->bmp_count, 0);
    EXPECT_FALSE(fs::exists(list));
    EXPECT_FALSE(image_view->batch_load_pending);

    image_view->read_bmp_list();  // no file: nothing printed, no batch
    EXPECT_EQ(image_view->bmp_count, 0);
    EXPECT_FALSE(image_view->batch_job_running);
}

TEST_F(ShellWindows, RightFootNamesShiftTheOriginAndMissingImagesAreSkipped) {
    GL_Display_Image& iv = *image_view;
    const int ox = iv.origin_point[0];
    const char* names[] = {"abc_r.bmp", "def_r.bmp", "ghi_l.bmp"};
    for (int i = 0; i < 3; ++i) snprintf(iv.bmp_list[i], BMP_NAME_SIZE, "%s", names[i]);
    iv.bmp_count = 5;  // more to come: the batch does not end here
    iv.bmp_index = 0;
    iv.batch_load_pending = iv.batch_job_running = 1;
    testing::internal::CaptureStdout();
    view_3d->batch_load_step();
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

TEST_F(ShellWindows, JobImageGoesOnlyOnceItsGcodeIsInPlace) {
    GL_Display_Image& iv = *image_view;
    GL_Display_3D& v = *view_3d;
    const std::string img = *tmp_ / "insole/done.bmp";
    const std::string fin = *tmp_ / "VerdanelFiles/done.gcode";
    const std::string temp = *tmp_ / "VerdanelFiles/temp/done.gcode";
    put(img, "x");
    put(temp, "G1");
    put(fin, "G1");  // an older file of the same name
    snprintf(v.gcode_path, sizeof v.gcode_path, "%s", fin.c_str());
    snprintf(v.gcode_temp_path, sizeof v.gcode_temp_path, "%s", temp.c_str());
    v.job_image_path = img;
    iv.bmp_count = 3;
    iv.bmp_index = 1;
    iv.batch_job_running = 1;
    testing::internal::CaptureStdout();
    batch_job_finished(v);  // the temp file was not moved: the image stays
    EXPECT_NE(testing::internal::GetCapturedStdout().find("the image is kept"), std::string::npos);
    EXPECT_TRUE(fs::exists(img));
    EXPECT_FALSE(iv.batch_job_running);
    EXPECT_TRUE(iv.batch_load_pending);

    fs::remove(temp);
    v.job_image_path = img;
    iv.batch_job_running = 1;
    iv.batch_load_pending = 0;
    batch_job_finished(v);
    EXPECT_FALSE(fs::exists(img));
    EXPECT_TRUE(iv.batch_load_pending);
    EXPECT_TRUE(v.job_image_path.empty());
    iv.batch_load_pending = 0;
    iv.bmp_count = 0;
    iv.bmp_index = 0;
    fs::remove(fin);
}

TEST_F(ShellWindows, MouseTurnsAndZoomsThe3DView) {
    const float yaw = view_3d->view_yaw, pitch = view_3d->view_pitch, zoom = view_3d->zoom;
    send(view_3d, FL_PUSH, 100, 100, FL_LEFT_MOUSE);
    send(view_3d, FL_DRAG, 110, 95, FL_LEFT_MOUSE);
    EXPECT_FLOAT_EQ(view_3d->view_yaw, yaw + 10);
    EXPECT_FLOAT_EQ(view_3d->view_pitch, pitch - 5);
    Fl::e_dy = 3;
    view_3d->handle(FL_MOUSEWHEEL);
    EXPECT_FLOAT_EQ(view_3d->zoom, zoom + 0.3f);
    view_3d->view_yaw = yaw;
    view_3d->view_pitch = pitch;
    view_3d->zoom = zoom;
}

// ---- test view -------------------------------------------------------------------------

TEST(TestViewCross, StartsAtTheCornerAndMeasuresInsideTheOutline) {
    static uint8_t px[IMAGE_H][PLANE_ROW];
    memset(px, 0, sizeof px);
    auto v = std::make_unique<GL_Display_TEST>(0, 0, 150, 360);
    captured([&] { measure_cross(px, *v); });
    EXPECT_EQ(v->right_x - v->left_x, 149);
    EXPECT_EQ(v->cross_y - v->lower_y, 0);

    px[100][20] = px[100][80] = 255;
    px[30][50] = 255;
    v->cross_x = 50;
    v->cross_y = 100;
    measure_cross(px, *v);
    EXPECT_EQ(v->left_x, 20);
    EXPECT_EQ(v->right_x, 80);
    EXPECT_EQ(v->lower_y, 30);

    v->cross_x = 10;  // outside on the left: the scan runs to 1
    measure_cross(px, *v);
    EXPECT_EQ(v->left_x, 1);
    EXPECT_EQ(v->right_x, 20);

    v->cross_x = 500;  // pointer beyond the picture reads nothing outside it
    v->cross_y = -7;
    measure_cross(px, *v);
    EXPECT_EQ(v->right_x, 0);
    EXPECT_EQ(v->lower_y, 0);
}

TEST(TestViewCross, ViewGoneLeavesNoRedrawTimer) {
    auto v = std::make_unique<GL_Display_TEST>(0, 0, 150, 360);
    void* const p = v.get();
    EXPECT_TRUE(Fl::has_timeout(redraw_timer, p));
    v.reset();
    EXPECT_FALSE(Fl::has_timeout(redraw_timer, p));
}

// ---- batch load of a job image -----------------------------------------------------------

// A 150 x 360 (or other) BMP whose foot covers rows first..last (FreeImage rows, bottom first).
void write_foot(const std::string& path, int first, int last, int w = 150, int h = 360, int bpp = 32,
                uint8_t pressure = 0) {
    FIBITMAP* b = FreeImage_Allocate(w, h, bpp);
    for (int r = 0; r < h; ++r) {
        uint8_t* line = FreeImage_GetScanLine(b, r);
        for (int k = 0; k < w; ++k) {
            uint8_t* p = line + k * (bpp / 8);
            const bool foot = r >= first && r <= last && k >= 40 && k < 110;
            p[0] = foot ? 60 : 0;
            if (bpp == 32) p[3] = pressure;
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
        if (chdir((*tmp_ / "server").c_str()) != 0) ADD_FAILURE();
    }
    std::string insole_;
};

TEST_F(BatchLoad, FootOfSeventyNineRowsIsRemovedAndSkipped) {
    const std::string img = insole_ + "/short.bmp";
    write_foot(img, 100, 178);
    bool refused = false;
    captured([&] { EXPECT_FALSE(load_batch_file(img, &refused)); });
    EXPECT_TRUE(refused);
    EXPECT_FALSE(fs::exists(img));

    write_foot(img, 100, 179);
    captured([&] { EXPECT_TRUE(load_batch_file(img, &refused)); });
    EXPECT_FALSE(refused);
    EXPECT_TRUE(fs::exists(img));  // removed only once its G-code is in place
    EXPECT_EQ(view_3d->raster.insole_mesh_model, 1);
    fs::remove(img);
}

TEST_F(BatchLoad, WrongSizeIsRefusedOnTheConsoleWithoutADialog) {
    const std::string img = insole_ + "/big.bmp";
    write_foot(img, 10, 200, 200, 360);
    bool refused = false;
    const std::string out = captured([&] { EXPECT_FALSE(load_batch_file(img, &refused)); });
    EXPECT_TRUE(refused);
    EXPECT_NE(out.find(img + ": not a 150 x 360 image"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(img));

    bool refused_missing = true;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(load_batch_file(insole_ + "/missing.bmp", &refused_missing));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Unable to load texture: " + insole_ +
                                                          "/missing.bmp: missing or not a readable image; job skipped\n"),
              std::string::npos);
    EXPECT_FALSE(refused_missing);
}

TEST_F(BatchLoad, PressureMaxOfA32BitJobImage) {
    const std::string img = insole_ + "/p.bmp";
    write_foot(img, 50, 300, 150, 360, 32, 200);
    const std::string out = captured([&] { EXPECT_TRUE(load_batch_file(img)); });
    EXPECT_EQ(gp_img->img.pressure_max, 200);
    EXPECT_NE(out.find("gp_img->pressure_max 200\n "), std::string::npos);
    EXPECT_NE(out.find("bpp 32\n"), std::string::npos);
    fs::remove(img);
}

TEST_F(BatchLoad, A4SettingsFullOneTypeS) {
    menu_version->value(2);
    const std::string img = insole_ + "/job.bmp";
    write_foot(img, 50, 300);
    const std::string settings = platform::server_dir() + "/job.txt";
    put(settings, "full 1\ntype s\n");
    captured([&] { EXPECT_TRUE(load_batch_file(img)); });
    using namespace engine;
    EXPECT_EQ(pval(bt_whole_insole), 1);
    EXPECT_NEAR(pval(va_spacing), 0.3, 1e-6);
    EXPECT_EQ(pval(va_point_space), 4);
    EXPECT_EQ(pval(ck_self_def_angle), 1);
    EXPECT_EQ(view_3d->current_angle, 75);
    EXPECT_EQ(pval(out_current_angle), 75);
    EXPECT_EQ(view_3d->raster.saved_point_space, 4);
    EXPECT_TRUE(fs::exists(settings));  // only a same-named file in C:\insole goes
    // No parameter file was written by the job's settings.
    EXPECT_FALSE(fs::exists(*tmp_ / "server/va_spacing.txt"));
    fs::remove(settings);
    fs::remove(img);
    params().set_value(bt_whole_insole, 0);
    params().set_value(va_spacing, 0.1);
    params().set_value(va_point_space, 3);
    params().set_value(ck_self_def_angle, 1);
}

TEST_F(BatchLoad, QuenorWithoutSettingsKeepsParametersAndDensityTwoSetsSpacing) {
    menu_version->value(0);
    const std::string img = insole_ + "/oct.bmp";
    write_foot(img, 50, 300);
    const double spacing = engine::pval(engine::va_point_space);
    std::string out = captured([&] { EXPECT_TRUE(load_batch_file(img)); });
    EXPECT_NE(out.find("tmpFile oct.txt\n"), std::string::npos);
    EXPECT_EQ(engine::pval(engine::va_point_space), spacing);

    put(insole_ + "/oct.txt", "density 2");
    captured([&] { EXPECT_TRUE(load_batch_file(img)); });
    EXPECT_EQ(engine::pval(engine::va_point_space), 4);
    EXPECT_EQ(engine::pval(engine::ck_self_def_angle), 0);
    EXPECT_EQ(view_3d->current_angle, -45);
    EXPECT_FALSE(fs::exists(insole_ + "/oct.txt"));  // read and removed

    put(insole_ + "/oct.txt", "density 1 note " + std::string(80, 'a'));  // a token too long for the reader
    out = captured([&] { EXPECT_FALSE(load_batch_file(img)); });
    EXPECT_NE(out.find("job refused"), std::string::npos);
    EXPECT_TRUE(fs::exists(img));
    EXPECT_TRUE(fs::exists(insole_ + "/oct.txt"));
    fs::remove(insole_ + "/oct.txt");
    fs::remove(img);
    engine::params().set_value(engine::va_point_space, 3);
    engine::params().set_value(engine::ck_self_def_angle, 1);
}

TEST_F(BatchLoad, ImageLoadedButNeverMeasuredIsSkippedAtTheNextFrame) {
    GL_Display_Image& iv = *image_view;
    const int ox = iv.origin_point[0];
    const std::string img = insole_ + "/twice.bmp";
    write_foot(img, 50, 300);
    snprintf(iv.bmp_list[0], BMP_NAME_SIZE, "%s", "twice.bmp");
    iv.bmp_count = 3;  // more to come: the batch does not end here
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
    iv.batch_load_pending = iv.batch_job_running = 0;
    iv.bmp_count = 0;
    iv.bmp_index = 0;
}

// FLTK compares a font's new name with the one it holds: the names of an
// earlier call must still be alive when the fonts are set again.
TEST(CjkFont, SettingTheFontsTwiceKeepsTheNamesReadable) {
    use_cjk_font();
    const std::string first = Fl::get_font(FL_HELVETICA);
    use_cjk_font();
    EXPECT_EQ(first, Fl::get_font(FL_HELVETICA));
}

TEST(SaveGcodeName, GcodeAddedUnlessTheNameEndsSo) {
    EXPECT_EQ(gcode_save_name("left"), "left.gcode");
    EXPECT_EQ(gcode_save_name("left.gcode"), "left.gcode");
    EXPECT_EQ(gcode_save_name("left.GCODE"), "left.GCODE.gcode");
    EXPECT_EQ(gcode_save_name("/tmp/a/.gcode"), "/tmp/a/.gcode");
}

}  // namespace
