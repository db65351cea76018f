// The hand-off file: parsing its records, bounds on words and job names, the
// job-name check, and how a parsed file becomes pending sides of the view.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

#include "common/job_name.h"
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

// Each number place is one word, read as "%f" reads it and then judged; the
// job name is always the word after the eight places; records come in either
// order, words apart by any blanks.
TEST(HandoffParse, NumbersReadAsPrintfFloatsThenJudgedAndTheNameKeepsItsPlace) {
    const struct {
        const char* file;
        const char* name;        // job name read
        bool left_ok, right_ok;  // records usable
        float sum;               // of both records' eight values after the parse
    } cases[] = {
        {"right 0.3 250 7 8 9 10 11 12 0912345678\r\n\tleft 0.25 245 1 2 3 4 5 6", "0912345678", true, true, 573.55f},
        {"left 1e-1 +245 0 0 0 0 0 0 right 0x1p-2 2.5e2 0 0 0 0 0 0 plus", "plus", true, true, 495.35f},
        {"left 0.25 245 0 0 0 0 0 0 right 0.3 nan 0 0 0 0 0 0 0912345678", "0912345678", true, false, 245.25f},
        {"left 0.25 245 0 0 0 0 0 0 right i j 0 0 0 0 0 0 0912345678", "0912345678", true, false, 245.25f},
        {"right 0.3 250 0 0 x 0 0 0 n7 left INF 245 0 0 0 0 0 0", "n7", false, false, 0},
        {"right nan 250 0 0 0 0 0 0 archnan left 0.2 250abc 0 0 0 0 0 0", "archnan", false, false, 0},
        {"left 0.25 -300 0 0 0 0 0 0 right 0.3 0 0 0 0 0 0 0 zero", "zero", false, false, 0},
        {"left 0.25 1e30 0 0 0 0 0 0 right 0.3 350.5 0 0 0 0 0 0 huge", "huge", false, false, 0},
        {"left 0.25 350 0 0 0 0 0 0 right 0.3 70 0 0 0 0 0 0 edge", "edge", true, true, 420.55f},
        // Centimetres: an insole under the path program's 80 rows.
        {"left 0.25 24.5 0 0 0 0 0 0 right 0.3 69.99 0 0 0 0 0 0 cm", "cm", false, false, 0},
    };
    for (const auto& k : cases) {
        const Handoff h = parse(k.file);
        EXPECT_TRUE(h.left_found && h.right_found) << k.file;
        EXPECT_STREQ(h.job_name, k.name) << k.file;
        EXPECT_EQ(h.left_refused.empty(), k.left_ok) << k.file << ": " << h.left_refused;
        EXPECT_EQ(h.right_refused.empty(), k.right_ok) << k.file << ": " << h.right_refused;
        float sum = 0;  // a refused record's numbers are not taken
        for (int i = 0; i < 8; ++i) sum += h.left_values[i] + h.right_values[i];
        EXPECT_NEAR(sum, k.sum, 1e-3) << k.file;
    }
}

// A file is one left and one right record or is refused whole; a leading
// byte-order mark is no word.
TEST(HandoffParse, WhatIsNotOneWholeJobRefusesTheFile) {
    const std::string l = "left 0.25 245 0 0 0 0 0 0 ", r = "right 0.3 250 0 0 0 0 0 0 job ";
    const std::pair<std::string, std::string> cases[] = {
        {"\xEF\xBB\xBF\xEF\xBB\xBF" + l + r, "the word \"\xEF\xBB\xBFleft\" belongs to no record"},
        {r + l + r, "it holds a second \"right\" record"},
        {r + "Left 0.25 245 0 0 0 0 0 0", "the word \"Left\" belongs to no record"},
        {l, "it has no \"right\" record"},
        {r, "it has no \"left\" record"},
        {"left 0.25 245 0 " + r, "its \"left\" record is cut short (it ends after 3 of its eight numbers)"},
        {"right 0.3 250 0 0 0 0 " + l, "its \"right\" record is cut short (it ends after 6 of its eight numbers)"},
        {l + "right 0.3 250 0 0 0 0 0 0 " + l, "its \"right\" record ends before the job name"},  // no name
    };
    for (const auto& [file, why] : cases) EXPECT_EQ(parse(file).file_refused, why) << file;
}

TEST(HandoffParse, LongWordsBinaryBytesAndJobNamesStayInTheirBuffers) {
    std::string problems;
    const std::string long_word(5000, '7');
    Handoff h = parse("left 0.2 " + long_word + " 1 2 3 4 5 6 right 0.3 250 1 2 3 4 5 6 " + std::string(93, 'j'),
                      &problems);
    EXPECT_TRUE(h.left_found && !h.left_refused.empty() && !problems.empty());  // a cut word is no number
    EXPECT_STREQ(h.job_name, "");  // a name over the limit is never cut to fit
    EXPECT_TRUE(h.job_name_broken);
    const std::string longest(common::kMaxJobNameBytes, 'k');
    h = parse("right 0.3 250 1 2 3 4 5 6 " + longest);
    EXPECT_EQ(std::string(h.job_name), longest);
    // A "left" glued to more characters, or a "right" to a NUL byte, is no record word.
    EXPECT_FALSE(parse(std::string("left") + std::string(80, 'x') + " 1 2").left_found || parse("").left_found);
    EXPECT_FALSE(parse(std::string("right\0 \xffx", 9)).right_found);
    h = parse(std::string("right 1 2 3 4 5 6 7 8 ok\0/../x", 30));
    EXPECT_STREQ(h.job_name, "");
    EXPECT_TRUE(h.job_name_broken);
}

