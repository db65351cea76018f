// Fitmire's pixel steps on hand-made planes: box, corner trim, arch factor,
// width rounding, landmarks, wedges, pad (height scaling and the slope limit
// are pinned by the end-to-end pixels).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "scaler/planes.h"
#include "tests/scaler/scaler_fixtures.h"

using namespace fitmire;

namespace {

std::unique_ptr<scalertest::PlaneBox> blank() { return std::make_unique<scalertest::PlaneBox>(); }
struct FieldBox {
    FloatPlane f = {};
};

void fill_rect(Plane& p, int r0, int r1, int c0, int c1, unsigned char v) {
    for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c) p[r][c] = v;
}

// ---- box -----------------------------------------------------------------------

TEST(MeasureBox, ExtremesOfInsolePixelsOnlyAndAnInvertedBoxWithoutThem) {
    auto b = blank();
    b->p[10][5] = 9;       // too low to count
    b->p[200][151] = 200;  // padding column never counts
    Box box = measure_box(b->p);
    EXPECT_TRUE(box.y_min == 360 && box.y_max == 0 && box.x_min == 150 && box.x_max == 0 && box.height < 0);
    EXPECT_TRUE(box_empty(box));
    fill_rect(b->p, 40, 300, 20, 110, 10);
    box = measure_box(b->p);
    EXPECT_TRUE(box.y_min == 40 && box.y_max == 300 && box.x_min == 20 && box.x_max == 110);
    EXPECT_TRUE(box.height == 261 && box.width == 91 && !box_empty(box));
}

// ---- corner trim ----------------------------------------------------------------

TEST(TrimCorners, CutsTheFourCornersAndEarlierClearingCountsForLaterPixels) {
    auto b = blank();
    fill_rect(b->p, 10, 20, 10, 20, 30);
    fill_rect(b->p, 50, 51, 50, 51, 30);  // a lone 2 x 2 square loses one pixel only
    trim_corners(b->p);
    EXPECT_EQ(b->p[10][10] + b->p[20][10] + b->p[10][20] + b->p[20][20], 0);
    int left = 0;
    for (int r = 10; r <= 20; ++r)
        for (int c = 10; c <= 20; ++c) left += b->p[r][c] > 0;
    EXPECT_EQ(left, 121 - 4);
    EXPECT_EQ(b->p[50][50], 0);
    EXPECT_EQ(b->p[51][50] + b->p[50][51] + b->p[51][51], 90);
}

// ---- arch factor ------------------------------------------------------------------

TEST(ArchFactor, FactorAcrossTheIndexRangeScalesHeightsAndKeepsTheLowestAtTen) {
    const struct {
        float index, factor;
        int top;  // 30 x factor, shifted so 10 stays 10
    } cases[] = {{0.05f, 1.15f, 33}, {0.1f, 1.15f, 33}, {0.27f, 1, 30}, {0.32f, 0.85f, 27}, {0.5f, 0.85f, 27},
                 {std::nanf(""), 1.15f, 33}};
    for (const auto& k : cases) {
        EXPECT_NEAR(arch_factor(k.index), k.factor, 1e-6) << k.index;
        auto b = blank();
        auto fb = std::make_unique<FieldBox>();
        fill_rect(b->p, 100, 110, 20, 40, 10);
        b->p[105][30] = 30;
        apply_arch_factor(b->p, fb->f, k.index, 0, 0);
        EXPECT_EQ(b->p[100][20], 10) << k.index;
        EXPECT_EQ(b->p[105][30], k.top) << k.index;
        EXPECT_EQ(b->p[0][0], 0);
    }
}

// ---- width follows length ------------------------------------------------------------

TEST(WidthForLength, OneMillimetrePerFiveRounded) {
    // Length change to width change: +7 -> +1, +8 -> +2, -8 -> -2, -7 -> -1; a huge length is bounded.
    const struct {
        double length;
        int width;
    } cases[] = {{257, 91}, {258, 92}, {242, 88}, {243, 89}, {250, 90}, {1e300, 90 + 200000}};
    for (const auto& c : cases) EXPECT_EQ(width_for_length(c.length, 250, 90), c.width) << c.length;
}

// ---- landmarks --------------------------------------------------------------------------

TEST(Landmarks, RowWithoutInsoleKeepsThePreviousColumn) {
    auto b = blank();
    Landmarks marks;
    for (int i = 0; i < 5; ++i) marks.p[i].column = 40 + i;
    find_landmarks(b->p, 0, marks);  // empty plane: every scan finds nothing
    for (int i = 0; i < 5; ++i) {
        EXPECT_GE(marks.p[i].row, 0);
        EXPECT_LT(marks.p[i].row, kRows);
    }
    for (int i : {0, 1, 2, 4}) EXPECT_EQ(marks.p[i].column, 40 + i);
    EXPECT_EQ(marks.p[3].column, (42 + 44) / 2);
}

