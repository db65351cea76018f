// Splitting the text of Bmp_List.txt into the job list.
#include "pathapp/bmp_list.h"

#include <cstdio>

namespace pathapp {

void parse_bmp_list(const std::string& text, const std::string& file, BmpList& out) {
    out = BmpList();
    std::string name;
    bool long_name = false, cut_list = false;
    auto close_name = [&](bool printed) {
        if (out.count >= BMP_LIST_MAX) {
            cut_list = true;
            name.clear();
            return;
        }
        // A cut name could name another image; the job is left out instead.
        if (name.size() > BMP_NAME_SIZE - 1) {
            long_name = true;
            name.clear();
            return;
        }
        snprintf(out.names[out.count], BMP_NAME_SIZE, "%s", name.c_str());
        if (printed) printf("bmp_list[ %d ] %s\n", out.count, out.names[out.count]);
        ++out.count;
        name.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // Read as text: a carriage return before the line feed is part of the line break.
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (c == '\n') {
            close_name(true);
        } else {
            name.push_back(c);
        }
    }
    if (!name.empty()) close_name(false);
    if (long_name) printf("%s: a name longer than %d characters was left out\n", file.c_str(), BMP_NAME_SIZE - 1);
    if (cut_list) printf("%s: more than %d names; the rest wait for the next run\n", file.c_str(), BMP_LIST_MAX);
}

}  // namespace pathapp
