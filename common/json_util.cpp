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

namespace {

// Length of the well-formed UTF-8 sequence at text[i], or 0 when the byte
// there starts none (a stray continuation, an overlong form, a surrogate,
// past U+10FFFF, or cut short).
size_t utf8_sequence(const std::string& text, size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else return 0;
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned char b = static_cast<unsigned char>(text[i + k]);
        if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return 0;
    }
    return n;
}

}  // namespace

std::string json_escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c >= 0x80) {
                // A byte outside any UTF-8 sequence (a Latin-1 name, say) would
                // make the whole body invalid JSON; it goes in as the code point
                // of its own value.
                const size_t n = utf8_sequence(text, i);
                if (n) {
                    out.append(text, i, n);
                    i += n - 1;
                    break;
                }
            }
            if (c < 0x20 || c >= 0x80) {
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
