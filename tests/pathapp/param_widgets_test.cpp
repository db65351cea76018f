// The parameter widgets in a working directory of their own: loading at
// creation, the callbacks' files and effects, the start-up orders and the
// widget-backed store; and the parameter file readers and writers on their
// own (formats, blanks, PointSpacing.txt, Parameters.txt).
#include <gtest/gtest.h>
#include <unistd.h>

#include <FL/Fl_Choice.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Value_Input.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Valuator.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/Fl_Window.H>

#include <algorithm>
#include <filesystem>
#include <typeinfo>
#include <memory>
#include <string>

#include "pathapp/param_files.h"
#include "pathapp/param_set.h"
#include "tests/support/gl_context.h"

using namespace pathapp;
using namespace engine;

namespace {

using testsupport::put;
using testsupport::slurp;
bool exists(const std::string& path) { return std::filesystem::exists(path); }
OneValue parse(const std::string& s, ParamFile fmt, double blank) {
    return parse_one_value(s.data(), s.size(), fmt, blank);
}

// Widgets in an unshown window, the working directory a fresh temporary one,
// the raster fields plain variables.
class ParamWidgets : public ::testing::Test {
protected:
    void SetUp() override {
        old_cwd_ = std::filesystem::current_path();
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        for (auto& w : param_widgets) w = nullptr;
        param_hooks() = ParamHooks();
        param_hooks().build_sample_grid = [this](int step) { steps.push_back(step); };
        RasterFields f;
        f.interval_values = &interval_values;
        f.path_request = &path_request, f.full_path_request = &full_path_request, f.height_request = &height_request;
        f.insole_mesh_model = &insole_mesh_model, f.run_total = &run_total;
        f.saved_point_space = &saved_point_space, f.saved_interval_index = &saved_interval_index;
        set_param_raster_fields(f);
        window_ = std::make_unique<Fl_Window>(1576, 828, "params");
    }

    void TearDown() override {
        window_.reset();
        for (auto& w : param_widgets) w = nullptr;
        param_hooks() = ParamHooks();
        set_param_raster_fields(RasterFields());
        clear_param_refusal("");
        ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
    }

    Fl_Widget* make(ParamId id) {
        window_->begin();
        Fl_Widget* w = create_param_widget(id, 10, 10, 100, 20);
        window_->end();
        return w;
    }

    // Creates the parameter again as a fresh start would.
    Fl_Widget* remake(ParamId id) {
        if (param_widgets[id]) {
            window_->remove(param_widgets[id]);
            delete param_widgets[id];
            param_widgets[id] = nullptr;
        }
        return make(id);
    }

    // What the toolkit does when the operator sets a value.
    void operate(ParamId id, double v) {
        store().set_value(id, v);
        param_widgets[id]->do_callback();
    }

    // The point-spacing widgets and the base-plate widgets in start-up order.
    void start_point_widgets() {
        make(ck_offset_cross);
        make(choice_interval);
        make(va_point_space);
        start_point_spacing();
    }

    WidgetParamStore& store() { return widget_param_store(); }
    Fl_Choice* interval_choice() { return static_cast<Fl_Choice*>(param_widgets[choice_interval]); }

    testsupport::TempDir dir_;
    std::string old_cwd_;
    std::unique_ptr<Fl_Window> window_;
    std::vector<float> interval_values;
    std::vector<int> steps;  // the sample grids built
    uint8_t path_request = 0, full_path_request = 0, height_request = 0, insole_mesh_model = 0;
    int32_t run_total = 5, saved_point_space = 0, saved_interval_index = 0;
};

}  // namespace

