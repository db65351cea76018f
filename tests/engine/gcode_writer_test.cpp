// The G-code writer: exact line forms of a layer, priming, skipped layers,
// E resets, contour-mode extrusion, file open and rename failures.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/gcode_writer.h"
#include "engine/layer_raster.h"
#include "engine/layer_slicer.h"
#include "engine/params.h"
#include "platform/platform.h"
#include "tests/support/gcode_check.h"
#include "tests/support/gl_context.h"

using namespace engine;
using testsupport::check_gcode;
using testsupport::read_text_file;

namespace {

PathPoint pt(float x, float y) {
    PathPoint p;
    p.x = x;
    p.y = y;
    return p;
}

class GcodeWriter : public ::testing::Test {
protected:
    void SetUp() override {
        set_param_store(&store);
        store.set_text(tx_begin_area, "START");
        store.set_text(tx_end_area, "END");
        store.set_value(va_spacing, 0.1);
        store.set_value(va_first_layer_height, 0.3);
        store.set_value(va_thick_of_first_layer, 0.3);
        store.set_value(va_back_extrusion, 15);
        store.set_value(va_pre_extrusion, 19);
        store.set_value(va_up_move, 0.6);
        store.set_value(va_first_speed, 1200);
        store.set_value(va_other_speed, 1800);
        store.set_value(va_empty_speed, 3000);
        store.set_value(va_back_speed, 2400);
        store.set_value(va_extrusion, 0.1);
        store.set_value(bt_contour, 0);
        store.set_value(va_start_layer, 0);
        z_skip_offset() = 0;
        r = std::make_unique<LayerRaster>();
    }
    void TearDown() override {
        if (r->gcode_file) std::fclose(r->gcode_file);
        r->gcode_file = nullptr;
        set_param_store(nullptr);
    }
    std::string begin(const std::string& name) {
        std::string path = dir / name;
        EXPECT_TRUE(begin_gcode_file(*r, path));
        return path;
    }
    void write_layer(float L) {
        store.set_value(va_layer_index, L);
        r->layer = (int)L;
        write_gcode_layer(*r, in);
    }
    std::string finish(const std::string& path) {
        end_gcode_run(*r, in);
        std::string text;
        EXPECT_TRUE(read_text_file(path, &text));
        return text;
    }

    PlainParamStore store;
    SliceInputs in;
    std::unique_ptr<LayerRaster> r;
    testsupport::TempDir dir;
};

}  // namespace

TEST_F(GcodeWriter, OneLayerLineFormsExactly) {
    std::string path = begin("one.gcode");
    EXPECT_EQ(r->gcode_file_open, 1);
    EXPECT_EQ(r->path_request, 1);
    EXPECT_EQ(r->full_path_request, 1);
    r->lines = {{pt(100, 100), pt(110, 100), pt(110, 120)}};
    write_layer(1);
    std::string text = finish(path);
    EXPECT_EQ(text,
              "START\n"
              "\n\nG1 Z0.40\n"
              "\n\nG92 E0\n"
              "G1 E-15.000 F2400\n"
              "G1 F3000 \n"
              "G1 Z1.00  \n"
              "G1 X100.00 Y100.00 \n"
              "G1 Z0.40 \n"
              "G1 E4.000 F2400\n"
              "G1 F1800 \n"
              "G1 X110.00 Y100.00 E5.000\n"
              "G1 X110.00 Y120.00 E7.000\n"
              "\n"
              "\nEND");
    EXPECT_EQ(r->gcode_file_open, 0);
    EXPECT_EQ(r->path_request, 0);
    EXPECT_EQ(r->full_path_request, 0);
    EXPECT_EQ(r->run_total, 30);
    EXPECT_EQ(store.value(out_extrusion_length), 30);
}

