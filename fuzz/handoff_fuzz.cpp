// libFuzzer target: Fitmire's reader of the hand-off file "insole parameters.txt".
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scaler/handoff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fitmire::Handoff h;
    fitmire::parse_insole_parameters(reinterpret_cast<const char*>(data), size, h);
    // The name must always be a terminated string within its buffer.
    if (std::memchr(h.job_name, '\0', sizeof h.job_name) == nullptr) __builtin_trap();
    fitmire::job_name_usable(h.job_name);
    return 0;
}
