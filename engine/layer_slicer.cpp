// One layer per call: cross-section render and read-back, plane clean-up,
// outline scans, path building, G-code writing and the preview.
#include "engine/layer_slicer.h"

#include <GL/glew.h>
#include <GL/glu.h>

#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/gcode_writer.h"
#include "engine/mesh_ops.h"
#include "engine/params.h"
#include "platform/platform.h"

namespace engine {

static_assert(sizeof(MeshTriangle) == 9 * sizeof(float), "a mesh must be usable as a vertex array");

namespace {

// The two passes' triangle lists: the vertex indices of the triangles each
// pass can draw, in mesh order.
struct PassLists {
    std::vector<uint32_t> front, back;
};

void mat_mul(const double* a, const double* b, double* out) {  // column-major out = a x b
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a[k * 4 + r] * b[c * 4 + k];
            out[c * 4 + r] = s;
        }
}

// Sorts the mesh for the two culling passes with the matrices now current.
// A triangle wholly above the cut gives no fragment in either pass; one that
// clearly faces the viewer is culled by the back-face pass and the other way
// round, so each goes to one list. Triangles too close to edge-on to be sure
// of (and every triangle when the projection is not affine) go to both lists
// and GL's own culling decides, as it does for the whole mesh.
void split_for_passes(const Mesh& mesh, float cut_z, PassLists& out) {
    out.front.clear();
    out.back.clear();
    double proj[16], mv[16], all[16];
    glGetDoublev(GL_PROJECTION_MATRIX, proj);
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    mat_mul(proj, mv, all);
    const bool affine = all[3] == 0 && all[7] == 0 && all[11] == 0 && all[15] > 0;
    GLint front_face = GL_CCW;
    glGetIntegerv(GL_FRONT_FACE, &front_face);
    const double sign = front_face == GL_CW ? -1.0 : 1.0;
    // Kept when any vertex may lie at or below the cut after rounding.
    const double limit = cut_z + 0.05 + 1e-4 * std::fabs(cut_z);
    out.front.reserve(mesh.size() * 3);
    out.back.reserve(mesh.size() * 3);
    for (size_t i = 0; i < mesh.size(); ++i) {
        const MeshTriangle& t = mesh[i];
        const Vec3* v[3] = {&t.a, &t.b, &t.c};
        double ey[3], wx[3], wy[3];
        for (int k = 0; k < 3; ++k) {
            const double x = v[k]->x, y = v[k]->y, z = v[k]->z;
            ey[k] = mv[1] * x + mv[5] * y + mv[9] * z + mv[13];
            wx[k] = all[0] * x + all[4] * y + all[8] * z + all[12];
            wy[k] = all[1] * x + all[5] * y + all[9] * z + all[13];
        }
        if (ey[0] > limit && ey[1] > limit && ey[2] > limit) continue;
        const uint32_t base = (uint32_t)(3 * i);
        int facing = 0;  // 1 front, -1 back, 0 unsure
        if (affine) {
            const double ax = wx[1] - wx[0], ay = wy[1] - wy[0], bx = wx[2] - wx[0], by = wy[2] - wy[0];
            const double cross = sign * (ax * by - ay * bx);
            const double unsure = 1e-4 * (std::fabs(ax) + std::fabs(ay)) * (std::fabs(bx) + std::fabs(by)) + 1e-12;
            facing = cross > unsure ? 1 : cross < -unsure ? -1 : 0;
        }
        // Three push_backs into the reserved lists: a range insert per
        // triangle cost more than the test that sorted it.
        std::vector<uint32_t>& list = facing > 0 ? out.front : out.back;
        list.push_back(base), list.push_back(base + 1), list.push_back(base + 2);
        if (facing == 0) out.front.push_back(base), out.front.push_back(base + 1), out.front.push_back(base + 2);
    }
}

}  // namespace

// ---- GL steps ------------------------------------------------------------------------------

bool g_cross_section_reference_draw = false;

