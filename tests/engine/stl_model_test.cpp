// STL reading and writing: format detection, ASCII and binary agreement,
// the writer's text and its read-back, damaged and hostile files, the real
// files in testdata/, and the load action's placement.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "engine/layer_raster.h"
#include "engine/params.h"
#include "engine/stl_model.h"
#include "tests/support/gl_context.h"

#include <GL/glew.h>

namespace {

using engine::Mesh;
using engine::MeshTriangle;
using engine::ModelBox;
using engine::StlStatus;

// ---- making files ------------------------------------------------------------

void put_u32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void put_f32(std::string& s, float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    put_u32(s, u);
}

// A binary STL: header (padded to 80 bytes), the count, and the records.
std::string binary_stl(const Mesh& m, const std::string& header = "binary test", uint32_t count = UINT32_MAX) {
    std::string s = header;
    s.resize(80, ' ');
    put_u32(s, count == UINT32_MAX ? static_cast<uint32_t>(m.size()) : count);
    for (const MeshTriangle& t : m) {
        for (int i = 0; i < 3; ++i) put_f32(s, 0.0f);
        for (const engine::Vec3& v : {t.a, t.b, t.c}) {
            put_f32(s, v.x);
            put_f32(s, v.y);
            put_f32(s, v.z);
        }
        s += std::string(2, '\0');
    }
    return s;
}

std::string ascii_facets(const Mesh& m) {
    std::ostringstream s;
    s.precision(9);
    for (const MeshTriangle& t : m) {
        s << "  facet normal 0 0 1\n    outer loop\n";
        for (const engine::Vec3& v : {t.a, t.b, t.c}) s << "      vertex " << v.x << " " << v.y << " " << v.z << "\n";
        s << "    endloop\n  endfacet\n";
    }
    return s.str();
}

std::string ascii_stl(const Mesh& m, const std::string& name = "part") {
    return "solid " + name + "\n" + ascii_facets(m) + "endsolid " + name + "\n";
}

// A tetrahedron with one vertex off every axis, so that box widening is seen.
Mesh tetrahedron(float s = 1.0f) {
    const engine::Vec3 p0{0.5f * s, -1.25f * s, 2}, p1{10.75f * s, 0, 2.5f}, p2{3, 8.125f * s, 1},
        p3{4, 2, 12.375f * s};
    return {{p0, p2, p1}, {p0, p1, p3}, {p1, p2, p3}, {p2, p0, p3}};
}

bool same_triangles(const Mesh& a, const Mesh& b, float tol) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const float* x = &a[i].a.x;
        const float* y = &b[i].a.x;
        for (int k = 0; k < 9; ++k)
            if (std::fabs(x[k] - y[k]) > tol * std::max(1.0f, std::fabs(x[k]))) return false;
    }
    return true;
}

class Stl : public ::testing::Test {
protected:
    void SetUp() override { engine::set_param_store(&store); }
    void TearDown() override { engine::set_param_store(nullptr); }
    engine::PlainParamStore store;
    testsupport::TempDir dir;
    Mesh model;
    ModelBox box;
};

// ---- formats -------------------------------------------------------------------

TEST_F(Stl, AsciiAndBinaryOfOneSolidGiveTheSameTriangles) {
    const Mesh solid = tetrahedron();
    testsupport::put(dir / "a.stl", ascii_stl(solid));
    testsupport::put(dir / "b.stl", binary_stl(solid));

    auto ra = engine::read_stl_file(dir / "a.stl", model, box);
    EXPECT_EQ(ra.status, StlStatus::ok);
    EXPECT_FALSE(ra.binary);
    const Mesh from_ascii = model;
    const ModelBox box_ascii = box;

    auto rb = engine::read_stl_file(dir / "b.stl", model, box);
    EXPECT_EQ(rb.status, StlStatus::ok);
    EXPECT_TRUE(rb.binary);
    EXPECT_EQ(rb.triangles, 4u);
    EXPECT_TRUE(same_triangles(model, solid, 0));
    EXPECT_TRUE(same_triangles(from_ascii, solid, 0));
    // Vertex order within a triangle and triangle order are the file's.
    EXPECT_EQ(model[0].b.y, 8.125f);
    EXPECT_EQ(box.model_min_x, 0.5f);
    EXPECT_EQ(box.model_max_x, 10.75f);
    EXPECT_EQ(box.model_min_y, -1.25f);
    EXPECT_EQ(box.model_max_y, 8.125f);
    EXPECT_EQ(box.model_min_z, 1.0f);
    EXPECT_EQ(box.model_max_z, 12.375f);
    EXPECT_EQ(std::memcmp(&box, &box_ascii, sizeof box), 0);
}

