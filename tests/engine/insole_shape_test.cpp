// The insole shape's pixel passes, the foot ranges, the left/right decision
// and the key points.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/insole_shape.h"
#include "tests/engine/insole_test_support.h"

using namespace engine;
using namespace insoletest;

namespace {

using ShapeObject = ShapeTest;

// The pass as first described: clear the first qualifying pixel in scan
// order, then start the whole scan again.
void remove_spurs_by_restarts(uint8_t* b) {
    for (bool cleared = true; cleared;) {
        cleared = false;
        for (int y = 1; y <= 358 && !cleared; ++y)
            for (int x = 1; x <= 148 && !cleared; ++x)
                if (b[y * 150 + x] && !b[y * 150 + x - 1] + !b[y * 150 + x + 1] + !b[(y - 1) * 150 + x] + !b[(y + 1) * 150 + x] >= 3)
                    b[y * 150 + x] = 0, cleared = true;
    }
}

void measure_rect(InsoleShape& s, int x0, int y0, int x1, int y1) {
    s.x_min = x0, s.x_max = x1, s.y_min = y0, s.y_max = y1;
    s.foot_length = static_cast<float>(y1 - y0 + 1);
    s.insole_width = static_cast<float>(x1 - x0 + 1);
}

}  // namespace

// ---- pixel passes --------------------------------------------------------------

// Every set pixel of a block, a 2 x 2 square and a one-pixel-wide closed
// ring has at least two set 4-neighbours: they stay. A one-pixel spur off the
// block and a speck are peeled completely; random pixels go as the
// restarting scan takes them.
TEST(RemoveSpurs, CleanShapesStaySpursGoAsTheRestartingScanTakesThem) {
    Bitmap b = blank();
    fill_rect(b, 20, 30, 60, 200);
    fill_rect(b, 80, 40, 81, 41);
    for (int i = 0; i <= 20; ++i) at(b, 100 + i, 100) = at(b, 100 + i, 120) = at(b, 100, 100 + i) = at(b, 120, 100 + i) = 7;
    const Bitmap clean = b;
    for (int x = 61; x < 80; ++x) at(b, x, 120) = 50;
    at(b, 120, 300) = 9;
    remove_spurs(b.data());
    EXPECT_EQ(b, clean);
    // Random pixels in a corner window (border included) keep the reference quick.
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const Bitmap noise = random_bitmap(seed, 35 + static_cast<int>(seed));
        Bitmap a = blank();
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 40; ++x) at(a, x, y) = at(noise.data(), x, y);
        b = a;
        remove_spurs(a.data());
        remove_spurs_by_restarts(b.data());
        ASSERT_EQ(a, b) << "seed " << seed;
    }
}

TEST(PixelPasses, NeverChangeTheBorder) {
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        const Bitmap original = random_bitmap(seed);
        Bitmap b = original, paired = original;
        remove_spurs(b.data());
        EXPECT_TRUE(same_border(b.data(), original.data()));
        b = original;
        fill_notches(b.data(), paired.data());
        clear_spurs_once(b.data(), paired.data());
        clear_interior(original.data(), b.data());
        thin_boundary(original.data(), b.data());
        EXPECT_TRUE(same_border(b.data(), original.data()));
        EXPECT_TRUE(same_border(paired.data(), original.data()));
    }
}

TEST_F(ShapeObject, FaintPixelsClearedOnlyInTheToeHalfOfAFoot) {
    Bitmap b = blank();
    fill_rect(b, 10, 10, 100, 210, 5);  // faint everywhere
    shape->y_min = 10;
    shape->y_max = 210;
    clear_faint_pixels(*shape, b.data());
    EXPECT_EQ(at(b, 50, 109), 5);   // below the middle row 110
    EXPECT_EQ(at(b, 50, 110), 0);
    EXPECT_EQ(at(b, 50, 209), 0);
    EXPECT_EQ(at(b, 50, 210), 5);   // y_max itself stays
    // An empty foot's ranges touch nothing.
    b = random_bitmap(3);
    const Bitmap before = b;
    shape->y_min = 360;
    shape->y_max = 0;
    clear_faint_pixels(*shape, b.data());
    EXPECT_EQ(b, before);
}