// The parameter table as the design lists it, written out by hand: widget
// class, range, step, start value, the file a change writes, the write and
// read formats and the value of a file that holds no number. "point" and
// "origin" are the files shared with other values; "text" a text block.
namespace {
enum class K { VI, VS, CB, LB, CH, MI };
struct Row {
    ParamId id;
    K kind;
    double min, max, step, start;
    const char* file;   // the file a change writes; nullptr: none
    const char* write;  // printf format of the file; "text", "point", "origin"
    const char* read;   // "%f" or "%d"
    double blank;
};
const Row kTable[] = {
    {va_thick_of_first_layer, K::VI, 0, 1, 0.001, 0.3, "va_thick_of_first_layer.txt", "%f", "%f", 0},
    {va_thick_of_second_layer, K::VI, 0, 1, 0.001, 0.3, "va_thick_of_second_layer.txt", "%f", "%f", 0},
    {ck_fixed_position, K::CB, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0},
    {ck_z_path_off, K::CB, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0},
    {va_first_extrusion, K::VI, 0, 1, 0.001, 0.1, "va_first_extrusion.txt", "%f", "%f", 0},
    {va_second_extrusion, K::VI, 0, 1, 0.001, 0.1, "va_second_extrusion.txt", "%f", "%f", 0},
    {tx_point_space_2, K::VS, 1, 10, 1, 3, "tx_point_space_2.txt", "%d", "%d", 1},
    {va_height_space, K::VI, 0, 100, 0, 100, "va_height_space.txt", "%f", "%f", 2.0},
    {va_interval, K::VS, 1, 10, 1, 3, nullptr, nullptr, nullptr, 0},
    {va_bm_para_2, K::VS, 0, 0.5, 0, 0.14, "va_bm_para_2.txt", "%f", "%f", 0},
    {origin_y, K::VI, -100, 300, 1, 0, "origin_point.txt", "origin", nullptr, 0},
    {origin_x, K::VI, -100, 300, 1, 0, "origin_point.txt", "origin", nullptr, 0},
    {va_spacing, K::VI, 0.01, 1, 0, 0.1, "va_spacing.txt", "%f", "%f", 0},
    {bt_show_path, K::LB, 0, 0, 0, 1, "bt_show_path.txt", "%d", "%d", 0},
    {bt_show_picture, K::LB, 0, 0, 0, 1, "bt_show_picture.txt", "%d", "%d", 0},
    {bt_show_point, K::LB, 0, 0, 0, 1, "bt_show_point.txt", "%d", "%d", 0},
    {tx_begin_area, K::MI, 0, 0, 0, 0, "tx_begin_area.txt", "text", nullptr, 0},
    {tx_end_area, K::MI, 0, 0, 0, 0, "tx_end_area.txt", "text", nullptr, 0},
    {va_up_move, K::VI, 0, 2, 0, 0.6, "va_up_move.txt", "%f", "%f", 0},
    {va_first_speed, K::VI, 0, 0, 0, 0, "va_first_speed.txt", "%d", "%d", 0},
    {va_other_speed, K::VI, 0, 0, 0, 0, "va_other_speed.txt", "%d", "%d", 0},
    {va_empty_speed, K::VI, 0, 0, 0, 0, "va_empty_speed.txt", "%d", "%d", 0},
    {va_no_cross_speed, K::VI, 0, 0, 0, 0, "va_no_cross_speed.txt", "%d", "%d", 0},
    {va_back_speed, K::VI, 0, 0, 0, 0, "va_back_speed.txt", "%d", "%d", 0},
    {va_extrusion, K::VI, 0, 1, 0.001, 0.1, "va_extrusion.txt", "%f", "%f", 0},
    {va_cross, K::VS, 1, 5, 1, 1, "va_cross.txt", "%d", "%f", 0},
    {va_pre_extrusion, K::VI, 0, 30, 1, 19, "va_pre_extrusion.txt", "%f", "%f", 0},
    {va_back_extrusion, K::VI, 0, 30, 1, 15, "va_back_extrusion.txt", "%f", "%f", 0},
    {ck_offset_cross, K::CB, 0, 0, 0, 0, "ck_offset_cross.txt", "%d", "%d", 0},
    {choice_interval, K::CH, 0, 0, 0, -1, "PointSpacing.txt", "point", nullptr, 0},
    {va_point_space, K::VS, 1, 10, 1, 3, "PointSpacing.txt", "point", nullptr, 0},
    {va_cut_plane, K::VS, 0, 0, 0.0001, 0, nullptr, nullptr, nullptr, 0},
    {va_offset_h, K::VI, 0, 10, 0.1, 0, nullptr, nullptr, nullptr, 0},
    {va_offset_v, K::VI, 0, 10, 0.1, 0, nullptr, nullptr, nullptr, 0},
    {tx_point_space_h, K::VS, 1, 10, 1, 3, "tx_point_space_h.txt", "%d", "%d", 1},
    {tx_point_space_v, K::VS, 1, 10, 1, 3, "tx_point_space_v.txt", "%d", "%d", 1},
    {bt_show_coord, K::LB, 0, 0, 0, 1, "bt_show_coord.txt", "%d", "%d", 0},
    {bt_show_contour, K::LB, 0, 0, 0, 1, "bt_show_contour.txt", "%d", "%d", 0},
    {va_layer_index, K::VS, 0, 10000, 1, 0, nullptr, nullptr, nullptr, 0},
    {bt_contour, K::LB, 0, 0, 0, 1, "bt_contour.txt", "%d", "%d", 0},
    {bt_test1, K::LB, 0, 0, 0, 0, "bt_test1.txt", "%d", "%d", 0},
    {va_start_layer, K::VS, 0, 10, 0.1, 0, nullptr, nullptr, nullptr, 0},
    {ck_self_def_angle, K::CB, 0, 0, 0, 1, "ck_self_def_angle.txt", "%d", "%d", 0},
    {va_print_thickness, K::VI, 0, 50, 1, 15, nullptr, nullptr, nullptr, 0},
    {ck_contour_mode, K::CB, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0},
    {va_extrusion_max, K::VI, 0, 1, 0.001, 0.1, "va_extrusion_max.txt", "%f", "%f", 0},
    {va_extrusion_min, K::VI, 0, 1, 0.001, 0.1, "va_extrusion_min.txt", "%f", "%f", 0},
    {bt_whole_insole, K::CB, 0, 0, 0, 0, "bt_whole_insole.txt", "%d", "%d", 0},
    {va_bm_para_1, K::VS, 0, 20, 1, 5, "va_bm_para_1.txt", "%d", "%d", 0},
    {bt_show_pts, K::LB, 0, 0, 0, 1, nullptr, nullptr, nullptr, 0},
    {choice_bottom_type, K::CH, 0, 0, 0, -1, "choice_bottom_type.txt", "%d", "%d", 0},
    {va_first_layer_height, K::VI, 0, 1, 0.1, 0.3, nullptr, nullptr, nullptr, 0},
    {ck_dence_bottom, K::CB, 0, 0, 0, 0, "ck_dence_bottom.txt", "%d\n", "%d", 0},
    {bt_save_stl, K::LB, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0},
    {va_x_offset, K::VI, 0, 30, 0, 0, nullptr, nullptr, nullptr, 0},
};

bool is_kind(Fl_Widget* w, K k) {
    const std::type_info* kinds[] = {&typeid(Fl_Value_Input),  &typeid(Fl_Value_Slider), &typeid(Fl_Check_Button),
                                     &typeid(Fl_Light_Button), &typeid(Fl_Choice),       &typeid(Fl_Multiline_Input)};
    return typeid(*w) == *kinds[static_cast<int>(k)];
}

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}
}  // namespace

