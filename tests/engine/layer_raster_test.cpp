// The layer raster: sample grid, angle functions, disc clearing, threshold
// clean-up, frame buffer and the turned pressure and contour renders.
#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/layer_raster.h"
#include "engine/params.h"
#include "tests/engine/insole_test_support.h"
#include "tests/support/gl_context.h"

namespace {

using engine::LayerRaster;
using engine::PathPoint;

using insoletest::pt;

// ---- sample grid -------------------------------------------------------------

using SampleGrid = insoletest::ParamTest;

TEST_F(SampleGrid, StepsCoverTheRasterRowMajorAndRoundUp) {
    const struct {
        int step, columns, rows;
        float last_x;
    } cases[] = {{3, 100, 120, 297}, {7, 43, 52, 294}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        LayerRaster r;
        engine::build_sample_grid(r, c.step);
        EXPECT_EQ(r.grid_columns, c.columns);
        EXPECT_EQ(r.grid_rows, c.rows);
        ASSERT_EQ(r.grid.size(), size_t(c.columns) * c.rows);
        for (size_t i = 0; i < r.grid.size(); ++i) ASSERT_EQ(r.grid[i].index, static_cast<int>(i));
        EXPECT_EQ(r.grid.front().x, 0);
        EXPECT_EQ(r.grid.front().y, 0);
        EXPECT_EQ(r.grid.back().x, c.last_x);
        EXPECT_EQ(r.grid.back().y, 357);
        // One grid row up is grid_columns further on.
        EXPECT_EQ(r.grid[5 + r.grid_columns].x, r.grid[5].x);
        EXPECT_EQ(r.grid[5 + r.grid_columns].y, r.grid[5].y + c.step);
    }
}

TEST_F(SampleGrid, OffsetCrossingShiftsRowsOrColumnsAndRebuildsStartAfresh) {
    LayerRaster r;
    store.set_value(engine::ck_offset_cross, 1);
    r.grid_offset = 1.5f;
    r.row_lines = 1;
    engine::build_sample_grid(r, 3);
    EXPECT_EQ(r.grid[0].x, 0);
    EXPECT_EQ(r.grid[0].y, 1.5f);
    EXPECT_EQ(r.grid.back().x, 297);
    EXPECT_EQ(r.grid.back().y, 358.5f);
    EXPECT_EQ(r.grid.back().grid_y, 358.5f);

    r.row_lines = 0;
    engine::build_sample_grid(r, 3);
    EXPECT_EQ(r.grid[0].x, 1.5f);
    EXPECT_EQ(r.grid[0].y, 0);
    EXPECT_EQ(r.grid.size(), 12000u);  // the bounds are tested before the shift

    store.set_value(engine::ck_offset_cross, 0);
    r.grid[10].visited = 1;
    engine::build_sample_grid(r, 3);  // a rebuild clears the visited marks
    EXPECT_EQ(r.grid[0].x, 0);
    EXPECT_EQ(r.grid[10].visited, 0);
    engine::build_sample_grid(r, 0);  // a step of 0 still ends
    EXPECT_EQ(r.grid.size(), 108000u);
}

// ---- angles ------------------------------------------------------------------

TEST(Angles, PolarAndVertexAngles) {
    const float cases[][3] = {{5, 0, 0},     {-5, 0, 180},       {0, 5, 90},          {0, -5, 270},
                              {1, 1, 45},    {-100, -100, 225},  {120, -50, 337.38f}};  // x, y, degrees
    for (const auto& c : cases) EXPECT_NEAR(engine::polar_angle_deg(c[0], c[1]), c[2], 1e-2) << c[0] << "," << c[1];
    // Rounding can push the cosine past 1 near the axis; the result must stay a number.
    for (float x : {0.001f, 0.5f, 299.9f, 300.0f, 450.0f, -450.0f})
        for (float y : {1e-4f, -1e-4f, 1e-2f}) {
            const float a = engine::polar_angle_deg(x, y);
            EXPECT_TRUE(std::isfinite(a) && a >= 0 && a <= 360) << x << "," << y << ": " << a;
        }
    EXPECT_EQ(engine::polar_angle_deg(0, 0), 0);
    EXPECT_NEAR(engine::vertex_angle_deg(pt(1, 0), pt(0, 0), pt(0, 1)), 90, 1e-3);
    EXPECT_NEAR(engine::vertex_angle_deg(pt(10, 10), pt(20.5f, 20.5f), pt(31, 31)), 180, 1e-2);
    EXPECT_EQ(engine::vertex_angle_deg(pt(10, 10), pt(10, 10), pt(31, 31)), 0);  // no direction to p1
}

// ---- disc clearing -------------------------------------------------------------

using DiscClearing = insoletest::ParamTest;

int cleared_cells(const LayerRaster& r) {
    int n = 0;
    for (int i = 0; i < engine::RASTER_CELLS; ++i) n += r.layer_plane[i] == 0;
    return n;
}

TEST_F(DiscClearing, NothingUpToLayerThreeThenWithinTheShrunkRadiusInsideTheRaster) {
    LayerRaster r;
    std::fill(std::begin(r.layer_plane), std::end(r.layer_plane), 9);
    for (int layer : {0, 2, 3}) {
        store.set_value(engine::va_layer_index, layer);
        engine::clear_disc(r, 150, 180, 40);
    }
    EXPECT_EQ(cleared_cells(r), 0);
    store.set_value(engine::va_layer_index, 31);
    engine::clear_disc(r, 100, 200, 10);
    // The radius shrinks to 9.725 at layer 31: the 293 cells with x² + y² <= 94, nothing beyond distance 10.
    for (int y = 0; y < engine::RASTER_H; ++y)
        for (int x = 0; x < engine::RASTER_W; ++x)
            if (std::hypot(x - 100.0, y - 200.0) >= 10) {
                ASSERT_EQ(r.layer_plane[y * engine::RASTER_W + x], 9) << x << "," << y;
            }
    EXPECT_EQ(cleared_cells(r), 293);
    // The cells at distance 9 are cleared, those at 10 are not.
    EXPECT_EQ(r.layer_plane[200 * 300 + 109], 0);
    EXPECT_EQ(r.layer_plane[200 * 300 + 110], 9);

    // At the edge only cells inside the raster change: the planes beside
    // layer_plane in the object show any stray write.
    std::fill(std::begin(r.layer_copy), std::end(r.layer_copy), 7);
    std::fill(std::begin(r.layer_plane), std::end(r.layer_plane), 9);
    store.set_value(engine::va_layer_index, 50);
    engine::clear_disc(r, 0, 0, 20);
    engine::clear_disc(r, 299, 359, 20);
    engine::clear_disc(r, -30, 180, 40);
    engine::clear_disc(r, 320, -5, 30);
    EXPECT_EQ(r.layer_plane[0], 0);
    EXPECT_EQ(r.layer_plane[359 * 300 + 299], 0);
    EXPECT_EQ(r.layer_plane[180 * 300 + 0], 0);
    EXPECT_EQ(r.layer_plane[180 * 300 + 20], 9);
    for (int i = 0; i < engine::RASTER_CELLS; ++i) ASSERT_EQ(r.layer_copy[i], 7);
    // A disc far larger than the raster clears all of it and no more, quickly.
    engine::clear_disc(r, 150, 180, 1 << 30);
    EXPECT_EQ(cleared_cells(r), engine::RASTER_CELLS);
    for (int i = 0; i < engine::RASTER_CELLS; ++i) ASSERT_EQ(r.layer_copy[i], 7);
}

// ---- threshold ---------------------------------------------------------------

TEST(SlopeThreshold, ClearsOnlyEqualCellsAtOrBelowTheThreshold) {
    LayerRaster r;
    auto at = [](int x, int y) { return y * engine::RASTER_W + x; };
    r.layer_plane[at(10, 10)] = 5, r.pressure_plane[at(10, 10)] = 5;  // equal, below: cleared
    r.layer_plane[at(11, 10)] = 6, r.pressure_plane[at(11, 10)] = 4;  // differs, below: kept
    r.layer_plane[at(12, 10)] = 7, r.pressure_plane[at(12, 10)] = 7;  // above the threshold: kept
    r.layer_plane[at(13, 10)] = 6, r.pressure_plane[at(13, 10)] = 6;  // equal to the threshold: cleared
    r.pressure_plane[at(149, 359)] = 42;
    r.pressure_plane[at(150, 359)] = 43;
    std::vector<uint8_t> pixels(360 * 152, 1);
    engine::apply_slope_threshold(r, 6.0f, pixels.data());
    EXPECT_EQ(r.layer_plane[at(10, 10)], 0);
    EXPECT_EQ(r.layer_plane[at(11, 10)], 6);
    EXPECT_EQ(r.layer_plane[at(12, 10)], 7);
    EXPECT_EQ(r.layer_plane[at(13, 10)], 0);
    // Columns 0..149 of the pressure plane land in the test view's 152-byte rows.
    EXPECT_EQ(pixels[359 * 152 + 149], 42);
    EXPECT_EQ(pixels[359 * 152 + 150], 1);
    EXPECT_EQ(pixels[10 * 152 + 11], 4);
    engine::apply_slope_threshold(r, 6.0f, nullptr);
}

// ---- frame buffer and turned renders ----------------------------------------------

class RasterGl : public testsupport::GlTest {
protected:
    void SetUp() override {
        testsupport::GlTest::SetUp();
        engine::set_param_store(&store);
    }
    void TearDown() override { engine::set_param_store(nullptr); }
    engine::PlainParamStore store;
};

// The set cells of a plane gather about the raster's middle (150, 180)
// plus (dx, dy) turned by deg.
void expect_spot_turned(const engine::Plane& p, double dx, double dy, double deg) {
    double cx = 0, cy = 0;
    int n = 0;
    for (int y = 0; y < engine::RASTER_H; ++y)
        for (int x = 0; x < engine::RASTER_W; ++x)
            if (p[y * engine::RASTER_W + x]) cx += x, cy += y, ++n;
    ASSERT_GT(n, 15);
    const double t = deg * M_PI / 180;
    EXPECT_NEAR(cx / n, 150 + dx * std::cos(t) - dy * std::sin(t), 1.5);
    EXPECT_NEAR(cy / n, 180 + dx * std::sin(t) + dy * std::cos(t), 1.5);
}

// A 5 x 5 spot of the given value 50 cells right of the image centre (75, 180).
std::vector<uint8_t> spot_image(uint8_t value) {
    std::vector<uint8_t> image(360 * 152, 0);
    for (int y = 178; y <= 182; ++y)
        for (int x = 123; x <= 127; ++x) image[y * 152 + x] = value;
    return image;
}

unsigned nearest_texture() {
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    return tex;
}

TEST(FramebufferCheck, AnOldContextWithoutTheExtensionIsRefused) {
    // The entry-point lookup succeeds whatever the context; only the context
    // tells. A fresh process asks for a 2.1 context without the extension and
    // answers by its exit code alone (_Exit: no clean-up or leak report).
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (!testsupport::make_old_gl_current()) std::_Exit(2);
            engine::PlainParamStore store;
            engine::set_param_store(&store);
            LayerRaster r;
            const bool made = engine::init_framebuffer(r);
            std::fflush(stdout);
            std::fprintf(stderr, "fbo %u\n", r.fbo);
            std::_Exit(made ? 1 : 0);
        },
        testing::ExitedWithCode(0), "fbo 0");
}

