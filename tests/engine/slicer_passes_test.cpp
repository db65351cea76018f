// The slicer's steps on plain planes and point lists: thin cells, holes,
// anchor and outline scans, layer flags and grids, short paths, collinear
// points, marked pockets and the cell-to-millimetre transform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/layer_raster.h"
#include "engine/layer_slicer.h"
#include "engine/params.h"
#include "tests/engine/insole_test_support.h"

using namespace engine;
using insoletest::fill;
using insoletest::pt;

namespace {

uint8_t& cell(LayerRaster& r, int x, int y) { return r.layer_plane[y * 300 + x]; }

class Slicer : public insoletest::ParamTest {
protected:
    std::unique_ptr<LayerRaster> r = std::make_unique<LayerRaster>();
};

}  // namespace

// Cells one row or one column thick go, bands of two stay (border rows are
// not examined); holes with three or four set neighbours take their mean.
TEST_F(Slicer, ThinCellsGoHolesAreFilled) {
    fill(*r, 10, 50, 20, 20);   // one row thick: both vertical neighbours empty
    fill(*r, 70, 70, 10, 40);   // one column thick
    fill(*r, 100, 140, 100, 101);  // two rows thick
    fill(*r, 0, 299, 0, 0);     // raster border rows are not examined
    remove_thin_cells(*r);
    EXPECT_EQ(cell(*r, 30, 20), 0);
    EXPECT_EQ(cell(*r, 70, 25), 0);
    EXPECT_NE(cell(*r, 120, 100), 0);
    EXPECT_NE(cell(*r, 120, 101), 0);
    EXPECT_NE(cell(*r, 150, 0), 0);
    std::memset(r->layer_plane, 0, sizeof(Plane));
    fill(*r, 10, 20, 10, 20, 100);
    cell(*r, 15, 15) = 0;  // four neighbours of 100
    cell(*r, 11, 11) = 0;
    cell(*r, 10, 11) = 0;  // (11,11) keeps three neighbours
    cell(*r, 12, 11) = 90;
    cell(*r, 11, 12) = 110;
    fill(*r, 40, 50, 40, 40, 100);
    fill(*r, 40, 50, 42, 42, 100);  // row 41: cells with two set neighbours
    fill_holes(*r);
    EXPECT_EQ(cell(*r, 15, 15), 100);
    EXPECT_EQ(cell(*r, 11, 11), (90 + 110 + 100) / 3);
    EXPECT_EQ(cell(*r, 45, 41), 0);
    EXPECT_EQ(0, std::memcmp(r->layer_plane, r->layer_copy, sizeof(Plane)));
}

// The anchor is the lowest row's first cell on layer 0, kept on later
// layers. The scans: the anchor, the left side from the top down to where
// y / x comes within 0.1 of the slope 1.2 (in single precision), then the
// bottom; the closing scan runs on the first four layers of a whole insole
// only. At column 0 the downward scan never ends early.
TEST_F(Slicer, OutlineAnchorAndScans) {
    fill(*r, 50, 249, 60, 299);
    find_outline_anchor(*r, 0);
    EXPECT_EQ(r->first_layer_column, 50);
    EXPECT_EQ(r->first_layer_row, 60);
    ASSERT_EQ(r->cleaned_points.size(), 1u);
    EXPECT_EQ(r->cleaned_points[0].x, 50);
    scan_outline(*r, 0, false);
    const auto& p = r->cleaned_points;
    ASSERT_EQ(p.size(), 1u + 235u + 199u);
    EXPECT_EQ(p[1].x, 50);
    EXPECT_EQ(p[1].y, 299);
    EXPECT_EQ(p[235].y, 65);
    EXPECT_EQ(p[236].x, 51);
    EXPECT_EQ(p[236].y, 60);
    EXPECT_EQ(p.back().x, 249);
    find_outline_anchor(*r, 3);
    scan_outline(*r, 3, true);
    EXPECT_EQ(p.size(), 434u + 199u);
    EXPECT_EQ(p.back().x, 51);
    EXPECT_EQ(p.back().y, 299);
    find_outline_anchor(*r, 4);
    scan_outline(*r, 4, true);
    EXPECT_EQ(p.size(), 434u);

    std::memset(r->layer_plane, 0, sizeof(Plane));
    find_outline_anchor(*r, 1);
    EXPECT_TRUE(r->cleaned_points.empty());
    EXPECT_EQ(r->first_layer_column, 50);
    find_outline_anchor(*r, 0);  // empty layer 0: anchor back to (0, 0)
    EXPECT_EQ(r->first_layer_column + r->first_layer_row, 0);
    scan_outline(*r, 0, true);  // s = 1.2 over an empty layer: nothing
    EXPECT_TRUE(r->cleaned_points.empty());

    fill(*r, 0, 100, 10, 300);
    find_outline_anchor(*r, 0);
    EXPECT_EQ(r->first_layer_row, 10);
    scan_outline(*r, 0, false);
    // The anchor and rows 300..11 (row 10 lies on the line).
    EXPECT_EQ(std::count_if(p.begin(), p.end(), [](const PathPoint& q) { return q.x == 0; }), 1 + 290);
}

