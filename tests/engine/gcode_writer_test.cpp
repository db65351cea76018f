// The G-code writer: exact line forms of a layer, priming, skipped layers,
// E resets, contour-mode extrusion, file open and rename failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "engine/gcode_writer.h"
#include "engine/layer_raster.h"
#include "engine/layer_slicer.h"
#include "engine/params.h"
#include "platform/platform.h"
#include "tests/engine/insole_test_support.h"
#include "tests/support/gcode_check.h"
#include "tests/support/gl_context.h"

using namespace engine;
using insoletest::pt;
using testsupport::check_gcode;
using testsupport::read_text_file;

namespace {

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
        // Material everywhere, so no step crosses empty space unless a test
        // clears some.
        std::memset(r->layer_plane, 1, sizeof(Plane));
        r->step = 3;
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
    // A job of one 10 mm path on layer 1 written to temp, to be moved to
    // final_path; what the end of the job says.
    std::string one_layer_job(const std::string& temp, const std::string& final_path) {
        EXPECT_TRUE(begin_gcode_file(*r, temp, final_path));
        r->lines = {{pt(100, 100), pt(110, 100)}};
        write_layer(1);
        return insoletest::console_of([&] { end_gcode_run(*r, in); });
    }
    // A job of one 10 mm path a layer (none on empty_layer); its text.
    std::string job(const std::string& name, int layers, int empty_layer = -1) {
        const std::string path = begin(name);
        for (int L = 0; L < layers; ++L) {
            r->lines.clear();
            if (L != empty_layer) r->lines = {{pt(100, 100), pt(110, 100)}};
            write_layer((float)L);
        }
        return finish(path);
    }

    PlainParamStore store;
    SliceInputs in;
    std::unique_ptr<LayerRaster> r;
    testsupport::TempDir dir;
};

}  // namespace

TEST_F(GcodeWriter, TwoLayersWithOutlineExactly) {
    store.set_value(bt_contour, 1);
    std::string path = begin("outline.gcode");
    EXPECT_EQ(r->gcode_file_open + r->path_request + r->full_path_request, 3);
    int handed_on = 0;  // no batch runs: the end of the job hands nothing on
    in.batch_job_done = [&] { ++handed_on; };
    // Layer 0 primes along x 25 first (150 mm at 0.1). (151,180) -> (151,191)
    // is neither one column nor one row: a gap. The 12-cell step to
    // (153,203) turns back sharply to (152,192): a travel. The last step is
    // long too but has no next point: it extrudes. The first path is primed
    // with 26, the next with 19, both worked at the first-layer speed.
    // Layer 1, without outline, primes with 19 and works at the usual speed.
    r->cleaned_points = {pt(150, 180), pt(151, 180), pt(151, 191), pt(152, 191), pt(153, 203), pt(152, 192)};
    r->lines = {{pt(100, 100), pt(110, 100)}, {pt(100, 110), pt(110, 110)}};
    testing::internal::CaptureStdout();
    write_layer(0);
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("x y 0.000000 0.000000\n"), std::string::npos) << said;
    store.set_value(bt_contour, 0);
    r->lines = {{pt(100, 100), pt(110, 100), pt(110, 120)}};
    write_layer(1);
    std::string text = finish(path);
    EXPECT_EQ(r->gcode_file_open + r->path_request + r->full_path_request, 0);
    const std::string up = "G1 F3000 \nG1 Z0.90  \n", down = "G1 Z0.30 \n";
    EXPECT_EQ(text,
              "START\n"
              "\n\nG1 Z0.30\n"
              "\n\nG92 E0\n"
              "G1 E-15.000 F2400\n" + up + "G1 X25.00 Y10.00\n" + down + "G1 E4.000 F2400\nG1 F1800\n"
              "G1 X25.00 Y160.00 E19.000\n"
              "G1 E4.000 F2400\n" + up + "G1 X150.00 Y180.00\n" + down + "G1 E23.000 F2400\nG1 F1800\n"
              "G1 X151.00 Y180.00 E23.060\n"
              "G1 E8.060 F2400\n" + up + "G1 X151.00 Y191.00\n" + down + "G1 E27.060 F2400\nG1 F1800\n"
              "G1 X152.00 Y191.00 E27.120\n"
              "G1 E12.120 F2400\n" + up + "G1 X153.00 Y203.00\n" + down + "G1 E31.120 F2400\nG1 F1800\n"
              "G1 X152.00 Y192.00 E31.783\n"
              "\n\nG92 E0\n"
              "G1 E-15.000 F2400\n" + up + "G1 X100.00 Y100.00 \n" + down + "G1 E11.000 F2400\nG1 F1200 \n"
              "G1 X110.00 Y100.00 E12.000\n"
              "\n"
              "G1 E-3.000 F2400\n" + up + "G1 X100.00 Y110.00 \n" + down + "G1 E16.000 F2400\nG1 F1200 \n"
              "G1 X110.00 Y110.00 E17.000\n"
              "\n"
              "\n\nG1 Z0.40\n"
              "\n\nG92 E0\n"
              "G1 E-15.000 F2400\nG1 F3000 \nG1 Z1.00  \nG1 X100.00 Y100.00 \nG1 Z0.40 \nG1 E4.000 F2400\nG1 F1800 \n"
              "G1 X110.00 Y100.00 E5.000\n"
              "G1 X110.00 Y120.00 E7.000\n"
              "\n"
              "\nEND");
    // Outline steps count whole millimetres as they go: 1 + 1 + 11.05 -> 13,
    // then the paths' 20 and 30.
    EXPECT_EQ(r->run_total, 63);
    EXPECT_EQ(store.value(out_extrusion_length), 63);
    EXPECT_EQ(handed_on, 0);
}