TEST_F(GcodeWriter, LayerZeroOutlinePrimingAndFirstPathPrimedWith26) {
    store.set_value(bt_contour, 1);
    std::string path = begin("zero.gcode");
    // Outline of two points one cell apart, no separators.
    r->cleaned_points = {pt(150, 180), pt(151, 180)};
    r->lines = {{pt(100, 100), pt(110, 100)}, {pt(100, 110), pt(110, 110)}};
    write_layer(0);
    std::string text = finish(path);
    auto c = check_gcode(text, "START", "END");
    ASSERT_TRUE(c.ok()) << c.report();
    ASSERT_EQ(c.layers.size(), 1u);
    const auto& l = c.layers[0];
    EXPECT_DOUBLE_EQ(l.z, 0.30);
    EXPECT_EQ(l.resets, 2);  // after the header and after the outline block
    EXPECT_NE(text.find("G1 X25.00 Y10.00\nG1 Z0.30 \nG1 E4.000 F2400\nG1 F1800\nG1 X25.00 Y160.00 E19.000\n"),
              std::string::npos)
        << text;
    // E restarts at each reset: the first retract of each block is -15.
    ASSERT_EQ(l.first_e_after_reset.size(), 2u);
    EXPECT_DOUBLE_EQ(l.first_e_after_reset[0], -15);
    EXPECT_DOUBLE_EQ(l.first_e_after_reset[1], -15);
    // Path block: retract -15, prime +26 on the first path; the second path
    // retracts 15 and primes with the usual 19.
    ASSERT_GE(l.e_lines.size(), 4u);
    size_t k = l.e_lines.size() - 4;
    EXPECT_DOUBLE_EQ(l.e_lines[k + 1] - l.e_lines[k], 26);
    EXPECT_NEAR(l.e_lines[k + 3] - l.e_lines[k + 2], 19, 1e-3);
    // Layer 0 paths work at the first-layer speed.
    ASSERT_GE(l.work_feeds.size(), 2u);
    EXPECT_EQ(l.work_feeds[l.work_feeds.size() - 1], 1200);
    EXPECT_EQ(l.work_feeds[l.work_feeds.size() - 2], 1200);
}

TEST_F(GcodeWriter, OutlineBlockTravelsAtGapsAndSharpLongStepsExactly) {
    store.set_value(bt_contour, 1);
    std::string path = begin("outline.gcode");
    // (151,180) -> (151,191) is neither one column nor one row: a gap. The
    // 12-cell step to (153,203) turns back sharply to (152,192): a travel.
    // The last step is long too but has no next point: it extrudes.
    r->cleaned_points = {pt(150, 180), pt(151, 180), pt(151, 191), pt(152, 191), pt(153, 203), pt(152, 192)};
    r->lines = {{pt(100, 100), pt(110, 100)}};
    testing::internal::CaptureStdout();
    write_layer(1);
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("x y 0.000000 0.000000\n"), std::string::npos) << said;
    std::string text = finish(path);
    const std::string travel_tail = "G1 F3000 \nG1 Z1.00  \n";
    EXPECT_EQ(text,
              "START\n"
              "\n\nG1 Z0.40\n"
              "\n\nG92 E0\n"
              "G1 E-15.000 F2400\n" + travel_tail + "G1 X150.00 Y180.00\nG1 Z0.40 \nG1 E4.000 F2400\nG1 F1800\n"
              "G1 X151.00 Y180.00 E4.060\n"
              "G1 E-10.940 F2400\n" + travel_tail + "G1 X151.00 Y191.00\nG1 Z0.40 \nG1 E8.060 F2400\nG1 F1800\n"
              "G1 X152.00 Y191.00 E8.120\n"
              "G1 E-6.880 F2400\n" + travel_tail + "G1 X153.00 Y203.00\nG1 Z0.40 \nG1 E12.120 F2400\nG1 F1800\n"
              "G1 X152.00 Y192.00 E12.783\n"
              "\n\nG92 E0\n"
              "G1 E-15.000 F2400\n" + travel_tail + "G1 X100.00 Y100.00 \nG1 Z0.40 \nG1 E4.000 F2400\nG1 F1800 \n"
              "G1 X110.00 Y100.00 E5.000\n"
              "\n"
              "\nEND");
    // Outline steps count whole millimetres as they go: 1 + 1 + 11.05 -> 13, then the path's 10.
    EXPECT_EQ(r->run_total, 23);
}

