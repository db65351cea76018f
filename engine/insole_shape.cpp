// The insole shape object's lifecycle and the pixel passes shared by the
// outline and model builders.
#include "engine/insole_shape.h"

#include <cmath>
#include <cstring>

#include "engine/params.h"

namespace engine {

namespace {

inline int idx(int x, int y) { return y * SHAPE_W + x; }

// Empty 4-neighbours of an interior pixel.
inline int empty_neighbours(const uint8_t* b, int x, int y) {
    return (b[idx(x - 1, y)] == 0) + (b[idx(x, y - 1)] == 0) + (b[idx(x, y + 1)] == 0) + (b[idx(x + 1, y)] == 0);
}

inline bool interior(int x, int y) { return x >= 1 && x <= SHAPE_W - 2 && y >= 1 && y <= SHAPE_H - 2; }

}  // namespace

// ---- lifecycle -------------------------------------------------------------

void init_insole_shape(InsoleShape& shape) {
    shape.LENGTH_PCT[0] = 0.5775f;
    shape.LENGTH_PCT[1] = 0.3425f;
    shape.LENGTH_PCT[2] = 0.175f;
    shape.LENGTH_PCT[3] = 0.3f;
    shape.LENGTH_PCT[4] = 0.5225f;
    shape.LINE_PCT[0] = static_cast<float>(pval(va_bm_para_2));
    shape.LINE_PCT[1] = 0.0822f;
    shape.base_height = 2.0f;
    shape.top_contour.clear();
    shape.bottom_contour.clear();
}

void destroy_insole_shape(InsoleShape& shape) {
    std::vector<ShapePoint>().swap(shape.bottom_contour);
    std::vector<ShapePoint>().swap(shape.top_contour);
}

// ---- pixel passes ----------------------------------------------------------

// Clearing a pixel only adds empty neighbours to the pixels around it, so a
// pixel that qualifies keeps qualifying until it is cleared: the pixels left
// are the same whatever order they go in. A work list reaches that result in
// one scan instead of restarting the scan after every removal.
void remove_spurs(uint8_t* bitmap) {
    std::vector<int> pending;
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x)
            if (bitmap[idx(x, y)] && empty_neighbours(bitmap, x, y) >= 3) pending.push_back(idx(x, y));
    while (!pending.empty()) {
        const int i = pending.back();
        pending.pop_back();
        if (!bitmap[i]) continue;
        bitmap[i] = 0;
        const int x = i % SHAPE_W, y = i / SHAPE_W;
        const int nx[4] = {x - 1, x + 1, x, x};
        const int ny[4] = {y, y, y - 1, y + 1};
        for (int k = 0; k < 4; ++k)
            if (interior(nx[k], ny[k]) && bitmap[idx(nx[k], ny[k])] && empty_neighbours(bitmap, nx[k], ny[k]) >= 3)
                pending.push_back(idx(nx[k], ny[k]));
    }
}

void clear_faint_pixels(const InsoleShape& shape, uint8_t* bitmap) {
    const int m = (shape.y_min + shape.y_max) / 2;
    // Rows 0 and 359 stay as they are, like every pass's border.
    const int first = m < 1 ? 1 : m;
    const int end = shape.y_max > SHAPE_H - 1 ? SHAPE_H - 1 : shape.y_max;
    for (int y = first; y < end; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x)
            if (bitmap[idx(x, y)] < 10) bitmap[idx(x, y)] = 0;
}

bool fill_notches(uint8_t* work, uint8_t* paired) {
    bool changed = false;
    for (int x = 1; x <= SHAPE_W - 2; ++x)
        for (int y = 1; y <= SHAPE_H - 2; ++y)
            if (!work[idx(x, y)] && empty_neighbours(work, x, y) <= 1) {
                work[idx(x, y)] = 255;
                paired[idx(x, y)] = 255;
                changed = true;
            }
    return changed;
}

bool clear_spurs_once(uint8_t* work, uint8_t* paired) {
    bool changed = false;
    for (int x = 1; x <= SHAPE_W - 2; ++x)
        for (int y = 1; y <= SHAPE_H - 2; ++y)
            if (work[idx(x, y)] && empty_neighbours(work, x, y) >= 3) {
                work[idx(x, y)] = 0;
                paired[idx(x, y)] = 0;
                changed = true;
            }
    return changed;
}

void clear_interior(const uint8_t* src, uint8_t* dst) {
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x)
            if (src[idx(x, y)] && empty_neighbours(src, x, y) == 0) dst[idx(x, y)] = 0;
}

