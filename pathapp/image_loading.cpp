// Bringing insole images into the program: the "讀取BMP" and "讀取輪廓圖"
// loaders, the batch job's load with its per-job settings file, the base-plate
// rebuild, the heel point and the "Save G-Code" dialog.
#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FreeImage.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/params.h"
#include "common/file_dialog.h"
#include "common/file_util.h"
#include "pathapp/actions.h"
#include "pathapp/app.h"
#include "pathapp/batch.h"
#include "pathapp/image_file.h"
#include "pathapp/param_files.h"
#include "pathapp/param_set.h"
#include "pathapp/engine_parts.h"
#include "pathapp/views.h"
#include "platform/platform.h"

namespace pathapp {

using engine::params;
using engine::pon;
using engine::pval;

namespace {

// ---- small helpers ------------------------------------------------------------

void set_param(engine::ParamId id, double v) {
    params().set_value(id, v);
    params().redraw(id);
}

// A message box for the operator; in batch mode nothing may block, so the
// text goes to the console instead.
void report(const char* console_line, const char* text, const char* title) {
    printf("%s\n", console_line);
    if (batch_mode) return;
    fl_message_title(title);
    fl_message("%s", text);
}

// The native chooser; false (with the chooser's lines on stderr) when nothing was chosen.
bool choose_file(const char* title, const char* filter, bool save, std::string& out) {
    if (!common::choose_file(title, filter, save, out)) return false;
    out = platform::utf8_to_ansi(out);
    return true;
}

// The opened image; "Unable to load texture: " starts the line of a file
// that cannot be read.
OpenedImage open_for_load(const std::string& path) {
    OpenedImage o = open_image_file(path);
    if (o.status == ImageOpen::UNREADABLE) printf("Unable to load texture: ");
    return o;
}

// Why the loaders cannot use an image, as the refusal names it.
std::string image_refusal(const OpenedImage& o) {
    if (o.status == ImageOpen::WRONG_SIZE) return "not a 150 x 360 image";
    if (o.status == ImageOpen::UNUSABLE) return o.why;
    return "missing or not a readable image";
}

// The console line that names an image file the loaders cannot use.
std::string bad_image_line(const std::string& path, const OpenedImage& o) { return path + ": " + image_refusal(o); }

void print_bitmap_facts(FIBITMAP* bmp) {
    printf("line %d\n", static_cast<int>(FreeImage_GetLine(bmp)));
    printf("pitch %d\n", static_cast<int>(FreeImage_GetPitch(bmp)));
    printf("DIBsize %d\n", static_cast<int>(FreeImage_GetDIBSize(bmp)));
    printf("colorused %d\n", static_cast<int>(FreeImage_GetColorsUsed(bmp)));
    printf("bpp %d\n", static_cast<int>(FreeImage_GetBPP(bmp)));
}

ImageBits bits_of(const OpenedImage& o) {
    FIBITMAP* bmp = o.bitmap;
    ImageBits b;
    if (o.palette) b.grey = o.grey;
    b.bits = FreeImage_GetBits(bmp);
    b.width = static_cast<int>(FreeImage_GetWidth(bmp));
    b.height = static_cast<int>(FreeImage_GetHeight(bmp));
    b.pitch = static_cast<int>(FreeImage_GetPitch(bmp));
    b.bpp = static_cast<int>(FreeImage_GetBPP(bmp));
    return b;
}

void pixel_copy(const OpenedImage& o, const std::string& name) {
    print_bitmap_facts(o.bitmap);
    ImageBits in = bits_of(o);
    copy_image_pixels(in, gp_img->img, view_3d->raster.has_marks, name);
    FreeImage_Unload(o.bitmap);
}

void turn_for_image() {
    GL_Display_3D& v = *view_3d;
    if (pon(engine::ck_self_def_angle)) {
        v.current_angle = -75;
        set_param(engine::out_current_angle, -75);
    } else if (v.current_angle != -45) {
        v.current_angle = -45;
        v.model_rot_z -= 45;
        set_param(engine::out_current_angle, -45);
    }
}

void copy_ranges_to_box() {
    const engine::InsoleShape& s = gp_img->shape;
    engine::ModelBox& b = view_3d->box;
    b.model_max_z = static_cast<float>(s.peak_level);
    b.model_min_z = 2.0f;
    b.model_max_x = static_cast<float>(s.x_max);
    b.model_min_x = static_cast<float>(s.x_min);
    b.model_max_y = static_cast<float>(s.y_max);
    b.model_min_y = static_cast<float>(s.y_min);
}

// Steps shared by the operator's and the batch's pressure-image loads, from
// the heel floor to the heel point.
void build_from_foot() {
    PressureImage& img = gp_img->img;
    if (!pon(engine::bt_whole_insole)) raise_heel_floor(img.foot_image);
    engine::InsoleShape& shape = gp_img->shape;
    if (view_3d->raster.has_marks) {
        memcpy(shape.foot_map, img.foot_image, sizeof img.foot_image);
        engine::measure_foot_ranges(shape, shape.foot_map);
        engine::build_plain_insole_mesh(shape, view_3d->model);
    } else {
        engine::build_insole_outline(shape, &img.foot_image[0][0], view_3d->model);
    }
    copy_ranges_to_box();
    view_3d->raster.height_request = 1;
}

void rebuild_spacing(int point_space) {
    engine::LayerRaster& r = view_3d->raster;
    engine::build_sample_grid(r, point_space);
    r.path_request = 1;
    if (pon(engine::ck_offset_cross)) fill_interval_choice();
}

void keep_spacing() {
    engine::LayerRaster& r = view_3d->raster;
    r.saved_point_space = static_cast<int>(pval(engine::va_point_space));
    r.saved_interval_index = static_cast<int>(pval(engine::choice_interval));
}

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads a per-job settings file; false when there is none to read. A FIFO
// or a directory in its place is not read (nothing may hold the batch); the
// job loads with the parameters as they are.
bool read_settings(const std::string& path, JobSettings& js) {
    std::string text, why;
    if (!common::read_plain_file(path, PARAM_FILE_LIMIT, text, why)) {
        if (!why.empty()) printf("%s: %s, not read; the job keeps the parameters as they are\n", path.c_str(), why.c_str());
        return false;
    }
    parse_job_settings(text, path, js);
    return true;
}

// The file of the job's settings name in C:\insole, which goes with the job's
// image: a retried job must find the settings of its first try.
std::string insole_settings_path(const std::string& tname) { return platform::map_path("C:\\insole\\" + tname); }

// Applies the job's settings file, if the variant has one; `to_remove` is
// set to the file that goes once the job's image goes.
void apply_job_settings(const std::string& job_name, std::string& to_remove) {
    GL_Display_3D& v = *view_3d;
    std::string tname;
    if (!replace_last_three(job_name, "txt", static_cast<size_t>(-1), tname)) return;
    JobSettings js;
    const int variant = current_variant();
    if (variant == 2) {  // "A4版": the file in the server directory stays
        if (!read_settings(platform::map_path("C:\\VerdanelFiles\\Hostlet\\" + tname), js)) return;
        to_remove = insole_settings_path(tname);
        set_param(engine::bt_whole_insole, js.full != 0 ? 1 : 0);
        set_param(engine::va_spacing, 0.3);
        if (js.type == 'c' || js.type == 'l') {
            set_param(engine::va_point_space, js.type == 'c' ? 6 : 4);
            set_param(engine::ck_self_def_angle, 0);
            v.current_angle = -45;
            v.model_rot_z = -45;
            set_param(engine::out_current_angle, -45);
        } else if (js.type == 's') {
            set_param(engine::va_point_space, 4);
            set_param(engine::ck_self_def_angle, 1);
            v.current_angle = 75;
            set_param(engine::out_current_angle, 75);
        }
        rebuild_spacing(static_cast<int>(pval(engine::va_point_space)));
        keep_spacing();
    } else if (variant == 0) {  // "十月版"
        printf("tmpFile %s\n", tname.c_str());
        if (!read_settings(insole_settings_path(tname), js)) return;
        to_remove = insole_settings_path(tname);
        if (js.density == 0 || js.density == 1) {
            set_param(engine::va_point_space, js.density == 0 ? 6 : 5);
            rebuild_spacing(static_cast<int>(pval(engine::va_point_space)));
            set_param(engine::choice_interval, 3);
            if (js.density == 1) keep_spacing();
        } else if (js.density == 2) {
            set_param(engine::va_point_space, 4);
            rebuild_spacing(4);
            keep_spacing();
        }
        set_param(engine::ck_self_def_angle, 0);
        v.current_angle = -45;
        v.model_rot_z = -45;
        set_param(engine::out_current_angle, -45);
    }
}

}  // namespace

// ---- loaders ------------------------------------------------------------------------

void load_pressure_image() {
    std::string path;
    if (!choose_file("Load a image file", "image\t*.bmp\n", false, path)) return;
    turn_for_image();
    const OpenedImage o = open_for_load(path);
    if (!o.bitmap) {
        report(bad_image_line(path, o).c_str(), "格式錯誤", "讀檔錯誤");
        return;
    }
    pixel_copy(o, path);
    view_3d->model.clear();
    reset_placement_matrices(*view_3d);
    if (pon(engine::bt_test1)) slope_pass(gp_img->img, 3);
    build_from_foot();
    gp_img->img.pressure_loaded = 1;
    find_heel_point();
}

bool load_batch_file(const std::string& path, std::string* refusal, std::string* settings_file) {
    if (refusal) refusal->clear();
    if (settings_file) settings_file->clear();
    turn_for_image();
    printf("RESULT getFilename %s\n", path.c_str());
    const OpenedImage o = open_for_load(path);
    const bool never = o.status == ImageOpen::WRONG_SIZE || o.status == ImageOpen::UNUSABLE;
    if (!o.bitmap && never && refusal) {
        *refusal = image_refusal(o);
        return false;
    }
    if (!o.bitmap) {
        // Kept: it may still be on its way, and it is not ours to destroy.
        printf("%s; job skipped, the image is kept\n", bad_image_line(path, o).c_str());
        return false;
    }
    pixel_copy(o, path);
    int first = 0, last = 0;
    if (!foot_row_extent(gp_img->img.foot_image, first, last) || last - first + 1 < 80) {
        if (refusal) *refusal = "the foot spans fewer than 80 rows";
        else printf("%s: the foot spans fewer than 80 rows; job skipped\n", path.c_str());
        return false;
    }
    std::string to_remove;
    apply_job_settings(base_name(path), to_remove);
    if (settings_file) *settings_file = to_remove;
    view_3d->model.clear();
    reset_placement_matrices(*view_3d);
    if (pon(engine::bt_test1)) slope_pass(gp_img->img, 2);
    build_from_foot();
    find_heel_point();
    view_3d->raster.insole_mesh_model = 1;
    return true;
}

void load_contour_image() {
    std::string path;
    if (!choose_file("Load a image file", "image\t*.bmp\n", false, path)) return;
    GL_Display_3D& v = *view_3d;
    if (v.current_angle != -45) {
        v.current_angle = -45;
        v.model_rot_z -= 45;
    }
    const OpenedImage o = open_for_load(path);
    if (!o.bitmap) {
        report(bad_image_line(path, o).c_str(), "格式錯誤", "讀檔錯誤");
        return;
    }
    print_bitmap_facts(o.bitmap);
    copy_contour_pixels(bits_of(o), gp_img->img);
    FreeImage_Unload(o.bitmap);
    // A spacing of zero or less gives no layer count; the maximum stays.
    const double spacing = pval(engine::va_spacing);
    if (spacing > 0) {
        const double top = pval(engine::va_print_thickness) / spacing - 1;
        params().set_range(engine::va_layer_index, params().minimum(engine::va_layer_index), top);
        params().redraw(engine::va_layer_index);
    }
}

void apply_base_plate() {
    gp_img->shape.LINE_PCT[0] = static_cast<float>(pval(engine::va_bm_para_2));
    copy_ranges_to_box();
    if (gp_img->img.pressure_loaded) {
        view_3d->model.clear();
        engine::build_insole_outline(gp_img->shape, &gp_img->img.foot_image[0][0], view_3d->model);
        view_3d->raster.height_request = 1;
        find_heel_point();
    }
}

void find_heel_point() {
    GL_Display_Image& iv = *gp_img;
    float x, y;
    if (find_raw_heel_point(iv.img.foot_image, x, y)) {
        iv.heel_point[0] = x;
        iv.heel_point[1] = y;
    }
    printf("[ HEEL POINT ] (%d, %d)\n", static_cast<int>(iv.heel_point[0]), static_cast<int>(iv.heel_point[1]));
    const float after = iv.heel_raw[0];
    iv.heel_raw[0] = iv.heel_point[0];
    iv.heel_raw[1] = iv.heel_point[1];
    iv.heel_raw[2] = after;
    const engine::ModelBox& b = view_3d->box;
    iv.heel_point[0] += 150 - (b.model_min_x + b.model_max_x) * 0.5f;
    iv.heel_point[1] += 180 - (b.model_min_y + b.model_max_y) * 0.5f + iv.shape.decresing_time;
}

std::string gcode_save_name(const std::string& chosen) {
    if (chosen.size() >= 6 && chosen.compare(chosen.size() - 6, 6, ".gcode") == 0) return chosen;
    return chosen + ".gcode";
}

void save_gcode() {
    std::string path;
    if (!choose_file("Save G-Code", "image\t*.gcode\n", true, path)) return;
    path = gcode_save_name(path);
    if (!start_gcode_job(path.c_str())) {
        const std::string line = path + ": cannot be written; nothing saved";
        report(line.c_str(), line.c_str(), "Save G-Code");
    }
}

}  // namespace pathapp
