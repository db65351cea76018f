// The path program's parameter files: the one-value files, PointSpacing.txt,
// origin_point.txt, the two G-code text blocks and Parameters.txt. Readers
// take a path or a byte buffer and never touch a widget; writers print the
// exact bytes the files have always held.
#pragma once

#include <cstddef>
#include <string>

#include "engine/params.h"

namespace pathapp {

// Files larger than this are refused whole (a console line, nothing read).
constexpr size_t PARAM_FILE_LIMIT = 16u << 20;

// Reads a whole file into out. False when it cannot be opened or is larger
// than PARAM_FILE_LIMIT (then with a console line naming it).
bool read_whole_file(const std::string& path, std::string& out);

// "va_spacing" -> "va_spacing.txt"
std::string param_file_name(engine::ParamId id);

// Where the parameter files live: the directory current when the program
// started (the server starts it in its own). The batch makes other
// directories current, and the files must not follow it. Until set, names
// stay relative.
void set_param_dir(const std::string& dir);
// The path of a parameter file (a bare name such as "va_spacing.txt").
std::string param_path(const std::string& file_name);

// Truncation toward zero, saturated at the int range (NaN gives 0).
int trunc_to_int(double v);

// ---- one-value files --------------------------------------------------------
// The scan of one value with the read format of fmt: "%f" into a float (so the
// value comes back in single precision), "%d" into an int. Leading white
// space is skipped and anything after the number ignored. A file that holds
// no number (or a number that is not finite) gives blank.
struct OneValue {
    double value = 0;
    bool number = false;      // false: value is the blank
    bool not_finite = false;  // a number was there but inf, nan or beyond the float range
};
OneValue parse_one_value(const char* data, size_t size, engine::ParamFile fmt, double blank,
                         const char* file_name = nullptr);
// False when the file cannot be read; then value is untouched.
bool read_one_value_file(const std::string& path, engine::ParamFile fmt, double blank, double& value);
// The file's bytes for a value: "%f", "%d" (truncated), "%d\n".
std::string format_one_value(engine::ParamFile fmt, double value);
// Truncates and writes; false when the file cannot be opened.
bool write_one_value_file(const std::string& path, engine::ParamFile fmt, double value);

// ---- values a file may hold ---------------------------------------------------
// The values a parameter's file may bring: the widget's range where the design
// gives one; for the feeds 0 to 100000 mm/min and for the extrusion factors
// and layer thicknesses 0 to 10 (mm of filament per mm, mm), which no printer
// goes beyond. False for parameters whose files are not judged (switches,
// choices, texts).
bool param_read_limits(engine::ParamId id, double& lo, double& hi);
// Why a value read for the parameter cannot be taken ("holds 0, outside 0.01
// to 1"); empty when it can or the parameter is not judged.
std::string param_value_refusal(engine::ParamId id, const OneValue& v);

// ---- PointSpacing.txt -------------------------------------------------------
// Two "%d" scans into one variable that starts at 1: line 1 is the point
// spacing, line 2 the interval index; a blank line 2 repeats line 1.
struct PointSpacing {
    int point_space = 1;
    int interval_index = 1;
};
extern const char* const POINT_SPACING_FILE;  // "PointSpacing.txt"
PointSpacing parse_point_spacing(const char* data, size_t size);
bool read_point_spacing_file(const std::string& path, PointSpacing& out);
std::string format_point_spacing(int point_space, int interval_index);
bool write_point_spacing_file(const std::string& path, int point_space, int interval_index);

// ---- origin_point.txt -------------------------------------------------------
// Four "%d" lines: origin x, origin y and two extra integers kept as read.
// Values not in the file keep these defaults; `numbers` counts the integers
// the file holds, and a file that is anything but four of them is refused.
struct OriginPoint {
    int x = 30;
    int y = 30;
    int extra0 = 1;
    int extra1 = 1;
    int numbers = 4;
};
extern const char* const ORIGIN_POINT_FILE;  // "origin_point.txt"
OriginPoint parse_origin_point(const char* data, size_t size);
bool read_origin_point_file(const std::string& path, OriginPoint& out);
// Why the origin cannot be taken (not four numbers, x or y outside the
// widgets' -100 to 300); empty when it can.
std::string origin_refusal(const OriginPoint& o);
std::string format_origin_point(const OriginPoint& o);
bool write_origin_point_file(const std::string& path, const OriginPoint& o);

// ---- text blocks ------------------------------------------------------------
// The text exactly as typed, no line end added; read back whole (the text
// ends at a NUL byte, as the input widget holds a C string).
bool read_text_file(const std::string& path, std::string& text);
bool write_text_file(const std::string& path, const std::string& text);

// ---- Parameters.txt ---------------------------------------------------------
extern const char* const PARAMETERS_FILE;  // "Parameters.txt"
struct ParametersJson {
    double spacing = 0, extrusion = 0;
    int first_speed = 0, other_speed = 0, x = 0, y = 0;
    bool has_spacing = false, has_extrusion = false, has_first_speed = false;
    bool has_other_speed = false, has_x = false, has_y = false;
};
std::string format_parameters_json(double spacing, double extrusion, int first_speed, int other_speed, int x,
                                   int y);
// Parses one JSON object and looks the six keys up ignoring case; a key that
// is missing or not a finite number stays unset. False when the text is not
// a JSON object (then a console line naming file_name).
bool parse_parameters_json(const char* data, size_t size, ParametersJson& out,
                           const char* file_name = PARAMETERS_FILE);

// The six values to and from a parameter store: va_spacing, va_extrusion,
// va_first_speed, va_other_speed, origin_x, origin_y (integers truncated).
bool save_parameters_json_file(const engine::ParamStore& store, const std::string& path);
// Sets only the keys present and well formed; no callback runs through a
// store. False when the file is missing or not a JSON object.
bool load_parameters_json_file(engine::ParamStore& store, const std::string& path);

}  // namespace pathapp