TEST_F(ParamWidgets, EveryParameterAsTheTableGivesIt) {
    OriginPoint origin;
    param_hooks().get_origin = [&](OriginPoint& o) { o = origin; return true; };
    for (const Row& r : kTable) {
        SCOPED_TRACE(param_info(r.id).name);
        for (const std::string& f : files_in(dir_.path())) std::filesystem::remove(f);
        // The other of 預擠 / 回抽 out of the way of their interlock.
        store().set_value(va_pre_extrusion, 30);
        store().set_value(va_back_extrusion, 0);
        Fl_Widget* w = make(r.id);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(is_kind(w, r.kind)) << typeid(*w).name();
        if (auto* v = dynamic_cast<Fl_Valuator*>(w)) {
            EXPECT_DOUBLE_EQ(v->minimum(), r.min);
            EXPECT_DOUBLE_EQ(v->maximum(), r.max);
            EXPECT_DOUBLE_EQ(v->step(), r.step);
        }
        EXPECT_DOUBLE_EQ(r.kind == K::MI ? store().text(r.id).size() : store().value(r.id), r.start);

        // A change writes the row's file, in its format, and nothing else.
        const bool button = r.kind == K::CB || r.kind == K::LB;
        const double v = button ? (r.start != 0 ? 0 : 1) : r.kind == K::CH ? 2 : 17.75;
        if (r.kind == K::MI) {
            store().set_text(r.id, "G28\nG1 Z5");
            param_widgets[r.id]->do_callback();
        } else {
            operate(r.id, v);
        }
        const std::vector<std::string> written = files_in(dir_.path());
        EXPECT_EQ(written, r.file ? std::vector<std::string>{r.file} : std::vector<std::string>{});
        if (!r.file) {
            remake(r.id);
            continue;
        }
        const std::string fmt = r.write;
        char bytes[64] = "";
        if (fmt == "%f") snprintf(bytes, sizeof bytes, "%f", v);
        else if (fmt[0] == '%') snprintf(bytes, sizeof bytes, r.write, static_cast<int>(v));
        if (fmt == "text") snprintf(bytes, sizeof bytes, "G28\nG1 Z5");
        EXPECT_TRUE(!*bytes || slurp(r.file) == bytes) << slurp(r.file);
        if (r.kind == K::MI) {  // read back whole, however long
            const std::string text = std::string(3000, 'x') + "\nM104 S0\n";
            put(r.file, text);
            remake(r.id);
            EXPECT_EQ(store().text(r.id), text);
        }
        if (!r.read) {
            remake(r.id);
            continue;
        }

        // Read back at creation with the read format; a file without a number
        // gives the blank, unless the widget's range has no room for it.
        const bool small = std::string(r.read) == "%f" && r.min < 1;
        put(r.file, button ? (r.start != 0 ? "0" : "1") : small ? "0.25" : "2.75");
        remake(r.id);
        const double read = button ? v : std::string(r.read) == "%f" ? (small ? 0.25 : 2.75) : 2;
        EXPECT_DOUBLE_EQ(store().value(r.id), read);
        put(r.file, "");
        remake(r.id);
        EXPECT_DOUBLE_EQ(store().value(r.id), r.blank < r.min || r.blank > r.max ? r.start : r.blank);
        remake(r.id);
    }
    // The shape choice holds its three items; nothing is selected at start.
    auto* bottom = static_cast<Fl_Choice*>(param_widgets[choice_bottom_type]);
    ASSERT_EQ(bottom->size(), 4);  // three items and the end mark
    EXPECT_STREQ(bottom->text(0), "標準");
    EXPECT_STREQ(bottom->text(1), "足弓內縮");
    EXPECT_STREQ(bottom->text(2), "全部內縮");
}

