// Fitmire's insole state: template and stamp loading, the rebuild through
// OpenGL resampling and the pixel steps, control actions, wedges, pad, saving.
#include "insole_image.h"

#include <FreeImage.h>
#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "gl_steps.h"
#include "common/job_name.h"
#include "handoff.h"
#include "platform/platform.h"

namespace fitmire {

namespace {
// Loads an image whose header claims at most max_w x max_h pixels: FreeImage
// allocates whatever a header claims, so a larger one is not decoded
// (nullptr then, with the header's size in w and h).
FIBITMAP* load_bounded(FREE_IMAGE_FORMAT fmt, const char* path, unsigned max_w, unsigned max_h, unsigned& w,
                       unsigned& h) {
    w = h = 0;
    // Templates are BMP and the stamp PNG; FreeImage's readers of other
    // formats (XPM among them) read and write past their buffers on broken files.
    if (fmt != FIF_BMP && fmt != FIF_PNG) return nullptr;
    if (FreeImage_FIFSupportsNoPixels(fmt)) {
        FIBITMAP* head = FreeImage_Load(fmt, path, FIF_LOAD_NOPIXELS);
        if (!head) return nullptr;
        w = FreeImage_GetWidth(head);
        h = FreeImage_GetHeight(head);
        FreeImage_Unload(head);
        if (w > max_w || h > max_h) return nullptr;
    }
    return FreeImage_Load(fmt, path, 0);
}
}  // namespace

InsoleImage::InsoleImage() : drop(new DropImage) {}

InsoleImage::~InsoleImage() {
    if (image) FreeImage_Unload(image);
}

// ---- loading --------------------------------------------------------------------

bool InsoleImage::load_colour_table(const char* path) {
    FILE* f = std::fopen(path, "r");
    if (!f) return false;
    for (int i = 0; i < 256; ++i) {
        int rgb[3];
        if (std::fscanf(f, "%d %d %d", &rgb[0], &rgb[1], &rgb[2]) != 3) break;
        for (int k = 0; k < 3; ++k) colour_table[i][k] = static_cast<unsigned char>(rgb[k] & 0xff);
    }
    std::fclose(f);
    return true;
}

bool InsoleImage::load_drop(const char* path) {
    std::printf("Drop Image Read! \n");
    const FREE_IMAGE_FORMAT fmt = FreeImage_GetFileType(path, 0);
    unsigned head_w, head_h;
    FIBITMAP* img = load_bounded(fmt, path, DropImage::kSize, DropImage::kSize, head_w, head_h);
    if (!img && (head_w > DropImage::kSize || head_h > DropImage::kSize)) {
        std::printf("%s: %u x %u pixels is larger than 250 x 250; the metatarsal pad stays empty\n", path, head_w,
                    head_h);
        return false;
    }
    if (!img) {
        std::printf("%s: cannot be loaded; the metatarsal pad stays empty\n", path);
        return false;
    }
    const int p = FreeImage_GetPitch(img), b = FreeImage_GetBPP(img);
    const int w = FreeImage_GetWidth(img), h = FreeImage_GetHeight(img);
    std::printf("DROP Image \n");
    std::printf("pitch %d\n", p);
    std::printf("bpp %d\n", b);
    std::printf("width %d\n", w);
    std::printf("height %d\n\n", h);
    bool ok = true;
    if (FreeImage_GetImageType(img) != FIT_BITMAP || b < 8) {
        std::printf("%s: a %d-bit image cannot be a pad stamp; the metatarsal pad stays empty\n", path, b);
        ok = false;
    } else if (w > DropImage::kSize || h > DropImage::kSize) {
        std::printf("%s: %d x %d pixels is larger than 250 x 250; the metatarsal pad stays empty\n", path, w, h);
        ok = false;
    }
    if (ok) {
        const unsigned char* src = FreeImage_GetBits(img);
        const int step = b / 8;
        drop->max_value = 0;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const unsigned char v = src[r * p + c * step];
                drop->pixels[r * DropImage::kRowBytes + c] = v;
                if (v > drop->max_value) drop->max_value = v;
            }
    }
    FreeImage_Unload(img);
    return ok;
}

