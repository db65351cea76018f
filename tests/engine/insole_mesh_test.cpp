// Tests of contour tracing and the insole's triangle model.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "engine/insole_mesh.h"
#include "tests/engine/insole_test_support.h"

using namespace engine;
using namespace insoletest;

using InsoleMesh = ShapeTest;

namespace {

bool same(const Vec3& v, float x, float y, float z) { return v.x == x && v.y == y && v.z == z; }

::testing::AssertionResult closed_and_simple(const std::vector<ShapePoint>& c) {
    std::set<std::pair<int, int>> seen;
    for (size_t i = 0; i < c.size(); ++i) {
        if (!seen.insert({c[i].x, c[i].y}).second)
            return ::testing::AssertionFailure() << "point (" << c[i].x << ", " << c[i].y << ") twice";
        const ShapePoint& n = c[(i + 1) % c.size()];
        if (std::abs(n.x - c[i].x) > 1 || std::abs(n.y - c[i].y) > 1)
            return ::testing::AssertionFailure() << "gap after point " << i;
    }
    return ::testing::AssertionSuccess();
}
// The model of a shape that must give one; its console lines are not looked at.
Mesh built_model(InsoleShape& shape) {
    Mesh model;
    console_of([&] { EXPECT_TRUE(build_insole_mesh(shape, model)); });
    return model;
}
// A block of foot (value 50) over the same block of outline, from (30, 40).
void block(InsoleShape& s, int x1 = 89, int y1 = 239) {
    fill_rect(s.foot_map, 30, 40, x1, y1, 50);
    fill_rect(s.inside_mask, 30, 40, x1, y1, 10);
}
}  // namespace

TEST_F(InsoleMesh, RectangleGivesTwoClosedContoursStartingThreeQuartersUp) {
    block(*shape);
    Mesh model;
    EXPECT_EQ(console_of([&] { build_insole_mesh(*shape, model); }).find("contour failure"), std::string::npos);
    for (const auto* c : {&shape->top_contour, &shape->bottom_contour}) {
        ASSERT_FALSE(c->empty());
        EXPECT_EQ((*c)[0].x, 30);
        EXPECT_EQ((*c)[0].y, 189);  // trunc((239 - 40) * 0.75 + 40)
        EXPECT_TRUE(closed_and_simple(*c));
        EXPECT_GT(c->size(), 500u);  // the whole perimeter, bar cut corners
    }
    for (const ShapePoint& p : shape->bottom_contour) EXPECT_NE(p.link, -1);
}

// A region touching the bitmap's border is traced inside it from three
// quarters up, or from the row given; a row without edge is a failure.
TEST_F(InsoleMesh, ContourTracedInsideTheBorderFromItsStartRow) {
    fill_rect(shape->foot_map, 0, 0, 40, 100, 20);
    const std::vector<float> map(shape->foot_map, shape->foot_map + SHAPE_PIXELS);
    std::vector<ShapePoint> c;
    EXPECT_TRUE(trace_contour(c, map.data(), 0));
    ASSERT_FALSE(c.empty());
    EXPECT_EQ(c[0].x, 1);
    EXPECT_EQ(c[0].y, 75);  // rows 1..100 hold edge pixels
    for (const ShapePoint& p : c) EXPECT_TRUE(p.x >= 1 && p.y >= 1) << p.x << "," << p.y;
    EXPECT_TRUE(closed_and_simple(c));
    std::memset(shape->foot_map, 0, SHAPE_PIXELS);
    fill_rect(shape->foot_map, 20, 20, 60, 200, 20);
    const std::vector<float> inner(shape->foot_map, shape->foot_map + SHAPE_PIXELS);
    c.clear();
    EXPECT_TRUE(trace_contour(c, inner.data(), 50));
    EXPECT_EQ(c[0].x, 20);
    EXPECT_EQ(c[0].y, 50);
    std::vector<ShapePoint> none;
    EXPECT_EQ(console_of([&] { EXPECT_FALSE(trace_contour(none, inner.data(), 300)); }), "contour failure~~~\n");  // a row without edge
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].x, 0);
    EXPECT_EQ(none[0].y, 0);
}