TEST_F(Stl, BinaryWhoseHeaderSaysSolidStaysBinary) {
    const Mesh solid = tetrahedron();
    // "solid" header, even with a line feed in it, unless the next line opens with "facet".
    testsupport::put(dir / "s.stl", binary_stl(solid, "solid thing\nmade by a CAD program"));
    auto r = engine::read_stl_file(dir / "s.stl", model, box);
    EXPECT_TRUE(r.binary);
    EXPECT_EQ(r.status, StlStatus::ok);
    EXPECT_TRUE(same_triangles(model, solid, 0));

    // An empty ASCII solid has no facet on its second line: read as binary, refused as too short.
    testsupport::put(dir / "e.stl", "solid empty\nendsolid empty\n");
    r = engine::read_stl_file(dir / "e.stl", model, box);
    EXPECT_TRUE(r.binary);
    EXPECT_EQ(r.status, StlStatus::refused);
    EXPECT_TRUE(model.empty());
}

TEST_F(Stl, TwoSolidsGiveTheFirstOnly) {
    const Mesh first = tetrahedron(1), second = tetrahedron(3);
    testsupport::put(dir / "two.stl", ascii_stl(first, "one") + ascii_stl(second, "two"));
    auto r = engine::read_stl_file(dir / "two.stl", model, box);
    EXPECT_EQ(r.status, StlStatus::ok);
    EXPECT_TRUE(same_triangles(model, first, 0));
}

TEST_F(Stl, CountZeroGivesAnEmptyModelAndTheResetRanges) {
    testsupport::put(dir / "z.stl", binary_stl({}, "nothing", 0));
    testing::internal::CaptureStdout();
    auto r = engine::read_stl_file(dir / "z.stl", model, box);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.status, StlStatus::ok);
    EXPECT_TRUE(model.empty());
    EXPECT_NE(out.find("Header nothing"), std::string::npos);
    EXPECT_NE(out.find("This is a \"Binary\" File  \n"), std::string::npos);
    EXPECT_NE(out.find("x range 1200000.000000 \ny range 1200000.000000 \nz range 1200000.000000 \n"),
              std::string::npos);
    float heel[2];
    engine::stl_heel_point(box, heel);
    EXPECT_EQ(heel[0], (300 - 1200000) * 0.5f);
    EXPECT_EQ(heel[1], (360 - 1200000) * 0.5f);
}

// ---- writer --------------------------------------------------------------------

TEST_F(Stl, WriterTextAndReadBackToSixDecimals) {
    Mesh m = {{{1.5f, -2.25f, 0}, {100.123456f, 3, 4}, {-0.0000004f, 7.654321f, 12}},
              {{0.1f, 0.2f, 0.3f}, {299.999999f, 359.5f, 1e-7f}, {5, 6, 7}}};
    const std::string path = dir / "w.stl";
    ASSERT_TRUE(engine::write_stl_text(path, m));
    const std::string text = testsupport::slurp(path);
    EXPECT_EQ(text.substr(0, 10), "solid STL\n");
    EXPECT_NE(text.find("facet normal 0 0 0\nouter loop\n\tvertex 1.500000 -2.250000 0.000000\n"
                        "\tvertex 100.123459 3.000000 4.000000\n"),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 26), "endloop\nendfacet\nendsolid\n");

    auto r = engine::read_stl_file(path, model, box);
    EXPECT_EQ(r.status, StlStatus::ok);
    EXPECT_FALSE(r.binary);
    ASSERT_EQ(model.size(), m.size());
    for (size_t i = 0; i < m.size(); ++i) {
        const float* a = &m[i].a.x;
        const float* b = &model[i].a.x;
        for (int k = 0; k < 9; ++k) {
            char wa[64], wb[64];
            std::snprintf(wa, sizeof wa, "%f", a[k]);
            std::snprintf(wb, sizeof wb, "%f", b[k]);
            EXPECT_STREQ(wa, wb) << "triangle " << i << " value " << k;
        }
    }
}

