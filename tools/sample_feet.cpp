// Drawn plantar-pressure feet: outline (heel disc, lateral and medial edges, oblique ball, five toes)
// and a smooth pressure field, for a left foot seen from above; a right foot is its mirror image.
#include <algorithm>
#include <cmath>

#include "tools/sample_data.h"

namespace sample {
namespace {

// All shape numbers are fractions of the foot length; dx > 0 is the medial (big-toe) side.
const double kHeelRadius = 0.115;

const std::vector<double> kLatT = {0.115, 0.25, 0.40, 0.55, 0.68, 0.76, 0.84};
const std::vector<double> kLatX = {-0.115, -0.118, -0.128, -0.145, -0.165, -0.165, -0.150};

const std::vector<double> kFlatT = {0.115, 0.25, 0.40, 0.55, 0.66, 0.72, 0.80, 0.86};
const std::vector<double> kFlatX = {0.115, 0.105, 0.095, 0.12, 0.19, 0.215, 0.205, 0.19};
// A high arch lifts the medial midfoot off the ground, leaving a lateral band of about 5 % of the length.
const std::vector<double> kHighT = {0.115, 0.22, 0.32, 0.40, 0.50, 0.58, 0.66, 0.72, 0.80, 0.86};
const std::vector<double> kHighX = {0.115, 0.075, -0.035, -0.078, -0.065, 0.05, 0.17, 0.21, 0.205, 0.19};
// A split arch loses the band too: heel and forefoot print as two regions.
const std::vector<double> kSplitT = {0.115, 0.20, 0.27, 0.33, 0.47, 0.55, 0.63, 0.70, 0.80, 0.86};
const std::vector<double> kSplitX = {0.115, 0.04, -0.10, -0.16, -0.16, -0.04, 0.13, 0.21, 0.205, 0.19};

struct Toe {
    double cx, tip, a, weight;
};
const Toe kToes[5] = {
    {0.145, 1.000, 0.048, 1.0},   // hallux: its tip is the foot's length
    {0.062, 0.975, 0.026, 0.55},
    {0.005, 0.945, 0.024, 0.5},
    {-0.050, 0.905, 0.022, 0.45},
    {-0.100, 0.860, 0.020, 0.4},
};

// Front edge of the ball: oblique (the first metatarsal reaches further) with rounded corners.
double ball_front(double dx) {
    const double q = std::clamp((dx + 0.16) / 0.37, 0.0, 1.0);
    return 0.765 + 0.075 * q - 0.045 * std::pow(std::fabs(2 * q - 1), 4);
}

double gauss(double x, double y, double cx, double cy, double sx, double sy) {
    const double u = (x - cx) / sx, v = (y - cy) / sy;
    return std::exp(-(u * u + v * v));
}

struct ToeShape {
    double cx, ct, a, b, weight;
};

// Clears 8-connected regions of fewer than `min_px` pixels: slivers where an arch edge just grazes a row.
void drop_specks(Plane& mask, int min_px) {
    const int w = mask.w, h = mask.h;
    std::vector<int> seen(static_cast<size_t>(w) * h, 0), region, stack;
    for (int start = 0; start < w * h; ++start) {
        if (!mask.v[start] || seen[start]) continue;
        region.clear();
        stack.assign(1, start);
        seen[start] = 1;
        while (!stack.empty()) {
            const int p = stack.back();
            stack.pop_back();
            region.push_back(p);
            const int px = p % w, py = p / w;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = px + dx, y = py + dy;
                    if (x < 0 || y < 0 || x >= w || y >= h) continue;
                    const int q = y * w + x;
                    if (mask.v[q] && !seen[q]) {
                        seen[q] = 1;
                        stack.push_back(q);
                    }
                }
        }
        if (static_cast<int>(region.size()) < min_px)
            for (int p : region) mask.v[p] = 0;
    }
}

}  // namespace

Foot make_foot(const FootParams& fp) {
    const int w = fp.canvas_w, h = fp.canvas_h;
    const double len = fp.length_mm;
    const double hx = fp.heel_col + 0.5;
    const double y0 = fp.heel_back_row;
    const std::vector<double>& med_t = fp.split_arch ? kSplitT : fp.high_arch ? kHighT : kFlatT;
    const std::vector<double>& med_x = fp.split_arch ? kSplitX : fp.high_arch ? kHighX : kFlatX;

    ToeShape toes[5];
    for (int i = 0; i < 5; ++i) {
        const Toe& t = kToes[i];
        const double bottom = ball_front(t.cx) + (fp.toe_islands ? 0.022 : -0.03);
        toes[i] = {t.cx, (t.tip + bottom) / 2, t.a, (t.tip - bottom) / 2, t.weight};
    }

    Plane mask(w, h);
    std::vector<double> raw(static_cast<size_t>(w) * h, 0.0);
    double raw_max = 0;
    for (int y = 0; y < h; ++y) {
        const double t = (y + 0.5 - y0) / len;
        const double xl = curve(kLatT, kLatX, t), xm = curve(med_t, med_x, t);
        for (int x = 0; x < w; ++x) {
            const double dx = (x + 0.5 - hx) / len;
            bool in = dx * dx + (t - kHeelRadius) * (t - kHeelRadius) <= kHeelRadius * kHeelRadius;
            if (!in && t >= kHeelRadius && t <= ball_front(dx) && dx >= xl && dx <= xm) in = true;
            double toe_p = 0;
            for (const ToeShape& s : toes) {
                const double u = std::fabs(dx - s.cx) / s.a, v = std::fabs(t - s.ct) / s.b;
                if (std::pow(u, 2.4) + std::pow(v, 2.4) <= 1.0) in = true;
                toe_p += 0.7 * s.weight * gauss(dx, t, s.cx, s.ct, s.a * 0.9, s.b * 0.8);
            }
            if (!in) continue;
            mask.at(x, y) = 1;
            double p = 0.28 * (1 - 0.45 * gauss(0, t, 0, 0.45, 1, 0.12));
            p += 0.95 * gauss(dx, t, 0.0, 0.10, 0.075, 0.07);
            p += 0.25 * gauss(dx, t, -0.09, 0.45, 0.05, 0.14);
            p += 0.75 * gauss(dx, t, 0.14, 0.73, 0.05, 0.045);
            p += 0.90 * gauss(dx, t, 0.05, 0.745, 0.06, 0.05);
            p += 0.55 * gauss(dx, t, -0.09, 0.715, 0.05, 0.05);
            p += toe_p;
            raw[size_t(y) * w + x] = p;
            raw_max = std::max(raw_max, p);
        }
    }

    drop_specks(mask, 8);
    // Soft edges, as a pressure plate's sensors blur them: the last few millimetres fall off.
    const std::vector<float> dist = inside_distance(mask);
    Foot foot;
    foot.value = Plane(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!mask.at(x, y)) continue;
            const double edge = 0.3 + 0.7 * smoothstep(0.0, 5.0, dist[size_t(y) * w + x]);
            const double v = raw[size_t(y) * w + x] / raw_max * fp.peak * edge;
            foot.value.at(x, y) = static_cast<uint8_t>(std::clamp(std::lround(v), 1L, 255L));
            if (foot.first_row < 0) foot.first_row = y;
            foot.last_row = y;
        }
    foot.heel_x = fp.heel_col;
    foot.heel_y = static_cast<int>(std::floor(y0 + kHeelRadius * len));
    if (!fp.left) {
        foot.value = foot.value.mirrored();
        foot.heel_x = w - 1 - fp.heel_col;
    }
    return foot;
}

}  // namespace sample