// Nothing of the foot to print, with or without an outline: no model, and
// the caller's model is left as it was.
TEST_F(InsoleMesh, NoFootGivesNoModel) {
    for (bool outline : {false, true}) {
        if (outline) fill_rect(shape->inside_mask, 30, 40, 89, 239, 10);
        Mesh model(3);
        const std::string out = console_of([&] { EXPECT_FALSE(build_insole_mesh(*shape, model)); });
        EXPECT_TRUE(outline || out == "contour failure~~~\ncontour failure~~~\n") << out;
        EXPECT_EQ(model.size(), 3u) << outline;
        EXPECT_TRUE(shape->top_contour.empty());
    }
}

namespace {
// The largest horizontal reach of any wall triangle (from the bottom at 0
// up to the top).
float widest_wall(const Mesh& model) {
    float widest = 0;
    for (const MeshTriangle& t : model) {
        const float lo = std::min({t.a.z, t.b.z, t.c.z}), hi = std::max({t.a.z, t.b.z, t.c.z});
        if (!(lo == 0 && hi > 0)) continue;
        for (const auto& e : {std::make_pair(t.a, t.b), std::make_pair(t.b, t.c), std::make_pair(t.c, t.a)})
            widest = std::max(widest, std::hypot(e.first.x - e.second.x, e.first.y - e.second.y));
    }
    return widest;
}
}  // namespace

// The insole split in two (a strand cut by the spur pass) under a whole
// foot, where the tracer's start row lies and below it: the foot's top runs
// on whole over the gap, whose underside rises from each part of the
// insole, so nothing of the gap stands on the bed; the wall stays upright at
// the rim and nothing runs to the bitmap's corner.
TEST_F(InsoleMesh, FootOverASplitInsoleBridgesTheGap) {
    struct Case {
        int gap_from, gap_to;
        const char* console;
    } cases[] = {{201, 239, "contour failure~~~\n"},  // start row 235 in the gap
                 {201, 214, ""}};
    for (const Case& k : cases) {
        std::memset(shape->inside_mask, 0, SHAPE_PIXELS);
        fill_rect(shape->foot_map, 30, 40, 89, 300, 50);
        fill_rect(shape->inside_mask, 30, 40, 89, k.gap_from - 1, 10);
        fill_rect(shape->inside_mask, 30, k.gap_to + 1, 89, 300, 10);
        Mesh model;
        EXPECT_EQ(console_of([&] { EXPECT_TRUE(build_insole_mesh(*shape, model)); }), k.console);
        int top = 0;
        EXPECT_LE(widest_wall(model), 1.5f) << k.gap_to;
        for (const MeshTriangle& t : model)
            for (const Vec3* v : {&t.a, &t.b, &t.c}) {
                ASSERT_TRUE(v->x >= 30 && v->x <= 89 && v->y >= 40 && v->y <= 300 && v->z >= 0 && v->z <= 10)
                    << v->x << " " << v->y << " " << v->z;
                ASSERT_FALSE(v->y >= k.gap_from && v->y <= k.gap_to && v->z == 0) << v->x << " " << v->y;
            }
        for (const MeshTriangle& t : model) top += t.a.z == 10 && t.b.z == 10 && t.c.z == 10;
        EXPECT_GE(top, 2 * 59 * 260) << k.gap_to;  // the whole top, over the gap too
    }
}

// A speck of foot outside the insole, on the row the tracer starts from:
// the wall goes round the insole, not from the speck across it. A deep slot
// in the insole under a whole foot: the wall's bottom index, moving only
// forward, would stop at the slot's mouth and fan every later top point to
// it; the model keeps its wall at the rim instead.
TEST_F(InsoleMesh, FootSpeckOutsideTheInsoleAndSlotInItKeepTheWallAtTheRim) {
    fill_rect(shape->foot_map, 40, 40, 89, 239, 50);
    fill_rect(shape->foot_map, 30, 187, 33, 192, 50);  // start row trunc(199 * 0.75 + 40) = 189
    fill_rect(shape->inside_mask, 40, 40, 89, 239, 10);
    Mesh model = built_model(*shape);
    EXPECT_LE(widest_wall(model), 1.5f);
    for (const MeshTriangle& t : model) EXPECT_TRUE(t.a.x >= 40 && t.b.x >= 40 && t.c.x >= 40);
    block(*shape, 89, 300);
    fill_rect(shape->inside_mask, 58, 200, 60, 300, 0);
    EXPECT_LE(widest_wall(built_model(*shape)), 1.5f);
}

