// The button actions small enough to live with the parameter set: rotations,
// path and height requests, Parameters.txt, the loaders' follow-up and the
// main window's two sizes.
#include <FL/Fl_Widget.H>
#include <FL/Fl_Window.H>

#include <cstdint>

#include "pathapp/param_set.h"

namespace pathapp {

using namespace engine;

namespace {

template <class T>
void set_field(T* field, T v) {
    if (field) *field = v;
}

void run(const std::function<void()>& hook) {
    if (hook) hook();
}

// The loaders flag the kind of model the 3-D view slices once they ran.
void load_and_mark(const std::function<void()>& loader, uint8_t mesh_model) {
    if (!loader) return;
    loader();
    set_field<uint8_t>(param_raster_fields().insole_mesh_model, mesh_model);
}

}  // namespace

void save_parameters_json() { save_parameters_json_file(widget_param_store(), param_path(PARAMETERS_FILE)); }

// The widgets change without their callbacks: their files, the image view's
// origin and the sample grid follow only when the operator touches them.
void load_parameters_json() { load_parameters_json_file(widget_param_store(), param_path(PARAMETERS_FILE)); }

void rotate_z_90() { turn_about_z(90); }

void turn_about_z(int degrees) {
    ParamHooks& h = param_hooks();
    if (h.turn_model) h.turn_model(0, 0, degrees);
    if (h.current_angle && h.set_current_angle) {
        h.set_current_angle(h.current_angle() + degrees);
        widget_param_store().set_value(out_current_angle, h.current_angle());
    }
}

void set_panel_size(bool small) {
    Fl_Widget* b = param_widgets[bt_panel_toggle];
    Fl_Window* win = b ? b->top_window() : nullptr;
    if (!win) return;
    // Only the size changes; the place stays and nothing is laid out anew.
    if (small) win->size(765, 720); else win->size(1375, 792);
}

void save_path() {
    set_field<int32_t>(param_raster_fields().run_total, 0);
    widget_param_store().set_value(va_layer_index, 0);
    run(param_hooks().save_gcode);
}

void get_path() {
    const RasterFields& r = param_raster_fields();
    widget_param_store().set_value(va_cut_plane, 0);
    widget_param_store().set_value(va_layer_index, 0);
    set_field<uint8_t>(r.path_request, 1);
    set_field<uint8_t>(r.full_path_request, 1);
}

void get_height() { set_field<uint8_t>(param_raster_fields().height_request, 1); }

void load_bmp_cb(Fl_Widget*, void*) { load_and_mark(param_hooks().load_pressure_image, 1); }
void load_contour_cb(Fl_Widget*, void*) { load_and_mark(param_hooks().load_contour_image, 1); }
void load_stl_cb(Fl_Widget*, void*) { load_and_mark(param_hooks().load_stl, 0); }
void edit_cb(Fl_Widget*, void*) { run(param_hooks().show_adv_edit); }
void dilation_cb(Fl_Widget*, void*) { run(param_hooks().dilate_outline); }
void load_para_cb(Fl_Widget*, void*) { load_parameters_json(); }
void save_para_cb(Fl_Widget*, void*) { save_parameters_json(); }
void reset_cb(Fl_Widget*, void*) { run(param_hooks().reset_view); }
void z_rotate_cb(Fl_Widget*, void*) { rotate_z_90(); }
void get_path_cb(Fl_Widget*, void*) { get_path(); }
void get_height_cb(Fl_Widget*, void*) { get_height(); }
void save_path_cb(Fl_Widget*, void*) { save_path(); }

void x_rotate_cb(Fl_Widget*, void*) {
    if (param_hooks().turn_model) param_hooks().turn_model(90, 0, 0);
}

void y_rotate_cb(Fl_Widget*, void*) {
    if (param_hooks().turn_model) param_hooks().turn_model(0, 90, 0);
}

void turn_z_cb(Fl_Widget*, void* degrees) { turn_about_z(static_cast<int>(reinterpret_cast<intptr_t>(degrees))); }

}  // namespace pathapp