TEST_F(Stl, WriterReportsAFileThatCannotBeOpened) {
    EXPECT_FALSE(engine::write_stl_text(dir / "no/such/dir/x.stl", tetrahedron()));
}

// ---- damaged and hostile files ------------------------------------------------------

TEST_F(Stl, TruncatedBinaryKeepsTheRecordsItHolds) {
    const Mesh solid = tetrahedron();
    std::string bytes = binary_stl(solid, "cut short", 10);
    bytes.resize(84 + 50 * 3 + 20);  // three whole records and part of a fourth
    testsupport::put(dir / "t.stl", bytes);
    testing::internal::CaptureStdout();
    auto r = engine::read_stl_file(dir / "t.stl", model, box);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.status, StlStatus::partial);
    ASSERT_EQ(model.size(), 3u);
    EXPECT_TRUE(same_triangles(model, Mesh(solid.begin(), solid.begin() + 3), 0));
    EXPECT_NE(out.find("t.stl: announces 10 triangles but ends after 3"), std::string::npos);
}

TEST_F(Stl, HugeCountAllocatesOnlyWhatTheFileHolds) {
    testsupport::put(dir / "h.stl", binary_stl(tetrahedron(), "liar", 0xFFFFFFF0u));
    auto r = engine::read_stl_file(dir / "h.stl", model, box);
    EXPECT_EQ(r.status, StlStatus::partial);
    EXPECT_EQ(model.size(), 4u);
    EXPECT_LT(model.capacity(), 100u);
}

TEST_F(Stl, ShortAndEmptyFilesAreRefused) {
    testsupport::put(dir / "short.stl", std::string(40, 'x'));
    EXPECT_EQ(engine::read_stl_file(dir / "short.stl", model, box).status, StlStatus::refused);
    testsupport::put(dir / "empty.stl", "");
    EXPECT_EQ(engine::read_stl_file(dir / "empty.stl", model, box).status, StlStatus::refused);
    EXPECT_TRUE(model.empty());
    EXPECT_EQ(box.model_max_x, -600000);
    auto r = engine::read_stl_file(dir / "missing.stl", model, box);
    EXPECT_EQ(r.status, StlStatus::not_opened);
}

TEST_F(Stl, NonFiniteCoordinatesAreSkipped) {
    Mesh solid = tetrahedron();
    solid[1].b.y = std::numeric_limits<float>::quiet_NaN();
    solid[2].c.z = std::numeric_limits<float>::infinity();
    testsupport::put(dir / "nan.stl", binary_stl(solid));
    auto r = engine::read_stl_file(dir / "nan.stl", model, box);
    EXPECT_EQ(r.status, StlStatus::partial);
    ASSERT_EQ(model.size(), 2u);
    EXPECT_TRUE(std::isfinite(box.model_max_z));

    const std::string ascii = "solid x\nfacet normal 0 0 0\nouter loop\nvertex nan 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
                              "endloop\nendfacet\nfacet normal 0 0 0\nouter loop\nvertex 0 0 1e60\nvertex 1 0 0\n"
                              "vertex 0 1 0\nendloop\nendfacet\nfacet normal 0 0 0\nouter loop\nvertex 0 0 0\n"
                              "vertex 1 0 0\nvertex 0 1 inf\nendloop\nendfacet\nfacet\nvertex 0 0 0\nvertex 1 0 0\n"
                              "vertex 0 1 0\nendsolid\n";
    testsupport::put(dir / "nan_a.stl", ascii);
    r = engine::read_stl_file(dir / "nan_a.stl", model, box);
    EXPECT_EQ(r.status, StlStatus::partial);
    EXPECT_EQ(model.size(), 1u);
}

