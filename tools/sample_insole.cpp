// The insole shape: a left insole outline as a four-sided patch (heel end, medial side, toe end, lateral
// side), its height profile (heel cup, arch support), the 8-bit template raster and the closed solid.
#include <algorithm>
#include <cmath>

#include "tools/sample_data.h"

namespace sample {
namespace {

const double kPi = 3.14159265358979323846;
const double kHeelEnd = 0.13, kToeStart = 0.80;  // fractions of the length where the sides meet the ends
const std::vector<double> kSideT = {0.13, 0.30, 0.45, 0.60, 0.72, 0.80};
const std::vector<double> kLatX = {-0.125, -0.13, -0.145, -0.165, -0.18, -0.175};
const std::vector<double> kMedX = {0.12, 0.11, 0.115, 0.16, 0.205, 0.205};

}  // namespace

Pt InsoleOutline::lateral(double v) const {
    const double t = kHeelEnd + v * (kToeStart - kHeelEnd);
    return {axis_x + width_scale * length * curve(kSideT, kLatX, t), y0 + t * length};
}

Pt InsoleOutline::medial(double v) const {
    const double t = kHeelEnd + v * (kToeStart - kHeelEnd);
    return {axis_x + width_scale * length * curve(kSideT, kMedX, t), y0 + t * length};
}

// Position across an end for the patch parameter u. Nearly even in x, so that the patch's columns stay in
// order where the sides come closer than the ends (the arch); not fully even, so the corners are not coarse.
static double across(double u) { return u - 0.6 * std::sin(2 * kPi * u) / (2 * kPi); }

// Height of a unit half-ellipse over x in [0,1].
static double half_ellipse(double g) { return std::sqrt(std::max(0.0, 1 - (2 * g - 1) * (2 * g - 1))); }

Pt InsoleOutline::heel_end(double u) const {
    const Pt l = lateral(0), m = medial(0);
    const double g = across(u);
    return {l.x + (m.x - l.x) * g, l.y - kHeelEnd * length * half_ellipse(g)};
}

Pt InsoleOutline::toe_end(double u) const {
    const Pt l = lateral(1), m = medial(1);
    const double g = across(u);
    // The medial half reaches further: the big toe's side of the insole is the longer one.
    const double b = (1 - kToeStart) * length * toe_bulge * (0.75 + 0.35 * g);
    return {l.x + (m.x - l.x) * g, l.y + b * half_ellipse(g)};
}

void InsoleOutline::fit_toe() {
    toe_bulge = 1.0;
    double top = 0;
    for (int i = 0; i <= 4000; ++i) top = std::max(top, toe_end(i / 4000.0).y);
    toe_bulge = (y0 + length - lateral(1).y) / (top - lateral(1).y);
}

Pt InsoleOutline::patch(double u, double v) const {
    const Pt b = heel_end(u), t = toe_end(u), l = lateral(v), m = medial(v);
    const Pt p00 = heel_end(0), p10 = heel_end(1), p01 = toe_end(0), p11 = toe_end(1);
    auto mix = [&](double pb, double pt, double pl, double pm, double c00, double c10, double c01, double c11) {
        return (1 - v) * pb + v * pt + (1 - u) * pl + u * pm -
               ((1 - u) * (1 - v) * c00 + u * (1 - v) * c10 + (1 - u) * v * c01 + u * v * c11);
    };
    return {mix(b.x, t.x, l.x, m.x, p00.x, p10.x, p01.x, p11.x), mix(b.y, t.y, l.y, m.y, p00.y, p10.y, p01.y, p11.y)};
}

std::vector<Pt> InsoleOutline::polygon(int n) const {
    std::vector<Pt> p;
    for (int i = 0; i < n; ++i) p.push_back(heel_end(double(i) / n));
    for (int i = 0; i < n; ++i) p.push_back(medial(double(i) / n));
    for (int i = n; i > 0; --i) p.push_back(toe_end(double(i) / n));
    for (int i = n; i > 0; --i) p.push_back(lateral(double(i) / n));
    return p;
}

Plane fill_polygon(const std::vector<Pt>& poly, int w, int h) {
    Plane out(w, h);
    std::vector<double> xs;
    for (int y = 0; y < h; ++y) {
        const double yc = y + 0.5;
        xs.clear();
        for (size_t i = 0; i < poly.size(); ++i) {
            const Pt& a = poly[i];
            const Pt& b = poly[(i + 1) % poly.size()];
            if ((a.y <= yc && yc < b.y) || (b.y <= yc && yc < a.y))
                xs.push_back(a.x + (yc - a.y) / (b.y - a.y) * (b.x - a.x));
        }
        std::sort(xs.begin(), xs.end());
        for (size_t i = 0; i + 1 < xs.size(); i += 2)
            for (int x = 0; x < w; ++x)
                if (x + 0.5 >= xs[i] && x + 0.5 <= xs[i + 1]) out.at(x, y) = 1;
    }
    return out;
}

double insole_height_mm(const InsoleOutline& o, double x, double y, double edge_mm, double arch_mm) {
    const double s = (y - o.y0) / o.length, m = (x - o.axis_x) / o.length;
    const double base = 2.0 + 1.2 * (1 - smoothstep(0.55, 0.9, s));
    const double rim = 3.5 * std::exp(-edge_mm / 6.0) * (1 - smoothstep(0.18, 0.36, s));
    const double as = (s - 0.40) / 0.11;
    const double arch = arch_mm * std::exp(-as * as) * smoothstep(-0.03, 0.10, m);
    return base + rim + arch;
}

Plane make_template(int* first_row, int* last_row) {
    // 255 mm, narrow, heel moved back 5 mm from the centred position.
    InsoleOutline o{255.0, 0.94, 72.0, (360 - 255) / 2 - 5.0};
    o.fit_toe();
    Plane mask = fill_polygon(o.polygon(400), 150, 360);
    const std::vector<float> dist = inside_distance(mask);
    Plane grey(150, 360);
    *first_row = *last_row = -1;
    for (int y = 0; y < 360; ++y)
        for (int x = 0; x < 150; ++x) {
            if (!mask.at(x, y)) continue;
            const double mm = insole_height_mm(o, x + 0.5, y + 0.5, dist[size_t(y) * 150 + x] - 0.5, 5.0);
            grey.at(x, y) = static_cast<uint8_t>(std::clamp(std::lround(mm * 5), 10L, 255L));
            if (*first_row < 0) *first_row = y;
            *last_row = y;
        }
    return grey;
}

std::vector<Tri> insole_solid(int nu, int nv) {
    InsoleOutline o{260.0, 1.0, 0.18 * 260.0, 0.0};
    o.fit_toe();
    const std::vector<Pt> outline = o.polygon(300);
    auto edge_distance = [&](double x, double y) {
        double best = 1e9;
        for (size_t i = 0; i < outline.size(); ++i) {
            const Pt& a = outline[i];
            const Pt& b = outline[(i + 1) % outline.size()];
            const double ex = b.x - a.x, ey = b.y - a.y;
            double t = ((x - a.x) * ex + (y - a.y) * ey) / (ex * ex + ey * ey);
            t = std::clamp(t, 0.0, 1.0);
            best = std::min(best, std::hypot(x - a.x - t * ex, y - a.y - t * ey));
        }
        return best;
    };

    const int cols = nu + 1;
    std::vector<Vec3f> top, bottom;
    for (int j = 0; j <= nv; ++j)
        for (int i = 0; i <= nu; ++i) {
            const Pt p = o.patch(double(i) / nu, double(j) / nv);
            const double on_edge = (i == 0 || j == 0 || i == nu || j == nv) ? 0.0 : edge_distance(p.x, p.y);
            const double z = std::clamp(insole_height_mm(o, p.x, p.y, on_edge, 7.0), 2.0, 12.0);
            top.push_back({float(p.x), float(p.y), float(z)});
            bottom.push_back({float(p.x), float(p.y), 0.f});
        }
    auto idx = [&](int i, int j) { return j * cols + i; };
    auto area2 = [](const Vec3f& a, const Vec3f& b, const Vec3f& c) {
        return std::fabs((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x));
    };

    std::vector<Tri> tris;
    tris.reserve(static_cast<size_t>(4) * nu * nv + 4 * (nu + nv));
    for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
            // Counter-clockwise seen from above; split along the diagonal that keeps both halves fatter.
            const int a = idx(i, j), b = idx(i + 1, j), c = idx(i + 1, j + 1), d = idx(i, j + 1);
            const bool ac = std::min(area2(top[a], top[b], top[c]), area2(top[a], top[c], top[d])) >=
                            std::min(area2(top[a], top[b], top[d]), area2(top[b], top[c], top[d]));
            if (ac) {
                tris.push_back({top[a], top[b], top[c]});
                tris.push_back({top[a], top[c], top[d]});
                tris.push_back({bottom[a], bottom[c], bottom[b]});
                tris.push_back({bottom[a], bottom[d], bottom[c]});
            } else {
                tris.push_back({top[a], top[b], top[d]});
                tris.push_back({top[b], top[c], top[d]});
                tris.push_back({bottom[a], bottom[d], bottom[b]});
                tris.push_back({bottom[b], bottom[d], bottom[c]});
            }
        }
    // Side wall along the boundary, walked counter-clockwise so its faces point outwards.
    std::vector<int> loop;
    for (int i = 0; i < nu; ++i) loop.push_back(idx(i, 0));
    for (int j = 0; j < nv; ++j) loop.push_back(idx(nu, j));
    for (int i = nu; i > 0; --i) loop.push_back(idx(i, nv));
    for (int j = nv; j > 0; --j) loop.push_back(idx(0, j));
    for (size_t k = 0; k < loop.size(); ++k) {
        const int p = loop[k], q = loop[(k + 1) % loop.size()];
        tris.push_back({bottom[p], bottom[q], top[q]});
        tris.push_back({bottom[p], top[q], top[p]});
    }
    return tris;
}

}  // namespace sample
