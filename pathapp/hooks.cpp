// The parameter set's hooks into the views, image loading and windows.
#include <FL/Fl_Double_Window.H>

#include "engine/params.h"
#include "pathapp/actions.h"
#include "pathapp/app.h"
#include "pathapp/param_set.h"
#include "pathapp/engine_parts.h"
#include "pathapp/views.h"

namespace pathapp {

void install_param_hooks() {
    ParamHooks& h = param_hooks();
    h.build_sample_grid = [](int step) { engine::build_sample_grid(view_3d->raster, step); };
    h.apply_base_plate = [] { apply_base_plate(); };
    h.set_layer_angle_on = [] { view_3d->layer_angle_on = 1; };
    h.current_angle = [] { return static_cast<int>(view_3d->current_angle); };
    h.set_current_angle = [](int a) { view_3d->current_angle = a; };
    h.turn_model = [](double dx, double dy, double dz) {
        view_3d->model_rot_x += static_cast<float>(dx);
        view_3d->model_rot_y += static_cast<float>(dy);
        view_3d->model_rot_z += static_cast<float>(dz);
    };
    h.reset_view = [] {
        view_3d->view_yaw = 0;
        view_3d->view_pitch = 90;
        for (int i = 0; i < 16; ++i) view_3d->model_matrix[i] = (i % 5 == 0) ? 1.0 : 0.0;
    };
    h.get_origin = [](OriginPoint& o) {
        if (!image_view) return false;
        o.x = image_view->origin_point[0];
        o.y = image_view->origin_point[1];
        o.extra0 = image_view->origin_extra[0];
        o.extra1 = image_view->origin_extra[1];
        return true;
    };
    h.set_origin = [](const OriginPoint& o) {
        if (!image_view) return;
        image_view->origin_point[0] = o.x;
        image_view->origin_point[1] = o.y;
        image_view->origin_extra[0] = o.extra0;
        image_view->origin_extra[1] = o.extra1;
    };
    h.dilate_outline = [] { engine::dilate_outline(image_view->shape); };
    h.load_pressure_image = [] { load_pressure_image(); };
    h.load_contour_image = [] { load_contour_image(); };
    h.load_stl = [] {
        StlLoadTarget t;
        t.model = &view_3d->model;
        t.box = &view_3d->box;
        t.raster = &view_3d->raster;
        t.heel_point = image_view->heel_point;
        t.reset_placement_matrices = [] { reset_placement_matrices(*view_3d); };
        load_stl_model(t);
    };
    h.save_gcode = [] { save_gcode(); };
    h.show_adv_edit = [] { adv_edit_window->show(); };
}

}  // namespace pathapp
