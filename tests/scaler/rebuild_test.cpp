// The insole rebuild through OpenGL: placement and scaling of the template,
// the lowest height, mirroring for the right foot, the slope limit, the pad
// and the wedge buttons on a rebuilt plane.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/file_util.h"
#include "scaler/gl_steps.h"
#include "scaler/handoff.h"
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

// ---- hand-off saving ----------------------------------------------------------------

class HandoffDraws : public Rebuild {
protected:
    void SetUp() override {
        Rebuild::SetUp();
        if (IsSkipped()) return;
        ::setenv("STATION_INSOLE_DIR", dir.path().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("STATION_INSOLE_DIR"); }
    void take(InsoleImage& v, const std::string& text) {
        Handoff h;
        parse_insole_parameters(text.data(), text.size(), h);
        ASSERT_TRUE(v.accept_handoff(h, "insole parameters.txt"));
    }
};

// Draws that did not rebuild (exposes, stray redraws) and a rebuild of the
// other side save nothing; each side comes from its own rebuild.
TEST_F(HandoffDraws, EachSideIsSavedOnlyByTheDrawThatRebuiltIt) {
    take(*view, "left 0.15 249 0 0 0 0 0 0 right 0.3 279 0 0 0 0 0 0 job");
    view->apply_pending(c);
    EXPECT_EQ(view->save_pending_side(RebuildRun::not_needed), HandoffSave::nothing);
    ASSERT_TRUE(view->rebuild(c));
    EXPECT_EQ(view->save_pending_side(RebuildRun::done), HandoffSave::left);
    auto left = std::make_unique<PlaneBox>();
    std::memcpy(left->p, view->output_plane, sizeof(Plane));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(view->save_pending_side(RebuildRun::not_needed), HandoffSave::nothing);
    view->current_side = 0;  // an operator's left arch index between the tick and the draw
    ASSERT_TRUE(view->rebuild(c));
    EXPECT_EQ(view->save_pending_side(RebuildRun::done), HandoffSave::nothing);
    EXPECT_FALSE(common::file_exists(dir / "job_iRight.bmp"));
    view->apply_pending(c);
    ASSERT_TRUE(view->rebuild(c));
    EXPECT_EQ(view->save_pending_side(RebuildRun::done), HandoffSave::right);
    EXPECT_FALSE(view->left_pending || view->right_pending);
    EXPECT_NE(std::memcmp(left->p, view->output_plane, sizeof(Plane)), 0);

    // The same right side as a file with only the right record gives.
    auto solo = std::make_unique<InsoleImage>();
    ScalerControls sc;
    ASSERT_TRUE(solo->load_drop((dir / "drop.png").c_str()));
    ASSERT_TRUE(solo->load_texture((dir / "template.bmp").c_str(), 0, sc));
    solo->texture = view->texture;
    take(*solo, "right 0.3 279 0 0 0 0 0 0 solo");
    solo->apply_pending(sc);
    ASSERT_TRUE(solo->rebuild(sc));
    EXPECT_EQ(solo->save_pending_side(RebuildRun::done), HandoffSave::right);
    EXPECT_EQ(std::memcmp(solo->output_plane, view->output_plane, sizeof(Plane)), 0);
    EXPECT_EQ(testsupport::slurp(dir / "solo_iRight.bmp"), testsupport::slurp(dir / "job_iRight.bmp"));
}

// Without an off-screen frame buffer nothing is saved, the console says so
// once, and the side stays pending until a rebuild can run.
TEST_F(HandoffDraws, NoFrameBufferSavesNothingAndSaysSoOnce) {
    take(*view, "left 0.15 249 0 0 0 0 0 0");
    view->apply_pending(c);
    gl_scratch_refuse(true);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(view->rebuild(c));
    EXPECT_EQ(view->save_pending_side(RebuildRun::failed), HandoffSave::nothing);
    view->apply_pending(c);
    EXPECT_FALSE(view->rebuild(c));
    EXPECT_EQ(view->save_pending_side(RebuildRun::failed), HandoffSave::nothing);
    const std::string said = ::testing::internal::GetCapturedStdout();
    gl_scratch_refuse(false);
    const std::string line =
        "the left insole is not saved: the rebuild needs an off-screen frame buffer, which this display does not "
        "offer\n";
    EXPECT_EQ(said.find(line), 0u) << said;
    EXPECT_EQ(said.find(line, 1), std::string::npos) << said;
    EXPECT_TRUE(view->left_pending);
    EXPECT_FALSE(common::file_exists(dir / "_iLeft.bmp"));
    view->apply_pending(c);
    ASSERT_TRUE(view->rebuild(c));
    EXPECT_EQ(view->save_pending_side(RebuildRun::done), HandoffSave::left);
    EXPECT_TRUE(common::file_exists(dir / "_iLeft.bmp"));
}

}  // namespace
