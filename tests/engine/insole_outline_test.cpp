// Tests of the outline drawing, walks, gap closing and the whole outline build.
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "engine/insole_mesh.h"
#include "engine/insole_outline.h"
#include "tests/engine/foot_samples.h"
#include "tests/engine/insole_test_support.h"

using namespace engine;
using namespace insoletest;

using Outline = ShapeTest;

namespace {

Bitmap outline_of(const InsoleShape& s) { return Bitmap(s.outline_map, s.outline_map + SHAPE_PIXELS); }

void draw_box(uint8_t* b, int x0, int y0, int x1, int y1) {
    for (int x = x0; x <= x1; ++x) b[y0 * 150 + x] = b[y1 * 150 + x] = 255;
    for (int y = y0; y <= y1; ++y) b[y * 150 + x0] = b[y * 150 + x1] = 255;
}

// Every set pixel of each row lies on the boundary of the union of the
// rows' filled spans, and each span's two ends are set.
::testing::AssertionResult rows_hold_span_boundaries(const uint8_t* b) {
    Bitmap spans = blank();
    for (int y = 1; y <= 358; ++y) {
        int first = -1, last = -1;
        for (int x = 1; x <= 148; ++x)
            if (b[y * 150 + x]) {
                if (first < 0) first = x;
                last = x;
            }
        for (int x = first; first >= 0 && x <= last; ++x) at(spans, x, y) = 1;
    }
    for (int y = 1; y <= 358; ++y)
        for (int x = 1; x <= 148; ++x) {
            const bool boundary = at(spans.data(), x, y) &&
                                  (!at(spans.data(), x - 1, y) || !at(spans.data(), x + 1, y) ||
                                   !at(spans.data(), x, y - 1) || !at(spans.data(), x, y + 1));
            if ((b[y * 150 + x] != 0) != boundary)
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ")";
        }
    return ::testing::AssertionSuccess();
}

}  // namespace

// ---- drawing -----------------------------------------------------------------

// Rows y0..y1-1 of a column, a row clipped to the bitmap, one pixel a row
// with both ends; and the same pixels whichever end comes first.
TEST_F(Outline, SegmentRowsColumnsAndEitherEndFirst) {
    draw_segment(*shape, {40, 10, -1}, {40, 20, -1});
    EXPECT_EQ(count_set(shape->outline_map), 10);
    EXPECT_EQ(at(shape->outline_map, 40, 10), 255);
    EXPECT_EQ(at(shape->outline_map, 40, 20), 0);
    std::memset(shape->outline_map, 0, SHAPE_PIXELS);
    draw_segment(*shape, {-50, 100, -1}, {400, 100, -1});
    EXPECT_EQ(count_set(shape->outline_map), 150);
    std::memset(shape->outline_map, 0, SHAPE_PIXELS);
    draw_segment(*shape, {10, 10, -1}, {20, 30, -1});
    EXPECT_EQ(count_set(shape->outline_map), 21);
    EXPECT_EQ(at(shape->outline_map, 10, 10) & at(shape->outline_map, 20, 30) & at(shape->outline_map, 15, 20), 255);
    std::mt19937 rng(7);
    auto coord = [&](int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1)); };
    for (int k = 0; k < 300; ++k) {
        const ShapePoint a{coord(-40, 190), coord(-40, 400), -1}, b{coord(-40, 190), coord(-40, 400), -1};
        std::memset(shape->outline_map, 0, SHAPE_PIXELS);
        draw_segment(*shape, a, b);
        const Bitmap ab = outline_of(*shape);
        std::memset(shape->outline_map, 0, SHAPE_PIXELS);
        draw_segment(*shape, b, a);
        ASSERT_EQ(outline_of(*shape), ab) << a.x << "," << a.y << " " << b.x << "," << b.y;
    }
}

