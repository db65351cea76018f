// The insole model built from a foot image, sliced as the batch slices it:
// each layer holds the insole's material as the two height maps give it,
// the first layer's paths cover it, and the scaling program's insoles keep
// the model and G-code they have always had.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/gcode_writer.h"
#include "engine/insole_outline.h"
#include "engine/insole_shape.h"
#include "engine/layer_raster.h"
#include "engine/layer_slicer.h"
#include "engine/params.h"
#include "tests/engine/foot_samples.h"
#include "tests/support/gcode_check.h"
#include "tests/support/gl_context.h"

#include <GL/glew.h>

using namespace engine;

namespace {

using Foot = footsamples::NamedFoot;

// Every foot the loader builds an outline for, and the awkward ones.
std::vector<Foot> every_foot() {
    std::vector<Foot> feet = footsamples::outline_feet(80);
    for (auto& d : footsamples::awkward_feet()) feet.push_back(d);
    return feet;
}

uint64_t fnv1a(const void* data, size_t n, uint64_t h = 1469598103934665603ull) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

class InsoleModelGl : public testsupport::GlTest {
protected:
    void SetUp() override {
        testsupport::GlTest::SetUp();
        if (IsSkipped()) return;
        set_param_store(&store);
        store.set_text(tx_begin_area, "; start\nG28");
        store.set_text(tx_end_area, "M84\n; end");
        z_skip_offset() = 0;
        r = std::make_unique<LayerRaster>();
        ASSERT_TRUE(init_framebuffer(*r));
        build_sample_grid(*r, 3);
        shape = std::make_unique<InsoleShape>();
        init_insole_shape(*shape);
    }
    void TearDown() override {
        if (shape) destroy_insole_shape(*shape);
        if (r && r->gcode_file) std::fclose(r->gcode_file);
        set_param_store(nullptr);
    }

    // The outline and model of one foot, its console kept.
    void build(const Foot& f) {
        foot = f.pixels;
        model.clear();
        testing::internal::CaptureStdout();
        built = build_insole_outline(*shape, foot.data(), model);
        console = testing::internal::GetCapturedStdout();
    }

