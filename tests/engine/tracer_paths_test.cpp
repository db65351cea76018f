// Path tracing on hand-made rasters: probes, edge cells, turns and their
// distance limits, whole-layer builders, grid offsets beyond the raster.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "engine/layer_raster.h"
#include "engine/params.h"
#include "engine/path_tracer.h"
#include "tests/engine/insole_test_support.h"

using namespace engine;
using insoletest::fill;

namespace {

// Each test's raster, and the sample grid as the raster builds it (an
// offset given in x shifts the columns, in y the rows).
class Tracer : public insoletest::ParamTest {
protected:
    void make_grid(LayerRaster& g, int step, float ox = 0, float oy = 0) {
        store.set_value(ck_offset_cross, ox != 0 || oy != 0);
        g.grid_offset = ox + oy;
        g.row_lines = oy != 0;
        insoletest::console_of([&] { build_sample_grid(g, step); });
    }
    std::unique_ptr<LayerRaster> r = std::make_unique<LayerRaster>();
};

int grid_index(const LayerRaster& r, int gx, int gy) {
    int step = (int)r.step;
    return (gy / step) * r.grid_columns + gx / step;
}

bool inside(const PathPoint& p, int x0, int x1, int y0, int y1) {
    return p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1;
}

// Every grid point over material taken once, none over empty cells.
void expect_covered(const LayerRaster& r) {
    for (const PathPoint& g : r.grid) {
        bool material = g.x < 300 && g.y < 360 && r.layer_plane[(int)g.y * 300 + (int)g.x] != 0;
        EXPECT_EQ(g.visited != 0, material) << "grid point " << g.x << "," << g.y;
    }
}

// Starts a line at grid point (gx, gy) so a turn can be tried from it.
int seed_line(LayerRaster& r, int gx, int gy) {
    int a = grid_index(r, gx, gy);
    r.grid[a].visited = 1;
    r.current_line.clear();
    r.current_line.push_back(r.grid[a]);
    r.line_cursor = 0;
    return a;
}

}  // namespace

TEST_F(Tracer, EdgeCellSideNeighboursOnlyAndRasterBorderIsEmpty) {
    fill(*r, 10, 12, 10, 12);
    EXPECT_FALSE(is_edge_cell(r->layer_plane, 11, 11));  // all four sides set
    EXPECT_TRUE(is_edge_cell(r->layer_plane, 10, 11));
    EXPECT_TRUE(is_edge_cell(r->layer_plane, 12.9f, 12.9f));
    EXPECT_FALSE(is_edge_cell(r->layer_plane, 9, 11));  // empty cell
    // Only diagonal neighbours empty: a plus-shaped hole around (20,20).
    fill(*r, 18, 22, 18, 22);
    r->layer_plane[19 * 300 + 19] = 0;
    r->layer_plane[21 * 300 + 21] = 0;
    EXPECT_FALSE(is_edge_cell(r->layer_plane, 20, 20));
    // Cells on the raster's border have neighbours outside it, which are empty.
    fill(*r, 0, 299, 0, 359);
    EXPECT_TRUE(is_edge_cell(r->layer_plane, 0, 100));
    EXPECT_TRUE(is_edge_cell(r->layer_plane, 299, 359));
    EXPECT_FALSE(is_edge_cell(r->layer_plane, 150, 180));
    EXPECT_FALSE(is_edge_cell(r->layer_plane, -1, 5));
    EXPECT_FALSE(is_edge_cell(r->layer_plane, 5, 360));
}

