// The insole outline: heel and toe walks, key-point arcs, gap closing and
// the filled insole region, ending with the insole model.
#include "engine/insole_outline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/insole_mesh.h"

namespace engine {

namespace {

inline int idx(int x, int y) { return y * SHAPE_W + x; }

constexpr int kWalkIterations = 1000;
constexpr int kRecent = 7;
constexpr float kPi = 3.14159265f;

inline void set_outline(InsoleShape& s, int x, int y) {
    if (in_shape(x, y)) s.outline_map[idx(x, y)] = 255;
}

inline bool set_in(const uint8_t* bitmap, int x, int y) { return in_shape(x, y) && bitmap[idx(x, y)] != 0; }

// Steps over the set pixels of walked from start towards end, trying the
// neighbours in the order given and never returning to the last 7 pixels.
WalkResult walk(InsoleShape& s, const uint8_t* walked, ShapePoint start, ShapePoint end, const int (&dirs)[8][2],
                bool draw_end) {
    set_outline(s, start.x, start.y);
    std::vector<uint8_t> stepped(SHAPE_PIXELS, 0);
    if (in_shape(start.x, start.y)) stepped[idx(start.x, start.y)] = 1;
    bool twice = false;
    ShapePoint recent[kRecent];
    for (ShapePoint& r : recent) r = start;
    int slot = 0;
    ShapePoint cur = start;
    for (int it = 0; it < kWalkIterations; ++it) {
        for (const auto& d : dirs) {
            const ShapePoint n{cur.x + d[0], cur.y + d[1], -1};
            if (!set_in(walked, n.x, n.y)) continue;
            if (n == end) {
                if (draw_end) set_outline(s, n.x, n.y);
                return WalkResult{true, it + 1, twice};
            }
            bool seen = false;
            for (const ShapePoint& r : recent) seen = seen || r == n;
            if (seen) continue;
            recent[slot] = cur;
            slot = (slot + 1) % kRecent;
            cur = n;
            set_outline(s, cur.x, cur.y);
            twice = twice || stepped[idx(cur.x, cur.y)];
            stepped[idx(cur.x, cur.y)] = 1;
            break;
        }
    }
    return WalkResult{false, kWalkIterations, twice};
}

// Toes that press apart from the ball of the foot form islands the edge walk
// cannot reach, which would cut the insole off at the ball. A short vertical
// gap (up to kToeGap rows) from the foot up to such an island in the toe
// end is closed in work and paired, joining the toe to the foot; gaps within
// the foot itself (clefts between joined toes) are left as they are. A speck
// of a few pixels is no toe: bridging it would grow a stalk from the toes.
constexpr int kToeGap = 25;
constexpr int kSmallestToe = 16;  // px

void bridge_toe_islands(uint8_t* work, uint8_t* paired, int from_row) {
    const int first_row = std::max(from_row, 1);
    if (first_row > SHAPE_H - 2) return;
    // 4-connected regions; the largest is the foot itself.
    std::vector<int> label(SHAPE_PIXELS, 0), sizes(1, 0), stack;
    for (int start = 0; start < SHAPE_PIXELS; ++start) {
        if (!work[start] || label[start]) continue;
        const int id = static_cast<int>(sizes.size());
        sizes.push_back(0);
        label[start] = id;
        stack.assign(1, start);
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            ++sizes[id];
            const int x = i % SHAPE_W, y = i / SHAPE_W;
            const int nb[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& n : nb) {
                if (!in_shape(n[0], n[1])) continue;
                const int j = idx(n[0], n[1]);
                if (work[j] && !label[j]) {
                    label[j] = id;
                    stack.push_back(j);
                }
            }
        }
    }
    if (sizes.size() <= 2) return;
    const int main_id = static_cast<int>(std::max_element(sizes.begin(), sizes.end()) - sizes.begin());

