// Fuzz target: Fitmire's image loaders on any file: the height template the
// operator picks (the first byte chooses template, left or right, or pad
// stamp), then the landmark search and pad sizing over the loaded template.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

#include "scaler/insole_image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The loaders print the image facts; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const std::string path = "/tmp/scaler_images_fuzz_" + std::to_string(static_cast<long>(getpid())) + ".bmp";
    const uint8_t mode = data[0];
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    fwrite(data + 1, 1, size - 1, f);
    fclose(f);
    static auto img = std::make_unique<fitmire::InsoleImage>();
    if (mode % 3 == 2) {
        img->load_drop(path.c_str());
    } else {
        fitmire::ScalerControls c;
        if (img->load_texture(path.c_str(), mode % 3, c)) {
            img->find_landmarks(img->output_plane, img->template_side);
            img->size_pad(c);
            img->apply_length(c);
        }
    }
    remove(path.c_str());
    return 0;
}