// ---- wedges ------------------------------------------------------------------------------

TEST(Wedge, ValueZeroOnlyRaisesLowPixelsOnP3sSide) {
    auto b = blank();
    fill_rect(b->p, 100, 200, 20, 120, 5);  // heights below the insole threshold
    fill_rect(b->p, 100, 200, 60, 120, 30);
    b->p[150][90] = 0;
    // Line L: the vertical column 50; P3 to its right.
    ASSERT_TRUE(add_wedge({100, 50}, {200, 50}, {150, 80}, b->p, 0));
    EXPECT_EQ(b->p[150][55], 10);   // right of L: 5 -> 10
    EXPECT_EQ(b->p[150][90], 0);    // outside the insole, untouched
    EXPECT_EQ(b->p[150][100], 30);  // unchanged
    EXPECT_EQ(b->p[150][30], 5);    // other side of L keeps its value
}

TEST(Wedge, ReferencePointOnTheLineChangesNothing) {
    auto b = blank(), before = blank();
    scalertest::fill_foot(b->p);
    std::memcpy(before->p, b->p, sizeof(Plane));
    EXPECT_FALSE(add_wedge({100, 40}, {200, 90}, {150, 65}, b->p, 5));
    EXPECT_FALSE(add_wedge({100, 40}, {100, 40}, {100, 40}, b->p, 5));
    EXPECT_EQ(std::memcmp(before->p, b->p, sizeof(Plane)), 0);
}

// ---- pad ----------------------------------------------------------------------------

TEST(PadSize, FromTheBoxAndTheHvAngle) {
    Box box;
    box.width = 91, box.height = 301;
    const float heights[][2] = {{15, 2}, {0, 2}, {40, 3}, {90, 5}};  // hv angle, height
    for (const auto& h : heights) EXPECT_FLOAT_EQ(size_pad(box, h[0]).height, h[1]) << h[0];
    EXPECT_FLOAT_EQ(size_pad(box, 15).width, 60);
    EXPECT_FLOAT_EQ(size_pad(box, 15).length, 150.5f);
}

TEST(PadAnchor, ParallelOrDegenerateLinesGiveTheMiddlePoint) {
    auto b = blank();
    for (int i = 0; i < 100; ++i) b->p[60 + i][20 + i] = 30;  // one diagonal: both lines coincide
    float x = 0, y = 0;
    ASSERT_TRUE(find_pad_anchor(b->p, true, x, y));
    EXPECT_TRUE(x == 69.5f && y == 109.5f) << x << "," << y;
    auto one = blank();
    one->p[100][70] = 30;  // a single pixel: both lines are points
    ASSERT_TRUE(find_pad_anchor(one->p, false, x, y));
    EXPECT_TRUE(x == 70 && y == 100) << x << "," << y;
    EXPECT_FALSE(find_pad_anchor(blank()->p, true, x, y));
}

TEST(PadStamp, ScaledAsHeightOverBrightestTimesFiveTimesValueSaturatingAt255) {
    const float w = 20, l = 30;
    const int stride = 40, rows = 50;
    auto sat = blank();  // the stamp's pixel at read-back row 25, column 20 lands on row 200 - 40 + 25, column 75
    sat->p[185][75] = 250;
    unsigned char again[stride * rows] = {};
    again[25 * stride + 20] = 200;
    add_stamp(sat->p, again, stride, w, l, 2, 200, 75, 200);
    EXPECT_EQ(sat->p[185][75], 255);
    unsigned char edge[stride * rows];
    std::memset(edge, 200, sizeof edge);
    add_stamp(sat->p, edge, stride, w, l, 2, 0, 1, 1);  // empty stamp: nothing added
    EXPECT_EQ(sat->p[0][0], 0);

    // 2.6 mm over 255: H / max x 5 x v truncates the brightest byte to 12
    // steps, where H x 5 x v / max would give 13.
    unsigned char stamp[stride * rows] = {};
    stamp[25 * stride + 20] = 255;
    stamp[25 * stride + 21] = 128;
    auto b = blank();
    add_stamp(b->p, stamp, stride, w, l, 2.6f, 255, 75, 200);
    EXPECT_EQ(b->p[185][75], 12);
    EXPECT_EQ(b->p[185][76], 6);  // 2.6 / 255 x 5 x 128 = 6.53
    unsigned char two[stride * rows] = {};
    two[25 * stride + 20] = 255;
    auto c = blank();
    add_stamp(c->p, two, stride, w, l, 2, 255, 75, 200);
    EXPECT_EQ(c->p[185][75], 10);
}

}  // namespace
