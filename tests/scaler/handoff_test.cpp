// The hand-off file: parsing its records, bounds on words and job names, the
// job-name check, and how a parsed file becomes pending sides of the view.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "scaler/handoff.h"
#include "scaler/insole_image.h"
#include "scaler/scaler_window.h"
#include "tests/support/gl_context.h"

using namespace fitmire;

namespace {

Handoff parse(const std::string& text, std::string* problems = nullptr) {
    Handoff h;
    parse_insole_parameters(text.data(), text.size(), h, problems);
    return h;
}

TEST(HandoffParse, BothRecordsInEitherOrder) {
    for (const char* text : {"left 0.25 245 1 2 3 4 5 6\nright 0.3 250 7 8 9 10 11 12 0912345678\n",
                             "right 0.3 250 7 8 9 10 11 12 0912345678\r\n\tleft 0.25 245 1 2 3 4 5 6"}) {
        const Handoff h = parse(text);
        EXPECT_TRUE(h.left_found && h.right_found && h.job_name_read);
        EXPECT_FLOAT_EQ(h.left_values[0] + h.left_values[7] + h.right_values[1] + h.right_values[7], 0.25f + 6 + 250 + 12);
        EXPECT_STREQ(h.job_name, "0912345678");
    }
}

TEST(HandoffParse, FoundLinesAreWrittenWhileReadingInFileOrder) {
    const std::string text = "right 0.3 250 7 8 9 10 11 12 job\nleft 0.25 245 1 2 3 4 5 6\n";
    Handoff h;
    ::testing::internal::CaptureStdout();
    parse_insole_parameters(text.data(), text.size(), h, nullptr, stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "FOUND RIGHT: \nFOUND LEFT: \n0.250000 245.000000 1.000000 2.000000 3.000000 4.000000 5.000000 "
              "6.000000 ");
    EXPECT_TRUE(h.line_open);
    EXPECT_FALSE(parse("left 1 2 3 4 5 6 7 8 right 1 2 3 4 5 6 7 8 job").line_open);
}

TEST(HandoffParse, BadNumberStopsTheRecordAndIsReadAsAWord) {
    Handoff h;
    h.left_values[2] = 99;
    const std::string text = "left 0.2 240 x 5 right 0.3 250 1 2 3 4 5 6 job7 nan left";
    parse_insole_parameters(text.data(), text.size(), h);
    EXPECT_FLOAT_EQ(h.left_values[1], 240);
    EXPECT_FLOAT_EQ(h.left_values[2], 99);  // earlier contents kept
    EXPECT_STREQ(h.job_name, "job7");
    EXPECT_TRUE(h.right_found);
    // "nan" is no number for a height step; the last "left" has no numbers at all.
    EXPECT_TRUE(h.left_found);
}

TEST(HandoffParse, LongWordsAndJobNamesStayInTheirBuffers) {
    std::string problems;
    const std::string long_word(5000, '7');
    Handoff h = parse("left " + long_word + " 245 right 0.3 250 1 2 3 4 5 6 " + std::string(131, 'j'), &problems);
    EXPECT_TRUE(h.left_found);
    EXPECT_FALSE(problems.empty());
    EXPECT_STREQ(h.job_name, "");  // a name over 130 characters is never cut to fit
    EXPECT_TRUE(h.job_name_broken);
    std::string ok_name(130, 'k');
    h = parse("right 0.3 250 1 2 3 4 5 6 " + ok_name);
    EXPECT_EQ(std::string(h.job_name), ok_name);
    // A "left" glued to more characters is no record word.
    h = parse(std::string("left") + std::string(80, 'x') + " 1 2");
    EXPECT_FALSE(h.left_found);
}

TEST(HandoffParse, EmptyAndBinaryInputs) {
    EXPECT_FALSE(parse("").left_found);
    const char junk[] = {'r', 'i', 'g', 'h', 't', '\0', ' ', '\xff', 'x'};
    const Handoff h = parse(std::string(junk, sizeof junk));
    EXPECT_FALSE(h.right_found);  // "right" glued to a NUL byte is another word
    const Handoff nul = parse(std::string("right 1 2 3 4 5 6 7 8 ok\0/../x", 30));
    EXPECT_STREQ(nul.job_name, "");
    EXPECT_TRUE(nul.job_name_broken);
    const Handoff tail = parse("right 0.3");  // ends inside the record
    EXPECT_TRUE(tail.right_found);
    EXPECT_FALSE(tail.job_name_read);
}

TEST(HandoffFile, MissingAndOversizedFilesAreRefused) {
    testsupport::TempDir dir;
    Handoff h;
    std::string problems;
    EXPECT_FALSE(read_insole_parameters_file(dir / "none.txt", h, &problems));
    const std::string big = dir / "big.txt";
    FILE* f = std::fopen(big.c_str(), "w");
    ASSERT_TRUE(f);
    for (int i = 0; i < 20000; ++i) std::fputs("left ", f);
    std::fclose(f);
    problems.clear();
    EXPECT_FALSE(read_insole_parameters_file(big, h, &problems));
    EXPECT_NE(problems.find("64 KiB"), std::string::npos);
}

TEST(JobName, OnlyNamesThatStayInTheDirectory) {
    for (const char* bad : {"..", "...", "a/b", "a\\b", "../x", "x/..", "a..b", "C:x", "tab\tname", "del\x7f"})
        EXPECT_FALSE(job_name_usable(bad)) << '"' << bad << '"';
    // The empty name gives "_iLeft.bmp" and "_iRight.bmp", still in the directory.
    for (const char* good : {"", ".", "0912345678", "job_7", "a.b", "王小明"})
        EXPECT_TRUE(job_name_usable(good)) << good;
    EXPECT_TRUE(job_name_usable(std::string(130, 'a').c_str()));
    EXPECT_FALSE(job_name_usable(std::string(131, 'a').c_str()));
}

// ---- the parsed file in the view ---------------------------------------------------

TEST(HandoffView, UnusableJobNameRefusesTheWholeJobOnANewLine) {
    // The left values end without a line break; the refusal starts its own line.
    const struct {
        std::string file, said;
    } cases[] = {
        {"right 0.3 250 0 0 0 0 0 0 ../../etc left 0.25 245 0 0 0 0 0 0",
         "\ninsole parameters.txt: job name \"../../etc\" refused"},
        {"left 0.25 245 0 0 0 0 0 0 right 0.3 250 0 0 0 0 0 0 " + std::string(131, 'n'),
         "insole parameters.txt: job name \"\" refused"},
    };
    for (const auto& k : cases) {
        auto view = std::make_unique<InsoleImage>();
        ::testing::internal::CaptureStdout();
        EXPECT_FALSE(view->accept_handoff(parse(k.file), "insole parameters.txt"));
        const std::string said = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(said.rfind(k.said, 0), 0u) << said;
        EXPECT_FALSE(view->left_pending || view->right_pending) << k.file;
    }
}

TEST(HandoffView, LoneLeftRecordKeepsTheEarlierOrEmptyName) {
    auto fresh = std::make_unique<InsoleImage>();
    EXPECT_TRUE(fresh->accept_handoff(parse("left 0.25 245"), "insole parameters.txt"));
    EXPECT_TRUE(fresh->left_pending);
    EXPECT_FALSE(fresh->right_pending);
    EXPECT_STREQ(fresh->job_name, "");
}

TEST(HandoffView, LengthIsTheFootLengthPlusTenInSinglePrecision) {
    auto view = std::make_unique<InsoleImage>();
    view->measured_length = 300, view->measured_width = 90;
    view->left_pending = true;
    view->left_values[1] = 127.99999237f;  // + 10 rounds to 138 in float, not in double
    ScalerControls c;
    view->apply_pending(c);
    EXPECT_DOUBLE_EQ(c.length, 138);
}

TEST(Poller, FiresOnceOnEachEvenSecond) {
    poll_state s;
    EXPECT_FALSE(poll_fires(s, 1001));
    EXPECT_TRUE(poll_fires(s, 1002));
    EXPECT_FALSE(poll_fires(s, 1002));
    EXPECT_FALSE(poll_fires(s, 1003));
    EXPECT_TRUE(poll_fires(s, 1004));
    EXPECT_TRUE(poll_fires(s, 1006));
}

}  // namespace