// The batch waits while a value is refused or the layer spacing is not
// positive, however it came.
TEST_F(ParamWidgets, RefusedValuesHoldTheBatch) {
    make(va_spacing);
    EXPECT_EQ(batch_param_blocker(), "");
    store().set_value(va_spacing, 0);  // as a job's settings could, with no file read
    EXPECT_EQ(batch_param_blocker(), "va_spacing.txt: the layer spacing 0.000000 is not positive");
    operate(va_spacing, 5);
    EXPECT_EQ(batch_param_blocker(), "va_spacing.txt: holds 5, outside 0.01 to 1");
    operate(va_spacing, 0.5);
    EXPECT_EQ(batch_param_blocker(), "");
    put("va_spacing.txt", std::string(PARAM_FILE_LIMIT + 1, '1'));  // there, but not to be read whole
    remake(va_spacing);
    EXPECT_EQ(batch_param_blocker(), "va_spacing.txt: cannot be read");
}

TEST_F(ParamWidgets, ExtrusionInterlock) {
    make(va_pre_extrusion);
    make(va_back_extrusion);
    store().set_value(va_pre_extrusion, 10);
    operate(va_back_extrusion, 12);
    EXPECT_EQ(store().value(va_back_extrusion), 10);
    EXPECT_EQ(slurp("va_back_extrusion.txt"), "10.000000");
    store().set_value(va_back_extrusion, 15);
    operate(va_pre_extrusion, 5);
    EXPECT_EQ(store().value(va_pre_extrusion), 15);
    EXPECT_EQ(slurp("va_pre_extrusion.txt"), "15.000000");
    operate(va_pre_extrusion, 20);  // higher than 回抽: kept
    EXPECT_EQ(store().value(va_pre_extrusion), 20);
}

