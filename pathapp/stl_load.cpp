// The load-STL action: native file chooser, then the engine's reader.
#include "common/file_dialog.h"
#include "pathapp/stl_load.h"


#include <cstdio>
#include <cstring>
#include <string>

#include "engine/stl_model.h"
#include "platform/platform.h"

namespace pathapp {

bool to_ansi_path(char* name, size_t capacity) {
    if (!name || capacity == 0) return false;
    const size_t len = strnlen(name, capacity);
    const std::string ansi = platform::utf8_to_ansi(std::string(name, len));
    if (ansi.size() >= capacity) {
        std::printf("file name %.*s does not fit in %zu bytes in the ANSI code page\n", static_cast<int>(len), name,
                    capacity - 1);
        return false;
    }
    std::memcpy(name, ansi.c_str(), ansi.size() + 1);
    return true;
}

bool load_stl_model(const StlLoadTarget& target) {
    if (!target.model || !target.box || !target.raster || !target.heel_point) return false;
    std::string path;
    if (!common::choose_file("Load a STL-MODEL file", "model\t*.stl\n", false, path)) return false;
    // An unusable name is refused before anything of the current model is lost.
    if (!engine::stl_path_fits(path)) return false;
    if (target.reset_placement_matrices) target.reset_placement_matrices();
    return engine::load_stl_file(path, *target.model, *target.box, *target.raster, target.heel_point);
}

}  // namespace pathapp
