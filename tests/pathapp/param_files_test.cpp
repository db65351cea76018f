// The parameter file readers and writers on their own: formats, blanks,
// PointSpacing.txt, origin_point.txt, text blocks and Parameters.txt.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pathapp/param_files.h"
#include "tests/support/gl_context.h"

using namespace pathapp;
using engine::ParamFile;

namespace {

using testsupport::put;
using testsupport::slurp;

OneValue parse(const std::string& s, ParamFile fmt, double blank) {
    return parse_one_value(s.data(), s.size(), fmt, blank);
}

}  // namespace

// Each parameter's format is checked through its widget by the parameter-table test.
TEST(ParamOneValue, IntegersTruncateTowardZeroAndSaturateAndAnUnwritableFileIsSkipped) {
    EXPECT_EQ(format_one_value(ParamFile::D, -3.7), "-3");
    EXPECT_EQ(format_one_value(ParamFile::D, 1e20), "2147483647");
    testsupport::TempDir dir;
    EXPECT_FALSE(write_one_value_file(dir / "no/such/dir.txt", ParamFile::D, 1));
}

// "%f" reads back in single precision, "%d" written and "%f" read gives a
// double; "%d" stops at the first non-digit and saturates huge numbers; blank
// and malformed text gives the blank value.
TEST(ParamOneValue, ReadFormatsAndBlanks) {
    EXPECT_FALSE(parse("", ParamFile::F, 2.0).number);
    EXPECT_TRUE(parse("0.300000", ParamFile::F, 0).number);
    const struct {
        const char* text;
        ParamFile fmt;
        double blank, value;
    } cases[] = {{"0.300000", ParamFile::F, 0, static_cast<double>(0.3f)}, {"3", ParamFile::DF, 0, 3.0},
                 {"  \n 12.5xyz", ParamFile::F, 0, 12.5},
                 {"", ParamFile::F, 2.0, 2.0},        {"\n\n", ParamFile::D, 1, 1},
                 {"abc", ParamFile::D, 1, 1},          {"-", ParamFile::D, 1, 1},
                 {"nan", ParamFile::F, 0, 0},          {"1e99", ParamFile::F, 0, 0},
                 {"7.9", ParamFile::D, 0, 7},          {"99999999999999999999", ParamFile::D, 0, 2147483647.0},
                 {"-99999999999999999999", ParamFile::D, 0, -2147483648.0}, {"1\n", ParamFile::DN, 0, 1}};
    for (const auto& c : cases) EXPECT_EQ(parse(c.text, c.fmt, c.blank).value, c.value) << c.text;
}

TEST(ParamPointSpacing, LinesAndBlanks) {
    EXPECT_EQ(format_point_spacing(3, 1), "3\n1\n");
    EXPECT_EQ(format_point_spacing(4, -1), "4\n-1\n");
    // A blank second line repeats the first; both blank give 1.
    const struct {
        const char* text;
        int point_space, interval_index;
    } cases[] = {{"3\n1\n", 3, 1}, {"4\n-1\n", 4, -1}, {"5\n", 5, 5}, {"", 1, 1}, {"x\n2\n", 1, 1}};
    for (const auto& c : cases) {
        const auto got = parse_point_spacing(c.text, strlen(c.text));
        EXPECT_EQ(got.point_space * 100 + got.interval_index, c.point_space * 100 + c.interval_index) << c.text;
    }
}

// Long text blocks are read whole through their widgets (the widget test).
TEST(ParamJson, StoreRoundTrip) {
    testsupport::TempDir dir;
    // The speeds and the origin are whole numbers, cut toward zero.
    const struct {
        engine::ParamId id;
        double set, back;
    } cases[] = {{engine::va_spacing, 0.2, 0.2},         {engine::va_extrusion, 0.15, 0.15},
                 {engine::va_first_speed, 1200.7, 1200}, {engine::va_other_speed, 1800, 1800},
                 {engine::origin_x, 30, 30},             {engine::origin_y, -40.9, -40}};
    engine::PlainParamStore a, b;
    for (const auto& c : cases) a.set_value(c.id, c.set);
    ASSERT_TRUE(save_parameters_json_file(a, dir / PARAMETERS_FILE));
    EXPECT_EQ(slurp(dir / PARAMETERS_FILE), "{\n\"Spacing\":0.200000,\n\"Extrusion\":0.150000,\n\"First_Speed\":1200,\n"
                                            "\"Other_Speed\":1800,\n\"X\":30,\n\"Y\":-40\n}");
    ASSERT_TRUE(load_parameters_json_file(b, dir / PARAMETERS_FILE));
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(b.value(c.id), c.back) << c.set;
}

TEST(ParamJson, BadFilesLeaveValuesUnchanged) {
    testsupport::TempDir dir;
    std::string p = dir / PARAMETERS_FILE;
    engine::PlainParamStore s;
    s.set_value(engine::va_spacing, 0.5);
    s.set_value(engine::origin_x, 7);

    EXPECT_FALSE(load_parameters_json_file(s, dir / "missing.txt"));
    put(p, "{\"Spacing\":0.2,");  // cut short
    EXPECT_FALSE(load_parameters_json_file(s, p));
    put(p, "[1,2,3]");
    EXPECT_FALSE(load_parameters_json_file(s, p));
    EXPECT_EQ(s.value(engine::va_spacing), 0.5);

    // Only the keys present, numeric and in their widget's range are taken; case
    // is ignored; far more than 511 characters before the keys are read whole.
    put(p, "{\"Comment\":\"" + std::string(2000, 'a') + "\",\"spacing\":0.3,\"X\":\"12\",\"y\":5,\"Extrusion\":11,\"First_Speed\":-5,\"Other_Speed\":1e5}");
    EXPECT_TRUE(load_parameters_json_file(s, p));
    EXPECT_DOUBLE_EQ(s.value(engine::va_spacing), 0.3);
    EXPECT_EQ(s.value(engine::origin_x), 7);
    EXPECT_EQ(s.value(engine::origin_y), 5);
    EXPECT_EQ(s.value(engine::va_extrusion) + s.value(engine::va_first_speed), 0.1 + 0);
    EXPECT_EQ(s.value(engine::va_other_speed), 100000);
}