// A staircase of three-pixel steps loses its corners (two set neighbours
// diagonal to each other) and nothing else; straight and diagonal lines stay.
TEST(Thinning, StaircaseLosesItsCornersOnlyLinesStay) {
    Bitmap b = blank();
    for (int i = 20; i < 40; ++i) at(b, i, 50) = at(b, i, i + 60) = 255;
    std::vector<std::pair<int, int>> corners;
    int x = 10, y = 10;
    at(b, x, y) = 255;
    for (int k = 0; k < 8; ++k) {
        for (int i = 0; i < 3; ++i) at(b, x += k % 2 == 0, y += k % 2 == 1) = 255;
        if (k < 7) corners.push_back({x, y});  // the last pixel is an end, not a corner
    }
    Bitmap expected = b, out = b;
    for (auto [cx, cy] : corners) at(expected, cx, cy) = 0;
    thin_boundary(b.data(), out.data());
    EXPECT_EQ(out, expected);
}

TEST_F(ShapeObject, WithoutErosionTheRingIsTheThinnedBoundary) {
    store.set_value(va_bm_para_1, 0);
    fill_rect(shape->foot_map, 20, 30, 80, 250);
    measure_rect(*shape, 20, 30, 80, 250);
    std::memset(shape->outline_map, 255, SHAPE_PIXELS);
    build_eroded_ring(*shape);
    // The rectangle's boundary; thinning takes its four corners.
    Bitmap expected = blank();
    for (int x = 21; x <= 79; ++x) at(expected, x, 30) = at(expected, x, 250) = 255;
    for (int y = 31; y <= 249; ++y) at(expected, 20, y) = at(expected, 80, y) = 255;
    EXPECT_EQ(Bitmap(shape->ring_map, shape->ring_map + SHAPE_PIXELS), expected);
    EXPECT_EQ(count_set(shape->outline_map), 0);
}

TEST_F(ShapeObject, ErosionIsFullAtTheToeEndAndSmallerAtTheHeel) {
    store.set_value(va_bm_para_1, 10);
    fill_rect(shape->foot_map, 20, 30, 80, 250);
    measure_rect(*shape, 20, 30, 80, 250);
    build_eroded_ring(*shape);
    auto first_in_row = [&](int y) {
        for (int x = 0; x < 150; ++x)
            if (shape->ring_map[y * 150 + x]) return x;
        return -1;
    };
    EXPECT_EQ(first_in_row(150), 30);  // ten steps above the heel limit (row 68)
    EXPECT_LT(first_in_row(40), 30);   // fewer towards the heel
    EXPECT_GT(first_in_row(40), 20);
    int top = 0, bottom = 360;
    for (int i = 0; i < SHAPE_PIXELS; ++i)
        if (shape->ring_map[i]) top = std::max(top, i / 150), bottom = std::min(bottom, i / 150);
    EXPECT_EQ(top, 240);
    EXPECT_GT(bottom, 30);  // the heel end is eroded a little,
    EXPECT_LT(bottom, 40);  // about 0.3 of the steps
    // A foot over the whole bitmap keeps its ring on the border.
    store.set_value(va_bm_para_1, 3);
    fill_rect(shape->foot_map, 0, 0, 149, 359);
    measure_rect(*shape, 1, 1, 148, 358);
    build_eroded_ring(*shape);
    Bitmap full(SHAPE_PIXELS, 255);
    EXPECT_TRUE(same_border(shape->ring_map, full.data()));
}

// ---- ranges and side -------------------------------------------------------------

