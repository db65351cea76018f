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
#include "tests/engine/insole_test_support.h"
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

class Stl : public insoletest::ParamTest {
protected:
    testsupport::TempDir dir;
    Mesh model;
    ModelBox box;
};

// ---- formats -------------------------------------------------------------------

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
    EXPECT_FALSE(engine::write_stl_text(dir / "no/such/dir/x.stl", m));

    EXPECT_EQ(engine::read_stl_file(path, model, box).status, StlStatus::ok);
    ASSERT_EQ(model.size(), m.size());
    for (size_t k = 0; k < 9 * m.size(); ++k) {
        char wa[64], wb[64];
        std::snprintf(wa, sizeof wa, "%f", (&m[0].a.x)[k]);
        std::snprintf(wb, sizeof wb, "%f", (&model[0].a.x)[k]);
        EXPECT_STREQ(wa, wb) << "value " << k;
    }
}

// ---- damaged and hostile files ------------------------------------------------------

// The ASCII and binary forms of one solid, and odd and hostile files: what
// each gives, whether read as binary (-1: either), how many triangles (-1:
// some), kept as the tetrahedron's first ones (vertex and triangle order
// the file's) or not, and the console line. A whole tetrahedron gives its
// box; a refused or empty read leaves the box reset, a partial one finite;
// no count in a file makes the reader reserve more than the file holds.
TEST_F(Stl, FilesAreReadAsFarAsTheyGoOrRefusedClearly) {
    const Mesh tet = tetrahedron();
    Mesh bad = tet;
    bad[1].b.y = std::numeric_limits<float>::quiet_NaN();
    bad[2].c.z = std::numeric_limits<float>::infinity();
    std::string truncated = binary_stl(tet, "cut short", 10), long_word = ascii_stl(tet), cut = ascii_stl(tet);
    truncated.resize(84 + 50 * 3 + 20);  // three whole records and part of a fourth
    long_word.insert(long_word.find("outer"), std::string(5000, 'A') + " ");
    cut.resize(cut.find("vertex", cut.find("facet", 200)) + 12);  // ends inside a triangle
    const std::string facet = "facet normal 0 0 0\nouter loop\n", end = "endloop\nendfacet\n";
    const struct {
        const char* file;
        std::string bytes;
        StlStatus status;
        int binary, triangles;
        bool first_of_tet;
        const char* said;
    } cases[] = {
        {"a.stl", ascii_stl(tet), StlStatus::ok, 0, 4, true, ""},
        {"b.stl", binary_stl(tet), StlStatus::ok, 1, 4, true, ""},
        // "solid" header, even with a line feed in it, unless the next line opens with "facet".
        {"solid_header.stl", binary_stl(tet, "solid thing\nmade by a CAD program"), StlStatus::ok, 1, 4, true, ""},
        {"empty_solid.stl", "solid empty\nendsolid empty\n", StlStatus::refused, 1, 0, false, ""},
        {"two_solids.stl", ascii_stl(tet, "one") + ascii_stl(tetrahedron(3), "two"), StlStatus::ok, 0, 4, true, ""},
        {"t.stl", truncated, StlStatus::partial, 1, 3, true, "t.stl: announces 10 triangles but ends after 3"},
        {"huge.stl", binary_stl(tet, "liar", 0xFFFFFFF0u), StlStatus::partial, 1, 4, true, ""},
        // A count of 0: an empty model, read whole, and the reset ranges said.
        {"zero.stl", binary_stl({}, "nothing", 0), StlStatus::ok, 1, 0, false,
         "This is a \"Binary\" File  \nx range 1200000.000000 \ny range 1200000.000000 \nz range 1200000.000000 \n"},
        {"short.stl", std::string(40, 'x'), StlStatus::refused, -1, 0, false, ""},
        {"empty.stl", "", StlStatus::refused, -1, 0, false, ""},
        {"nan.stl", binary_stl(bad), StlStatus::partial, 1, 2, false, ""},
        {"nan_a.stl",
         "solid x\n" + facet + "vertex nan 0 0\nvertex 1 0 0\nvertex 0 1 0\n" + end + facet +
             "vertex 0 0 1e60\nvertex 1 0 0\nvertex 0 1 0\n" + end + facet + "vertex 0 0 0\nvertex 1 0 0\nvertex 0 1 inf\n" +
             end + "facet\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendsolid\n",
         StlStatus::partial, 0, 1, false, ""},
        {"two.stl", "solid x\n" + facet + "vertex 1 2\nvertex 1 0 0\nvertex 0 1 0\n" + end + "endsolid\n",
         StlStatus::refused, 0, 0, false, "two.stl: line 5: a vertex needs three numbers"},
        {"long.stl", long_word, StlStatus::refused, -1, 0, false, "longer than 255 characters"},
        {"cut.stl", cut, StlStatus::partial, 0, -1, true, ""},
        {"open.stl", "solid x\n" + ascii_facets(tet), StlStatus::ok, 0, 4, true, ""},  // no endsolid: to the end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        testsupport::put(dir / c.file, c.bytes);
        testing::internal::CaptureStdout();
        const auto r = engine::read_stl_file(dir / c.file, model, box);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(c.binary < 0 || r.binary == (c.binary == 1));
        EXPECT_EQ(model.size(), c.triangles < 0 ? std::max<size_t>(model.size(), 1) : (size_t)c.triangles);
        EXPECT_EQ(r.triangles, model.size());
        EXPECT_TRUE(!c.first_of_tet || same_triangles(model, Mesh(tet.begin(), tet.begin() + model.size()), 0));
        if (c.status == StlStatus::ok && c.triangles == 4) {
            EXPECT_EQ(std::vector<float>({box.model_min_x, box.model_max_x, box.model_min_y, box.model_max_y, box.model_min_z, box.model_max_z}),
                      std::vector<float>({0.5f, 10.75f, -1.25f, 8.125f, 1.0f, 12.375f}));
        }
        EXPECT_LT(model.capacity(), 100u);
        EXPECT_NE(out.find(c.said), std::string::npos) << out;
        EXPECT_TRUE(!model.empty() || box.model_max_x == -600000);
        EXPECT_TRUE(std::isfinite(box.model_max_z) || c.status != StlStatus::partial);
    }
    EXPECT_EQ(engine::read_stl_file(dir / "missing.stl", model, box).status, StlStatus::not_opened);
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

    // An over-long name is refused before anything is read: the model in
    // the view is kept; a missing file leaves none.
    raster.height_request = 0;
    const std::string name = dir / (std::string(1100, 'n') + ".stl");
    EXPECT_FALSE(engine::stl_path_fits(name));
    EXPECT_NE(insoletest::console_of([&] { EXPECT_FALSE(engine::load_stl_file(name, model, box, raster, heel)); })
                  .find("longer than 1023 bytes"),
              std::string::npos);
    EXPECT_EQ(model.size(), 4u);
    EXPECT_FALSE(engine::load_stl_file(dir / "missing.stl", model, box, raster, heel));
    EXPECT_TRUE(model.empty());
    EXPECT_EQ(heel[0], 7);
    EXPECT_EQ(raster.height_request, 0);
}