TEST_F(ParamWidgets, IntervalItems) {
    auto labels = [](double v) {
        std::string s;
        for (const IntervalItem& i : interval_items(v)) s += i.label + "|";
        return s;
    };
    EXPECT_EQ(labels(6), "0.300000|1|2|3|6|");  // 1, 3 and 4 below, as the choice shows them
    // A huge spacing from a file must not stall: only its divisors are listed.
    EXPECT_EQ(labels(2147483647.0), "0.300000|1|2147483647|1073741823.5|");

    start_point_widgets();
    path_request = 0;
    const struct {
        int v;
        int selected;
        const char* text;
        std::vector<float> values;
    } cases[] = {{1, 1, "1", {0.3f, 1, 0.5f}}, {3, 2, "3", {0.3f, 1, 3, 1.5f}}, {4, 2, "2", {0.3f, 1, 2, 4}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.v);
        operate(va_point_space, c.v);
        EXPECT_TRUE(interval_choice()->active());
        EXPECT_EQ(interval_choice()->value(), c.selected);
        EXPECT_STREQ(interval_choice()->text(), c.text);
        EXPECT_EQ(interval_values, c.values);
        EXPECT_EQ(slurp(POINT_SPACING_FILE), std::to_string(c.v) + "\n" + std::to_string(c.selected) + "\n");
        EXPECT_EQ(saved_point_space, c.v);
        EXPECT_EQ(saved_interval_index, c.selected);
        EXPECT_EQ(steps.back(), c.v);  // the grid is rebuilt and the path asked for
        EXPECT_EQ(path_request, 1);
        path_request = 0;
    }
    // 橫向間距 rebuilds the grid, still of 點間距, and leaves the file alone.
    make(tx_point_space_h);
    const size_t built = steps.size();
    operate(tx_point_space_h, 6);
    EXPECT_EQ(path_request, 1);
    EXPECT_EQ(steps.size(), built + 1);
    EXPECT_EQ(steps.back(), 4);
    EXPECT_EQ(slurp("tx_point_space_h.txt"), "6");
    EXPECT_EQ(slurp(POINT_SPACING_FILE), "4\n2\n");
    operate(choice_interval, 3);
    EXPECT_EQ(slurp(POINT_SPACING_FILE), "4\n3\n");
    EXPECT_EQ(saved_interval_index, 3);
    // Off, the choice goes inactive and keeps its items.
    operate(ck_offset_cross, 0);
    EXPECT_FALSE(interval_choice()->active());
    EXPECT_EQ(slurp("ck_offset_cross.txt"), "0");
}

TEST_F(ParamWidgets, OffsetCrossForcedOnAtStart) {
    put("ck_offset_cross.txt", "0");
    put(POINT_SPACING_FILE, "3\n3\n");
    make(ck_offset_cross);
    EXPECT_EQ(store().value(ck_offset_cross), 0);
    make(choice_interval);
    EXPECT_FALSE(interval_choice()->active());
    EXPECT_EQ(interval_choice()->value(), -1);  // no items yet
    EXPECT_EQ(saved_interval_index, -1);
    make(va_point_space);
    EXPECT_EQ(saved_point_space, 3);
    EXPECT_EQ(path_request, 1);
    EXPECT_EQ(steps, std::vector<int>{3});
    start_point_spacing();
    EXPECT_EQ(store().value(ck_offset_cross), 1);
    EXPECT_TRUE(interval_choice()->active());
    EXPECT_EQ(interval_choice()->value(), 3);  // line 2 applied to the items
    EXPECT_STREQ(interval_choice()->text(), "1.5");
    EXPECT_EQ(saved_point_space, 3);
    EXPECT_EQ(saved_interval_index, 3);
    EXPECT_EQ(slurp("ck_offset_cross.txt"), "0");  // until toggled
}

TEST_F(ParamWidgets, OddPointSpacingFilesAreSafe) {
    put(POINT_SPACING_FILE, "0\n-1\n");
    start_point_widgets();
    EXPECT_TRUE(steps.empty());  // no grid with a step below 1
    EXPECT_EQ(interval_choice()->value(), -1);
    put(POINT_SPACING_FILE, "2000000000\n");
    operate(va_point_space, 0);  // rewrites the file
    EXPECT_EQ(slurp(POINT_SPACING_FILE), "0\n-1\n");
    put(POINT_SPACING_FILE, "2000000000\n");
    remake(va_point_space);
    start_point_spacing();  // a spacing no slider holds is refused: the start value stays
    EXPECT_TRUE(steps.empty());
    EXPECT_STREQ(interval_choice()->text(), "3");
    EXPECT_EQ(batch_param_blocker(), "PointSpacing.txt: holds 2000000000, outside 1 to 10");
}

TEST_F(ParamWidgets, BottomTypeDeletesBothBasePlateFiles) {
    int base_plate_runs = 0;
    param_hooks().apply_base_plate = [&] { ++base_plate_runs; };
    for (ParamId id : {va_bm_para_2, va_bm_para_1, choice_bottom_type}) make(id);
    operate(va_bm_para_1, 9);
    operate(va_bm_para_2, 0.3);
    EXPECT_EQ(base_plate_runs, 2);
    EXPECT_TRUE(exists("va_bm_para_1.txt"));
    EXPECT_TRUE(exists("va_bm_para_2.txt"));
    operate(choice_bottom_type, 1);
    EXPECT_EQ(base_plate_runs, 3);
    EXPECT_EQ(store().value(va_bm_para_1), 6);
    EXPECT_DOUBLE_EQ(store().value(va_bm_para_2), 0.2);
    EXPECT_EQ(slurp("choice_bottom_type.txt"), "1");
    EXPECT_FALSE(exists("va_bm_para_1.txt"));
    EXPECT_FALSE(exists("va_bm_para_2.txt"));

    store().set_value(choice_bottom_type, -1);
    apply_bottom_preset();
    EXPECT_EQ(store().value(va_bm_para_1), 8);
}