// Ranges over columns 1..148 and rows 1..358, the peak (value / 5) and the
// console lines; an empty bitmap gives a negative length and width.
TEST_F(ShapeObject, RangesPeakAndConsoleLines) {
    Bitmap rect = blank();
    fill_rect(rect, 20, 30, 119, 250, 100);
    at(rect, 50, 100) = 254;
    at(rect, 0, 5) = at(rect, 149, 5) = at(rect, 60, 359) = 255;  // border pixels are not measured
    const struct {
        Bitmap b;
        int x0, x1, y0, y1, peak, decresing;
        float length, width;
    } cases[] = {{blank(), 360, 0, 360, 0, 0, -29, -359, -359}, {rect, 20, 119, 30, 250, 50, 8, 221, 100}};
    for (const auto& c : cases) {
        const std::string out = console_of([&] { measure_foot_ranges(*shape, c.b.data()); });
        EXPECT_EQ(std::vector<int>({shape->x_min, shape->x_max, shape->y_min, shape->y_max, shape->peak_level, shape->decresing_time}),
                  std::vector<int>({c.x0, c.x1, c.y0, c.y1, c.peak, c.decresing}));
        EXPECT_EQ(shape->foot_length, c.length);
        EXPECT_EQ(shape->insole_width, c.width);
        char want[256];
        std::snprintf(want, sizeof want, "x range %d ~ %d \ny range %d ~ %d \ninsole_width * LINE_PCT[ 1 ] %f\ndecresing_time %d \n",
                      c.x0, c.x1, c.y0, c.y1, c.width * 0.0822f, c.decresing);
        EXPECT_EQ(out, want);
    }
}

// Heavier on the right in the toe third (rows 170..239 of a foot up to row
// 239) is a left foot, whatever lies below it; a toe third of one column,
// or no foot at all, is a right one.
TEST_F(ShapeObject, SideIsDecidedByTheToeThirdOnly) {
    auto heavy_on = [](bool right) {
        Bitmap b = blank();
        fill_rect(b, 40, 30, 100, 239);
        fill_rect(b, right ? 40 : 80, 175, right ? 60 : 100, 235, 0);
        return b;
    };
    Bitmap b = heavy_on(true);
    EXPECT_EQ(decide_side(*shape, b.data()), 1);
    EXPECT_EQ(shape->is_left, 1);
    EXPECT_EQ(decide_side(*shape, heavy_on(false).data()), 0);
    EXPECT_EQ(shape->is_left, 0);
    fill_rect(b, 20, 30, 39, 160);  // heavy on the left below the toe third
    EXPECT_EQ(decide_side(*shape, b.data()), 1);
    b = blank();
    fill_rect(b, 40, 30, 100, 150);
    fill_rect(b, 90, 151, 90, 239);
    EXPECT_EQ(decide_side(*shape, b.data()), 0);
    shape->is_left = 1;
    EXPECT_EQ(decide_side(*shape, blank().data()), 0);
}

// ---- key points --------------------------------------------------------------------

// A rectangle foot 80 wide and 280 long from row 20: rows by the length
// (0.5775 of it for p[0]), pulls g = 0.0822 * 80 * 0.5 = 3.288 and
// w = LINE_PCT[0] * 80 = 11.2 (none with the second base-plate parameter
// 0), mirrored for a left foot; LINE_PCT[0] is the base-plate slider's.
TEST_F(ShapeObject, KeyPointsOfARightAndALeftFoot) {
    store.set_value(va_bm_para_1, 0);
    store.set_value(va_bm_para_2, 0.14);
    init_insole_shape(*shape);
    auto place = [&](bool left) {
        Bitmap b = blank();
        fill_rect(b, 30, 20, 109, 299);
        std::memcpy(shape->foot_map, b.data(), SHAPE_PIXELS);
        console_of([&] { measure_foot_ranges(*shape, b.data()); });
        shape->is_left = left ? 1 : 0;
        build_eroded_ring(*shape);
        return console_of([&] { place_shape_points(*shape); });
    };
    auto xs = [&] {
        return std::vector<int>{shape->p0_1.x, shape->p0_2.x, shape->p2_1.x, shape->p2_2.x, shape->p[0].x,
                                shape->p[1].x, shape->p[2].x, shape->p[3].x, shape->p[4].x};
    };
    EXPECT_EQ(place(false), "p0_1.y 193 p0_2.y 174\np2_1.y 81 p2_2.y 62 p[2] 69\n");
    // 181.7, 115.9, 104, 166.3
    EXPECT_EQ(std::vector<int>({shape->p[0].y, shape->p[1].y, shape->p[3].y, shape->p[4].y}), std::vector<int>({181, 115, 104, 166}));
    EXPECT_EQ(xs(), (std::vector<int>{30, 33, 33, 30, 30, 41, 30, 109, 109}));
    place(true);
    EXPECT_EQ(xs(), (std::vector<int>{109, 105, 105, 109, 109, 97, 109, 30, 30}));  // 105.7, 97.8
    shape->LINE_PCT[0] = 0;
    place(false);
    EXPECT_EQ(shape->p[1].x, 30);
}