bool InsoleImage::load_texture(const char* name, int side, ScalerControls& c) {
    const std::string path = platform::utf8_to_ansi(name);
    const FREE_IMAGE_FORMAT fmt = FreeImage_GetFileType(path.c_str(), 0);
    unsigned head_w, head_h;
    FIBITMAP* img = load_bounded(fmt, path.c_str(), kCols, kRows, head_w, head_h);
    if (!img && (head_w > static_cast<unsigned>(kCols) || head_h > static_cast<unsigned>(kRows))) {
        std::printf("Unable to load texture: \n%s: the template is %u x %u pixels, not 150 x 360\n", name, head_w,
                    head_h);
        return false;
    }
    if (!img) {
        std::printf("Unable to load texture: \n%s: not a readable BMP\n", name);
        return false;
    }
    const int w = FreeImage_GetWidth(img), h = FreeImage_GetHeight(img), b = FreeImage_GetBPP(img);
    const char* wrong = nullptr;
    char why[160];
    if (FreeImage_GetImageType(img) != FIT_BITMAP || b < 8) {
        std::snprintf(why, sizeof why, "a %d-bit image cannot be a height template", b);
        wrong = why;
    } else if (w != kCols || h != kRows) {
        std::snprintf(why, sizeof why, "the template is %d x %d pixels, not 150 x 360", w, h);
        wrong = why;
    }
    if (wrong) {
        std::printf("Unable to load texture: \n%s: %s\n", name, wrong);
        FreeImage_Unload(img);
        return false;
    }
    const int p = FreeImage_GetPitch(img), step = b / 8;
    const unsigned char* src = FreeImage_GetBits(img);
    // A template without any insole pixel has no foot box to scale by.
    bool any = false;
    for (int r = 1; r < kRows - 1 && !any; ++r)
        for (int col = 0; col < kCols; ++col)
            if (src[r * p + col * step] >= kInsoleMin) {
                any = true;
                break;
            }
    if (!any) {
        std::printf("Unable to load texture: \n%s: the template holds no insole pixel\n", name);
        FreeImage_Unload(img);
        return false;
    }

    if (image) FreeImage_Unload(image);
    image = img;
    format = fmt;
    bits = FreeImage_GetBits(img);
    line = FreeImage_GetLine(img);
    pitch = p;
    dib_size = FreeImage_GetDIBSize(img);
    colors_used = FreeImage_GetColorsUsed(img);
    bpp = b;
    bytes_per_pixel = step;
    width = w;
    height = h;
    dpm_x = FreeImage_GetDotsPerMeterX(img);
    dpm_y = FreeImage_GetDotsPerMeterY(img);
    std::printf("width %d", width);
    std::printf("height %d", height);
    std::printf("dpmX %d", dpm_x);
    std::printf("pitch %d", pitch);
    std::printf("bpp %d", bpp);

    std::memset(work_plane, 0, sizeof(Plane));
    for (int r = 0; r < kRows; ++r)
        for (int col = 0; col < kCols; ++col) {
            const unsigned char v = (r == 0 || r == kRows - 1) ? 0 : bits[r * pitch + col * bytes_per_pixel];
            work_plane[r][col] = output_plane[r][col] = source_plane[r][col] = v;
        }
    measure_box(output_plane);
    tmpl_x_min = box_x_min, tmpl_x_max = box_x_max, tmpl_y_min = box_y_min, tmpl_y_max = box_y_max;
    measured_width = tmpl_x_max - tmpl_x_min + 1;
    scale_x = 150;
    c.width = measured_width, c.width_min = 0.5 * measured_width, c.width_max = 1.5 * measured_width;
    measured_length = tmpl_y_max - tmpl_y_min + 1;
    scale_y = 360;
    c.length = measured_length, c.length_min = 0.5 * measured_length, c.length_max = 1.5 * measured_length;
    template_side = landmark_side = current_side = side;
    needs_rebuild = true;
    return true;
}

// ---- the rebuild -----------------------------------------------------------------

void InsoleImage::measure_box(const Plane& plane) {
    const Box b = fitmire::measure_box(plane);
    box_y_min = b.y_min, box_y_max = b.y_max, box_x_min = b.x_min, box_x_max = b.x_max;
    box_height = b.height, box_width = b.width;
}

bool InsoleImage::render_scaled_template() {
    if (!gl_scratch_begin()) return false;
    gl_clear_black();
    glPushMatrix();
    glTranslatef(75 - (tmpl_x_min + tmpl_x_max) * 0.5f * (scale_x / 150),
                 180 - (tmpl_y_max + tmpl_y_min) * 0.5f * (scale_y / 360), 0);
    const float x = std::ceil(scale_x) + 1, y = std::floor(scale_y + 0.5f);
    gl_draw_textured_quad(texture, &source_plane[0][0], kStride, kRows, 0, 0, x, y);
    gl_read_channel(2, kStride, kRows, &work_plane[0][0]);
    glPopMatrix();
    gl_scratch_end();
    return true;
}

