// Image files as the loaders judge them: only a plain file starting with
// "BM" is decoded (other readers of FreeImage write past their buffers on
// broken files), a FIFO or a device is never opened, a file the program can
// never read is refused for good, and one that may still be on its way waits.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
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

// A 150-wide BMP of `bpp` bits (8 with a grey palette whose entry 7 is
// `entry7` as blue, green, red; or 16), `height` rows (negative: top row
// stored first); stored row i holds 200 in its first pixel when i is 0.
std::string bmp(int bpp, int height, const unsigned char entry7[3] = nullptr) {
    const int rows = height < 0 ? -height : height, pitch = (150 * bpp / 8 + 3) / 4 * 4;
    const int palette = bpp == 8 ? 1024 : 0, size = 54 + palette + pitch * rows;
    std::string b(size, '\0');
    auto put32 = [&](int at, int v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, size), put32(10, 54 + palette), put32(14, 40), put32(18, 150), put32(22, height);
    b[26] = 1, b[28] = static_cast<char>(bpp);
    put32(34, pitch * rows);
    if (palette) put32(46, 256);
    for (int i = 0; palette && i < 256; ++i)
        for (int k = 0; k < 3; ++k) b[54 + 4 * i + k] = static_cast<char>(i == 7 && entry7 ? entry7[k] : i);
    b[54 + palette] = static_cast<char>(200);
    return b;
}

TEST(ImageFile, EachKindOfFileIsOpenedRefusedOrLeftToWait) {
    testsupport::TempDir dir;
    const unsigned char blue_off[3] = {0, 7, 7};
    const std::string whole = bmp(8, 360);
    ASSERT_TRUE(::mkfifo((dir / "fifo.bmp").c_str(), 0644) == 0);
    ASSERT_TRUE(std::filesystem::create_directory(dir / "dir.bmp"));
    const struct {
        const char* name;  // written from `bytes` unless it is made above or a device
        std::string bytes;
        ImageOpen status;
        const char* why;
    } cases[] = {
        {"plain.bmp", whole, ImageOpen::OK, ""},
        {"top_first.bmp", bmp(8, -360), ImageOpen::OK, ""},
        {"png.bmp", std::string("\x89PNG\r\n\x1a\n", 8) + whole.substr(8), ImageOpen::UNUSABLE,
         "not a BMP file (it does not start with \"BM\")"},
        {"xpm.bmp", regress_bytes("xpm_heap_overflow"), ImageOpen::UNUSABLE,
         "not a BMP file (it does not start with \"BM\")"},
        {"dir.bmp", "", ImageOpen::UNUSABLE, "a directory, not an image file"},
        {"fifo.bmp", "", ImageOpen::UNUSABLE, "a FIFO, not an image file"},
        {"/dev/null", "", ImageOpen::UNUSABLE, "a device, not an image file"},
        {"sixteen.bmp", bmp(16, 360), ImageOpen::UNUSABLE, "a 16-bit image holds no height values"},
        {"blue.bmp", bmp(8, 360, blue_off), ImageOpen::UNUSABLE, "its palette is not grey (entry 7 is 7, 7, 0)"},
        {"rle.bmp", whole.substr(0, 30) + '\x04' + whole.substr(31), ImageOpen::UNUSABLE,
         "a BMP that cannot be decoded"},
        {"tall.bmp", bmp(8, 361).substr(0, 60), ImageOpen::WRONG_SIZE, ""},
        // Still on their way: they wait.
        {"cut.bmp", whole.substr(0, whole.size() - 1), ImageOpen::UNREADABLE, ""},
        {"head.bmp", whole.substr(0, 40), ImageOpen::UNREADABLE, ""},
        {"b.bmp", "B", ImageOpen::UNREADABLE, ""},
        {"missing.bmp", "", ImageOpen::UNREADABLE, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.name[0] == '/' ? c.name : dir / c.name;
        if (!c.bytes.empty()) {
            ASSERT_TRUE(testsupport::put(path, c.bytes));
        }
        const OpenedImage o = open_image_file(path);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.why, c.why);
        if (!c.bytes.empty() && c.status != ImageOpen::UNREADABLE) {
            const OpenedImage m = open_image_memory(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
            EXPECT_EQ(m.status, c.status);
            EXPECT_EQ(m.why, c.why);
            if (m.bitmap) FreeImage_Unload(m.bitmap);
        }
        if (!o.bitmap) continue;
        // The picture's top row is the last in FreeImage's memory, however stored.
        const bool top_first = std::strcmp(c.name, "top_first.bmp") == 0;
        EXPECT_EQ(FreeImage_GetScanLine(o.bitmap, top_first ? 359 : 0)[0], 200);
        EXPECT_EQ(FreeImage_GetScanLine(o.bitmap, top_first ? 0 : 359)[0], 0);
        FreeImage_Unload(o.bitmap);
    }

    // A settings file that is a FIFO is not read, and the read does not wait for a writer.
    std::string text, why;
    EXPECT_FALSE(read_plain_file(dir / "fifo.bmp", 100, text, why));
    EXPECT_EQ(why, "a FIFO");
    EXPECT_EQ(not_plain_file(dir / "dir.bmp"), "a directory");
    ASSERT_TRUE(testsupport::put(dir / "job.txt", "density 2"));
    EXPECT_TRUE(read_plain_file(dir / "job.txt", 100, text, why));
    EXPECT_EQ(text, "density 2");
    EXPECT_FALSE(read_plain_file(dir / "job.txt", 8, text, why));
}

TEST(ImageFile, RealFootBmpStillOpens) {
    const OpenedImage o = open_image_file(testsupport::testdata("bmc_MDwalk2_R.bmp"));
    ASSERT_EQ(o.status, ImageOpen::OK);
    EXPECT_EQ(o.width, 150u);
    EXPECT_EQ(o.height, 360u);
    FreeImage_Unload(o.bitmap);
}

}  // namespace
