// Mesh drawing, the model-height measurement by two depth renders, the cut
// of the mesh at a layer height, and the traced path lines in the image view.
#include "engine/mesh_ops.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "engine/params.h"

namespace engine {

namespace {
constexpr double kPi = 3.14159265;

Vec3 face_normal(const MeshTriangle& t) {
    const float ux = t.b.x - t.a.x, uy = t.b.y - t.a.y, uz = t.b.z - t.a.z;
    const float vx = t.c.x - t.a.x, vy = t.c.y - t.a.y, vz = t.c.z - t.a.z;
    return {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
}
}  // namespace

// ---- drawing ---------------------------------------------------------------

void draw_mesh(const Mesh& model, float r, float g, float b) {
    glEnable(GL_NORMALIZE);
    glPushMatrix();
    glColor3f(r, g, b);
    glBegin(GL_TRIANGLES);
    for (const MeshTriangle& t : model) {
        const Vec3 n = face_normal(t);
        glNormal3f(n.x, n.y, n.z);
        glVertex3f(t.a.x, t.a.y, t.a.z);
        glVertex3f(t.b.x, t.b.y, t.b.z);
        glVertex3f(t.c.x, t.c.y, t.c.z);
    }
    glEnd();
    glPopMatrix();
    glDisable(GL_NORMALIZE);
}

// ---- height measurement ------------------------------------------------------

float model_height_from_depths(const float* img2, const float* img1, int cells, int plane_size, int* index_far,
                               int* index_near) {
    // The far side: the first index of the largest depth short of the background.
    int far_i = 0;
    float far_v = 0;
    for (int i = 0; i < cells; ++i) {
        if (img2[i] != 1.0f && img2[i] > far_v) {
            far_v = img2[i];
            far_i = i;
        }
    }
    // The near side: the first index of the smallest depth.
    int near_i = 0;
    float near_v = 1.0f;
    for (int i = 0; i < cells; ++i) {
        if (img1[i] < near_v) {
            near_v = img1[i];
            near_i = i;
        }
    }
    if (index_far) *index_far = far_i;
    if (index_near) *index_near = near_i;
    if (cells <= 0) return 0;
    return static_cast<float>(std::fabs(img2[far_i] - img1[near_i]) * (2.0 * plane_size + 1));
}

namespace {

// One depth render of the mesh with the given faces culled, read back into img.
void render_depth(const Mesh& model, const LayerRaster& raster, GLenum culled, float* img) {
    glCullFace(culled);
    draw_mesh(model, 1, 1, 1);
    // Never more than the frame buffer and the image hold.
    const int w = std::min(raster.width, RASTER_W), h = std::min(raster.height, RASTER_H);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    if (w > 0 && h > 0) glReadPixels(0, 0, w, h, GL_DEPTH_COMPONENT, GL_FLOAT, img);
    glPopClientAttrib();
}

// Sliders follow the measured height.
void set_layer_sliders(float model_height) {
    ParamStore& p = params();
    const double spacing = p.value(va_spacing);
    p.set_range(va_cut_plane, 0, std::floor(model_height * 10000.0) / 10000.0);
    p.set_step(va_cut_plane, std::floor(spacing * 10000.0) / 10000.0);
    p.set_value(va_cut_plane, 0);
    p.redraw(va_cut_plane);
    double layers_max = 0;
    if (spacing > 0) {
        layers_max = model_height / spacing - 1;
    } else {
        std::printf("layer spacing %f is not positive: the layer range is left at 0\n", spacing);
    }
    p.set_range(va_layer_index, p.minimum(va_layer_index), layers_max);
    p.set_value(va_layer_index, 0);
    p.redraw(va_layer_index);
}

}  // namespace

void measure_model_height(const Mesh& model, LayerRaster& raster, const HeightContext& ctx) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClear(GL_DEPTH_BUFFER_BIT);
    if (ctx.model_matrix) glLoadMatrixf(ctx.model_matrix);
    if (ctx.centre_matrix) glMultMatrixf(ctx.centre_matrix);

    // The depth images need depth writes whatever the caller left enabled.
    const GLboolean had_depth_test = glIsEnabled(GL_DEPTH_TEST);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    render_depth(model, raster, GL_FRONT, raster.img2);
    render_depth(model, raster, GL_BACK, raster.img1);
    if (!had_depth_test) glDisable(GL_DEPTH_TEST);

    int index_f = 0, index_b = 0;
    const int cells = std::min(raster.width, RASTER_W) * std::min(raster.height, RASTER_H);
    float height = model_height_from_depths(raster.img2, raster.img1, cells, raster.plane_size, &index_f, &index_b);
    if (raster.insole_mesh_model) {
        height = pon(bt_whole_insole) ? height - ctx.base_height + 4 * static_cast<float>(pval(va_spacing))
                                      : height - ctx.base_height;
    }
    raster.model_height = height;
    set_layer_sliders(height);
    raster.path_request = 1;