TEST(HandoffFile, MissingAndOversizedFilesAreRefused) {
    testsupport::TempDir dir;
    Handoff h;
    std::string problems;
    EXPECT_FALSE(read_insole_parameters_file(dir / "none.txt", h, &problems));
    const std::string big = dir / "big.txt";
    std::string words;
    for (int i = 0; i < 20000; ++i) words += "left ";
    ASSERT_TRUE(testsupport::put(big, words));
    problems.clear();
    EXPECT_FALSE(read_insole_parameters_file(big, h, &problems));
    EXPECT_NE(problems.find("64 KiB"), std::string::npos);
    // A FIFO is taken, to be refused, and read without waiting for a writer.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    EXPECT_TRUE(handoff_waiting(dir / "fifo") && !handoff_waiting(dir / "none.txt"));
    EXPECT_FALSE(read_insole_parameters_file(dir / "fifo", h, &problems));
    EXPECT_NE(problems.find("is no plain file"), std::string::npos);
}

TEST(JobName, OnlyNamesThatStayInTheDirectory) {
    for (const char* bad : {"", "..", "...", "a/b", "a\\b", "../x", "x/..", "a..b", "C:x", "tab\tname", "del\x7f"})
        EXPECT_FALSE(common::job_name_usable(bad)) << '"' << bad << '"';
    EXPECT_FALSE(common::job_name_usable(std::string("a\0b", 3)));
    for (const char* good : {".", "0912345678", "job_7", "a.b", "王小明"})
        EXPECT_TRUE(common::job_name_usable(good)) << good;
    EXPECT_TRUE(common::job_name_usable(std::string(common::kMaxJobNameBytes, 'a')));
    EXPECT_FALSE(common::job_name_usable(std::string(common::kMaxJobNameBytes + 1, 'a')));
}

// ---- the parsed file in the view ---------------------------------------------------

TEST(HandoffView, RefusalsAreSaidOnANewLineAndOnlyUsableSidesWait) {
    // The left values end without a line break; the refusal starts its own line.
    const struct {
        std::string file, said;
        bool left, right;  // pending afterwards
    } cases[] = {
        {"right 0.3 250 0 0 0 0 0 0 ../../etc left 0.25 245 0 0 0 0 0 0",
         "\ninsole parameters.txt: job name \"../../etc\" refused", false, false},
        {"left 0.25 245 0 0 0 0 0 0 right 0.3 250 0 0 0 0 0 0 " + std::string(93, 'n'),
         "insole parameters.txt: job name \"" + std::string(92, 'n') + "...\" refused", false, false},
        {"left 0.25 245", "\ninsole parameters.txt: refused whole (its \"left\" record is cut short", false, false},
        {"right 0.3 -300 0 0 0 0 0 0 neg left 0.25 245 0 0 0 0 0 0",
         "\ninsole parameters.txt: job \"neg\": the right record is refused (its foot length -300 mm is not "
         "positive)",
         true, false},
    };
    for (const auto& k : cases) {
        auto view = std::make_unique<InsoleImage>();
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(view->accept_handoff(parse(k.file), "insole parameters.txt"), k.left || k.right);
        const std::string said = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(said.rfind(k.said, 0), 0u) << said;
        EXPECT_EQ(view->left_pending, k.left) << k.file;
        EXPECT_EQ(view->right_pending, k.right) << k.file;
        EXPECT_TRUE(view->job_incomplete && view->job_ends_program) << k.file;
    }
}

// The image decides: a side spanning fewer rows than the path program prints
// (row 0 it never reads) is not saved; without a template an 80-row side
// fails in its save instead.
TEST(HandoffView, InsoleOfFewerThan80RowsIsNotSaved) {
    for (const int rows : {79, 80}) {
        auto view = std::make_unique<InsoleImage>();
        ASSERT_TRUE(view->accept_handoff(parse("left 0.25 245 0 0 0 0 0 0 right 0.3 250 0 0 0 0 0 0 j"), "f"));
        for (int r = 100; r < 100 + rows; ++r) view->output_plane[r][75] = 10;
        view->output_plane[0][75] = 10;
        view->rebuilt_side = 0;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(view->save_pending_side(RebuildRun::done), HandoffSave::left);
        const std::string said = ::testing::internal::GetCapturedStdout();
        EXPECT_TRUE(view->job_incomplete && view->job_save_failed == (rows == 80)) << said;
        EXPECT_EQ(said.find("job \"j\": the left insole spans 79 rows, fewer than the 80"), rows == 80 ? std::string::npos : 0);
    }
}

TEST(HandoffView, LengthIsTheFootLengthPlusTenInSinglePrecision) {
    auto view = std::make_unique<InsoleImage>();
    view->measured_length = 300, view->measured_width = 90, view->left_pending = true;
    view->left_values[1] = 127.99999237f;  // + 10 rounds to 138 in float, not in double
    ScalerControls c;
    view->apply_pending(c);
    EXPECT_DOUBLE_EQ(c.length, 138);
}

TEST(Poller, FiresOnceOnEachEvenSecond) {
    poll_state s;
    const std::pair<uint32_t, bool> ticks[] = {{1001, false}, {1002, true}, {1002, false},
                                               {1003, false}, {1004, true}, {1006, true}};
    for (const auto& [second, fires] : ticks) EXPECT_EQ(poll_fires(s, second), fires) << second;
}

}  // namespace