// At start the sliders keep their start values without a shape file; a saved
// shape gives its preset, and slider files override it.
TEST_F(ParamWidgets, BasePlateStartOrder) {
    for (ParamId id : {va_bm_para_2, va_bm_para_1, choice_bottom_type}) make(id);
    start_base_plate_params();
    EXPECT_TRUE(store().value(va_bm_para_1) == 5 && store().value(va_bm_para_2) == 0.14);
    put("choice_bottom_type.txt", "2");
    put("va_bm_para_1.txt", "11");
    start_base_plate_params();
    EXPECT_EQ(store().value(choice_bottom_type), 2);
    EXPECT_EQ(store().value(va_bm_para_1), 11);
    EXPECT_DOUBLE_EQ(store().value(va_bm_para_2), 0.2);
}

TEST_F(ParamWidgets, SliderMaximaFollowTheirParameters) {
    for (ParamId id : {va_spacing, va_layer_index, va_print_thickness, tx_point_space_2, va_interval}) make(id);
    operate(va_print_thickness, 15);
    EXPECT_EQ(store().maximum(va_layer_index), 149);
    // A zero spacing gives no layer count: the maximum stays.
    store().set_value(va_spacing, 0);
    operate(va_print_thickness, 20);
    EXPECT_EQ(store().maximum(va_layer_index), 149);
    store().set_value(tx_point_space_2, 6);
    operate(va_interval, 2);
    EXPECT_EQ(store().maximum(va_interval), 6);
}

TEST_F(ParamWidgets, RequestsAndAngles) {
    int layer_angle = 0, angle = 10;
    param_hooks().set_layer_angle_on = [&] { ++layer_angle; };
    param_hooks().current_angle = [&] { return angle; };
    param_hooks().set_current_angle = [&](int a) { angle = a; };
    double rot[3] = {0, 0, 0};
    param_hooks().turn_model = [&](double x, double y, double z) { rot[0] += x, rot[1] += y, rot[2] += z; };
    make(out_current_angle);
    EXPECT_EQ(store().value(out_current_angle), 10);
    make(va_layer_index);
    make(va_cut_plane);
    operate(va_layer_index, 57);
    EXPECT_EQ(path_request, 1);
    EXPECT_EQ(layer_angle, 1);
    make(bt_whole_insole);
    operate(bt_whole_insole, 1);
    EXPECT_EQ(height_request, 1);
    EXPECT_EQ(slurp("bt_whole_insole.txt"), "1");

    rotate_z_90();
    EXPECT_EQ(angle, 100);
    EXPECT_EQ(store().value(out_current_angle), 100);
    turn_about_z(-15);
    turn_z_cb(nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(5)));
    EXPECT_EQ(angle, 90);
    EXPECT_EQ(rot[2], 80);
    x_rotate_cb(nullptr, nullptr);
    EXPECT_EQ(rot[0], 90);

    angle = 33;
    make(ck_self_def_angle);
    operate(ck_self_def_angle, 0);
    EXPECT_EQ(store().value(out_current_angle), 33);
    EXPECT_EQ(slurp("ck_self_def_angle.txt"), "0");

    // "Save Path" starts from layer 0; "Get Path" asks for a whole run.
    int saves = 0;
    param_hooks().save_gcode = [&] { EXPECT_EQ(store().value(va_layer_index), 0); ++saves; };
    store().set_value(va_layer_index, 57);
    save_path();
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(run_total, 0);
    store().set_value(va_cut_plane, 3);
    path_request = 0;
    get_path();
    EXPECT_EQ(store().value(va_cut_plane), 0);
    EXPECT_EQ(path_request, 1);
    EXPECT_EQ(full_path_request, 1);
}

