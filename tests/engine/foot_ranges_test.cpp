// Tests of the foot ranges, the left/right decision and the key points.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/insole_shape.h"
#include "tests/engine/insole_test_support.h"

using namespace engine;
using namespace insoletest;

using FootRanges = ShapeTest;

namespace {
std::string ranges_text(int x0, int x1, int y0, int y1, float product, int decresing) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "x range %d ~ %d \ny range %d ~ %d \ninsole_width * LINE_PCT[ 1 ] %f\ndecresing_time %d \n",
                  x0, x1, y0, y1, product, decresing);
    return buf;
}
}  // namespace

TEST_F(FootRanges, EmptyBitmapGivesNegativeLengthAndWidth) {
    const Bitmap b = blank();
    testing::internal::CaptureStdout();
    measure_foot_ranges(*shape, b.data());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(shape->x_min, 360);
    EXPECT_EQ(shape->y_min, 360);
    EXPECT_EQ(shape->x_max, 0);
    EXPECT_EQ(shape->y_max, 0);
    EXPECT_EQ(shape->foot_length, -359.0f);
    EXPECT_EQ(shape->insole_width, -359.0f);
    EXPECT_EQ(shape->peak_level, 0);
    EXPECT_EQ(shape->decresing_time, -29);
    EXPECT_EQ(out, ranges_text(360, 0, 360, 0, -359.0f * 0.0822f, -29));
}

TEST_F(FootRanges, RectangleRangesPeakAndConsoleLines) {
    Bitmap b = blank();
    fill_rect(b, 20, 30, 119, 250, 100);
    at(b, 50, 100) = 254;
    at(b, 0, 5) = at(b, 149, 5) = at(b, 60, 359) = 255;  // border pixels are not measured
    testing::internal::CaptureStdout();
    measure_foot_ranges(*shape, b.data());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(shape->peak_level, 50);
    EXPECT_EQ(shape->foot_length, 221.0f);
    EXPECT_EQ(shape->insole_width, 100.0f);
    EXPECT_EQ(shape->decresing_time, 8);
    EXPECT_EQ(out, ranges_text(20, 119, 30, 250, 100.0f * 0.0822f, 8));
}

namespace {
// A block whose toe third has more pixels towards one side.
Bitmap foot_heavy_on(bool right_side) {
    Bitmap b = blank();
    fill_rect(b, 40, 30, 100, 239);
    // Toe third: rows 170..239 (ymax 239, length 210, t0 = 169). Hollow
    // out most of the side that should be light.
    if (right_side) fill_rect(b, 40, 175, 60, 235, 0);
    else fill_rect(b, 80, 175, 100, 235, 0);
    return b;
}
}  // namespace