// 33 points at spacing 3 are short (99 < 100), 34 are not. A short path goes
// where a long one covers its island (two of its points on it) or the island
// is a speck (3 x 3); it stays on an island nothing long covers (sole rows
// 10..59, pad 12 x 12 at 100). A pad without paths gets its longest row (the
// second pad's row 205, size 2, last); the first pad one too when pathless.
// A layer with nothing else to print keeps its longest path.
TEST_F(Slicer, ShortPathsGoOnlyWhereTheirIslandIsPrintedOrTooSmall) {
    fill(*r, 10, 200, 10, 59), fill(*r, 100, 111, 100, 111), fill(*r, 150, 152, 150, 152);
    fill(*r, 40, 49, 200, 209), fill(*r, 30, 59, 205, 205);
    auto path = [](size_t n, float x, float y) { return std::vector<PathPoint>(n, pt(x, y)); };
    std::vector<PathPoint> one_on_pad = path(40, 20, 20);
    one_on_pad.back() = pt(105, 105);
    const struct {
        std::vector<std::vector<PathPoint>> lines;
        std::vector<size_t> kept;
    } cases[] = {
        {{path(33, 20, 20), path(34, 20, 30), path(50, 20, 40)}, {34, 50, 2, 2}},
        {{path(33, 20, 20), path(12, 105, 105), path(5, 151, 151)}, {33, 12, 2}},
        {{path(40, 105, 105), path(12, 105, 105)}, {40, 2, 2}},
        {{path(1, 105, 105), one_on_pad, path(12, 105, 105)}, {1, 40, 12, 2}},
        {{path(5, 151, 151), path(4, 151, 151)}, {5, 2, 2, 2}},
    };
    for (const auto& c : cases) {
        r->lines = c.lines;
        drop_short_paths(*r, 3);
        std::vector<size_t> kept;
        for (const auto& l : r->lines) kept.push_back(l.size());
        EXPECT_EQ(kept, c.kept) << c.lines.size() << " " << c.lines[0].size();
        EXPECT_TRUE(r->lines.back()[0].x == 30 && r->lines.back()[0].y == 205 && r->lines.back()[1].x == 59);
    }
}

