// One layer per call: cross-section render and read-back, plane clean-up,
// outline scans, path building, G-code writing and the preview.
#include "engine/layer_slicer.h"

#include <GL/glew.h>
#include <GL/glu.h>

#include <cmath>
#include <cstring>

#include "engine/gcode_writer.h"
#include "engine/mesh_ops.h"
#include "engine/params.h"

namespace engine {

static_assert(sizeof(MeshTriangle) == 9 * sizeof(float), "a mesh must be usable as a vertex array");

namespace {

// Eye-space height of a model point under model_matrix x centre_matrix
// (column-major, as the view captures them).
struct HeightRow {
    double m[4];
    explicit HeightRow(const SliceInputs& in) {
        const double* a = in.model_matrix;
        const double* c = in.centre_matrix;
        for (int col = 0; col < 4; ++col) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a[k * 4 + 1] * c[col * 4 + k];
            m[col] = s;
        }
    }
    float operator()(const Vec3& v) const { return (float)(m[0] * v.x + m[1] * v.y + m[2] * v.z + m[3]); }
};

// Vertex indices of the triangles that reach down to the cut; the others lie
// wholly on the clipped side and give no fragment. The margin keeps every
// triangle that the clip test might keep after rounding.
void collect_cut_triangles(const Mesh& mesh, const SliceInputs& in, float cut_z, std::vector<uint32_t>& idx) {
    idx.clear();
    const HeightRow h(in);
    const float limit = cut_z + 0.05f + 1e-4f * std::fabs(cut_z);
    for (size_t i = 0; i < mesh.size(); ++i) {
        const MeshTriangle& t = mesh[i];
        if (h(t.a) > limit && h(t.b) > limit && h(t.c) > limit) continue;
        const uint32_t v = (uint32_t)(3 * i);
        idx.push_back(v);
        idx.push_back(v + 1);
        idx.push_back(v + 2);
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
        // The same two passes from a vertex array, without the triangles that
        // lie wholly above the cut.
        static std::vector<uint32_t> idx;
        collect_cut_triangles(mesh, in, cut_z, idx);
        if (!idx.empty()) {
            glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
            glEnableClientState(GL_VERTEX_ARRAY);
            glDisableClientState(GL_NORMAL_ARRAY);
            glDisableClientState(GL_COLOR_ARRAY);
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
            glVertexPointer(3, GL_FLOAT, 0, mesh.data());
            glCullFace(GL_BACK);
            glColor3f(0, 0, 0);
            glDrawElements(GL_TRIANGLES, (GLsizei)idx.size(), GL_UNSIGNED_INT, idx.data());
            glCullFace(GL_FRONT);
            glColor3f(0.3f, 0.3f, 0.3f);
            glDrawElements(GL_TRIANGLES, (GLsizei)idx.size(), GL_UNSIGNED_INT, idx.data());
            glPopClientAttrib();
        }
    }
    glDisable(GL_LIGHTING);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);  // 300-byte rows
    glReadPixels(0, 0, RASTER_W, RASTER_H, GL_LUMINANCE, GL_UNSIGNED_BYTE, r.layer_plane);
}

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
    glGenerateMipmap(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// ---- the whole layer -------------------------------------------------------------------------

int slice_and_write_gcode(LayerRaster& r, const Mesh& mesh, SliceInputs& in) {
    ParamStore& ps = params();
    const float L = (float)ps.value(va_layer_index);
    const float cut_z = layer_cut_z(r, L, in);

    glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
    render_pressure_plane(r, in.slope_image, in.image_texture, in.box);
    if (pon(ck_contour_mode)) render_contour_plane(r, in.contour_image, in.image_texture, in.box);
    render_cross_section(r, mesh, in, cut_z);

    if (r.has_marks) clear_marked_pockets(r, in);
    if (pon(ck_contour_mode)) std::memcpy(r.layer_plane, r.contour_plane, sizeof(Plane));
    if (pon(bt_test1)) apply_slope_threshold(r, cut_z + 1, in.test_pixels);
    remove_thin_cells(r);
    fill_holes(r);
    find_outline_anchor(r, L);
    scan_outline(r, L, pon(bt_whole_insole));

    if (r.path_request) {
        set_layer_flags(r, L);
        clear_layer_paths(r);
        set_layer_grid(r, in);
        build_layer_paths(r);
        slice_mesh_at_z(r, mesh, cut_z);
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
        }
    }

    draw_layer_preview(r);
    return 0;
}

}  // namespace engine
