// The image list Bmp_List.txt that tells Strandel which images wait.
#pragma once

#include <string>
#include <vector>

namespace station {

// The list's bytes: names joined by CR LF, nothing after the last.
std::string bmp_list_text(const std::vector<std::string>& names);
enum class BmpList { none_waiting, written, not_written };
// Lists the *.bmp in C:\insole (which it makes current) into Bmp_List.txt;
// none_waiting, and no file written, when none waits. not_written leaves any
// list already there as it was.
BmpList write_bmp_list();

}  // namespace station
