// G-code checker for tests: exact line forms, layer headers, E resets,
// nozzle height during travels and extrusion, coordinate bounds, and the
// extrusion moves of each layer.
#include "tests/support/gcode_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace {

enum class Form { Blank, Reset, Header, Lift, Lower, EMove, FeedSp, Feed, Travel, TravelSp, Extrude, Unknown };

struct Parsed {
    Form form = Form::Unknown;
    double x = 0, y = 0, z = 0, e = 0;
    int f = 0;
};

template <class... A>
std::string fmt(const char* f, A... a) {
    char b[160];
    std::snprintf(b, sizeof b, f, a...);
    return b;
}

// A line matches a form when its numbers, printed again with that form's
// format, give back exactly the line.
Parsed classify(const std::string& s) {
    Parsed p;
    if (s.empty()) return p.form = Form::Blank, p;
    if (s == "G92 E0") return p.form = Form::Reset, p;
    double a, b, c;
    int f;
    if (std::sscanf(s.c_str(), "G1 X%lf Y%lf E%lf", &a, &b, &c) == 3 && s == fmt("G1 X%.2f Y%.2f E%.3f", a, b, c))
        return p.form = Form::Extrude, p.x = a, p.y = b, p.e = c, p;
    if (std::sscanf(s.c_str(), "G1 X%lf Y%lf", &a, &b) == 2) {
        if (s == fmt("G1 X%.2f Y%.2f", a, b)) return p.form = Form::Travel, p.x = a, p.y = b, p;
        if (s == fmt("G1 X%.2f Y%.2f ", a, b)) return p.form = Form::TravelSp, p.x = a, p.y = b, p;
        return p;
    }
    if (std::sscanf(s.c_str(), "G1 E%lf F%d", &a, &f) == 2 && s == fmt("G1 E%.3f F%d", a, f))
        return p.form = Form::EMove, p.e = a, p.f = f, p;
    if (std::sscanf(s.c_str(), "G1 Z%lf", &a) == 1) {
        if (s == fmt("G1 Z%.2f", a)) return p.form = Form::Header, p.z = a, p;
        if (s == fmt("G1 Z%.2f ", a)) return p.form = Form::Lower, p.z = a, p;
        if (s == fmt("G1 Z%.2f  ", a)) return p.form = Form::Lift, p.z = a, p;
        return p;
    }
    if (std::sscanf(s.c_str(), "G1 F%d", &f) == 1) {
        if (s == fmt("G1 F%d", f)) return p.form = Form::Feed, p.f = f, p;
        if (s == fmt("G1 F%d ", f)) return p.form = Form::FeedSp, p.f = f, p;
    }
    return p;
}

}  // namespace

std::string GcodeCheck::report() const {
    std::string s;
    for (size_t i = 0; i < problems.size() && i < 20; ++i) s += problems[i] + "\n";
    if (problems.size() > 20) s += "... " + std::to_string(problems.size() - 20) + " more\n";
    return s;
}

bool read_text_file(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    return in && (ss << in.rdbuf(), *text = ss.str(), true);
}

