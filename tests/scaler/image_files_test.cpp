// Fitmire's files: template loading (sizes, depths, rows 0 and 359), the pad
// stamp, the colour table, saving through the template bitmap, and files
// that once broke the loaders.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>

#include "common/file_util.h"
#include "scaler/insole_image.h"
#include "tests/scaler/scaler_fixtures.h"
#include "tests/support/gl_context.h"

using namespace fitmire;

namespace {

class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        scalertest::fill_foot(foot->p);
        foot->p[0][60] = 40;     // bottom and top rows hold values in the file
        foot->p[359][60] = 40;
    }
    // Loads the foot as the left template.
    bool load_template() {
        const std::string path = dir / "t.bmp";
        return scalertest::write_plane_bmp(path, foot->p) && view->load_texture(path.c_str(), 0, c);
    }
    testsupport::TempDir dir;
    std::unique_ptr<scalertest::PlaneBox> foot = std::make_unique<scalertest::PlaneBox>();
    std::unique_ptr<InsoleImage> view = std::make_unique<InsoleImage>();
    ScalerControls c;
};

TEST_F(ImageFiles, TemplateLoadsWithRowsZeroAndTopCleared) {
    for (int bpp : {24, 8, 32}) {
        const std::string path = dir / ("t" + std::to_string(bpp) + ".bmp");
        ASSERT_TRUE(scalertest::write_plane_bmp(path, foot->p, bpp));
        ASSERT_TRUE(view->load_texture(path.c_str(), 1, c)) << bpp;
        EXPECT_EQ(view->bytes_per_pixel, bpp / 8);
        EXPECT_EQ(view->source_plane[0][60] + view->source_plane[359][60], 0);
        EXPECT_EQ(view->source_plane[150][70], foot->p[150][70]);
        EXPECT_EQ(std::memcmp(view->output_plane, view->source_plane, sizeof(Plane)), 0);
        // The foot's outline has pixels on rows 21..338 (it narrows to nothing at
        // rows 20 and 339); the values in rows 0 and 359 do not count.
        EXPECT_EQ(view->measured_length, 318);
        EXPECT_DOUBLE_EQ(c.length_max, 1.5 * 318);
        EXPECT_TRUE(view->template_side == 1 && view->current_side == 1);
        EXPECT_TRUE(view->needs_rebuild);
        EXPECT_EQ(view->dpm_x, 3937);
    }
}

TEST_F(ImageFiles, OtherSizesAndBrokenFilesAreRefused) {
    const std::string wide = dir / "wide.bmp", small = dir / "small.bmp", junk = dir / "junk.bmp",
                      blank = dir / "blank.bmp";
    auto empty = std::make_unique<scalertest::PlaneBox>();
    ASSERT_TRUE(scalertest::write_plane_bmp(wide, foot->p, 24, 300, 360) &&
                scalertest::write_plane_bmp(small, foot->p, 24, 150, 200) &&
                common::write_file_atomic(junk, "BM not really a bitmap") &&
                scalertest::write_plane_bmp(blank, empty->p, 24));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(view->load_texture(wide.c_str(), 0, c));
    const std::string said = ::testing::internal::GetCapturedStdout();
    // The line as the station has always printed it, the reason on the next.
    EXPECT_EQ(said, "Unable to load texture: \n" + wide + ": the template is 300 x 360 pixels, not 150 x 360\n");
    for (const std::string& bad : {small, junk, blank, dir / "missing.bmp"})
        EXPECT_FALSE(view->load_texture(bad.c_str(), 0, c)) << bad;
    EXPECT_FALSE(view->has_template());
    EXPECT_DOUBLE_EQ(c.width, 0);  // the controls were not touched

    // A refused file never replaces a template that is there.
    ASSERT_TRUE(load_template());
    EXPECT_FALSE(view->load_texture(wide.c_str(), 1, c));
    EXPECT_TRUE(view->has_template());
    EXPECT_EQ(view->template_side, 0);
    EXPECT_EQ(view->width, 150);
}