// The frame buffer is complete, and made once however often it is asked
// for. The contour plane turns by +75 then -75 degrees; the pressure plane
// by -45 about the box centre (80, 170), which lands on cell (150, 180),
// and without an image it is empty.
TEST_F(RasterGl, ContourAndPressurePlanesTurnAboutTheBoxCentre) {
    LayerRaster r;
    ASSERT_TRUE(engine::init_framebuffer(r));
    ASSERT_NE(r.fbo * r.color_texture * r.depth_renderbuffer, 0u);
    const unsigned fbo = r.fbo;
    EXPECT_TRUE(engine::init_framebuffer(r));
    EXPECT_EQ(r.fbo, fbo);
    engine::ModelBox box;
    box.model_min_x = 0, box.model_max_x = 150, box.model_min_y = 0, box.model_max_y = 360;
    const unsigned tex = nearest_texture();
    glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    engine::render_contour_plane(r, spot_image(200).data(), tex, box);
    expect_spot_turned(r.contour_plane, 125.5 - 75, 180.5 - 180, 75);
    engine::render_contour_plane(r, spot_image(200).data(), tex, box);
    expect_spot_turned(r.contour_plane, 125.5 - 75, 180.5 - 180, -75);
    box.model_min_x = 10, box.model_max_x = 150, box.model_min_y = 0, box.model_max_y = 340;
    engine::render_pressure_plane(r, spot_image(90).data(), tex, box);
    // 152 image columns stretch over the quad's 150 cells.
    expect_spot_turned(r.pressure_plane, 125.5 * 150 / 152 - 80, 180.5 - 170, -45);
    engine::render_pressure_plane(r, nullptr, tex, box);
    EXPECT_EQ(std::count(std::begin(r.pressure_plane), std::end(r.pressure_plane), 0), engine::RASTER_CELLS);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    GLuint name = tex;
    glDeleteTextures(1, &name);
}

}  // namespace