TEST_F(Tracer, ProbeRectangleBoundaryFoundOnlyWhenNextCellIsMaterial) {
    fill(*r, 50, 249, 100, 200);
    make_grid(*r, 3);
    int a = grid_index(*r, 51, 150);
    EXPECT_TRUE(probe_left(*r, a, r->layer_plane, 51, 150, 3));
    ASSERT_EQ(r->current_line.size(), 1u);
    EXPECT_EQ(r->current_line[0].x, 50);
    EXPECT_EQ(r->current_line[0].y, 150);
    EXPECT_EQ(r->current_line[0].index, 0);

    int b = grid_index(*r, 249, 150);
    EXPECT_FALSE(probe_right(*r, b, r->layer_plane, 249, 150, 3));  // column 250 is empty
    EXPECT_EQ(r->current_line.size(), 1u);

    // Boundary two cells away, within range: found; beyond range: not.
    EXPECT_TRUE(probe_right(*r, 0, r->layer_plane, 247, 150, 3));
    EXPECT_EQ(r->current_line.back().x, 249);
    EXPECT_FALSE(probe_right(*r, 0, r->layer_plane, 240, 150, 3));
    EXPECT_TRUE(probe_up(*r, 0, r->layer_plane, 120, 198, 3));
    EXPECT_EQ(r->current_line.back().y, 200);
    EXPECT_TRUE(probe_down(*r, 0, r->layer_plane, 120, 102, 3));
    EXPECT_EQ(r->current_line.back().y, 100);
    // A pre-check beyond the raster reads an empty cell.
    fill(*r, 0, 10, 0, 10);
    EXPECT_FALSE(probe_left(*r, 0, r->layer_plane, 0, 5, 3));
    EXPECT_FALSE(probe_down(*r, 0, r->layer_plane, 5, 0, 3));
}

TEST_F(Tracer, BuildRectangleLayerIsOneZigZagInRowsOrColumns) {
    for (int rows = 0; rows <= 1; ++rows)
        for (int low = 0; low <= 1; ++low) {
            SCOPED_TRACE(testing::Message() << "rows " << rows << " from_low_end " << low);
            r = std::make_unique<LayerRaster>();
            fill(*r, 50, 249, 60, 299);
            make_grid(*r, 3);
            r->from_low_end = (uint8_t)low;
            r->row_lines = (uint8_t)rows;
            if (rows)
                build_row_lines(*r);
            else
                build_column_lines(*r);
            ASSERT_EQ(r->lines.size(), 1u);
            const auto& line = r->lines[0];
            for (const PathPoint& p : line) EXPECT_TRUE(inside(p, 50, 249, 60, 299)) << p.x << "," << p.y;
            expect_covered(*r);
            // Grid rows (or columns) are walked in order, alternating direction.
            float last = -1;
            for (const PathPoint& p : line) {
                EXPECT_GE(rows ? p.y : p.x, last);
                last = rows ? p.y : p.x;
            }
            if (!rows) continue;
            if (low) {
                // Start at the bottom-left grid point with its two boundary points.
                ASSERT_GE(line.size(), 3u);
                EXPECT_EQ(line[0].x, 50);
                EXPECT_EQ(line[1].x, 51);
                EXPECT_EQ(line[1].y, 60);
                EXPECT_EQ(line[2].x, 52);
            } else {
                EXPECT_EQ(line[0].x, 249);  // no boundary beyond 249: 250 is empty
                EXPECT_EQ(line[0].y, 60);
            }
        }
}

