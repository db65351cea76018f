// libFuzzer target: Fitmire's reader of the hand-off file "insole parameters.txt",
// from a buffer and through a real file, and what its numbers drive: the
// accepted job on a loaded template and the rebuild's steps after the
// OpenGL scaling (heights, arch factor, box and pad).
#include <FreeImage.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

#include "common/job_name.h"
#include "scaler/handoff.h"
#include "scaler/insole_image.h"
#include "scaler/planes.h"

namespace {

std::unique_ptr<fitmire::InsoleImage> g_img;
fitmire::Plane g_template_plane;

// An oval insole of heights 10..90 as a 150 x 360 grey template.
bool load_template() {
    const std::string path = "/tmp/handoff_fuzz_template_" + std::to_string(static_cast<long>(getpid())) + ".bmp";
    FIBITMAP* bmp = FreeImage_Allocate(fitmire::kCols, fitmire::kRows, 8);
    if (!bmp) return false;
    RGBQUAD* pal = FreeImage_GetPalette(bmp);
    for (int i = 0; i < 256; ++i) pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = static_cast<BYTE>(i);
    for (int r = 0; r < fitmire::kRows; ++r) {
        BYTE* line = FreeImage_GetScanLine(bmp, r);
        for (int c = 0; c < fitmire::kCols; ++c) {
            const double dx = (c - 75) / 60.0, dy = (r - 180) / 165.0;
            const double q = dx * dx + dy * dy;
            line[c] = q < 1 ? static_cast<BYTE>(10 + 80 * (1 - q)) : 0;
        }
    }
    const bool saved = FreeImage_Save(FIF_BMP, bmp, path.c_str(), 0);
    FreeImage_Unload(bmp);
    if (!saved) return false;
    fitmire::ScalerControls c;
    const bool ok = g_img->load_texture(path.c_str(), 0, c);
    remove(path.c_str());
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Fitmire prints the values it takes; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout)) return 0;
    g_img = std::make_unique<fitmire::InsoleImage>();
    if (!load_template()) __builtin_trap();
    std::memcpy(g_template_plane, g_img->work_plane, sizeof g_template_plane);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fitmire::Handoff h;
    fitmire::parse_insole_parameters(reinterpret_cast<const char*>(data), size, h);
    // The name must always be a terminated string within its buffer.
    if (std::memchr(h.job_name, '\0', sizeof h.job_name) == nullptr) __builtin_trap();
    common::job_name_usable(h.job_name);
    // A record is used only with a finite arch index and a foot's length.
    for (int side = 0; side < 2; ++side) {
        const float* v = side ? h.right_values : h.left_values;
        const bool usable = side ? h.right_found && h.right_refused.empty() : h.left_found && h.left_refused.empty();
        if (usable && (!std::isfinite(v[0]) || !(v[1] > 0) || !(v[1] + 10 <= 360))) __builtin_trap();
    }

    // The file reader must agree with the buffer reader.
    static const std::string path = "/tmp/handoff_fuzz_" + std::to_string(static_cast<long>(getpid())) + ".txt";
    if (FILE* f = fopen(path.c_str(), "wb")) {
        fwrite(data, 1, size, f);
        fclose(f);
        fitmire::Handoff from_file;
        std::string problems;
        const bool read = fitmire::read_insole_parameters_file(path, from_file, &problems);
        remove(path.c_str());
        if (read != (size <= 65536)) __builtin_trap();
        if (read && (from_file.left_found != h.left_found || from_file.right_found != h.right_found ||
                     from_file.left_refused != h.left_refused || from_file.right_refused != h.right_refused ||
                     std::strcmp(from_file.job_name, h.job_name) != 0))
            __builtin_trap();
    }

    // What the numbers drive: the pending side's length and arch index, then
    // the rebuild's plain steps on the template's heights.
    fitmire::InsoleImage& img = *g_img;
    img.left_pending = img.right_pending = false;
    const bool pending = img.accept_handoff(h, "insole parameters.txt");
    // A job that does not end the program has a usable side waiting.
    if (!pending && !img.job_ends_program) __builtin_trap();
    if (!pending) return 0;
    fitmire::ScalerControls c;
    img.apply_pending(c);
    std::memcpy(img.work_plane, g_template_plane, sizeof g_template_plane);
    fitmire::scale_heights(img.work_plane, static_cast<float>(c.length) / img.measured_length, c.height_ratio);
    const double index = img.current_side ? c.right_arch_index : c.left_arch_index;
    fitmire::apply_arch_factor(img.work_plane, img.height_field, static_cast<float>(index), img.current_side,
                               img.template_side);
    img.measure_box(img.work_plane);
    img.size_pad(c);
    return 0;
}
