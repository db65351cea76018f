// The insole model built from a foot image, sliced as the batch slices it:
// each layer holds the insole's material as the two height maps give it,
// the first layer's paths cover it, and the scaling program's insoles keep
// the model and G-code they have always had.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/gcode_writer.h"
#include "engine/insole_outline.h"
#include "engine/insole_shape.h"
#include "engine/layer_raster.h"
#include "engine/layer_slicer.h"
#include "engine/params.h"
#include "tests/engine/foot_samples.h"
#include "tests/engine/material_oracle.h"
#include "tests/support/gcode_check.h"
#include "tests/support/gl_context.h"

#include <GL/glew.h>

using namespace engine;

namespace {

using Foot = footsamples::NamedFoot;

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
        const std::string text = testsupport::slurp(final_path);
        std::remove(final_path.c_str());  // the writer never replaces a file: the next job needs the name
        return text;
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
// model stays byte for byte as it was before any foot with islands or a
// split arch could be printed whole.
TEST_F(InsoleModelGl, ScaledInsolesKeepTheirModelAndPrintToTheirTop) {
    const std::pair<const char*, uint64_t> pins[] = {
        {"fitmire_A_iLeft.bmp", 0xc18280f1b0c0bcb1ull},
        {"fitmire_A_iRight.bmp", 0xfc27bff28c15ca59ull},
        {"fitmire_B_iLeft.bmp", 0xa8c6f8bd855c2dbeull},
        {"fitmire_B_iRight.bmp", 0xabf1280d6f3a7d41ull},
    };
    store.set_value(va_spacing, 0.5);
    for (const auto& [file, pin] : pins) {
        const std::vector<uint8_t> px = footsamples::read_foot_bmp(testsupport::testdata(file));
        build({file, false, px});
        ASSERT_TRUE(built) << file;
        place(-45);
        testing::internal::CaptureStdout();
        const std::string gcode = run_job("pin.gcode");
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(fnv1a(model.data(), model.size() * sizeof(MeshTriangle)), pin) << file;
        // Measured to the image's top (its highest foot value / 5, less the
        // 2 mm base) and printed up to the last layer below it, its small top
        // plateau included.
        EXPECT_NEAR(r->model_height, *std::max_element(px.begin(), px.end()) / 5.0 - 2.0, 0.05) << file;
        const double first_z = std::atof(gcode.c_str() + gcode.find("\n\nG1 Z") + 6);
        const double last_z = std::atof(gcode.c_str() + gcode.rfind("\n\nG1 Z") + 6);
        EXPECT_GE(std::lround((last_z - first_z) / 0.5) + 1, std::lround(r->model_height / 0.5) - 1) << file;
    }
}

// For every foot the loader builds an outline for (real, drawn, awkward and
// the toe shapes that broke the walks, and the generated samples): a model
// comes of it, on the bitmap and above the bed; each cut holds the material
// the two height maps give (none where they give none, within a pixel; the
// inner material all there; the area within a few per cent), and the first
// layer holds at least 85 % of the foot.
TEST_F(InsoleModelGl, EveryLayerHoldsTheMaterialOfTheHeightMaps) {
    std::vector<Foot> feet = footsamples::outline_feet(80);
    for (auto& f : footsamples::awkward_feet()) feet.push_back(f);
    for (auto& f : footsamples::toe_shape_feet()) feet.push_back(f);
    ASSERT_GE(feet.size(), 36u);  // the generated samples among them
    for (const Foot& f : feet) {
        build(f);
        ASSERT_TRUE(built) << f.name << console;
        for (const MeshTriangle& t : model)
            for (const Vec3* v : {&t.a, &t.b, &t.c})
                ASSERT_TRUE(v->x >= 0 && v->x <= SHAPE_W - 1 && v->y >= 0 && v->y <= SHAPE_H - 1 && v->z >= 0)
                    << f.name << " vertex " << v->x << " " << v->y << " " << v->z;
        const materialoracle::MaterialOracle oracle(*shape);
        place(0);
        // Pixel of a raster cell (vertices sit on cell corners).
        auto pixel_of = [&](int X, int Y, int& x, int& y) {
            x = X - 150 + static_cast<int>(centre_x);
            y = Y - 180 + static_cast<int>(centre_y);
            return in_shape(x, y);
        };
        const float first_cut = layer_cut_z(*r, 0, in);
        // Heights between two grey steps (0.2 mm), so no plateau of the foot
        // lies in the cut itself.
        for (float z : {first_cut, first_cut + 2.0f, first_cut + 6.0f}) {
            int expected = 0, possible = 0, missing = 0, stray = 0, cells = 0;
            for (int i = 0; i < SHAPE_PIXELS; ++i) expected += oracle.at(i, z), possible += oracle.may(i, z);
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
                    bool inner = true, near = false;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const bool in = in_shape(x + dx, y + dy);
                            inner = inner && in && oracle.at((y + dy) * SHAPE_W + x + dx, z);
                            near = near || (in && oracle.may((y + dy) * SHAPE_W + x + dx, z));
                        }
                    missing += inner && !set;
                    stray += set && !near;
                }
            EXPECT_LE(missing, expected / 100) << f.name << " z " << z;
            EXPECT_LE(stray, expected / 200) << f.name << " z " << z;
            EXPECT_GE(cells, expected * 0.97) << f.name << " z " << z;
            EXPECT_LE(cells, possible * 1.03) << f.name << " z " << z;
        }

