// Fuzzes the reader of station.conf.
#include <cstdint>
#include <string>

#include "station/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    station::Config c;
    std::string error;
    station::parse_config(text, c, error);
    return 0;
}