TEST_F(GcodeWriter, SkippedLayersShiftOnlyTheirOwnJob) {
    // Start layer 0.45: layers 0 (0.3) and 1 (0.4) are skipped, 0.5 and 0.6
    // print 0.4 lower. Back at 0, the next file prints at its own 0.3 and
    // 0.4, from its first layer with paths (layer 1): on the bed, not above
    // an empty layer 0.
    store.set_value(va_start_layer, 0.45);
    for (const auto& [name, layers, empty, z0] : {std::tuple{"skip.gcode", 4, -1, 0.10}, {"again.gcode", 3, 0, 0.30}}) {
        const auto c = check_gcode(job(name, layers, empty), "START", "END");
        ASSERT_TRUE(c.ok()) << c.report();
        ASSERT_EQ(c.layers.size(), 2u);
        EXPECT_DOUBLE_EQ(c.layers[0].z, z0);
        EXPECT_DOUBLE_EQ(c.layers[1].z, z0 + 0.1);
        store.set_value(va_start_layer, 0);
    }
}

// A pathless layer touches nothing; a job of such layers alone is not a
// finished G-code file: it is removed, never moved to its final name.
TEST_F(GcodeWriter, LayerWithoutPathsWritesNothingAndAJobOfNoneLeavesNoFile) {
    // After a job that printed a layer: the count of layers is the job's own.
    job("printed.gcode", 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "printed.gcode"));
    const std::string path = dir / "empty.tmp", final_path = dir / "empty.gcode";
    ASSERT_TRUE(begin_gcode_file(*r, path, final_path));
    r->lines.clear();
    store.set_value(va_start_layer, 5);  // would skip, but a pathless layer touches nothing
    write_layer(0);
    EXPECT_EQ(z_skip_offset(), 0);
    EXPECT_EQ(insoletest::console_of([&] { end_gcode_run(*r, in); }).rfind("ERROR: ", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(path) || std::filesystem::exists(final_path));
}