// Which run a turn continues into, and when it does not. Runs are three
// cells long around the grid point given, so each run's candidate is that
// point. The current point P is one grid step before the scanned row (P at
// y 30, runs on y 33) or column (P at (30, 99), runs on x 33); `last` is
// the run count of the turn before. Expected winners are worked from the
// squared distances (d^2 + 9) by hand; -1: no turn, `after` the run count
// then kept.
TEST_F(Tracer, TurnChoiceByCandidateCountAndDistanceLimits) {
    struct Case {
        bool rows;
        int last;
        std::vector<int> runs;  // x (rows) or y (columns) of each run, in scan order
        int px, want, after;
    } cases[] = {
        {true, 2, {54}, 30, 54, 1},                // one run 24 columns away after two: turns
        {true, 2, {57}, 30, -1, 1},                // 27 after two: ends
        {true, 1, {66}, 30, 66, 1},                // 36 after one: turns
        {true, 1, {69}, 30, -1, 1},                // 39 after one: ends
        {true, 0, {66}, 30, 66, 1},                // a line's first turn: 36 turns
        {true, 0, {150}, 30, -1, 1},               // 120: ends, as after one run
        {true, 0, {60, 120}, 96, 120, 2},          // two: the nearer
        {true, 0, {120, 180}, 150, 120, 2},        // two tied: the first
        {true, 0, {120, 180, 270}, 150, 120, 3},   // three, first and second tied: the first
        {true, 0, {60, 120, 180}, 150, 180, 3},    // three, second and third tied: the third
        {true, 0, {30, 120, 240}, 141, 120, 3},    // three: the strictly nearest
        {true, 0, {30, 90, 150, 210}, 201, 30, 4}, // four: the first, however far
        {true, 0, {12, 42, 72, 102, 132, 162, 192}, 201, 12, 7},  // seven runs, five kept: the first
        {false, 1, {132}, 30, 132, 1},             // one run 33 rows away: turns
        {false, 1, {135}, 30, -1, 1},              // 36 after one: ends
        {false, 2, {132}, 30, 132, 1},
        {false, 2, {135}, 30, -1, 2},              // 36 after two: ends, the count kept
        {false, 0, {132}, 30, 132, 1},             // a line's first turn: 33 turns
        {false, 0, {240}, 30, -1, 1},              // 210: ends
        {false, 0, {93, 105}, 30, 93, 2},          // two tied: the first
        {false, 0, {69, 105}, 30, 105, 2},         // two: the nearer
        {false, 0, {93, 105, 150}, 30, 93, 3},     // three, first and second tied: the first
        {false, 0, {60, 93, 105}, 30, 93, 3},      // three, second and third tied: the earlier
        {false, 0, {30, 60, 93}, 30, 93, 3},       // three: the strictly nearest, last
        {false, 0, {69, 78, 93, 105}, 30, 105, 4}, // four, third and fourth tied: the fourth
        {false, 0, {69, 93, 105, 129}, 30, 93, 4}, // four, second and third tied: the second
        {false, 0, {69, 81, 111, 129}, 30, 111, 4},  // four: the strictly nearest
        {false, 0, {18, 45, 150, 180}, 30, -1, 0},   // four: the nearest is 51 rows away
        {false, 0, {9, 39, 69, 105, 135, 165}, 30, 9, 6},  // six runs, five kept: the first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.rows ? "row" : "column") << " runs from " << c.runs[0] << " last "
                                        << c.last);
        r = std::make_unique<LayerRaster>();
        for (int v : c.runs) c.rows ? fill(*r, v - 1, v + 1, 33, 33) : fill(*r, 33, 33, v - 1, v + 1);
        make_grid(*r, 3);
        int a = seed_line(*r, c.px, c.rows ? 30 : 99);
        r->last_run_count = c.last;
        c.rows ? turn_to_next_row(*r, a, 1) : turn_to_next_column(*r, a, 1);
        EXPECT_EQ(r->last_run_count, c.after);
        if (c.want < 0) {
            EXPECT_EQ(r->current_line.size(), 1u);
            EXPECT_EQ(r->line_cursor, 0);
            continue;
        }
        ASSERT_GT(r->current_line.size(), 1u);
        const PathPoint& got = r->current_line[r->line_cursor];
        EXPECT_EQ(c.rows ? got.x : got.y, c.want);
        EXPECT_TRUE(r->grid[got.index].visited);
    }
}

TEST_F(Tracer, TurnNoNextRowOrColumnEndsTheLine) {
    fill(*r, 0, 299, 0, 359);
    make_grid(*r, 3);
    int a = seed_line(*r, 150, 357);  // top grid row
    turn_to_next_row(*r, a, 1);
    EXPECT_EQ(r->current_line.size(), 1u);
    a = seed_line(*r, 297, 357);  // last grid point: nothing follows it
    turn_to_next_column(*r, a, 1);
    EXPECT_EQ(r->current_line.size(), 1u);
}

TEST_F(Tracer, BuildGridPointsBeyondRasterAreNeverTaken) {
    fill(*r, 0, 299, 0, 359);
    make_grid(*r, 7, 6.5f, 0);  // last grid column lands at x 300.5
    r->from_low_end = 1;
    build_column_lines(*r);
    ASSERT_FALSE(r->lines.empty());
    for (const auto& line : r->lines)
        for (const PathPoint& p : line) {
            EXPECT_LT(p.x, 300);
            EXPECT_LT(p.y, 360);
        }
    for (const PathPoint& g : r->grid) EXPECT_EQ(g.visited != 0, g.x < 300) << g.x;

    auto q = std::make_unique<LayerRaster>();
    fill(*q, 0, 299, 0, 359);
    make_grid(*q, 7, 0, 6.5f);
    q->from_low_end = 0;
    build_row_lines(*q);
    for (const PathPoint& g : q->grid) EXPECT_EQ(g.visited != 0, g.y < 360) << g.y;
}

