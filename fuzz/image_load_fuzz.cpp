// Fuzz target: image loading as the shell does it. The first byte picks the
// input: a BMP (in memory or, on some choices, as a file) decoded by FreeImage and copied with its marks, raw
// 150 x 360 pixels of 8, 24 or 32 bits with marks in rows 0 and 1 (either
// of them followed by the foot steps on some choices), or a per-job
// settings file.
#include <FreeImage.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pathapp/image_file.h"
#include "pathapp/pressure_image.h"

using namespace pathapp;

namespace {

void foot_steps(PressureImage& img) {
    int first, last;
    foot_row_extent(img.foot_image, first, last);
    slope_pass(img, 2);
    raise_heel_floor(img.foot_image);
    float x, y;
    find_raw_heel_point(img.foot_image, x, y);
}

// The file reader goes through a file of the input's bytes.
OpenedImage open_as_file(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/image_load_fuzz_" + std::to_string(::getpid()) + ".bmp";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return OpenedImage();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    OpenedImage o = open_image_file(path);
    std::remove(path.c_str());
    return o;
}

void from_bmp(bool with_foot_steps, bool as_file, const uint8_t* data, size_t size, PressureImage& img) {
    const OpenedImage o = as_file ? open_as_file(data, size) : open_image_memory(data, size);
    if (o.status != ImageOpen::OK) return;
    FIBITMAP* bmp = o.bitmap;
    ImageBits in{FreeImage_GetBits(bmp), IMAGE_W, IMAGE_H, static_cast<int>(FreeImage_GetPitch(bmp)),
                 static_cast<int>(FreeImage_GetBPP(bmp))};
    if (o.palette) in.grey = o.grey;
    uint8_t marks = 0;
    copy_image_pixels(in, img, marks, "fuzz.bmp");
    copy_contour_pixels(in, img);
    if (with_foot_steps) foot_steps(img);
    FreeImage_Unload(bmp);
}

void from_raw(uint8_t bits_choice, bool with_foot_steps, const uint8_t* data, size_t size, PressureImage& img) {
    static const int BPP[3] = {8, 24, 32};
    const int bpp = BPP[bits_choice % 3];
    const int pitch = ((IMAGE_W * bpp + 31) / 32) * 4;
    std::vector<uint8_t> pixels(static_cast<size_t>(pitch) * IMAGE_H, 0);
    memcpy(pixels.data(), data, std::min(size, pixels.size()));
    ImageBits in{pixels.data(), IMAGE_W, IMAGE_H, pitch, bpp};
    uint8_t marks = 0;
    copy_image_pixels(in, img, marks, "fuzz.bmp");
    if (with_foot_steps) foot_steps(img);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The loaders print their facts and complaints; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static auto img = std::make_unique<PressureImage>();
    const uint8_t mode = data[0];
    ++data;
    --size;
    // The slope pass of the foot steps takes up to seconds on a whole foot
    // under the sanitizers; one choice in sixteen runs them, so the readers get
    // most runs.
    switch (mode % 3) {
    case 0: from_bmp((mode / 3) % 16 == 1, (mode / 3) % 16 == 2, data, size, *img); break;
    case 1: from_raw(mode / 3, (mode / 9) % 16 == 1, data, size, *img); break;
    default: {
        JobSettings js;
        parse_job_settings(std::string(reinterpret_cast<const char*>(data), size), "fuzz.txt", js);
        std::string name;
        replace_last_three(std::string(reinterpret_cast<const char*>(data), std::min<size_t>(size, 300)), "txt",
                           128, name);
        break;
    }
    }
    return 0;
}
