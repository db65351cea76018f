// The plain-array steps of image loading: pixel copy and marks, slope pass,
// heel floor, heel point, contour copy and the per-job settings tokens.
#include "pathapp/pressure_image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pathapp {

namespace {
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
}  // namespace

// ---- pixel copy --------------------------------------------------------------

void copy_image_pixels(ImageBits& in, PressureImage& img, uint8_t& has_marks, const std::string& name) {
    const int b = in.bpp / 8;
    const size_t total = static_cast<size_t>(in.pitch) * static_cast<size_t>(in.height);
    uint8_t* row0 = in.bits;
    uint8_t* row1 = in.bits + in.pitch;
    // A mark record is read only from bytes the row really holds.
    const int row_bytes = in.pitch;

    has_marks = 0;
    const bool marked = row0[0] == MARK_BYTE;
    const uint8_t fill = row_bytes > 1 ? row0[1] : 0;
    if (marked) {
        has_marks = 1;
        img.marked_circles.clear();
        const int n = row_bytes > 2 ? row0[2] : 0;
        int i = 0;
        for (; i < n && 6 + 6 * i < row_bytes; ++i) {
            const uint8_t* p = row0 + 3 + 6 * i;
            img.marked_circles.push_back({static_cast<float>(p[0]), static_cast<float>(le16(p + 1)),
                                          static_cast<float>(p[3])});
        }
        if (i < n) printf("%s: row 0 holds %d of %d marked circles\n", name.c_str(), i, n);
    }
    if (row1[0] == MARK_BYTE) {
        img.marked_bars.clear();
        const int m = row_bytes > 2 ? row1[2] : 0;
        int j = 0;
        for (; j < m && 9 + 9 * j < row_bytes; ++j) {
            const uint8_t* p = row1 + 3 + 9 * j;
            img.marked_bars.push_back({static_cast<float>(p[0]), static_cast<float>(le16(p + 1)), 0.0f,
                                       static_cast<float>(p[3]), static_cast<float>(le16(p + 4)), 0.0f,
                                       static_cast<float>(p[6])});
        }
        if (j < m) printf("%s: row 1 holds %d of %d marked bars\n", name.c_str(), j, m);
    }
    if (marked) {
        const int clear = std::min(IMAGE_W * b, row_bytes);
        memset(row0, 0, clear);
        memset(row1, 0, clear);
    }

    img.pressure_max = 0;
    for (int r = 1; r < IMAGE_H; ++r) {
        for (int k = 0; k < IMAGE_W; ++k) {
            const size_t off = static_cast<size_t>(r) * in.pitch + static_cast<size_t>(k) * b;
            uint8_t foot = in.bits[off];
            // The byte three further on can lie past the last row of a narrow pixel format.
            uint8_t pressure = off + 3 < total ? in.bits[off + 3] : 0;
            if (in.grey) foot = in.grey[foot], pressure = in.grey[pressure];
            img.foot_image[r][k] = (marked && foot != 0) ? fill : foot;
            img.pressure_image[r][k] = pressure;
            if (pressure > img.pressure_max) img.pressure_max = pressure;
        }
    }
    printf("gp_img->pressure_max %d\n ", img.pressure_max);
}

void copy_contour_pixels(const ImageBits& in, PressureImage& img) {
    const int b = in.bpp / 8;
    int first = -1, last = 0;
    for (int i = 1; i < IMAGE_H; ++i) {
        for (int k = 0; k < IMAGE_W; ++k) {
            uint8_t v = in.bits[static_cast<size_t>(i) * in.pitch + static_cast<size_t>(k) * b];
            if (in.grey) v = in.grey[v];
            img.contour_image[i][k] = v;
            if (v != 0) {
                if (first < 0) first = i;
                last = i;
            }
        }
    }
    if (first >= 0) img.contour_first_row = static_cast<float>(first);
    img.contour_row_count = static_cast<float>(last) - img.contour_first_row + 1.0f;
}

// ---- foot map steps ------------------------------------------------------------

