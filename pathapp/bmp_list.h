// The station's job list as the path program holds it: up to 64 names of up
// to 127 characters, split from the text of Bmp_List.txt.
#pragma once

#include <cstdint>
#include <string>

namespace pathapp {

constexpr int BMP_LIST_MAX = 64;    // names in the job list
constexpr int BMP_NAME_SIZE = 128;  // bytes per name, terminator included

// The job list as read from Bmp_List.txt, without the file handling.
struct BmpList {
    char names[BMP_LIST_MAX][BMP_NAME_SIZE] = {};
    int32_t count = 0;
};
// Splits list text into names (see read_bmp_list); names longer than 127
// characters and names beyond the 64th are left out with a console line
// naming `file`.
// Prints "bmp_list[ %d ] %s\n" for each name closed by a line feed.
void parse_bmp_list(const std::string& text, const std::string& file, BmpList& out);

}  // namespace pathapp