// (Arcs of real feet are checked by the models the outlines give.) Without
// a real centre (chord longer than the diameter, both ends on one pixel, a
// radius that is not a number) the chord is drawn; a point on the centre
// has no angle, 0 rather than NaN. Arcs anywhere set only pixels of the
// bitmap (under the sanitizers: nothing beside it).
TEST_F(Outline, ArcWithoutARealCentreDrawsTheChordAndArcsStayOnTheBitmap) {
    EXPECT_EQ(angle_from_x_axis(10, 5, 10, 5), 0);
    EXPECT_FALSE(std::isnan(angle_from_x_axis(1e7f, 1, 0, 0)));
    EXPECT_EQ(console_of([&] { draw_arc(*shape, {20, 100, -1}, {120, 100, -1}, 10, 1); }), "p_tmp 20 100\np2 120 100\n");
    EXPECT_EQ(count_set(shape->outline_map), 101);
    for (int x = 20; x <= 120; ++x) EXPECT_EQ(at(shape->outline_map, x, 100), 255);
    std::memset(shape->outline_map, 0, SHAPE_PIXELS);
    console_of([&] {
        draw_arc(*shape, {30, 30, -1}, {30, 30, -1}, 0, 0);
        draw_arc(*shape, {30, 30, -1}, {60, 90, -1}, std::nanf(""), 0);
    });
    EXPECT_EQ(at(shape->outline_map, 30, 30) & at(shape->outline_map, 60, 90) & at(shape->outline_map, 45, 60), 255);
    std::mt19937 rng(11);
    auto coord = [&](int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1)); };
    console_of([&] {
        for (int k = 0; k < 200; ++k) {
            const ShapePoint a{coord(-300, 450), coord(-300, 660), -1}, b{coord(-300, 450), coord(-300, 660), -1};
            const float radii[] = {0.0f, -5.0f, static_cast<float>(coord(1, 2000)), 1e30f, INFINITY};
            draw_arc(*shape, a, b, radii[k % 5], static_cast<uint8_t>(k % 2));
        }
    });
    for (int i = 0; i < SHAPE_PIXELS; ++i) ASSERT_TRUE(shape->outline_map[i] == 0 || shape->outline_map[i] == 255);
}

// ---- walks -------------------------------------------------------------------

// Round a closed loop: to an end on it, round the heel end only and not
// onto the end itself; to an end inside it, round and round until the
// 1000th step; from a start off the bitmap, nowhere.
TEST_F(Outline, HeelWalkGoesRoundTheHeelAndLeavesTheEndUndrawn) {
    draw_box(shape->ring_map, 30, 40, 100, 120);
    shape->p2_2 = {30, 80, -1};
    shape->p[3] = {100, 90, -1};
    WalkResult r = walk_heel_ring(*shape);
    EXPECT_TRUE(r.reached);
    EXPECT_LT(r.iterations, 1000);
    EXPECT_EQ(at(shape->outline_map, 30, 80), 255);
    EXPECT_EQ(at(shape->outline_map, 65, 40), 255);   // along the heel end
    EXPECT_EQ(at(shape->outline_map, 65, 120), 0);    // not round the toe end
    EXPECT_EQ(at(shape->outline_map, 100, 89), 255);
    EXPECT_EQ(at(shape->outline_map, 100, 90), 0);
    std::memset(shape->outline_map, 0, SHAPE_PIXELS);
    shape->p[3] = {65, 80, -1};  // inside the loop, not on it
    r = walk_heel_ring(*shape);
    EXPECT_FALSE(r.reached);
    EXPECT_EQ(r.iterations, 1000);
    EXPECT_EQ(at(shape->outline_map, 65, 120), 255);  // it went round
    std::memset(shape->outline_map, 0, SHAPE_PIXELS);
    std::memset(shape->ring_map, 255, SHAPE_PIXELS);
    shape->p2_2 = {-100000, 50, -1};
    shape->p[3] = {10, 10, -1};
    EXPECT_FALSE(walk_heel_ring(*shape).reached);
    EXPECT_EQ(count_set(shape->outline_map), 0);
}