TEST_F(Slicer, LayerFlagsByCrossPeriodAndOffset) {
    store.set_value(ck_offset_cross, 0);
    store.set_value(ck_self_def_angle, 0);
    store.set_value(va_cross, 2);
    const int rows[8] = {1, 1, 0, 0, 1, 1, 0, 0}, low[8] = {1, 1, 1, 1, 0, 0, 0, 0};
    for (int L = 0; L < 8; ++L) {
        set_layer_flags(*r, (float)L);
        EXPECT_EQ(r->layer, L);
        EXPECT_EQ(r->cross_period, 2);
        EXPECT_EQ(r->row_lines, rows[L]) << L;
        EXPECT_EQ(r->from_low_end, low[L]) << L;
    }
    store.set_value(ck_self_def_angle, 1);
    for (int L = 0; L < 8; ++L) {
        set_layer_flags(*r, (float)L);
        EXPECT_EQ(r->row_lines, 0);
    }
    store.set_value(ck_self_def_angle, 0);
    store.set_value(ck_offset_cross, 1);
    r->interval_values = {0.3f, 0.5f, 1.0f, 1.5f};
    store.set_value(choice_interval, 3);
    r->step = 6;
    set_layer_flags(*r, 5);  // k = 12 / 1.5 = 8; offset (5 mod 8) / 2 * 1.5
    EXPECT_EQ(r->cross_period, 1);
    EXPECT_EQ(r->row_lines, 0);
    EXPECT_EQ(r->from_low_end, 1);
    EXPECT_FLOAT_EQ(r->grid_offset, 3.0f);
    store.set_value(choice_interval, -1);  // no entry selected
    set_layer_flags(*r, 5);
    EXPECT_EQ(r->grid_offset, 0);
    store.set_value(choice_interval, 3);
    r->interval_values = {0.3f, 0.5f, 1.0f, 20.0f};  // k would be 0
    set_layer_flags(*r, 5);
    EXPECT_EQ(r->grid_offset, 0);
}

// A marked image's grids override the operator's on each layer (spacing
// 2 and entry 1 with plain crossing up to layer 3, then 6 and entry 3 with
// offset crossing, the interval list refilled); unmarked, the operator's
// saved spacing and entry; dense bottom: 3 and entry 3 on the first four layers.
TEST_F(Slicer, LayerGridsOfMarkedImagesAndDenseBottoms) {
    int refills = 0;
    SliceInputs in;
    in.fill_interval_choice = [&] { ++refills; };
    store.set_value(ck_offset_cross, 1);
    r->saved_point_space = 5;
    r->saved_interval_index = 2;
    const struct {
        int marks, dense, layer, space, choice, offset_cross, refills;  // refills counted on marked layers
    } cases[] = {{1, 0, 2, 2, 1, 0, 0}, {1, 0, 4, 6, 3, 1, 1}, {0, 0, 4, 5, 2, 1, 0}, {0, 1, 3, 3, 3, 1, 0}, {0, 1, 4, 5, 2, 1, 0}};
    for (const auto& c : cases) {
        r->has_marks = (uint8_t)c.marks;
        store.set_value(ck_dence_bottom, c.dense);
        r->layer = c.layer;
        set_layer_grid(*r, in);
        EXPECT_EQ(std::vector<double>({store.value(va_point_space), store.value(choice_interval), store.value(ck_offset_cross), r->step}),
                  std::vector<double>({(double)c.space, (double)c.choice, (double)c.offset_cross, (double)c.space}))
            << c.marks << c.dense << " layer " << c.layer;
        EXPECT_TRUE(!c.marks || refills == c.refills);
    }
}

TEST_F(Slicer, ContourPointsSeparatorsAndCollinearRemoval) {
    fill(*r, 0, 299, 0, 359);  // no step crosses empty space
    for (size_t n = 0; n < 3; ++n) {
        r->cleaned_points.assign(n, pt(5, 5));
        prepare_contour_points(*r);
        EXPECT_EQ(r->cleaned_points.size(), n);
    }
    r->cleaned_points = {pt(0, 0), pt(5, 5), pt(6, 5)};
    prepare_contour_points(*r);
    ASSERT_EQ(r->cleaned_points.size(), 4u);
    EXPECT_EQ(r->cleaned_points[1].x, -1);
    EXPECT_EQ(r->cleaned_points[2].x, 5);

    // A diagonal: the middle points go, the last triple is never examined.
    r->cleaned_points = {pt(1, 1), pt(2, 2), pt(3, 3), pt(4, 4), pt(5, 5), pt(6, 6)};
    prepare_contour_points(*r);
    ASSERT_EQ(r->cleaned_points.size(), 3u);
    EXPECT_EQ(r->cleaned_points[0].x, 1);
    EXPECT_EQ(r->cleaned_points[1].x, 5);
    EXPECT_EQ(r->cleaned_points[2].x, 6);

    r->lines = {{pt(1, 1), pt(1, 2), pt(1, 3), pt(1, 4), pt(2, 9)}, {pt(0, 0), pt(3, 0), pt(9, 0)}};
    prune_collinear_paths(*r);
    EXPECT_EQ(r->lines[0].size(), 3u);  // vertical middle points removed up to the last triple
    EXPECT_EQ(r->lines[1].size(), 3u);  // three points: nothing examined
}

