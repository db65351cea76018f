// The native file chooser as every program's dialogs use it.
#include "common/file_dialog.h"

#include <FL/Fl_Native_File_Chooser.H>

#include <cstdio>

namespace common {

bool choose_file(const char* title, const char* filter, bool save, std::string& out) {
    Fl_Native_File_Chooser chooser;
    chooser.type(save ? Fl_Native_File_Chooser::BROWSE_SAVE_FILE : Fl_Native_File_Chooser::BROWSE_FILE);
    chooser.title(title);
    if (filter) chooser.filter(filter);
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
    out = name;
    return true;
}

}  // namespace common
