// The load-STL action: native file chooser, then the engine's reader.
#include "pathapp/stl_load.h"

#include <FL/Fl_Native_File_Chooser.H>

#include <cstdio>
#include <string>

#include "engine/stl_model.h"

namespace pathapp {

bool load_stl_model(const StlLoadTarget& target) {
    if (!target.model || !target.box || !target.raster || !target.heel_point) return false;
    Fl_Native_File_Chooser chooser;
    chooser.type(Fl_Native_File_Chooser::BROWSE_FILE);
    chooser.title("Load a STL-MODEL file");
    chooser.filter("model\t*.stl\n");
    switch (chooser.show()) {
        case -1:
            std::fprintf(stderr, "ERROR: %s\n", chooser.errmsg());
            std::fprintf(stderr, "*** CANCEL\n");
            return false;
        case 1:
            std::fprintf(stderr, "*** CANCEL\n");
            return false;
        default:
            break;
    }
    const char* name = chooser.filename();
    if (!name || !*name) return false;
    const std::string path = name;
    // An unusable name is refused before anything of the current model is lost.
    if (!engine::stl_path_fits(path)) return false;
    if (target.reset_placement_matrices) target.reset_placement_matrices();
    return engine::load_stl_file(path, *target.model, *target.box, *target.raster, target.heel_point);
}

}  // namespace pathapp