// Stretches of a step over empty cells with a point more than a cell from
// material, worked out by hand from the cells the line crosses (a point
// stands for its cell's middle; samples a tenth of a cell apart, so a stretch
// may read up to a tenth more).
TEST_F(Slicer, GapAlongAStepCountsOnlyWhatLiesOffTheMaterial) {
    struct Case {
        const char* what;
        float ax, ay, bx, by, want;
    } cases[] = {
        {"within material", 20, 20, 90, 25, 0},
        {"across 2 empty columns", 95, 52, 125, 52, 0},    // 100, 101: each beside material
        {"across 9 empty columns", 95, 62, 125, 62, 9},    // 100..108
        {"along a stepped edge", 150, 100, 180, 103, 0},   // a cell off it at most
        {"two rows off an edge", 150, 98, 170, 98, 20},
        {"out of the raster", 290, 250, 305, 250, 5.5f},   // from column 299's far side
        {"diagonal neighbours only", 40, 80, 42, 82, 0},   // cell (41, 81) touches both corners
        {"diagonal gap of two cells", 205, 155, 216, 166, 2.83f},  // (210, 160), (211, 161)
    };
    fill(*r, 10, 99, 10, 49);
    fill(*r, 10, 99, 50, 54);
    fill(*r, 102, 130, 50, 54);
    fill(*r, 10, 99, 60, 64);
    fill(*r, 109, 130, 60, 64);
    for (int y = 100; y < 120; ++y) fill(*r, 140, 150 + 10 * (y - 100), y, y);  // 10 columns more a row
    fill(*r, 280, 299, 250, 252);
    fill(*r, 30, 40, 70, 80);
    fill(*r, 42, 50, 82, 90);
    fill(*r, 200, 209, 150, 159);
    fill(*r, 212, 221, 162, 171);
    for (const Case& c : cases) {
        const float got = longest_gap_cells(r->layer_plane, pt(c.ax, c.ay), pt(c.bx, c.by));
        EXPECT_GE(got, c.want - 0.11f) << c.what;
        EXPECT_LE(got, c.want + 0.15f) << c.what;
    }

    // Where a step crosses more than 2 cells of it, the outline gets a
    // separator, even for a step of one row; a fill line goes on as a new
    // line, and a piece of a single point between two gaps is left out.
    r->step = 3;
    r->cleaned_points = {pt(96, 62), pt(97, 62), pt(98, 62), pt(115, 61), pt(116, 61), pt(117, 62)};
    prepare_contour_points(*r);
    ASSERT_EQ(r->cleaned_points.size(), 6u);  // (97, 62) is collinear
    EXPECT_EQ(r->cleaned_points[2].x, -1);
    EXPECT_EQ(r->cleaned_points[3].x, 115);
    r->cleaned_points = {pt(98, 62), pt(112, 62)};  // too short for the rest of the pass
    prepare_contour_points(*r);
    ASSERT_EQ(r->cleaned_points.size(), 3u);
    EXPECT_EQ(r->cleaned_points[1].x, -1);
    r->lines = {{pt(20, 20), pt(21, 20), pt(22, 20), pt(115, 61), pt(20, 21), pt(21, 21)}, {pt(98, 62), pt(112, 62)},
                {pt(112, 62), pt(125, 62)}, {pt(205, 155), pt(207, 157), pt(216, 166), pt(218, 168)}};
    split_paths_at_gaps(*r);
    ASSERT_EQ(r->lines.size(), 5u);
    EXPECT_EQ(r->lines[0].size(), 3u);
    EXPECT_EQ(r->lines[1].size(), 2u);
    EXPECT_EQ(r->lines[1][0].y, 21);
    EXPECT_EQ(r->lines[2][0].x, 112);
    EXPECT_EQ(r->lines[3][1].x, 207);  // the diagonal gap of 2.8 cells is travelled
    EXPECT_EQ(r->lines[4][0].x, 216);
}

