// Mesh operations: the height measurement of known boxes through the
// frame buffer, the cut of closed solids into chained loops, clearing the
// traced paths and drawing them turned back into the image view.
#include <GL/glew.h>
#include <GL/glu.h>

#include <cmath>
#include <vector>

#include "engine/layer_raster.h"
#include "engine/mesh_ops.h"
#include "engine/params.h"
#include "engine/stl_model.h"
#include "tests/engine/insole_test_support.h"
#include "tests/support/gl_context.h"

namespace {

using engine::CrossSegment;
using engine::LayerRaster;
using engine::Mesh;
using engine::Vec3;
using insoletest::box_mesh;

// ---- solids --------------------------------------------------------------------

bool same_xy(const Vec3& a, const Vec3& b) { return std::fabs(a.x - b.x) < 1e-4f && std::fabs(a.y - b.y) < 1e-4f; }

// Places where a record does not start at the end of the one before it.
int chain_breaks(const std::vector<CrossSegment>& cm) {
    int breaks = 0;
    for (size_t i = 1; i < cm.size(); ++i) breaks += !same_xy(cm[i].pt[0], cm[i - 1].pt[1]);
    return breaks;
}

// ---- cross-sections ----------------------------------------------------------------

using CrossSection = insoletest::ParamTest;

// A made box and the real cube: the side faces' segments, at the cut's
// height, on the outline, chained into one closed loop.
TEST_F(CrossSection, ClosedBoxesChainIntoOneClosedLoop) {
    Mesh cube;
    engine::ModelBox cb;
    ASSERT_EQ(engine::read_stl_file(testsupport::testdata("cube_bin_space_solid_header.stl"), cube, cb).status,
              engine::StlStatus::ok);
    const struct {
        Mesh mesh;
        float z;
    } cases[] = {{box_mesh({10, 20, 0}, {50, 80, 10}), 4.5f}, {cube, (cb.model_min_z + cb.model_max_z) / 2 + 0.1f}};
    for (const auto& c : cases) {
        LayerRaster r;
        const engine::ModelBox b = insoletest::box_of(c.mesh);
        EXPECT_TRUE(engine::slice_mesh_at_z(r, c.mesh, c.z));
        const auto& cm = r.cross_mesh;
        ASSERT_EQ(cm.size(), 8u);
        for (const CrossSegment& s : cm) {
            ASSERT_EQ(s.count, 2);
            for (const Vec3& p : s.pt)
                EXPECT_TRUE(p.z == c.z && (p.x == b.model_min_x || p.x == b.model_max_x || p.y == b.model_min_y ||
                                           p.y == b.model_max_y)) << p.x << "," << p.y << "," << p.z;
        }
        EXPECT_EQ(chain_breaks(cm), 0);
        EXPECT_TRUE(same_xy(cm.back().pt[1], cm.front().pt[0]));
    }
}

// Two solids, their triangles interleaved, give two chains, each within its
// own solid; a face lying in the plane and the sides touching it are
// selected without points; a vertex in the plane gives one point.
TEST_F(CrossSection, TwoSolidsTwoChainsTouchingFacesAndVertices) {
    LayerRaster r;
    Mesh model = box_mesh({10, 20, 0}, {50, 80, 10});
    const Mesh second = box_mesh({100, 20, 2}, {130, 60, 12});
    // Interleave the two solids' triangles so that the chaining has to sort them.
    Mesh mixed;
    for (size_t i = 0; i < 12; ++i) {
        mixed.push_back(model[i]);
        mixed.push_back(second[i]);
    }
    engine::slice_mesh_at_z(r, mixed, 5);
    const auto& cm = r.cross_mesh;
    ASSERT_EQ(cm.size(), 16u);
    EXPECT_EQ(chain_breaks(cm), 1);
    size_t split = 1;
    while (same_xy(cm[split].pt[0], cm[split - 1].pt[1])) ++split;
    EXPECT_EQ(split, 8u);
    EXPECT_TRUE(same_xy(cm[7].pt[1], cm[0].pt[0]));
    EXPECT_TRUE(same_xy(cm[15].pt[1], cm[8].pt[0]));
    // Each chain stays within its own solid.
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(cm[i].pt[0].x < 75, cm[0].pt[0].x < 75 ? i < 8 : i >= 8);

    const Mesh box = box_mesh({0, 0, 0}, {10, 10, 10});
    engine::slice_mesh_at_z(r, box, 0);  // the bottom face lies in the plane
    ASSERT_EQ(r.cross_mesh.size(), 10u);  // bottom 2 + sides 8; the top is above
    for (const CrossSegment& s : r.cross_mesh) EXPECT_EQ(s.count, 0);
    engine::slice_mesh_at_z(r, box, 11);
    EXPECT_TRUE(r.cross_mesh.empty());
    engine::slice_mesh_at_z(r, {}, 1);
    EXPECT_TRUE(r.cross_mesh.empty());
    const Mesh tri = {{{0, 0, 5}, {10, 0, 0}, {0, 10, 10}}};
    engine::slice_mesh_at_z(r, tri, 5);
    ASSERT_EQ(r.cross_mesh.size(), 1u);
    EXPECT_EQ(r.cross_mesh[0].count, 1);
    EXPECT_FLOAT_EQ(r.cross_mesh[0].pt[0].x, 5);
    EXPECT_FLOAT_EQ(r.cross_mesh[0].pt[0].y, 5);
}

// ---- path lines ----------------------------------------------------------------------

using PathLines = insoletest::ParamTest;

// A raster cell turned back by the layer's angle about the middle and
// scaled to the view (truncated, so the angle's rounding may land one pixel
// short): at 90 degrees (10, 0) from the middle turns to (0, -10); with the
// self-defined angle odd layers turn back the other way.
TEST_F(PathLines, PointsTurnBackByTheLayerAngle) {
    const struct {
        float x, y, angle;
        int layer;
        bool self_def;
        int w, h;
        float X, Y, tol;
    } cases[] = {{160, 200, 0, 0, false, 300, 360, 160, 200, 1}, {150, 180, 35, 3, true, 525, 675, 262, 337, 0},  // x 1.75, y 1.875
                 {160, 180, 90, 4, false, 300, 360, 150, 170, 1}, {160, 180, 90, 4, true, 300, 360, 150, 170, 1},
                 {160, 180, 90, 5, false, 300, 360, 150, 170, 1}, {160, 180, 90, 5, true, 300, 360, 150, 190, 1}};
    for (const auto& c : cases) {
        const auto p = engine::layer_path_pixel(c.x, c.y, c.angle, c.layer, c.self_def, c.w, c.h);
        EXPECT_NEAR(p.x, c.X, c.tol) << c.angle << " layer " << c.layer << " " << c.self_def;
        EXPECT_NEAR(p.y, c.Y, c.tol) << c.angle << " layer " << c.layer << " " << c.self_def;
    }
}

// ---- through OpenGL ---------------------------------------------------------------------

class MeshGl : public testsupport::GlTest {
protected:
    void SetUp() override {
        testsupport::GlTest::SetUp();
        engine::set_param_store(&store);
    }
    void TearDown() override {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        engine::set_param_store(nullptr);
    }