// A hole in the foot inside the insole would leave the design's top open
// (every layer above it would show the bottom through it): the top there is
// the base plate, 2 mm, and the wall stays upright round the block.
TEST_F(InsoleMesh, HoleInTheFootIsTheBasePlate) {
    block(*shape);
    fill_rect(shape->foot_map, 50, 100, 59, 109, 0);
    Mesh model = built_model(*shape);
    int plate = 0, top = 0;
    for (const MeshTriangle& t : model) {
        plate += t.a.z == 2 && t.b.z == 2 && t.c.z == 2;
        top += t.a.z > 0 && t.b.z > 0 && t.c.z > 0;
    }
    EXPECT_EQ(plate, 2 * 9 * 9);           // cells whose four corners lie in the hole
    EXPECT_GE(top, 2 * 59 * 199);          // the top is whole: no cell left out
    EXPECT_LE(widest_wall(model), 1.5f);
}

// Faint foot (values 1 to 9) inside the outline stands on the base plate, on
// the design's model and the region model alike: printed whole, the plate
// keeps no hole under it.
TEST_F(InsoleMesh, FaintFootInsideTheOutlineStandsOnThePlate) {
    for (bool hole : {false, true}) {
        std::memset(shape->foot_map, 0, SHAPE_PIXELS);
        block(*shape);
        fill_rect(shape->foot_map, 45, 80, 75, 110, 5);
        if (hole) shape->foot_map[200 * 150 + 60] = 0;
        Mesh model = built_model(*shape);
        float lowest_top = 1e9f;
        for (const MeshTriangle& t : model)
            if (t.a.z > 0 && t.b.z > 0 && t.c.z > 0) lowest_top = std::min({lowest_top, t.a.z, t.b.z, t.c.z});
        EXPECT_EQ(lowest_top, 2.0f) << hole;
    }
}

// An outline reaching beyond a sound foot in a wedge: the gap between the
// contours is the wedge's depth at its tip, farther from the foot than any
// point of the foot from the outline, and the design's wall slopes from the
// foot's top down to the tip.
TEST_F(InsoleMesh, WedgeOfOutlineBeyondTheFootKeepsTheDesignsSlopedWall) {
    block(*shape);
    for (int y = 80; y <= 160; ++y)  // a wedge 12 px out at its tip, row 120
        fill_rect(shape->inside_mask, 30 - (12 - std::abs(y - 120) * 12 / 40), y, 29, y, 10);
    Mesh model = built_model(*shape);
    bool sloped = false;
    for (const MeshTriangle& t : model) {
        bool tip = false, top = false;
        for (const Vec3* v : {&t.a, &t.b, &t.c}) {
            tip = tip || (v->x <= 19 && v->z == 0);
            top = top || v->z == 10;
        }
        sloped = sloped || (tip && top);
    }
    EXPECT_TRUE(sloped);
}

// A foot with a cut corner over an outline set in from its sides by a few
// pixels: the design's greedy wall fans 7 pixels where the contours lie at
// most 5 apart. The model built has no wall triangle wider than the gap
// between its contours and a pixel (steps counted with a diagonal one as one).
TEST_F(InsoleMesh, NoWallWiderThanTheGapBetweenTheContours) {
    fill_rect(shape->foot_map, 30, 40, 89, 239, 50);
    for (int y = 230; y <= 239; ++y) fill_rect(shape->foot_map, 30, y, 30 + 9 - (239 - y) - 1, y, 0);
    fill_rect(shape->inside_mask, 32, 45, 85, 239, 10);
    Mesh model = built_model(*shape);
    auto steps = [](float ax, float ay, float bx, float by) { return std::max(std::fabs(ax - bx), std::fabs(ay - by)); };
    float gap = 0;
    for (int side = 0; side < 2; ++side) {
        const auto& from = side ? shape->top_contour : shape->bottom_contour;
        const auto& to = side ? shape->bottom_contour : shape->top_contour;
        for (const ShapePoint& p : from) {
            float best = 1e9f;
            for (const ShapePoint& q : to) best = std::min(best, steps(p.x, p.y, q.x, q.y));
            gap = std::max(gap, best);
        }
    }
    for (const MeshTriangle& t : model) {
        const float lo = std::min({t.a.z, t.b.z, t.c.z}), hi = std::max({t.a.z, t.b.z, t.c.z});
        ASSERT_TRUE(!(lo == 0 && hi > 0) || std::max({steps(t.a.x, t.a.y, t.b.x, t.b.y), steps(t.b.x, t.b.y, t.c.x, t.c.y),
                                                      steps(t.c.x, t.c.y, t.a.x, t.a.y)}) <= gap + 1)
            << t.a.x << " " << t.a.y;
    }
}

