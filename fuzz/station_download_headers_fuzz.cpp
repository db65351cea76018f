// Fuzzes the reading of a download's header lines for how its body ends: any
// bytes, split into lines as libcurl hands them over; a status line always
// starts a new answer with no end known yet.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "station/transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bool framed = false;
    size_t start = 0;
    while (start < size) {
        const uint8_t* nl = static_cast<const uint8_t*>(std::memchr(data + start, '\n', size - start));
        const size_t end = nl ? static_cast<size_t>(nl - data) + 1 : size;
        // A copy of just the line: reading past it would show as an overflow.
        std::vector<char> line(data + start, data + end);
        framed = station::body_framed_after(framed, line.data(), line.size());
        if (line.size() > 5 && std::memcmp(line.data(), "HTTP/", 5) == 0 && framed) std::abort();
        start = end;
    }
    return 0;
}