TEST_F(ShapeObject, FarSideScansSeeColumn149NearSideScansDoNot) {
    fill_rect(shape->foot_map, 100, 20, 149, 299);
    fill_rect(shape->ring_map, 100, 20, 149, 299);
    shape->y_min = 20;
    shape->foot_length = 280;
    shape->insole_width = 0;  // no pull
    shape->is_left = 0;
    console_of([&] { place_shape_points(*shape); });
    EXPECT_EQ(shape->p[4].x, 149);
    EXPECT_EQ(shape->p[3].x, 149);
    EXPECT_EQ(shape->p[0].x, 100);
    std::memset(shape->foot_map, 0, SHAPE_PIXELS);
    fill_rect(shape->foot_map, 149, 0, 149, 359, 10);
    shape->p[0].x = 55;
    console_of([&] { place_shape_points(*shape); });
    EXPECT_EQ(shape->p[0].x, 55);  // the near-side scan stops at column 148
    EXPECT_EQ(shape->p[4].x, 149);
}

TEST_F(ShapeObject, ScansMeetingNothingKeepTheirXAndStillTakeTheirPull) {
    shape->y_min = 20;
    shape->foot_length = 280;
    shape->insole_width = 80;
    shape->LINE_PCT[0] = 0.14f;
    shape->is_left = 0;
    shape->p[0].x = 77;
    shape->p[1].x = 10;
    shape->p0_2.x = -5;
    console_of([&] { place_shape_points(*shape); });
    EXPECT_EQ(shape->p[0].x, 77);
    EXPECT_EQ(shape->p[1].x, 21);  // 10 + 11.2
    EXPECT_EQ(shape->p0_2.x, -1);  // -5 + 3.288 = -1.7, truncated toward zero
}

TEST_F(ShapeObject, KeyPointsOnRowsWithoutFootMoveToTheNearestFootRow) {
    // Heel and forefoot apart (a high arch): rows 101..159 hold nothing.
    store.set_value(va_bm_para_1, 0);
    shape->LINE_PCT[0] = 0.14f;
    Bitmap b = blank();
    fill_rect(b, 30, 20, 109, 100);
    fill_rect(b, 30, 160, 109, 299);
    std::memcpy(shape->foot_map, b.data(), SHAPE_PIXELS);
    console_of([&] {
        measure_foot_ranges(*shape, b.data());
        shape->is_left = 0;
        build_eroded_ring(*shape);
        shape->p[3].x = shape->p[1].x = -500;  // stale values from an earlier foot
        place_shape_points(*shape);
    });
    EXPECT_EQ(shape->p[3].y, 100);  // row 104 is empty; row 100 is 4 rows away
    EXPECT_EQ(shape->p[3].x, 108);  // far side of the heel's top edge (its corner thinned away)
    EXPECT_EQ(shape->p[1].y, 100);  // row 115: row 100 is nearer than row 160
    EXPECT_EQ(shape->p[1].x, 41);   // 30 + 11.2
    EXPECT_EQ(shape->p[4].y, 166);  // its own row holds the forefoot
    EXPECT_EQ(shape->p[4].x, 109);
}
