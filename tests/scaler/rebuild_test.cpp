// The insole rebuild through OpenGL: placement and scaling of the template,
// the lowest height, mirroring for the right foot, the slope limit, the pad
// and the wedge buttons on a rebuilt plane.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "scaler/gl_steps.h"
#include "scaler/insole_image.h"
#include "tests/scaler/scaler_fixtures.h"
#include "tests/support/gl_context.h"

using namespace fitmire;

namespace {

struct PlaneBox {
    Plane p = {};
};

int min_insole(const Plane& p) {
    int m = 256;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kCols; ++c)
            if (p[r][c] > 0) m = std::min<int>(m, p[r][c]);
    return m;
}

class Rebuild : public testsupport::GlTest {
protected:
    void SetUp() override {
        testsupport::GlTest::SetUp();
        if (IsSkipped()) return;
        auto foot = std::make_unique<PlaneBox>();
        scalertest::fill_foot(foot->p);
        const std::string tmpl = dir / "template.bmp", drop = dir / "drop.png";
        ASSERT_TRUE(scalertest::write_plane_bmp(tmpl, foot->p));
        ASSERT_TRUE(scalertest::write_drop_png(drop, 250));  // fills the stamp texture
        ASSERT_TRUE(view->load_drop(drop.c_str()));
        ASSERT_TRUE(view->load_texture(tmpl.c_str(), 0, c));
        view->texture = gl_create_texture();
        ASSERT_NE(view->texture, 0u);
    }
    void rebuild_copy(PlaneBox& out) {
        view->rebuild(c);
        std::memcpy(out.p, view->output_plane, sizeof(Plane));
    }
    testsupport::TempDir dir;
    std::unique_ptr<InsoleImage> view = std::make_unique<InsoleImage>();
    ScalerControls c;
};

TEST_F(Rebuild, LoadedScaleKeepsTheFootBoxCentred) {
    c.pad = false;
    view->rebuild(c);
    EXPECT_FALSE(view->needs_rebuild);
    const Box b = measure_box(view->output_plane);
    EXPECT_NEAR((b.x_min + b.x_max) / 2.0, 75, 1.0);
    EXPECT_NEAR((b.y_min + b.y_max) / 2.0, 180, 1.0);
    EXPECT_NEAR(b.width, view->measured_width, 1);
    EXPECT_NEAR(b.height, view->measured_length, 1);
    EXPECT_EQ(min_insole(view->output_plane), 10);
}

TEST_F(Rebuild, LongerTemplateLengthGivesALongerBox) {
    c.pad = false;
    c.vary_width = false;
    c.length = view->measured_length + 20;
    view->apply_length(c);
    view->rebuild(c);
    const Box b = measure_box(view->output_plane);
    EXPECT_NEAR(b.height, view->measured_length + 20, 1);
    EXPECT_NEAR(b.width, view->measured_width, 1);
    EXPECT_NEAR((b.y_min + b.y_max) / 2.0, 180, 1.0);

    // With the width following the length: 20 mm longer is 4 mm wider.
    c.vary_width = true;
    view->apply_length(c);
    EXPECT_DOUBLE_EQ(c.width, view->measured_width + 4);
    view->rebuild(c);
    EXPECT_NEAR(measure_box(view->output_plane).width, view->measured_width + 4, 1);
}

TEST_F(Rebuild, HeightRatioOnlyWithVaryHeightAndLowestStaysTen) {
    c.pad = false;
    auto plain = std::make_unique<PlaneBox>(), tall = std::make_unique<PlaneBox>();
    c.vary_height = false;
    rebuild_copy(*plain);
    c.height_ratio = 1.8;
    rebuild_copy(*tall);
    EXPECT_EQ(std::memcmp(plain->p, tall->p, sizeof(Plane)), 0);
    c.vary_height = true;
    rebuild_copy(*tall);
    EXPECT_EQ(min_insole(tall->p), 10);
    int top_plain = 0, top_tall = 0;
    for (int r = 0; r < kRows; ++r)
        for (int col = 0; col < kCols; ++col) {
            top_plain = std::max<int>(top_plain, plain->p[r][col]);
            top_tall = std::max<int>(top_tall, tall->p[r][col]);
        }
    EXPECT_GT(top_tall, top_plain + 5);
}