// A piece of foot beyond the outline that touches the foot only at a corner
// is still part of it: the top runs on over it.
TEST_F(InsoleMesh, FootTouchingAtACornerBeyondTheOutlineStaysInTheTop) {
    block(*shape);
    shape->foot_map[100 * 150 + 60] = 0;  // a hole: the design's top would be open
    fill_rect(shape->foot_map, 90, 240, 100, 250, 50);
    Mesh model = built_model(*shape);
    int over = 0;
    for (const MeshTriangle& t : model) over += t.a.x >= 95 && t.a.y >= 245 && t.a.z == 10 && t.b.z == 10 && t.c.z == 10;
    EXPECT_GE(over, 2 * 5 * 5);
}

// Each top step fans to the bottom point nearest it; a first probe moves
// along a diagonal bottom step; an empty list adds nothing.
TEST_F(InsoleMesh, SideWallLinksEachTopStepToTheNearestBottomPoint) {
    shape->top_contour = {{10, 10, -1}, {20, 10, -1}, {20, 20, -1}, {10, 20, -1}};
    shape->bottom_contour = {{11, 11, -1}, {19, 11, -1}, {19, 19, -1}, {11, 19, -1}};
    for (const auto& p : shape->top_contour) shape->foot_map[p.y * 150 + p.x] = 50;
    for (const auto& p : shape->bottom_contour) shape->inside_mask[p.y * 150 + p.x] = 10;
    const auto& T = shape->top_contour;
    const auto& B = shape->bottom_contour;
    auto v = [](const ShapePoint& p, float z) { return Vec3{(float)p.x, (float)p.y, z}; };
    Mesh model, want;
    EXPECT_EQ(console_of([&] { stitch_side_wall(*shape, model); }), " start_b 0 \n");
    for (int i = 0; i < 4; ++i) want.push_back({v(T[i], 10), v(T[(i + 1) % 4], 10), v(B[i], 0)});
    for (int i = 0; i < 4; ++i) want.push_back({v(B[i], 0), v(T[(i + 1) % 4], 10), v(B[(i + 1) % 4], 0)});
    ASSERT_EQ(model.size(), want.size());
    EXPECT_EQ(std::memcmp(model.data(), want.data(), sizeof(MeshTriangle) * want.size()), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(B[i].link, (i + 1) % 4);

    std::memset(shape->foot_map, 0, SHAPE_PIXELS);
    std::memset(shape->inside_mask, 0, SHAPE_PIXELS);
    shape->top_contour = {{10, 10, -1}};
    shape->bottom_contour = {{10, 10, -1}, {11, 11, -1}, {30, 30, -1}};
    model.clear();
    EXPECT_EQ(console_of([&] { stitch_side_wall(*shape, model); }), " start_b 1 \n");
    ASSERT_EQ(model.size(), 4u);
    EXPECT_TRUE(same(model[0].c, 11, 11, -2));
    EXPECT_EQ(shape->bottom_contour[0].link, 0);
    EXPECT_EQ(shape->bottom_contour[2].link, 0);
    EXPECT_TRUE(same(model[1].a, 11, 11, -2));
    EXPECT_TRUE(same(model[1].c, 30, 30, -2));
    for (int empty = 0; empty < 2; ++empty) {
        model.clear();
        (empty ? shape->bottom_contour : shape->top_contour).clear();
        stitch_side_wall(*shape, model);
        EXPECT_TRUE(model.empty());
    }
}

TEST_F(InsoleMesh, PlainModelUsesHalfTheLargestValueAsBase) {
    fill_rect(shape->foot_map, 20, 20, 29, 29, 100);
    shape->foot_map[25 * 150 + 25] = 201;
    Mesh model;
    build_plain_insole_mesh(*shape, model);
    ASSERT_EQ(model.size(), 4u * 81u);
    EXPECT_TRUE(same(model[0].a, 20, 20, 20));
    EXPECT_TRUE(same(model[162].c, 20, 20, 20 - 100));  // bottom: first and third swapped
    EXPECT_TRUE(same(model[162].a, 21, 21, 20 - 100));
    EXPECT_TRUE(shape->top_contour.empty());
}
