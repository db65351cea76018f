// Feet for the insole geometry tests: the real pressure images of testdata/
// read without any image library, and hand-drawn feet made on the spot.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/gl_context.h"

namespace footsamples {

constexpr int W = 150;
constexpr int H = 360;

// First byte of every pixel of an uncompressed 8-, 24- or 32-bit 150 x 360 BMP
// (an 8-bit pixel is its palette index, as the image loader takes it),
// row 0 = the first row in the file (the heel end); row 0 itself is left 0
// as the image loader leaves it. Empty when the file is not such a BMP.
inline std::vector<uint8_t> read_foot_bmp(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    std::vector<uint8_t> d;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + n);
    std::fclose(f);
    auto u32 = [&](size_t o) { return uint32_t(d[o]) | uint32_t(d[o + 1]) << 8 | uint32_t(d[o + 2]) << 16 | uint32_t(d[o + 3]) << 24; };
    auto u16 = [&](size_t o) { return uint32_t(d[o]) | uint32_t(d[o + 1]) << 8; };
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return out;
    const uint32_t offset = u32(10);
    const int32_t width = static_cast<int32_t>(u32(18)), height = static_cast<int32_t>(u32(22));
    const uint32_t bpp = u16(28), compression = u32(30);
    if (width != W || (height != H && height != -H) || (bpp != 8 && bpp != 24 && bpp != 32) || (compression != 0 && compression != 3))
        return out;
    const size_t bytes = bpp / 8, pitch = (W * bytes + 3) / 4 * 4;
    if (offset + pitch * H > d.size()) return out;
    out.assign(W * H, 0);
    for (int r = 1; r < H; ++r) {
        const int file_row = height > 0 ? r : H - 1 - r;
        for (int x = 0; x < W; ++x) out[r * W + x] = d[offset + file_row * pitch + x * bytes];
    }
    return out;
}

struct RealFoot {
    const char* file;
    bool left;
};
inline const std::vector<RealFoot>& real_feet() {
    static const std::vector<RealFoot> feet = {{"bmc_MDwalk2_R.bmp", false},
                                               {"bmc_MDwalk2_3_L.bmp", true},
                                               {"mun104_MUN104L_L.bmp", true},
                                               {"mun104_MUN104R_R.bmp", false}};
    return feet;
}

// A drawn foot: heel at heel_y, toes towards row 359, big toe on the left for
// a right foot and on the right for a left one (seen from above).
struct DrawnFoot {
    float length = 240;     // px
    float width = 1.0f;     // scale across the foot
    int heel_y = 40;
    float centre_x = 75;
    bool left = false;
    bool separate_toes = false;
    bool soft_edge = false;
    float tilt_deg = 0;     // rotation about the heel, anticlockwise
};

// Half widths (medial, lateral) of the foot body in mm at fraction t of a
// 240 mm foot, linearly between control rows; the body ends at t = 0.8.
inline bool body_span(float t, float& medial, float& lateral) {
    static const float k[][3] = {{0.00f, 0, 0},     {0.02f, 15, 15},  {0.06f, 24, 24},  {0.12f, 28, 28},
                                 {0.20f, 28, 30},   {0.32f, 22, 33},  {0.45f, 17, 37},  {0.58f, 32, 43},
                                 {0.68f, 44, 46},   {0.74f, 44, 41},  {0.78f, 38, 32},  {0.80f, 30, 22}};
    const int n = sizeof k / sizeof k[0];
    if (t < 0 || t > k[n - 1][0]) return false;
    for (int i = 1; i < n; ++i)
        if (t <= k[i][0]) {
            const float f = (t - k[i - 1][0]) / (k[i][0] - k[i - 1][0]);
            medial = k[i - 1][1] + f * (k[i][1] - k[i - 1][1]);
            lateral = k[i - 1][2] + f * (k[i][2] - k[i - 1][2]);
            return true;
        }
    return false;
}