// ---- real files ----------------------------------------------------------------

// Counts, formats and extents (the insole scan in metres, the cube 2 wide);
// the moon's two formats hold the same triangles.
TEST_F(Stl, RealFilesReadWithTheirCountsAndExtents) {
    const struct {
        const char* file;
        bool binary;
        size_t triangles;
        float dx, dy, dz;  // 0: not checked
    } files[] = {
        {"insole_dfki_bin_colorheader.stl", true, 2156, 0.300f, 0.106f, 0.023f},
        {"kinova_arm_bin_solidheader.stl", true, 8216, 0, 0, 0},
        {"rear_case_bin_solidheader.stl", true, 18808, 0, 0, 0},
        {"cube_bin_space_solid_header.stl", true, 12, 2, 2, 2},
        {"bwb_aircraft_ascii.stl", false, 4464, 0, 0, 0},
        {"moon_ascii.stl", false, 116, 0, 0, 0},
        {"moon_bin.stl", true, 116, 0, 0, 0},
    };
    Mesh moon;
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        auto r = engine::read_stl_file(testsupport::testdata(f.file), model, box);
        EXPECT_EQ(r.status, StlStatus::ok);
        EXPECT_EQ(r.binary, f.binary);
        EXPECT_EQ(model.size(), f.triangles);
        EXPECT_LE(box.model_min_x, box.model_max_x);
        EXPECT_LT(std::fabs(box.model_max_x - box.model_min_x), 100000);
        if (f.dx) {
            EXPECT_NEAR(box.model_max_x - box.model_min_x, f.dx, 0.0015);
            EXPECT_NEAR(box.model_max_y - box.model_min_y, f.dy, 0.0015);
            EXPECT_NEAR(box.model_max_z - box.model_min_z, f.dz, 0.0015);
        }
        if (std::string(f.file).rfind("moon", 0) == 0) {
            EXPECT_TRUE(moon.empty() || same_triangles(moon, model, 1e-5f));
            moon = model;
        }
    }
}

// ---- the frame's drawing with the save button ----------------------------------------

// The frame draws every triangle of the model (as many triangles reach GL as
// the model holds); with the save button on, it writes them once and
// switches the button off.
TEST_F(Stl, DrawModelDrawsEveryTriangleAndWritesOnceWhenSaveIsOn) {
    std::string why;
    if (!testsupport::make_gl_current(&why)) GTEST_SKIP() << why;
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
    testsupport::put(dir / "copy.stl", text);
    engine::read_stl_file(dir / "copy.stl", model, box);
    EXPECT_TRUE(same_triangles(model, m, 1e-6f));
}

}  // namespace
