// The insole's triangle model built from the shape's foot and insole bitmaps.
#include "engine/insole_mesh.h"

#include <algorithm>
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

void stitch_side_wall(InsoleShape& s, Mesh& model) { stitch_side_wall_between(s, s.foot_map, model); }

void stitch_side_wall_between(InsoleShape& s, const uint8_t* top_bitmap, Mesh& model) {
    std::vector<ShapePoint>& T = s.top_contour;
    std::vector<ShapePoint>& B = s.bottom_contour;
    const size_t n = T.size(), m = B.size();
    if (n == 0 || m == 0) return;
    auto top_z = [&](const ShapePoint& p) { return value_at(top_bitmap, p) / 5; };
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

namespace {

// Region pixels as the tracer sees them: non-zero, rows 1..358, columns 1..148.
std::vector<uint8_t> region_of(const float* map) {
    std::vector<uint8_t> m(SHAPE_PIXELS, 0);
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x) m[idx(x, y)] = map[idx(x, y)] != 0;
    return m;
}

// Labels the connected parts of the set pixels of m (8- or 4-connected), 1..n
// in scan order of their first pixel; returns n.
int label_parts(const std::vector<uint8_t>& m, bool eight, std::vector<int>& label) {
    label.assign(SHAPE_PIXELS, 0);
    int n = 0;
    std::vector<int> stack;
    for (int start = 0; start < SHAPE_PIXELS; ++start) {
        if (!m[start] || label[start]) continue;
        label[start] = ++n;
        stack.assign(1, start);
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            const int x = i % SHAPE_W, y = i / SHAPE_W;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if ((dx == 0 && dy == 0) || (!eight && dx != 0 && dy != 0) || !in_shape(x + dx, y + dy)) continue;
                    const int j = idx(x + dx, y + dy);
                    if (m[j] && !label[j]) {
                        label[j] = n;
                        stack.push_back(j);
                    }
                }
        }
    }
    return n;
}

// The foot's top and the insole's bottom only make a closed model with one
// wall between their contours when the foot is one region without holes,
// the insole one region, and the insole nowhere reaches more than a pixel
// beyond the foot (else the wall would stand over bare insole).
bool one_foot_over_one_insole(const float* top, const float* bottom) {
    const std::vector<uint8_t> foot = region_of(top), insole = region_of(bottom);
    std::vector<int> label;
    if (label_parts(foot, true, label) != 1 || label_parts(insole, true, label) != 1) return false;
    std::vector<uint8_t> open(SHAPE_PIXELS);
    for (int i = 0; i < SHAPE_PIXELS; ++i) open[i] = !foot[i];
    if (label_parts(open, false, label) != 1) return false;  // the bitmap's frame holds the one outside part
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x) {
            if (!insole[idx(x, y)] || foot[idx(x, y)]) continue;
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx) near = foot[idx(x + dx, y + dy)] != 0;
            if (!near) return false;
        }
    return true;
}

// A wall stitched between two contours that lie at most `reach` apart joins
// no points further apart than that (plus the steps of a diagonal); a wall
// whose greedy bottom index fell behind fans across the insole instead.
bool wall_stays_at_the_rim(const std::vector<ShapePoint>& T, const std::vector<ShapePoint>& B, const Mesh& wall) {
    auto nearest = [](const ShapePoint& p, const std::vector<ShapePoint>& list) {
        float best = 1e9f;
        for (const ShapePoint& q : list) best = std::min(best, distance(p, q));
        return best;
    };
    float reach = 0;
    for (const ShapePoint& p : T) reach = std::max(reach, nearest(p, B));
    for (const ShapePoint& p : B) reach = std::max(reach, nearest(p, T));
    const float limit = reach + 3;
    auto flat = [](const Vec3& a, const Vec3& b) { return std::hypot(a.x - b.x, a.y - b.y); };
    for (const MeshTriangle& t : wall)
        if (flat(t.a, t.b) > limit || flat(t.b, t.c) > limit || flat(t.c, t.a) > limit) return false;
    return true;
}

// One closed model whatever the foot's islands, holes or splits: the insole
// is the filled region; its top follows the foot where the foot is set and
// is the base plate (base_height above the bottom) where it is not, so top
// and bottom coincide, and each part of the region gets its own wall.
bool build_region_model(InsoleShape& s, Mesh& model) {
    const uint8_t plate = static_cast<uint8_t>(std::lround(s.base_height * 5));
    std::vector<uint8_t> top_bytes(SHAPE_PIXELS, 0);
    std::vector<float> top(SHAPE_PIXELS, 0), bottom(SHAPE_PIXELS, 0);
    for (int i = 0; i < SHAPE_PIXELS; ++i) {
        if (!s.inside_mask[i]) continue;
        top_bytes[i] = s.foot_map[i] ? s.foot_map[i] : plate;
        top[i] = top_bytes[i];
        bottom[i] = s.inside_mask[i];
    }
    std::vector<int> label;
    const int parts = label_parts(region_of(bottom.data()), true, label);
    if (parts == 0) return false;
    std::vector<float> part_map(SHAPE_PIXELS);
    std::vector<ShapePoint> largest;
    for (int part = 1; part <= parts; ++part) {
        for (int i = 0; i < SHAPE_PIXELS; ++i) part_map[i] = label[i] == part ? 1.0f : 0.0f;
        // Top and bottom of a part share one region, so one trace serves both.
        std::vector<ShapePoint> contour;
        if (!trace_contour(contour, part_map.data(), 0)) return false;
        s.top_contour = contour;
        s.bottom_contour = contour;
        stitch_side_wall_between(s, top_bytes.data(), model);
        fill_contour_corners(model, top_bytes.data(), s.top_contour, 0);
        fill_contour_corners(model, s.inside_mask, s.bottom_contour, s.base_height);
        if (contour.size() > largest.size()) largest = contour;
    }
    s.top_contour = largest;
    s.bottom_contour = largest;
    append_surface(model, top.data(), 0, false);
    append_surface(model, bottom.data(), s.base_height, true);
    return true;
}

}  // namespace

bool build_insole_mesh(InsoleShape& s, Mesh& model) {
    s.top_contour.clear();
    s.bottom_contour.clear();
    std::vector<float> top(SHAPE_PIXELS), bottom(SHAPE_PIXELS);
    for (int i = 0; i < SHAPE_PIXELS; ++i) {
        top[i] = s.foot_map[i];
        bottom[i] = s.inside_mask[i];
    }
    const bool top_closed = trace_contour(s.top_contour, top.data(), 0);
    const bool bottom_closed = trace_contour(s.bottom_contour, bottom.data(), 0);
    if (top_closed && bottom_closed && one_foot_over_one_insole(top.data(), bottom.data())) {
        Mesh wall;
        stitch_side_wall(s, wall);
        if (wall_stays_at_the_rim(s.top_contour, s.bottom_contour, wall)) {
            model.insert(model.end(), wall.begin(), wall.end());
            fill_contour_corners(model, s.foot_map, s.top_contour, 0);
            fill_contour_corners(model, s.inside_mask, s.bottom_contour, s.base_height);
            append_surface(model, top.data(), 0, false);
            append_surface(model, bottom.data(), s.base_height, true);
            return true;
        }
    }
    const size_t kept = model.size();
    if (build_region_model(s, model)) return true;
    model.resize(kept);
    s.top_contour.clear();
    s.bottom_contour.clear();
    return false;
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
