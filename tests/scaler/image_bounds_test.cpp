// Fitmire's image loaders on files that once broke them: a header claiming
// a huge picture is refused before any pixel buffer is allocated, a file of
// a type other than BMP or PNG before FreeImage decodes it; the template
// already loaded stays.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/file_util.h"
#include "scaler/insole_image.h"
#include "tests/scaler/scaler_fixtures.h"
#include "tests/support/gl_context.h"

using namespace fitmire;

namespace {

// The fuzz input's first byte picks the loader; the rest is the file.
std::string regress_file(const testsupport::TempDir& dir, const std::string& input) {
    std::string data;
    if (!common::read_file(testsupport::testdata("regress/scaler_images_fuzz/" + input), data) || data.empty())
        return "";
    const std::string path = dir / (input + ".bmp");
    return common::write_file_atomic(path, data.substr(1)) ? path : "";
}

TEST(ImageBounds, HugeHeaderAndBrokenXpmAreRefusedBeforeDecodingAndTheTemplateStays) {
    testsupport::TempDir dir;
    auto view = std::make_unique<InsoleImage>();
    ScalerControls c;
    const std::string good = dir / "good.bmp";
    ASSERT_TRUE(scalertest::write_foot_bmp(good, 8));
    ASSERT_TRUE(view->load_texture(good.c_str(), 0, c));
    const int width = view->measured_width;

    // A BMP header claiming 9830400 x 360 pixels (3.5 GB), found by the fuzzer.
    const std::string huge = regress_file(dir, "template_header_3gb"), xpm = regress_file(dir, "xpm_heap_overflow");
    ASSERT_FALSE(huge.empty() || xpm.empty());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(view->load_texture(huge.c_str(), 1, c));
    EXPECT_FALSE(view->load_drop(huge.c_str()));
    EXPECT_FALSE(view->load_texture(xpm.c_str(), 1, c));
    EXPECT_FALSE(view->load_drop(xpm.c_str()));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("not 150 x 360"), std::string::npos) << out;
    EXPECT_NE(out.find("larger than 250 x 250; the metatarsal pad stays empty"), std::string::npos) << out;
    EXPECT_NE(out.find("Unable to load texture: \n" + xpm + ": not a readable BMP\n"), std::string::npos) << out;
    EXPECT_NE(out.find("cannot be loaded; the metatarsal pad stays empty"), std::string::npos) << out;
    EXPECT_TRUE(view->has_template());
    EXPECT_EQ(view->template_side, 0);
    EXPECT_EQ(view->measured_width, width);
}

}  // namespace
