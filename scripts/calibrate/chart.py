#!/usr/bin/env python3
"""Pages and figures of the calibration round trip (scripts/calibrate-demo.sh).

  chart.py target TARGET.ti1 OUT.ps OUT.patches      a CMYK target as PostScript
  chart.py chart SEED COUNT OUT.png OUT.patches      an sRGB colour chart as PNG
  chart.py report NAME CHART.patches FORMULA.ti3 PROFILE.ti3 GAMUT.txt
                                                     the chart's ΔE2000 figures

Patches are PATCH print pixels square in rows of COLUMNS; the patch list names the
inner part the simulator reads (the edges, where the halftone settles, are left out).
"""
import math
import random
import struct
import sys
import zlib

PATCH = 64
INSET = 10
COLUMNS = 20
POINTS_PER_PIXEL = 72.0 / 600.0


def layout(count):
    rows = (count + COLUMNS - 1) // COLUMNS
    return COLUMNS * PATCH, rows * PATCH


def place(index):
    return (index % COLUMNS) * PATCH, (index // COLUMNS) * PATCH


def read_cgats(path):
    """The fields and rows of a CGATS file's data."""
    fields, rows, mode = [], [], None
    for line in open(path, encoding="latin-1"):
        words = line.split()
        if not words:
            continue
        if words[0] == "BEGIN_DATA_FORMAT":
            mode = "format"
        elif words[0] == "END_DATA_FORMAT":
            mode = None
        elif words[0] == "BEGIN_DATA":
            mode = "data"
        elif words[0] == "END_DATA":
            mode = None
        elif mode == "format":
            fields += words
        elif mode == "data":
            rows.append(dict(zip(fields, words)))
    return rows


def target(ti1, ps_path, patch_path):
    rows = read_cgats(ti1)
    width, height = layout(len(rows))
    with open(ps_path, "w") as ps, open(patch_path, "w") as patches:
        ps.write("%!PS\n")
        for i, row in enumerate(rows):
            cmyk = [float(row["CMYK_" + c]) for c in "CMYK"]
            x, y = place(i)
            ps.write("%.4f %.4f %.4f %.4f setcmykcolor " % tuple(v / 100 for v in cmyk))
            ps.write("%.3f %.3f %.3f %.3f rectfill\n" % (
                x * POINTS_PER_PIXEL, (height - y - PATCH) * POINTS_PER_PIXEL,
                PATCH * POINTS_PER_PIXEL, PATCH * POINTS_PER_PIXEL))
            patches.write("%s %d %d %d %d %.4f %.4f %.4f %.4f\n" % (
                row["SAMPLE_ID"], x + INSET, y + INSET, x + PATCH - INSET, y + PATCH - INSET,
                *cmyk))
        ps.write("showpage\n")
    print("%dx%d" % (width, height))


def chart(seed, count, png_path, patch_path):
    generator = random.Random(seed)
    colours = [(255, 255, 255)] + [tuple(generator.randrange(256) for _ in range(3))
                                   for _ in range(count - 1)]
    width, height = layout(count)
    lines = []
    for y in range(height):
        line = bytearray(b"\0")
        for x in range(width):
            index = (y // PATCH) * COLUMNS + x // PATCH
            line += bytes(colours[index] if index < count else (255, 255, 255))
        lines.append(bytes(line))

    def block(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(png_path, "wb") as png:
        png.write(b"\x89PNG\r\n\x1a\n")
        png.write(block(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        png.write(block(b"IDAT", zlib.compress(b"".join(lines), 6)))
        png.write(block(b"IEND", b""))
    with open(patch_path, "w") as patches:
        for i, (r, g, b) in enumerate(colours):
            x, y = place(i)
            patches.write("# RGB %d %d %d\n" % (r, g, b))
            patches.write("P%d %d %d %d %d\n" % (i + 1, x + INSET, y + INSET, x + PATCH - INSET,
                                                 y + PATCH - INSET))
    print("%dx%d" % (width, height))


D50 = (96.422, 100.0, 82.521)


def srgb_to_lab(rgb):
    """sRGB to CIELAB under D50 (Bradford-adapted, as ICC profiles see sRGB)."""
    linear = [(c / 255 / 12.92) if c / 255 <= 0.04045 else ((c / 255 + 0.055) / 1.055) ** 2.4
              for c in rgb]
    m = ((0.4360747, 0.3850649, 0.1430804), (0.2225045, 0.7168786, 0.0606169),
         (0.0139322, 0.0971045, 0.7141733))
    xyz = [100 * sum(m[i][j] * linear[j] for j in range(3)) for i in range(3)]
    return xyz_to_lab(xyz, D50)


def xyz_to_lab(xyz, white):
    def f(t):
        return t ** (1 / 3) if t > (6 / 29) ** 3 else t / (3 * (6 / 29) ** 2) + 4 / 29
    fx, fy, fz = (f(xyz[i] / white[i]) for i in range(3))
    return 116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)


def delta_e2000(lab1, lab2):
    l1, a1, b1 = lab1
    l2, a2, b2 = lab2
    c1, c2 = math.hypot(a1, b1), math.hypot(a2, b2)
    cm = (c1 + c2) / 2
    g = 0.5 * (1 - math.sqrt(cm ** 7 / (cm ** 7 + 25 ** 7)))
    a1p, a2p = a1 * (1 + g), a2 * (1 + g)
    c1p, c2p = math.hypot(a1p, b1), math.hypot(a2p, b2)
    h1p = math.degrees(math.atan2(b1, a1p)) % 360
    h2p = math.degrees(math.atan2(b2, a2p)) % 360
    dl, dc = l2 - l1, c2p - c1p
    dh = 0.0
    if c1p * c2p != 0:
        dh = h2p - h1p
        if dh > 180:
            dh -= 360
        elif dh < -180:
            dh += 360
    dhh = 2 * math.sqrt(c1p * c2p) * math.sin(math.radians(dh / 2))
    lm, cmp_ = (l1 + l2) / 2, (c1p + c2p) / 2
    hm = h1p + h2p
    if c1p * c2p != 0:
        if abs(h1p - h2p) > 180:
            hm += 360 if hm < 360 else -360
        hm /= 2
    t = (1 - 0.17 * math.cos(math.radians(hm - 30)) + 0.24 * math.cos(math.radians(2 * hm)) +
         0.32 * math.cos(math.radians(3 * hm + 6)) - 0.20 * math.cos(math.radians(4 * hm - 63)))
    sl = 1 + 0.015 * (lm - 50) ** 2 / math.sqrt(20 + (lm - 50) ** 2)
    sc = 1 + 0.045 * cmp_
    sh = 1 + 0.015 * cmp_ * t
    rt = (-2 * math.sqrt(cmp_ ** 7 / (cmp_ ** 7 + 25 ** 7)) *
          math.sin(math.radians(60 * math.exp(-((hm - 275) / 25) ** 2))))
    return math.sqrt((dl / sl) ** 2 + (dc / sc) ** 2 + (dhh / sh) ** 2 +
                     rt * (dc / sc) * (dhh / sh))


def chart_colours(patch_path):
    colours = []
    for line in open(patch_path):
        if line.startswith("# RGB"):
            colours.append(tuple(int(v) for v in line.split()[2:5]))
    return colours


def relative_labs(ti3):
    """Each patch's L*a*b* relative to the paper (the chart's first patch is white), as
    a relative colorimetric print is meant to be read."""
    rows = read_cgats(ti3)
    xyz = [[float(row["XYZ_" + c]) for c in "XYZ"] for row in rows]
    paper = xyz[0]
    return [xyz_to_lab([v[i] / paper[i] * D50[i] for i in range(3)], D50) for v in xyz]


def report(name, patch_path, formula_ti3, profile_ti3, gamut_path):
    wanted = [srgb_to_lab(rgb) for rgb in chart_colours(patch_path)]
    # Patches the profile can print: the gamut check's distance outside, per patch.
    outside = [float(line.split()[0]) for line in open(gamut_path) if line.strip()]
    inside = [i for i in range(len(wanted)) if outside[i] <= 0.0]
    figures = []
    for ti3 in (profile_ti3, formula_ti3):
        got = relative_labs(ti3)
        errors = [delta_e2000(wanted[i], got[i]) for i in inside]
        figures.append((sum(errors) / len(errors), max(errors)))
    print("%s: %d of %d chart patches in gamut" % (name, len(inside), len(wanted)),
          file=sys.stderr)
    print("%s: profile mean ΔE2000 %.2f max %.2f; formula mean %.1f max %.1f" % (
        name, figures[0][0], figures[0][1], figures[1][0], figures[1][1]))
    return figures[0]


if __name__ == "__main__":
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    if command == "target" and len(sys.argv) == 5:
        target(*sys.argv[2:])
    elif command == "chart" and len(sys.argv) == 6:
        chart(int(sys.argv[2]), int(sys.argv[3]), *sys.argv[4:])
    elif command == "gamut-input" and len(sys.argv) == 3:
        for rgb in chart_colours(sys.argv[2]):
            print("%.4f %.4f %.4f" % srgb_to_lab(rgb))
    elif command == "report" and len(sys.argv) == 7:
        report(*sys.argv[2:])
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