inline std::vector<uint8_t> drawn_foot(const DrawnFoot& p) {
    std::vector<uint8_t> mask(W * H, 0), out(W * H, 0);
    const float scale = p.length / 240.0f;
    const float a = p.tilt_deg * 3.14159265f / 180.0f;
    // Toes: (across, along as fraction, radius), medial first; across < 0 is medial.
    // Joined toes overlap the body's end; separate ones sit a few pixels above it.
    const float toes[5][3] = {{-26, 0.835f, 13}, {-6, 0.815f, 8}, {8, 0.80f, 7}, {20, 0.79f, 6.5f}, {30, 0.775f, 6}};
    for (int y = 1; y < H - 1; ++y)
        for (int x = 1; x < W - 1; ++x) {
            const float dx = x - p.centre_x, dy = static_cast<float>(y - p.heel_y);
            float u = (dx * std::cos(a) + dy * std::sin(a)) / scale;
            const float v = (-dx * std::sin(a) + dy * std::cos(a)) / scale;
            if (p.left) u = -u;  // medial side on the right
            u /= p.width;
            bool in = false;
            float med, lat;
            if (body_span(v / 240.0f, med, lat)) in = u >= -med && u <= lat;
            for (const auto& t : toes) {
                const float tu = t[0], tv = t[1] * 240 + (p.separate_toes ? t[2] + 5 : 0);
                const float r = t[2];
                if ((u - tu) * (u - tu) + (v - tv) * (v - tv) <= r * r) in = true;
            }
            mask[y * W + x] = in;
        }
    // Pressure-like values: high at the heel and the ball, lower in the arch;
    // a soft edge fades to 1..9 over the outer three pixels.
    std::vector<uint8_t> depth(W * H, 0);
    for (int i = 0; i < W * H; ++i) depth[i] = mask[i] ? 255 : 0;
    for (int ring = 1; ring <= 3; ++ring) {
        std::vector<uint8_t> next = depth;
        for (int y = 1; y < H - 1; ++y)
            for (int x = 1; x < W - 1; ++x)
                if (depth[y * W + x] == 255 &&
                    (!depth[y * W + x - 1] || !depth[y * W + x + 1] || !depth[(y - 1) * W + x] || !depth[(y + 1) * W + x]))
                    next[y * W + x] = static_cast<uint8_t>(ring);
        depth = next;
    }
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int i = y * W + x;
            if (!mask[i]) continue;
            const float t = (y - p.heel_y) / p.length;
            float v = 60 + 120 * std::exp(-(t - 0.1f) * (t - 0.1f) / 0.004f) + 100 * std::exp(-(t - 0.7f) * (t - 0.7f) / 0.006f);
            if (v > 250) v = 250;
            if (p.soft_edge && depth[i] != 255) v = 2.0f + 2.5f * static_cast<float>(depth[i]);
            out[i] = static_cast<uint8_t>(v);
        }
    return out;
}

// The drawn feet every property test runs over.
struct NamedFoot {
    std::string name;
    bool left;
    std::vector<uint8_t> pixels;
};
inline std::vector<NamedFoot> drawn_feet() {
    std::vector<NamedFoot> feet;
    for (int left = 0; left < 2; ++left)
        for (int variant = 0; variant < 6; ++variant) {
            DrawnFoot p;
            p.left = left == 1;
            p.length = 200.0f + 14.0f * static_cast<float>(variant);
            p.width = 0.9f + 0.05f * static_cast<float>(variant % 3);
            p.heel_y = 25 + 6 * variant;
            p.separate_toes = variant % 2 == 1;
            p.soft_edge = variant >= 3;
            p.tilt_deg = static_cast<float>(variant % 3 - 1) * 5.0f * (p.left ? -1.0f : 1.0f);
            // Keep the tilted foot in the middle of the bitmap.
            p.centre_x = 75.0f + std::sin(p.tilt_deg * 3.14159265f / 180.0f) * p.length * 0.45f;
            char name[96];
            std::snprintf(name, sizeof name, "drawn %s len %.0f width %.2f%s%s tilt %.0f", p.left ? "left" : "right",
                          p.length, p.width, p.separate_toes ? " toes apart" : "", p.soft_edge ? " soft" : "", p.tilt_deg);
            feet.push_back({name, p.left, drawn_foot(p)});
        }
    return feet;
}

// Feet that break the simple picture of one foot region inside one outline:
// a split arch, the same halves joined by a one-pixel strand, a high arch
// (nothing under the medial arch), a faint island beside the ball, toes far
// apart from the foot.
inline std::vector<NamedFoot> awkward_feet() {
    std::vector<NamedFoot> feet;
    DrawnFoot p;
    p.length = 240;
    p.heel_y = 40;
    const auto base = drawn_foot(p);
    auto row_of = [&](float t) { return p.heel_y + static_cast<int>(t * p.length); };
    auto edit = [&](const char* name, auto&& change) {
        std::vector<uint8_t> b = base;
        change(b);
        feet.push_back({name, false, b});
    };
    edit("split arch", [&](std::vector<uint8_t>& b) {
        for (int y = row_of(0.30f); y <= row_of(0.47f); ++y)
            for (int x = 0; x < W; ++x) b[y * W + x] = 0;
    });
    edit("strand-joined halves", [&](std::vector<uint8_t>& b) {
        for (int y = row_of(0.30f); y <= row_of(0.47f); ++y)
            for (int x = 0; x < W; ++x) b[y * W + x] = x == 80 ? 70 : 0;
    });
    edit("high arch", [&](std::vector<uint8_t>& b) {
        for (int y = row_of(0.22f); y <= row_of(0.55f); ++y)
            for (int x = 0; x < 88; ++x) b[y * W + x] = 0;
    });
    edit("faint island beside the ball", [&](std::vector<uint8_t>& b) {
        const int cy = row_of(0.66f);
        int edge = 0;  // lateral edge of the ball
        for (int x = 0; x < W; ++x)
            if (b[cy * W + x]) edge = x;
        for (int y = cy - 5; y <= cy + 5; ++y)
            for (int x = edge + 3; x <= edge + 7; ++x) b[y * W + x] = 12;
    });
    edit("toes far apart", [&](std::vector<uint8_t>& b) {
        std::vector<uint8_t> moved(W * H, 0);
        const int cut = row_of(0.78f);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                if (y <= cut) moved[y * W + x] = b[y * W + x];
                else if (y + 9 < H - 1) moved[(y + 9) * W + x] = b[y * W + x];
            }
        b = moved;
    });
    return feet;
}