    for (int x = 1; x <= SHAPE_W - 2; ++x) {
        int last_set = -1;
        for (int y = first_row; y <= SHAPE_H - 2; ++y) {
            if (!work[idx(x, y)]) continue;
            if (last_set >= 0 && y - last_set - 1 <= kToeGap && label[idx(x, last_set)] == main_id &&
                label[idx(x, y)] != main_id && sizes[label[idx(x, y)]] >= kSmallestToe)
                for (int g = last_set + 1; g < y; ++g) work[idx(x, g)] = paired[idx(x, g)] = 255;
            last_set = y;
        }
    }
}

// Moves pt along its row to the region's first pixel seen from the near
// (columns 1 up) or far side (columns 148 down); false when the row has none.
bool first_on_row(const uint8_t* region, ShapePoint& pt, bool far_side) {
    if (pt.y < 1 || pt.y > SHAPE_H - 2) return false;
    for (int k = 1; k <= SHAPE_W - 2; ++k) {
        const int x = far_side ? SHAPE_W - 1 - k : k;
        if (region[idx(x, pt.y)]) {
            pt.x = x;
            return true;
        }
    }
    return false;
}

inline ShapePoint arc_pixel(float cx, float cy, float r, float t_deg) {
    const float t = t_deg * kPi / 180.0f;
    return ShapePoint{trunc_px(cx + r * std::cos(t)), trunc_px(cy + r * std::sin(t)), -1};
}

}  // namespace

// ---- walks -----------------------------------------------------------------

WalkResult walk_heel_ring(InsoleShape& s) {
    static const int kTowardsHeel[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
    std::memcpy(s.ring_work, s.ring_map, SHAPE_PIXELS);
    return walk(s, s.ring_map, s.p2_2, s.p[3], kTowardsHeel, false);
}

WalkResult walk_toe_edge(InsoleShape& s) {
    for (int i = 0; i < SHAPE_PIXELS; ++i) s.ring_work[i] = s.edge_map[i] = s.foot_map[i] > 9 ? 255 : 0;
    bridge_toe_islands(s.ring_work, s.edge_map, std::min(s.p0_1.y, s.p[4].y));
    for (int pass = 0; pass < 5; ++pass)
        if (!clear_spurs_once(s.ring_work, s.edge_map)) break;
    fill_notches(s.ring_work, s.edge_map);
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x) {
            const uint8_t* w = s.ring_work;
            const bool edge = w[idx(x, y)] &&
                              (!w[idx(x - 1, y)] || !w[idx(x + 1, y)] || !w[idx(x, y - 1)] || !w[idx(x, y + 1)]);
            s.edge_map[idx(x, y)] = edge ? 255 : 0;
        }
    const std::vector<uint8_t> region(s.ring_work, s.ring_work + SHAPE_PIXELS);
    std::memcpy(s.ring_work, s.edge_map, SHAPE_PIXELS);
    thin_boundary(s.ring_work, s.edge_map);

    static const int kTowardsToes[8][2] = {{-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}};
    const std::vector<uint8_t> before(s.outline_map, s.outline_map + SHAPE_PIXELS);
    const WalkResult fixed_order = walk(s, s.edge_map, s.p0_1, s.p[4], kTowardsToes, true);
    if (fixed_order.reached && !fixed_order.stepped_twice) return fixed_order;

    // Where toes touch only at a corner or hang on a thin neck, trying the
    // neighbours in a fixed order takes the wrong branch: it circles a toe or
    // walks back the way it came. Following the boundary with the foot kept
    // on one hand always gets round the toes to the other side.
    const bool left = s.is_left == 1;
    ShapePoint from = s.p0_1, to = s.p[4];
    if (!first_on_row(region.data(), from, left) || !first_on_row(region.data(), to, !left)) return fixed_order;
    std::vector<ShapePoint> path;
    if (!follow_boundary(region.data(), from, &to, !left, path)) return fixed_order;
    std::memcpy(s.outline_map, before.data(), SHAPE_PIXELS);
    for (const ShapePoint& p : path) set_outline(s, p.x, p.y);
    // The key points come from foot_map, the boundary from the cleaned toe
    // region; where they part on a row the outline joins them.
    draw_segment(s, s.p0_1, from);
    draw_segment(s, to, s.p[4]);
    set_outline(s, s.p[4].x, s.p[4].y);
    return WalkResult{true, static_cast<int>(path.size()), false};
}

// ---- drawing ---------------------------------------------------------------

