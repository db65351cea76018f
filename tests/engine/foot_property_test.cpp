// Properties of the whole outline build over real and hand-drawn feet.
#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/insole_outline.h"
#include "tests/engine/foot_samples.h"
#include "tests/engine/insole_test_support.h"
#include "tests/support/gl_context.h"

using namespace engine;
using namespace insoletest;

namespace {

using Case = footsamples::NamedFoot;

// Feet under 150 mm only test the loader's length rule.
std::vector<Case> all_feet() { return footsamples::outline_feet(150); }

class FootProperties : public ShapeTest {
protected:
    // Builds the outline of one foot; the console output is kept for checks.
    void build(const Case& c) {
        foot = c.pixels;
        model.clear();
        testing::internal::CaptureStdout();
        build_insole_outline(*shape, foot.data(), model);
        console = testing::internal::GetCapturedStdout();
    }
    std::string picture() const { return footsamples::ascii(shape->foot_map, shape->outline_map, 3); }

    std::vector<uint8_t> foot;
    Mesh model;
    std::string console;
};

}  // namespace

// One build per foot: the side its big toe gives, one closed inside region
// round the foot, and an outline reaching the toes.
TEST_F(FootProperties, SideClosedOutlineAndToes) {
    for (const Case& c : all_feet()) {
        ASSERT_FALSE(c.pixels.empty()) << c.name;
        EXPECT_EQ(decide_side(*shape, c.pixels.data()), c.left ? 1 : 0) << c.name;
        build(c);
        EXPECT_EQ(console.rfind(c.left ? "LEFT !\n" : "RIGHT !\n", 0), 0u) << c.name;
        // Two centres, of the heel and of the forefoot: the middle of the
        // foot's row a fifth and seven tenths of the way from the heel (a
        // walking foot is bent, so the mean of its pixels can lie outside it).
        int n = 0;
        for (int i = 0; i < SHAPE_PIXELS; ++i) n += shape->foot_map[i] > 9;
        ASSERT_GT(n, 0) << c.name;
        auto centre_at = [&](float fraction, int& cx, int& cy) {
            cy = shape->y_min + static_cast<int>(fraction * static_cast<float>(shape->y_max - shape->y_min));
            int first = -1, last = -1;
            for (int x = 0; x < SHAPE_W; ++x)
                if (at(shape->foot_map, x, cy) > 9) {
                    if (first < 0) first = x;
                    last = x;
                }
            cx = (first + last) / 2;
            return first >= 0;
        };
        int hx, hy, cx, cy;
        ASSERT_TRUE(centre_at(0.2f, hx, hy)) << c.name;
        ASSERT_TRUE(centre_at(0.7f, cx, cy)) << c.name;
        EXPECT_EQ(at(shape->inside_mask, cx, cy), 10) << c.name << "\n" << picture();
        EXPECT_EQ(at(shape->inside_mask, hx, hy), 10) << c.name;

        // One 4-connected inside region, touching no border pixel.
        std::vector<uint8_t> seen(SHAPE_PIXELS, 0);
        std::vector<int> stack = {cy * SHAPE_W + cx};
        seen[stack[0]] = 1;
        int reached = 0;
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            ++reached;
            const int x = i % SHAPE_W, y = i / SHAPE_W;
            const int nb[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& q : nb) {
                if (!in_shape(q[0], q[1])) continue;
                const int j = q[1] * SHAPE_W + q[0];
                if (!seen[j] && shape->inside_mask[j] == 10) {
                    seen[j] = 1;
                    stack.push_back(j);
                }
            }
        }
        EXPECT_EQ(reached, count_set(shape->inside_mask)) << c.name << "\n" << picture();
        for (int x = 0; x < SHAPE_W; ++x)
            EXPECT_TRUE(!at(shape->inside_mask, x, 0) && !at(shape->inside_mask, x, SHAPE_H - 1)) << c.name;
        for (int y = 0; y < SHAPE_H; ++y)
            EXPECT_TRUE(!at(shape->inside_mask, 0, y) && !at(shape->inside_mask, SHAPE_W - 1, y)) << c.name;
        // An insole of about the foot's size: most of the foot lies inside it.
        EXPECT_GT(reached, static_cast<int>(n * 0.6)) << c.name;
        EXPECT_LT(reached, static_cast<int>(n * 1.2)) << c.name;

        const int from = std::max(shape->p0_1.y, shape->p[4].y) + 10;
        int foot_top = 0;
        for (int i = 0; i < SHAPE_PIXELS; ++i)
            if (shape->foot_map[i] > 9) foot_top = std::max(foot_top, i / SHAPE_W);
        int checked = 0;
        for (int x = 1; x < SHAPE_W - 1; ++x) {
            int top_foot = -1, top_outline = -1;
            for (int y = SHAPE_H - 1; y >= from && (top_foot < 0 || top_outline < 0); --y) {
                if (top_foot < 0 && at(shape->foot_map, x, y) > 9) top_foot = y;
                if (top_outline < 0 && at(shape->outline_map, x, y)) top_outline = y;
            }
            if (top_foot < 0) continue;
            ++checked;
            // Not cut short of the toes, not beyond them (clefts between toes
            // are bridged, so the outline may lie above a cleft).
            EXPECT_GE(top_outline, top_foot - 3) << c.name << " column " << x << "\n" << picture();
            EXPECT_LE(top_outline, foot_top + 3) << c.name << " column " << x;
            if (top_outline < top_foot - 3) break;
        }
        EXPECT_GT(checked, 30) << c.name;
    }
}
