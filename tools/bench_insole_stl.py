#!/usr/bin/env python3
"""Stand-in insole for the slicer comparison when the generated sample data has none:
a closed binary STL, about 99 x 260 mm, 2 to 12 mm high, about 50,000 triangles.

Usage: bench_insole_stl.py OUT.stl [COLUMNS ROWS]
"""
import math
import struct
import sys

LENGTH = 260.0


def half_width(v):
    """Half the insole's width at fraction v of its length (heel at 0)."""
    heel, ball = 32.5, 49.5
    if v < 0.12:  # round heel end
        t = v / 0.12
        return max(4.0, heel * math.sqrt(max(0.0, 1 - (1 - t) ** 2)))
    if v < 0.72:  # waist through the arch up to the ball
        t = (v - 0.12) / 0.60
        waist = 1 - 0.22 * math.sin(math.pi * t) ** 2
        return (heel + (ball - heel) * t) * waist
    t = (v - 0.72) / 0.28  # toe end, rounded
    return max(4.0, ball * math.sqrt(max(0.0, 1 - t ** 2)))


def centre_x(v):
    return 6.0 * math.sin(math.pi * v)  # a slight inward sweep


def top_z(u, v):
    """Height at across-fraction u (0 lateral, 1 medial) and length fraction v."""
    z = 2.0
    z += 6.0 * math.exp(-((v - 0.05) / 0.12) ** 2) * (abs(2 * u - 1) ** 2)  # heel cup rim
    z += 10.0 * math.exp(-((v - 0.38) / 0.13) ** 2) * max(0.0, u - 0.45) / 0.55  # arch support
    z += 1.5 * math.exp(-((v - 0.66) / 0.05) ** 2) * math.exp(-((u - 0.5) / 0.2) ** 2)  # metatarsal pad
    edge = min(u, 1 - u, v, 1 - v)
    taper = min(1.0, edge / 0.04)
    return 2.0 + (min(z, 12.0) - 2.0) * taper


def point(u, v):
    w = half_width(v)
    return (centre_x(v) + (2 * u - 1) * w, v * LENGTH)


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip())
        return 2
    nu = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    nv = int(sys.argv[3]) if len(sys.argv) > 3 else 250
    us = [i / (nu - 1) for i in range(nu)]
    vs = [j / (nv - 1) for j in range(nv)]
    top = [[(*point(u, v), top_z(u, v)) for u in us] for v in vs]
    bot = [[(*point(u, v), 0.0) for u in us] for v in vs]
    tris = []

    def quad(a, b, c, d):  # a-b-c-d counter-clockwise seen from outside
        tris.append((a, b, c))
        tris.append((a, c, d))

    for j in range(nv - 1):
        for i in range(nu - 1):
            quad(top[j][i], top[j][i + 1], top[j + 1][i + 1], top[j + 1][i])  # faces +z
            quad(bot[j][i], bot[j + 1][i], bot[j + 1][i + 1], bot[j][i + 1])  # faces -z
    # Side wall around the patch border, walked counter-clockwise seen from above.
    ring = [(0, i) for i in range(nu)] + [(j, nu - 1) for j in range(1, nv)] + \
           [(nv - 1, i) for i in range(nu - 2, -1, -1)] + [(j, 0) for j in range(nv - 2, 0, -1)]
    for k in range(len(ring)):
        (j0, i0), (j1, i1) = ring[k], ring[(k + 1) % len(ring)]
        quad(bot[j0][i0], bot[j1][i1], top[j1][i1], top[j0][i0])

    with open(sys.argv[1], "wb") as f:
        f.write(b"bench stand-in insole, mm".ljust(80, b" "))
        f.write(struct.pack("<I", len(tris)))
        for a, b, c in tris:
            ux, uy, uz = (b[k] - a[k] for k in range(3))
            vx, vy, vz = (c[k] - a[k] for k in range(3))
            n = (uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx)
            ln = math.sqrt(sum(x * x for x in n)) or 1.0
            f.write(struct.pack("<12fH", *(x / ln for x in n), *a, *b, *c, 0))
    print(f"bench_insole_stl: wrote {sys.argv[1]} ({len(tris)} triangles)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
