// Writes each foot image's insole model, built as a pressure-image load builds it, with the path
// program's own STL writer (the one behind 儲存STL), so the peer slicers get the same insole.
// Usage: bench_export_insole_stl OUT_DIR IMAGE.bmp...   prints "BENCH export/<name> stl <path> file"
#include <FreeImage.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/insole_mesh.h"
#include "engine/insole_outline.h"
#include "engine/insole_shape.h"
#include "engine/params.h"
#include "engine/stl_model.h"
#include "pathapp/pressure_image.h"

namespace {

std::string stem(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// The steps of the shell's load from the pixel copy to the model; false with a console line when
// the image cannot give one.
bool build_model(const std::string& path, engine::Mesh& model) {
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
    FIBITMAP* bmp = fif == FIF_UNKNOWN ? nullptr : FreeImage_Load(fif, path.c_str(), 0);
    if (!bmp) {
        std::printf("export_insole_stl: %s: not an image\n", path.c_str());
        return false;
    }
    pathapp::ImageBits in;
    in.bits = FreeImage_GetBits(bmp);
    in.width = static_cast<int>(FreeImage_GetWidth(bmp));
    in.height = static_cast<int>(FreeImage_GetHeight(bmp));
    in.pitch = static_cast<int>(FreeImage_GetPitch(bmp));
    in.bpp = static_cast<int>(FreeImage_GetBPP(bmp));
    if (in.width != pathapp::IMAGE_W || in.height != pathapp::IMAGE_H || !in.bits) {
        std::printf("export_insole_stl: %s: not a 150 x 360 image\n", path.c_str());
        FreeImage_Unload(bmp);
        return false;
    }
    auto img = std::make_unique<pathapp::PressureImage>();
    uint8_t has_marks = 0;
    pathapp::copy_image_pixels(in, *img, has_marks, path);
    FreeImage_Unload(bmp);
    if (engine::pval(engine::bt_test1) != 0) pathapp::slope_pass(*img, 2);
    if (engine::pval(engine::bt_whole_insole) == 0) pathapp::raise_heel_floor(img->foot_image);
    auto shape = std::make_unique<engine::InsoleShape>();
    engine::init_insole_shape(*shape);
    model.clear();
    if (has_marks) {
        std::memcpy(shape->foot_map, img->foot_image, sizeof img->foot_image);
        engine::measure_foot_ranges(*shape, shape->foot_map);
        engine::build_plain_insole_mesh(*shape, model);
    } else {
        engine::build_insole_outline(*shape, &img->foot_image[0][0], model);
    }
    engine::destroy_insole_shape(*shape);
    if (model.empty()) {
        std::printf("export_insole_stl: %s: no insole model\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT_DIR IMAGE.bmp...\n", argv[0]);
        return 2;
    }
    FreeImage_Initialise(FALSE);
    engine::PlainParamStore store;
    engine::set_param_store(&store);
    int failed = 0;
    for (int i = 2; i < argc; ++i) {
        engine::Mesh model;
        if (!build_model(argv[i], model)) {
            ++failed;
            continue;
        }
        const std::string out = std::string(argv[1]) + "/" + stem(argv[i]) + ".stl";
        if (!engine::write_stl_text(out, model)) {
            std::printf("export_insole_stl: cannot write %s\n", out.c_str());
            ++failed;
            continue;
        }
        std::printf("BENCH export/%s triangles %zu count\n", stem(argv[i]).c_str(), model.size());
        std::printf("BENCH export/%s stl %s file\n", stem(argv[i]).c_str(), out.c_str());
    }
    engine::set_param_store(nullptr);
    FreeImage_DeInitialise();
    return failed ? 1 : 0;
}
