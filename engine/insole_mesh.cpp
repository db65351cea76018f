// The insole's triangle model built from the shape's foot and insole bitmaps.
#include "engine/insole_mesh.h"

#include <cmath>
#include <cstdio>

namespace engine {

namespace {

inline int idx(int x, int y) { return y * SHAPE_W + x; }

constexpr int kTraceIterations = 10000;
constexpr int kRecent = 7;

// Heights of a contour point in mm; contour points always lie on the bitmap.
inline float value_at(const uint8_t* bitmap, const ShapePoint& p) {
    return in_shape(p.x, p.y) ? static_cast<float>(bitmap[idx(p.x, p.y)]) : 0.0f;
}

inline Vec3 vertex(const ShapePoint& p, float z) {
    return Vec3{static_cast<float>(p.x), static_cast<float>(p.y), z};
}

float distance(const ShapePoint& a, const ShapePoint& b) {
    const float dx = static_cast<float>(a.x - b.x), dy = static_cast<float>(a.y - b.y);
    return std::sqrt(dx * dx + dy * dy);
}

// Two triangles per cell whose four corners are all inside; the bottom
// surface turns each triangle so it faces down.
void append_surface(Mesh& model, const float* map, float base, bool turned) {
    for (int y = 0; y <= SHAPE_H - 2; ++y)
        for (int x = 0; x <= SHAPE_W - 2; ++x) {
            const float v00 = map[idx(x, y)], v10 = map[idx(x + 1, y)];
            const float v01 = map[idx(x, y + 1)], v11 = map[idx(x + 1, y + 1)];
            if (v00 == 0 || v10 == 0 || v01 == 0 || v11 == 0) continue;
            const float fx = static_cast<float>(x), fy = static_cast<float>(y);
            const Vec3 a{fx, fy, v00 / 5 - base}, b{fx + 1, fy, v10 / 5 - base};
            const Vec3 c{fx + 1, fy + 1, v11 / 5 - base}, d{fx, fy + 1, v01 / 5 - base};
            if (turned) {
                model.push_back({c, b, a});
                model.push_back({a, d, c});
            } else {
                model.push_back({a, b, c});
                model.push_back({c, d, a});
            }
        }
}

}  // namespace

bool trace_contour(std::vector<ShapePoint>& list, const float* map, int start_row) {
    // Edge pixels of the region, examined in rows 1..358 and columns 1..148.
    std::vector<uint8_t> edge(SHAPE_PIXELS, 0);
    auto region = [&](int x, int y) {
        return x >= 1 && x <= SHAPE_W - 2 && y >= 1 && y <= SHAPE_H - 2 && map[idx(x, y)] != 0;
    };
    int first_row = -1, last_row = 0;
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x)
            if (region(x, y) && (!region(x - 1, y) || !region(x, y - 1) || !region(x, y + 1) || !region(x + 1, y))) {
                edge[idx(x, y)] = 1;
                if (first_row < 0) first_row = y;
                last_row = y;
            }
    if (first_row < 0) first_row = 0;
    auto is_edge = [&](int x, int y) { return in_shape(x, y) && edge[idx(x, y)] != 0; };

    int row = start_row;
    if (row == 0) row = static_cast<int>((last_row - first_row) * 3.0 * 0.25 + first_row);
    ShapePoint start{0, 0, -1};
    if (row >= 0 && row < SHAPE_H)
        for (int x = 0; x < SHAPE_W; ++x)
            if (edge[idx(x, row)]) {
                start.x = x;
                start.y = row;
                break;
            }
    list.push_back(start);

    static const int kDirs[8][2] = {{-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}};
    ShapePoint recent[kRecent];
    for (ShapePoint& r : recent) r = start;
    int slot = 0;
    ShapePoint cur = start;
    for (int it = 0; it < kTraceIterations; ++it) {
        for (const auto& d : kDirs) {
            const ShapePoint n{cur.x + d[0], cur.y + d[1], -1};
            if (!is_edge(n.x, n.y)) continue;
            if (n == start) return true;
            bool seen = false;
            for (const ShapePoint& r : recent) seen = seen || r == n;
            if (seen) continue;
            list.push_back(n);
            recent[slot] = cur;
            slot = (slot + 1) % kRecent;
            cur = n;
            break;
        }
    }
    std::printf("contour failure~~~\n");
    return false;
}

