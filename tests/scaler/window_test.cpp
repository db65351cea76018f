// Fitmire's main window: the controls in creation order with their ranges,
// the persisted 30-degree switch and the actions that drive the view.
#include <gtest/gtest.h>

#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Value_Input.H>
#include <FL/Fl_Value_Slider.H>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/file_util.h"
#include "scaler/display_image.h"
#include "scaler/scaler_window.h"
#include "tests/scaler/scaler_fixtures.h"
#include "tests/support/gl_context.h"

using namespace fitmire;

namespace {

// Builds the window in a fresh station directory holding the view's files.
class Window : public ::testing::Test {
protected:
    void SetUp() override {
        old_dir = std::filesystem::current_path().string();
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        ASSERT_TRUE(scalertest::write_foot_bmp("255mm narrow 20220606 backmove 5mm.bmp"));
        ASSERT_TRUE(scalertest::write_drop_png("drop.png", 250));
        ASSERT_TRUE(scalertest::write_lut("lut_ancestor.txt"));
    }
    void TearDown() override {
        free_scaler_window();
        ASSERT_EQ(chdir(old_dir.c_str()), 0);
    }
    testsupport::TempDir dir;
    std::string old_dir;
};

TEST_F(Window, ControlsInCreationOrderWithTheirValues) {
    build_scaler_window();
    ASSERT_TRUE(scaler_window);
    EXPECT_TRUE(scaler_window->w() == 206 && scaler_window->h() == 430);
    EXPECT_STREQ(scaler_window->label(), "Fitmire");
    ASSERT_EQ(scaler_window->children(), 31);
    const std::pair<int, Fl_Widget*> order[] = {{0, bt_load_left}, {1, bt_load_right},   {4, va_width},
                                                {8, bt_degree_30}, {9, va_length},       {20, va_whole_heel},
                                                {29, va_hv_angle}, {30, scaler_view}};
    for (const auto& [i, w] : order) EXPECT_EQ(scaler_window->child(i), w) << i;
    EXPECT_STREQ(bt_load_left->label(), "讀取(左足)");
    EXPECT_STREQ(va_pad_height->label(), "蹠骨墊高(mm)");
    EXPECT_TRUE(scaler_view->x() == 30 && scaler_view->y() == 35 && scaler_view->w() == 150 && scaler_view->h() == 360);
    // Every control but the view and the load buttons' sliver lies outside the window.
    for (int i = 0; i < 30; ++i) EXPECT_GE(scaler_window->child(i)->x(), 205) << i;

    EXPECT_TRUE(va_height_ratio->minimum() == 0.1 && va_height_ratio->maximum() == 2);
    EXPECT_TRUE(va_inner_arch->value() == 3 && va_left_arch_index->value() == 0.27);
    EXPECT_FALSE(bt_degree_30->value());  // no bt_degree_30.txt yet
    // (The pad, width-follows-length and hv-angle defaults show in the end-to-end pixels.)

    // The template load set the width and length sliders.
    ASSERT_TRUE(scaler_view->has_template());
    EXPECT_DOUBLE_EQ(va_width->value(), scaler_view->measured_width);
    EXPECT_DOUBLE_EQ(va_width->minimum(), 0.5 * scaler_view->measured_width);
    EXPECT_DOUBLE_EQ(va_length->maximum(), 1.5 * scaler_view->measured_length);
    EXPECT_TRUE(scaler_view->needs_rebuild);
    EXPECT_EQ(scaler_view->current_side, 0);
}

TEST_F(Window, ThirtyDegreeSwitchIsPersisted) {
    ASSERT_TRUE(common::write_file_atomic("bt_degree_30.txt", "1"));
    build_scaler_window();
    EXPECT_TRUE(bt_degree_30->value());
    scaler_view->needs_rebuild = false;
    bt_degree_30->value(0);
    bt_degree_30->do_callback();
    EXPECT_EQ(testsupport::slurp("bt_degree_30.txt"), "0");
    EXPECT_TRUE(scaler_view->needs_rebuild);
}

TEST_F(Window, ActionsDriveTheView) {
    build_scaler_window();
    const int mw = scaler_view->measured_width, ml = scaler_view->measured_length;
    va_length->value(ml + 8);
    va_length->do_callback();
    EXPECT_DOUBLE_EQ(va_width->value(), mw + 2);
    EXPECT_FLOAT_EQ(scaler_view->scale_y, static_cast<float>(ml + 8) / ml * 360);
    va_width->value(mw + 10);
    va_width->do_callback();
    EXPECT_FLOAT_EQ(scaler_view->scale_x, static_cast<float>(mw + 10) / mw * 150);
    va_height_ratio->value(1.5);
    bt_restore->do_callback();
    EXPECT_DOUBLE_EQ(va_width->value(), mw);
    EXPECT_DOUBLE_EQ(va_length->value(), ml);
    EXPECT_DOUBLE_EQ(va_height_ratio->value(), 1);
    EXPECT_FLOAT_EQ(scaler_view->scale_x, 150);
    va_right_arch_index->do_callback();
    EXPECT_EQ(scaler_view->current_side, 1);
    va_left_arch_index->do_callback();
    EXPECT_EQ(scaler_view->current_side, 0);
    scaler_view->needs_rebuild = false;
    va_pad_width->do_callback();
    EXPECT_TRUE(scaler_view->needs_rebuild);
}

}  // namespace