void draw_segment(InsoleShape& s, ShapePoint a, ShapePoint b) {
    if (a.x == b.x) {
        const int lo = std::max(std::min(a.y, b.y), 0), hi = std::min(std::max(a.y, b.y) - 1, SHAPE_H - 1);
        for (int y = lo; y <= hi; ++y) set_outline(s, a.x, y);
    } else if (a.y == b.y) {
        const int lo = std::max(std::min(a.x, b.x), 0), hi = std::min(std::max(a.x, b.x) - 1, SHAPE_W - 1);
        for (int x = lo; x <= hi; ++x) set_outline(s, x, a.y);
    } else {
        const ShapePoint& e = a.y > b.y ? a : b;
        const float f = static_cast<float>(static_cast<int64_t>(b.y) - a.y) / static_cast<float>(static_cast<int64_t>(b.x) - a.x);
        const int lo = std::max(std::min(a.y, b.y), 0), hi = std::min(std::max(a.y, b.y), SHAPE_H - 1);
        for (int y = lo; y <= hi; ++y)
            set_outline(s, trunc_px(static_cast<float>(e.x) + static_cast<float>(static_cast<int64_t>(y) - e.y) / f), y);
    }
}

float angle_from_x_axis(float px, float py, float cx, float cy) {
    const float qx = cx + 1, qy = cy;
    const float h = std::sqrt((qx - cx) * (qx - cx) + (qy - cy) * (qy - cy));
    const float o = std::sqrt((px - cx) * (px - cx) + (py - cy) * (py - cy));
    const float m = std::sqrt((qx - px) * (qx - px) + (qy - py) * (qy - py));
    // A point on the centre has no direction, and rounding can push the
    // cosine a hair past +-1; neither may turn into NaN.
    if (!(h > 0) || !(o > 0)) return 0;
    float cosine = (h * h + o * o - m * m) / (2 * h * o);
    if (!std::isfinite(cosine)) return 0;
    cosine = std::max(-1.0f, std::min(1.0f, cosine));
    return std::acos(cosine) * 180.0f / kPi;
}

void draw_arc(InsoleShape& s, ShapePoint a, ShapePoint b, float r, uint8_t side) {
    const bool side1 = side == 1;
    if (side1 ? b.y < a.y : a.y < b.y) std::swap(a, b);

    const float dx = static_cast<float>(b.x - a.x), dy = static_cast<float>(b.y - a.y);
    const float mx = (static_cast<float>(a.x) + static_cast<float>(b.x)) * 0.5f;
    const float my = (static_cast<float>(a.y) + static_cast<float>(b.y)) * 0.5f;
    const float c = std::sqrt(dx * dx + dy * dy);
    const float h2 = r * r - (c * 0.5f) * (c * 0.5f);
    if (!(c > 0) || !(h2 >= 0) || !std::isfinite(h2)) {
        // No circle of this radius passes through both points: the chord stands in for the arc.
        draw_segment(s, a, b);
        set_outline(s, a.x, a.y);
        set_outline(s, b.x, b.y);
        std::printf("p_tmp %d %d\n", a.x, a.y);
        std::printf("p2 %d %d\n", b.x, b.y);
        return;
    }
    const float h = std::sqrt(h2);
    const float c1x = mx - h * dy / c, c1y = my + h * dx / c;
    const float c2x = mx + h * dy / c, c2y = my - h * dx / c;
    const bool take_c1 = side1 ? c1x < c2x : c1x > c2x;
    const float cx = take_c1 ? c1x : c2x, cy = take_c1 ? c1y : c2y;

    float ta = angle_from_x_axis(static_cast<float>(a.x), static_cast<float>(a.y), cx, cy);
    float tb = angle_from_x_axis(static_cast<float>(b.x), static_cast<float>(b.y), cx, cy);
    if (static_cast<float>(a.y) < cy) ta = side1 ? -ta : 360.0f - ta;
    if (static_cast<float>(b.y) < cy) tb = side1 ? -tb : 360.0f - tb;
    const float start = std::min(ta, tb), end = std::max(ta, tb);

    ShapePoint last = arc_pixel(cx, cy, r, start);
    draw_segment(s, a, last);
    for (float t = start; t <= end; t += 0.1f) {
        last = arc_pixel(cx, cy, r, t);
        if (!(t > start && last == b)) set_outline(s, last.x, last.y);
        if (t == start) draw_segment(s, a, last);
        if (t == end) draw_segment(s, last, b);
    }
    std::printf("p_tmp %d %d\n", last.x, last.y);
    std::printf("p2 %d %d\n", b.x, b.y);
    draw_segment(s, b, last);
}