TEST_F(Outline, ToeWalkFollowsTheFootEdgeAndDrawsItsEnd) {
    for (int y = 40; y <= 240; ++y)
        for (int x = 30; x <= 100; ++x) shape->foot_map[y * 150 + x] = 50;
    shape->p0_1 = {30, 150, -1};
    shape->p[4] = {100, 140, -1};
    const WalkResult r = walk_toe_edge(*shape);
    EXPECT_TRUE(r.reached);
    EXPECT_EQ(at(shape->outline_map, 65, 240), 255);  // across the toe end
    EXPECT_EQ(at(shape->outline_map, 65, 40), 0);
    EXPECT_EQ(at(shape->outline_map, 100, 140), 255);
    // edge_map is the thinned boundary of the pixels above 9.
    EXPECT_EQ(at(shape->edge_map, 30, 100), 255);
    EXPECT_EQ(at(shape->edge_map, 31, 100), 0);
    EXPECT_EQ(at(shape->edge_map, 30, 40), 0);  // a corner
}

// ---- gap closing and filling ----------------------------------------------------

// The inside of a closed box is the box itself; a box with one-pixel gaps
// leaks until the outline is dilated.
TEST_F(Outline, InsideMaskOfABoxAndOnePixelGapsBridged) {
    draw_box(shape->outline_map, 30, 40, 89, 239);
    fill_inside_mask(*shape);
    Bitmap expected = blank();
    fill_rect(expected, 30, 40, 89, 239, 10);
    EXPECT_EQ(Bitmap(shape->inside_mask, shape->inside_mask + SHAPE_PIXELS), expected);
    shape->outline_map[150 * 150 + 30] = 0;  // gap in the left side
    shape->outline_map[239 * 150 + 60] = 0;  // gap in the top
    auto inner_filled = [&] {
        int n = 0;
        for (int y = 41; y <= 238; ++y)
            for (int x = 31; x <= 88; ++x) n += at(shape->inside_mask, x, y) == 10;
        return n == 58 * 198;
    };
    fill_inside_mask(*shape);
    EXPECT_FALSE(inner_filled());  // the row scans leak in
    dilate_outline(*shape);
    EXPECT_TRUE(rows_hold_span_boundaries(shape->outline_map));
    EXPECT_EQ(Bitmap(shape->outline_work, shape->outline_work + SHAPE_PIXELS), outline_of(*shape));
    fill_inside_mask(*shape);
    EXPECT_TRUE(inner_filled());
    EXPECT_EQ(at(shape->inside_mask, 10, 100), 0);
}

TEST_F(Outline, RowSpansFillAndBoundaryKeeps) {
    at(shape->outline_map, 20, 50) = at(shape->outline_map, 40, 50) = 255;
    at(shape->outline_map, 0, 60) = at(shape->outline_map, 149, 60) = 255;  // columns 0 and 149 are not searched
    fill_row_spans(*shape);
    for (int x = 20; x <= 40; ++x) EXPECT_EQ(at(shape->outline_map, x, 50), 255);
    EXPECT_EQ(at(shape->outline_map, 75, 60), 0);
    keep_boundary(*shape);
    EXPECT_EQ(at(shape->outline_map, 30, 50), 255);  // a one-row span is all boundary
}

// ---- the whole build ---------------------------------------------------------