bool InsoleImage::rebuild(ScalerControls& c) {
    if (!image) return false;
    needs_rebuild = false;
    rebuilt_side = -1;
    if (!render_scaled_template()) return false;
    if (c.vary_height) scale_heights(work_plane, static_cast<float>(c.length) / measured_length, c.height_ratio);
    if (c.degree_30) limit_slope(work_plane, slope_scratch);
    trim_corners(work_plane);
    const int side_flag = current_side != 0 ? 1 : 0;
    landmark_side = side_flag;
    const double index = side_flag ? c.right_arch_index : c.left_arch_index;
    apply_arch_factor(work_plane, height_field, static_cast<float>(index), side_flag, template_side);
    measure_box(work_plane);
    size_pad(c);
    add_metatarsal_pad(work_plane, current_side == 0, texture, 4, c);
    std::memcpy(output_plane, work_plane, sizeof(Plane));
    rebuilt_side = side_flag;
    return true;
}

// ---- control actions ------------------------------------------------------------------

void InsoleImage::apply_width(ScalerControls& c) {
    needs_rebuild = true;
    if (measured_width <= 0) return;  // no template yet
    scale_x = static_cast<float>(c.width) / measured_width * 150;
    std::printf(" LU_Point %f \n", scale_x);
}

void InsoleImage::apply_length(ScalerControls& c) {
    if (measured_length > 0) {
        scale_y = static_cast<float>(c.length) / measured_length * 360;
        if (c.vary_width) {
            c.width = width_for_length(c.length, measured_length, measured_width);
            apply_width(c);
        }
    }
    needs_rebuild = true;
}

void InsoleImage::restore_measured(ScalerControls& c) {
    c.width = measured_width;
    scale_x = 150;
    c.length = measured_length;
    scale_y = 360;
    c.height_ratio = 1;
    needs_rebuild = true;
}

// ---- wedges and pad ----------------------------------------------------------------

void InsoleImage::find_landmarks(const Plane& plane, int side) {
    fitmire::find_landmarks(plane, side, landmarks);
    const Box& b = landmarks.box;
    box_y_min = b.y_min, box_y_max = b.y_max, box_x_min = b.x_min, box_x_max = b.x_max;
    box_height = b.height, box_width = b.width;
}

void InsoleImage::add_wedge(PointRC p1, PointRC p2, PointRC p3, Plane& plane, float amount_mm) {
    if (!fitmire::add_wedge(p1, p2, p3, plane, amount_mm))
        std::printf("wedge: the reference point lies on the wedge's line; nothing changed\n");
    std::memcpy(output_plane, work_plane, sizeof(Plane));
}

void InsoleImage::press_wedge(Wedge which, const ScalerControls& c) {
    auto pt = [&](int i) { return PointRC{static_cast<float>(landmarks.p[i].row),
                                          static_cast<float>(landmarks.p[i].column)}; };
    float value = 0;
    bool taper = false;
    switch (which) {
    case Wedge::inner_arch:
        value = static_cast<float>(c.inner_arch);
        add_wedge(pt(1), pt(2), pt(0), work_plane, value);
        taper = true;
        break;
    case Wedge::outer_arch:
        value = static_cast<float>(c.outer_arch);
        add_wedge(pt(0), pt(4), pt(1), work_plane, value);
        taper = true;
        break;
    case Wedge::inner_heel:
        add_wedge(pt(0), pt(4), pt(2), work_plane, static_cast<float>(c.inner_heel));
        break;
    case Wedge::outer_heel:
        add_wedge(pt(1), pt(2), pt(3), work_plane, static_cast<float>(c.outer_heel));
        break;
    case Wedge::whole_heel:
        add_wedge(pt(0), pt(1), pt(3), work_plane, static_cast<float>(c.whole_heel));
        break;
    }
    if (taper && value > 0) {
        const Landmark& p0 = landmarks.p[0];
        const Landmark& p1 = landmarks.p[1];
        add_wedge(PointRC{static_cast<float>(p0.row - 30), static_cast<float>(p0.column)},
                  PointRC{static_cast<float>(p1.row - 30), static_cast<float>(p1.column)},
                  PointRC{static_cast<float>(box_y_max), static_cast<float>(p0.column)}, work_plane, -3 * value);
    }
}

