// The whole layer pipeline under a GL context: a box sliced into a
// complete G-code file; the scaling program's insoles keeping their model;
// small faults of a foot, a foot at the image's side; the vertex-array
// cross-section against the reference triangle-by-triangle picture.
#include "tests/engine/slicer_gl_fixture.h"

using namespace slicergl;
using testsupport::check_gcode;
using Foot = footsamples::NamedFoot;

// The scaling program's insoles are the station's everyday input: their
// model stays byte for byte as it was before any foot with islands or a
// split arch could be printed whole. Measured to the image's top (its
// highest foot value / 5, less the 2 mm base), each prints up to the last
// layer below it, its small top plateau included.
TEST_F(SlicerGl, ScaledInsolesKeepTheirModelAndPrintToTheirTop) {
    const std::pair<const char*, uint64_t> pins[] = {
        {"fitmire_A_iLeft.bmp", 0xc18280f1b0c0bcb1ull},
        {"fitmire_A_iRight.bmp", 0xfc27bff28c15ca59ull},
        {"fitmire_B_iLeft.bmp", 0xa8c6f8bd855c2dbeull},
        {"fitmire_B_iRight.bmp", 0xabf1280d6f3a7d41ull},
    };
    for (const auto& [file, pin] : pins) {
        const std::vector<uint8_t> px = footsamples::read_foot_bmp(testsupport::testdata(file));
        ASSERT_TRUE(build_foot(px, -45)) << file;
        const std::string name = std::string(file) + ".gcode";
        std::string gcode;
        insoletest::console_of([&] { gcode = run_job(model, name); });
        EXPECT_EQ(fnv1a(model.data(), model.size() * sizeof(MeshTriangle)), pin) << file;
        EXPECT_NEAR(r->model_height, *std::max_element(px.begin(), px.end()) / 5.0 - 2.0, 0.05) << file;
        const double first_z = std::atof(gcode.c_str() + gcode.find("\n\nG1 Z") + 6);
        const double last_z = std::atof(gcode.c_str() + gcode.rfind("\n\nG1 Z") + 6);
        EXPECT_GE(std::lround((last_z - first_z) / 0.5) + 1, std::lround(r->model_height / 0.5) - 1) << file;
    }
}

// A pinhole in the midfoot, a speck beside the arch and a 3 x 6 notch at the
// toe tip are faults of a few pixels: every layer stays within 1 % of the
// plain foot's.
TEST_F(SlicerGl, SmallFaultsOfASoundFootMoveItsLayersByLessThanOnePerCent) {
    footsamples::DrawnFoot p;
    const std::vector<uint8_t> plain = footsamples::drawn_foot(p);
    const int arch = p.heel_y + static_cast<int>(0.4f * p.length);
    int x0 = -1, x1 = 0, tip = 0;  // the arch row's ends; the big toe's top row
    for (int x = 0; x < SHAPE_W; ++x)
        if (plain[arch * SHAPE_W + x]) x1 = x, x0 = x0 < 0 ? x : x0;
    for (int y = 0; y < SHAPE_H; ++y)
        for (int x = 0; x < SHAPE_W / 2; ++x)
            if (plain[y * SHAPE_W + x]) tip = y;
    std::vector<Foot> feet(4, {"plain", false, plain});
    feet[1].name = "pinhole", feet[1].pixels[arch * SHAPE_W + (x0 + x1) / 2] = 0;
    feet[2].name = "speck", footsamples::fill_box(feet[2].pixels, x0 - 8, arch, x0 - 6, arch + 2, 90);
    int t0 = 0;
    while (!plain[(tip - 2) * SHAPE_W + t0]) ++t0;
    feet[3].name = "notch", footsamples::fill_box(feet[3].pixels, t0, tip - 5, t0 + 2, tip, 0);
    std::vector<int> plain_cells;
    for (const Foot& f : feet) {
        ASSERT_TRUE(build_foot(f.pixels)) << f.name;
        for (int k = 0; k < 8; ++k) {
            cut(layer_cut_z(*r, static_cast<float>(k * 8), in));
            const int cells = RASTER_CELLS - (int)std::count(std::begin(r->layer_plane), std::end(r->layer_plane), 0);
            if (f.name == "plain") plain_cells.push_back(cells);
            else EXPECT_NEAR(cells, plain_cells[k], plain_cells[k] * 0.01) << f.name << " layer " << k * 8;
        }
    }
}

