// Fitmire's insole state without a window: the template, the planes, the
// pad stamp and the rebuild, wedge, pad, load and save operations that the
// image view runs. Controls come in and go out as plain values.
#pragma once

#include <memory>
#include <string>

#include "handoff.h"
#include "planes.h"

struct FIBITMAP;

namespace fitmire {

// The values of the main window's controls that the processing reads, and
// the ones it writes back (widths, lengths and their ranges, pad sizes).
struct ScalerControls {
    double width = 0, width_min = 0, width_max = 150;
    double length = 0, length_min = 0, length_max = 150;
    double height_ratio = 1;
    bool degree_30 = false;
    bool vary_height = true, vary_width = true;
    double left_arch_index = 0.27, right_arch_index = 0.27;
    bool pad = true;
    double pad_width = 7, pad_length = 17, pad_height = 5;
    double hv_angle = 15;
    double inner_arch = 3, outer_arch = 3, inner_heel = 3, outer_heel = 3, whole_heel = 3;
};

// The pad stamp: loaded once, at most 250 x 250 pixels.
struct DropImage {
    static constexpr int kSize = 250, kRowBytes = 252, kStampBytes = 63000;
    unsigned char pixels[kSize * kRowBytes] = {};
    unsigned char stamp[kStampBytes] = {};
    int stamp_stride = 0;
    float max_value = 0;
    float centre_x = 0, centre_y = 0;
};

enum class Wedge { inner_arch, outer_arch, inner_heel, outer_heel, whole_heel };

// What one draw's rebuild step did, and which hand-off image that draw saved.
enum class RebuildRun { not_needed, done, failed };
enum class HandoffSave { nothing, left, right };

class InsoleImage {
public:
    InsoleImage();
    ~InsoleImage();
    InsoleImage(const InsoleImage&) = delete;
    InsoleImage& operator=(const InsoleImage&) = delete;

    // ---- loading (construction steps of the view) ----
    // Reads up to 256 R G B entries; false when the file is missing.
    bool load_colour_table(const char* path);
    // Loads the pad stamp; false (stamp empty) when missing, unreadable or
    // larger than 250 x 250.
    bool load_drop(const char* path);
    // Loads a 150 x 360 template (name UTF-8) as side 0 (left) or 1 (right).
    // On failure the current template, if any, stays.
    bool load_texture(const char* name, int side, ScalerControls& c);
    bool has_template() const { return image != nullptr; }

    // ---- the rebuild (needs a current GL context) ----
    // False when it could not run (no template, no off-screen frame buffer);
    // output_plane then still holds the previous insole.
    bool rebuild(ScalerControls& c);
    // Steps 1-4: the template rendered at scale_x x scale_y into work_plane.
    bool render_scaled_template();
    void measure_box(const Plane& plane);

    // ---- control actions ----
    void apply_width(ScalerControls& c);
    void apply_length(ScalerControls& c);
    void restore_measured(ScalerControls& c);

    // ---- wedges and pad ----
    void find_landmarks(const Plane& plane, int side);
    void press_wedge(Wedge which, const ScalerControls& c);
    void add_wedge(PointRC p1, PointRC p2, PointRC p3, Plane& plane, float amount_mm);
    void size_pad(ScalerControls& c);
    // Needs the GL context and a texture; angle in degrees.
    void add_metatarsal_pad(Plane& plane, bool is_left, unsigned tex, float angle, const ScalerControls& c);

    // ---- saving ----
    // Writes output_plane through the template bitmap to name (UTF-8, a
    // "C:/..." form is mapped onto the station roots, ".bmp" added when
    // missing). False, with a console line, when nothing was written.
    bool save_scaled_bmp(const char* name);
    // The hand-off save to "C:/insole/<job>_iLeft.bmp" / "_iRight.bmp";
    // refuses a job name that could leave the insole directory.
    bool save_handoff(bool right);

    // ---- hand-off ----
    // Takes a parsed hand-off file as a job: values, job name and pending
    // sides. A record whose numbers cannot make an insole is refused with a
    // console line naming file; a file that is not one whole job
    // (Handoff::file_refused) or a job name that could leave the insole
    // directory refuses the whole job. `kept` is where the file
    // now waits (see close_job). False when no side is pending.
    bool accept_handoff(const Handoff& h, const char* file_name, const std::string& kept = "");
    // Ends the open job once no side is pending: its hand-off file is removed
    // when both sides were saved and stays where it was kept otherwise, with a
    // console line. True when the program must end now: the job had a "right"
    // record, or nothing of it could be used.
    bool close_job();
    // Applies the pending side's arch index and length (the left one first).
    void apply_pending(ScalerControls& c);
    // The draw's hand-off step: saves the pending side (left first) when this
    // draw's rebuild made that side; otherwise saves nothing. A rebuild that
    // could not run says so once on the console and the side stays pending.
    HandoffSave save_pending_side(RebuildRun run);

    // ---- fields (one view's state) ----
    FIBITMAP* image = nullptr;
    unsigned char* bits = nullptr;
    int line = 0, pitch = 0, dib_size = 0, colors_used = 0, bpp = 0;
    int bytes_per_pixel = 0;
    int width = 0, height = 0;
    int dpm_x = 0, dpm_y = 0;
    int format = -1;
    int drag_dx = 0, drag_dy = 0, pan_x = 0, pan_y = 0, release_x = 0, release_y = 0, mouse_x = 0, mouse_y = 0;
    Plane work_plane = {};
    Plane output_plane = {};
    Plane source_plane = {};
    Plane slope_scratch = {};
    FloatPlane height_field = {};
    bool needs_rebuild = false;
    char save_path[512] = {};
    char job_name[kMaxJobName + 1] = {};
    int tmpl_x_min = 0, tmpl_x_max = 0, tmpl_y_max = 0, tmpl_y_min = 0;
    unsigned texture = 0;
    int measured_width = 0, measured_length = 0;
    std::unique_ptr<DropImage> drop;
    bool left_pending = false, right_pending = false;
    unsigned char colour_table[256][3] = {};
    float scale_x = 0, scale_y = 0;
    Landmarks landmarks;
    int box_y_min = kRows, box_y_max = 0, box_x_min = kCols, box_x_max = 0, box_height = 0, box_width = 0;
    int template_side = 0, landmark_side = 0, current_side = 0;
    float left_values[8] = {};
    float right_values[8] = {};
    int rebuilt_side = -1;                  // side of the last rebuild that ran, -1 when it failed
    bool rebuild_failure_reported = false;  // the console already says a pending side waits
    // The open hand-off job: where its file waits, whether something of it
    // was refused or not saved, and whether the program ends with it.
    bool job_open = false;
    std::string job_file, job_kept;
    bool job_incomplete = false, job_ends_program = false;
    bool job_save_failed = false;  // the program then ends with status 1
};

}  // namespace fitmire