// A left foot's build says so first, draws its five arcs and no contour
// failure; built again it gives the same outline, mask and model.
TEST_F(Outline, ConsoleLinesOfABuildAndRunningTwiceGivesTheSameOutline) {
    footsamples::DrawnFoot p;
    p.left = true;
    Bitmap foot = footsamples::drawn_foot(p);
    foot[200 * 150 + 10] = 77;  // a speck the first run removes from the caller's bitmap
    Mesh first, second;
    const std::string out = console_of([&] { build_insole_outline(*shape, foot.data(), first); });
    EXPECT_EQ(out.rfind("LEFT !\nx range ", 0), 0u) << out;
    size_t arcs = 0;
    for (size_t at = out.find("p_tmp "); at != std::string::npos; at = out.find("p_tmp ", at + 1)) ++arcs;
    EXPECT_EQ(arcs, 5u);
    EXPECT_EQ(out.find("contour failure"), std::string::npos);
    const Bitmap outline = outline_of(*shape);
    const Bitmap inside(shape->inside_mask, shape->inside_mask + SHAPE_PIXELS);
    const Bitmap after_first = foot;
    console_of([&] { build_insole_outline(*shape, foot.data(), second); });
    EXPECT_EQ(foot[200 * 150 + 10], 0);
    EXPECT_EQ(foot, after_first);
    EXPECT_EQ(outline_of(*shape), outline);
    EXPECT_EQ(Bitmap(shape->inside_mask, shape->inside_mask + SHAPE_PIXELS), inside);
    ASSERT_EQ(first.size(), second.size());
    EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(MeshTriangle)), 0);
}

TEST_F(Outline, DegenerateFeetStayInBoundsAndLeaveNoNaN) {
    std::vector<Bitmap> feet(6, blank());
    at(feet[1], 75, 180) = 200;
    feet[2].assign(SHAPE_PIXELS, 255);  // touches every border
    fill_rect(feet[3], 70, 0, 71, 359, 90);
    fill_rect(feet[4], 0, 100, 149, 101, 90);
    fill_rect(feet[5], 0, 0, 30, 60, 40);
    for (uint32_t seed = 1; seed <= 4; ++seed) feet.push_back(random_bitmap(seed, 20 * static_cast<int>(seed)));
    for (size_t k = 0; k < feet.size(); ++k) {
        Mesh model;
        console_of([&] {
            build_insole_outline(*shape, feet[k].data(), model);
            build_insole_outline(*shape, feet[k].data(), model);  // key points carried over from the first run
        });
        for (const MeshTriangle& t : model)
            for (const Vec3& v : {t.a, t.b, t.c}) {
                ASSERT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)) << "foot " << k;
                ASSERT_TRUE(v.x >= 0 && v.x <= 149 && v.y >= 0 && v.y <= 359) << "foot " << k;
            }
        for (int i = 0; i < SHAPE_PIXELS; ++i)
            ASSERT_TRUE(shape->inside_mask[i] == 0 || shape->inside_mask[i] == 10) << "foot " << k;
    }
}

namespace {
int outline_top(const InsoleShape& s, int x) {
    for (int y = SHAPE_H - 1; y >= 0; --y)
        if (s.outline_map[y * SHAPE_W + x]) return y;
    return -1;
}

// Builds a foot's outline and model, its console dropped.
bool quiet_build(InsoleShape& s, Bitmap foot) {
    Mesh model;
    bool built = false;
    console_of([&] { built = build_insole_outline(s, foot.data(), model); });
    return built;
}

// A block foot from row 40 to top_row, an island at rows
// island_from..island_from+20 if asked, and a 4 x 4 speck below the heel.
void build_block_foot(InsoleShape& s, int top_row, int island_from = -1) {
    Bitmap foot = blank();
    fill_rect(foot, 30, 40, 100, top_row, 80);
    fill_rect(foot, 60, 10, 63, 13, 80);
    if (island_from >= 0) fill_rect(foot, 70, island_from, 95, island_from + 20, 80);
    quiet_build(s, foot);
}
}  // namespace

