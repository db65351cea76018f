// The insole rebuild through OpenGL: placement and scaling of the template,
// the lowest height, mirroring for the right foot, the slope limit, the pad
// and the wedge buttons on a rebuilt plane.
#include <gtest/gtest.h>

#include <algorithm>
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

using scalertest::PlaneBox;

class Rebuild : public testsupport::GlTest {
protected:
    void SetUp() override {
        testsupport::GlTest::SetUp();
        if (IsSkipped()) return;
        const std::string tmpl = dir / "template.bmp", drop = dir / "drop.png";
        ASSERT_TRUE(scalertest::write_foot_bmp(tmpl));
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
    EXPECT_EQ(scalertest::min_insole(tall->p), 10);
    auto top = [](const PlaneBox& b) { return *std::max_element(&b.p[0][0], &b.p[0][0] + sizeof(Plane)); };
    EXPECT_GT(top(*tall), top(*plain) + 5);
}

// The hv angle reaches the pad: 40 degrees make a 3 mm pad, 15 steps (the
// default 15 degrees and its 10 steps are pinned by the end-to-end pixels).
TEST_F(Rebuild, PadHeightFollowsTheHvAngle) {
    auto nopad = std::make_unique<PlaneBox>(), pad = std::make_unique<PlaneBox>();
    c.pad = false;
    rebuild_copy(*nopad);
    c.pad = true;
    c.hv_angle = 40;
    rebuild_copy(*pad);
    int most = 0;
    for (int r = 0; r < kRows; ++r)
        for (int col = 0; col < kStride; ++col) most = std::max(most, pad->p[r][col] - nopad->p[r][col]);
    EXPECT_EQ(most, 15);
    EXPECT_NEAR(c.pad_width, view->box_width * 2 / 3, 0.001);
    EXPECT_NEAR(c.pad_length, view->box_height * 0.5, 0.001);
}

// ---- wedge buttons ----------------------------------------------------------------

// On a block of height 20 over rows 50..250 and columns 40..99 the landmark
// rows are trunc(201 x 0.72 + 50) = 194, trunc(201 x 0.64 + 50) = 178 and
// trunc(201 x 0.15 + 50) = 80; their columns are the block's edges.
TEST(WedgeButtons, LandmarksAndTheInnerArchWithItsTaper) {
    auto view = std::make_unique<InsoleImage>();
    for (int r = 50; r <= 250; ++r)
        for (int col = 40; col <= 99; ++col) view->work_plane[r][col] = view->output_plane[r][col] = 20;
    const int marks[2][5][2] = {{{194, 99}, {178, 40}, {80, 99}, {80, 69}, {80, 40}},   // left foot
                                {{194, 40}, {178, 99}, {80, 40}, {80, 69}, {80, 99}}};  // right foot
    for (int side : {1, 0}) {  // the left foot last: the wedge below is pressed on it
        view->find_landmarks(view->output_plane, side);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(view->landmarks.p[i].row, marks[side][i][0]) << side << " " << i;
            EXPECT_EQ(view->landmarks.p[i].column, marks[side][i][1]) << side << " " << i;
        }
    }

    // Inner arch, 1 mm = 5 steps: line L through p1 (178, 40) and p2 (80, 99), row = 244.44 - 1.661 x column;
    // p0 lies 114 / sqrt(1 + 1.661^2) = 58.80 from it. Between L and its parallel through p0 a pixel rises by
    // 5 x distance / 58.80, beyond it by 5. Then the taper, -3 mm = -15 steps: line T through (164, 99) and
    // (148, 40), row = 137.15 + 0.2712 x column, full depth at 83.00 from it (the parallel through (250, 99)).
    ScalerControls c;
    c.inner_arch = 1;
    view->press_wedge(Wedge::inner_arch, c);
    const struct {
        int row, col, value;
        const char* why;
    } cases[] = {
        {120, 70, 20, "below L: untouched"},
        {100, 45, 20, "below L: untouched"},
        {150, 90, 22, "28.39 above L: 20 + 2.41; below T"},
        {230, 95, 13, "beyond p0's parallel: 25; 64.75 above T: - 11.70"},
        {180, 99, 21, "51.58 above L: 24.39 -> 24; 15.44 above T: - 2.79"},
        {190, 45, 12, "10.47 above L: 20.89 -> 20; 39.22 above T: - 7.09"},
        {245, 60, 10, "24 - 15 beyond T's parallel: never below 10"},
        {40, 70, 0, "outside the insole: untouched"},
    };
    for (const auto& k : cases) EXPECT_EQ(view->output_plane[k.row][k.col], k.value) << k.row << "," << k.col << ": " << k.why;
    EXPECT_EQ(std::memcmp(view->output_plane, view->work_plane, sizeof(Plane)), 0);
}

// ---- hand-off saving ----------------------------------------------------------------

class HandoffDraws : public Rebuild {
protected:
    void SetUp() override {
        Rebuild::SetUp();
        if (IsSkipped()) return;
        ::setenv("STATION_INSOLE_DIR", dir.path().c_str(), 1);
        const std::string text = "left 0.15 249 0 0 0 0 0 0 right 0.3 279 0 0 0 0 0 0 job";
        Handoff h;
        parse_insole_parameters(text.data(), text.size(), h);
        ASSERT_TRUE(view->accept_handoff(h, "insole parameters.txt"));
        view->apply_pending(c);
    }
    void TearDown() override { ::unsetenv("STATION_INSOLE_DIR"); }
};

// Draws that did not rebuild (exposes, stray redraws) and a rebuild of the
// other side save nothing; each side comes from its own rebuild.
TEST_F(HandoffDraws, EachSideIsSavedOnlyByTheDrawThatRebuiltIt) {
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
    EXPECT_NE(std::memcmp(left->p, view->output_plane, sizeof(Plane)), 0);  // each side from its own rebuild
    EXPECT_TRUE(common::file_exists(dir / "job_iRight.bmp"));
}

// Without an off-screen frame buffer nothing is saved and the side stays
// pending until a rebuild can run (the console line, once per job, is
// counted by the end-to-end run on an old context).
TEST_F(HandoffDraws, NoFrameBufferSavesNothingUntilARebuildRuns) {
    gl_scratch_refuse(true);
    EXPECT_FALSE(view->rebuild(c));
    EXPECT_EQ(view->save_pending_side(RebuildRun::failed), HandoffSave::nothing);
    gl_scratch_refuse(false);
    EXPECT_TRUE(view->left_pending && !common::file_exists(dir / "job_iLeft.bmp"));
    view->apply_pending(c);
    ASSERT_TRUE(view->rebuild(c));
    EXPECT_EQ(view->save_pending_side(RebuildRun::done), HandoffSave::left);
    EXPECT_TRUE(common::file_exists(dir / "job_iLeft.bmp"));
}

}  // namespace
