// The two windows of the path program, widget by widget in creation order,
// the variant menu and the font that shows their Chinese labels.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Menu_Button.H>
#include <FL/Fl_Value_Output.H>
#include <FL/Fl_Value_Slider.H>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/cjk_font.h"
#include "pathapp/actions.h"
#include "pathapp/app.h"
#include "pathapp/param_set.h"
#include "pathapp/views.h"
#include "platform/platform.h"

namespace pathapp {

// ---- program globals ------------------------------------------------------------
Fl_Double_Window* main_window = nullptr;
Fl_Double_Window* adv_edit_window = nullptr;
GL_Display_Image* image_view = nullptr;
GL_Display_Image* gp_img = nullptr;
GL_Display_3D* view_3d = nullptr;
GL_Display_TEST* test_view = nullptr;
Fl_Menu_Button* menu_version = nullptr;
bool batch_mode = false;
Fl_Box* batch_hold_box = nullptr;

using engine::ParamId;

namespace {

// Common look of a parameter widget; the two "CUT Plane" sliders keep their
// labels below.
Fl_Widget* param(ParamId id, int x, int y, int w, int h) {
    Fl_Widget* wd = create_param_widget(id, x, y, w, h);
    wd->labelsize(14);
    switch (engine::param_info(id).kind) {
    case engine::ParamKind::VS: {
        auto* s = static_cast<Fl_Value_Slider*>(wd);
        s->type(FL_HOR_SLIDER);
        s->textsize(14);
        if (id != engine::va_cut_plane && id != engine::va_layer_index) s->align(FL_ALIGN_LEFT);
        break;
    }
    case engine::ParamKind::CB: static_cast<Fl_Check_Button*>(wd)->down_box(FL_DOWN_BOX); break;
    case engine::ParamKind::CH: static_cast<Fl_Choice*>(wd)->down_box(FL_BORDER_BOX); break;
    default: break;
    }
    return wd;
}

std::vector<Fl_Widget*> job_controls;  // made inactive for a batch (start_batch_mode)

Fl_Button* button(int x, int y, int w, int h, const char* label, Fl_Callback* cb) {
    auto* b = new Fl_Button(x, y, w, h, label);
    b->labelsize(14);
    b->callback(cb);
    if (cb != edit_cb && cb != save_para_cb) job_controls.push_back(b);
    return b;
}

Fl_Group* frame(int x, int y, int w, int h, const char* label, Fl_Boxtype box) {
    auto* g = new Fl_Group(x, y, w, h, label);
    g->box(box);
    g->labelsize(14);
    return g;
}

void build_adv_edit_window() {
    adv_edit_window = new Fl_Double_Window(382, 331, "Adv Edit");
    param(engine::va_thick_of_first_layer, 91, 17, 65, 28);
    param(engine::va_thick_of_second_layer, 236, 17, 65, 28);
    param(engine::ck_fixed_position, 47, 75, 85, 20);
    param(engine::ck_z_path_off, 137, 75, 95, 20);
    param(engine::va_first_extrusion, 95, 107, 65, 28);
    param(engine::va_second_extrusion, 250, 107, 65, 28);
    Fl_Group* g = frame(35, 169, 239, 122, nullptr, FL_THIN_DOWN_BOX);
    g->color(247);
    param(engine::tx_point_space_2, 115, 217, 131, 22);
    param(engine::va_height_space, 55, 185, 65, 24)->align(FL_ALIGN_RIGHT);
    param(engine::va_interval, 115, 248, 131, 22);
    g->end();
    adv_edit_window->end();
}

}  // namespace

void build_windows() {
    set_param_dir(platform::current_dir());
    engine::set_param_store(&widget_param_store());
    install_param_hooks();
    build_adv_edit_window();

    main_window = new Fl_Double_Window(1576, 828, "Strandel");
    param(engine::va_bm_para_2, 1320, 750, 152, 20);
    param(engine::origin_y, 578, 618, 40, 24);
    param(engine::origin_x, 578, 592, 40, 24);
    image_view = new GL_Display_Image(25, 65, 525, 675);
    image_view->end();
    gp_img = image_view;
    Fl_Button* b = button(695, 15, 130, 50, "讀取BMP", load_bmp_cb);
    b->box(FL_PLASTIC_UP_BOX);
    b->color(2);
    b->labelsize(21);
    view_3d = new GL_Display_3D(565, 106, 260, 360);
    view_3d->end();
    set_param_raster(&view_3d->raster);
    param(engine::va_spacing, 629, 25, 62, 33);
    b = button(915, 710, 80, 65, "Save Path", save_path_cb);
    b->box(FL_PLASTIC_UP_BOX);
    b->color(1);
    param(engine::bt_show_path, 565, 476, 110, 35)->selection_color(5);
    param(engine::bt_show_picture, 565, 513, 110, 35)->selection_color(24);
    param(engine::bt_show_point, 565, 550, 110, 35)->selection_color(62);

    Fl_Group* para = frame(1075, 35, 280, 685, "參數", FL_THIN_DOWN_BOX);
    para->labelsize(20);
    param(engine::tx_begin_area, 1099, 69, 230, 140)->align(FL_ALIGN_TOP);
    param(engine::tx_end_area, 1099, 233, 230, 140)->align(FL_ALIGN_TOP);
    param(engine::va_up_move, 1219, 602, 65, 28);
    Fl_Group* speeds = frame(1117, 409, 195, 131, "移動速度", FL_BORDER_FRAME);
    speeds->color(33);
    param(engine::va_first_speed, 1187, 416, 65, 28);
    param(engine::va_other_speed, 1187, 445, 65, 28);
    param(engine::va_empty_speed, 1187, 475, 65, 28);
    param(engine::va_no_cross_speed, 1187, 505, 65, 28)->hide();
    param(engine::va_back_speed, 1187, 507, 65, 28);
    speeds->end();
    param(engine::va_extrusion, 1219, 637, 65, 28);
    param(engine::va_cross, 1183, 567, 130, 20);
    param(engine::va_pre_extrusion, 1219, 663, 65, 28)->tooltip("要比回抽還高");
    param(engine::va_back_extrusion, 1219, 689, 65, 28)->tooltip("要比預擠還低");
    para->end();

    param(engine::out_time, 1105, 742, 100, 33);
    Fl_Group* spacing = frame(832, 487, 235, 111, nullptr, FL_THIN_DOWN_BOX);
    param(engine::ck_offset_cross, 872, 492, 86, 25);
    param(engine::choice_interval, 927, 530, 80, 27);
    param(engine::va_point_space, 917, 572, 131, 20);
    start_point_spacing();
    spacing->end();

    Fl_Group* hidden = frame(60, 47, 592, 688, nullptr, FL_UP_BOX);
    button(95, 335, 75, 60, "Reset", reset_cb);
    Fl_Widget* test = param(engine::bt_test, 223, 405, 105, 50);
    test->selection_color(1);
    test->labelsize(28);
    param(engine::va_cut_plane, 75, 194, 542, 36);
    hidden->end();
    hidden->hide();

    param(engine::va_offset_h, 1505, 466, 60, 25);
    param(engine::va_offset_v, 1505, 493, 60, 25);
    param(engine::tx_point_space_h, 1435, 545, 131, 20);
    param(engine::tx_point_space_v, 1435, 520, 131, 20);
    b = button(830, 710, 82, 66, "Get Path", get_path_cb);
    b->box(FL_PLASTIC_THIN_UP_BOX);
    b->color(6);
    button(1375, 595, 105, 50, "讀取STL", load_stl_cb)->labelsize(21);
    button(835, 121, 75, 40, "Z rotate", z_rotate_cb);
    button(835, 385, 104, 53, "Get Height", get_height_cb);
    param(engine::bt_show_coord, 682, 476, 110, 35)->selection_color(1);
    param(engine::bt_show_contour, 682, 512, 110, 35)->selection_color(6);
    button(835, 39, 75, 40, "X rotate", x_rotate_cb);
    button(835, 80, 75, 40, "Y rotate", y_rotate_cb);
    param(engine::va_layer_index, 25, 4, 542, 36);
    param(engine::bt_contour, 1010, 710, 70, 35)->selection_color(4);
    param(engine::bt_test1, 648, 615, 85, 25);
    param(engine::va_start_layer, 925, 457, 95, 26);
    Fl_Group* angle = frame(915, 34, 155, 86, nullptr, FL_DOWN_BOX);
    param(engine::ck_self_def_angle, 930, 47, 94, 26)->labelsize(15);
    auto* cur = static_cast<Fl_Value_Output*>(param(engine::out_current_angle, 995, 83, 60, 29));
    cur->labelsize(16);
    cur->textsize(16);
    angle->end();
    button(925, 150, 46, 25, "- 15", turn_z_cb)->user_data(reinterpret_cast<void*>(static_cast<intptr_t>(-15)));
    button(972, 150, 46, 25, "15", turn_z_cb)->user_data(reinterpret_cast<void*>(static_cast<intptr_t>(15)));
    button(925, 122, 46, 25, "- 5", turn_z_cb)->user_data(reinterpret_cast<void*>(static_cast<intptr_t>(-5)));
    button(972, 122, 46, 25, "5 ", turn_z_cb)->user_data(reinterpret_cast<void*>(static_cast<intptr_t>(5)));
    Fl_Widget* toggle = param(engine::bt_panel_toggle, 1, 690, 23, 95);
    toggle->box(FL_THIN_UP_BOX);
    toggle->selection_color(42);
    button(990, 373, 74, 35, "Load Para", load_para_cb);
    button(990, 408, 74, 35, "Sava Para", save_para_cb);
    b = button(1375, 650, 115, 50, "讀取輪廓圖", load_contour_cb);
    b->box(FL_PLASTIC_UP_BOX);
    b->color(4);
    b->labelsize(21);
    Fl_Group* print = frame(835, 233, 230, 135, nullptr, FL_THIN_DOWN_BOX);
    param(engine::va_print_thickness, 974, 244, 34, 24);
    param(engine::ck_contour_mode, 920, 268, 84, 20);
    param(engine::va_extrusion_max, 965, 295, 65, 28);
    param(engine::va_extrusion_min, 965, 325, 65, 28);
    print->end();
    test_view = new GL_Display_TEST(1390, 70, 150, 360);
    test_view->end();
    param(engine::bt_whole_insole, 735, 75, 80, 25);
    button(1000, 615, 64, 20, "edit", edit_cb);
    param(engine::va_bm_para_1, 1320, 725, 152, 20);
    Fl_Widget* pts = param(engine::bt_show_pts, 1475, 725, 90, 50);
    pts->selection_color(1);
    pts->labelsize(16);
    button(1500, 670, 64, 35, "dilation", dilation_cb);
    param(engine::choice_bottom_type, 866, 640, 95, 30);
    start_base_plate_params();
    param(engine::va_first_layer_height, 700, 746, 65, 24);
    auto* volume = new Fl_Value_Output(1440, 11, 62, 24, "擠出量(體積)");
    volume->labelsize(14);
    param(engine::out_extrusion_length, 1440, 41, 97, 24);
    param(engine::ck_dence_bottom, 875, 200, 125, 25);
    param(engine::bt_save_stl, 650, 70, 75, 25);
    param(engine::va_x_offset, 703, 591, 40, 24)->box(FL_THIN_DOWN_BOX);

    menu_version = new Fl_Menu_Button(1485, 790, 85, 35, "版本設定");
    menu_version->box(FL_THIN_UP_BOX);
    menu_version->labelcolor(40);
    menu_version->labelsize(14);
    for (const char* item : {"十月版", "一般版", "A4版"}) {
        const int i = menu_version->add(item, 0, choose_variant_title, nullptr, 0);
        const_cast<Fl_Menu_Item*>(menu_version->menu())[i].labelsize(14);
    }
    menu_version->value(read_variant_file("./sl_version.txt"));

    // The strip under the views, clear of every widget.
    batch_hold_box = new Fl_Box(30, 779, 1440, 46);
    batch_hold_box->box(FL_FLAT_BOX);
    batch_hold_box->color(FL_RED);
    batch_hold_box->labelcolor(FL_WHITE);
    batch_hold_box->labelfont(FL_BOLD);
    batch_hold_box->labelsize(16);
    batch_hold_box->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_WRAP);
    batch_hold_box->hide();

