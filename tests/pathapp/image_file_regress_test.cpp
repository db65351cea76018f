// Image files that once broke the loaders through FreeImage: only BMP is
// decoded, so a file of another type is refused before any of its bytes
// reach a reader that writes past its buffers.
#include <gtest/gtest.h>

#include <string>

#include "common/file_util.h"
#include "pathapp/image_file.h"
#include "tests/support/gl_context.h"

using namespace pathapp;

namespace {

// The fuzz input's first byte picks the reader; the rest is the file.
std::string regress_bytes(const std::string& name) {
    std::string data;
    if (!common::read_file(testsupport::testdata("regress/image_load_fuzz/" + name), data) || data.empty())
        return "";
    return data.substr(1);
}

TEST(ImageFileRegress, BrokenXpmIsRefusedFromMemoryAndUnderABmpName) {
    const std::string xpm = regress_bytes("xpm_heap_overflow");
    ASSERT_FALSE(xpm.empty());
    const OpenedImage m = open_image_memory(reinterpret_cast<const uint8_t*>(xpm.data()), xpm.size());
    EXPECT_EQ(m.status, ImageOpen::UNREADABLE);
    EXPECT_EQ(m.bitmap, nullptr);

    testsupport::TempDir dir;
    const std::string path = dir / "foot.bmp";
    ASSERT_TRUE(common::write_file_atomic(path, xpm));
    const OpenedImage f = open_image_file(path);
    EXPECT_EQ(f.status, ImageOpen::UNREADABLE);
    EXPECT_EQ(f.bitmap, nullptr);
}

TEST(ImageFileRegress, RealFootBmpStillOpens) {
    const OpenedImage o = open_image_file(testsupport::testdata("bmc_MDwalk2_R.bmp"));
    ASSERT_EQ(o.status, ImageOpen::OK);
    EXPECT_EQ(o.width, 150u);
    EXPECT_EQ(o.height, 360u);
    FreeImage_Unload(o.bitmap);
}

}  // namespace
