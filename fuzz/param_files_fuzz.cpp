// Fuzzes the parameter file readers: one-value files in every read format,
// PointSpacing.txt, origin_point.txt and Parameters.txt, from buffers and
// through a real file.
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "engine/params.h"
#include "pathapp/param_files.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The readers report bad input on the console; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pathapp;
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t n = size - 1;
    switch (mode % 6) {
    case 0: {
        static const engine::ParamFile formats[] = {engine::ParamFile::F, engine::ParamFile::D,
                                                    engine::ParamFile::DF, engine::ParamFile::DN};
        OneValue v = parse_one_value(text, n, formats[(mode / 6) % 4], 2.0, "fuzz.txt");
        if (v.value != v.value) __builtin_trap();  // never NaN
        param_value_refusal(static_cast<engine::ParamId>((mode / 24) % engine::PARAM_COUNT), v);
        break;
    }
    case 1:
        parse_point_spacing(text, n);
        break;
    case 2:
        origin_refusal(parse_origin_point(text, n));
        break;
    case 3: {
        ParametersJson p;
        parse_parameters_json(text, n, p, "fuzz.txt");
        break;
    }
    default: {
        // The path readers over the same bytes.
        static const std::string path = "/tmp/param_files_fuzz_" + std::to_string(static_cast<long>(getpid())) + ".txt";
        FILE* f = fopen(path.c_str(), "wb");
        if (!f) return 0;
        fwrite(text, 1, n, f);
        fclose(f);
        engine::PlainParamStore store;
        load_parameters_json_file(store, path);
        double v = 0;
        read_one_value_file(path, engine::ParamFile::F, 0, v);
        PointSpacing ps;
        read_point_spacing_file(path, ps);
        OriginPoint o;
        read_origin_point_file(path, o);
        std::string t;
        read_text_file(path, t);
        remove(path.c_str());
        break;
    }
    }
    return 0;
}
