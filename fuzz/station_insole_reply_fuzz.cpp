// Fuzzes the insole-data reply handling: acceptance and the stored text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "station/insole_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::string problem;
    station::accept_insole_reply(body, problem);
    const std::string stored = station::insole_info_text(body);
    if (stored.find('\0') != std::string::npos) std::abort();
    return 0;
}
