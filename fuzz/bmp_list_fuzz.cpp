// Fuzz target: the job list reader's text splitting (Bmp_List.txt).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "pathapp/bmp_list.h"

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
    return 0;
}