        // The first layer covers the foot as the image gives it.
        cut(first_cut);
        int foot_px = 0, covered = 0;
        for (int y = 1; y < SHAPE_H - 1; ++y)
            for (int x = 1; x < SHAPE_W - 1; ++x) {
                if (f.pixels[y * SHAPE_W + x] <= 9) continue;
                ++foot_px;
                const int X = x + 150 - static_cast<int>(centre_x), Y = y + 180 - static_cast<int>(centre_y);
                covered += X >= 0 && X < RASTER_W && Y >= 0 && Y < RASTER_H && r->layer_plane[Y * RASTER_W + X];
            }
        EXPECT_GE(covered, foot_px * 0.8) << f.name;
    }
}

// A pinhole in the midfoot, a speck beside the arch and a 3 x 6 notch at the
// toe tip are faults of a few pixels: every layer stays within 1 % of the
// plain foot's.
TEST_F(InsoleModelGl, SmallFaultsOfASoundFootMoveItsLayersByLessThanOnePerCent) {
    footsamples::DrawnFoot p;
    const std::vector<uint8_t> plain = footsamples::drawn_foot(p);
    auto row_of = [&](float t) { return p.heel_y + static_cast<int>(t * p.length); };
    auto span = [&](int y, int& x0, int& x1) {
        x0 = -1;
        for (int x = 0; x < SHAPE_W; ++x)
            if (plain[y * SHAPE_W + x]) x1 = x, x0 = x0 < 0 ? x : x0;
    };
    std::vector<Foot> feet = {{"plain", false, plain}};
    int x0, x1;
    std::vector<uint8_t> b = plain;
    span(row_of(0.4f), x0, x1);
    b[row_of(0.4f) * SHAPE_W + (x0 + x1) / 2] = 0;
    feet.push_back({"pinhole", false, b});
    b = plain;  // beside the arch, within the foot's ranges
    span(row_of(0.4f), x0, x1);
    footsamples::fill_box(b, x0 - 8, row_of(0.4f), x0 - 6, row_of(0.4f) + 2, 90);
    feet.push_back({"speck", false, b});
    b = plain;
    int tip = 0;  // the big toe's top row
    for (int y = 0; y < SHAPE_H; ++y)
        for (int x = 0; x < SHAPE_W / 2; ++x)
            if (plain[y * SHAPE_W + x]) tip = y;
    span(tip - 2, x0, x1);
    footsamples::fill_box(b, x0, tip - 5, x0 + 2, tip, 0);
    feet.push_back({"notch", false, b});

    store.set_value(va_spacing, 0.5);
    std::vector<int> plain_cells;
    for (const Foot& f : feet) {
        build(f);
        ASSERT_TRUE(built) << f.name;
        place(0);
        for (int k = 0; k < 8; ++k) {
            cut(layer_cut_z(*r, static_cast<float>(k * 8), in));
            const int cells = RASTER_CELLS - (int)std::count(std::begin(r->layer_plane), std::end(r->layer_plane), 0);
            if (f.name == "plain") plain_cells.push_back(cells);
            else EXPECT_NEAR(cells, plain_cells[k], plain_cells[k] * 0.01) << f.name << " layer " << k * 8;
        }
    }
}