TEST_F(ParamWidgets, UnsetHooksDoNothing) {
    make(out_current_angle);
    store().set_value(out_current_angle, 7);
    rotate_z_90();
    EXPECT_EQ(store().value(out_current_angle), 7);
    load_bmp_cb(nullptr, nullptr);
    EXPECT_EQ(insole_mesh_model, 0);  // no load ran, so no switch
    param_hooks().load_pressure_image = [] {};
    load_bmp_cb(nullptr, nullptr);
    EXPECT_EQ(insole_mesh_model, 1);
    param_hooks().load_stl = [] {};
    load_stl_cb(nullptr, nullptr);
    EXPECT_EQ(insole_mesh_model, 0);
    // Without the image view the origin file is not touched.
    make(origin_x);
    operate(origin_x, 12);
    EXPECT_FALSE(exists(ORIGIN_POINT_FILE));
}

// The batch changes directory; the files stay where the program started.
// Parameters.txt is read and written through the widgets, no callback runs:
// no one-value file is written.
TEST_F(ParamWidgets, OriginAndParametersJsonAreWrittenInTheStartDirectory) {
    OriginPoint view;
    view.x = view.y = 30, view.extra0 = 1, view.extra1 = 4;
    param_hooks().get_origin = [&](OriginPoint& o) { o = view; return true; };
    param_hooks().set_origin = [&](const OriginPoint& o) { view = o; };
    for (ParamId id : {origin_x, origin_y, va_spacing, va_first_speed, va_other_speed}) make(id);
    store().set_value(va_other_speed, 1800);
    set_param_dir(dir_.path());
    testsupport::TempDir elsewhere;
    ASSERT_EQ(chdir(elsewhere.path().c_str()), 0);
    put(dir_ / PARAMETERS_FILE, "{\"Spacing\":0.2,\"First_Speed\":900}");
    load_parameters_json();
    save_parameters_json();
    operate(origin_y, 41.7);
    EXPECT_EQ(view.y, 41);
    EXPECT_EQ(slurp(dir_ / ORIGIN_POINT_FILE), "30\n41\n1\n4\n");
    operate(origin_x, -5);
    set_param_dir("");
    EXPECT_TRUE(files_in(elsewhere.path()).empty());
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    EXPECT_EQ(slurp(ORIGIN_POINT_FILE), "-5\n41\n1\n4\n");
    EXPECT_DOUBLE_EQ(store().value(va_spacing), 0.2);
    EXPECT_EQ(store().value(va_first_speed), 900);
    EXPECT_EQ(store().value(va_other_speed), 1800);
    EXPECT_EQ(files_in(dir_.path()), (std::vector<std::string>{PARAMETERS_FILE, ORIGIN_POINT_FILE}));
}

TEST_F(ParamWidgets, StoreFallsBackWithoutWidgets) {
    EXPECT_EQ(store().value(va_spacing), 0.1);
    store().set_value(va_spacing, 0.4);
    EXPECT_EQ(store().value(va_spacing), 0.4);
    make(choice_interval);
    store().set_value(choice_interval, 5);  // beyond the items: unchanged
    EXPECT_EQ(store().value(choice_interval), -1);
    engine::set_param_store(&store());
    make(va_extrusion);
    store().set_value(va_extrusion, 0.7);
    EXPECT_EQ(engine::pval(va_extrusion), 0.7);
    engine::set_param_store(nullptr);
    param_widgets[va_spacing] = nullptr;
    store().set_value(va_spacing, 0.1);
}

// ---- the files on their own ------------------------------------------------------------

// Each parameter's format is checked through its widget by the parameter-table test.
TEST(ParamOneValue, IntegersTruncateTowardZeroAndSaturateAndAnUnwritableFileIsSkipped) {
    EXPECT_EQ(format_one_value(ParamFile::D, -3.7), "-3");
    EXPECT_EQ(format_one_value(ParamFile::D, 1e20), "2147483647");
    testsupport::TempDir dir;
    EXPECT_FALSE(write_one_value_file(dir / "no/such/dir.txt", ParamFile::D, 1));
}

