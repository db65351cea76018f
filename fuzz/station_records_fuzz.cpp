// Fuzzes the output-record names and the upload body built from them: a
// record's body must read back as JSON holding the same parts.
#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "station/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string name(reinterpret_cast<const char*>(data), size);
    name = name.substr(0, name.find('\0'));  // a directory entry's name holds no NUL
    station::find_gcode_marker(name);
    station::BraceRecord r;
    if (!station::parse_record_name(name, r)) return 0;
    const std::string body = station::build_records_body({r, r});
    cJSON* json = cJSON_ParseWithLength(body.data(), body.size());
    if (!json) std::abort();
    const cJSON* arrays = cJSON_GetObjectItemCaseSensitive(json, "arrays");
    if (cJSON_GetArraySize(arrays) != 2) std::abort();
    const cJSON* item = cJSON_GetArrayItem(arrays, 0);
    const cJSON* type = cJSON_GetObjectItemCaseSensitive(item, "type");
    const cJSON* size_part = cJSON_GetObjectItemCaseSensitive(item, "size");
    // cJSON stops a string at an escaped NUL, which a file name cannot hold.
    if (!cJSON_IsString(type) || r.type != type->valuestring) std::abort();
    if (!cJSON_IsString(size_part) || r.size != size_part->valuestring) std::abort();
    cJSON_Delete(json);
    return 0;
}