    // The frame buffer, viewport and projection as the slicer sets them.
    void slicer_view(LayerRaster& r) {
        ASSERT_TRUE(engine::init_framebuffer(r));
        glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
        glDisable(GL_DEPTH_TEST);  // the measurement must not rely on it
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glViewport(0, 0, 300, 360);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-150, 150, -180, 180, -r.plane_size, r.plane_size);
        gluLookAt(0, 5, 0, 0, 0, 0, 0, 0, -1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }

    // The 3-D view's placement: model z up (turned onto the eye's axis), box centred.
    engine::HeightContext placement(float cx, float cy) {
        const float turn[16] = {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1};
        const float centre[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -cx, -cy, 0, 1};
        std::copy(turn, turn + 16, model_matrix);
        std::copy(centre, centre + 16, centre_matrix);
        engine::HeightContext ctx;
        ctx.model_matrix = model_matrix;
        ctx.centre_matrix = centre_matrix;
        return ctx;
    }

    engine::PlainParamStore store;
    float model_matrix[16], centre_matrix[16];
};

TEST_F(MeshGl, BoxesMeasureTheirHeightAnEmptyModelNone) {
    LayerRaster r;
    slicer_view(r);
    const Mesh box = box_mesh({0, 0, 0}, {40, 60, 10});
    engine::measure_model_height(box, r, placement(20, 30));
    EXPECT_NEAR(r.model_height, 10.0, 0.05);
    EXPECT_EQ(r.path_request, 1);
    // The sliders follow: layers of 0.1 mm up to the height.
    EXPECT_NEAR(store.maximum(engine::va_cut_plane), 10.0, 0.05);
    EXPECT_DOUBLE_EQ(store.step(engine::va_cut_plane), 0.1);
    EXPECT_NEAR(store.maximum(engine::va_layer_index), 99, 0.5);
    EXPECT_EQ(store.value(engine::va_layer_index), 0);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    // A raised box; an insole model stands on its 2 mm plate, 0.4 less when printed whole.
    const Mesh raised = box_mesh({-30, -50, 3}, {30, 50, 28});
    engine::measure_model_height(raised, r, placement(0, 0));
    EXPECT_NEAR(r.model_height, 25.0, 0.05);
    r.insole_mesh_model = 1;
    engine::measure_model_height(raised, r, placement(0, 0));
    EXPECT_NEAR(r.model_height, 23.0, 0.05);
    store.set_value(engine::bt_whole_insole, 1);
    engine::measure_model_height(raised, r, placement(0, 0));
    EXPECT_NEAR(r.model_height, 23.4, 0.05);
    // No loaded model: no layers, and the batch is handed on to slicing.
    r.insole_mesh_model = 0;
    uint8_t load_pending = 1, slice_pending = 0;
    engine::HeightContext ctx = placement(0, 0);
    ctx.batch_load_pending = &load_pending;
    ctx.batch_slice_pending = &slice_pending;
    engine::measure_model_height({}, r, ctx);
    EXPECT_EQ(r.model_height, 0);
    EXPECT_EQ(store.maximum(engine::va_layer_index), -1);
    EXPECT_EQ(load_pending, 0);
    EXPECT_EQ(slice_pending, 1);
}

TEST(HeightFromDepths, TakesTheFarthestBackAndNearestFront) {
    std::vector<float> far(100, 1.0f), near(100, 1.0f);
    far[10] = 0.4f, far[20] = 0.6f, far[30] = 0.6f;
    near[40] = 0.55f, near[50] = 0.3f, near[60] = 0.3f;
    int f = -1, n = -1;
    const float h = engine::model_height_from_depths(far.data(), near.data(), 100, 108000, &f, &n);
    EXPECT_EQ(f, 20);
    EXPECT_EQ(n, 50);
    EXPECT_NEAR(h, 0.3 * 216001, 0.1);
    std::vector<float> bg(100, 1.0f);
    EXPECT_EQ(engine::model_height_from_depths(bg.data(), bg.data(), 100, 108000, &f, &n), 0);
    EXPECT_EQ(f, 0);
    EXPECT_EQ(n, 0);
}

TEST_F(MeshGl, PathLinesAreDrawnInMagenta) {
    LayerRaster r;
    ASSERT_TRUE(engine::init_framebuffer(r));
    glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glViewport(0, 0, 300, 360);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 300, 0, 360, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    engine::PathPoint a, b;
    a.x = 100, a.y = 100.5f, b.x = 200, b.y = 100.5f;
    r.lines.push_back({a, b});
    engine::draw_layer_paths(r, 0, 300, 360);
    std::vector<uint8_t> rgb(300 * 360 * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 300, 360, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    int magenta = 0;
    for (int y = 99; y <= 101; ++y) {
        const uint8_t* px = &rgb[(y * 300 + 150) * 3];
        magenta += px[0] == 255 && px[1] == 0 && px[2] == 255;
    }
    EXPECT_EQ(magenta, 1);
    EXPECT_EQ(rgb[(200 * 300 + 150) * 3], 0);
}

}  // namespace