// A foot running into the image's side (the drawing stops at column 148, so
// column 149 repeats it, or column 0 column 1), straight or turned 35
// degrees, prints its first layer as the same foot a pixel further in does.
TEST_F(SlicerGl, FootAtTheImageSideIsPrintedLikeOnePixelIn) {
    for (const auto& [side, tilt, centre, length] :
         {std::tuple{1, 0.f, 121.f, 240.f}, {-1, 0.f, 29.f, 240.f}, {1, 35.f, 141.f, 200.f}, {-1, -35.f, 9.f, 200.f}}) {
        footsamples::DrawnFoot p;
        p.centre_x = centre, p.tilt_deg = tilt, p.length = length, p.left = side < 0;
        std::vector<uint8_t> at_side = footsamples::drawn_foot(p), one_in(SHAPE_PIXELS, 0);
        for (int y = 0, edge = side > 0 ? SHAPE_W - 1 : 0; y < SHAPE_H; ++y) {
            at_side[y * SHAPE_W + edge] = at_side[y * SHAPE_W + edge - side];
            for (int x = std::max(0, side); x < SHAPE_W + std::min(0, side); ++x)
                one_in[y * SHAPE_W + x - side] = at_side[y * SHAPE_W + x];
        }
        Extent e[2];
        for (int k = 0; k < 2; ++k) {
            ASSERT_TRUE(build_foot(k ? one_in : at_side));
            slice_and_write_gcode(*r, model, in);  // layer 0, cut only
            e[k] = extent(r->layer_plane);
        }
        // Placed from the foot's own ranges, as the program places it: the same cells.
        EXPECT_TRUE(e[0].cells == e[1].cells && e[0].x0 == e[1].x0 && e[0].x1 == e[1].x1 && e[0].y0 == e[1].y0 &&
                    e[0].y1 == e[1].y1)
            << side << " " << tilt << ": " << e[0].cells << " cells in x " << e[0].x0 << ".." << e[0].x1 << ", "
            << e[1].cells << " in x " << e[1].x0 << ".." << e[1].x1;
    }
}

// A box from z -1 to 2: printed from its lowest point, on the bed, to its top.
TEST_F(SlicerGl, BoxGivesTheSameRectangleOnEveryLayerAndAWholeFile) {
    Mesh box = make_box(100, 200, 3);
    for (auto& t : box) t.a.z -= 1, t.b.z -= 1, t.c.z -= 1;
    place(in, box_of(box));
    int layers_seen = 0;
    per_layer = [&](int) {
        Extent e = extent(r->layer_plane);
        // Centred: columns 100..199, rows 80..279, give or take the edge cells.
        EXPECT_NEAR(e.x0, 100, 1);
        EXPECT_NEAR(e.x1, 199, 1);
        EXPECT_NEAR(e.y0, 80, 1);
        EXPECT_NEAR(e.y1, 279, 1);
        EXPECT_GT(e.cells, 98 * 198);
        ++layers_seen;
    };
    int frames = 0;
    std::string text = run_job(box, "box.gcode", &frames);
    EXPECT_NEAR(r->model_height, 3.0f, 0.01f);
    EXPECT_EQ(frames, 6);  // layers 0..5 (height 3 / spacing 0.5 - 1)
    auto c = check_gcode(text, "; start\nG28", "M84\n; end");
    ASSERT_TRUE(c.ok()) << c.report();
    ASSERT_EQ(c.layers.size(), 6u);
    EXPECT_DOUBLE_EQ(c.layers[0].z, 0.30);
    EXPECT_DOUBLE_EQ(c.layers[5].z, 2.80);
    // E restarts at every reset: each block's first retract is -15.
    for (const auto& l : c.layers)
        for (double e : l.first_e_after_reset) EXPECT_DOUBLE_EQ(e, -15);
    // The box starts at the origin point: every move lies on it (the
    // priming line runs at x 25 from y 10 to 160).
    EXPECT_GE(c.min_x, -1.0);
    EXPECT_LE(c.max_x, 101.0);
    EXPECT_GE(c.min_y, -1.0);
    EXPECT_LE(c.max_y, 201.0);
    EXPECT_LE(c.min_x, 2.0);
    EXPECT_GE(c.max_x, 98.0);
    EXPECT_GT(r->run_total, 6 * 100 * 200 / 3 / 2);
    EXPECT_EQ(store.value(out_extrusion_length), r->run_total);
}

TEST_F(SlicerGl, EmptyCrossSectionsStillAdvance) {
    Mesh box = make_box(50, 50, 3);
    const ModelBox mb = box_of(box);
    for (auto& t : box) t.a.z += 100, t.b.z += 100, t.c.z += 100;  // nothing below the cuts
    place(in, mb);
    store.set_range(va_layer_index, 0, 3);
    store.set_value(va_layer_index, 0);
    ASSERT_TRUE(begin_gcode_file(*r, dir / "empty.gcode"));
    for (int i = 0; i < 4; ++i) {
        slice_and_write_gcode(*r, box, in);
        EXPECT_TRUE(r->lines.empty());
    }
    EXPECT_EQ(r->gcode_file_open, 0);
}