void thin_boundary(const uint8_t* src, uint8_t* dst) {
    static const int kOffsets[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};
    for (int y = 1; y <= SHAPE_H - 2; ++y)
        for (int x = 1; x <= SHAPE_W - 2; ++x) {
            if (!src[idx(x, y)]) continue;
            int count = 0;
            int first = -1, second = -1;
            for (int k = 0; k < 8; ++k) {
                if (!src[idx(x + kOffsets[k][0], y + kOffsets[k][1])]) continue;
                if (count == 0) first = k;
                else if (count == 1) second = k;
                ++count;
            }
            if (count == 2 && std::abs(kOffsets[first][0] - kOffsets[second][0]) == 1 &&
                std::abs(kOffsets[first][1] - kOffsets[second][1]) == 1)
                dst[idx(x, y)] = 0;
        }
}

void build_eroded_ring(InsoleShape& s) {
    for (int i = 0; i < SHAPE_PIXELS; ++i) s.ring_map[i] = s.ring_work[i] = s.foot_map[i] ? 255 : 0;

    const float heel_span = s.LENGTH_PCT[2] * s.foot_length;
    const float heel_limit_f = heel_span + static_cast<float>(s.y_min);
    // An absurd range (no foot measured yet) must not overflow the conversion.
    const int heel_limit = std::isfinite(heel_limit_f) && std::fabs(heel_limit_f) < 1e6f ? static_cast<int>(heel_limit_f) : 0;
    const float steps = static_cast<float>(pval(va_bm_para_1));
    for (int k = 0; static_cast<float>(k) < steps; ++k) {
        const bool square = (k % 2) == 1;
        for (int y = 1; y <= SHAPE_H - 2; ++y) {
            const bool takes_part =
                y >= heel_limit ||
                static_cast<float>(k) <= ((static_cast<float>(y - s.y_min) / heel_span) * 0.7f + 0.3f) * steps;
            if (!takes_part) continue;
            for (int x = 1; x <= SHAPE_W - 2; ++x) {
                if (!s.ring_work[idx(x, y)]) continue;
                bool touches_empty = false;
                for (int dy = -1; dy <= 1 && !touches_empty; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        if (!square && dx != 0 && dy != 0) continue;
                        if (!s.ring_work[idx(x + dx, y + dy)]) {
                            touches_empty = true;
                            break;
                        }
                    }
                if (touches_empty) s.ring_map[idx(x, y)] = 0;
            }
        }
        std::memcpy(s.ring_work, s.ring_map, SHAPE_PIXELS);
    }

    clear_spurs_once(s.ring_work, s.ring_map);
    fill_notches(s.ring_work, s.ring_map);
    clear_interior(s.ring_work, s.ring_map);
    std::memcpy(s.ring_work, s.ring_map, SHAPE_PIXELS);
    thin_boundary(s.ring_work, s.ring_map);
    std::memset(s.outline_map, 0, SHAPE_PIXELS);
}

}  // namespace engine

// ---- boundary following ------------------------------------------------------

namespace engine {

bool follow_boundary(const uint8_t* region, ShapePoint start, const ShapePoint* end, bool clockwise,
                     std::vector<ShapePoint>& out) {
    // Neighbours in turning order, row numbers growing upwards; the first is
    // the left one, which the start pixel of a row scan from the left has empty.
    static const int kClockwise[8][2] = {{-1, 0}, {-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}};
    int dirs[8][2];
    for (int k = 0; k < 8; ++k) {
        const int from = clockwise ? k : (8 - k) % 8;
        dirs[k][0] = kClockwise[from][0];
        dirs[k][1] = kClockwise[from][1];
    }
    auto set = [&](int x, int y) { return in_shape(x, y) && region[y * SHAPE_W + x] != 0; };
    auto dir_of = [&](int dx, int dy) {
        for (int k = 0; k < 8; ++k)
            if (dirs[k][0] == dx && dirs[k][1] == dy) return k;
        return 0;
    };
    if (!set(start.x, start.y)) return false;
    out.push_back(start);
    if (end && start == *end) return true;
    // Enter the start from the outside pixel on the side the scan came from.
    int back = dir_of(clockwise ? -1 : 1, 0);
    ShapePoint cur = start;
    int first_move = -1;
    // Every boundary pixel is entered at most once from each of its 8 sides.
    for (int step = 0; step < 8 * SHAPE_PIXELS; ++step) {
        int found = -1;
        for (int k = 1; k <= 8; ++k) {
            const int d = (back + k) % 8;
            if (set(cur.x + dirs[d][0], cur.y + dirs[d][1])) {
                found = d;
                break;
            }
        }
        if (found < 0) return end == nullptr;  // a single pixel is its own closed boundary
        if (cur == start && found == first_move) return end == nullptr;
        if (first_move < 0) first_move = found;
        const int empty = (found + 7) % 8;
        const ShapePoint next{cur.x + dirs[found][0], cur.y + dirs[found][1], -1};
        back = dir_of(cur.x + dirs[empty][0] - next.x, cur.y + dirs[empty][1] - next.y);
        cur = next;
        if (end && cur == *end) {
            out.push_back(cur);
            return true;
        }
        if (!end && cur == start) continue;  // closing is decided by the next move
        out.push_back(cur);
    }
    return false;
}

}  // namespace engine