TEST_F(GcodeWriter, SkippedLayersShiftLaterHeights) {
    store.set_value(va_start_layer, 0.45);
    std::string path = begin("skip.gcode");
    for (int L = 0; L < 4; ++L) {
        r->lines = {{pt(100, 100), pt(140, 100)}};
        write_layer((float)L);
    }
    EXPECT_FLOAT_EQ(z_skip_offset(), 0.4f);
    std::string text = finish(path);
    auto c = check_gcode(text, "START", "END");
    ASSERT_TRUE(c.ok()) << c.report();
    ASSERT_EQ(c.layers.size(), 2u);
    EXPECT_DOUBLE_EQ(c.layers[0].z, 0.10);
    EXPECT_DOUBLE_EQ(c.layers[1].z, 0.20);
    z_skip_offset() = 0;
}

TEST_F(GcodeWriter, LayerWithoutPathsWritesNothing) {
    std::string path = begin("empty.gcode");
    r->lines.clear();
    store.set_value(va_start_layer, 5);  // would skip, but a pathless layer touches nothing
    write_layer(0);
    EXPECT_EQ(z_skip_offset(), 0);
    std::string text = finish(path);
    EXPECT_EQ(text, "START\n\nEND");
}

TEST_F(GcodeWriter, PrintTimeIsPathLengthOverWorkSpeed) {
    r->lines = {{pt(100, 100), pt(200, 100)}};
    std::string path = begin("time.gcode");
    write_layer(0);
    finish(path);
    EXPECT_EQ(store.value(out_time), 0);  // only the last layer written: nothing counted yet
    path = begin("time2.gcode");
    write_layer(0);
    write_layer(1);  // the header of layer 1 adds layer 0's 100 mm
    finish(path);
    EXPECT_NEAR(store.value(out_time), 100.0 / 1800 / 60, 1e-9);
    // No work speed: no estimate rather than a division by zero.
    store.set_value(va_other_speed, 0);
    path = begin("time3.gcode");
    write_layer(0);
    write_layer(1);
    finish(path);
    EXPECT_EQ(store.value(out_time), 0);
}

TEST_F(GcodeWriter, ContourModeExtrusionFollowsRows) {
    store.set_value(ck_contour_mode, 1);
    store.set_value(ck_self_def_angle, 0);
    store.set_value(va_extrusion_min, 0.1);
    store.set_value(va_extrusion_max, 0.5);
    in.contour_first_row = 100;
    in.contour_row_count = 50;
    std::string path = begin("contour.gcode");
    // Segment of 10 on row 100 (minimum), then 10 on row 150 (maximum).
    r->lines = {{pt(100, 100), pt(110, 100), pt(110, 150), pt(120, 150)}};
    write_layer(1);
    std::string text = finish(path);
    // e_base after prime = 4; E = 4 + 10*0.1 = 5; then the 50-long segment
    // ends on row 150: 50 * 0.5 = 25 -> 30; then 10 * 0.5 -> 35.
    EXPECT_NE(text.find("G1 X110.00 Y100.00 E5.000\nG1 X110.00 Y150.00 E30.000\nG1 X120.00 Y150.00 E35.000\n"),
              std::string::npos)
        << text;
    // Without set rows in the contour image the minimum is used, not a division by zero.
    in.contour_row_count = 0;
    path = begin("contour0.gcode");
    write_layer(1);
    text = finish(path);
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(text.find("inf"), std::string::npos);
}

TEST_F(GcodeWriter, UnopenableFileAbandonsJobCleanly) {
    std::string path = dir / "no-such-dir/job.gcode";
    r->path_request = 1;
    r->full_path_request = 1;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(begin_gcode_file(*r, path));
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find(path), std::string::npos) << said;
    EXPECT_EQ(r->gcode_file_open, 0);
    EXPECT_EQ(r->gcode_file, nullptr);
    EXPECT_EQ(r->path_request, 0);
    EXPECT_EQ(r->full_path_request, 0);
    r->lines = {{pt(100, 100), pt(110, 100)}};
    write_layer(0);
    end_gcode_run(*r, in);
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0);
}