// ---- gap closing and filling -----------------------------------------------

void fill_row_spans(InsoleShape& s) {
    for (int y = 1; y <= SHAPE_H - 2; ++y) {
        int first = 0, last = 0;
        for (int x = 1; x <= SHAPE_W - 2; ++x)
            if (s.outline_map[idx(x, y)]) {
                first = x;
                break;
            }
        if (first == 0) continue;
        for (int x = SHAPE_W - 2; x >= 1; --x)
            if (s.outline_map[idx(x, y)]) {
                last = x;
                break;
            }
        for (int x = first; x <= last; ++x) s.outline_map[idx(x, y)] = 255;
    }
}

void keep_boundary(InsoleShape& s) {
    std::memcpy(s.outline_work, s.outline_map, SHAPE_PIXELS);
    const uint8_t* w = s.outline_work;
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x)
            if (w[idx(x, y)] && w[idx(x - 1, y)] && w[idx(x + 1, y)] && w[idx(x, y - 1)] && w[idx(x, y + 1)])
                s.outline_map[idx(x, y)] = 0;
    std::memcpy(s.outline_work, s.outline_map, SHAPE_PIXELS);
}

void dilate_outline(InsoleShape& s) {
    const uint8_t* w = s.outline_work;
    auto any_in_row = [&](int x, int y) { return w[idx(x - 1, y)] || w[idx(x, y)] || w[idx(x + 1, y)]; };
    auto any_in_column = [&](int x, int y) { return w[idx(x, y - 1)] || w[idx(x, y)] || w[idx(x, y + 1)]; };

    std::memcpy(s.outline_work, s.outline_map, SHAPE_PIXELS);
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x)
            if (!any_in_row(x, y) && any_in_row(x, y - 1) && any_in_row(x, y + 1)) s.outline_map[idx(x, y)] = 255;

    std::memcpy(s.outline_work, s.outline_map, SHAPE_PIXELS);
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x)
            if (!any_in_column(x, y) && any_in_column(x - 1, y) && any_in_column(x + 1, y))
                s.outline_map[idx(x, y)] = 255;

    std::memcpy(s.outline_work, s.outline_map, SHAPE_PIXELS);
    fill_row_spans(s);
    keep_boundary(s);
}

void fill_inside_mask(InsoleShape& s) {
    // inside_mask first holds the marks: 1 = reached from the border.
    uint8_t* mark = s.inside_mask;
    std::memset(mark, 0, SHAPE_PIXELS);
    auto open = [&](int x, int y) { return s.outline_map[idx(x, y)] != 255; };
    for (int y = 0; y < SHAPE_H; ++y) {
        for (int x = 0; x < SHAPE_W && open(x, y); ++x) mark[idx(x, y)] = 1;
        for (int x = SHAPE_W - 1; x >= 0 && open(x, y); --x) mark[idx(x, y)] = 1;
    }
    for (int x = 0; x < SHAPE_W; ++x) {
        for (int y = SHAPE_H - 1; y >= 0 && open(x, y); --y) mark[idx(x, y)] = 1;
        for (int y = 0; y < SHAPE_H && open(x, y); ++y) mark[idx(x, y)] = 1;
    }
    for (int i = 0; i < SHAPE_PIXELS; ++i) mark[i] = mark[i] ? 0 : 10;
    remove_spurs(s.inside_mask);
}

// ---- the whole build -------------------------------------------------------

