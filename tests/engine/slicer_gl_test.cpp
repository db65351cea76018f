// The whole layer pipeline under a GL context: a box sliced into a
// complete G-code file; every foot's model cut as its two height maps give
// it and printed without extrusion across empty space; the scaling
// program's insoles keeping their model; the vertex-array cross-section
// against the reference triangle-by-triangle picture.
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

using namespace engine;
using testsupport::check_gcode;
using Foot = footsamples::NamedFoot;

namespace {

Mesh make_box(float w, float d, float h, float z0 = 0) { return insoletest::box_mesh({0, 0, z0}, {w, d, z0 + h}); }
using insoletest::box_of;

uint64_t fnv1a(const void* data, size_t n, uint64_t h = 1469598103934665603ull) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// The view turned by degrees about the model's z, then 270 degrees about x.
void turn_view(SliceInputs& in, int degrees) {
    const double a = degrees * 3.14159265 / 180, c = std::cos(a), s = std::sin(a);
    const double mm[16] = {c, 0, -s, 0, -s, 0, -c, 0, 0, 1, 0, 0, 0, 0, 0, 1};
    std::memcpy(in.model_matrix, mm, sizeof mm);
    in.current_angle = degrees;
}

// Centred on (x, y) of the model.
void centre_on(SliceInputs& in, double x, double y) {
    double cm[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    cm[12] = -x, cm[13] = -y;
    std::memcpy(in.centre_matrix, cm, sizeof cm);
}

// A loaded model's placement: unturned, centred on its box.
void place(SliceInputs& in, const ModelBox& box) {
    turn_view(in, 0);
    centre_on(in, (box.model_min_x + box.model_max_x) * 0.5, (box.model_min_y + box.model_max_y) * 0.5);
    in.box = box;
    stl_heel_point(box, in.heel_point);
}

// The real insole scan, in metres, lying upside down along x: made
// millimetres, turned half about x (flat side down) and a quarter about z
// (length along the raster's rows), resting on z 0.
bool load_insole(Mesh& m, ModelBox& box) {
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
void end_cross_section() {
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
Extent extent(const Plane& p) {
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

// A move read back from a file, turned back onto the raster (the view's
// turn undone by a rotation matrix about the raster's middle, which lies
// between cells) and sampled every tenth of a cell.
std::vector<std::pair<double, double>> samples_on_raster(const testsupport::GcodeMove& m, double turn_deg) {
    const double a = turn_deg * 3.14159265358979 / 180, c = std::cos(a), s = std::sin(a);
    const double mx = 149.5, my = 179.5;
    const double ax = c * (m.x0 - mx) - s * (m.y0 - my) + mx, ay = s * (m.x0 - mx) + c * (m.y0 - my) + my;
    const double bx = c * (m.x1 - mx) - s * (m.y1 - my) + mx, by = s * (m.x1 - mx) + c * (m.y1 - my) + my;
    const int n = std::max(1, (int)std::ceil(std::hypot(bx - ax, by - ay) * 10));
    std::vector<std::pair<double, double>> out;
    for (int k = 0; k <= n; ++k) out.push_back({ax + (bx - ax) * k / n, ay + (by - ay) * k / n});
    return out;
}

bool material_at(const std::vector<uint8_t>& plane, int x, int y) {
    return x >= 0 && x < RASTER_W && y >= 0 && y < RASTER_H && plane[y * RASTER_W + x];
}

// The longest stretch of a move, in cells, over cells without material of
// which some point lies more than a cell from every material cell (a line
// along a stepped edge is not over a gap). A point of the raster stands for
// its cell's middle: cell c covers c - 0.5 to c + 0.5.
double longest_gap_crossed(const std::vector<uint8_t>& plane, const testsupport::GcodeMove& m, double turn_deg) {
    const auto pts = samples_on_raster(m, turn_deg);
    const double piece = std::hypot(pts.back().first - pts[0].first, pts.back().second - pts[0].second) / (double)(pts.size() - 1);
    double longest = 0, run = 0;
    bool far = false;
    for (auto [x, y] : pts) {
        x += 0.5, y += 0.5;
        if (material_at(plane, (int)std::floor(x), (int)std::floor(y))) {
            run = 0, far = false;
            continue;
        }
        bool near = false;
        for (int r = (int)std::floor(y) - 2; r <= (int)std::floor(y) + 2 && !near; ++r)
            for (int col = (int)std::floor(x) - 2; col <= (int)std::floor(x) + 2 && !near; ++col)
                near = material_at(plane, col, r) &&
                       std::hypot(std::max({col - x, 0.0, x - (col + 1)}), std::max({r - y, 0.0, y - (r + 1)})) <= 1.0;
        far = far || !near;
        if (far) longest = std::max(longest, run);
        run += piece;
    }
    return longest;
}

// The share of plane's material cells that lie within reach cells (across
// rows and columns) of a cell under an extrusion move; with missed, also the
// islands (4-connected) of 25 cells or more that no move passes over.
double share_reached(const std::vector<uint8_t>& plane, const std::vector<testsupport::GcodeMove>& moves, double turn_deg,
                     int reach, std::string* missed = nullptr) {
    std::vector<uint8_t> under(RASTER_CELLS, 0), hit(RASTER_CELLS, 0);
    for (const auto& m : moves)
        for (const auto& [x, y] : samples_on_raster(m, turn_deg))
            if (x >= 0 && x < RASTER_W && y >= 0 && y < RASTER_H) under[(int)y * RASTER_W + (int)x] = 1;
    for (int i = 0; i < RASTER_CELLS; ++i)
        if (under[i])
            for (int dy = -reach; dy <= reach; ++dy)
                for (int dx = -reach; dx <= reach; ++dx)
                    if (material_at(plane, i % RASTER_W + dx, i / RASTER_W + dy)) hit[i + dy * RASTER_W + dx] = 1;
    std::vector<uint8_t> seen(RASTER_CELLS, 0);
    for (int s = 0; missed && s < RASTER_CELLS; ++s) {
        if (!plane[s] || seen[s]) continue;
        std::vector<int> todo{s};
        int cells = 0, over = 0;
        for (seen[s] = 1; !todo.empty(); ++cells) {
            const int i = todo.back();
            todo.pop_back();
            over += under[i];
            for (int j : {i - 1, i + 1, i - RASTER_W, i + RASTER_W})
                if (material_at(plane, j % RASTER_W, j / RASTER_W) && std::abs(j % RASTER_W - i % RASTER_W) <= 1 && !seen[j])
                    seen[j] = 1, todo.push_back(j);
        }
        if (!over && cells >= 25) *missed += " " + std::to_string(cells) + " cells at " + std::to_string(s % RASTER_W) + "," + std::to_string(s / RASTER_W);
    }
    int material = 0, reached = 0;
    for (int i = 0; i < RASTER_CELLS; ++i) material += plane[i] != 0, reached += plane[i] && hit[i];
    return material ? (double)reached / material : 1.0;
}

// A layer's material as the foot's two height maps give it, on the turned
// raster: each cell's middle turned back about the raster's middle onto the
// foot's pixels. Cells where the oracle leaves the model a choice (plate or
// wall) count as material, and so does a cell of the model's own cut within
// a pixel of them: a cut's edge may lie a pixel out, a gap never does.
std::vector<uint8_t> oracle_plane(const materialoracle::MaterialOracle& oracle, const std::vector<uint8_t>& cut,
                                  float z, double turn_deg, int centre_x, int centre_y) {
    const double a = turn_deg * 3.14159265358979 / 180, c = std::cos(a), s = std::sin(a);
    std::vector<uint8_t> may(RASTER_CELLS, 0), out(RASTER_CELLS, 0);
    for (int Y = 0; Y < RASTER_H; ++Y)
        for (int X = 0; X < RASTER_W; ++X) {
            const double u = X - 149.5, v = Y - 179.5;
            const int x = (int)std::floor(c * u + s * v + 149.5 + 0.5) - 150 + centre_x;
            const int y = (int)std::floor(-s * u + c * v + 179.5 + 0.5) - 180 + centre_y;
            may[Y * RASTER_W + X] = in_shape(x, y) && oracle.may(y * SHAPE_W + x, z);
        }
    for (int i = 0; i < RASTER_CELLS; ++i) {
        bool near = false;
        for (int dy = -1; dy <= 1 && !near; ++dy)
            for (int dx = -1; dx <= 1 && !near; ++dx) near = material_at(may, i % RASTER_W + dx, i / RASTER_W + dy);
        out[i] = may[i] || (cut[i] && near);
    }
    return out;
}
}  // namespace

// The scaling program's insoles are the station's everyday input: their
// model stays byte for byte as it was before any foot with islands or a
// split arch could be printed whole. Measured to the image's top (its
// highest foot value / 5, less the 2 mm base), each prints up to the last
// layer below it, its small top plateau included.
TEST_F(SlicerGl, ScaledInsolesKeepTheirModelAndPrintToTheirTop) {
    const std::pair<const char*, uint64_t> pins[] = {
        {"fitmire_A_iLeft.bmp", 0xc18280f1b0c0bcb1ull},
        {"fitmire_A_iRight.bmp", 0xfc27bff28c15ca59ull},
        {"fitmire_B_iLeft.bmp", 0xa8c6f8bd855c2dbeull},
        {"fitmire_B_iRight.bmp", 0xabf1280d6f3a7d41ull},
    };
    for (const auto& [file, pin] : pins) {
        const std::vector<uint8_t> px = footsamples::read_foot_bmp(testsupport::testdata(file));
        ASSERT_TRUE(build_foot(px, -45)) << file;
        const std::string name = std::string(file) + ".gcode";
        std::string gcode;
        insoletest::console_of([&] { gcode = run_job(model, name); });
        EXPECT_EQ(fnv1a(model.data(), model.size() * sizeof(MeshTriangle)), pin) << file;
        EXPECT_NEAR(r->model_height, *std::max_element(px.begin(), px.end()) / 5.0 - 2.0, 0.05) << file;
        const double first_z = std::atof(gcode.c_str() + gcode.find("\n\nG1 Z") + 6);
        const double last_z = std::atof(gcode.c_str() + gcode.rfind("\n\nG1 Z") + 6);
        EXPECT_GE(std::lround((last_z - first_z) / 0.5) + 1, std::lround(r->model_height / 0.5) - 1) << file;
    }
}

// Every foot the loader builds an outline for (real, drawn, awkward, the toe
// shapes that broke the walks, the generated samples), then a foot with
// posts and the scaling program's insoles: a model comes of it, on the
// bitmap and above the bed.
// Unturned, each cut of the outline feet holds the material the two height
// maps give (none where they give none, within a pixel; the inner material
// all there; the area within a few per cent), and the first layer holds at
// least 80 % of the foot.
// Printed in the batch's view (with dense bottom layers now and then, and
// now and then a marked image's grids and a pocket in the heel): no
// extrusion move read back from the file crosses more than 2 mm of cells
// without material at its layer away from their edge, neither in the
// layer's own cut nor in the material of the height maps; and the moves
// reach the material of the layer's cut, every island of it but the specks.
TEST_F(SlicerGl, EveryFootIsCutAsItsHeightMapsGiveAndPrintedWithoutStrings) {
    std::vector<Foot> feet = footsamples::outline_feet(80);
    for (auto& f : footsamples::awkward_feet()) feet.push_back(f);
    for (auto& f : footsamples::toe_shape_feet()) feet.push_back(f);
    const size_t outline_feet = feet.size();
    ASSERT_GE(outline_feet, 36u);  // the generated samples among them
    feet.push_back({"plain foot 4 mm high with two posts of 200 mm2 up to 40 mm", false, footsamples::drawn_foot({})});
    for (uint8_t& v : feet.back().pixels) v = v ? 20 : 0;
    footsamples::fill_ellipse(feet.back().pixels, 75, 70, 8, 8, 200);
    footsamples::fill_ellipse(feet.back().pixels, 70, 215, 8, 8, 200);
    for (const char* name : {"fitmire_A_iLeft.bmp", "fitmire_A_iRight.bmp", "fitmire_B_iLeft.bmp", "fitmire_B_iRight.bmp"})
        feet.push_back({name, false, footsamples::read_foot_bmp(testsupport::testdata(name))});
    const int turn = -45;  // the batch's view
    for (size_t k = 0; k < feet.size(); ++k) {
        const Foot& f = feet[k];
        SCOPED_TRACE(f.name);
        r->has_marks = 0;
        ASSERT_TRUE(build_foot(f.pixels)) << console;
        for (const MeshTriangle& t : model)
            for (const Vec3* v : {&t.a, &t.b, &t.c})
                ASSERT_TRUE(v->x >= 0 && v->x <= SHAPE_W - 1 && v->y >= 0 && v->y <= SHAPE_H - 1 && v->z >= 0)
                    << "vertex " << v->x << " " << v->y << " " << v->z;
        const materialoracle::MaterialOracle oracle(*shape);
        const double* cm = in.centre_matrix;
        const int centre_x = (int)-cm[12], centre_y = (int)-cm[13];
        store.set_value(va_spacing, 0.1);
        const float first_cut = layer_cut_z(*r, 0, in);
        // Heights between two grey steps (0.2 mm), so no plateau of the foot
        // lies in the cut itself.
        for (float z : {first_cut, first_cut + 2.0f, first_cut + 6.0f}) {
            if (k >= outline_feet) break;
            int expected = 0, possible = 0, missing = 0, stray = 0, cells = 0;
            for (int i = 0; i < SHAPE_PIXELS; ++i) expected += oracle.at(i, z), possible += oracle.may(i, z);
            if (expected < 500) continue;
            cut(z);
            for (int Y = 0; Y < RASTER_H; ++Y)
                for (int X = 0; X < RASTER_W; ++X) {
                    const int x = X - 150 + centre_x, y = Y - 180 + centre_y;  // vertices sit on cell corners
                    const bool set = r->layer_plane[Y * RASTER_W + X] != 0;
                    cells += set;
                    bool inner = in_shape(x, y), near = false;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const bool in = in_shape(x + dx, y + dy);
                            inner = inner && in && oracle.at((y + dy) * SHAPE_W + x + dx, z);
                            near = near || (in && in_shape(x, y) && oracle.may((y + dy) * SHAPE_W + x + dx, z));
                        }
                    missing += inner && !set;
                    stray += set && !near;
                }
            EXPECT_LE(missing, expected / 100) << " z " << z;
            EXPECT_LE(stray, expected / 200) << " z " << z;
            EXPECT_GE(cells, expected * 0.97) << " z " << z;
            EXPECT_LE(cells, possible * 1.03) << " z " << z;
        }
        if (k < outline_feet) {
            cut(first_cut);
            int foot_px = 0, covered = 0;
            for (int y = 1; y < SHAPE_H - 1; ++y)
                for (int x = 1; x < SHAPE_W - 1; ++x) {
                    if (f.pixels[y * SHAPE_W + x] <= 9) continue;
                    ++foot_px;
                    const int X = x + 150 - centre_x, Y = y + 180 - centre_y;
                    covered += X >= 0 && X < RASTER_W && Y >= 0 && Y < RASTER_H && r->layer_plane[Y * RASTER_W + X];
                }
            EXPECT_GE(covered, foot_px * 0.8);
        }

        store.set_value(va_spacing, 0.5);
        turn_view(in, turn);
        // Every fourth foot takes the dense bottom; every seventh a marked
        // image's grids and a pocket in the heel, cleared from layer 4 on
        // (the marks are placed as if the image were centred on the raster).
        store.set_value(ck_dence_bottom, k % 4 == 1);
        const bool marked = k % 7 == 3;
        r->has_marks = marked;
        in.circles.clear();
        if (marked) {
            const int row = shape->y_min + 40;
            int x0 = SHAPE_W, x1 = -1;
            for (int x = 0; x < SHAPE_W; ++x)
                if (f.pixels[row * SHAPE_W + x]) x0 = std::min(x0, x), x1 = std::max(x1, x);
            in.circles.push_back({(float)((x0 + x1) / 2 + 75 - centre_x), (float)(row + 180 - centre_y), 12});
        }
        // Layer 0, then layers at a third, two thirds and five sixths of the height.
        float top = 0;
        for (const MeshTriangle& t : model) top = std::max({top, t.a.z, t.b.z, t.c.z});
        const int last = (int)((top - shape->base_height) / 0.5f) - 1;
        ASSERT_TRUE(begin_gcode_file(*r, dir / "foot.gcode"));
        store.set_range(va_layer_index, 0, last + 1);
        std::vector<std::vector<uint8_t>> planes;
        std::vector<float> steps, cuts;
        testing::internal::CaptureStdout();
        int done = -1;
        for (int L : {0, last / 3, 2 * last / 3, 5 * last / 6}) {
            if (L <= done) continue;
            done = L;
            store.set_value(va_layer_index, L);
            const float z = layer_cut_z(*r, (float)L, in);
            slice_and_write_gcode(*r, model, in);
            if (r->lines.empty()) continue;  // nothing written for the layer
            planes.emplace_back(r->layer_plane, r->layer_plane + RASTER_CELLS);
            steps.push_back(r->step);
            cuts.push_back(z);
        }
        end_gcode_run(*r, in);
        testing::internal::GetCapturedStdout();
        const auto c = check_gcode(testsupport::slurp(dir / "foot.gcode"), "; start\nG28", "M84\n; end");
        ASSERT_TRUE(c.ok()) << c.report();
        ASSERT_EQ(c.layers.size(), planes.size());
        ASSERT_GE(planes.size(), 1u);
        for (size_t i = 0; i < planes.size(); ++i) {
            const std::vector<uint8_t>& plane = planes[i];
            const std::vector<uint8_t> material = oracle_plane(oracle, plane, cuts[i], turn, centre_x, centre_y);
            double worst = 0;
            const testsupport::GcodeMove* worst_move = nullptr;
            for (const auto& m : c.layers[i].extrusions) {
                // The priming line of layer 0 runs beside the print on purpose.
                if (i == 0 && m.x0 == 25 && m.y0 == 10 && m.x1 == 25 && m.y1 == 160) continue;
                // Empty in the model's own cut, or by the height maps.
                const double g = std::max(longest_gap_crossed(plane, m, turn), longest_gap_crossed(material, m, turn));
                if (g > worst) worst = g, worst_move = &m;
            }
            // Lines a grid step apart reach nearly all of it, and every
            // island but the specks.
            std::string missed;
            EXPECT_GE(share_reached(plane, c.layers[i].extrusions, turn, (int)steps[i], &missed), 0.9) << "Z " << c.layers[i].z;
            EXPECT_EQ(missed, "") << "Z " << c.layers[i].z;
            EXPECT_LE(worst, 2.0) << "Z " << c.layers[i].z << " grid step " << steps[i] << ": X" << worst_move->x0 << " Y"
                                  << worst_move->y0 << " -> X" << worst_move->x1 << " Y" << worst_move->y1;
        }
    }
}

// A pinhole in the midfoot, a speck beside the arch and a 3 x 6 notch at the
// toe tip are faults of a few pixels: every layer stays within 1 % of the
// plain foot's.
TEST_F(SlicerGl, SmallFaultsOfASoundFootMoveItsLayersByLessThanOnePerCent) {
    footsamples::DrawnFoot p;
    const std::vector<uint8_t> plain = footsamples::drawn_foot(p);
    const int arch = p.heel_y + static_cast<int>(0.4f * p.length);
    int x0 = -1, x1 = 0, tip = 0;  // the arch row's ends; the big toe's top row
    for (int x = 0; x < SHAPE_W; ++x)
        if (plain[arch * SHAPE_W + x]) x1 = x, x0 = x0 < 0 ? x : x0;
    for (int y = 0; y < SHAPE_H; ++y)
        for (int x = 0; x < SHAPE_W / 2; ++x)
            if (plain[y * SHAPE_W + x]) tip = y;
    std::vector<Foot> feet(4, {"plain", false, plain});
    feet[1].name = "pinhole", feet[1].pixels[arch * SHAPE_W + (x0 + x1) / 2] = 0;
    feet[2].name = "speck", footsamples::fill_box(feet[2].pixels, x0 - 8, arch, x0 - 6, arch + 2, 90);
    int t0 = 0;
    while (!plain[(tip - 2) * SHAPE_W + t0]) ++t0;
    feet[3].name = "notch", footsamples::fill_box(feet[3].pixels, t0, tip - 5, t0 + 2, tip, 0);
    std::vector<int> plain_cells;
    for (const Foot& f : feet) {
        ASSERT_TRUE(build_foot(f.pixels)) << f.name;
        for (int k = 0; k < 8; ++k) {
            cut(layer_cut_z(*r, static_cast<float>(k * 8), in));
            const int cells = RASTER_CELLS - (int)std::count(std::begin(r->layer_plane), std::end(r->layer_plane), 0);
            if (f.name == "plain") plain_cells.push_back(cells);
            else EXPECT_NEAR(cells, plain_cells[k], plain_cells[k] * 0.01) << f.name << " layer " << k * 8;
        }
    }
}

// A foot running into the image's side (the drawing stops at column 148, so
// column 149 repeats it, or column 0 column 1), straight or turned 35
// degrees, prints its first layer like the same foot a pixel further in:
// cells within 3 % (its outer column is left out), heel row within a cell.
TEST_F(SlicerGl, FootAtTheImageSideIsPrintedLikeOnePixelIn) {
    for (const auto& [side, tilt, centre, length] :
         {std::tuple{1, 0.f, 121.f, 240.f}, {-1, 0.f, 29.f, 240.f}, {1, 35.f, 141.f, 200.f}, {-1, -35.f, 9.f, 200.f}}) {
        footsamples::DrawnFoot p;
        p.centre_x = centre, p.tilt_deg = tilt, p.length = length, p.left = side < 0;
        std::vector<uint8_t> at_side = footsamples::drawn_foot(p), one_in(SHAPE_PIXELS, 0);
        for (int y = 0, edge = side > 0 ? SHAPE_W - 1 : 0; y < SHAPE_H; ++y) {
            at_side[y * SHAPE_W + edge] = at_side[y * SHAPE_W + edge - side];
            for (int x = std::max(0, side); x < SHAPE_W + std::min(0, side); ++x)
                one_in[y * SHAPE_W + x - side] = at_side[y * SHAPE_W + x];
        }
        Extent e[2];
        for (int k = 0; k < 2; ++k) {
            ASSERT_TRUE(build_foot(k ? one_in : at_side));
            slice_and_write_gcode(*r, model, in);  // layer 0, cut only
            e[k] = extent(r->layer_plane);
        }
        EXPECT_TRUE(std::abs(e[0].cells - e[1].cells) <= 0.03 * e[1].cells && std::abs(e[0].y0 - e[1].y0) <= 1)
            << side << " " << tilt << ": " << e[0].cells << " cells from row " << e[0].y0 << ", " << e[1].cells << " from " << e[1].y0;
    }
}

// A box from z -1 to 2: printed from its lowest point, on the bed, to its top.
TEST_F(SlicerGl, BoxGivesTheSameRectangleOnEveryLayerAndAWholeFile) {
    Mesh box = make_box(100, 200, 3);
    for (auto& t : box) t.a.z -= 1, t.b.z -= 1, t.c.z -= 1;
    place(in, box_of(box));
    int layers_seen = 0;
    per_layer = [&](int) {
        Extent e = extent(r->layer_plane);
        // Centred: columns 100..199, rows 80..279, give or take the edge cells.
        EXPECT_NEAR(e.x0, 100, 1);
        EXPECT_NEAR(e.x1, 199, 1);
        EXPECT_NEAR(e.y0, 80, 1);
        EXPECT_NEAR(e.y1, 279, 1);
        EXPECT_GT(e.cells, 98 * 198);
        ++layers_seen;
    };
    int frames = 0;
    std::string text = run_job(box, "box.gcode", &frames);
    EXPECT_NEAR(r->model_height, 3.0f, 0.01f);
    EXPECT_EQ(frames, 6);  // layers 0..5 (height 3 / spacing 0.5 - 1)
    auto c = check_gcode(text, "; start\nG28", "M84\n; end");
    ASSERT_TRUE(c.ok()) << c.report();
    ASSERT_EQ(c.layers.size(), 6u);
    EXPECT_DOUBLE_EQ(c.layers[0].z, 0.30);
    EXPECT_DOUBLE_EQ(c.layers[5].z, 2.80);
    // E restarts at every reset: each block's first retract is -15.
    for (const auto& l : c.layers)
        for (double e : l.first_e_after_reset) EXPECT_DOUBLE_EQ(e, -15);
    // The box starts at the origin point: every move lies on it (the
    // priming line runs at x 25 from y 10 to 160).
    EXPECT_GE(c.min_x, -1.0);
    EXPECT_LE(c.max_x, 101.0);
    EXPECT_GE(c.min_y, -1.0);
    EXPECT_LE(c.max_y, 201.0);
    EXPECT_LE(c.min_x, 2.0);
    EXPECT_GE(c.max_x, 98.0);
    EXPECT_GT(r->run_total, 6 * 100 * 200 / 3 / 2);
    EXPECT_EQ(store.value(out_extrusion_length), r->run_total);
}

TEST_F(SlicerGl, EmptyCrossSectionsStillAdvance) {
    Mesh box = make_box(50, 50, 3);
    const ModelBox mb = box_of(box);
    for (auto& t : box) t.a.z += 100, t.b.z += 100, t.c.z += 100;  // nothing below the cuts
    place(in, mb);
    store.set_range(va_layer_index, 0, 3);
    store.set_value(va_layer_index, 0);
    ASSERT_TRUE(begin_gcode_file(*r, dir / "empty.gcode"));
    for (int i = 0; i < 4; ++i) {
        slice_and_write_gcode(*r, box, in);
        EXPECT_TRUE(r->lines.empty());
    }
    EXPECT_EQ(r->gcode_file_open, 0);
}

// The vertex-array picture equals the triangle-by-triangle one, and the
// plane read back equals the GL's own luminance conversion (colours whose
// sum passes 255 and odd greys too).
TEST_F(SlicerGl, VertexArrayPictureEqualsReferenceAndLuminanceReadTheGls) {
    Mesh insole;
    ModelBox mb;
    ASSERT_TRUE(load_insole(insole, mb));
    Mesh box = make_box(100, 200, 3);
    const ModelBox bb = box_of(box);
    struct Case {
        const Mesh* mesh;
        const ModelBox* box;
    } cases[] = {{&insole, &mb}, {&box, &bb}};
    std::vector<uint8_t> ref(RASTER_CELLS), gl(RASTER_CELLS);
    glBindFramebuffer(GL_FRAMEBUFFER, r->fbo);
    for (const Case& k : cases) {
        place(in, *k.box);
        for (int turn : {0, -45, 75}) {
            turn_view(in, turn);
            for (float z : {0.2f, 1.0f, 2.5f, 7.0f, 15.0f, 22.0f}) {
                g_cross_section_reference_draw = true;
                render_cross_section(*r, *k.mesh, in, z);
                end_cross_section();
                std::memcpy(ref.data(), r->layer_plane, sizeof(Plane));
                g_cross_section_reference_draw = false;
                render_cross_section(*r, *k.mesh, in, z);
                end_cross_section();
                EXPECT_EQ(0, std::memcmp(ref.data(), r->layer_plane, sizeof(Plane))) << "z " << z << " turn " << turn;
                if (z < 3) {
                    EXPECT_GT(extent(r->layer_plane).cells, 1000) << "z " << z;
                }
                if (turn || k.mesh != &insole) continue;
                glReadPixels(0, 0, RASTER_W, RASTER_H, GL_LUMINANCE, GL_UNSIGNED_BYTE, gl.data());
                EXPECT_EQ(0, std::memcmp(gl.data(), r->layer_plane, sizeof(Plane))) << "z " << z;
            }
        }
    }
    const float colours[][3] = {{0.2f, 0.5f, 0.9f}, {0.01f, 0.02f, 0.03f}, {0.333f, 0.333f, 0.334f}, {1, 1, 1}};
    for (const auto& c : colours) {
        glClearColor(c[0], c[1], c[2], 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glReadPixels(0, 0, RASTER_W, RASTER_H, GL_LUMINANCE, GL_UNSIGNED_BYTE, gl.data());
        read_luminance_plane(r->layer_plane);
        EXPECT_EQ(gl[0], r->layer_plane[0]);
        EXPECT_EQ(0, std::memcmp(gl.data(), r->layer_plane, sizeof(Plane)));
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// Without a frame buffer a job is refused and stopped, and a height
// measurement (which would start a batch job) too; with nothing pending, silence.
TEST_F(SlicerGl, NoFrameBufferRefusesAndStopsTheJob) {
    auto bare = std::make_unique<LayerRaster>();  // init_framebuffer never ran
    Mesh box = make_box(50, 50, 3);
    std::string path = dir / "nofb.gcode";
    ASSERT_TRUE(begin_gcode_file(*bare, path));
    auto slice = [&] { return insoletest::console_of([&] { slice_and_write_gcode(*bare, box, in); }); };
    std::string said = slice();
    EXPECT_EQ(said.rfind("Video card does NOT supports GL_ARB_framebuffer_object. \n", 0), 0u) << said;
    EXPECT_NE(said.find(path), std::string::npos) << said;
    EXPECT_EQ(bare->gcode_file_open + bare->path_request + bare->full_path_request, 0);
    EXPECT_EQ(bare->gcode_file, nullptr);
    EXPECT_EQ(slice(), "");
    bare->height_request = 1;
    EXPECT_EQ(slice().rfind("Video card does NOT supports", 0), 0u);
    EXPECT_EQ(bare->height_request, 0);
}

TEST_F(SlicerGl, SlopeThresholdIsOneAboveTheCutHeight) {
    // Contour mode puts the contour picture in place of the cross-section;
    // with "Slope 30" a cell equal to the pressure picture's is cleared when
    // that value is at most cut height + 1. Both pictures are grey 2 all
    // over, read back as 6 (R + G + B); layer 0 of an STL model is cut at
    // one spacing, so spacing 5 clears the centre and 4.5 does not.
    std::vector<uint8_t> image(360 * 152, 2);
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    in.slope_image = in.contour_image = image.data();
    in.image_texture = tex;
    in.box.model_min_x = 0, in.box.model_max_x = 150, in.box.model_min_y = 0, in.box.model_max_y = 360;
    store.set_value(ck_contour_mode, 1);
    store.set_value(bt_test1, 1);
    for (double spacing : {5.0, 4.5}) {
        store.set_value(va_spacing, spacing);
        testing::internal::CaptureStdout();  // a console line per low cell
        slice_and_write_gcode(*r, make_box(50, 50, 20), in);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(r->pressure_plane[180 * RASTER_W + 150], 6);
        EXPECT_EQ(r->layer_plane[180 * RASTER_W + 150], spacing == 5.0 ? 0 : 6) << "spacing " << spacing;
    }
    glDeleteTextures(1, &tex);
}
