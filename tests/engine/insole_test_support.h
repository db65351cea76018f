// Shared set-up for the engine tests: a heap-held shape, a private
// parameter store, bitmap drawing helpers, a box solid.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/insole_shape.h"
#include "engine/layer_raster.h"
#include "engine/mesh.h"
#include "engine/params.h"

namespace insoletest {

using Bitmap = std::vector<uint8_t>;

inline Bitmap blank() { return Bitmap(engine::SHAPE_PIXELS, 0); }
inline uint8_t& at(Bitmap& b, int x, int y) { return b[y * engine::SHAPE_W + x]; }
inline uint8_t at(const uint8_t* b, int x, int y) { return b[y * engine::SHAPE_W + x]; }
inline uint8_t& at(uint8_t* b, int x, int y) { return b[y * engine::SHAPE_W + x]; }

template <class B>  // a Bitmap or one of the shape's maps
void fill_rect(B& b, int x0, int y0, int x1, int y1, uint8_t v = 100) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) at(b, x, y) = v;
}

// Random blobs and specks, borders included, for passes that must stay in bounds.
inline Bitmap random_bitmap(uint32_t seed, int density_pct = 50) {
    std::mt19937 rng(seed);
    Bitmap b = blank();
    for (auto& v : b) v = static_cast<int>(rng() % 100) < density_pct ? static_cast<uint8_t>(1 + rng() % 255) : 0;
    return b;
}

// A private parameter store at the start values for one test.
class ParamTest : public ::testing::Test {
protected:
    void SetUp() override { engine::set_param_store(&store); }
    void TearDown() override { engine::set_param_store(nullptr); }
    engine::PlainParamStore store;
};

// And a fresh shape (too large for the stack).
class ShapeTest : public ParamTest {
protected:
    void SetUp() override {
        ParamTest::SetUp();
        shape = std::make_unique<engine::InsoleShape>();
        engine::init_insole_shape(*shape);
    }
    std::unique_ptr<engine::InsoleShape> shape;
};

// What f prints on the console.
template <class F>
std::string console_of(F&& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

inline int count_set(const uint8_t* b) {
    int n = 0;
    for (int i = 0; i < engine::SHAPE_PIXELS; ++i) n += b[i] != 0;
    return n;
}

inline bool same_border(const uint8_t* a, const uint8_t* b) {
    for (int x = 0; x < engine::SHAPE_W; ++x)
        if (at(a, x, 0) != at(b, x, 0) || at(a, x, engine::SHAPE_H - 1) != at(b, x, engine::SHAPE_H - 1)) return false;
    for (int y = 0; y < engine::SHAPE_H; ++y)
        if (at(a, 0, y) != at(b, 0, y) || at(a, engine::SHAPE_W - 1, y) != at(b, engine::SHAPE_W - 1, y)) return false;
    return true;
}

inline engine::PathPoint pt(float x, float y) {
    engine::PathPoint p;
    p.x = x, p.y = y;
    return p;
}

// Cells x0..x1 of rows y0..y1 of the raster's layer plane.
inline void fill(engine::LayerRaster& r, int x0, int x1, int y0, int y1, uint8_t v = 200) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) r.layer_plane[y * engine::RASTER_W + x] = v;
}

// An axis-aligned box of 12 triangles, each wound counter-clockwise seen
// from outside, as a closed STL solid is.
inline engine::Mesh box_mesh(engine::Vec3 lo, engine::Vec3 hi) {
    auto c = [&](int i) { return engine::Vec3{i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z}; };
    const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    engine::Mesh m;
    for (const auto& f : faces) m.push_back({c(f[0]), c(f[1]), c(f[2])}), m.push_back({c(f[0]), c(f[2]), c(f[3])});
    return m;
}

inline engine::ModelBox box_of(const engine::Mesh& m) {
    engine::ModelBox b;
    for (const auto& t : m) b.widen(t.a), b.widen(t.b), b.widen(t.c);
    return b;
}

}  // namespace insoletest