void stitch_side_wall(InsoleShape& s, Mesh& model) {
    std::vector<ShapePoint>& T = s.top_contour;
    std::vector<ShapePoint>& B = s.bottom_contour;
    const size_t n = T.size(), m = B.size();
    if (n == 0 || m == 0) return;
    auto top_z = [&](const ShapePoint& p) { return value_at(s.foot_map, p) / 5; };
    auto bottom_z = [&](const ShapePoint& p) { return value_at(s.inside_mask, p) / 5 - s.base_height; };

    size_t j = 0;
    for (size_t i = 0; i < n; ++i) {
        const size_t next = (i + 1 == n) ? 0 : i + 1;
        float d = distance(T[i], B[j]);
        bool first_probe = true;
        for (size_t jp = j + 1; jp < m; ++jp) {
            const float dp = distance(T[i], B[jp]);
            const bool diagonal = B[jp].x != B[j].x && B[jp].y != B[j].y;
            if (!(dp < d || (first_probe && diagonal))) break;
            j = jp;
            d = dp;
            first_probe = false;
        }
        B[j].link = static_cast<int32_t>(next);
        model.push_back({vertex(T[i], top_z(T[i])), vertex(T[next], top_z(T[next])), vertex(B[j], bottom_z(B[j]))});
    }

    size_t start = 0;
    for (size_t k = 0; k < m; ++k)
        if (B[k].link != -1) {
            start = k;
            break;
        }
    std::printf(" start_b %d \n", static_cast<int>(start));
    for (size_t k = start; k < start + m; ++k) {
        const size_t a = k % m;
        const size_t b = (a + 1 == m) ? 0 : a + 1;
        const int32_t t = B[a].link;
        if (B[b].link == -1) B[b].link = B[a].link;
        if (t < 0 || static_cast<size_t>(t) >= n) continue;
        model.push_back({vertex(B[a], bottom_z(B[a])), vertex(T[t], top_z(T[t])), vertex(B[b], bottom_z(B[b]))});
    }
}

void fill_contour_corners(Mesh& model, const uint8_t* bitmap, const std::vector<ShapePoint>& list, float base) {
    const size_t n = list.size();
    auto z = [&](const ShapePoint& p) { return value_at(bitmap, p) / 5 - base; };
    for (size_t i = 0; i < n; ++i) {
        const ShapePoint& P = list[i];
        const ShapePoint& N = list[(i + 1) % n];
        if (P.x == N.x || P.y == N.y) continue;
        ShapePoint C{N.x, P.y, -1};
        if (in_shape(P.x, N.y) && bitmap[idx(P.x, N.y)]) C = ShapePoint{P.x, N.y, -1};
        const Vec3 vp = vertex(P, z(P)), vc = vertex(C, z(C)), vn = vertex(N, z(N));
        if (base == 0) model.push_back({vp, vc, vn});
        else model.push_back({vn, vc, vp});
    }
}

void build_insole_mesh(InsoleShape& s, Mesh& model) {
    s.top_contour.clear();
    s.bottom_contour.clear();
    std::vector<float> top(SHAPE_PIXELS), bottom(SHAPE_PIXELS);
    for (int i = 0; i < SHAPE_PIXELS; ++i) {
        top[i] = s.foot_map[i];
        bottom[i] = s.inside_mask[i];
    }
    trace_contour(s.top_contour, top.data(), 0);
    trace_contour(s.bottom_contour, bottom.data(), 0);
    stitch_side_wall(s, model);
    fill_contour_corners(model, s.foot_map, s.top_contour, 0);
    fill_contour_corners(model, s.inside_mask, s.bottom_contour, s.base_height);
    append_surface(model, top.data(), 0, false);
    append_surface(model, bottom.data(), s.base_height, true);
}

void build_plain_insole_mesh(InsoleShape& s, Mesh& model) {
    uint8_t largest = 0;
    for (int i = 0; i < SHAPE_PIXELS; ++i)
        if (s.foot_map[i] > largest) largest = s.foot_map[i];
    std::vector<float> map(SHAPE_PIXELS);
    for (int i = 0; i < SHAPE_PIXELS; ++i) map[i] = s.foot_map[i];
    append_surface(model, map.data(), 0, false);
    append_surface(model, map.data(), static_cast<float>(largest / 2), true);
}

}  // namespace engine