// Turned back about the middle of the raster, which lies between cells
// (149.5, 179.5); an unturned point only moves by the heel offset.
TEST_F(Slicer, CellToMillimetreTurnsBackAboutTheRasterMiddleAndShifts) {
    SliceInputs in;
    in.heel_point[0] = 10.7f;
    in.heel_point[1] = 20.2f;
    in.origin_point[0] = 3;
    in.origin_point[1] = 5;
    store.set_value(ck_self_def_angle, 0);
    CellTransform t = make_cell_transform(in, 0);
    EXPECT_EQ(t.off_x, 7);
    EXPECT_EQ(t.off_y, 15);
    float X, Y;
    cell_to_mm(t, 150, 180, &X, &Y);
    EXPECT_NEAR(X, 143, 1e-4);
    EXPECT_NEAR(Y, 165, 1e-4);
    cell_to_mm(t, 149.5f, 179.5f, &X, &Y);
    EXPECT_EQ(X, 142.5f);
    EXPECT_EQ(Y, 164.5f);

    in.heel_point[0] = in.heel_point[1] = 0;
    in.origin_point[0] = in.origin_point[1] = 0;
    in.current_angle = 90;
    const struct {
        int self_def, layer;
        float x, y, X, Y;
    } cases[] = {{0, 1, 160, 180, 150, 169}, {1, 1, 160, 180, 149, 190}, {1, 2, 160, 180, 150, 169},
                 {0, 0, 149.5f, 190, 160, 179.5f}};
    for (const auto& c : cases) {
        store.set_value(ck_self_def_angle, c.self_def);  // odd layers turn the other way
        t = make_cell_transform(in, (float)c.layer);
        cell_to_mm(t, c.x, c.y, &X, &Y);
        EXPECT_NEAR(X, c.X, 1e-3) << c.self_def << " " << c.layer;
        EXPECT_NEAR(Y, c.Y, 1e-3) << c.self_def << " " << c.layer;
    }
}

TEST_F(Slicer, MarkedPointsAndPockets) {
    float X, Y;
    pressure_to_raster(75, 180, &X, &Y);
    EXPECT_EQ(X, 156);
    EXPECT_EQ(Y, 186);
    pressure_to_raster(85, 180, &X, &Y);
    EXPECT_NEAR(X, 156 + 7.0711f, 1e-3);
    EXPECT_NEAR(Y, 186 - 7.0711f, 1e-3);

    SliceInputs in;
    in.circles.push_back({75, 180, 10});
    MarkedBar bar;
    bar.v[0] = 40, bar.v[1] = 100, bar.v[3] = 40, bar.v[4] = 140, bar.v[6] = 6;
    in.bars.push_back(bar);
    fill(*r, 0, 299, 0, 359);
    store.set_value(va_layer_index, 3);
    clear_marked_pockets(*r, in);
    EXPECT_NE(cell(*r, 156, 186), 0);  // nothing cleared up to layer 3
    store.set_value(va_layer_index, 31);
    clear_marked_pockets(*r, in);
    EXPECT_EQ(cell(*r, 156, 186), 0);
    EXPECT_EQ(cell(*r, 160, 190), 0);
    EXPECT_NE(cell(*r, 170, 186), 0);
    float bx, by;
    pressure_to_raster(40, 120, &bx, &by);  // middle of the bar
    EXPECT_EQ(cell(*r, (int)bx, (int)by), 0);
}

TEST_F(Slicer, CutHeightByModelKind) {
    SliceInputs in;
    store.set_value(va_spacing, 0.5);
    EXPECT_FLOAT_EQ(layer_cut_z(*r, 3, in), 2.0f);  // no model box yet
    in.box.model_min_z = -10, in.box.model_max_z = 20;  // a loaded model: from its lowest point
    EXPECT_FLOAT_EQ(layer_cut_z(*r, 3, in), -8.0f);
    r->insole_mesh_model = 1;
    EXPECT_FLOAT_EQ(layer_cut_z(*r, 3, in), 4.0f);
    store.set_value(bt_whole_insole, 1);
    EXPECT_FLOAT_EQ(layer_cut_z(*r, 3, in), 2.0f);
}