// A toe up to 25 rows above the ball is joined to it, whatever else lies on
// the bitmap; one 28 rows above is not, and neither is a speck of 9 pixels.
TEST_F(Outline, ToeIslandsNearTheBallAreKeptAndFarOnesAndSpecksNotJoined) {
    build_block_foot(*shape, 200, 215);  // 14 rows above the ball: a toe
    EXPECT_GE(outline_top(*shape, 80), 233);
    EXPECT_EQ(at(shape->inside_mask, 80, 225), 10);
    build_block_foot(*shape, 200, 229);  // 28 rows above the ball: not a toe
    EXPECT_LE(outline_top(*shape, 80), 201);
    EXPECT_EQ(at(shape->inside_mask, 80, 240), 0);
    Bitmap foot = blank();
    fill_rect(foot, 30, 40, 100, 200, 80);
    fill_rect(foot, 70, 212, 72, 214, 80);
    quiet_build(*shape, foot);
    EXPECT_LE(outline_top(*shape, 71), 201);  // no stalk grows up to the speck
}

// Only a gap from the foot up to a toe island is bridged: the hollow under a
// toe joined to the foot from the side stays open in the toe walk's bitmap.
TEST_F(Outline, ToeBridgeLeavesGapsWithinTheFootOpen) {
    Bitmap foot = blank();
    fill_rect(foot, 30, 40, 100, 200, 80);   // the foot
    fill_rect(foot, 30, 201, 35, 225, 80);   // a side strip up to
    fill_rect(foot, 36, 210, 60, 225, 80);   // a toe above a hollow (rows 201..209)
    fill_rect(foot, 80, 215, 95, 235, 80);   // a toe island
    quiet_build(*shape, foot);
    EXPECT_EQ(at(shape->edge_map, 50, 200), 255);  // the foot's top edge under the hollow
    EXPECT_EQ(at(shape->edge_map, 50, 210), 255);  // the toe's lower edge above it
    EXPECT_GE(outline_top(*shape, 88), 233);       // the island is joined
}

// A foot the loader takes (over 80 rows) that leaves nothing after the spur
// pass: no model, and the caller's model is left as it was.
TEST_F(Outline, OnePixelLineFootGivesNoModel) {
    Bitmap foot = blank();
    fill_rect(foot, 70, 100, 70, 220, 80);
    Mesh model(1);
    EXPECT_NE(console_of([&] { EXPECT_FALSE(build_insole_outline(*shape, foot.data(), model)); }).find("contour failure~~~\n"),
              std::string::npos);
    EXPECT_EQ(model.size(), 1u);
}

TEST_F(Outline, HeelEndFollowsTheFootItselfWithoutErosion) {
    auto bottom_row = [&](double erosion) {
        store.set_value(va_bm_para_1, erosion);
        build_block_foot(*shape, 240);
        for (int y = 0; y < SHAPE_H; ++y)
            for (int x = 0; x < SHAPE_W; ++x)
                if (at(shape->outline_map, x, y)) return y;
        return -1;
    };
    EXPECT_EQ(bottom_row(0), 40);
    EXPECT_GT(bottom_row(8), 40);
}

// The small toe of a drawn right foot sits in a notch cut into the ball's
// top rows, with a 2 px hole at its base: the toe walk in a fixed order steps
// on a pixel twice and goes round the heel along the foot's own edge; redone
// by boundary following, the outline runs over the ball and the toes.
TEST_F(Outline, ToeWalkThatStepsTwiceIsRedoneOverTheToes) {
    footsamples::DrawnFoot p;
    std::vector<uint8_t> foot = footsamples::drawn_foot(p);
    for (int y = 216; y <= 217; ++y)
        for (int x = 104; x <= 114; ++x) foot[y * 150 + x] = 0;
    foot[217 * 150 + 107] = foot[218 * 150 + 107] = 0;
    int heel_edge = 1;  // the foot's first pixel on row 100
    while (!foot[100 * 150 + heel_edge]) ++heel_edge;
    ASSERT_TRUE(quiet_build(*shape, foot));
    EXPECT_EQ(at(shape->outline_map, heel_edge, 100), 0);
    EXPECT_EQ(at(shape->inside_mask, 75, 225), 10);  // the ball and toes lie inside
}
