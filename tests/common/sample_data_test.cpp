// The generated sample data other tests build on: the same bytes every run, the
// manifest true to its feet, arches and toe islands as named, the marks, a closed insole solid and the batch list.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/gl_context.h"

namespace {

using testsupport::sample;
using testsupport::slurp;

uint32_t u32(const std::string& d, size_t at) {
    return uint8_t(d[at]) | uint8_t(d[at + 1]) << 8 | uint8_t(d[at + 2]) << 16 | uint32_t(uint8_t(d[at + 3])) << 24;
}
uint16_t u16(const std::string& d, size_t at) { return uint16_t(uint8_t(d[at]) | uint8_t(d[at + 1]) << 8); }

// A BMP read by hand, so the test checks the file bytes and not one library's reading of them.
struct Bmp {
    int w = 0, h = 0, bpp = 0, pitch = 0;
    std::string file;
    size_t offset = 0;
    bool ok = false;
    const uint8_t* row(int y) const { return reinterpret_cast<const uint8_t*>(file.data() + offset + size_t(y) * pitch); }
    int foot(int x, int y) const { return row(y)[x * (bpp / 8)]; }
};

Bmp load_bmp(const std::string& name) {
    Bmp b;
    b.file = slurp(sample(name));
    if (b.file.size() < 54 || b.file[0] != 'B' || b.file[1] != 'M') return b;
    b.offset = u32(b.file, 10);
    b.w = int(u32(b.file, 18));
    b.h = int(u32(b.file, 22));
    b.bpp = u16(b.file, 28);
    b.pitch = ((b.w * b.bpp + 31) / 32) * 4;
    b.ok = u32(b.file, 30) == 0 && b.file.size() >= b.offset + size_t(b.pitch) * b.h;
    return b;
}

struct FootLine {
    std::string name;
    char side;
    int length;
    std::string arch;
    int heel_x, heel_y;
};

std::vector<FootLine> manifest() {
    std::vector<FootLine> out;
    std::istringstream in(slurp(sample("feet.txt")));
    FootLine l;
    while (in >> l.name >> l.side >> l.length >> l.arch >> l.heel_x >> l.heel_y) out.push_back(l);
    return out;
}

// First and last foot rows among 2..h-1 (rows 0 and 1 may carry marks).
std::pair<int, int> foot_rows(const Bmp& b) {
    std::pair<int, int> e{-1, -1};
    for (int y = 2; y < b.h; ++y)
        for (int x = 0; x < b.w; ++x)
            if (b.foot(x, y)) {
                e = {e.first < 0 ? y : e.first, y};
                break;
            }
    return e;
}

int row_width(const Bmp& b, int y) {
    int n = 0;
    for (int x = 0; x < b.w; ++x) n += b.foot(x, y) != 0;
    return n;
}

// Regions of foot pixels touching at edges or corners, below the mark rows.
int components(const Bmp& b) {
    std::vector<char> seen(size_t(b.w) * b.h, 0);
    auto fresh = [&](int x, int y) {
        if (x < 0 || y < 2 || x >= b.w || y >= b.h || !b.foot(x, y) || seen[size_t(y) * b.w + x]) return false;
        seen[size_t(y) * b.w + x] = 1;
        return true;
    };
    int count = 0;
    for (int y0 = 2; y0 < b.h; ++y0)
        for (int x0 = 0; x0 < b.w; ++x0) {
            if (!fresh(x0, y0)) continue;
            ++count;
            std::vector<std::pair<int, int>> st{{x0, y0}};
            while (!st.empty()) {
                auto [x, y] = st.back();
                st.pop_back();
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        if (fresh(x + dx, y + dy)) st.push_back({x + dx, y + dy});
            }
        }
    return count;
}

TEST(SampleData, GeneratorWritesEveryPromisedFileTheSameEveryRun) {
    testsupport::TempDir dir;
    const std::string cmd = std::string("\"") + STATION_BINARY_DIR + "/tools/make_sample_data\" \"" + dir.path() + "\"";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    int compared = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
        if (!e.is_regular_file()) continue;
        const std::string rel = std::filesystem::relative(e.path(), dir.path()).string();
        EXPECT_EQ(slurp(e.path().string()), slurp(sample(rel))) << rel;
        ++compared;
    }
    // A file it stops writing fails the tests and benchmarks that read it.
    EXPECT_GT(compared, 30);
}

// Every foot as long as the manifest says, and arches and toes as named.
TEST(SampleFeet, ManifestArchesAndToes) {
    const std::vector<FootLine> feet = manifest();
    ASSERT_GE(feet.size(), 16u);
    for (const FootLine& f : feet) {
        SCOPED_TRACE(f.name);
        const Bmp b = load_bmp(f.name);
        ASSERT_TRUE(b.ok);
        EXPECT_EQ(std::make_pair(b.w, b.h), std::make_pair(150, 360));
        const auto [first, last] = foot_rows(b);
        EXPECT_EQ(last - first + 1, f.length);
    }
    auto narrowest_midfoot = [](const std::string& name) {
        const Bmp b = load_bmp(name);
        const auto [first, last] = foot_rows(b);
        const int len = last - first + 1;
        int best = 150;
        for (int y = first + len * 35 / 100; y <= first + len * 50 / 100; ++y) best = std::min(best, row_width(b, y));
        return best;
    };
    EXPECT_GE(narrowest_midfoot("foot_left_large_flat.bmp"), 55);
    EXPECT_LE(narrowest_midfoot("foot_left_large_higharch.bmp"), 25);
    EXPECT_GE(narrowest_midfoot("foot_left_large_higharch.bmp"), 5);
    EXPECT_LE(narrowest_midfoot("foot_right_small_higharch.bmp"), 20);
    EXPECT_EQ(narrowest_midfoot("foot_left_medium_splitarch.bmp"), 0);

    // Island toes print as five separate regions beside the sole; joined toes touch the ball.
    EXPECT_EQ(components(load_bmp("foot_left_large_higharch.bmp")), 6);
    EXPECT_EQ(components(load_bmp("foot_left_medium_splitarch.bmp")), 7);
    EXPECT_EQ(components(load_bmp("foot_left_large_flat.bmp")), 1);
}