TEST_F(ImageFiles, DropStampAndColourTable) {
    const std::string drop = dir / "drop.png";
    ASSERT_TRUE(scalertest::write_drop_png(drop));
    ASSERT_TRUE(view->load_drop(drop.c_str()));
    EXPECT_FLOAT_EQ(view->drop->max_value, 200);
    const std::string big = dir / "big.png";
    ASSERT_TRUE(scalertest::write_drop_png(big, 300));
    auto other = std::make_unique<InsoleImage>();
    EXPECT_FALSE(other->load_drop(big.c_str()));
    EXPECT_FLOAT_EQ(other->drop->max_value, 0);
    EXPECT_FALSE(other->load_drop((dir / "none.png").c_str()));

    const std::string lut = dir / "lut_ancestor.txt";
    ASSERT_TRUE(scalertest::write_lut(lut));
    ASSERT_TRUE(view->load_colour_table(lut.c_str()));
    EXPECT_EQ(view->colour_table[3][0], 3);
    EXPECT_EQ(view->colour_table[3][1], 252);
    EXPECT_EQ(view->colour_table[255][2], (255 * 7) % 256);
    EXPECT_FALSE(view->load_colour_table((dir / "none.txt").c_str()));
}

// A header claiming a huge picture is refused before any pixel buffer is
// allocated, a file of a type other than BMP or PNG before FreeImage decodes
// it (the fuzz input's first byte picks the loader; the rest is the file).
TEST_F(ImageFiles, HugeHeaderAndBrokenXpmAreRefusedBeforeDecodingAndTheTemplateStays) {
    ASSERT_TRUE(load_template());
    const int width = view->measured_width;
    std::string path[2];
    for (int i = 0; i < 2; ++i) {
        const char* input = i ? "xpm_heap_overflow" : "template_header_3gb";  // 9830400 x 360 pixels, 3.5 GB
        std::string data;
        ASSERT_TRUE(common::read_file(testsupport::testdata("regress/scaler_images_fuzz/") + input, data));
        ASSERT_TRUE(common::write_file_atomic(path[i] = dir / (input + std::string(".bmp")), data.substr(1)));
    }
    testing::internal::CaptureStdout();
    for (const std::string& p : path) EXPECT_FALSE(view->load_texture(p.c_str(), 1, c) || view->load_drop(p.c_str()));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("not 150 x 360"), std::string::npos) << out;
    EXPECT_NE(out.find("larger than 250 x 250; the metatarsal pad stays empty"), std::string::npos) << out;
    EXPECT_NE(out.find("Unable to load texture: \n" + path[1] + ": not a readable BMP\n"), std::string::npos) << out;
    EXPECT_NE(out.find("cannot be loaded; the metatarsal pad stays empty"), std::string::npos) << out;
    EXPECT_TRUE(view->has_template() && view->template_side == 0 && view->measured_width == width);
}

// (What the saved pixels hold is checked in the end-to-end images.)
TEST_F(ImageFiles, SaveAddsBmpCaseSensitively) {
    ASSERT_TRUE(load_template());
    for (const auto& [name, made] : {std::pair<const char*, const char*>{"out", "out.bmp"},
                                     {"upper.BMP", "upper.BMP.bmp"}, {"exact.bmp", "exact.bmp"}}) {
        ASSERT_TRUE(view->save_scaled_bmp((dir / name).c_str()));
        EXPECT_TRUE(common::file_exists(dir / made)) << name;
    }
    EXPECT_FALSE(common::file_exists(dir / "exact.bmp.bmp"));
}

TEST_F(ImageFiles, FailedSaveIsReportedAndLeavesNothingBehind) {
    auto none = std::make_unique<InsoleImage>();
    EXPECT_FALSE(none->save_scaled_bmp((dir / "x.bmp").c_str()));  // no template
    EXPECT_FALSE(common::file_exists(dir / "x.bmp"));
    ASSERT_TRUE(load_template());
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(view->save_scaled_bmp((dir / "no/such/dir/x.bmp").c_str()));
    const std::string said = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("Unable to save " + (dir / "no/such/dir/x.bmp")), std::string::npos) << said;
    EXPECT_FALSE(common::file_exists(dir / "no"));

    // An existing image is never left half-written by a failed save.
    const std::string keep = dir / "keep.bmp";
    ASSERT_TRUE(common::write_file_atomic(keep, "old contents"));
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    const bool wrote = view->save_scaled_bmp(keep.c_str());
    ::chmod(dir.path().c_str(), 0755);
    if (!wrote) {  // (root may write anyway)
        std::string text;
        ASSERT_TRUE(common::read_file(keep, text));
        EXPECT_EQ(text, "old contents");
    }
}

}  // namespace
