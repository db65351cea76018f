// Job paths, G-code job start and end, and the engine's layer step for the
// batch driver of the 3-D view.
#include "pathapp/batch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/file_util.h"
#include "engine/params.h"
#include "pathapp/app.h"
#include "pathapp/param_set.h"
#include "pathapp/refused_images.h"
#include "pathapp/engine_parts.h"
#include "pathapp/views.h"
#include "platform/platform.h"

namespace pathapp {

namespace {
// Formats into a 128-byte buffer as the station does; false when it would not fit.
bool fits_name_buffer(const std::string& s) { return s.size() + 1 <= static_cast<size_t>(BMP_NAME_SIZE); }
}  // namespace

bool make_image_path(const std::string& name, BatchJobPaths& out) {
    const std::string win = "C:\\insole\\" + name;
    if (!fits_name_buffer(win)) return false;
    out.image = platform::map_path(win);
    return true;
}

bool gcode_name_for(const std::string& name, std::string& out) {
    return replace_last_three(name, "gcode", BMP_NAME_SIZE, out);
}

bool make_gcode_paths(const std::string& name, BatchJobPaths& out) {
    std::string gname;
    if (!gcode_name_for(name, gname)) return false;
    const std::string temp = "C:\\VerdanelFiles\\temp\\" + gname;
    const std::string fin = "C:\\VerdanelFiles\\" + gname;
    if (!fits_name_buffer(temp) || !fits_name_buffer(fin)) return false;
    out.gcode_temp = platform::map_path(temp);
    out.gcode = platform::map_path(fin);
    return true;
}

bool ends_with_right_bmp(const std::string& name) {
    return name.size() >= 6 && name.compare(name.size() - 6, 6, "_r.bmp") == 0;
}

void end_batch() {
    fflush(stdout);
    std::exit(0);
}

void batch_job_finished(GL_Display_3D& view) {
    if (!view.job_image_path.empty()) {
        // Moved, not merely present: an older file of that name proves nothing.
        if (view.raster.layers_written == 0) {
            // Too thin for any path on any layer: it would never print.
            const size_t slash = view.job_image_path.find_last_of('/');
            set_aside_job_image(view.job_image_path.substr(slash == std::string::npos ? 0 : slash + 1),
                                "no layer of the foot has a path to print");
        } else if (common::file_exists(view.gcode_path) && !common::file_exists(view.gcode_temp_path)) {
            remove_job_file(view.job_image_path);
            if (!view.job_settings_path.empty()) remove_job_file(view.job_settings_path);
        } else {
            printf("%s: the G-code file is not in place; the image is kept\n", view.gcode_path);
        }
        view.job_image_path.clear();
        view.job_settings_path.clear();
    }
    GL_Display_Image& iv = *image_view;
    if (!iv.batch_job_running) return;
    iv.batch_job_running = 0;
    if (iv.bmp_index >= iv.bmp_count) end_batch();
    iv.batch_load_pending = 1;
}

bool start_gcode_job(const char* path, const char* final_path) {
    return engine::begin_gcode_file(view_3d->raster, path, final_path ? final_path : "");
}

void run_layer_step(GL_Display_3D& view) {
    GL_Display_Image& iv = *image_view;
    engine::SliceInputs in;
    in.slope_image = &iv.img.slope_image[0][0];
    in.contour_image = &iv.img.contour_image[0][0];
    in.image_texture = iv.image_texture;
    in.heel_point[0] = iv.heel_point[0];
    in.heel_point[1] = iv.heel_point[1];
    in.origin_point[0] = iv.origin_point[0];
    in.origin_point[1] = iv.origin_point[1];
    // The marks are read only while the raster says the image has them.
    if (view.raster.has_marks) {
        for (const MarkedCircle& c : iv.img.marked_circles) in.circles.push_back({c.x, c.y, c.r});
        for (const MarkedBar& b : iv.img.marked_bars)
            in.bars.push_back({{b.x1, b.y1, b.unused1, b.x2, b.y2, b.unused2, b.w}});
    }
    in.contour_first_row = iv.img.contour_first_row;
    in.contour_row_count = iv.img.contour_row_count;
    in.base_height = iv.shape.base_height;
    in.test_pixels = test_view ? &test_view->pixels[0][0] : nullptr;
    in.batch_job_running = iv.batch_job_running != 0;
    in.batch_load_pending = &iv.batch_load_pending;
    in.batch_slice_pending = &iv.batch_slice_pending;
    in.box = view.box;
    memcpy(in.model_matrix, view.model_matrix, sizeof in.model_matrix);
    memcpy(in.centre_matrix, view.centre_matrix, sizeof in.centre_matrix);
    in.current_angle = view.current_angle;
    in.layer_angle_on = &view.layer_angle_on;
    in.fill_interval_choice = [] { fill_interval_choice(); };
    in.batch_job_done = [&view] { batch_job_finished(view); };
    engine::slice_and_write_gcode(view.raster, view.model, in);
}

}  // namespace pathapp
