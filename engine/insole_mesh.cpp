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

// The two triangles of cell (x, y) with its corners at the given heights,
// counter-clockwise from (x, y); turned makes them face down.
void append_cell(Mesh& model, int x, int y, float z00, float z10, float z11, float z01, bool turned) {
    const float fx = static_cast<float>(x), fy = static_cast<float>(y);
    const Vec3 a{fx, fy, z00}, b{fx + 1, fy, z10}, c{fx + 1, fy + 1, z11}, d{fx, fy + 1, z01};
    if (turned) {
        model.push_back({c, b, a});
        model.push_back({a, d, c});
    } else {
        model.push_back({a, b, c});
        model.push_back({c, d, a});
    }
}

// Two triangles per cell whose four corners are all inside; the bottom
// surface turns each triangle so it faces down.
void append_surface(Mesh& model, const float* map, float base, bool turned) {
    for (int y = 0; y <= SHAPE_H - 2; ++y)
        for (int x = 0; x <= SHAPE_W - 2; ++x) {
            const float v00 = map[idx(x, y)], v10 = map[idx(x + 1, y)];
            const float v01 = map[idx(x, y + 1)], v11 = map[idx(x + 1, y + 1)];
            if (v00 == 0 || v10 == 0 || v01 == 0 || v11 == 0) continue;
            append_cell(model, x, y, v00 / 5 - base, v10 / 5 - base, v11 / 5 - base, v01 / 5 - base, turned);
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
    const size_t first = list.size();
    std::vector<uint8_t> stepped(SHAPE_PIXELS, 0);
    stepped[idx(start.x, start.y)] = 1;
    bool twice = false;
    ShapePoint recent[kRecent];
    for (ShapePoint& r : recent) r = start;
    int slot = 0;
    ShapePoint cur = start;
    for (int it = 0; it < kTraceIterations; ++it) {
        for (const auto& d : kDirs) {
            const ShapePoint n{cur.x + d[0], cur.y + d[1], -1};
            if (!is_edge(n.x, n.y)) continue;
            if (n == start) {
                if (!twice) return true;
                it = kTraceIterations;
                break;
            }
            bool seen = false;
            for (const ShapePoint& r : recent) seen = seen || r == n;
            if (seen) continue;
            list.push_back(n);
            twice = twice || stepped[idx(n.x, n.y)];
            stepped[idx(n.x, n.y)] = 1;
            recent[slot] = cur;
            slot = (slot + 1) % kRecent;
            cur = n;
            break;
        }
    }
    // A region one or two pixels thin, a blob on a thin neck or two parts
    // touching at a corner send the fixed-order walk back over its own track
    // or round in circles; following the boundary with the region kept on
    // the right hand closes round any of them.
    if (edge[idx(start.x, start.y)]) {
        std::vector<uint8_t> inside(SHAPE_PIXELS, 0);
        for (int y = 1; y <= SHAPE_H - 2; ++y)
            for (int x = 1; x <= SHAPE_W - 2; ++x) inside[idx(x, y)] = region(x, y);
        list.resize(first);
        if (follow_boundary(inside.data(), start, nullptr, true, list)) return true;
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

// Where each pixel lies against a closed contour: kOutside when reached from
// the bitmap's frame without crossing it, in 4-connected steps (which cannot
// slip through the contour's diagonal steps); kOnContour on it or touching
// it, as a walk may cut a pixel hanging on by a corner; kInside otherwise.
enum : uint8_t { kInside = 0, kOnContour = 1, kOutside = 2 };
std::vector<uint8_t> side_of(const std::vector<ShapePoint>& contour) {
    std::vector<uint8_t> side(SHAPE_PIXELS, kInside);
    for (const ShapePoint& p : contour)
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (in_shape(p.x + dx, p.y + dy)) side[idx(p.x + dx, p.y + dy)] = kOnContour;
    std::vector<int> stack;
    auto reach = [&](int x, int y) {
        if (!in_shape(x, y) || side[idx(x, y)] != kInside) return;
        side[idx(x, y)] = kOutside;
        stack.push_back(idx(x, y));
    };
    for (int x = 0; x < SHAPE_W; ++x) reach(x, 0), reach(x, SHAPE_H - 1);
    for (int y = 0; y < SHAPE_H; ++y) reach(0, y), reach(SHAPE_W - 1, y);
    while (!stack.empty()) {
        const int i = stack.back();
        stack.pop_back();
        const int x = i % SHAPE_W, y = i / SHAPE_W;
        reach(x - 1, y), reach(x + 1, y), reach(x, y - 1), reach(x, y + 1);
    }
    return side;
}

// The design's model is closed only when each trace goes round the whole of
// its region: no insole pixel outside the bottom contour, no foot pixel
// standing on the insole outside the top one (foot wholly beyond the insole,
// a toe the outline left out or a speck, is a loose patch of top that prints
// nothing), and no hole in the foot inside the top one (the top would be
// open there and every layer above it would show the bottom through it).
bool traces_go_round(const std::vector<ShapePoint>& T, const std::vector<ShapePoint>& B, const float* top,
                     const float* bottom) {
    const std::vector<uint8_t> foot = region_of(top), insole = region_of(bottom);
    const std::vector<uint8_t> by_top = side_of(T), by_bottom = side_of(B);
    for (int i = 0; i < SHAPE_PIXELS; ++i) {
        if (insole[i] && (by_bottom[i] == kOutside || (foot[i] && by_top[i] == kOutside))) return false;
        if (!foot[i] && by_top[i] == kInside) return false;
    }
    return true;
}

// A wall stitched between two contours that lie at most `reach` apart joins
// no points further apart than that and a pixel; a wall whose greedy bottom
// index fell behind fans across the insole instead. Distances count pixel
// steps, a diagonal one as one. Where one contour runs into a cleft the
// other spans, a wall may fan across the cleft's mouth: `spread` reaches.
bool wall_stays_at_the_rim(const std::vector<ShapePoint>& T, const std::vector<ShapePoint>& B, const Mesh& wall,
                           float spread = 1) {
    auto steps = [](float ax, float ay, float bx, float by) { return std::max(std::fabs(ax - bx), std::fabs(ay - by)); };
    auto nearest = [&](const ShapePoint& p, const std::vector<ShapePoint>& list) {
        float best = 1e9f;
        for (const ShapePoint& q : list)
            best = std::min(best, steps(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(q.x),
                                        static_cast<float>(q.y)));
        return best;
    };
    float reach = 0;
    for (const ShapePoint& p : T) reach = std::max(reach, nearest(p, B));
    for (const ShapePoint& p : B) reach = std::max(reach, nearest(p, T));
    const float limit = reach * spread + 1;
    auto flat = [&](const Vec3& a, const Vec3& b) { return steps(a.x, a.y, b.x, b.y); };
    for (const MeshTriangle& t : wall)
        if (flat(t.a, t.b) > limit || flat(t.b, t.c) > limit || flat(t.c, t.a) > limit) return false;
    return true;
}

// Multi-source distances in pixel steps (a diagonal step counts one) from
// the set pixels of from, each pixel also taking the value of its nearest source.
void step_distances(const std::vector<uint8_t>& from, const uint8_t* value, std::vector<int>& dist,
                    std::vector<uint8_t>& nearest_value) {
    dist.assign(SHAPE_PIXELS, SHAPE_PIXELS);
    nearest_value.assign(SHAPE_PIXELS, 0);
    std::vector<int> queue;
    for (int i = 0; i < SHAPE_PIXELS; ++i)
        if (from[i]) dist[i] = 0, nearest_value[i] = value[i], queue.push_back(i);
    for (size_t q = 0; q < queue.size(); ++q) {
        const int i = queue[q], x = i % SHAPE_W, y = i / SHAPE_W;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                if (!in_shape(x + dx, y + dy)) continue;
                const int j = idx(x + dx, y + dy);
                if (dist[j] > dist[i] + 1) dist[j] = dist[i] + 1, nearest_value[j] = nearest_value[i], queue.push_back(j);
            }
    }
}

// Two triangles per cell whose four corners are all present, at the given
// heights in mm; the bottom is turned to face down.
void append_mm_surface(Mesh& model, const std::vector<float>& z, const std::vector<uint8_t>& present, bool turned) {
    for (int y = 0; y <= SHAPE_H - 2; ++y)
        for (int x = 0; x <= SHAPE_W - 2; ++x) {
            if (!present[idx(x, y)] || !present[idx(x + 1, y)] || !present[idx(x, y + 1)] || !present[idx(x + 1, y + 1)])
                continue;
            append_cell(model, x, y, z[idx(x, y)], z[idx(x + 1, y)], z[idx(x + 1, y + 1)], z[idx(x, y + 1)], turned);
        }
}

// Corner triangles closing the diagonal steps of a contour against one
// surface, as fill_contour_corners does, at the given heights in mm.
void append_mm_corners(Mesh& model, const std::vector<float>& z, const std::vector<uint8_t>& present,
                       const std::vector<ShapePoint>& list, bool top) {
    const size_t n = list.size();
    for (size_t i = 0; i < n; ++i) {
        const ShapePoint& P = list[i];
        const ShapePoint& N = list[(i + 1) % n];
        if (P.x == N.x || P.y == N.y) continue;
        ShapePoint C{N.x, P.y, -1};
        if (in_shape(P.x, N.y) && present[idx(P.x, N.y)]) C = ShapePoint{P.x, N.y, -1};
        auto v = [&](const ShapePoint& p) { return vertex(p, in_shape(p.x, p.y) ? z[idx(p.x, p.y)] : 0.0f); };
        if (top) model.push_back({v(P), v(C), v(N)});
        else model.push_back({v(N), v(C), v(P)});
    }
}

// One closed model whatever the foot's islands, holes or splits. Each piece
// of foot and outline together that holds outline is one solid: its top
// follows the foot as the design's does, the base plate where the foot is 0
// inside the outline; its bottom lies on the bed under the outline and,
// where the foot reaches beyond the outline, slopes up from the outline to
// the foot's rim as the design's wall does (the height a share of the rim's
// by the distances to the outline and to the rim). An upright wall runs
// round the piece, of no height where bottom and top meet at the rim.
// Pieces on no outline are left out, and so is a piece whose contour does
// not close. False when nothing of the foot is left to print.
bool build_region_model(InsoleShape& s, const std::vector<uint8_t>& top_bytes, Mesh& model) {
    std::vector<uint8_t> insole(SHAPE_PIXELS), rim(SHAPE_PIXELS, 0), top_set(SHAPE_PIXELS);
    std::vector<float> top(SHAPE_PIXELS), bottom(SHAPE_PIXELS, 0);
    for (int i = 0; i < SHAPE_PIXELS; ++i) {
        insole[i] = s.inside_mask[i] != 0;
        top_set[i] = top_bytes[i] != 0;
        top[i] = top_bytes[i] / 5.0f;
    }
    for (int y = 0; y < SHAPE_H; ++y)
        for (int x = 0; x < SHAPE_W; ++x) {
            if (!s.foot_map[idx(x, y)]) continue;
            for (const auto& d : {std::make_pair(-1, 0), std::make_pair(1, 0), std::make_pair(0, -1), std::make_pair(0, 1)})
                rim[idx(x, y)] = rim[idx(x, y)] || !in_shape(x + d.first, y + d.second) ||
                                 !s.foot_map[idx(x + d.first, y + d.second)];
        }
    std::vector<int> to_insole, to_rim;
    std::vector<uint8_t> unused, rim_value;
    step_distances(insole, s.inside_mask, to_insole, unused);
    step_distances(rim, top_bytes.data(), to_rim, rim_value);
    for (int i = 0; i < SHAPE_PIXELS; ++i) {
        if (insole[i] || !top_set[i]) continue;
        const float a = static_cast<float>(to_insole[i]), b = static_cast<float>(to_rim[i]);
        bottom[i] = std::min(top[i], rim_value[i] / 5.0f * a / (a + b));
    }

    std::vector<int> piece;
    const int pieces = label_parts(region_of(top.data()), true, piece);
    std::vector<uint8_t> holds_insole(pieces + 1, 0), kept(SHAPE_PIXELS, 0);
    for (int i = 0; i < SHAPE_PIXELS; ++i)
        if (insole[i] && piece[i]) holds_insole[piece[i]] = 1;
    // Each piece is walked within its own box: a picture of many small
    // pieces must not cost a pass over the whole bitmap for each of them.
    struct Box {
        int x0 = SHAPE_W, y0 = SHAPE_H, x1 = -1, y1 = -1, first = -1;
    };
    std::vector<Box> box(pieces + 1);
    for (int i = 0; i < SHAPE_PIXELS; ++i) {
        if (!piece[i]) continue;
        Box& b = box[piece[i]];
        const int x = i % SHAPE_W, y = i / SHAPE_W;
        if (b.first < 0) b.first = i;  // lowest row, leftmost: its left neighbour is not in the piece
        b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x), b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
    }
    std::vector<uint8_t> present(SHAPE_PIXELS, 0);
    bool printable = false;
    s.top_contour.clear();
    for (int k = 1; k <= pieces; ++k) {
        if (!holds_insole[k]) continue;
        const Box& b = box[k];
        auto each = [&](auto&& f) {
            for (int y = b.y0; y <= b.y1; ++y)
                for (int x = b.x0; x <= b.x1; ++x) f(idx(x, y));
        };
        each([&](int i) { present[i] = piece[i] == k; });
        std::vector<ShapePoint> contour;
        const ShapePoint start{b.first % SHAPE_W, b.first / SHAPE_W, -1};
        if (!follow_boundary(present.data(), start, nullptr, true, contour)) {
            std::printf("insole part %d left out: its contour does not close\n", k);
            each([&](int i) { present[i] = 0; });
            continue;
        }
        each([&](int i) {
            kept[i] = kept[i] || present[i];
            printable = printable || (present[i] && s.foot_map[i]);
        });
        const size_t n = contour.size();
        auto at = [&](const std::vector<float>& z, const ShapePoint& p) { return vertex(p, z[idx(p.x, p.y)]); };
        for (size_t i = 0; i < n; ++i) {
            const ShapePoint &p = contour[i], &q = contour[(i + 1) % n];
            model.push_back({at(top, p), at(top, q), at(bottom, p)});
            model.push_back({at(bottom, p), at(top, q), at(bottom, q)});
        }
        append_mm_corners(model, top, present, contour, true);
        append_mm_corners(model, bottom, present, contour, false);
        if (contour.size() > s.top_contour.size()) s.top_contour = contour;
        each([&](int i) { present[i] = 0; });
    }
    s.bottom_contour = s.top_contour;
    if (!printable) return false;
    append_mm_surface(model, top, kept, false);
    append_mm_surface(model, bottom, kept, true);
    return true;
}

}  // namespace