void render_cross_section(LayerRaster& r, const Mesh& mesh, const SliceInputs& in, float cut_z) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glViewport(0, 0, RASTER_W, RASTER_H);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-150, 150, -180, 180, -(double)RASTER_CELLS, (double)RASTER_CELLS);
    gluLookAt(0, 5, 0, 0, 0, 0, 0, 0, -1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLdouble clip[4] = {0, -1, 0, cut_z};
    glClipPlane(GL_CLIP_PLANE0, clip);
    glDisable(GL_CLIP_PLANE0);  // enabled only for the cross-section, never for the height

    if (r.height_request) {
        float mm[16], cm[16];
        for (int i = 0; i < 16; ++i) {
            mm[i] = (float)in.model_matrix[i];
            cm[i] = (float)in.centre_matrix[i];
        }
        HeightContext ctx;
        ctx.model_matrix = mm;
        ctx.centre_matrix = cm;
        ctx.base_height = in.base_height;
        ctx.batch_load_pending = in.batch_load_pending;
        ctx.batch_slice_pending = in.batch_slice_pending;
        glPushMatrix();
        measure_model_height(mesh, r, ctx);
        glPopMatrix();
        r.height_request = 0;
    }

    // The view's draw leaves lighting off and depth testing on; the slicer
    // relies on both (front faces black, back faces grey).
    glDisable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glPushMatrix();
    glLoadMatrixd(in.model_matrix);
    glMultMatrixd(in.centre_matrix);
    glEnable(GL_CULL_FACE);
    glEnable(GL_CLIP_PLANE0);
    if (g_cross_section_reference_draw) {
        glCullFace(GL_BACK);
        draw_mesh(mesh, 0, 0, 0);
        glCullFace(GL_FRONT);
        draw_mesh(mesh, 0.3f, 0.3f, 0.3f);
    } else {
        // The same two passes from a vertex array, each given only the
        // triangles that can show in it.
        static PassLists lists;
        split_for_passes(mesh, cut_z, lists);
        glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
        glEnableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, mesh.data());
        glCullFace(GL_BACK);
        glColor3f(0, 0, 0);
        if (!lists.front.empty())
            glDrawElements(GL_TRIANGLES, (GLsizei)lists.front.size(), GL_UNSIGNED_INT, lists.front.data());
        glCullFace(GL_FRONT);
        glColor3f(0.3f, 0.3f, 0.3f);
        if (!lists.back.empty())
            glDrawElements(GL_TRIANGLES, (GLsizei)lists.back.size(), GL_UNSIGNED_INT, lists.back.data());
        glPopClientAttrib();
    }
    glDisable(GL_LIGHTING);
    read_luminance_plane(r.layer_plane);
}

void read_luminance_plane(Plane& out) { read_luminance(RASTER_W, RASTER_H, out); }