void InsoleImage::size_pad(ScalerControls& c) {
    Box b;
    b.width = box_width, b.height = box_height;
    const PadSize p = fitmire::size_pad(b, static_cast<float>(c.hv_angle));
    c.pad_width = p.width, c.pad_length = p.length, c.pad_height = p.height;
}

void InsoleImage::add_metatarsal_pad(Plane& plane, bool is_left, unsigned tex, float angle, const ScalerControls& c) {
    if (!c.pad) return;
    float cx, cy;
    if (!find_pad_anchor(plane, is_left, cx, cy)) return;
    drop->centre_x = cx, drop->centre_y = cy;
    const float w = static_cast<float>(c.pad_width), l = static_cast<float>(c.pad_length);
    const float h = static_cast<float>(c.pad_height);
    const int read_w = static_cast<int>(w + 20), read_h = static_cast<int>(l + 20);
    const int stride = (read_w + 3) / 4 * 4;
    if (!(w >= 0 && l >= 0) || read_w > kScratchW || read_h > kScratchH ||
        stride * static_cast<int>(std::ceil(l + 20)) > DropImage::kStampBytes) {
        std::printf("metatarsal pad of %.1f x %.1f mm does not fit the stamp; no pad\n", w, l);
        return;
    }
    if (!gl_scratch_begin()) return;
    gl_clear_black();
    glPushMatrix();
    glTranslatef(w * 0.5f, l, 0);
    glRotatef(is_left ? -angle : angle, 0, 0, 1);
    glTranslatef(-w * 0.5f, -l, 0);
    gl_draw_textured_quad(tex, drop->pixels, DropImage::kSize, DropImage::kSize, 10, 10,
                          static_cast<float>(static_cast<int>(w + 10)), static_cast<float>(static_cast<int>(l + 10)));
    glPopMatrix();
    std::memset(drop->stamp, 0, sizeof drop->stamp);
    gl_read_channel(0, read_w, read_h, drop->stamp);
    gl_scratch_end();
    drop->stamp_stride = stride;
    add_stamp(plane, drop->stamp, stride, w, l, h, drop->max_value, cx, cy);
}

// ---- saving --------------------------------------------------------------------

bool InsoleImage::save_scaled_bmp(const char* name) {
    std::string path = platform::map_path(platform::utf8_to_ansi(name));
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".bmp") != 0) path += ".bmp";
    if (!image) {
        std::printf("Unable to save %s: no template is loaded\n", path.c_str());
        return false;
    }
    for (int r = 0; r < height && r < kRows; ++r)
        for (int col = 0; col < width && col < kStride; ++col)
            for (int k = 0; k < bytes_per_pixel; ++k) bits[r * pitch + col * bytes_per_pixel + k] = output_plane[r][col];
    // Written beside the target and renamed over it, so a failed save never
    // leaves half an image where the path program would pick it up.
    const std::string tmp = path + ".tmp";
    bool ok = FreeImage_Save(static_cast<FREE_IMAGE_FORMAT>(format), image, tmp.c_str(), 0) != 0;
    if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        std::remove(tmp.c_str());
        std::printf("Unable to save %s\n", path.c_str());
    }
    return ok;
}

bool InsoleImage::save_handoff(bool right) {
    std::string why;
    if (!common::job_name_usable(job_name, &why)) {
        std::printf("job name \"%s\" refused (%s); the %s insole is not saved\n", job_name, why.c_str(),
                    right ? "right" : "left");
        return false;
    }
    std::snprintf(save_path, sizeof save_path, right ? "C:/insole/%s_iRight.bmp" : "C:/insole/%s_iLeft.bmp",
                  job_name);
    return save_scaled_bmp(save_path);
}

// ---- hand-off --------------------------------------------------------------------

HandoffSave InsoleImage::save_pending_side(RebuildRun run) {
    if (!left_pending && !right_pending) return HandoffSave::nothing;
    const int side = left_pending ? 0 : 1;
    // Only the draw whose rebuild made this side's insole may save it: any
    // other draw (an expose, a stray redraw) still shows the previous side.
    if (run != RebuildRun::done || rebuilt_side != side) {
        if (run == RebuildRun::failed && !rebuild_failure_reported) {
            std::printf("the %s insole is not saved: the rebuild needs an off-screen frame buffer, which this "
                        "display does not offer\n",
                        side == 0 ? "left" : "right");
            rebuild_failure_reported = true;
        }
        return HandoffSave::nothing;
    }
    if (side == 0) left_pending = false;
    else right_pending = false;
    // The record's length promised enough rows; the image is what counts.
    if (const int rows = printed_rows(output_plane); rows < kMinInsoleRows) {
        std::printf("job \"%s\": the %s insole spans %d rows, fewer than the %d the path program prints; it is not "
                    "saved\n",
                    job_name, side == 0 ? "left" : "right", rows, kMinInsoleRows);
        job_incomplete = true;
    } else if (!save_handoff(side == 1)) {
        job_incomplete = job_save_failed = true;
    }
    return side == 0 ? HandoffSave::left : HandoffSave::right;
}