TEST_F(Stl, AsciiFaultsAreRefusedOrKeptClearly) {
    // A vertex with two numbers: the next word is no number.
    testsupport::put(dir / "two.stl", "solid x\nfacet normal 0 0 0\nouter loop\nvertex 1 2\nvertex 1 0 0\nvertex 0 1 0\n"
                               "endloop\nendfacet\nendsolid\n");
    testing::internal::CaptureStdout();
    auto r = engine::read_stl_file(dir / "two.stl", model, box);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.status, StlStatus::refused);
    EXPECT_TRUE(model.empty());
    EXPECT_NE(out.find("two.stl: line 5: a vertex needs three numbers"), std::string::npos);

    // A word longer than the reader takes.
    std::string text = ascii_stl(tetrahedron());
    text.insert(text.find("outer"), std::string(5000, 'A') + " ");
    testsupport::put(dir / "long.stl", text);
    testing::internal::CaptureStdout();
    r = engine::read_stl_file(dir / "long.stl", model, box);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.status, StlStatus::refused);
    EXPECT_NE(out.find("longer than 255 characters"), std::string::npos);

    // Ending inside a triangle keeps the triangles before it.
    text = ascii_stl(tetrahedron());
    text.resize(text.find("vertex", text.find("facet", 200)) + 12);
    testsupport::put(dir / "cut.stl", text);
    r = engine::read_stl_file(dir / "cut.stl", model, box);
    EXPECT_EQ(r.status, StlStatus::partial);
    EXPECT_GE(model.size(), 1u);
    const Mesh whole = tetrahedron();
    EXPECT_TRUE(same_triangles(model, Mesh(whole.begin(), whole.begin() + model.size()), 1e-6f));

    // No endsolid at all: read to the end of the file.
    text = "solid x\n" + ascii_facets(tetrahedron());
    testsupport::put(dir / "open.stl", text);
    r = engine::read_stl_file(dir / "open.stl", model, box);
    EXPECT_EQ(r.status, StlStatus::ok);
    EXPECT_EQ(model.size(), 4u);
}

// ---- the load action -------------------------------------------------------------

TEST_F(Stl, LoadPlacesTheModelAndAsksForItsHeight) {
    engine::LayerRaster raster;
    testsupport::put(dir / "b.stl", binary_stl(tetrahedron()));
    float heel[2] = {-1, -1};
    ASSERT_TRUE(engine::load_stl_file(dir / "b.stl", model, box, raster, heel));
    EXPECT_EQ(raster.height_request, 1);
    EXPECT_FLOAT_EQ(heel[0], (300 - 10.25f) * 0.5f);
    EXPECT_FLOAT_EQ(heel[1], (360 - 9.375f) * 0.5f);

    store.set_value(engine::ck_fixed_position, 1);
    heel[0] = 7, heel[1] = 8;
    ASSERT_TRUE(engine::load_stl_file(dir / "b.stl", model, box, raster, heel));
    EXPECT_EQ(heel[0], 7);
    EXPECT_EQ(heel[1], 8);

    raster.height_request = 0;
    EXPECT_FALSE(engine::load_stl_file(dir / "missing.stl", model, box, raster, heel));
    EXPECT_TRUE(model.empty());
    EXPECT_EQ(raster.height_request, 0);
}

TEST_F(Stl, OverLongFileNameIsRefusedBeforeAnythingIsRead) {
    engine::LayerRaster raster;
    const std::string name = dir / (std::string(1100, 'n') + ".stl");
    float heel[2] = {1, 2};
    model = tetrahedron();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(engine::stl_path_fits(name));
    EXPECT_FALSE(engine::load_stl_file(name, model, box, raster, heel));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("longer than 1023 bytes"), std::string::npos);
    EXPECT_EQ(heel[0], 1);
    EXPECT_EQ(raster.height_request, 0);
    EXPECT_EQ(model.size(), 4u);  // the model in the view is kept
}