// Heavier on the right in the toe third is a left foot, whatever lies
// below it; a toe third of one column, or no foot at all, is a right one.
TEST_F(FootRanges, SideIsDecidedByTheToeThirdOnly) {
    Bitmap b = foot_heavy_on(true);
    EXPECT_EQ(decide_side(*shape, b.data()), 1);
    EXPECT_EQ(shape->is_left, 1);
    EXPECT_EQ(decide_side(*shape, foot_heavy_on(false).data()), 0);
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

namespace {
void prepare_rect_foot(InsoleShape& s, bool left) {
    Bitmap b = blank();
    fill_rect(b, 30, 20, 109, 299);
    std::memcpy(s.foot_map, b.data(), SHAPE_PIXELS);
    testing::internal::CaptureStdout();
    measure_foot_ranges(s, b.data());
    s.is_left = left ? 1 : 0;
    build_eroded_ring(s);
    testing::internal::GetCapturedStdout();
}
}  // namespace

// A rectangle foot 80 wide and 280 long from row 20: rows by the length,
// pulls g = 0.0822 * 80 * 0.5 = 3.288 and w = 0.14 * 80 = 11.2 (none with
// the second base-plate parameter 0), mirrored for a left foot.
TEST_F(FootRanges, KeyPointsOfARightAndALeftFoot) {
    store.set_value(va_bm_para_1, 0);
    auto place = [&](bool left, float pct) {
        shape->LINE_PCT[0] = pct;
        prepare_rect_foot(*shape, left);
        testing::internal::CaptureStdout();
        place_shape_points(*shape);
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(place(false, 0.14f), "p0_1.y 193 p0_2.y 174\np2_1.y 81 p2_2.y 62 p[2] 69\n");
    EXPECT_EQ(shape->p[0].y, 181);  // 280 * 0.5775 + 20 = 181.7
    EXPECT_EQ(shape->p[1].y, 115);  // 115.9
    EXPECT_EQ(shape->p[2].y, 69);
    EXPECT_EQ(shape->p[3].y, 104);
    EXPECT_EQ(shape->p[4].y, 166);  // 166.3
    EXPECT_EQ(shape->p0_1.y, 193);
    EXPECT_EQ(shape->p0_2.y, 174);
    EXPECT_EQ(shape->p2_1.y, 81);
    EXPECT_EQ(shape->p2_2.y, 62);
    const int right[] = {shape->p0_1.x, shape->p0_2.x, shape->p2_1.x, shape->p2_2.x, shape->p[0].x,
                         shape->p[1].x, shape->p[2].x, shape->p[3].x, shape->p[4].x};
    EXPECT_EQ(std::vector<int>(right, right + 9), (std::vector<int>{30, 33, 33, 30, 30, 41, 30, 109, 109}));
    place(true, 0.14f);
    const int left[] = {shape->p0_1.x, shape->p0_2.x, shape->p2_1.x, shape->p2_2.x, shape->p[1].x, shape->p[3].x, shape->p[4].x};
    EXPECT_EQ(std::vector<int>(left, left + 7), (std::vector<int>{109, 105, 105, 109, 97, 30, 30}));  // 105.7, 97.8
    place(false, 0);
    EXPECT_EQ(shape->p[1].x, 30);
}

TEST_F(FootRanges, FarSideScansSeeColumn149NearSideScansDoNot) {
    Bitmap b = blank();
    fill_rect(b, 100, 20, 149, 299);
    std::memcpy(shape->foot_map, b.data(), SHAPE_PIXELS);
    std::memcpy(shape->ring_map, b.data(), SHAPE_PIXELS);
    shape->y_min = 20;
    shape->foot_length = 280;
    shape->insole_width = 0;  // no pull
    shape->is_left = 0;
    testing::internal::CaptureStdout();
    place_shape_points(*shape);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(shape->p[4].x, 149);
    EXPECT_EQ(shape->p[3].x, 149);
    EXPECT_EQ(shape->p[0].x, 100);

    std::memset(shape->foot_map, 0, SHAPE_PIXELS);
    for (int y = 0; y < 360; ++y) shape->foot_map[y * 150 + 149] = 10;
    shape->p[0].x = 55;
    testing::internal::CaptureStdout();
    place_shape_points(*shape);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(shape->p[0].x, 55);   // the near-side scan stops at column 148
    EXPECT_EQ(shape->p[4].x, 149);
}

TEST_F(FootRanges, ScansMeetingNothingKeepTheirXAndStillTakeTheirPull) {
    shape->y_min = 20;
    shape->foot_length = 280;
    shape->insole_width = 80;
    shape->LINE_PCT[0] = 0.14f;
    shape->is_left = 0;
    shape->p[0].x = 77;
    shape->p[1].x = 10;
    shape->p0_2.x = -5;
    testing::internal::CaptureStdout();
    place_shape_points(*shape);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(shape->p[0].x, 77);
    EXPECT_EQ(shape->p[1].x, 21);   // 10 + 11.2
    EXPECT_EQ(shape->p0_2.x, -1);   // -5 + 3.288 = -1.7, truncated toward zero
}

TEST_F(FootRanges, KeyPointsOnRowsWithoutFootMoveToTheNearestFootRow) {
    // Heel and forefoot apart (a high arch): rows 101..159 hold nothing.
    store.set_value(va_bm_para_1, 0);
    shape->LINE_PCT[0] = 0.14f;
    Bitmap b = blank();
    fill_rect(b, 30, 20, 109, 100);
    fill_rect(b, 30, 160, 109, 299);
    std::memcpy(shape->foot_map, b.data(), SHAPE_PIXELS);
    testing::internal::CaptureStdout();
    measure_foot_ranges(*shape, b.data());
    shape->is_left = 0;
    build_eroded_ring(*shape);
    shape->p[3].x = shape->p[1].x = -500;  // stale values from an earlier foot
    place_shape_points(*shape);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(shape->p[3].y, 100);  // row 104 is empty; row 100 is 4 rows away
    EXPECT_EQ(shape->p[3].x, 108);  // far side of the heel's top edge (its corner thinned away)
    EXPECT_EQ(shape->p[1].y, 100);  // row 115: row 100 is nearer than row 160
    EXPECT_EQ(shape->p[1].x, 41);   // 30 + 11.2
    EXPECT_EQ(shape->p[4].y, 166);  // its own row holds the forefoot
    EXPECT_EQ(shape->p[4].x, 109);
}