    std::printf("img2[index_F] %f \n", cells > 0 ? raster.img2[index_f] : 1.0f);
    std::printf("img1[index_B] %f \n", cells > 0 ? raster.img1[index_b] : 1.0f);
    std::printf("Height %f \n", raster.model_height);
    std::printf("bottom %f \n", 0.0);

    glDisable(GL_CULL_FACE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

    if (ctx.batch_load_pending && *ctx.batch_load_pending) {
        if (ctx.batch_slice_pending) *ctx.batch_slice_pending = 1;
        *ctx.batch_load_pending = 0;
    }
}

// ---- cross-section -----------------------------------------------------------

namespace {

void add_crossing(CrossSegment& s, const Vec3& p, const Vec3& q, float z) {
    if (!((p.z < z && z < q.z) || (q.z < z && z < p.z))) return;
    if (s.count >= 2) return;
    const float t = (z - p.z) / (q.z - p.z);
    s.pt[s.count++] = {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y), z};
}

bool same_xy(const Vec3& a, const Vec3& b) {
    return std::fabs(a.x - b.x) < 0.0001f && std::fabs(a.y - b.y) < 0.0001f;
}

}  // namespace

bool slice_mesh_at_z(LayerRaster& raster, const Mesh& model, float z) {
    std::vector<CrossSegment>& cm = raster.cross_mesh;
    cm.clear();
    for (const MeshTriangle& t : model) {
        const bool all_above = t.a.z > z && t.b.z > z && t.c.z > z;
        const bool all_below = t.a.z < z && t.b.z < z && t.c.z < z;
        if (all_above || all_below) continue;
        CrossSegment s;
        s.tri = t;
        cm.push_back(s);
    }
    std::printf("cross_mesh.size() %d\tz %f\n", static_cast<int>(cm.size()), z);

    for (CrossSegment& s : cm) {
        add_crossing(s, s.tri.a, s.tri.b, z);
        add_crossing(s, s.tri.a, s.tri.c, z);
        add_crossing(s, s.tri.b, s.tri.c, z);
    }

    // Each record is made to start where the one before it ends.
    const size_t n = cm.size();
    for (size_t f = 1; f < n; ++f) {
        CrossSegment& prev = cm[f - 1];
        if (prev.count == 0) continue;  // nothing of it can match
        for (size_t c = f; c < n; ++c) {
            CrossSegment& cand = cm[c];
            int hit_prev = -1, hit_cand = -1;
            for (int k = 0; k < 2 && hit_prev < 0; ++k) {
                for (int m = 0; m < 2; ++m) {
                    if (k < prev.count && m < cand.count && same_xy(prev.pt[k], cand.pt[m])) {
                        hit_prev = k;
                        hit_cand = m;
                        break;
                    }
                }
            }
            if (hit_prev < 0) continue;
            // A one-point record has no other end to turn to.
            if (hit_prev == 0 && prev.count == 2) std::swap(prev.pt[0], prev.pt[1]);
            if (hit_cand == 1) std::swap(cand.pt[0], cand.pt[1]);
            if (c != f) std::swap(cm[c], cm[f]);
            break;
        }
    }
    return true;
}

// ---- path lines --------------------------------------------------------------

void clear_layer_paths(LayerRaster& raster) {
    for (PathPoint& p : raster.grid) p.visited = 0;
    for (auto& line : raster.lines) line.clear();
    raster.lines.clear();
}

ViewPixel layer_path_pixel(float x, float y, int current_angle, int layer, bool self_def_angle, int view_w,
                           int view_h) {
    const float dx = x - 150, dy = y - 180;
    float tx = 150, ty = 180;
    if (dx != 0 || dy != 0) {
        const float a = polar_angle_deg(dx, dy);
        const float r = std::sqrt(dx * dx + dy * dy);
        const int s = (layer % 2 != 0) ? -1 : 1;
        const double turn = self_def_angle ? a - s * current_angle : a - current_angle;
        const double t = turn * kPi / 180.0;
        tx = static_cast<float>(r * std::cos(t) + 150);
        ty = static_cast<float>(r * std::sin(t) + 180);
    }
    // The view stretches the 300 x 360 raster over its own pixels.
    return {static_cast<int>(view_w / 300.0 * tx), static_cast<int>(view_h / 360.0 * ty)};
}

void draw_layer_paths(const LayerRaster& raster, int current_angle, int view_w, int view_h) {
    if (raster.lines.empty()) return;
    const int layer = static_cast<int>(pval(va_layer_index));
    const bool self_def = pon(ck_self_def_angle);
    glColor3f(1, 0, 1);
    for (const auto& line : raster.lines) {
        glBegin(GL_LINE_STRIP);
        for (const PathPoint& p : line) {
            const ViewPixel v = layer_path_pixel(p.x, p.y, current_angle, layer, self_def, view_w, view_h);
            glVertex2i(v.x, v.y);
        }
        glEnd();
    }
}

}  // namespace engine
