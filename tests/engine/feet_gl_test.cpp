// Every foot the station prints, through the whole layer pipeline under a
// GL context: each cut against the material of the foot's two height maps,
// and the printed moves read back from the file against empty space.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "tests/engine/slicer_gl_fixture.h"

using namespace slicergl;
using testsupport::check_gcode;
using Foot = footsamples::NamedFoot;
using FeetGl = SlicerGl;

namespace {

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
TEST_F(FeetGl, EveryFootIsCutAsItsHeightMapsGiveAndPrintedWithoutStrings) {
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
            if (expected < 500 && z != first_cut) continue;
            cut(z);
            if (z == first_cut) {  // the first layer covers the foot as the image gives it
                int foot_px = 0, covered = 0;
                for (int y = 1; y < SHAPE_H - 1; ++y)
                    for (int x = 1; x < SHAPE_W - 1; ++x) {
                        if (f.pixels[y * SHAPE_W + x] <= 9) continue;
                        ++foot_px;
                        const int X = x + 150 - centre_x, Y = y + 180 - centre_y;
                        covered += X >= 0 && X < RASTER_W && Y >= 0 && Y < RASTER_H && r->layer_plane[Y * RASTER_W + X];
                    }
                EXPECT_GE(covered, foot_px * 0.8);
                if (expected < 500) continue;
            }
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

