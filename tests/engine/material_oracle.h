// The insole's material at a height worked out from the foot image's two
// height maps alone, without the model: what the model's cuts and the
// printed paths are checked against.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/insole_shape.h"

namespace materialoracle {
using namespace engine;

// Multi-source distances in pixel steps (a diagonal step counts one) from the
// pixels where from is set, carrying the value of the nearest source.
inline void distances(const std::vector<uint8_t>& from, const uint8_t* value, std::vector<int>& dist, std::vector<uint8_t>& near) {
    dist.assign(SHAPE_PIXELS, 1 << 20);
    near.assign(SHAPE_PIXELS, 0);
    std::vector<int> queue;
    for (int i = 0; i < SHAPE_PIXELS; ++i)
        if (from[i]) dist[i] = 0, near[i] = value ? value[i] : 0, queue.push_back(i);
    for (size_t q = 0; q < queue.size(); ++q) {
        const int i = queue[q], x = i % SHAPE_W, y = i / SHAPE_W;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                if (!in_shape(x + dx, y + dy)) continue;
                const int j = (y + dy) * SHAPE_W + x + dx;
                if (dist[j] > dist[i] + 1) dist[j] = dist[i] + 1, near[j] = near[i], queue.push_back(j);
            }
    }
}

// The insole's material at height z worked out from its two height maps
// alone: the foot (foot_map, z = value / 5) and the filled outline
// (inside_mask, the bottom at 0 with the base plate up to base_height).
// Inside the outline: the plate, and the foot where it stands above z.
// Where the foot reaches beyond the outline, the wall slopes from the
// outline at the bottom up to the foot's rim: material above the wall and
// below the foot, on a piece of foot that stands on the outline somewhere.
// Where the outline reaches beyond the foot, a model may slope its wall up
// to the foot or stop at the plate: either holds.
struct MaterialOracle {
    std::vector<uint8_t> foot, insole, rim_value, on_insole;
    std::vector<int> to_insole, to_rim;
    float plate = 2;

    explicit MaterialOracle(const InsoleShape& s)
        : foot(s.foot_map, s.foot_map + SHAPE_PIXELS), insole(s.inside_mask, s.inside_mask + SHAPE_PIXELS) {
        plate = s.base_height;
        std::vector<uint8_t> rim(SHAPE_PIXELS, 0), unused;
        for (int y = 0; y < SHAPE_H; ++y)
            for (int x = 0; x < SHAPE_W; ++x) {
                const int i = y * SHAPE_W + x;
                if (!foot[i]) continue;
                for (const auto& d : {std::make_pair(-1, 0), std::make_pair(1, 0), std::make_pair(0, -1), std::make_pair(0, 1)})
                    rim[i] = rim[i] || !in_shape(x + d.first, y + d.second) || !foot[i + d.second * SHAPE_W + d.first];
            }
        distances(rim, foot.data(), to_rim, rim_value);
        distances(insole, nullptr, to_insole, unused);
        // Foot and outline joined (8-connected) to a pixel of the outline.
        on_insole.assign(SHAPE_PIXELS, 0);
        std::vector<int> stack;
        for (int i = 0; i < SHAPE_PIXELS; ++i)
            if (insole[i]) on_insole[i] = 1, stack.push_back(i);
        while (!stack.empty()) {
            const int i = stack.back(), x = i % SHAPE_W, y = i / SHAPE_W;
            stack.pop_back();
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int j = (y + dy) * SHAPE_W + x + dx;
                    if (in_shape(x + dx, y + dy) && foot[j] && !on_insole[j]) on_insole[j] = 1, stack.push_back(j);
                }
        }
    }
    // Material for sure: the foot more than a grey step above z; beyond the
    // outline, the wall's estimated height well below z.
    bool at(int i, float z) const {
        const float top = foot[i] / 5.0f;
        if (insole[i]) return z < plate || top > z + 0.2f;
        if (top <= z + 0.2f || !on_insole[i]) return false;
        const float a = static_cast<float>(to_insole[i]), b = static_cast<float>(to_rim[i]);
        return z > 1.5f * rim_value[i] / 5.0f * a / (a + b) + 0.5f;  // above the wall falling to the outline
    }
    // Material a sound model may hold: the foot within a grey step of z, the
    // foot beyond the outline wherever it stands above z, and under a wall
    // rising from the outline to the foot.
    bool may(int i, float z) const {
        return at(i, z) || (insole[i] && !foot[i]) || (on_insole[i] && foot[i] / 5.0f > z - 0.2f);
    }
};

}  // namespace materialoracle
