// Picks a font family with Chinese glyphs for the toolkit's labels.
#include "common/cjk_font.h"

#include <FL/Fl.H>
#include <fontconfig/fontconfig.h>

#include <cstring>
#include <string>

namespace common {

void use_cjk_font() {
    // Xft draws each string with one face, so the default face must hold the
    // Chinese labels itself; a Latin-only "sans" would show empty boxes.
    static bool chosen = false;
    if (chosen) return;
    chosen = true;
    if (!FcInit()) return;
    FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>("sans:lang=zh-tw"));
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult res;
    FcFontSet* set = FcFontSort(nullptr, pat, FcFalse, nullptr, &res);
    std::string family;
    if (set) {
        FcLangSet* want = FcLangSetCreate();
        FcLangSetAdd(want, reinterpret_cast<const FcChar8*>("zh-tw"));
        for (int i = 0; i < set->nfont && family.empty(); ++i) {
            FcLangSet* langs = nullptr;
            FcChar8* fam = nullptr;
            if (FcPatternGetLangSet(set->fonts[i], FC_LANG, 0, &langs) == FcResultMatch &&
                FcLangSetContains(langs, want) &&
                FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &fam) == FcResultMatch)
                family = reinterpret_cast<const char*>(fam);
        }
        FcLangSetDestroy(want);
        FcFontSetDestroy(set);
    }
    FcPatternDestroy(pat);
    if (family.empty()) return;
    // FLTK keeps the name pointers, so they live as long as the program.
    const char* regular = strdup((" " + family).c_str());  // leading blank: the plain face
    const char* bold = strdup(("B" + family).c_str());
    Fl::set_font(FL_HELVETICA, regular);
    Fl::set_font(FL_HELVETICA_BOLD, bold);
}


}  // namespace common
