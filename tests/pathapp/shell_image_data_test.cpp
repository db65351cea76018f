// The plain-data steps of the shell: job list text, pixel copy with marks,
// slope pass, heel floor and heel point, per-job settings tokens and names,
// and the file-name conversion in front of the STL reader.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pathapp/batch.h"
#include "pathapp/pressure_image.h"
#include "pathapp/stl_load.h"
#include "pathapp/views.h"

using namespace pathapp;

namespace {

// Runs f with the console captured and returns what it printed.
template <class F>
std::string captured(F&& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// ---- job list ------------------------------------------------------------------

std::string parse_list(const std::string& text, BmpList& list) {
    return captured([&] { parse_bmp_list(text, "Bmp_List.txt", list); });
}

TEST(BmpList, NamesByLineAndTheClosedOnesPrinted) {
    const struct {
        std::string text;
        std::vector<std::string> names;
        const char* said;  // the whole console output; nullptr: not checked
    } cases[] = {
        {"a.bmp\nb.bmp", {"a.bmp", "b.bmp"}, "bmp_list[ 0 ] a.bmp\n"},  // the last one needs no line feed
        {"", {}, nullptr},
        {"a.bmp\r\n\r\nb.bmp\r\n", {"a.bmp", "", "b.bmp"}, nullptr},
        {std::string(127, 'k'), {std::string(127, 'k')}, ""},
    };
    BmpList list;  // one list for all: each parse starts it afresh
    for (const auto& k : cases) {
        const std::string out = parse_list(k.text, list);
        ASSERT_EQ(list.count, static_cast<int>(k.names.size())) << k.text;
        for (size_t i = 0; i < k.names.size(); ++i) EXPECT_EQ(list.names[i], k.names[i]) << k.text;
        if (k.said) {
            EXPECT_EQ(out, k.said);
        }
    }
}

TEST(BmpList, OverlongNamesAndLinesStayInsideTheList) {
    std::string text = std::string(128, 'x') + "\n";
    for (int i = 0; i < 100; ++i) text += "n" + std::to_string(i) + ".bmp\n";
    BmpList list;
    const std::string out = parse_list(text, list);
    EXPECT_EQ(list.count, BMP_LIST_MAX);
    EXPECT_STREQ(list.names[0], "n0.bmp");  // the long name is left out, not cut to another name
    EXPECT_STREQ(list.names[63], "n63.bmp");
    EXPECT_NE(out.find("Bmp_List.txt: a name longer than 127 characters was left out"), std::string::npos);
    EXPECT_NE(out.find("more than 64 names"), std::string::npos);
}

// ---- pixel copy --------------------------------------------------------------------

struct Bitmap {
    int bpp, pitch;
    std::vector<uint8_t> data;
    explicit Bitmap(int bits) : bpp(bits) {
        pitch = ((IMAGE_W * bits + 31) / 32) * 4;
        data.assign(static_cast<size_t>(pitch) * IMAGE_H, 0);
    }
    uint8_t* px(int row, int k) { return &data[static_cast<size_t>(row) * pitch + static_cast<size_t>(k) * (bpp / 8)]; }
    ImageBits bits() { return {data.data(), IMAGE_W, IMAGE_H, pitch, bpp}; }
};

std::string copy_pixels(Bitmap& b, PressureImage& img, uint8_t& marks, const char* name = "foot.bmp") {
    ImageBits in = b.bits();
    return captured([&] { copy_image_pixels(in, img, marks, name); });
}

// A 32-bit pixel's pressure is its fourth byte; at 24 and 8 bits it is the
// next pixel's first byte, and the last pixel reads nothing past the image.
// An unmarked image clears the mark flag and keeps the earlier mark lists.
TEST(PixelCopy, PressureOfEachDepthAndAnUnmarkedImage) {
    Bitmap b(32), c(24), g(8);
    for (int r = 0; r < IMAGE_H; ++r)
        for (int k = 0; k < IMAGE_W; ++k) b.px(r, k)[3] = 200;
    c.px(10, 5)[0] = 40;  // foot of pixel 5
    c.px(10, 6)[0] = 90;  // read as the pressure of pixel 5
    std::fill(g.data.begin(), g.data.end(), 5);
    auto img = std::make_unique<PressureImage>(), col = std::make_unique<PressureImage>();
    auto grey = std::make_unique<PressureImage>();
    img->marked_circles.push_back({1, 2, 3});
    img->marked_bars.push_back({1, 2, 0, 3, 4, 0, 5});
    uint8_t marks = 7;
    EXPECT_EQ(copy_pixels(b, *img, marks), "gp_img->pressure_max 200\n ");
    EXPECT_EQ(img->pressure_max, 200);
    EXPECT_EQ(marks, 0);
    EXPECT_TRUE(img->marked_circles.size() == 1 && img->marked_bars.size() == 1);
    copy_pixels(c, *col, marks);
    copy_pixels(g, *grey, marks);
    EXPECT_EQ(col->foot_image[10][5], 40);
    EXPECT_EQ(col->pressure_image[10][5], 90);
    EXPECT_EQ(col->pressure_max, 90);
    EXPECT_EQ(grey->pressure_image[359][149], 0);
    EXPECT_EQ(grey->pressure_image[359][148], 5);
}

TEST(PixelCopy, MarksAreReadFillAppliedAndRowsCleared) {
    Bitmap b(32);
    uint8_t* r0 = b.px(0, 0);
    r0[0] = MARK_BYTE;
    r0[1] = 77;  // fill
    r0[2] = 2;   // two circles
    const uint8_t c0[6] = {10, 0x2c, 0x01, 5, 0, 0};  // x 10, y 300, r 5
    const uint8_t c1[6] = {20, 7, 0, 9, 0, 0};
    memcpy(r0 + 3, c0, 6);
    memcpy(r0 + 9, c1, 6);
    uint8_t* r1 = b.px(1, 0);
    r1[0] = MARK_BYTE;
    r1[2] = 1;
    const uint8_t bar[9] = {1, 2, 0, 3, 4, 1, 6, 0, 0};  // (1,2)-(3,260) w 6
    memcpy(r1 + 3, bar, 9);
    b.px(50, 40)[0] = 12;
    auto img = std::make_unique<PressureImage>();
    img->marked_circles.push_back({1, 1, 1});
    uint8_t marks = 0;
    copy_pixels(b, *img, marks, "m.bmp");
    EXPECT_EQ(marks, 1);
    ASSERT_EQ(img->marked_circles.size(), 2u);
    const auto& m = img->marked_circles;
    EXPECT_TRUE(m[0].x == 10 && m[0].y == 300 && m[0].r == 5 && m[1].y == 7);
    ASSERT_EQ(img->marked_bars.size(), 1u);
    const auto& bar0 = img->marked_bars[0];
    EXPECT_TRUE(bar0.x1 == 1 && bar0.y1 == 2 && bar0.x2 == 3 && bar0.y2 == 260 && bar0.w == 6);
    EXPECT_EQ(img->foot_image[50][40], 77);
    EXPECT_EQ(img->foot_image[50][41], 0);
    // Rows 0 and 1 of the pixels are cleared so the marks never read as foot.
    EXPECT_EQ(b.px(0, 0)[0] + b.px(1, 0)[0], 0);
}

TEST(PixelCopy, MarkCountsBeyondTheRowAreCut) {
    Bitmap b(8);  // 152-byte rows
    b.px(0, 0)[0] = MARK_BYTE;
    b.px(0, 0)[2] = 255;
    b.px(1, 0)[0] = MARK_BYTE;
    b.px(1, 0)[2] = 255;
    auto img = std::make_unique<PressureImage>();
    uint8_t marks = 0;
    const std::string out = copy_pixels(b, *img, marks, "m.bmp");
    // Circle i reads bytes up to 6 + 6i, bar j up to 9 + 9j: 25 and 16 fit in 152 bytes.
    EXPECT_EQ(img->marked_circles.size(), 25u);
    EXPECT_EQ(img->marked_bars.size(), 16u);
    EXPECT_NE(out.find("m.bmp: row 0 holds 25 of 255 marked circles"), std::string::npos) << out;
    EXPECT_NE(out.find("m.bmp: row 1 holds 16 of 255 marked bars"), std::string::npos) << out;
}

// ---- foot map steps ---------------------------------------------------------------

// (How the batch load uses these three, the window test's batch load shows.)
// The heel point is the middle of the first run of values >= 10 on the lowest row.
TEST(FootMap, HeelPointHeelFloorAndSlopePass) {
    static uint8_t foot[IMAGE_H][IMAGE_W];
    memset(foot, 0, sizeof foot);
    for (int c = 40; c < 70; ++c) foot[20][c] = 10;
    foot[20][70] = 9;
    for (int c = 10; c < 100; ++c) foot[30][c] = 50;
    foot[19][5] = 9;  // below 10: not the heel
    float x = 0, y = 0;
    ASSERT_TRUE(find_raw_heel_point(foot, x, y));
    EXPECT_FLOAT_EQ(x, 55);
    EXPECT_FLOAT_EQ(y, 20);
    memset(foot, 9, sizeof foot);  // nothing reaches 10: no heel
    EXPECT_FALSE(find_raw_heel_point(foot, x, y));

    // Faint values of the heel third become 16.
    memset(foot, 0, sizeof foot);
    for (int r = 31; r <= 330; ++r) foot[r][60] = 5;  // lo 31, hi 330: n = 299 / 3 + 31 = 130
    foot[31][61] = 20;
    raise_heel_floor(foot);
    EXPECT_TRUE(foot[31][60] == 16 && foot[129][60] == 16 && foot[31][61] == 20);  // to n - 1
    EXPECT_EQ(foot[130][60], 5);

    auto img = std::make_unique<PressureImage>();
    for (int r = 2; r <= 357; ++r)
        for (int c = 2; c <= 147; ++c) img->foot_image[r][c] = 10;
    img->foot_image[100][70] = 40;  // a spike
    img->foot_image[0][0] = 99;
    slope_pass(*img, 3);  // steps limited, borders kept
    EXPECT_EQ(img->foot_image[100][70], 13);  // at most 3 over its side neighbours
    EXPECT_EQ(img->foot_image[0][0], 99);
    EXPECT_EQ(img->slope_image[100][70], 13);
    EXPECT_EQ(img->slope_image[50][50], 10);
}

// ---- per-job settings and names ------------------------------------------------------

TEST(JobSettings, TokensAsTheStationsReaderTakesThem) {
    const std::string long_word(64, 'a');
    const struct {
        std::string text;
        int full;
        char type;
        int density;
    } cases[] = {
        {"full 1\ntype s\n", 1, 's', 0},
        // "type" takes one character; the rest of its token is read as the next token.
        {"type cl density x density 2 other full", 0, 'c', 2},
        // A token too long to be a key is skipped; the keys around it still count.
        {"full 1 " + long_word + " density 1", 1, 0, 1},
        {long_word + "\ttype l", 0, 'l', 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        JobSettings js;
        const std::string out = captured([&] { parse_job_settings(c.text, "job.txt", js); });
        EXPECT_EQ(js.full, c.full);
        EXPECT_EQ(js.type, c.type);
        EXPECT_EQ(js.density, c.density);
        EXPECT_EQ(out.find("job.txt: a token of 64 characters skipped") != std::string::npos,
                  c.text.find(long_word) != std::string::npos)
            << out;
    }
}

TEST(JobNames, LastThreeCharactersReplacedAndTheRightFootSuffix) {
    const char* cases[][2] = {{"x.png", "x.gcode"}, {"x.jpeg", "x.jgcode"}, {"a_iLeft.bmp", "a_iLeft.gcode"}};
    std::string out;
    for (const auto& c : cases) {
        ASSERT_TRUE(gcode_name_for(c[0], out)) << c[0];
        EXPECT_EQ(out, c[1]);
    }
    EXPECT_FALSE(gcode_name_for("ab", out));
    ASSERT_TRUE(replace_last_three("x.bmp", "txt", 128, out));
    EXPECT_EQ(out, "x.txt");
    for (const char* name : {"abc_r.bmp", "_r.bmp"}) EXPECT_TRUE(ends_with_right_bmp(name)) << name;
    for (const char* name : {"abc_R.bmp", "r.bmp", "ghi_l.bmp"}) EXPECT_FALSE(ends_with_right_bmp(name)) << name;
}

TEST(JobNames, PathsThatWouldNotFitTheirBuffersAreRefused) {
    BatchJobPaths p;
    const std::string name(127, 'n');
    EXPECT_FALSE(make_image_path(name, p));
    EXPECT_FALSE(make_gcode_paths(name, p));
    // "C:\VerdanelFiles\temp\" is 22 characters, ".gcode" replaces "bmp" with 5.
    const std::string fits(127 - 22 - 5, 'n');
    EXPECT_TRUE(make_gcode_paths(fits + "bmp", p));
    EXPECT_FALSE(make_gcode_paths(fits + "xbmp", p));
}

// The conversion keeps to its buffer.
TEST(ToAnsiPath, ConvertsInPlaceAndRefusesWhatDoesNotFit) {
    char name[100];
    std::strcpy(name, "/tmp/\xe9\x9e\x8b\xe5\x9e\xab.stl");  // UTF-8 Chinese
    ASSERT_TRUE(to_ansi_path(name, sizeof name));
    EXPECT_STREQ(name, "/tmp/\xe9\x9e\x8b\xe5\x9e\xab.stl");

    char small[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};  // no terminator inside
    EXPECT_FALSE(to_ansi_path(small, sizeof small));
    EXPECT_EQ(small[7], 'h');
    EXPECT_FALSE(to_ansi_path(nullptr, 10));
}

}  // namespace