bool build_insole_mesh(InsoleShape& s, Mesh& model) {
    s.top_contour.clear();
    s.bottom_contour.clear();
    // Inside the outline the top never dips into the base plate: printed
    // whole, the plate would keep a hole wherever the foot is fainter.
    const uint8_t plate = static_cast<uint8_t>(std::lround(s.base_height * 5));
    std::vector<uint8_t> foot_top(SHAPE_PIXELS), region_top(SHAPE_PIXELS);
    std::vector<float> top(SHAPE_PIXELS), bottom(SHAPE_PIXELS);
    for (int i = 0; i < SHAPE_PIXELS; ++i) {
        const uint8_t v = s.foot_map[i];
        foot_top[i] = s.inside_mask[i] && v ? std::max(v, plate) : v;
        region_top[i] = s.inside_mask[i] ? std::max(v, plate) : v;
        top[i] = foot_top[i];
        bottom[i] = s.inside_mask[i];
    }
    const bool top_closed = trace_contour(s.top_contour, top.data(), 0);
    const bool bottom_closed = trace_contour(s.bottom_contour, bottom.data(), 0);
    if (top_closed && bottom_closed && traces_go_round(s.top_contour, s.bottom_contour, top.data(), bottom.data())) {
        Mesh wall;
        stitch_side_wall_between(s, foot_top.data(), wall);
        if (wall_stays_at_the_rim(s.top_contour, s.bottom_contour, wall)) {
            model.insert(model.end(), wall.begin(), wall.end());
            fill_contour_corners(model, foot_top.data(), s.top_contour, 0);
            fill_contour_corners(model, s.inside_mask, s.bottom_contour, s.base_height);
            append_surface(model, top.data(), 0, false);
            append_surface(model, bottom.data(), s.base_height, true);
            return true;
        }
    }
    const size_t kept = model.size();
    if (build_region_model(s, region_top, model)) return true;
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
