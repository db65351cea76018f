// Typed lookups in cJSON objects that say what is wrong instead of crashing,
// and JSON string escaping for bodies built by hand.
#pragma once

#include <cjson/cJSON.h>

#include <memory>
#include <string>

namespace common {

struct JsonDeleter {
    void operator()(cJSON* j) const { cJSON_Delete(j); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// Parses text of exactly `size` bytes (it need not end in NUL); null when it
// is not JSON.
JsonPtr parse_json(const std::string& text);

enum class JsonLookup { ok, missing, wrong_type };

// Member lookups ignore letter case, as cJSON's object lookup does.
JsonLookup json_string(const cJSON* object, const char* key, std::string& out);
// A number's integer value, saturated to the int range.
JsonLookup json_int(const cJSON* object, const char* key, int& out);

// "missing key \"x\"" or "key \"x\" is not a text" for a console line.
std::string json_lookup_problem(JsonLookup r, const char* key, const char* wanted_type);

// The text escaped for use between the quotes of a JSON string; well-formed
// UTF-8 stays as it is, any other byte becomes \u00XX, so the result is valid
// JSON whatever the bytes.
std::string json_escape(const std::string& text);

}  // namespace common
