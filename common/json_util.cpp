// Typed cJSON lookups and JSON string escaping.
#include "json_util.h"

#include <cstdio>

namespace common {

JsonPtr parse_json(const std::string& text) {
    return JsonPtr(cJSON_ParseWithLength(text.data(), text.size()));
}

JsonLookup json_string(const cJSON* object, const char* key, std::string& out) {
    const cJSON* item = cJSON_GetObjectItem(object, key);
    if (!item) return JsonLookup::missing;
    if (!cJSON_IsString(item) || !item->valuestring) return JsonLookup::wrong_type;
    out = item->valuestring;
    return JsonLookup::ok;
}

JsonLookup json_int(const cJSON* object, const char* key, int& out) {
    const cJSON* item = cJSON_GetObjectItem(object, key);
    if (!item) return JsonLookup::missing;
    if (!cJSON_IsNumber(item)) return JsonLookup::wrong_type;
    out = item->valueint;  // cJSON saturates this to INT_MIN..INT_MAX
    return JsonLookup::ok;
}

std::string json_lookup_problem(JsonLookup r, const char* key, const char* wanted_type) {
    if (r == JsonLookup::missing) return std::string("missing key \"") + key + "\"";
    if (r == JsonLookup::wrong_type) return std::string("key \"") + key + "\" is not a " + wanted_type;
    return std::string();
}

std::string json_escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

}  // namespace common