void slope_pass(PressureImage& img, int edge_limit) {
    static uint8_t s[IMAGE_H][IMAGE_W];
    static uint8_t w[IMAGE_H][IMAGE_W];
    memcpy(s, img.foot_image, sizeof s);
    memcpy(w, img.foot_image, sizeof w);
    static const int DR[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    static const int DC[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
    bool changed = true;
    while (changed) {
        changed = false;
        for (int r = 2; r <= 357; ++r) {
            for (int c = 2; c <= 147; ++c) {
                const int v = s[r][c];
                if (v == 0) {
                    w[r][c] = 0;
                    continue;
                }
                for (int n = 0; n < 8; ++n) {
                    const int nv = s[r + DR[n]][c + DC[n]];
                    if (nv == 0) continue;
                    const bool side = DR[n] == 0 || DC[n] == 0;
                    if (v - nv > (side ? edge_limit : 4)) {
                        w[r][c] = static_cast<uint8_t>(v - 1);
                        changed = true;
                    }
                }
            }
        }
        memcpy(s, w, sizeof s);
    }
    memcpy(img.foot_image, s, sizeof s);
    for (int r = 0; r < IMAGE_H; ++r) memcpy(img.slope_image[r], s[r], IMAGE_W);
}

void raise_heel_floor(uint8_t (&foot)[IMAGE_H][IMAGE_W]) {
    int lo = -1, hi = -1;
    for (int r = 1; r <= 358; ++r) {
        for (int c = 0; c <= 148; ++c) {
            if (foot[r][c] != 0) {
                if (lo < 0) lo = r;
                hi = r;
                break;
            }
        }
    }
    if (lo < 0) return;
    const int n = std::abs(hi - lo) / 3 + lo;
    if (n <= 1) return;
    for (int r = 1; r <= n - 1 && r <= 358; ++r)
        for (int c = 0; c <= 148; ++c)
            if (foot[r][c] >= 1 && foot[r][c] <= 15) foot[r][c] = 16;
}

bool foot_row_extent(const uint8_t (&foot)[IMAGE_H][IMAGE_W], int& first, int& last) {
    first = -1;
    last = -1;
    for (int r = 0; r < IMAGE_H; ++r) {
        for (int c = 0; c < IMAGE_W; ++c) {
            if (foot[r][c] != 0) {
                if (first < 0) first = r;
                last = r;
                break;
            }
        }
    }
    return first >= 0;
}

bool find_raw_heel_point(const uint8_t (&foot)[IMAGE_H][IMAGE_W], float& x, float& y) {
    for (int r = 1; r < IMAGE_H; ++r) {
        for (int c = 1; c < IMAGE_W; ++c) {
            if (foot[r][c] < 10) continue;
            int n = 0;
            while (c + n < IMAGE_W && foot[r][c + n] >= 10) ++n;
            x = static_cast<float>(c + n / 2);
            y = static_cast<float>(r);
            return true;
        }
    }
    return false;
}

// ---- per-job settings ------------------------------------------------------------

namespace {
struct TokenReader {
    const std::string& s;
    size_t pos = 0;
    void skip_blanks() {
        while (pos < s.size() && isspace(static_cast<unsigned char>(s[pos]))) ++pos;
    }
    // One token, as "%s" reads it; false at the end. `too_long` when it has
    // more than 63 characters.
    bool token(std::string& out, bool& too_long) {
        skip_blanks();
        if (pos >= s.size()) return false;
        const size_t start = pos;
        while (pos < s.size() && !isspace(static_cast<unsigned char>(s[pos]))) ++pos;
        out.assign(s, start, pos - start);
        too_long = out.size() > 63;
        return true;
    }
    // "%d": a failed scan consumes nothing but the blanks and leaves `v` as it was.
    void integer(int& v) {
        skip_blanks();
        size_t p = pos;
        if (p < s.size() && (s[p] == '+' || s[p] == '-')) ++p;
        const size_t digits = p;
        while (p < s.size() && isdigit(static_cast<unsigned char>(s[p]))) ++p;
        if (p == digits) return;
        long long n = strtoll(s.c_str() + pos, nullptr, 10);
        if (n > 2147483647LL) n = 2147483647LL;
        if (n < -2147483647LL - 1) n = -2147483647LL - 1;
        v = static_cast<int>(n);
        pos = p;
    }
    // " %c"
    void character(char& c) {
        skip_blanks();
        if (pos < s.size()) c = s[pos++];
    }
};
}  // namespace

void parse_job_settings(const std::string& text, const std::string& file_name, JobSettings& out) {
    out = JobSettings();
    TokenReader in{text};
    std::string tok;
    bool too_long = false;
    while (in.token(tok, too_long)) {
        if (too_long) {
            // Longer than any key the station writes: it cannot be one.
            printf("%s: a token of %zu characters skipped, settings hold at most 63\n", file_name.c_str(), tok.size());
            continue;
        }
        if (tok == "full") {
            in.integer(out.full);
        } else if (tok == "type") {
            in.character(out.type);
        } else if (tok == "density") {
            in.integer(out.density);
        }
    }
}

bool replace_last_three(const std::string& name, const char* ext, size_t capacity, std::string& out) {
    if (name.size() < 3) return false;
    out = name.substr(0, name.size() - 3) + ext;
    return out.size() + 1 <= capacity;
}

}  // namespace pathapp