GcodeCheck check_gcode(const std::string& text, const std::string& start_text, const std::string& end_text) {
    GcodeCheck c;
    const std::string head = start_text + "\n", tail = "\n" + end_text;
    if (text.compare(0, head.size(), head) != 0) {
        c.problems.push_back("file does not begin with the start text");
        return c;
    }
    if (text.size() < head.size() + tail.size() || text.compare(text.size() - tail.size(), tail.size(), tail) != 0) {
        c.problems.push_back("file does not end with the end text");
        return c;
    }
    const std::string body = text.substr(head.size(), text.size() - head.size() - tail.size());
    std::vector<std::string> lines;
    for (size_t pos = 0, nl = 0; nl != std::string::npos; pos = nl + 1) {
        nl = body.find('\n', pos);
        lines.push_back(body.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
    }
    std::vector<Parsed> parsed;
    for (size_t i = 0; i < lines.size(); ++i) {
        parsed.push_back(classify(lines[i]));
        if (parsed.back().form == Form::Unknown)
            c.problems.push_back("line " + std::to_string(i + 1) + " has no known form: \"" + lines[i] + "\"");
    }
    if (!c.problems.empty()) return c;

    GcodeLayer* layer = nullptr;
    double nozzle_z = 0;
    bool placed = false;  // whether an X/Y has been written yet
    double at_x = 0, at_y = 0;
    bool after_reset = false;
    // E and position as the printer would have them; E before a retract and
    // whether the last E change was a retract or prime line.
    double e_now = 0, e_before_retract = 0;
    bool in_e_moves = false, stretch_open = false;
    auto problem = [&](size_t i, const std::string& what) {
        c.problems.push_back("line " + std::to_string(i + 1) + " (\"" + lines[i] + "\"): " + what);
    };
    for (size_t i = 0; i < parsed.size(); ++i) {
        const Parsed& p = parsed[i];
        if (p.form == Form::Blank) continue;
        if (p.form == Form::Header) {
            if (i < 2 || parsed[i - 1].form != Form::Blank || parsed[i - 2].form != Form::Blank)
                problem(i, "layer header not preceded by two empty lines");
            if (i + 3 >= parsed.size() || parsed[i + 1].form != Form::Blank || parsed[i + 2].form != Form::Blank ||
                parsed[i + 3].form != Form::Reset)
                problem(i, "layer header not followed by \"\\n\\nG92 E0\"");
            if (layer && p.z < layer->z) problem(i, "layer Z decreases");
            if (p.z < 0) problem(i, "layer below the bed");
            c.layers.emplace_back();
            layer = &c.layers.back();
            layer->z = p.z;
            nozzle_z = p.z;
            after_reset = false;
            in_e_moves = stretch_open = false;
            continue;
        }
        if (!layer) {
            problem(i, "move before the first layer header");
            continue;
        }
        switch (p.form) {
            case Form::Reset:
                if (parsed[i - 1].form != Form::Blank) problem(i, "G92 E0 not preceded by an empty line");
                after_reset = true;
                e_now = 0;
                in_e_moves = stretch_open = false;
                break;
            case Form::EMove:
            case Form::Extrude:
                if (after_reset) layer->first_e_after_reset.push_back(p.e);
                after_reset = false;
                if (p.form == Form::Extrude && nozzle_z != layer->z) problem(i, "extrusion with the nozzle lifted");
                if (p.form == Form::EMove) {
                    if (!in_e_moves) e_before_retract = e_now;
                    if (e_now - p.e > layer->deepest_retract) layer->deepest_retract = e_now - p.e;
                    in_e_moves = true;
                    stretch_open = false;
                } else {
                    if (!stretch_open) {
                        layer->stretches.emplace_back();
                        layer->stretches.back().primed = in_e_moves;
                        if (in_e_moves) layer->stretches.back().left_e = e_now - e_before_retract;
                        stretch_open = true;
                    }
                    GcodeStretch& s = layer->stretches.back();
                    s.length_mm += std::hypot(p.x - at_x, p.y - at_y);
                    s.e += p.e - e_now;
                    ++s.moves;
                    in_e_moves = false;
                }
                e_now = p.e;
                break;
            case Form::Lift:
                if (p.z < layer->z) problem(i, "lift below the layer");
                nozzle_z = p.z;
                break;
            case Form::Lower:
                if (p.z != layer->z) problem(i, "lowered to a height other than the layer's");
                nozzle_z = p.z;
                break;
            case Form::Travel:
            case Form::TravelSp:
                if (nozzle_z < layer->z) problem(i, "travel below the layer");
                stretch_open = false;
                break;
            default:
                break;
        }
        if (p.form == Form::Travel || p.form == Form::TravelSp || p.form == Form::Extrude) {
            if (p.form == Form::Extrude) {
                if (!placed) problem(i, "extrusion from an unknown position");
                layer->extrusions.push_back({at_x, at_y, p.x, p.y});
            }
            placed = true;
            at_x = p.x, at_y = p.y;
            c.min_x = std::min(c.min_x, p.x), c.max_x = std::max(c.max_x, p.x);
            c.min_y = std::min(c.min_y, p.y), c.max_y = std::max(c.max_y, p.y);
        }
    }
    return c;
}

}  // namespace testsupport
