// Real plantar-pressure images used as insole templates: separate toe
// islands, soft edges and a split arch must still rebuild, mirror and take
// wedges with defined results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "scaler/gl_steps.h"
#include "scaler/insole_image.h"
#include "tests/scaler/scaler_fixtures.h"
#include "tests/support/gl_context.h"

using namespace fitmire;

namespace {

class RealFoot : public testsupport::GlTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealFoot, RebuildsBothSidesWithDefinedResults) {
    testsupport::TempDir dir;
    const std::string drop = dir / "drop.png";
    ASSERT_TRUE(scalertest::write_drop_png(drop, 250));
    auto view = std::make_unique<InsoleImage>();
    ScalerControls c;
    ASSERT_TRUE(view->load_drop(drop.c_str()));
    ASSERT_TRUE(view->load_texture(testsupport::testdata(GetParam()).c_str(), 0, c));
    view->texture = gl_create_texture();
    c.degree_30 = true;
    c.length = view->measured_length + 12;
    view->apply_length(c);
    for (int side = 0; side < 2; ++side) {
        view->current_side = side;
        view->rebuild(c);
        EXPECT_TRUE(std::isfinite(view->drop->centre_x) && std::isfinite(view->drop->centre_y));
        const Box b = measure_box(view->output_plane);
        ASSERT_FALSE(box_empty(b));
        // Soft edges below 10 count as insole once the heights are shifted, so
        // the box may grow by the edge band; it still lies around the centre.
        EXPECT_NEAR((b.y_min + b.y_max) / 2.0, 180, 6.0);
        view->find_landmarks(view->output_plane, view->landmark_side);
        for (const Landmark& p : view->landmarks.p)
            EXPECT_TRUE(p.row >= 0 && p.row < kRows && p.column >= 0 && p.column < kCols) << p.row << "," << p.column;
        for (Wedge w : {Wedge::inner_arch, Wedge::outer_arch, Wedge::inner_heel, Wedge::outer_heel, Wedge::whole_heel})
            view->press_wedge(w, c);
        EXPECT_GE(scalertest::min_insole(view->output_plane), 10);
    }
    // Without the pad the lowest insole height is 10 on either side.
    c.pad = false;
    view->rebuild(c);
    EXPECT_EQ(scalertest::min_insole(view->output_plane), 10);
}

INSTANTIATE_TEST_SUITE_P(Feet, RealFoot,
                         ::testing::Values("mun104_MUN104L_L.bmp", "mun104_MUN104R_R.bmp", "bmc_MDwalk2_3_L.bmp",
                                           "bmc_MDwalk2_R.bmp"));

}  // namespace