// The marked images take the program's marked path: the mark byte opens rows
// 0 and 1 with a count of circles or bars behind it.
TEST(SampleFeet, MarksInTheFirstTwoRows) {
    const Bmp m = load_bmp("foot_left_large_marked.bmp");
    ASSERT_EQ(m.row(0)[0], 123);
    EXPECT_EQ(m.row(0)[2], 4);
    ASSERT_EQ(m.row(1)[0], 123);
    EXPECT_EQ(m.row(1)[2], 2);
    // Away from rows 0 and 1 the marked foot is the plain one.
    const Bmp plain = load_bmp("foot_left_large_flat.bmp");
    EXPECT_EQ(m.file.substr(m.offset + 2 * size_t(m.pitch)), plain.file.substr(plain.offset + 2 * size_t(plain.pitch)));

    const Bmp bars = load_bmp("foot_right_small_marked_bars.bmp");
    EXPECT_NE(bars.row(0)[0], 123);
    EXPECT_EQ(bars.row(1)[0], 123);
    EXPECT_EQ(bars.row(1)[2], 3);
}

// ---- STL ----
using V = std::array<float, 3>;
using T = std::array<V, 3>;

std::vector<T> read_binary(const std::string& d) {
    std::vector<T> out;
    if (d.size() < 84) return out;
    const uint32_t n = u32(d, 80);
    if (d.size() != 84 + size_t(n) * 50) return out;
    for (uint32_t i = 0; i < n; ++i) {
        T t;
        for (int v = 0; v < 3; ++v)
            for (int k = 0; k < 3; ++k) std::memcpy(&t[v][k], d.data() + 84 + i * 50 + 12 + v * 12 + k * 4, 4);
        out.push_back(t);
    }
    return out;
}

TEST(SampleStl, InsoleIsClosedAndInsoleSized) {
    const std::vector<T> tris = read_binary(slurp(sample("insole_50k.stl")));
    ASSERT_GE(tris.size(), 45000u);
    ASSERT_LE(tris.size(), 55000u);
    // Every directed edge once and its reverse once: closed, and every face turned the same way.
    std::map<std::array<V, 2>, int> directed;
    float lo[3] = {1e9f, 1e9f, 1e9f}, hi[3] = {-1e9f, -1e9f, -1e9f};
    double volume = 0;
    int folded = 0, slivers = 0;
    for (const T& t : tris) {
        // Flat faces (top or bottom) face up or down as their side says; a fold in the surface would turn one.
        const double nz = (double(t[1][0]) - t[0][0]) * (double(t[2][1]) - t[0][1]) -
                          (double(t[1][1]) - t[0][1]) * (double(t[2][0]) - t[0][0]);
        const bool top = t[0][2] > 0 && t[1][2] > 0 && t[2][2] > 0;
        const bool bottom = t[0][2] == 0 && t[1][2] == 0 && t[2][2] == 0;
        if ((top && nz <= 0) || (bottom && nz >= 0)) ++folded;
        if ((top || bottom) && std::fabs(nz) < 0.02) ++slivers;
        for (int k = 0; k < 3; ++k) ++directed[{t[k], t[(k + 1) % 3]}];
        for (const V& v : t) {
            for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], v[k]), hi[k] = std::max(hi[k], v[k]);
            EXPECT_TRUE(v[2] == 0.f || (v[2] >= 2.f && v[2] <= 12.f));
        }
        volume += (double(t[0][0]) * (double(t[1][1]) * t[2][2] - double(t[1][2]) * t[2][1]) -
                   double(t[0][1]) * (double(t[1][0]) * t[2][2] - double(t[1][2]) * t[2][0]) +
                   double(t[0][2]) * (double(t[1][0]) * t[2][1] - double(t[1][1]) * t[2][0])) / 6;
    }
    int bad = 0;
    for (const auto& [e, n] : directed) {
        auto back = directed.find({e[1], e[0]});
        if (n != 1 || back == directed.end() || back->second != 1) ++bad;
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(folded, 0);
    EXPECT_EQ(slivers, 0);
    EXPECT_NEAR(hi[0] - lo[0], 100, 8);
    EXPECT_NEAR(hi[1] - lo[1], 260, 5);
    EXPECT_FLOAT_EQ(lo[2], 0);
    EXPECT_GT(hi[2], 8);
    EXPECT_LE(hi[2], 12);
    EXPECT_GT(volume, 100 * 200 * 2);  // outward faces give a positive volume
}

TEST(SampleBatch, ListNamesItsImages) {
    const std::string list = slurp(sample("batch/Bmp_List.txt"));
    EXPECT_EQ(list, "20220606001_iLeft.bmp\n20220606001_iRight.bmp\nshort_iLeft.bmp");
    EXPECT_EQ(slurp(sample("batch/20220606001_iLeft.bmp")), slurp(sample("foot_left_large_flat.bmp")));
    EXPECT_EQ(slurp(sample("batch/20220606001_iRight.bmp")), slurp(sample("foot_right_large_flat.bmp")));
    EXPECT_EQ(slurp(sample("batch/short_iLeft.bmp")), slurp(sample("foot_left_short_79rows.bmp")));
}

}  // namespace