bool InsoleImage::accept_handoff(const Handoff& h, const char* file_name, const std::string& kept) {
    if (job_open && (left_pending || right_pending) && !job_kept.empty())
        std::printf("%s: a new hand-off file came before its job was done; it stays as %s\n", job_file.c_str(),
                    job_kept.c_str());
    job_open = true;
    job_file = file_name;
    job_kept = kept;
    job_incomplete = job_save_failed = false;
    job_ends_program = h.right_found;
    rebuild_failure_reported = false;
    left_pending = right_pending = false;
    std::memcpy(left_values, h.left_values, sizeof left_values);
    std::memcpy(right_values, h.right_values, sizeof right_values);
    std::memcpy(job_name, h.job_name, sizeof job_name);
    // The values were printed without a line end; the lines below start their own.
    const char* nl = h.line_open ? "\n" : "";
    std::string why;
    if (!h.file_refused.empty()) {
        // One job is one left and one right record: anything else is refused
        // whole, never made in part.
        std::printf("%s%s: refused whole (%s); nothing is saved\n", nl, file_name, h.file_refused.c_str());
    } else if (!h.job_name_read) {
        // Never the name of an earlier job, nor none at all ("_iLeft.bmp").
        std::printf("%s%s: no \"right\" record names the job; nothing is saved\n", nl, file_name);
    } else if (h.job_name_broken || !common::job_name_usable(job_name, &why)) {
        if (h.job_name_broken) why = "it cannot be used as it stands";
        std::printf("%s%s: job name \"%s\" refused (%s); nothing is saved\n", nl, file_name,
                    h.job_name_text.c_str(), why.c_str());
    } else {
        if (h.left_found && h.left_refused.empty()) left_pending = true;
        if (h.right_found && h.right_refused.empty()) right_pending = true;
        for (int side = 0; side < 2; ++side) {
            const bool found = side ? h.right_found : h.left_found;
            const std::string& refused = side ? h.right_refused : h.left_refused;
            if (!found || refused.empty()) continue;
            std::printf("%s%s: job \"%s\": the %s record is refused (%s); nothing is saved for it\n", nl,
                        file_name, job_name, side ? "right" : "left", refused.c_str());
            nl = "";
        }
    }
    if (!left_pending && !right_pending) {
        // A file that could not be set aside stays where it is, not removed.
        if (job_kept.empty()) job_kept = file_name;
        job_incomplete = true;
        job_ends_program = true;  // as after a right record: this program's job is over
    } else if (!h.left_refused.empty() || !h.right_refused.empty()) {
        job_incomplete = true;
    }
    return left_pending || right_pending;
}

bool InsoleImage::close_job() {
    if (!job_open || left_pending || right_pending) return false;
    job_open = false;
    if (job_incomplete) {
        if (!job_kept.empty())
            std::printf("%s: the job is not done; the hand-off file is kept as %s\n", job_file.c_str(),
                        job_kept.c_str());
        else
            std::printf("%s: the job is not done and the hand-off file could not be kept\n", job_file.c_str());
    } else if (!job_kept.empty() && std::remove(job_kept.c_str()) != 0) {
        std::printf("%s: the job is done but %s cannot be removed\n", job_file.c_str(), job_kept.c_str());
    }
    return job_ends_program;
}

void InsoleImage::apply_pending(ScalerControls& c) {
    if (left_pending) {
        c.left_arch_index = left_values[0];
        c.length = left_values[1] + 10;  // the sum in float, as the value was read
        apply_length(c);
        current_side = 0;
        needs_rebuild = true;
    } else if (right_pending) {
        c.right_arch_index = right_values[0];
        c.length = right_values[1] + 10;  // the sum in float, as the value was read
        apply_length(c);
        current_side = 1;
        needs_rebuild = true;
    }
}

}  // namespace fitmire
