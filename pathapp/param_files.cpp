// Reading and writing the parameter files: one-value files, PointSpacing.txt,
// origin_point.txt, text blocks and the Parameters.txt JSON export.
#include "pathapp/param_files.h"

#include <cjson/cJSON.h>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace pathapp {

const char* const POINT_SPACING_FILE = "PointSpacing.txt";
const char* const ORIGIN_POINT_FILE = "origin_point.txt";
const char* const PARAMETERS_FILE = "Parameters.txt";

namespace {

std::string printf_string(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s;
    if (n > 0) {
        s.resize(static_cast<size_t>(n) + 1);
        vsnprintf(&s[0], s.size(), fmt, ap2);
        s.resize(static_cast<size_t>(n));
    }
    va_end(ap2);
    return s;
}

bool write_bytes(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (fclose(f) == 0) && ok;
    return ok;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The scanf conversions this program's files use, over a byte range: each
// scan skips white space, then reads one number or fails without consuming
// it (so a later scan sees the same text again, as a stream scan does).
class Scanner {
public:
    Scanner(const char* data, size_t size) : data_(data), size_(size) {}

    bool scan_int(int& out) {
        skip_space();
        size_t p = pos_;
        bool negative = false;
        if (p < size_ && (data_[p] == '+' || data_[p] == '-')) negative = data_[p++] == '-';
        size_t digits_at = p;
        long long v = 0;
        while (p < size_ && data_[p] >= '0' && data_[p] <= '9') {
            if (v <= static_cast<long long>(INT_MAX) + 1) v = v * 10 + (data_[p] - '0');
            ++p;
        }
        if (p == digits_at) return false;
        if (negative) v = -v;
        if (v > INT_MAX) v = INT_MAX;
        if (v < INT_MIN) v = INT_MIN;
        out = static_cast<int>(v);
        pos_ = p;
        return true;
    }

    // False when no number starts here; finite is false for inf, nan and
    // values beyond the float range.
    bool scan_float(float& out, bool& finite) {
        skip_space();
        char token[257];
        size_t n = 0;
        while (pos_ + n < size_ && n < sizeof(token) - 1) {
            char c = data_[pos_ + n];
            if (c == '\0' || is_space(c)) break;
            token[n++] = c;
        }
        token[n] = '\0';
        char* end = nullptr;
        float v = strtof(token, &end);
        if (end == token) return false;
        finite = std::isfinite(v);  // an underflow to zero is still a number
        out = v;
        pos_ += static_cast<size_t>(end - token);
        return true;
    }

    // Nothing but white space is left.
    bool at_end() {
        skip_space();
        return pos_ >= size_;
    }

private:
    void skip_space() {
        while (pos_ < size_ && is_space(data_[pos_])) ++pos_;
    }

    const char* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace

bool read_whole_file(const std::string& path, std::string& out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string data;
    char chunk[4096];
    size_t n;
    bool too_large = false;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (data.size() + n > PARAM_FILE_LIMIT) {
            too_large = true;
            break;
        }
        data.append(chunk, n);
    }
    fclose(f);
    if (too_large) {
        printf("%s: larger than %zu bytes, not read\n", path.c_str(), PARAM_FILE_LIMIT);
        return false;
    }
    out.swap(data);
    return true;
}

std::string param_file_name(engine::ParamId id) { return std::string(engine::param_info(id).name) + ".txt"; }

namespace {
std::string g_param_dir;  // the program's start directory; empty: relative names
}  // namespace

void set_param_dir(const std::string& dir) { g_param_dir = dir; }

std::string param_path(const std::string& file_name) {
    if (g_param_dir.empty() || file_name.empty() || file_name[0] == '/') return file_name;
    return g_param_dir + (g_param_dir.back() == '/' ? "" : "/") + file_name;
}

int trunc_to_int(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

// ---- one-value files ----------------------------------------------------------

OneValue parse_one_value(const char* data, size_t size, engine::ParamFile fmt, double blank, const char* file_name) {
    OneValue r;
    r.value = blank;
    Scanner s(data, size);
    if (fmt == engine::ParamFile::F || fmt == engine::ParamFile::DF) {
        float f = 0;
        bool finite = false;
        if (!s.scan_float(f, finite)) {
            if (file_name) printf("%s: holds no number, using %g\n", file_name, blank);
        } else if (!finite) {
            if (file_name) printf("%s: not a finite number, using %g\n", file_name, blank);
            r.not_finite = true;
        } else {
            r.value = f;
            r.number = true;
        }
    } else {
        int i = 0;
        if (s.scan_int(i)) {
            r.value = i;
            r.number = true;
        } else if (file_name) {
            printf("%s: holds no number, using %g\n", file_name, blank);
        }
    }
    return r;
}

bool read_one_value_file(const std::string& path, engine::ParamFile fmt, double blank, double& value) {
    std::string data;
    if (!read_whole_file(path, data)) return false;
    value = parse_one_value(data.data(), data.size(), fmt, blank, path.c_str()).value;
    return true;
}

std::string format_one_value(engine::ParamFile fmt, double value) {
    switch (fmt) {
    case engine::ParamFile::F:
        return printf_string("%f", value);
    case engine::ParamFile::DN:
        return printf_string("%d\n", trunc_to_int(value));
    default:
        return printf_string("%d", trunc_to_int(value));
    }
}

bool write_one_value_file(const std::string& path, engine::ParamFile fmt, double value) {
    return write_bytes(path, format_one_value(fmt, value));
}

// ---- values a file may hold -----------------------------------------------------

bool param_read_limits(engine::ParamId id, double& lo, double& hi) {
    using namespace engine;
    switch (id) {
    case va_first_speed:
    case va_other_speed:
    case va_empty_speed:
    case va_no_cross_speed:
    case va_back_speed:
        lo = 0, hi = 100000;
        return true;
    case va_first_extrusion:
    case va_second_extrusion:
    case va_extrusion:
    case va_extrusion_max:
    case va_extrusion_min:
    case va_thick_of_first_layer:
    case va_thick_of_second_layer:
        lo = 0, hi = 10;
        return true;
    default:
        break;
    }
    const ParamInfo& in = param_info(id);
    if (in.kind != ParamKind::VI && in.kind != ParamKind::VS) return false;
    if (in.file == ParamFile::NONE || in.file == ParamFile::TEXT || id == choice_interval) return false;
    lo = in.minimum, hi = in.maximum;
    return true;
}

std::string param_value_refusal(engine::ParamId id, const OneValue& v) {
    double lo = 0, hi = 0;
    if (!param_read_limits(id, lo, hi)) return "";
    if (v.not_finite) return "holds no finite number";
    // "%f" files come back in single precision: 0.01 reads as 0.0099999998.
    const float f = static_cast<float>(v.value);
    if (std::isfinite(v.value) && f >= static_cast<float>(lo) && f <= static_cast<float>(hi)) return "";
    if (!v.number) return printf_string("holds no number (%.10g), outside %g to %g", v.value, lo, hi);
    return printf_string("holds %.10g, outside %g to %g", v.value, lo, hi);
}

// ---- PointSpacing.txt ---------------------------------------------------------

PointSpacing parse_point_spacing(const char* data, size_t size) {
    Scanner s(data, size);
    int v = 1;
    PointSpacing r;
    s.scan_int(v);
    r.point_space = v;
    s.scan_int(v);
    r.interval_index = v;
    return r;
}

bool read_point_spacing_file(const std::string& path, PointSpacing& out) {
    std::string data;
    if (!read_whole_file(path, data)) return false;
    out = parse_point_spacing(data.data(), data.size());
    return true;
}

std::string format_point_spacing(int point_space, int interval_index) {
    return printf_string("%d\n%d\n", point_space, interval_index);
}

bool write_point_spacing_file(const std::string& path, int point_space, int interval_index) {
    return write_bytes(path, format_point_spacing(point_space, interval_index));
}

// ---- origin_point.txt ---------------------------------------------------------

OriginPoint parse_origin_point(const char* data, size_t size) {
    Scanner s(data, size);
    OriginPoint o;
    // A failed scan stops the rest, as a scan of the stream would.
    int* fields[] = {&o.x, &o.y, &o.extra0, &o.extra1};
    o.numbers = 0;
    for (int* f : fields) {
        if (!s.scan_int(*f)) break;
        ++o.numbers;
    }
    // Four numbers and nothing after them but white space.
    if (o.numbers == 4 && !s.at_end()) o.numbers = 5;
    return o;
}

bool read_origin_point_file(const std::string& path, OriginPoint& out) {
    std::string data;
    if (!read_whole_file(path, data)) return false;
    out = parse_origin_point(data.data(), data.size());
    return true;
}

std::string origin_refusal(const OriginPoint& o) {
    if (o.numbers != 4) return "is not four whole numbers";
    OneValue v;
    v.number = true;
    v.value = o.x;
    std::string why = param_value_refusal(engine::origin_x, v);
    if (!why.empty()) return "x " + why;
    v.value = o.y;
    why = param_value_refusal(engine::origin_y, v);
    return why.empty() ? why : "y " + why;
}

std::string format_origin_point(const OriginPoint& o) {
    return printf_string("%d\n%d\n%d\n%d\n", o.x, o.y, o.extra0, o.extra1);
}

bool write_origin_point_file(const std::string& path, const OriginPoint& o) {
    return write_bytes(path, format_origin_point(o));
}

// ---- text blocks --------------------------------------------------------------

bool read_text_file(const std::string& path, std::string& text) {
    std::string data;
    if (!read_whole_file(path, data)) return false;
    text.assign(data.c_str());  // up to the first NUL
    return true;
}

bool write_text_file(const std::string& path, const std::string& text) {
    return write_bytes(path, std::string(text.c_str()));
}

// ---- Parameters.txt -----------------------------------------------------------

std::string format_parameters_json(double spacing, double extrusion, int first_speed, int other_speed, int x,
                                   int y) {
    return printf_string("{\n\"Spacing\":%f,\n\"Extrusion\":%f,\n\"First_Speed\":%d,\n\"Other_Speed\":%d,\n"
                         "\"X\":%d,\n\"Y\":%d\n}",
                         spacing, extrusion, first_speed, other_speed, x, y);
}

bool parse_parameters_json(const char* data, size_t size, ParametersJson& out, const char* file_name) {
    out = ParametersJson();
    // The text ends at a NUL byte, as it did when read into a C string.
    size_t len = 0;
    while (len < size && data[len] != '\0') ++len;
    cJSON* root = cJSON_ParseWithLength(data, len);
    if (!root || !cJSON_IsObject(root)) {
        printf("%s: not a JSON object, nothing loaded\n", file_name);
        cJSON_Delete(root);
        return false;
    }
    std::string bad;
    auto number = [&](const char* key, double& v) {
        const cJSON* item = cJSON_GetObjectItem(root, key);
        if (item && cJSON_IsNumber(item) && std::isfinite(item->valuedouble)) {
            v = item->valuedouble;
            return true;
        }
        bad += bad.empty() ? key : std::string(", ") + key;
        return false;
    };
    double v = 0;
    if ((out.has_spacing = number("Spacing", v))) out.spacing = v;
    if ((out.has_extrusion = number("Extrusion", v))) out.extrusion = v;
    if ((out.has_first_speed = number("First_Speed", v))) out.first_speed = trunc_to_int(v);
    if ((out.has_other_speed = number("Other_Speed", v))) out.other_speed = trunc_to_int(v);
    if ((out.has_x = number("X", v))) out.x = trunc_to_int(v);
    if ((out.has_y = number("Y", v))) out.y = trunc_to_int(v);
    cJSON_Delete(root);
    if (!bad.empty()) printf("%s: missing or not a number: %s (left unchanged)\n", file_name, bad.c_str());
    return true;
}

bool save_parameters_json_file(const engine::ParamStore& store, const std::string& path) {
    using namespace engine;
    std::string text = format_parameters_json(store.value(va_spacing), store.value(va_extrusion),
                                              trunc_to_int(store.value(va_first_speed)),
                                              trunc_to_int(store.value(va_other_speed)),
                                              trunc_to_int(store.value(origin_x)), trunc_to_int(store.value(origin_y)));
    return write_bytes(path, text);
}

bool load_parameters_json_file(engine::ParamStore& store, const std::string& path) {
    using namespace engine;
    std::string data;
    if (!read_whole_file(path, data)) return false;
    ParametersJson p;
    if (!parse_parameters_json(data.data(), data.size(), p, path.c_str())) return false;
    // A value its widget may not hold is refused, as in its own file.
    auto take = [&](bool has, ParamId id, const char* key, double v) {
        if (!has) return;
        OneValue one;
        one.value = v;
        one.number = true;
        const std::string why = param_value_refusal(id, one);
        if (why.empty()) store.set_value(id, v);
        else printf("%s: \"%s\" %s; refused, left unchanged\n", path.c_str(), key, why.c_str());
    };
    take(p.has_spacing, va_spacing, "Spacing", p.spacing);
    take(p.has_extrusion, va_extrusion, "Extrusion", p.extrusion);
    take(p.has_first_speed, va_first_speed, "First_Speed", p.first_speed);
    take(p.has_other_speed, va_other_speed, "Other_Speed", p.other_speed);
    take(p.has_x, origin_x, "X", p.x);
    take(p.has_y, origin_y, "Y", p.y);
    return true;
}

}  // namespace pathapp
