// Fuzz target: the job list reader's text splitting (Bmp_List.txt) and the
// check of each name before the batch uses it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "pathapp/bmp_list.h"
#include "pathapp/refused_images.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every name read is printed; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pathapp::BmpList list;
    const std::string text(reinterpret_cast<const char*>(data), size);
    pathapp::parse_bmp_list(text, "Bmp_List.txt", list);
    // Every name stays terminated inside its slot.
    for (int i = 0; i < list.count; ++i)
        if (memchr(list.names[i], 0, pathapp::BMP_NAME_SIZE) == nullptr) __builtin_trap();
    if (list.count < 0 || list.count > pathapp::BMP_LIST_MAX) __builtin_trap();
    // A name the batch would use stays a plain name inside the insole directory.
    for (int i = 0; i < list.count; ++i) {
        const std::string name = list.names[i];
        if (!pathapp::list_name_problem(name).empty()) continue;
        if (name.empty() || name.find_first_of("/\\:") != std::string::npos || name.find("..") != std::string::npos)
            __builtin_trap();
    }
    return 0;
}