// The feet the outline tests run over: the real ones of testdata/, the drawn
// ones, and the generated samples by their manifest ("name side length_mm
// ..."), leaving out marked images (they take the plain model), 8-bit copies
// of a 32-bit foot, and feet shorter than min_length (the loader's rule).
inline std::vector<NamedFoot> outline_feet(int min_length) {
    std::vector<NamedFoot> feet;
    for (const auto& f : real_feet()) feet.push_back({f.file, f.left, read_foot_bmp(testsupport::testdata(f.file))});
    for (auto& d : drawn_feet()) feet.push_back(d);
    if (FILE* f = std::fopen(testsupport::sample("feet.txt").c_str(), "r")) {
        char name[256], side;
        int length;
        while (std::fscanf(f, "%255s %c %d %*[^\n]", name, &side, &length) == 3) {
            const std::string n = name;
            if (n.find("marked") != std::string::npos || n.find("8bit") != std::string::npos || length < min_length)
                continue;
            feet.push_back({"sample " + n, side == 'L', read_foot_bmp(testsupport::sample(n))});
        }
        std::fclose(f);
    }
    return feet;
}

// ---- feet drawn from the shapes real feet take ------------------------------

inline void fill_ellipse(std::vector<uint8_t>& b, float cx, float cy, float rx, float ry, uint8_t v) {
    for (int y = 1; y < H - 1; ++y)
        for (int x = 1; x < W - 1; ++x)
            if ((x - cx) * (x - cx) / (rx * rx) + (y - cy) * (y - cy) / (ry * ry) <= 1) b[y * W + x] = v;
}
inline void fill_box(std::vector<uint8_t>& b, int x0, int y0, int x1, int y1, uint8_t v) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) b[y * W + x] = v;
}
// Pixel centres inside the polygon (even-odd rule).
inline void fill_polygon(std::vector<uint8_t>& b, const std::vector<std::pair<float, float>>& p, uint8_t v) {
    for (int y = 1; y < H - 1; ++y)
        for (int x = 1; x < W - 1; ++x) {
            bool in = false;
            for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
                if ((p[i].second > y) != (p[j].second > y) &&
                    x < (p[j].first - p[i].first) * (y - p[i].second) / (p[j].second - p[i].second) + p[i].first)
                    in = !in;
            if (in) b[y * W + x] = v;
        }
}
inline std::vector<uint8_t> mirrored(const std::vector<uint8_t>& b) {
    std::vector<uint8_t> m(W * H, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) m[y * W + (W - 1 - x)] = b[y * W + x];
    return m;
}

// A right foot of heel, midfoot and ball whose toes stand apart as islands
// above the ball (the ball's middle cleared from row 206 up).
inline std::vector<uint8_t> island_toe_foot() {
    std::vector<uint8_t> b(W * H, 0);
    fill_ellipse(b, 72, 62, 27, 42, 120);
    fill_polygon(b, {{52, 70}, {95, 70}, {100, 160}, {62, 160}, {56, 120}}, 80);
    fill_ellipse(b, 76, 190, 40, 32, 150);
    fill_box(b, 48, 206, 81, 261, 0);
    return b;
}

// The toe shapes that broke the walks: toes touching only diagonally
// (directly, or once the toe bridge has joined them to the ball), a big toe
// on a one-pixel neck standing on a shelf past the ball's medial edge, and
// toe islands that touch one another. Each as a right and a mirrored left foot.
inline std::vector<NamedFoot> toe_shape_feet() {
    std::vector<NamedFoot> feet;
    auto add = [&](const std::string& name, const std::vector<uint8_t>& right) {
        feet.push_back({name + " right", false, right});
        feet.push_back({name + " left", true, mirrored(right)});
    };
    std::vector<uint8_t> b = island_toe_foot();
    fill_box(b, 50, 210, 60, 235, 140);
    fill_box(b, 63, 210, 78, 250, 140);
    fill_box(b, 61, 236, 62, 250, 140);  // (60,235) and (61,236) touch diagonally
    add("diagonal toe touch", b);

    b = island_toe_foot();
    fill_box(b, 50, 210, 60, 235, 140);
    fill_box(b, 61, 236, 70, 248, 140);  // a toe touching the first at one corner only
    fill_box(b, 72, 210, 80, 238, 140);
    add("touching toe islands", b);

    b = island_toe_foot();
    fill_box(b, 30, 205, 40, 205, 150);     // a ball row reaching past the medial edge
    fill_box(b, 31, 206, 31, 210, 150);     // a 5-px neck on it
    fill_ellipse(b, 31, 226, 7, 15, 140);   // the big toe
    fill_box(b, 55, 212, 78, 244, 140);     // the other toes as one island
    add("neck on a shelf", b);
    return feet;
}

}  // namespace footsamples