TEST_F(GcodeWriter, PrintTimeIsPathLengthOverWorkSpeed) {
    job("time.gcode", 1);
    EXPECT_EQ(store.value(out_time), 0);  // only the last layer written: nothing counted yet
    job("time2.gcode", 2);                // the header of layer 1 adds layer 0's 10 mm
    EXPECT_NEAR(store.value(out_time), 10.0 / 1800 / 60, 1e-9);
    store.set_value(va_other_speed, 0);  // no work speed: no estimate rather than a division by zero
    job("time3.gcode", 2);
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
    const std::string said = insoletest::console_of([&] { EXPECT_FALSE(begin_gcode_file(*r, path)); });
    EXPECT_NE(said.find(path), std::string::npos) << said;
    EXPECT_EQ(r->gcode_file_open, 0);
    EXPECT_EQ(r->gcode_file, nullptr);
    EXPECT_EQ(r->path_request, 0);
    EXPECT_EQ(r->full_path_request, 0);
    r->lines = {{pt(100, 100), pt(110, 100)}};
    write_layer(0);
    end_gcode_run(*r, in);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(GcodeWriter, FailedRenameIsReportedAndFileStaysWhole) {
    std::string temp = dir / "abc.gcode";
    const std::string said = one_layer_job(temp, dir / "missing-dir/abc.gcode");
    EXPECT_NE(said.find("cannot move G-code file"), std::string::npos) << said;
    EXPECT_NE(said.find("End Saving"), std::string::npos);
    EXPECT_TRUE(check_gcode(testsupport::slurp(temp), "START", "END").ok());
}

TEST_F(GcodeWriter, TakenFinalNameIsNeverReplacedAndTheNewFileWaitsUnderANumber) {
    // Another job's file (a slipper download) holds the final name.
    std::string temp = dir / "A1_iLeft.gcode.tmp", final_path = dir / "A1_iLeft.gcode";
    testsupport::put(final_path, "slipper");
    testsupport::put(temp + ".2", "kept earlier");
    const std::string said = one_layer_job(temp, final_path);
    EXPECT_NE(said.find(final_path + " exists and is not replaced; the new G-code waits at " + temp + ".3"),
              std::string::npos) << said;
    EXPECT_EQ(testsupport::slurp(final_path), "slipper");
    EXPECT_EQ(testsupport::slurp(temp + ".2"), "kept earlier");
    EXPECT_TRUE(check_gcode(testsupport::slurp(temp + ".3"), "START", "END").ok());
    EXPECT_FALSE(std::filesystem::exists(temp)) << "the temp name is free for the next job of that name";
}

TEST_F(GcodeWriter, MarkedImageHeightsAndFirstTwoLayersExtrudeHalfAsMuchAgain) {
    // Spacing 0.1, first-layer thickness 0.3, extrusion 0.1 per mm; a 10 mm
    // path per layer after a prime to E 4 (11 on layer 0: -15 + 26).
    const char* want[2][6] = {{"0.30 E12.000", "0.40 E5.000", "0.50 E5.000", "0.60 E5.000", "0.70 E5.000", "0.80 E5.000"},
                              {"0.30 E12.500", "0.60 E5.500", "0.90 E5.000", "1.20 E5.000", "1.30 E5.000", "1.40 E5.000"}};
    for (int marks = 0; marks < 2; ++marks) {
        r->has_marks = (uint8_t)marks;
        const std::string text = job("marks.gcode", 6);
        // Each layer's height and its one extrusion, as "Z E".
        std::string got;
        for (size_t p = text.find("\n\nG1 Z"); p != std::string::npos; p = text.find("\n\nG1 Z", p + 1)) {
            const size_t e = text.find("G1 X110.00 Y100.00 E", p);
            got += text.substr(p + 6, 4) + " " + text.substr(e + 19, text.find('\n', e) - e - 19) + ";";
        }
        std::string expected;
        for (const char* w : want[marks]) expected += std::string(w) + ";";
        EXPECT_EQ(got, expected) << "marks " << marks;
    }
}

TEST_F(GcodeWriter, OutlineTravelsPastLongSharpTurnsAndAcrossGaps) {
    // From (159, y) to (160, 200): one column over, so no separator. The
    // angle at (160, 200) between the way back and the step to
    // (160 + dx, 200 + dy) decides, when the step to it is over 10 long;
    // so does an empty band of rows that the step crosses, when more than 2
    // of them lie under it and some of it lies more than a cell from material.
    auto turn = [](float from_y, float dx, float dy) {
        return std::vector<PathPoint>{pt(158, 188), pt(159, from_y), pt(160, 200), pt(160 + dx, 200 + dy), pt(161 + dx, 200 + dy)};
    };
    struct Case {
        std::vector<PathPoint> points;  // whether points[to] is reached by a travel
        size_t to;
        int x0, x1, y0, y1;  // cells cleared
        bool travel;
    } cases[] = {
        {turn(188, 2.17f, 1), 2, 0, -1, 0, -1, true},        // 12.04 long, 119.50 degrees
        {turn(188, 2.07f, 1), 2, 0, -1, 0, -1, false},       // 12.04 long, 120.54 degrees
        {turn(190.04f, 0.3f, -1), 2, 0, -1, 0, -1, true},    // 10.01 long, 22.5 degrees
        {turn(190.06f, 0.3f, -1), 2, 0, -1, 0, -1, false},   // 9.99 long, the same turn
        {turn(188, 2.07f, 1), 2, 150, 170, 190, 197, true},  // the straight-on step over 8 empty rows
        {turn(188, 2.07f, 1), 2, 150, 170, 192, 194, true},  // over 3: the middle row 1.5 from material
        {turn(188, 2.07f, 1), 2, 150, 170, 192, 193, false}, // over 2: each within a cell of material
        // (6, 10) and (13, 20) lie on one line through (-1, 0), the
        // separator's own coordinates; the step between them is a gap all the same.
        {{pt(5, 5), pt(6, 10), pt(13, 20), pt(14, 20), pt(15, 22)}, 2, 0, -1, 0, -1, true},
        // Two blocks of material: the outline's jump from one to the other
        // moves a single row, so no separator stands there, and hardly
        // turns; it is a travel all the same.
        {{pt(100, 121), pt(100, 120), pt(101, 120), pt(131, 119), pt(132, 119), pt(132, 118)}, 3, 106, 127, 0, 359, true},
    };
    store.set_value(bt_contour, 1);
    for (const Case& c : cases) {
        std::memset(r->layer_plane, 1, sizeof(Plane));
        for (int y = c.y0; y <= c.y1; ++y)
            for (int x = c.x0; x <= c.x1; ++x) r->layer_plane[y * RASTER_W + x] = 0;
        std::string path = begin("angle.gcode");
        r->cleaned_points = c.points;
        r->lines = {{pt(100, 100), pt(104, 100)}};
        write_layer(1);
        const std::string text = finish(path);
        char to[40];
        std::snprintf(to, sizeof to, "G1 X%.2f Y%.2f", c.points[c.to].x, c.points[c.to].y);
        const bool travelled = text.find(to + std::string("\nG1 Z0.30 \n")) != std::string::npos;
        const bool extruded = text.find(to + std::string(" E")) != std::string::npos;
        EXPECT_EQ(travelled, c.travel) << to << " " << c.y0 << "\n" << text;
        EXPECT_NE(travelled, extruded) << text;
    }
}

TEST_F(GcodeWriter, PathAcrossAGapIsWrittenAsTwoPaths) {
    // Material at x 95..115 and 125..145: the path's step from 110 to 130
    // crosses nine empty columns, seven of them more than a cell from
    // material. On both layer kinds the file is the one written for the two
    // pieces as paths of their own: the piece after the gap is reached by a
    // travel and primed as any later path, and the gap counts for nothing.
    std::memset(r->layer_plane, 0, sizeof(Plane));
    for (int y = 95; y <= 105; ++y)
        for (int x = 95; x <= 145; ++x) r->layer_plane[y * RASTER_W + x] = x <= 115 || x >= 125;
    const std::vector<PathPoint> whole = {pt(100, 100), pt(110, 100), pt(130, 100), pt(140, 100)};
    std::string text[2];
    int total[2];
    for (int split = 0; split < 2; ++split) {
        r->run_total = 0;
        std::string path = begin("split.gcode");
        for (int L = 0; L < 2; ++L) {
            if (split)
                r->lines = {{whole[0], whole[1]}, {whole[2], whole[3]}};
            else
                r->lines = {whole};
            write_layer((float)L);
        }
        text[split] = finish(path);
        total[split] = r->run_total;
    }
    EXPECT_EQ(text[0], text[1]);
    EXPECT_NE(text[0].find("G1 X110.00 Y100.00 E12.000\n\nG1 E-3.000 F2400\n"), std::string::npos) << text[0];
    EXPECT_EQ(total[0], 40);
}

TEST_F(GcodeWriter, BatchJobWritesInTempAndEndsBesideIt) {
    const char* old_files = std::getenv("STATION_FILES_DIR");
    std::string saved = old_files ? old_files : "";
    setenv("STATION_FILES_DIR", dir.path().c_str(), 1);
    std::filesystem::create_directory(dir / "temp");
    std::string cwd = platform::current_dir();
    ASSERT_TRUE(begin_gcode_file(*r, platform::map_path("C:\\VerdanelFiles\\temp\\abc.gcode"),
                                 platform::map_path("C:\\VerdanelFiles\\abc.gcode")));
    EXPECT_EQ(gcode_open_path(), dir / "temp/abc.gcode");
    r->lines = {{pt(100, 100), pt(110, 100)}};
    write_layer(0);
    int handed_on = 0;
    in.batch_job_running = true;
    in.batch_job_done = [&] { ++handed_on; };
    end_gcode_run(*r, in);
    EXPECT_EQ(handed_on, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "temp/abc.gcode"));
    EXPECT_TRUE(check_gcode(testsupport::slurp(dir / "abc.gcode"), "START", "END").ok());
    platform::change_dir(cwd);
    if (old_files)
        setenv("STATION_FILES_DIR", saved.c_str(), 1);
    else
        unsetenv("STATION_FILES_DIR");
}

