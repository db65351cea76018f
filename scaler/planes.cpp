// Pixel steps of Fitmire's insole rebuild, wedges and pad on plain planes.
#include "planes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace fitmire {

namespace {
inline int sgn_plus(float x) { return x > 0 ? 1 : -1; }

// Truncates toward zero and clamps into lo..hi; NaN gives lo.
inline unsigned char clamp_trunc(float v, float lo, float hi) {
    if (!(v >= lo)) return static_cast<unsigned char>(lo);
    if (v > hi) return static_cast<unsigned char>(hi);
    return static_cast<unsigned char>(static_cast<int>(v));
}

// A double as an int without the undefined conversion of huge values.
inline int safe_int(double v) {
    if (!(v > -1e8)) return -100000000;
    if (v > 1e8) return 100000000;
    return static_cast<int>(v);
}
}  // namespace

// ---- box and heights ----------------------------------------------------------

Box measure_box(const Plane& plane) {
    Box b;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kCols; ++c)
            if (plane[r][c] >= kInsoleMin) {
                b.y_min = std::min(b.y_min, r);
                b.y_max = std::max(b.y_max, r);
                b.x_min = std::min(b.x_min, c);
                b.x_max = std::max(b.x_max, c);
            }
    b.height = b.y_max - b.y_min + 1;
    b.width = b.x_max - b.x_min + 1;
    return b;
}

bool box_empty(const Box& b) { return b.height <= 0 || b.width <= 0; }

float scale_heights(Plane& plane, float length_ratio, double height_ratio) {
    // Two passes over the same arithmetic instead of a float copy of the plane.
    auto scaled = [&](unsigned char v) {
        float f = static_cast<float>(v) * length_ratio;
        return static_cast<float>(static_cast<double>(f) * height_ratio);
    };
    float m = 255;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kCols; ++c) {
            float f = scaled(plane[r][c]);
            if (f > 0 && f < m) m = f;
        }
    std::printf("min %f\n", m);
    const float shift = m != 10 ? m - 10 : 0;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kCols; ++c) {
            float f = scaled(plane[r][c]);
            if (f > 0) f -= shift;
            plane[r][c] = clamp_trunc(f, 0, 255);
        }
    return m;
}

int printed_rows(const Plane& plane) {
    int first = 0, last = -1;
    for (int r = 1; r < kRows; ++r)
        for (int c = 0; c < kCols; ++c)
            if (plane[r][c] != 0) {
                if (last < 0) first = r;
                last = r;
                break;
            }
    return last - first + 1;
}

void limit_slope(Plane& plane, Plane& scratch) {
    static const int dr[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    static const int dc[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
    std::memcpy(scratch, plane, sizeof(Plane));
    // Only rows near a change can change in the next pass.
    int lo = 2, hi = 357;
    bool changed = true;
    while (changed) {
        changed = false;
        int new_lo = kRows, new_hi = -1;
        for (int r = lo; r <= hi; ++r)
            for (int c = 2; c <= 147; ++c) {
                const int v = plane[r][c];
                if (v == 0) continue;
                bool hit = false;
                for (int k = 0; k < 8 && !hit; ++k) {
                    const int n = plane[r + dr[k]][c + dc[k]];
                    if (n == 0) continue;
                    const int limit = (dr[k] != 0 && dc[k] != 0) ? 4 : 3;
                    hit = v - n > limit;
                }
                if (hit) {
                    scratch[r][c] = static_cast<unsigned char>(v - 1);
                    changed = true;
                    new_lo = std::min(new_lo, r);
                    new_hi = std::max(new_hi, r);
                }
            }
        if (!changed) break;
        for (int r = new_lo; r <= new_hi; ++r) std::memcpy(plane[r], scratch[r], kStride);
        lo = std::max(2, new_lo - 1);
        hi = std::min(357, new_hi + 1);
    }
}

void trim_corners(Plane& p) {
    for (int c = 1; c <= 148; ++c)
        for (int r = 1; r <= 358; ++r) {
            if (p[r][c] == 0) continue;
            int count = 0;
            for (int i = -1; i <= 1; ++i)
                for (int j = -1; j <= 1; ++j) count += p[r + i][c + j] > 0;
            if (count != 4) continue;
            const bool left = p[r][c - 1] > 0, right = p[r][c + 1] > 0;
            const bool below = p[r - 1][c] > 0, above = p[r + 1][c] > 0;
            bool square;
            if (left)
                square = (p[r - 1][c - 1] > 0 && below) || (p[r + 1][c - 1] > 0 && above);
            else
                square = right && ((below && p[r - 1][c + 1] > 0) || (above && p[r + 1][c + 1] > 0));
            if (square) p[r][c] = 0;
        }
}

// ---- arch factor and width --------------------------------------------------------

double arch_factor(float index) {
    float k = index;
    if (!(k >= 0.1f)) k = 0.1f;  // NaN acts as the low limit
    if (k > 0.32f) k = 0.32f;
    if (k > 0.27f) return 1.0 - (k - 0.27) / (0.32 - 0.27) * 0.15;
    return 1.0 + (0.27 - k) / 0.17 * 0.15;
}

void apply_arch_factor(Plane& work, FloatPlane& field, float index, int side_flag, int template_side) {
    const double d = arch_factor(index);
    const bool mirror = side_flag != template_side;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kStride; ++c) {
            const int src = (mirror && c < kCols) ? kCols - 1 - c : c;
            field[r][c] = work[r][src];
        }
    float m = 255;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kStride; ++c) {
            field[r][c] = static_cast<float>(field[r][c] * d);
            if (c < kCols && field[r][c] > 0 && field[r][c] < m) m = field[r][c];
        }
    if (m != 10)
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kCols; ++c)
                if (field[r][c] > 0) field[r][c] -= m - 10;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kStride; ++c) work[r][c] = clamp_trunc(field[r][c], 0, 255);
}

