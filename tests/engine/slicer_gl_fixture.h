// The GL slicing tests' fixture: a frame buffer, a sample grid, a shape
// and a parameter store at the batch's settings; placing a loaded model or
// a foot's model as the views do; whole jobs run frame by frame.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/gcode_writer.h"
#include "engine/insole_outline.h"
#include "engine/insole_shape.h"
#include "engine/layer_raster.h"
#include "engine/layer_slicer.h"
#include "engine/params.h"
#include "engine/stl_model.h"
#include "tests/engine/foot_samples.h"
#include "tests/engine/insole_test_support.h"
#include "tests/engine/material_oracle.h"
#include "tests/support/gcode_check.h"
#include "tests/support/gl_context.h"

#include <GL/glew.h>

namespace slicergl {
using namespace engine;
using insoletest::box_of;

inline Mesh make_box(float w, float d, float h, float z0 = 0) { return insoletest::box_mesh({0, 0, z0}, {w, d, z0 + h}); }

inline uint64_t fnv1a(const void* data, size_t n, uint64_t h = 1469598103934665603ull) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// The view turned by degrees about the model's z, then 270 degrees about x.
inline void turn_view(SliceInputs& in, int degrees) {
    const double a = degrees * 3.14159265 / 180, c = std::cos(a), s = std::sin(a);
    const double mm[16] = {c, 0, -s, 0, -s, 0, -c, 0, 0, 1, 0, 0, 0, 0, 0, 1};
    std::memcpy(in.model_matrix, mm, sizeof mm);
    in.current_angle = degrees;
}

// Centred on (x, y) of the model.
inline void centre_on(SliceInputs& in, double x, double y) {
    double cm[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    cm[12] = -x, cm[13] = -y;
    std::memcpy(in.centre_matrix, cm, sizeof cm);
}

// A loaded model's placement: unturned, centred on its box.
inline void place(SliceInputs& in, const ModelBox& box) {
    turn_view(in, 0);
    centre_on(in, (box.model_min_x + box.model_max_x) * 0.5, (box.model_min_y + box.model_max_y) * 0.5);
    in.box = box;
    stl_heel_point(box, in.heel_point);
}

// The real insole scan, in metres, lying upside down along x: made
// millimetres, turned half about x (flat side down) and a quarter about z
// (length along the raster's rows), resting on z 0.
inline bool load_insole(Mesh& m, ModelBox& box) {
    Mesh raw;
    ModelBox rb;
    if (!read_stl_file(testsupport::testdata("insole_dfki_bin_colorheader.stl"), raw, rb).loaded()) return false;
    m.clear();
    box.reset();
    auto conv = [&](const Vec3& v) {
        Vec3 o{v.y * 1000, v.x * 1000, (rb.model_max_z - v.z) * 1000};
        box.widen(o);
        return o;
    };
    for (const MeshTriangle& t : raw) m.push_back({conv(t.a), conv(t.b), conv(t.c)});
    return true;
}

// What the preview step undoes after a bare cross-section render.
inline void end_cross_section() {
    glDisable(GL_CLIP_PLANE0);
    glDisable(GL_CULL_FACE);
    glPopMatrix();
}

class SlicerGl : public testsupport::GlTest {
protected:
    void SetUp() override {
        testsupport::GlTest::SetUp();
        if (IsSkipped()) return;
        set_param_store(&store);
        store.set_text(tx_begin_area, "; start\nG28");
        store.set_text(tx_end_area, "M84\n; end");
        store.set_value(va_spacing, 0.5);
        store.set_value(va_first_layer_height, 0.3);
        store.set_value(va_first_speed, 1200);
        store.set_value(va_other_speed, 1800);
        store.set_value(va_empty_speed, 3000);
        store.set_value(va_back_speed, 2400);
        store.set_value(ck_self_def_angle, 0);
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
        g_cross_section_reference_draw = false;
    }

    // A foot's outline and model, centred on the foot's ranges as the batch
    // view does and turned by turn.
    bool build_foot(const std::vector<uint8_t>& pixels, int turn = 0) {
        std::vector<uint8_t> foot = pixels;
        model.clear();
        bool built = false;
        console = insoletest::console_of([&] { built = build_insole_outline(*shape, foot.data(), model); });
        centre_on(in, std::floor((shape->x_min + shape->x_max) * 0.5), std::floor((shape->y_min + shape->y_max) * 0.5));
        turn_view(in, turn);
        in.base_height = shape->base_height;
        r->insole_mesh_model = 1;
        return built;
    }

    // One cross-section of model at cut height z, read back into layer_plane.
    void cut(float z) {
        glBindFramebuffer(GL_FRAMEBUFFER, r->fbo);
        render_cross_section(*r, model, in, z);
        end_cross_section();
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }

    // A whole job as the batch driver runs it: one call per frame until the
    // file is closed.
    std::string run_job(const Mesh& mesh, const std::string& name, int* frames = nullptr) {
        std::string temp = dir / (name + ".tmp"), final_path = dir / name;
        store.set_value(va_layer_index, 0);
        r->height_request = 1;
        EXPECT_TRUE(begin_gcode_file(*r, temp, final_path));
        int n = 0;
        while (r->gcode_file_open && n < 2000) {
            slice_and_write_gcode(*r, mesh, in);
            ++n;
            if (per_layer) per_layer(n);
        }
        if (frames) *frames = n;
        EXPECT_EQ(r->gcode_file_open, 0);
        EXPECT_EQ(r->path_request, 0);
        std::string text;
        EXPECT_TRUE(testsupport::read_text_file(final_path, &text));
        return text;
    }

    PlainParamStore store;
    SliceInputs in;
    std::unique_ptr<LayerRaster> r;
    std::unique_ptr<InsoleShape> shape;
    Mesh model;
    std::string console;
    testsupport::TempDir dir;
    std::function<void(int)> per_layer;
};

struct Extent {
    int x0 = 1000, x1 = -1, y0 = 1000, y1 = -1, cells = 0;
};
inline Extent extent(const Plane& p) {
    Extent e;
    for (int y = 0; y < RASTER_H; ++y)
        for (int x = 0; x < RASTER_W; ++x)
            if (p[y * RASTER_W + x]) {
                e.x0 = std::min(e.x0, x), e.x1 = std::max(e.x1, x);
                e.y0 = std::min(e.y0, y), e.y1 = std::max(e.y1, y);
                ++e.cells;
            }
    return e;
}

}  // namespace slicergl