TEST_F(Tracer, BuildCapBelowRowZeroReadsEmpty) {
    // Grid raised by 1.5: the start point sits at y 1.5 over material from
    // row 0, so the cap scans from row -1; only row 0 cells qualify.
    fill(*r, 100, 199, 0, 50);
    make_grid(*r, 3, 0, 1.5f);
    r->from_low_end = 1;
    build_row_lines(*r);
    ASSERT_FALSE(r->lines.empty());
    const auto& line = r->lines[0];
    size_t caps = 0;
    while (caps < line.size() && line[caps].y == 0) ++caps;
    EXPECT_EQ(caps, 50u);  // every other column from 199 down to 101
    EXPECT_EQ(line[0].x, 199);
    for (size_t i = 0; i < caps; ++i) EXPECT_TRUE(inside(line[i], 100, 199, 0, 0));
}

TEST_F(Tracer, FollowRowBackwardBoundMovesWithEachPointTaken) {
    // Full-width material on grid rows y 3 and 6. Following back from (30, 6)
    // runs on into the row below; its bound trails the latest point taken by
    // one grid row, so it takes all of that row, not only the part right of x 30.
    fill(*r, 0, 299, 2, 7);
    make_grid(*r, 3);
    seed_line(*r, 30, 6);
    EXPECT_TRUE(follow_row_backward(*r));
    for (int x = 0; x < 300; x += 3) {
        EXPECT_TRUE(r->grid[grid_index(*r, x, 3)].visited) << "x " << x;
        EXPECT_EQ(r->grid[grid_index(*r, x, 6)].visited != 0, x <= 30) << "x " << x;
    }
}

TEST_F(Tracer, BuildRowCapFromAboveEndsAtMaterialOnTheStartRow) {
    // Lowest material row 11 (block B), start (42, 12) no more than a row
    // above it: the cap looks at rows 14 down to 12, column by column from the
    // left; the bottoms of E (row 14) and C (row 13) are the cap, and column
    // 40, material on row 12, ends it before block D.
    fill(*r, 40, 60, 11, 13);   // B
    fill(*r, 10, 15, 14, 30);   // E
    fill(*r, 20, 30, 13, 40);   // C
    fill(*r, 70, 80, 13, 20);   // D
    make_grid(*r, 3);
    r->from_low_end = 1;
    build_row_lines(*r);
    ASSERT_FALSE(r->lines.empty());
    const auto& line = r->lines[0];
    std::vector<std::pair<float, float>> want;
    for (int x = 10; x <= 15; ++x) want.push_back({x, 14});
    for (int x = 20; x <= 30; ++x) want.push_back({x, 13});
    want.push_back({40, 12});  // the start's left probe
    want.push_back({42, 12});  // the start
    ASSERT_GE(line.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k) {
        EXPECT_EQ(line[k].x, want[k].first) << k;
        EXPECT_EQ(line[k].y, want[k].second) << k;
    }
}

TEST_F(Tracer, BuildColumnStartProbesReachTwoSteps) {
    // Rows 50..57 under the first grid column that meets them (x 102): the
    // start (102, 51) finds the top edge six rows up, two steps, on its
    // start probe; following probes reach one step only.
    fill(*r, 100, 200, 50, 57);
    make_grid(*r, 3);
    r->from_low_end = 1;
    build_column_lines(*r);
    ASSERT_FALSE(r->lines.empty());
    const auto& line = r->lines[0];
    // The left cap comes first: column 100 on the odd rows 57, 55, 53, 51.
    ASSERT_GE(line.size(), 7u);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(line[k].x, 100);
        EXPECT_EQ(line[k].y, 57 - 2 * k);
    }
    EXPECT_EQ(line[4].y, 50);  // down probe
    EXPECT_EQ(line[5].y, 51);  // the start
    EXPECT_EQ(line[6].y, 57);  // up probe, 6 rows away
    for (int k = 4; k < 7; ++k) EXPECT_EQ(line[k].x, 102);
}