    main_window->set_non_modal();
    main_window->end();
}

// ---- batch mode -------------------------------------------------------------------------

void start_batch_mode() {
    batch_mode = true;
    take_typed_values_when_finished();
    for (Fl_Widget* w : job_controls) w->deactivate();
    for (ParamId id : {engine::va_layer_index, engine::va_cut_plane})
        if (param_widgets[id]) param_widgets[id]->deactivate();
}

void show_batch_hold(const std::string& why) {
    if (!batch_hold_box) return;
    if (why.empty()) {
        batch_hold_box->hide();
    } else {
        // '@' would start a symbol in a label.
        std::string text;
        for (char c : why + "\nno job is started, the images wait") text += c == '@' ? "@@" : std::string(1, c);
        batch_hold_box->copy_label(text.c_str());
        batch_hold_box->show();
    }
    if (main_window) main_window->redraw();
}

// ---- variant menu -------------------------------------------------------------------

int read_variant_file(const std::string& path) {
    FILE* f = fopen(path.c_str(), "r");
    int index = 0;
    if (f) {
        if (fscanf(f, "%d", &index) != 1) index = 0;
        fclose(f);
    }
    // The menu has three items; any other number would select none of them.
    if (index < 0 || index > 2) index = 0;
    return index;
}

const char* variant_title(int index) {
    switch (index) {
    case 0: return "Fitmire (Quenor)";
    case 1: return "Fitmire (Normal)";
    case 2: return "Fitmire (A4)";
    default: return nullptr;
    }
}

int current_variant() { return menu_version ? menu_version->value() : -1; }

void choose_variant_title(Fl_Widget*, void*) {
    const char* title = variant_title(current_variant());
    if (title) main_window->label(title);
    main_window->redraw();
}

void use_cjk_font() { common::use_cjk_font(); }

}  // namespace pathapp