int width_for_length(double length, int measured_length, int measured_width) {
    double d = length - measured_length;
    if (!(d > -1e6)) d = -1e6;
    if (d > 1e6) d = 1e6;
    int q = static_cast<int>(d / 5);
    const int r = static_cast<int>(d) % 5;
    if (r >= 3) q += 1;
    if (r <= -3) q -= 1;
    return measured_width + q;
}

// ---- landmarks and wedges ------------------------------------------------------------

void find_landmarks(const Plane& plane, int side, Landmarks& marks) {
    const Box b = measure_box(plane);
    marks.box = b;
    auto row_at = [&](double frac) {
        const int r = safe_int(static_cast<float>(b.height) * frac + b.y_min);
        return std::clamp(r, 0, kRows - 1);
    };
    const int a = row_at(0.72), bb = row_at(0.64), cc = row_at(0.15);
    // Scans from `from` towards `to` (inclusive); side 1 visits mirrored columns.
    auto scan = [&](int row, int from, int to, int found_before) {
        const int step = from < to ? 1 : -1;
        for (int c = from;; c += step) {
            const int col = side == 0 ? c : kCols - 1 - c;
            if (plane[row][col] >= kInsoleMin) return col;
            if (c == to) break;
        }
        return found_before;
    };
    const int col_a = scan(a, 149, 1, marks.p[0].column);
    const int col_b = scan(bb, 0, 149, marks.p[1].column);
    const int col_c1 = scan(cc, 149, 1, marks.p[2].column);
    const int col_c2 = scan(cc, 0, 149, marks.p[4].column);
    const int mid = (col_c1 + col_c2) / 2;
    marks.p[0].row = a, marks.p[0].column = col_a;
    marks.p[1].row = bb, marks.p[1].column = col_b;
    marks.p[2].row = cc, marks.p[2].column = col_c1;
    marks.p[3].row = cc, marks.p[3].column = mid;
    marks.p[4].row = cc, marks.p[4].column = col_c2;
}

