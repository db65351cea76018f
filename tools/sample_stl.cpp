// STL solids and writers: a box, a tetrahedron, ASCII (one or more solids per file) and binary files.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/sample_data.h"

namespace sample {

std::vector<Tri> box_solid(float x0, float y0, float z0, float dx, float dy, float dz) {
    auto c = [&](int i, int j, int k) { return Vec3f{x0 + i * dx, y0 + j * dy, z0 + k * dz}; };
    // Two triangles a face, counter-clockwise seen from outside.
    return {
        {c(0, 0, 0), c(0, 1, 0), c(1, 1, 0)}, {c(0, 0, 0), c(1, 1, 0), c(1, 0, 0)},  // bottom
        {c(0, 0, 1), c(1, 0, 1), c(1, 1, 1)}, {c(0, 0, 1), c(1, 1, 1), c(0, 1, 1)},  // top
        {c(0, 0, 0), c(1, 0, 0), c(1, 0, 1)}, {c(0, 0, 0), c(1, 0, 1), c(0, 0, 1)},  // front (-y)
        {c(0, 1, 0), c(0, 1, 1), c(1, 1, 1)}, {c(0, 1, 0), c(1, 1, 1), c(1, 1, 0)},  // back (+y)
        {c(0, 0, 0), c(0, 0, 1), c(0, 1, 1)}, {c(0, 0, 0), c(0, 1, 1), c(0, 1, 0)},  // -x
        {c(1, 0, 0), c(1, 1, 0), c(1, 1, 1)}, {c(1, 0, 0), c(1, 1, 1), c(1, 0, 1)},  // +x
    };
}

std::vector<Tri> tetra_solid(float x0, float y0, float z0, float s) {
    const Vec3f p0{x0, y0, z0}, p1{x0 + s, y0, z0}, p2{x0, y0 + s, z0}, p3{x0, y0, z0 + s};
    return {{p0, p2, p1}, {p0, p1, p3}, {p0, p3, p2}, {p1, p2, p3}};
}

static Vec3f unit_normal(const Tri& t) {
    const double ux = t.b.x - t.a.x, uy = t.b.y - t.a.y, uz = t.b.z - t.a.z;
    const double vx = t.c.x - t.a.x, vy = t.c.y - t.a.y, vz = t.c.z - t.a.z;
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (len == 0) return {0, 0, 0};
    return {float(nx / len), float(ny / len), float(nz / len)};
}

bool write_stl_ascii(const std::string& path, const std::vector<std::vector<Tri>>& solids,
                     const std::vector<std::string>& names) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    for (size_t s = 0; s < solids.size(); ++s) {
        std::fprintf(f, "solid %s\n", names[s].c_str());
        for (const Tri& t : solids[s]) {
            const Vec3f n = unit_normal(t);
            std::fprintf(f, "  facet normal %f %f %f\n    outer loop\n", n.x, n.y, n.z);
            for (const Vec3f* v : {&t.a, &t.b, &t.c}) std::fprintf(f, "      vertex %f %f %f\n", v->x, v->y, v->z);
            std::fprintf(f, "    endloop\n  endfacet\n");
        }
        std::fprintf(f, "endsolid %s\n", names[s].c_str());
    }
    const bool ok = !std::ferror(f);
    return std::fclose(f) == 0 && ok;
}

static void put_u32(std::vector<uint8_t>& o, uint32_t v) {
    for (int i = 0; i < 4; ++i) o.push_back((v >> (8 * i)) & 0xff);
}
static void put_f32(std::vector<uint8_t>& o, float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    put_u32(o, u);
}

bool write_stl_binary(const std::string& path, const std::vector<Tri>& tris, const std::string& header) {
    std::vector<uint8_t> o(80, 0);
    std::memcpy(o.data(), header.data(), header.size() < 80 ? header.size() : 80);
    put_u32(o, static_cast<uint32_t>(tris.size()));
    for (const Tri& t : tris) {
        const Vec3f n = unit_normal(t);
        for (const Vec3f* v : {&n, &t.a, &t.b, &t.c}) {
            put_f32(o, v->x);
            put_f32(o, v->y);
            put_f32(o, v->z);
        }
        o.push_back(0);
        o.push_back(0);
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(o.data(), 1, o.size(), f) == o.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace sample
