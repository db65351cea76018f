// The programs' labels are Chinese: make FLTK's default face one that holds them.
#pragma once

namespace common {

// Finds a zh-tw family through fontconfig and makes it FL_HELVETICA (plain and
// bold); leaves the toolkit's fonts alone when none is installed. Once per program.
void use_cjk_font();

}  // namespace common
