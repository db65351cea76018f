// The image list Bmp_List.txt that tells Strandel which images wait.
#pragma once

#include <string>
#include <vector>

namespace station {

// The list's bytes: names joined by CR LF, nothing after the last.
std::string bmp_list_text(const std::vector<std::string>& names);
// Lists the *.bmp in C:\insole (which it makes current) into Bmp_List.txt;
// false, and no file written, when none waits.
bool write_bmp_list();

}  // namespace station