TEST_F(GcodeWriter, FinishedFileMovesToFinalNameReplacingOlder) {
    std::string temp = dir / "abc.tmp.gcode", final_path = dir / "abc.gcode";
    {
        FILE* f = std::fopen(final_path.c_str(), "w");
        std::fputs("old", f);
        std::fclose(f);
    }
    ASSERT_TRUE(begin_gcode_file(*r, temp, final_path));
    r->lines = {{pt(100, 100), pt(110, 100)}};
    write_layer(1);
    end_gcode_run(*r, in);
    std::string text;
    EXPECT_FALSE(read_text_file(temp, &text));
    ASSERT_TRUE(read_text_file(final_path, &text));
    EXPECT_TRUE(check_gcode(text, "START", "END").ok());
}

TEST_F(GcodeWriter, FailedRenameIsReportedAndFileStaysWhole) {
    std::string temp = dir / "abc.gcode", final_path = dir / "missing-dir/abc.gcode";
    ASSERT_TRUE(begin_gcode_file(*r, temp, final_path));
    r->lines = {{pt(100, 100), pt(110, 100)}};
    write_layer(1);
    testing::internal::CaptureStdout();
    end_gcode_run(*r, in);
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("cannot move G-code file"), std::string::npos) << said;
    EXPECT_NE(said.find("End Saving"), std::string::npos);
    std::string text;
    ASSERT_TRUE(read_text_file(temp, &text));
    EXPECT_TRUE(check_gcode(text, "START", "END").ok());
}

TEST_F(GcodeWriter, BatchHandOffOnlyWhileBatchRuns) {
    int calls = 0;
    in.batch_job_done = [&] { ++calls; };
    end_gcode_run(*r, in);
    EXPECT_EQ(calls, 0);
    in.batch_job_running = true;
    end_gcode_run(*r, in);
    EXPECT_EQ(calls, 1);
}

TEST(GcodeChecker, RejectsUnknownFormsAndMissingReset) {
    auto c = check_gcode("S\n\n\nG1 Z0.30\n\n\nG92 E0\nG1 X1.00 Y2.00 \nG1 X1 Y2\n\nE", "S", "E");
    EXPECT_FALSE(c.ok());
    c = check_gcode("S\n\n\nG1 Z0.30\nG1 E-1.000 F10\n\nE", "S", "E");
    EXPECT_FALSE(c.ok());
    c = check_gcode("S\n\n\nG1 Z0.30\n\n\nG92 E0\nG1 E-1.000 F10\n\nE", "S", "E");
    EXPECT_TRUE(c.ok()) << c.report();
}

TEST_F(GcodeWriter, BatchJobWritesInTempAndEndsBesideIt) {
    const char* old_files = std::getenv("STATION_FILES_DIR");
    std::string saved = old_files ? old_files : "";
    setenv("STATION_FILES_DIR", dir.path().c_str(), 1);
    mkdir((dir / "temp").c_str(), 0755);
    std::string cwd = platform::current_dir();
    ASSERT_TRUE(begin_gcode_file(*r, platform::map_path("C:\\VerdanelFiles\\temp\\abc.gcode"),
                                 platform::map_path("C:\\VerdanelFiles\\abc.gcode")));
    EXPECT_EQ(gcode_open_path(), dir / "temp/abc.gcode");
    r->lines = {{pt(100, 100), pt(110, 100)}};
    write_layer(0);
    end_gcode_run(*r, in);
    std::string text;
    EXPECT_FALSE(read_text_file(dir / "temp/abc.gcode", &text));
    ASSERT_TRUE(read_text_file(dir / "abc.gcode", &text));
    EXPECT_TRUE(check_gcode(text, "START", "END").ok());
    platform::change_dir(cwd);
    if (old_files)
        setenv("STATION_FILES_DIR", saved.c_str(), 1);
    else
        unsetenv("STATION_FILES_DIR");
}