TEST_F(Rebuild, RightInsoleMirrorsTheLeftApartFromThePad) {
    c.pad = false;
    auto left = std::make_unique<PlaneBox>(), right = std::make_unique<PlaneBox>();
    view->current_side = 0;
    rebuild_copy(*left);
    view->current_side = 1;
    rebuild_copy(*right);
    EXPECT_EQ(view->landmark_side, 1);
    for (int r = 0; r < kRows; ++r)
        for (int col = 0; col < kCols; ++col)
            ASSERT_EQ(right->p[r][col], left->p[r][kCols - 1 - col]) << r << "," << col;

    // The pads: mirrored places, leaning the other way.
    c.pad = true;
    auto left_pad = std::make_unique<PlaneBox>(), right_pad = std::make_unique<PlaneBox>();
    view->current_side = 0;
    rebuild_copy(*left_pad);
    const float left_anchor_x = view->drop->centre_x, left_anchor_y = view->drop->centre_y;
    view->current_side = 1;
    rebuild_copy(*right_pad);
    EXPECT_NEAR(view->drop->centre_x, kCols - 1 - left_anchor_x, 1.0);
    EXPECT_NEAR(view->drop->centre_y, left_anchor_y, 1.0);
    double lsum = 0, lx = 0, ly = 0, rsum = 0, rx = 0, ry = 0;
    int differ = 0;
    for (int r = 0; r < kRows; ++r)
        for (int col = 0; col < kCols; ++col) {
            const int dl = left_pad->p[r][col] - left->p[r][col];
            const int dr = right_pad->p[r][kCols - 1 - col] - right->p[r][kCols - 1 - col];
            lsum += dl, lx += dl * col, ly += dl * r;
            rsum += dr, rx += dr * col, ry += dr * r;
            differ += dl != dr;
        }
    ASSERT_GT(lsum, 0);
    ASSERT_GT(rsum, 0);
    // Truncated anchors and stamp halves may each shift a pad by a pixel.
    EXPECT_NEAR(lx / lsum, rx / rsum, 3.0);
    EXPECT_NEAR(ly / lsum, ry / rsum, 3.0);
    EXPECT_GT(differ, 0);  // -4 and +4 degrees do not give the same stamp mirrored
}

TEST_F(Rebuild, PadHeightFollowsTheHvAngle) {
    auto nopad = std::make_unique<PlaneBox>(), pad = std::make_unique<PlaneBox>();
    c.pad = false;
    rebuild_copy(*nopad);
    c.pad = true;
    const struct {
        double angle;
        int steps;
    } cases[] = {{15, 10}, {40, 15}};
    for (const auto& k : cases) {
        c.hv_angle = k.angle;
        rebuild_copy(*pad);
        int most = 0;
        for (int r = 0; r < kRows; ++r)
            for (int col = 0; col < kStride; ++col) most = std::max(most, pad->p[r][col] - nopad->p[r][col]);
        EXPECT_EQ(most, k.steps) << k.angle;
        EXPECT_NEAR(c.pad_width, view->box_width * 2 / 3, 0.001);
        EXPECT_NEAR(c.pad_length, view->box_height * 0.5, 0.001);
    }
}

TEST_F(Rebuild, SlopeLimitHoldsOnTheRebuiltPlane) {
    c.pad = false;
    c.degree_30 = true;
    c.height_ratio = 2;
    c.length = view->measured_length * 1.3;
    view->apply_length(c);
    view->rebuild(c);
    // After the limit only the arch factor runs, which can stretch a step of 3 by at most 15 %.
    const Plane& p = view->output_plane;
    for (int r = 2; r <= 357; ++r)
        for (int col = 2; col <= 147; ++col) {
            if (p[r][col] == 0) continue;
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc) {
                    const int n = p[r + dr][col + dc];
                    if (n == 0 || (dr == 0 && dc == 0)) continue;
                    ASSERT_LE(p[r][col] - n, (dr && dc) ? 5 : 4) << r << "," << col;
                }
        }
}

TEST_F(Rebuild, WedgeButtonsWorkOnTheLastRebuild) {
    c.pad = false;
    view->rebuild(c);
    view->find_landmarks(view->output_plane, view->landmark_side);
    auto before = std::make_unique<PlaneBox>();
    std::memcpy(before->p, view->output_plane, sizeof(Plane));
    for (Wedge w : {Wedge::inner_arch, Wedge::outer_arch, Wedge::inner_heel, Wedge::outer_heel, Wedge::whole_heel})
        view->press_wedge(w, c);
    EXPECT_EQ(std::memcmp(view->output_plane, view->work_plane, sizeof(Plane)), 0);
    int raised = 0;
    for (int r = 0; r < kRows; ++r)
        for (int col = 0; col < kCols; ++col) {
            if (before->p[r][col] == 0) {
                ASSERT_EQ(view->output_plane[r][col], 0);
                continue;
            }
            ASSERT_GE(view->output_plane[r][col], 10);
            raised += view->output_plane[r][col] > before->p[r][col];
        }
    EXPECT_GT(raised, 100);
    // The next rebuild starts again from the template.
    view->rebuild(c);
    EXPECT_EQ(std::memcmp(view->output_plane, before->p, sizeof(Plane)), 0);
}

}  // namespace
