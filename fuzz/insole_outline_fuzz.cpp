// libFuzzer target: arbitrary foot bitmaps (as a pressure image delivers
// them) and base-plate settings through the whole insole outline and model build.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/insole_mesh.h"
#include "engine/insole_outline.h"
#include "engine/params.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The outline steps print their measurements; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static engine::PlainParamStore store;
    engine::set_param_store(&store);
    store.set_value(engine::va_bm_para_1, data[0] % 21);
    store.set_value(engine::va_bm_para_2, (data[1] % 51) / 100.0);
    data += 2;
    size -= 2;

    // The rest is the bitmap, repeated to fill all 150 x 360 pixels; a short
    // input thus gives a regular pattern, a long one any picture.
    std::vector<uint8_t> foot(engine::SHAPE_PIXELS, 0);
    for (size_t i = 0; size > 0 && i < foot.size(); ++i) foot[i] = data[i % size];

    static auto shape = std::make_unique<engine::InsoleShape>();
    engine::init_insole_shape(*shape);
    engine::Mesh model;
    engine::build_insole_outline(*shape, foot.data(), model);
    engine::dilate_outline(*shape);
    engine::Mesh plain;
    engine::build_plain_insole_mesh(*shape, plain);
    return 0;
}
