// libFuzzer target: the STL reader on arbitrary bytes, binary and ASCII alike
// (the reader tells them apart itself).
#include <cstddef>
#include <cstdint>
#include <cmath>
#include <cstdio>

#include "engine/mesh.h"
#include "engine/stl_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char empty[1] = {0};
    // A read-only memory stream; an empty input still gets a (zero-length) stream.
    std::FILE* f = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : fmemopen(empty, 0, "rb");
    if (!f) f = fmemopen(empty, 1, "rb");
    if (!f) return 0;
    engine::Mesh model;
    engine::ModelBox box;
    const engine::StlReadResult r = engine::read_stl_stream(f, "fuzz.stl", model, box);
    std::fclose(f);
    // What the reader hands on must be whole and finite.
    if (r.triangles != model.size()) __builtin_trap();
    for (const engine::MeshTriangle& t : model) {
        const float* v = &t.a.x;
        for (int i = 0; i < 9; ++i)
            if (!std::isfinite(v[i])) __builtin_trap();
    }
    return 0;
}