    // As the batch leaves the 3-D view: turned 270 degrees about x and then
    // by turn about z, centred on the foot's ranges.
    void place(int turn) {
        const double a = turn * 3.14159265 / 180, c = std::cos(a), s = std::sin(a);
        const double mm[16] = {c, 0, -s, 0, -s, 0, -c, 0, 0, 1, 0, 0, 0, 0, 0, 1};
        std::memcpy(in.model_matrix, mm, sizeof mm);
        centre_x = std::floor((shape->x_min + shape->x_max) * 0.5);
        centre_y = std::floor((shape->y_min + shape->y_max) * 0.5);
        double cm[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        cm[12] = -centre_x;
        cm[13] = -centre_y;
        std::memcpy(in.centre_matrix, cm, sizeof cm);
        in.current_angle = turn;
        in.base_height = shape->base_height;
        r->insole_mesh_model = 1;
    }

    // One cross-section at cut height z, read back into layer_plane.
    void cut(float z) {
        glBindFramebuffer(GL_FRAMEBUFFER, r->fbo);
        render_cross_section(*r, model, in, z);
        glDisable(GL_CLIP_PLANE0);
        glDisable(GL_CULL_FACE);
        glPopMatrix();
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }

    // A whole job as the batch runs it, one call a frame until the file is
    // closed; the file's text.
    std::string run_job(const std::string& name) {
        const std::string temp = dir / (name + ".tmp"), final_path = dir / name;
        store.set_value(va_layer_index, 0);
        r->height_request = 1;
        EXPECT_TRUE(begin_gcode_file(*r, temp, final_path));
        for (int n = 0; r->gcode_file_open && n < 2000; ++n) slice_and_write_gcode(*r, model, in);
        EXPECT_EQ(r->gcode_file_open, 0);
        return testsupport::slurp(final_path);
    }

    PlainParamStore store;
    testsupport::TempDir dir;
    SliceInputs in;
    std::unique_ptr<LayerRaster> r;
    std::unique_ptr<InsoleShape> shape;
    std::vector<uint8_t> foot;
    Mesh model;
    bool built = false;
    std::string console;
    double centre_x = 0, centre_y = 0;
};

}  // namespace

// The scaling program's insoles are the station's everyday input: their
// model and G-code stay byte for byte as they were before any foot with
// islands or a split arch could be printed whole, but for a fill line that
// no longer turns at once to a run far beyond empty space, and the few
// moves that strung plastic across the heel cup or past the outline, now
// travels.
TEST_F(InsoleModelGl, ScaledInsolesKeepTheirModelAndGcode) {
    struct Pin {
        const char* file;
        uint64_t model, gcode;
        size_t gcode_bytes;
    };
    const Pin pins[] = {
        {"fitmire_A_iLeft.bmp", 0xc18280f1b0c0bcb1ull, 0x56aeb16c9aad7de4ull, 45426},
        {"fitmire_A_iRight.bmp", 0xfc27bff28c15ca59ull, 0x721555bec5373d66ull, 42701},
        {"fitmire_B_iLeft.bmp", 0xa8c6f8bd855c2dbeull, 0x4303ddff7125eae7ull, 55272},
        {"fitmire_B_iRight.bmp", 0xabf1280d6f3a7d41ull, 0x9c035f16fa1232bcull, 33516},
    };
    store.set_value(va_spacing, 0.5);
    for (const Pin& pin : pins) {
        build({pin.file, false, footsamples::read_foot_bmp(testsupport::testdata(pin.file))});
        ASSERT_TRUE(built) << pin.file;
        place(-45);
        testing::internal::CaptureStdout();
        const std::string gcode = run_job("pin.gcode");
        testing::internal::GetCapturedStdout();
        const uint64_t mh = fnv1a(model.data(), model.size() * sizeof(MeshTriangle));
        const uint64_t gh = fnv1a(gcode.data(), gcode.size());
        EXPECT_EQ(mh, pin.model) << pin.file;
        EXPECT_EQ(gh, pin.gcode) << pin.file;
        EXPECT_EQ(gcode.size(), pin.gcode_bytes) << pin.file;
    }
}

// For every foot the loader builds an outline for (real, drawn and awkward
// ones, and the generated samples): the model stays on the bitmap and above the bed, its wall
// keeps to the rim, and each cut holds the insole's material as the two
// height maps give it (inside the filled outline, up to the foot's value / 5,
// or the base plate where the foot is 0); the first layer's paths cover it.
TEST_F(InsoleModelGl, EveryLayerHoldsTheInsolesMaterial) {
    const std::vector<Foot> feet = every_foot();
    ASSERT_GE(feet.size(), 30u);  // the generated samples among them
    for (const Foot& f : feet) {
        build(f);
        ASSERT_TRUE(built) << f.name << console;
        for (const MeshTriangle& t : model) {
            float lo = 1e9f, hi = -1e9f;
            for (const Vec3* v : {&t.a, &t.b, &t.c}) {
                ASSERT_TRUE(v->x >= 0 && v->x <= SHAPE_W - 1 && v->y >= 0 && v->y <= SHAPE_H - 1 && v->z >= 0)
                    << f.name << " vertex " << v->x << " " << v->y << " " << v->z;
                lo = std::min(lo, v->z), hi = std::max(hi, v->z);
            }
            auto same = [](const Vec3& p, const Vec3& q) { return p.x == q.x && p.y == q.y && p.z == q.z; };
            ASSERT_FALSE(same(t.a, t.b) || same(t.b, t.c) || same(t.c, t.a)) << f.name << ": a wall of no height at " << t.a.x << " " << t.a.y;
            if (lo == 0 && hi > 0) {  // a wall triangle: from the bottom up to the top
                float wide = 0;
                for (const auto& e : {std::make_pair(t.a, t.b), std::make_pair(t.b, t.c), std::make_pair(t.c, t.a)})
                    wide = std::max(wide, std::hypot(e.first.x - e.second.x, e.first.y - e.second.y));
                ASSERT_LE(wide, 20.0f) << f.name << ": a wall triangle spans the insole";
            }
        }

        place(0);
        auto material = [&](int i, float z) {
            const float top = shape->foot_map[i] ? shape->foot_map[i] / 5.0f : shape->base_height;
            return shape->inside_mask[i] != 0 && top > z;
        };
        // Pixel of a raster cell (vertices sit on cell corners).
        auto pixel_of = [&](int X, int Y, int& x, int& y) {
            x = X - 150 + static_cast<int>(centre_x);
            y = Y - 180 + static_cast<int>(centre_y);
            return in_shape(x, y);
        };
        const float first_cut = layer_cut_z(*r, 0, in);
        // Heights between two grey steps (0.2 mm), so no plateau of the foot
        // lies in the cut itself.
        for (float z : {first_cut, first_cut + 1.0f, first_cut + 2.0f}) {
            int expected = 0, missing = 0, stray = 0, cells = 0;
            for (int i = 0; i < SHAPE_PIXELS; ++i) expected += material(i, z);
            if (expected < 500) continue;
            cut(z);
            for (int Y = 0; Y < RASTER_H; ++Y)
                for (int X = 0; X < RASTER_W; ++X) {
                    int x, y;
                    const bool set = r->layer_plane[Y * RASTER_W + X] != 0;
                    cells += set;
                    if (!pixel_of(X, Y, x, y)) {
                        stray += set;
                        continue;
                    }
                    // Inner material (its 3 x 3 all material) must show; a set
                    // cell needs material, or foot above z, within a pixel.
                    bool inner = true, near = false;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int nx = x + dx, ny = y + dy;
                            const int j = ny * SHAPE_W + nx;
                            const bool m = in_shape(nx, ny) && material(j, z);
                            inner = inner && m;
                            near = near || m || (in_shape(nx, ny) && shape->foot_map[j] / 5.0f > z);
                        }
                    missing += inner && !set;
                    stray += set && !near;
                }
            int edge = 0;  // material pixels on the rim of the material
            for (int y = 1; y < SHAPE_H - 1; ++y)
                for (int x = 1; x < SHAPE_W - 1; ++x) {
                    const int i = y * SHAPE_W + x;
                    edge += material(i, z) && !(material(i - 1, z) && material(i + 1, z) && material(i - SHAPE_W, z) && material(i + SHAPE_W, z));
                }
            EXPECT_LE(missing, expected / 100) << f.name << " z " << z;
            EXPECT_LE(stray, 0) << f.name << " z " << z;
            // The model's surfaces run through the pixel centres, so the cut's
            // area lies between the pixel count less half its rim (Pick) and
            // the pixel count itself.
            EXPECT_GE(cells, (expected - edge / 2) * 0.97) << f.name << " z " << z;
            EXPECT_LE(cells, expected * 1.03) << f.name << " z " << z;
        }

        // The first layer's paths: every point on the layer's material, and
        // the material within a grid step of a path.
        store.set_value(va_layer_index, 0);
        r->path_request = 1;
        testing::internal::CaptureStdout();
        slice_and_write_gcode(*r, model, in);
        testing::internal::GetCapturedStdout();
        const int reach = static_cast<int>(std::ceil(r->step)) + 1;
        std::vector<uint8_t> near_path(RASTER_CELLS, 0);
        int off = 0;
        for (const auto& line : r->lines)
            for (const PathPoint& p : line) {
                const int X = static_cast<int>(p.x), Y = static_cast<int>(p.y);
                bool on = false;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        on = on || (X + dx >= 0 && X + dx < RASTER_W && Y + dy >= 0 && Y + dy < RASTER_H &&
                                    r->layer_copy[(Y + dy) * RASTER_W + X + dx]);
                off += !on;
                for (int dy = -reach; dy <= reach; ++dy)
                    for (int dx = -reach; dx <= reach; ++dx)
                        if (X + dx >= 0 && X + dx < RASTER_W && Y + dy >= 0 && Y + dy < RASTER_H)
                            near_path[(Y + dy) * RASTER_W + X + dx] = 1;
            }
        int layer = 0, covered = 0;
        for (int i = 0; i < RASTER_CELLS; ++i)
            if (r->layer_copy[i]) ++layer, covered += near_path[i];
        EXPECT_EQ(off, 0) << f.name;
        EXPECT_GE(covered, layer * 0.97) << f.name << " first layer " << layer << " cells";
    }
}