void draw_layer_preview(LayerRaster& r) {
    glDisable(GL_CLIP_PLANE0);
    glDisable(GL_CULL_FACE);
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glViewport(0, 0, RASTER_W, RASTER_H);
    glOrtho(0, RASTER_W, 0, RASTER_H, 0, 1);
    if (!pon(bt_show_picture)) glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (pon(bt_show_point)) {
        glColor3f(0, 1, 0);
        glBegin(GL_POINTS);
        for (const auto& line : r.lines)
            for (const PathPoint& p : line) glVertex2f(p.x, p.y);
        glEnd();
    }
    if (pon(bt_show_contour)) {
        glColor3f(1, 1, 0);
        glBegin(GL_POINTS);
        for (const PathPoint& p : r.cleaned_points) glVertex2f(p.x, p.y);
        glEnd();
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, r.color_texture);
    // Mipmaps are only made when the texture's minification samples them;
    // with a plain filter they would never be seen and cost a few ms a layer.
    GLint min_filter = GL_NEAREST_MIPMAP_LINEAR;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
    if (min_filter != GL_NEAREST && min_filter != GL_LINEAR) glGenerateMipmap(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// ---- the whole layer -------------------------------------------------------------------------

namespace {
// Splits a call's time into phases when the caller asks for it.
struct PhaseClock {
    SliceTimings* t;
    int64_t last = 0;
    explicit PhaseClock(SliceTimings* timings) : t(timings) {
        if (t) {
            *t = SliceTimings();
            last = platform::perf_counter();
        }
    }
    void lap(double SliceTimings::*field) {
        if (!t) return;
        int64_t now = platform::perf_counter();
        t->*field += (double)(now - last) * 1000.0 / (double)platform::perf_frequency();
        last = now;
    }
};
}  // namespace

// The software renderer allocates and frees its large per-frame buffers on
// every layer; kept in the heap instead of being mapped and unmapped each
// time, a layer costs about a third less. Process-wide, set once.
void keep_render_buffers_mapped() {
    static bool done = false;
    if (done) return;
    done = true;
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_TOP_PAD, 64 * 1024 * 1024);
}

int slice_and_write_gcode(LayerRaster& r, const Mesh& mesh, SliceInputs& in) {
    keep_render_buffers_mapped();
    if (r.fbo == 0) {
        // Without the off-screen frame buffer nothing can be rendered or read
        // back; refuse rather than measure or slice the window's picture. A
        // batch job whose model is never measured is skipped by the driver.
        if (r.height_request || r.path_request || r.full_path_request || r.gcode_file_open) {
            std::printf("Video card does NOT supports GL_ARB_framebuffer_object. \n");
            r.height_request = 0;
            abandon_gcode_job(r, "no off-screen frame buffer, layers cannot be sliced");
        }
        return 0;
    }
    ParamStore& ps = params();
    PhaseClock clock(in.timings);
    const float L = (float)ps.value(va_layer_index);
    const float cut_z = layer_cut_z(r, L, in);

    glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
    // The pressure plane is read only by the slope threshold; rendered and
    // read back for every layer without it, it cost about a seventh of the
    // layer, and the cross-section render clears whatever it left behind.
    if (pon(bt_test1)) render_pressure_plane(r, in.slope_image, in.image_texture, in.box);
    if (pon(ck_contour_mode)) render_contour_plane(r, in.contour_image, in.image_texture, in.box);
    render_cross_section(r, mesh, in, cut_z);
    clock.lap(&SliceTimings::render_ms);

    if (r.has_marks) clear_marked_pockets(r, in);
    if (pon(ck_contour_mode)) std::memcpy(r.layer_plane, r.contour_plane, sizeof(Plane));
    if (pon(bt_test1)) apply_slope_threshold(r, cut_z + 1, in.test_pixels);
    remove_thin_cells(r);
    fill_holes(r);
    find_outline_anchor(r, L);
    scan_outline(r, L, pon(bt_whole_insole));
    clock.lap(&SliceTimings::cleanup_ms);

    if (r.path_request) {
        set_layer_flags(r, L);
        clear_layer_paths(r);
        set_layer_grid(r, in);
        build_layer_paths(r);
        slice_mesh_at_z(r, mesh, cut_z);
        clock.lap(&SliceTimings::trace_ms);
        if (!r.full_path_request) {
            r.path_request = 0;
        } else {
            if (r.gcode_file_open && !r.lines.empty()) write_gcode_layer(r, in);
            if (ps.maximum(va_layer_index) <= ps.value(va_layer_index)) {
                end_gcode_run(r, in);
            } else {
                ps.set_value(va_layer_index, ps.value(va_layer_index) + 1);
                if (pon(ck_self_def_angle) && in.layer_angle_on) *in.layer_angle_on = 1;
            }
            clock.lap(&SliceTimings::write_ms);
        }
    }

    draw_layer_preview(r);
    if (in.timings) glFinish();  // charge the preview to this call, not the next
    clock.lap(&SliceTimings::preview_ms);
    return 0;
}

}  // namespace engine