namespace {

bool build_from_framed_foot(InsoleShape& s, uint8_t* foot_bitmap, Mesh& model);

// Moves the pixels of bitmap by (dx, dy); those moved in from outside are 0.
void shift_bitmap(uint8_t* bitmap, int dx, int dy) {
    std::vector<uint8_t> from(bitmap, bitmap + SHAPE_PIXELS);
    for (int y = 0; y < SHAPE_H; ++y)
        for (int x = 0; x < SHAPE_W; ++x)
            bitmap[idx(x, y)] = in_shape(x - dx, y - dy) ? from[idx(x - dx, y - dy)] : 0;
}

// The step that brings a foot off the image's outer pixels where the far
// side leaves room for it: +1 or -1 a way, 0 where it need not or cannot.
void step_off_sides(const uint8_t* bitmap, int& dx, int& dy) {
    auto column = [&](int x) {
        for (int y = 0; y < SHAPE_H; ++y)
            if (bitmap[idx(x, y)]) return true;
        return false;
    };
    auto row = [&](int y) {
        for (int x = 0; x < SHAPE_W; ++x)
            if (bitmap[idx(x, y)]) return true;
        return false;
    };
    dx = dy = 0;
    if (column(0) && !column(SHAPE_W - 1) && !column(SHAPE_W - 2)) dx = 1;
    else if (column(SHAPE_W - 1) && !column(0) && !column(1)) dx = -1;
    if (row(0) && !row(SHAPE_H - 1) && !row(SHAPE_H - 2)) dy = 1;
    else if (row(SHAPE_H - 1) && !row(0) && !row(1)) dy = -1;
}

}  // namespace

bool build_insole_outline(InsoleShape& s, uint8_t* foot_bitmap, Mesh& model) {
    // Ranges, ring, walks and contours see only columns 1..148 and rows
    // 1..358: a foot that runs on into the image's outer pixels has no edge
    // there, its outline stays open and the fill leaks across the heel. So
    // such a foot is built a pixel in, where the far side leaves room, and
    // its model moved back to where the foot lies; what is still on the
    // outer pixels after that is cleared.
    int dx = 0, dy = 0;
    step_off_sides(foot_bitmap, dx, dy);
    if (dx || dy) shift_bitmap(foot_bitmap, dx, dy);
    const size_t first = model.size();
    const bool built = build_from_framed_foot(s, foot_bitmap, model);
    if (dx || dy) {
        shift_bitmap(foot_bitmap, -dx, -dy);
        // The ranges place the model and the heel point, and the outline and
        // key points are drawn over the image: all where the foot lies.
        s.x_min -= dx, s.x_max -= dx, s.y_min -= dy, s.y_max -= dy;
        shift_bitmap(s.outline_map, -dx, -dy);
        for (ShapePoint& p : s.p) p.x -= dx, p.y -= dy;
        for (size_t i = first; i < model.size(); ++i)
            for (Vec3* v : {&model[i].a, &model[i].b, &model[i].c}) {
                v->x -= static_cast<float>(dx);
                v->y -= static_cast<float>(dy);
            }
    }
    return built;
}

namespace {

bool build_from_framed_foot(InsoleShape& s, uint8_t* foot_bitmap, Mesh& model) {
    for (int y = 0; y < SHAPE_H; ++y)
        for (int x = 0; x < SHAPE_W; ++x)
            if (x == 0 || x == SHAPE_W - 1 || y == 0 || y == SHAPE_H - 1) foot_bitmap[y * SHAPE_W + x] = 0;
    remove_spurs(foot_bitmap);
    std::memcpy(s.foot_map, foot_bitmap, SHAPE_PIXELS);
    std::printf(decide_side(s, foot_bitmap) == 1 ? "LEFT !\n" : "RIGHT !\n");
    measure_foot_ranges(s, foot_bitmap);
    clear_faint_pixels(s, s.foot_map);
    remove_spurs(s.foot_map);
    build_eroded_ring(s);
    place_shape_points(s);
    walk_heel_ring(s);
    walk_toe_edge(s);

    const uint8_t side = s.is_left;
    const uint8_t other = static_cast<uint8_t>(1 - side);
    auto span = [](const ShapePoint& u, const ShapePoint& v) { return static_cast<float>(std::abs(u.y - v.y)); };
    const float k = span(s.p[4], s.p[3]) < 50 ? 3.0f : 4.0f;
    draw_arc(s, s.p0_1, s.p0_2, 4 * span(s.p0_1, s.p0_2), side);
    draw_arc(s, s.p0_2, s.p[1], 2 * span(s.p0_2, s.p[1]), other);
    draw_arc(s, s.p2_1, s.p[1], 3 * span(s.p2_1, s.p[1]), other);
    draw_arc(s, s.p2_2, s.p2_1, 4 * span(s.p2_2, s.p2_1), side);
    draw_arc(s, s.p[4], s.p[3], k * span(s.p[4], s.p[3]), side);

    dilate_outline(s);
    fill_inside_mask(s);
    return build_insole_mesh(s, model);
}

}  // namespace

}  // namespace engine