// ---- real files ----------------------------------------------------------------

struct RealStl {
    const char* file;
    bool binary;
    size_t triangles;
};

TEST_F(Stl, RealFilesReadWithTheirCounts) {
    const RealStl files[] = {
        {"insole_dfki_bin_colorheader.stl", true, 2156}, {"kinova_arm_bin_solidheader.stl", true, 8216},
        {"rear_case_bin_solidheader.stl", true, 18808},  {"cube_bin_space_solid_header.stl", true, 12},
        {"bwb_aircraft_ascii.stl", false, 4464},         {"moon_ascii.stl", false, 116},
        {"moon_bin.stl", true, 116},
    };
    for (const RealStl& f : files) {
        auto r = engine::read_stl_file(testsupport::testdata(f.file), model, box);
        EXPECT_EQ(r.status, StlStatus::ok) << f.file;
        EXPECT_EQ(r.binary, f.binary) << f.file;
        EXPECT_EQ(model.size(), f.triangles) << f.file;
        EXPECT_LE(box.model_min_x, box.model_max_x) << f.file;
        EXPECT_LT(std::fabs(box.model_max_x - box.model_min_x), 100000) << f.file;
    }
}

TEST_F(Stl, RealFilesHaveTheirExtents) {
    engine::read_stl_file(testsupport::testdata("insole_dfki_bin_colorheader.stl"), model, box);
    EXPECT_NEAR(box.model_max_x - box.model_min_x, 0.300, 0.0015);
    EXPECT_NEAR(box.model_max_y - box.model_min_y, 0.106, 0.0015);
    EXPECT_NEAR(box.model_max_z - box.model_min_z, 0.023, 0.0015);
    engine::read_stl_file(testsupport::testdata("cube_bin_space_solid_header.stl"), model, box);
    EXPECT_FLOAT_EQ(box.model_max_x - box.model_min_x, 2);
    EXPECT_FLOAT_EQ(box.model_max_y - box.model_min_y, 2);
    EXPECT_FLOAT_EQ(box.model_max_z - box.model_min_z, 2);
}

TEST_F(Stl, RealMoonInBothFormatsGivesTheSameTriangles) {
    engine::read_stl_file(testsupport::testdata("moon_ascii.stl"), model, box);
    const Mesh ascii = model;
    engine::read_stl_file(testsupport::testdata("moon_bin.stl"), model, box);
    EXPECT_TRUE(same_triangles(ascii, model, 1e-5f));
}

// ---- the frame's drawing with the save button ----------------------------------------

class StlGl : public testsupport::GlTest {
protected:
    void SetUp() override {
        testsupport::GlTest::SetUp();
        engine::set_param_store(&store);
    }
    void TearDown() override { engine::set_param_store(nullptr); }
    engine::PlainParamStore store;
};

// The frame draws every triangle of the model (as many triangles reach GL as
// the model holds); with the save button on, it writes them once and
// switches the button off.
TEST_F(StlGl, DrawModelDrawsEveryTriangleAndWritesOnceWhenSaveIsOn) {
    testsupport::TempDir dir;
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const Mesh m = tetrahedron();
    GLuint query = 0, drawn = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_PRIMITIVES_GENERATED, query);
    engine::draw_model(m);
    glEndQuery(GL_PRIMITIVES_GENERATED);
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &drawn);
    glDeleteQueries(1, &query);
    EXPECT_EQ(drawn, m.size());
    EXPECT_TRUE(testsupport::slurp("123.stl").empty());
    store.set_value(engine::bt_save_stl, 1);
    engine::draw_model(m);
    EXPECT_EQ(store.value(engine::bt_save_stl), 0);
    const std::string text = testsupport::slurp("123.stl");
    EXPECT_EQ(chdir(here), 0);
    Mesh back;
    ModelBox box;
    testsupport::put(dir / "copy.stl", text);
    engine::read_stl_file(dir / "copy.stl", back, box);
    EXPECT_TRUE(same_triangles(back, m, 1e-6f));
}

}  // namespace
