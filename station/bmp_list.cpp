// Writing C:\insole\Bmp_List.txt from the images waiting there.
#include "bmp_list.h"

#include <cstdio>

#include "common/file_util.h"
#include "platform/platform.h"
#include "station/server_state.h"

namespace station {

std::string bmp_list_text(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) text += "\r\n";
        text += names[i];
    }
    return text;
}

BmpList write_bmp_list() {
    const std::string dir = insole_path();
    platform::change_dir(dir);
    std::vector<std::string> names = platform::find_files(dir, "*.bmp");
    if (names.empty()) return BmpList::none_waiting;
    const std::string list = dir + "/Bmp_List.txt";
    if (common::write_file_atomic(list, bmp_list_text(names))) return BmpList::written;
    std::printf("%s cannot be written\n", list.c_str());
    return BmpList::not_written;
}

}  // namespace station
