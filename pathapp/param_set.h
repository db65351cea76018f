// The parameter set of the path program: one FLTK widget per print setting,
// created from engine/param_table.def, its callbacks, its start-up order and
// the small button actions that work on it.
//
// Seam to the rest of the program. Parts of the program that own state these
// actions touch are reached only through two things that main fills in:
//  - set_param_raster(&raster): the layer raster whose request bytes and
//    point-spacing state the callbacks set (path_request, full_path_request,
//    height_request, run_total, insole_mesh_model, interval_values,
//    saved_point_space, saved_interval_index). Without a raster those effects
//    are skipped.
//  - param_hooks(): std::function members for actions of the views, the image
//    loading and the engine (sample grid, base plate, 3-D view angles, image
//    view origin, outline dilation, loading, Save G-Code, the Adv Edit window).
//    A hook left empty does nothing, and nothing that depends on its result
//    happens either.
// Both are best set before the first create_param_widget: loading
// va_point_space rebuilds the sample grid and sets path_request, and
// out_current_angle shows the 3-D view's angle when it is created.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/params.h"
#include "pathapp/param_files.h"

class Fl_Widget;

namespace engine {
struct LayerRaster;
}

namespace pathapp {

// ---- the widget table ---------------------------------------------------------
// Every parameter's widget by id; nullptr until create_param_widget made it.
extern Fl_Widget* param_widgets[engine::PARAM_COUNT];

// Creates the widget of the parameter's kind inside the group currently open
// (Fl_Group::current()), with its label, range, step, start value and the
// look every widget of its kind shares; registers it in param_widgets, loads
// its file (PointSpacing.txt for choice_interval and va_point_space) and sets
// its callback. Positions and looks that differ are the caller's.
Fl_Widget* create_param_widget(engine::ParamId id, int x, int y, int w, int h);

// Start-up steps main runs after the widgets exist, in this order relative to
// creation: start_point_spacing right after va_point_space is created (it
// switches ck_offset_cross on and fills the interval choice), and
// start_base_plate_params after choice_bottom_type is created.
void start_point_spacing();
void start_base_plate_params();

// Parameter files whose value was refused when read (or, since, typed): each
// with why. While any is, or the layer spacing is not positive, the batch
// starts no job. refuse_param_file prints the line naming the file and why,
// and that the widget keeps `kept`.
void refuse_param_file(const std::string& file, const std::string& why, double kept);
void clear_param_refusal(const std::string& file);  // "" clears every one
// Why the batch may not start a job now; empty when it may.
std::string batch_param_blocker();

// In a batch the jobs read the widgets: a value typed into a field is taken
// once the operator has finished it (Enter, or leaving the field after an
// edit), never half typed; a slider's once it is let go.
void take_typed_values_when_finished();

// The store the engine reads through engine::params(); main installs it with
// engine::set_param_store(&widget_param_store()). Setting a value runs no
// callback and writes no file. A parameter whose widget was never created
// keeps a plain value starting at its start value.
class WidgetParamStore : public engine::ParamStore {
public:
    double value(engine::ParamId id) const override;
    void set_value(engine::ParamId id, double v) override;
    double minimum(engine::ParamId id) const override;
    double maximum(engine::ParamId id) const override;
    void set_range(engine::ParamId id, double mn, double mx) override;
    void set_step(engine::ParamId id, double step) override;
    std::string text(engine::ParamId id) const override;
    void set_text(engine::ParamId id, const std::string& t) override;
    void redraw(engine::ParamId id) override;

private:
    engine::PlainParamStore plain_;
};
WidgetParamStore& widget_param_store();

// ---- the seam -----------------------------------------------------------------
struct ParamHooks {
    // engine::build_sample_grid(raster, step) on the program's layer raster.
    std::function<void(int step)> build_sample_grid;
    // apply_base_plate: rebuild the insole outline with the base-plate values.
    std::function<void()> apply_base_plate;
    // 3-D view: layer_angle_on = 1.
    std::function<void()> set_layer_angle_on;
    // 3-D view: current_angle, read and written.
    std::function<int()> current_angle;
    std::function<void(int)> set_current_angle;
    // 3-D view: model_rot_x/y/z += the given degrees.
    std::function<void(double dx, double dy, double dz)> turn_model;
    // 3-D view: view_yaw = 0, view_pitch = 90, model_matrix = identity.
    std::function<void()> reset_view;
    // Image view: its origin_point and the two origin_extra integers.
    std::function<bool(OriginPoint&)> get_origin;
    std::function<void(const OriginPoint&)> set_origin;
    // Image view: dilate_outline on its insole shape.
    std::function<void()> dilate_outline;
    // Image and model loading and Save G-Code, each with its dialog.
    std::function<void()> load_pressure_image;
    std::function<void()> load_contour_image;
    std::function<void()> load_stl;
    std::function<void()> save_gcode;
    // Shows the "Adv Edit" window.
    std::function<void()> show_adv_edit;
};
ParamHooks& param_hooks();

void set_param_raster(engine::LayerRaster* raster);

// The raster fields the parameter set touches, as pointers; set_param_raster
// fills them from a LayerRaster, tests from plain variables.
struct RasterFields {
    std::vector<float>* interval_values = nullptr;
    uint8_t* path_request = nullptr;
    uint8_t* full_path_request = nullptr;
    uint8_t* height_request = nullptr;
    uint8_t* insole_mesh_model = nullptr;
    int32_t* run_total = nullptr;
    int32_t* saved_point_space = nullptr;
    int32_t* saved_interval_index = nullptr;
};
void set_param_raster_fields(const RasterFields& fields);
const RasterFields& param_raster_fields();

// ---- actions ------------------------------------------------------------------
// What a parameter's callback does when the operator changes it; the widget
// callbacks call this.
void on_param_changed(engine::ParamId id);

// Rebuilds choice_interval's items from va_point_space (inactive while
// ck_offset_cross is off) and the raster's interval_values.
void fill_interval_choice();
struct IntervalItem {
    std::string label;
    float value;
};
// The items for a point spacing v, and the index to select (count - 2).
std::vector<IntervalItem> interval_items(double v);

// Sets va_bm_para_1 / va_bm_para_2 from choice_bottom_type, then the base plate.
void apply_bottom_preset();
void rotate_z_90();

// Parameters.txt in the working directory.
void save_parameters_json();
void load_parameters_json();

// Button actions, callable directly and as FLTK callbacks (Fl_Callback).
void save_path();
void get_path();
void get_height();
void turn_about_z(int degrees);  // "- 15", "15", "- 5", "5 "
void set_panel_size(bool small);

void edit_cb(Fl_Widget*, void*);
void load_bmp_cb(Fl_Widget*, void*);
void load_contour_cb(Fl_Widget*, void*);
void load_stl_cb(Fl_Widget*, void*);
void save_path_cb(Fl_Widget*, void*);
void get_path_cb(Fl_Widget*, void*);
void get_height_cb(Fl_Widget*, void*);
void reset_cb(Fl_Widget*, void*);
void x_rotate_cb(Fl_Widget*, void*);
void y_rotate_cb(Fl_Widget*, void*);
void z_rotate_cb(Fl_Widget*, void*);
void turn_z_cb(Fl_Widget*, void* degrees);  // user data: (void*)(intptr_t)-15, 15, -5 or 5
void dilation_cb(Fl_Widget*, void*);
void load_para_cb(Fl_Widget*, void*);
void save_para_cb(Fl_Widget*, void*);

}  // namespace pathapp
