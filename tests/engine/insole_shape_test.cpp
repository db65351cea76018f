// Tests of the insole shape object and its pixel passes.
#include <algorithm>
#include <cstring>

#include "engine/insole_shape.h"
#include "tests/engine/insole_test_support.h"

using namespace engine;
using namespace insoletest;

namespace {

// The pass as first described: clear the first qualifying pixel in scan
// order, then start the whole scan again.
void remove_spurs_by_restarts(uint8_t* b) {
    for (;;) {
        bool cleared = false;
        for (int y = 1; y <= 358 && !cleared; ++y)
            for (int x = 1; x <= 148 && !cleared; ++x) {
                if (!b[y * 150 + x]) continue;
                const int empty = !b[y * 150 + x - 1] + !b[y * 150 + x + 1] + !b[(y - 1) * 150 + x] + !b[(y + 1) * 150 + x];
                if (empty >= 3) {
                    b[y * 150 + x] = 0;
                    cleared = true;
                }
            }
        if (!cleared) return;
    }
}

}  // namespace

using ShapeObject = ShapeTest;

TEST_F(ShapeObject, InitSetsTablesFromTheBasePlateSlider) {
    store.set_value(va_bm_para_2, 0.25);
    init_insole_shape(*shape);
    EXPECT_EQ(shape->LENGTH_PCT[0], 0.5775f);
    EXPECT_EQ(shape->LENGTH_PCT[2], 0.175f);
    EXPECT_EQ(shape->LENGTH_PCT[4], 0.5225f);
    EXPECT_EQ(shape->LINE_PCT[0], 0.25f);
    EXPECT_EQ(shape->base_height, 2.0f);
    EXPECT_TRUE(shape->top_contour.empty());
}

// Every set pixel of a block, a 2 x 2 square and a one-pixel-wide closed
// ring has at least two set 4-neighbours: they stay. A one-pixel spur off the
// block and a speck are peeled completely.
TEST(RemoveSpurs, CleanShapesStayLinesAndSpecksGo) {
    Bitmap b = blank();
    fill_rect(b, 20, 30, 60, 200);
    fill_rect(b, 80, 40, 81, 41);
    for (int i = 0; i <= 20; ++i) {
        at(b, 100 + i, 100) = at(b, 100 + i, 120) = at(b, 100, 100 + i) = at(b, 120, 100 + i) = 7;
    }
    const Bitmap clean = b;
    for (int x = 61; x < 80; ++x) at(b, x, 120) = 50;
    at(b, 120, 300) = 9;
    remove_spurs(b.data());
    EXPECT_EQ(b, clean);
}

TEST(RemoveSpurs, SameResultAsRestartingScanOnRandomBitmaps) {
    // Random pixels in a corner window (border included) keep the
    // restarting reference quick.
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const Bitmap noise = random_bitmap(seed, 35 + static_cast<int>(seed));
        Bitmap a = blank();
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 40; ++x) at(a, x, y) = at(noise.data(), x, y);
        Bitmap b = a;
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

TEST(Thinning, StaircaseLosesItsCornersOnly) {
    // Steps three pixels long: every corner pixel has exactly two set
    // neighbours lying diagonally to each other; the others keep theirs.
    Bitmap b = blank();
    std::vector<std::pair<int, int>> corners;
    int x = 10, y = 10;
    at(b, x, y) = 255;
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 3; ++i) at(b, ++x, y) = 255;
        corners.push_back({x, y});
        for (int i = 0; i < 3; ++i) at(b, x, ++y) = 255;
        corners.push_back({x, y});
    }
    corners.pop_back();  // the last pixel is an end, not a corner
    Bitmap out = b;
    thin_boundary(b.data(), out.data());
    Bitmap expected = b;
    for (auto [cx, cy] : corners) at(expected, cx, cy) = 0;
    EXPECT_EQ(out, expected);
}

TEST(Thinning, StraightAndDiagonalLinesStay) {
    Bitmap b = blank();
    for (int i = 20; i < 40; ++i) at(b, i, 50) = at(b, i, i + 60) = 255;
    Bitmap out = b;
    thin_boundary(b.data(), out.data());
    EXPECT_EQ(out, b);
}

namespace {
void measure_rect(InsoleShape& s, int x0, int y0, int x1, int y1) {
    s.x_min = x0, s.x_max = x1, s.y_min = y0, s.y_max = y1;
    s.foot_length = static_cast<float>(y1 - y0 + 1);
    s.insole_width = static_cast<float>(x1 - x0 + 1);
}
}  // namespace

TEST_F(ShapeObject, WithoutErosionTheRingIsTheThinnedBoundary) {
    store.set_value(va_bm_para_1, 0);
    fill_rect(shape->foot_map, 20, 30, 80, 250);
    measure_rect(*shape, 20, 30, 80, 250);
    std::memset(shape->outline_map, 255, SHAPE_PIXELS);
    build_eroded_ring(*shape);
    // The rectangle's boundary; its four corners have two set neighbours
    // diagonal to each other, so thinning takes them.
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
        if (shape->ring_map[i]) {
            top = std::max(top, i / 150);
            bottom = std::min(bottom, i / 150);
        }
    EXPECT_EQ(top, 240);
    EXPECT_GT(bottom, 30);   // the heel end is eroded a little,
    EXPECT_LT(bottom, 40);   // about 0.3 of the steps
}

TEST_F(ShapeObject, RingOfAFootTouchingTheBorderStaysInside) {
    store.set_value(va_bm_para_1, 3);
    fill_rect(shape->foot_map, 0, 0, 149, 359);
    measure_rect(*shape, 1, 1, 148, 358);
    build_eroded_ring(*shape);
    for (int y = 0; y < 360; ++y)
        for (int x = 0; x < 150; ++x)
            if (x == 0 || y == 0 || x == 149 || y == 359) {
                ASSERT_EQ(shape->ring_map[y * 150 + x], 255);
            }
}