bool add_wedge(PointRC p1, PointRC p2, PointRC p3, Plane& plane, float amount_mm) {
    const float a = p1.row, b = p1.column, c = p2.row, d = p2.column;
    const float g = (b == d) ? (a - c) / 0.01f : (a - c) / (b - d);
    const float u = b * g - a;
    const float g2 = g * g + 1;
    const float norm = std::sqrt(g2);
    auto foot = [&](float y0, float x0, float uu, float& yf, float& xf) {
        xf = (x0 + g * y0 + g * uu) / g2;
        yf = (g * g * y0 + g * x0 - uu) / g2;
    };
    const float e = p3.row, f = p3.column;
    float yf3, xf3;
    foot(e, f, u, yf3, xf3);
    const int w = static_cast<int>(yf3), v = static_cast<int>(xf3);
    const int s_row = sgn_plus(e - w), s_col = sgn_plus(f - v);
    const float width = std::fabs(e - g * f + u) / norm;
    // A reference point on the line leaves the wedge without a width.
    if (!(width > 1e-6f)) return false;
    const float u3 = g * f - e;
    const float steps = amount_mm / 0.2f;
    const int toward_row = sgn_plus(static_cast<float>(w) - e), toward_col = sgn_plus(static_cast<float>(v) - f);
    for (int i = 0; i < kRows; ++i)
        for (int j = 0; j < kCols; ++j) {
            const int s = plane[i][j];
            if (s == 0) continue;
            float yf, xf;
            foot(static_cast<float>(i), static_cast<float>(j), u, yf, xf);
            if (sgn_plus(i - yf) != s_row || sgn_plus(j - xf) != s_col) continue;
            float y3, x3;
            foot(static_cast<float>(i), static_cast<float>(j), u3, y3, x3);
            float nv;
            if (sgn_plus(i - y3) == toward_row && sgn_plus(j - x3) == toward_col) {
                const float dist = std::fabs(i - g * j + u) / norm;
                nv = dist * steps / width + s;
            } else {
                nv = s + steps;
            }
            plane[i][j] = clamp_trunc(nv, 10, 255);
        }
    return true;
}

// ---- metatarsal pad --------------------------------------------------------------

PadSize size_pad(const Box& box, float hv_angle) {
    PadSize p;
    p.width = static_cast<float>(box.width * 2 / 3);
    p.length = static_cast<float>(box.height * 0.5);
    p.height = 2;
    if (hv_angle > 15) p.height = (hv_angle - 15) / 25 + 2;
    return p;
}

bool find_pad_anchor(const Plane& plane, bool is_left, float& centre_x, float& centre_y) {
    int xl = 1000, yl = 0, xr = -1, yr = 0;
    int xb = 0, yb = -1, xt = 0, yt = -1;
    for (int r = 3; r <= 356; ++r) {
        int first = -1, last = -1;
        for (int c = 1; c <= 148; ++c)
            if (plane[r][c] >= kInsoleMin) {
                if (first < 0) first = c;
                last = c;
            }
        if (first < 0) continue;
        if (first < xl) xl = first, yl = r;
        if (last > xr) xr = last, yr = r;
        const int pick = is_left ? first : last;
        if (yb < 0) xb = pick, yb = r;
        xt = pick, yt = r;
    }
    if (yb < 0) return false;
    const double x1 = xl, y1 = yl, x2 = xr, y2 = yr, x3 = xb, y3 = yb, x4 = xt, y4 = yt;
    const double den = (x1 - x2) * (y3 - y4) - (y1 - y2) * (x3 - x4);
    if (std::fabs(den) < 1e-9) {
        centre_x = static_cast<float>((x3 + x4) / 2);
        centre_y = static_cast<float>((y3 + y4) / 2);
        return true;
    }
    const double a = x1 * y2 - y1 * x2, b = x3 * y4 - y3 * x4;
    centre_x = static_cast<float>((a * (x3 - x4) - (x1 - x2) * b) / den);
    centre_y = static_cast<float>((a * (y3 - y4) - (y1 - y2) * b) / den);
    return true;
}

void add_stamp(Plane& plane, unsigned char* stamp, int stride, float w, float l, float h, float max_value,
               float centre_x, float centre_y) {
    if (!(max_value > 0) || stride <= 0) return;
    const int cols = std::min(stride, safe_int(std::ceil(w + 20)));
    const int rows = safe_int(std::ceil(l + 20));
    // H / max x 5 x v in double, the sliders' precision: that order decides
    // where each value truncates, so pads match the station's earlier ones.
    const double per_step = static_cast<double>(h) / max_value;
    for (int k = 0; k < rows; ++k)
        for (int i = 0; i < cols; ++i) {
            unsigned char& s = stamp[k * stride + i];
            const double v = per_step * 5 * s;  // truncated in double, not first rounded to float
            s = v >= 255 ? 255 : v > 0 ? static_cast<unsigned char>(static_cast<int>(v)) : 0;
        }
    const int top = safe_int(centre_y) - safe_int(l + 10);
    const int left = safe_int(centre_x) - safe_int(w + 20) / 2;
    for (int i = 0; i < cols; ++i)
        for (int k = 0; k < rows; ++k) {
            const int r = top + k, c = left + i;
            if (r < 0 || r >= kRows || c < 0 || c >= kStride) continue;
            plane[r][c] = static_cast<unsigned char>(std::min(255, plane[r][c] + stamp[k * stride + i]));
        }
}

}  // namespace fitmire