// "%f" reads back in single precision, "%d" written and "%f" read gives a
// double; "%d" stops at the first non-digit and saturates huge numbers; blank
// and malformed text gives the blank value.
TEST(ParamOneValue, ReadFormatsAndBlanks) {
    EXPECT_FALSE(parse("", ParamFile::F, 2.0).number);
    EXPECT_TRUE(parse("0.300000", ParamFile::F, 0).number);
    const struct {
        const char* text;
        ParamFile fmt;
        double blank, value;
    } cases[] = {{"0.300000", ParamFile::F, 0, static_cast<double>(0.3f)}, {"3", ParamFile::DF, 0, 3.0},
                 {"  \n 12.5xyz", ParamFile::F, 0, 12.5},
                 {"", ParamFile::F, 2.0, 2.0},        {"\n\n", ParamFile::D, 1, 1},
                 {"abc", ParamFile::D, 1, 1},          {"-", ParamFile::D, 1, 1},
                 {"nan", ParamFile::F, 0, 0},          {"1e99", ParamFile::F, 0, 0},
                 {"7.9", ParamFile::D, 0, 7},          {"99999999999999999999", ParamFile::D, 0, 2147483647.0},
                 {"-99999999999999999999", ParamFile::D, 0, -2147483648.0}, {"1\n", ParamFile::DN, 0, 1}};
    for (const auto& c : cases) EXPECT_EQ(parse(c.text, c.fmt, c.blank).value, c.value) << c.text;
}

TEST(ParamPointSpacing, LinesAndBlanks) {
    EXPECT_EQ(format_point_spacing(3, 1), "3\n1\n");
    EXPECT_EQ(format_point_spacing(4, -1), "4\n-1\n");
    // A blank second line repeats the first; both blank give 1.
    const struct {
        const char* text;
        int point_space, interval_index;
    } cases[] = {{"3\n1\n", 3, 1}, {"4\n-1\n", 4, -1}, {"5\n", 5, 5}, {"", 1, 1}, {"x\n2\n", 1, 1}};
    for (const auto& c : cases) {
        const auto got = parse_point_spacing(c.text, strlen(c.text));
        EXPECT_EQ(got.point_space * 100 + got.interval_index, c.point_space * 100 + c.interval_index) << c.text;
    }
}

// Long text blocks are read whole through their widgets (the widget test).
TEST(ParamJson, StoreRoundTrip) {
    testsupport::TempDir dir;
    // The speeds and the origin are whole numbers, cut toward zero.
    const struct {
        engine::ParamId id;
        double set, back;
    } cases[] = {{engine::va_spacing, 0.2, 0.2},         {engine::va_extrusion, 0.15, 0.15},
                 {engine::va_first_speed, 1200.7, 1200}, {engine::va_other_speed, 1800, 1800},
                 {engine::origin_x, 30, 30},             {engine::origin_y, -40.9, -40}};
    engine::PlainParamStore a, b;
    for (const auto& c : cases) a.set_value(c.id, c.set);
    ASSERT_TRUE(save_parameters_json_file(a, dir / PARAMETERS_FILE));
    EXPECT_EQ(slurp(dir / PARAMETERS_FILE), "{\n\"Spacing\":0.200000,\n\"Extrusion\":0.150000,\n\"First_Speed\":1200,\n"
                                            "\"Other_Speed\":1800,\n\"X\":30,\n\"Y\":-40\n}");
    ASSERT_TRUE(load_parameters_json_file(b, dir / PARAMETERS_FILE));
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(b.value(c.id), c.back) << c.set;
}

TEST(ParamJson, BadFilesLeaveValuesUnchanged) {
    testsupport::TempDir dir;
    std::string p = dir / PARAMETERS_FILE;
    engine::PlainParamStore s;
    s.set_value(engine::va_spacing, 0.5);
    s.set_value(engine::origin_x, 7);

    EXPECT_FALSE(load_parameters_json_file(s, dir / "missing.txt"));
    put(p, "{\"Spacing\":0.2,");  // cut short
    EXPECT_FALSE(load_parameters_json_file(s, p));
    put(p, "[1,2,3]");
    EXPECT_FALSE(load_parameters_json_file(s, p));
    EXPECT_EQ(s.value(engine::va_spacing), 0.5);

    // Only the keys present, numeric and in their widget's range are taken; case
    // is ignored; far more than 511 characters before the keys are read whole.
    put(p, "{\"Comment\":\"" + std::string(2000, 'a') + "\",\"spacing\":0.3,\"X\":\"12\",\"y\":5,\"Extrusion\":11,\"First_Speed\":-5,\"Other_Speed\":1e5}");
    EXPECT_TRUE(load_parameters_json_file(s, p));
    EXPECT_DOUBLE_EQ(s.value(engine::va_spacing), 0.3);
    EXPECT_EQ(s.value(engine::origin_x), 7);
    EXPECT_EQ(s.value(engine::origin_y), 5);
    EXPECT_EQ(s.value(engine::va_extrusion) + s.value(engine::va_first_speed), 0.1 + 0);
    EXPECT_EQ(s.value(engine::va_other_speed), 100000);
}
