// Fuzzes the output-record names and the upload body built from them: a
// record's body must be UTF-8 JSON, holding the same parts where they were UTF-8.
#include <cjson/cJSON.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "station/records.h"

namespace {
// The C library's own UTF-8 decoder, not the one under test.
bool valid_utf8(const std::string& s) {
    static const bool locale_set = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
    if (!locale_set) return true;
    std::mbstate_t st{};
    for (size_t i = 0; i < s.size();) {
        wchar_t wc;
        size_t n = std::mbrtowc(&wc, s.data() + i, s.size() - i, &st);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) return false;
        // The C library also takes the old five- and six-byte forms and surrogates.
        if (wc > 0x10FFFF || (wc >= 0xD800 && wc <= 0xDFFF)) return false;
        i += n ? n : 1;
    }
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string name(reinterpret_cast<const char*>(data), size);
    name = name.substr(0, name.find('\0'));  // a directory entry's name holds no NUL
    station::find_gcode_marker(name);
    station::BraceRecord r;
    if (!station::parse_record_name(name, r)) return 0;
    const std::string body = station::build_records_body({r, r});
    if (!valid_utf8(body)) std::abort();
    cJSON* json = cJSON_ParseWithLength(body.data(), body.size());
    if (!json) std::abort();
    const cJSON* arrays = cJSON_GetObjectItemCaseSensitive(json, "arrays");
    if (cJSON_GetArraySize(arrays) != 2) std::abort();
    const cJSON* item = cJSON_GetArrayItem(arrays, 0);
    const cJSON* type = cJSON_GetObjectItemCaseSensitive(item, "type");
    const cJSON* size_part = cJSON_GetObjectItemCaseSensitive(item, "size");
    // cJSON stops a string at an escaped NUL, which a file name cannot hold.
    if (!cJSON_IsString(type) || !cJSON_IsString(size_part)) std::abort();
    if (valid_utf8(r.type) && r.type != type->valuestring) std::abort();
    if (valid_utf8(r.size) && r.size != size_part->valuestring) std::abort();
    cJSON_Delete(json);
    return 0;
}
