// Image files as the loaders judge them: only a plain file starting with
// "BM" is decoded (other readers of FreeImage write past their buffers on
// broken files), a FIFO or a device is never opened, a file the program can
// never read is refused for good, and one that may still be on its way waits
// until it has stalled.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>
#include <string>

#include "common/file_util.h"
#include "pathapp/image_file.h"
#include "tests/support/gl_context.h"

using namespace pathapp;
using testsupport::slurp;

namespace {

TEST(ImageFile, EachKindOfFileIsOpenedRefusedOrLeftToWait) {
    testsupport::TempDir dir;
    // Stored row 0 (the bottom, unless the rows are stored top first) is 200 in its first pixel.
    const std::string whole = testsupport::bmp24(150, 360, [](int r, int c, unsigned char p[3]) {
        p[0] = p[1] = p[2] = r == 0 && c == 0 ? 200 : 0;
    });
    std::string top_first = whole, sixteen = whole, blue = slurp(testsupport::sample("foot_left_large_flat_8bit.bmp"));
    top_first.replace(22, 4, "\x98\xfe\xff\xff", 4);  // -360 rows
    sixteen[28] = 16;
    blue[54 + 4 * 7] = 0;  // the blue of palette entry 7
    ASSERT_EQ(::mkfifo((dir / "fifo.bmp").c_str(), 0644), 0);
    ASSERT_TRUE(std::filesystem::create_directory(dir / "dir.bmp"));
    const struct {
        const char* name;  // written from `bytes` unless empty
        std::string bytes;
        ImageOpen status;
        const char* why;
        long age = 0;  // seconds since the file last changed; the file is written even if empty
    } cases[] = {
        {"plain.bmp", whole, ImageOpen::OK, ""},
        {"top_first.bmp", top_first, ImageOpen::OK, ""},
        {"png.bmp", "\x89PNG" + whole.substr(4), ImageOpen::UNUSABLE, "not a BMP file (it does not start with \"BM\")"},
        {"dir.bmp", "", ImageOpen::UNUSABLE, "a directory, not an image file"},
        {"fifo.bmp", "", ImageOpen::UNUSABLE, "a FIFO, not an image file"},
        {"/dev/null", "", ImageOpen::UNUSABLE, "a device, not an image file"},
        {"sixteen.bmp", sixteen, ImageOpen::UNUSABLE, "a 16-bit image holds no height values"},
        {"blue.bmp", blue, ImageOpen::UNUSABLE, "its palette is not grey (entry 7 is 7, 7, 0)"},
        {"jpeg.bmp", whole.substr(0, 30) + '\x04' + whole.substr(31), ImageOpen::UNUSABLE, "a BMP that cannot be decoded"},
        // Still on their way: they wait, until they have not changed for two minutes.
        {"cut.bmp", whole.substr(0, whole.size() - 1), ImageOpen::UNREADABLE, "shorter than its header says"},
        {"head.bmp", whole.substr(0, 40), ImageOpen::UNREADABLE, "its header is not whole", 100},
        {"b.bmp", "B", ImageOpen::UNREADABLE, "fewer than two bytes"},
        {"empty.bmp", "", ImageOpen::UNUSABLE, "incomplete (fewer than two bytes, 0 bytes) and unchanged for over 120 s", 130},
        {"stalled.bmp", whole.substr(0, 40), ImageOpen::UNUSABLE,
         "incomplete (its header is not whole, 40 bytes) and unchanged for over 120 s", 130},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.name[0] == '/' ? c.name : dir / c.name;
        if (!c.bytes.empty() || c.age) {
            ASSERT_TRUE(testsupport::put(path, c.bytes));
            const timeval then[2] = {{time(nullptr) - c.age, 0}, {time(nullptr) - c.age, 0}};
            ASSERT_EQ(::utimes(path.c_str(), then), 0);
        }
        const OpenedImage o = open_image_file(path);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.why, c.why);
        if (!o.bitmap) continue;
        // The picture's top row is the last in FreeImage's memory, however stored.
        const bool top = c.bytes == top_first;
        EXPECT_EQ(FreeImage_GetScanLine(o.bitmap, top ? 359 : 0)[0], 200);
        EXPECT_EQ(FreeImage_GetScanLine(o.bitmap, top ? 0 : 359)[0], 0);
        FreeImage_Unload(o.bitmap);
    }
    // A settings file that is a FIFO is not read, and the read does not wait for a writer.
    std::string text, why;
    EXPECT_FALSE(common::read_plain_file(dir / "fifo.bmp", 100, text, why));
    EXPECT_EQ(why, "a FIFO");
}

}  // namespace
