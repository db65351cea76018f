// The parameter file readers and writers on their own: formats, blanks,
// PointSpacing.txt, origin_point.txt, text blocks and Parameters.txt.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
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

TEST(ParamOneValue, FloatReadBackIsSinglePrecision) {
    OneValue v = parse("0.300000", ParamFile::F, 0);
    EXPECT_TRUE(v.number);
    EXPECT_EQ(v.value, static_cast<double>(0.3f));
    EXPECT_NE(v.value, 0.3);
    // "%d" written, "%f" read: an integer comes back as a double.
    EXPECT_EQ(parse("3", ParamFile::DF, 0).value, 3.0);
    EXPECT_EQ(parse("  \n 12.5xyz", ParamFile::F, 0).value, 12.5);
}

TEST(ParamOneValue, BlankAndMalformedGiveTheBlankValue) {
    EXPECT_FALSE(parse("", ParamFile::F, 2.0).number);
    // "%d" stops at the first non-digit and saturates huge numbers.
    const struct {
        const char* text;
        ParamFile fmt;
        double blank, value;
    } cases[] = {{"", ParamFile::F, 2.0, 2.0},        {"\n\n", ParamFile::D, 1, 1},
                 {"abc", ParamFile::D, 1, 1},          {"-", ParamFile::D, 1, 1},
                 {"nan", ParamFile::F, 0, 0},          {"1e99", ParamFile::F, 0, 0},
                 {"7.9", ParamFile::D, 0, 7},          {"99999999999999999999", ParamFile::D, 0, 2147483647.0},
                 {"-99999999999999999999", ParamFile::D, 0, -2147483648.0}, {"1\n", ParamFile::DN, 0, 1}};
    for (const auto& c : cases) EXPECT_EQ(parse(c.text, c.fmt, c.blank).value, c.value) << c.text;
}

TEST(ParamPointSpacing, LinesAndBlanks) {
    EXPECT_EQ(format_point_spacing(3, 1), "3\n1\n");
    EXPECT_EQ(format_point_spacing(4, -1), "4\n-1\n");
    auto ps = [](const std::string& s) { return parse_point_spacing(s.data(), s.size()); };
    EXPECT_EQ(ps("3\n1\n").point_space, 3);
    EXPECT_EQ(ps("3\n1\n").interval_index, 1);
    EXPECT_EQ(ps("4\n-1\n").interval_index, -1);
    // A blank second line repeats the first; both blank give 1.
    EXPECT_EQ(ps("5\n").interval_index, 5);
    EXPECT_EQ(ps("").point_space, 1);
    EXPECT_EQ(ps("").interval_index, 1);
    EXPECT_EQ(ps("x\n2\n").point_space, 1);
    EXPECT_EQ(ps("x\n2\n").interval_index, 1);
}

// Long text blocks are read whole through their widgets (the widget test).
// The exact bytes of Parameters.txt are checked through the widgets in param_widgets_test.
TEST(ParamJson, StoreRoundTrip) {
    testsupport::TempDir dir;
    engine::PlainParamStore a;
    a.set_value(engine::va_spacing, 0.2);
    a.set_value(engine::va_extrusion, 0.15);
    a.set_value(engine::va_first_speed, 1200.7);
    a.set_value(engine::va_other_speed, 1800);
    a.set_value(engine::origin_x, 30);
    a.set_value(engine::origin_y, -40.9);
    ASSERT_TRUE(save_parameters_json_file(a, dir / PARAMETERS_FILE));
    engine::PlainParamStore b;
    ASSERT_TRUE(load_parameters_json_file(b, dir / PARAMETERS_FILE));
    EXPECT_DOUBLE_EQ(b.value(engine::va_spacing), 0.2);
    EXPECT_DOUBLE_EQ(b.value(engine::va_extrusion), 0.15);
    EXPECT_EQ(b.value(engine::va_first_speed), 1200);
    EXPECT_EQ(b.value(engine::va_other_speed), 1800);
    EXPECT_EQ(b.value(engine::origin_x), 30);
    EXPECT_EQ(b.value(engine::origin_y), -40);
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

    // Only the keys present, numeric and in their widget's range are taken; case is ignored.
    put(p, "{\"spacing\":0.3,\"X\":\"12\",\"y\":5,\"Extrusion\":11,\"First_Speed\":-5,\"Other_Speed\":1e5}");
    EXPECT_TRUE(load_parameters_json_file(s, p));
    EXPECT_DOUBLE_EQ(s.value(engine::va_spacing), 0.3);
    EXPECT_EQ(s.value(engine::origin_x), 7);
    EXPECT_EQ(s.value(engine::origin_y), 5);
    EXPECT_EQ(s.value(engine::va_extrusion) + s.value(engine::va_first_speed), 0.1 + 0);
    EXPECT_EQ(s.value(engine::va_other_speed), 100000);
}

TEST(ParamJson, LongFileReadWhole) {
    // Far more than 511 characters before the last key.
    std::string text = "{\"Comment\":\"" + std::string(2000, 'a') + "\",\"Spacing\":0.25,\"Y\":9}";
    ParametersJson p;
    ASSERT_TRUE(parse_parameters_json(text.data(), text.size(), p));
    EXPECT_TRUE(p.has_spacing);
    EXPECT_EQ(p.spacing, 0.25);
    EXPECT_TRUE(p.has_y);
    EXPECT_FALSE(p.has_x);
}