// The vertex-array picture equals the triangle-by-triangle one, and the
// plane read back equals the GL's own luminance conversion (colours whose
// sum passes 255 and odd greys too).
TEST_F(SlicerGl, VertexArrayPictureEqualsReferenceAndLuminanceReadTheGls) {
    Mesh insole;
    ModelBox mb;
    ASSERT_TRUE(load_insole(insole, mb));
    Mesh box = make_box(100, 200, 3);
    const ModelBox bb = box_of(box);
    struct Case {
        const Mesh* mesh;
        const ModelBox* box;
    } cases[] = {{&insole, &mb}, {&box, &bb}};
    std::vector<uint8_t> ref(RASTER_CELLS), gl(RASTER_CELLS);
    glBindFramebuffer(GL_FRAMEBUFFER, r->fbo);
    for (const Case& k : cases) {
        place(in, *k.box);
        for (int turn : {0, -45, 75}) {
            turn_view(in, turn);
            for (float z : {0.2f, 1.0f, 2.5f, 7.0f, 15.0f, 22.0f}) {
                g_cross_section_reference_draw = true;
                render_cross_section(*r, *k.mesh, in, z);
                end_cross_section();
                std::memcpy(ref.data(), r->layer_plane, sizeof(Plane));
                g_cross_section_reference_draw = false;
                render_cross_section(*r, *k.mesh, in, z);
                end_cross_section();
                EXPECT_EQ(0, std::memcmp(ref.data(), r->layer_plane, sizeof(Plane))) << "z " << z << " turn " << turn;
                if (z < 3) {
                    EXPECT_GT(extent(r->layer_plane).cells, 1000) << "z " << z;
                }
                if (turn || k.mesh != &insole) continue;
                glReadPixels(0, 0, RASTER_W, RASTER_H, GL_LUMINANCE, GL_UNSIGNED_BYTE, gl.data());
                EXPECT_EQ(0, std::memcmp(gl.data(), r->layer_plane, sizeof(Plane))) << "z " << z;
            }
        }
    }
    const float colours[][3] = {{0.2f, 0.5f, 0.9f}, {0.01f, 0.02f, 0.03f}, {0.333f, 0.333f, 0.334f}, {1, 1, 1}};
    for (const auto& c : colours) {
        glClearColor(c[0], c[1], c[2], 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glReadPixels(0, 0, RASTER_W, RASTER_H, GL_LUMINANCE, GL_UNSIGNED_BYTE, gl.data());
        read_luminance_plane(r->layer_plane);
        EXPECT_EQ(gl[0], r->layer_plane[0]);
        EXPECT_EQ(0, std::memcmp(gl.data(), r->layer_plane, sizeof(Plane)));
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// Without a frame buffer a job is refused and stopped, and a height
// measurement (which would start a batch job) too; with nothing pending, silence.
TEST_F(SlicerGl, NoFrameBufferRefusesAndStopsTheJob) {
    auto bare = std::make_unique<LayerRaster>();  // init_framebuffer never ran
    Mesh box = make_box(50, 50, 3);
    std::string path = dir / "nofb.gcode";
    ASSERT_TRUE(begin_gcode_file(*bare, path));
    auto slice = [&] { return insoletest::console_of([&] { slice_and_write_gcode(*bare, box, in); }); };
    std::string said = slice();
    EXPECT_EQ(said.rfind("Video card does NOT supports GL_ARB_framebuffer_object. \n", 0), 0u) << said;
    EXPECT_NE(said.find(path), std::string::npos) << said;
    EXPECT_EQ(bare->gcode_file_open + bare->path_request + bare->full_path_request, 0);
    EXPECT_EQ(bare->gcode_file, nullptr);
    EXPECT_EQ(slice(), "");
    bare->height_request = 1;
    EXPECT_EQ(slice().rfind("Video card does NOT supports", 0), 0u);
    EXPECT_EQ(bare->height_request, 0);
}

TEST_F(SlicerGl, SlopeThresholdIsOneAboveTheCutHeight) {
    // Contour mode puts the contour picture in place of the cross-section;
    // with "Slope 30" a cell equal to the pressure picture's is cleared when
    // that value is at most cut height + 1. Both pictures are grey 2 all
    // over, read back as 6 (R + G + B); layer 0 of an STL model is cut at
    // one spacing, so spacing 5 clears the centre and 4.5 does not.
    std::vector<uint8_t> image(360 * 152, 2);
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    in.slope_image = in.contour_image = image.data();
    in.image_texture = tex;
    in.box.model_min_x = 0, in.box.model_max_x = 150, in.box.model_min_y = 0, in.box.model_max_y = 360;
    store.set_value(ck_contour_mode, 1);
    store.set_value(bt_test1, 1);
    for (double spacing : {5.0, 4.5}) {
        store.set_value(va_spacing, spacing);
        testing::internal::CaptureStdout();  // a console line per low cell
        slice_and_write_gcode(*r, make_box(50, 50, 20), in);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(r->pressure_plane[180 * RASTER_W + 150], 6);
        EXPECT_EQ(r->layer_plane[180 * RASTER_W + 150], spacing == 5.0 ? 0 : 6) << "spacing " << spacing;
    }
    glDeleteTextures(1, &tex);
}
