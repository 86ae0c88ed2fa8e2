#!/usr/bin/env python3
"""Draws the program's pictures and writes them into app/res/:

  TopBanner.bmp      502 x 64, 8 bits per pixel, run-length encoded: header band of the
                     interior pages
  LeftBanner.bmp     189 x 316, 8 bits per pixel, run-length encoded: side panel of the
                     start page
  main.ico           program icon, 16, 32 and 48 pixels
  progress.ico       stage in progress (arrow), 16 and 32 pixels
  finished.ico       stage finished (check mark), 16 and 32 pixels

Shapes are drawn from signed distances, so edges are smooth without supersampling.
ImageMagick's convert chooses the 256 colours of each picture; everything else is plain
Python. The generated files are committed: the build does not run this script.

Usage: tools/make-art.py [output folder]   (default: app/res beside this script)
"""

import math
import os
import struct
import subprocess
import sys
import tempfile


# ---------------------------------------------------------------------------------------
# Colours and images. An image is a list of rows of [r, g, b, a], channels 0..1.

def hex_colour(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def clamp(x, low=0.0, high=1.0):
    return low if x < low else high if x > high else x


def smoothstep(edge0, edge1, x):
    t = clamp((x - edge0) / (edge1 - edge0))
    return t * t * (3 - 2 * t)


def gradient(stops, t):
    """Colour at t along [(position, colour), ...] sorted by position."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, smoothstep(p0, p1, t))
    return stops[-1][1]


def new_image(width, height, paint=None):
    """paint(x, y) gives the colour of the pixel centre (x, y); transparent without."""
    if paint is None:
        return [[[0.0, 0.0, 0.0, 0.0] for _ in range(width)] for _ in range(height)]
    return [[list(paint(x + 0.5, y + 0.5)) + [1.0] for x in range(width)] for y in range(height)]


def coverage(distance):
    """Part of a pixel inside a shape whose signed distance (in pixels) is given."""
    return clamp(0.5 - distance)


def layer(image, distance, colour, opacity=1.0):
    """Composites colour over the image where distance(x, y) < 0. colour may be a function
    of (x, y); opacity may be one too."""
    for y, row in enumerate(image):
        for x, pixel in enumerate(row):
            px, py = x + 0.5, y + 0.5
            a = coverage(distance(px, py))
            if a <= 0:
                continue
            a *= opacity(px, py) if callable(opacity) else opacity
            if a <= 0:
                continue
            c = colour(px, py) if callable(colour) else colour
            below = pixel[3] * (1 - a)
            total = a + below
            for i in range(3):
                pixel[i] = (c[i] * a + pixel[i] * below) / total
            pixel[3] = total


# Signed distances, negative inside.

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - width / 2


def round_rect(x0, y0, x1, y1, r):
    cx, cy, hw, hh = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def distance(x, y):
        dx, dy = abs(x - cx) - hw, abs(y - cy) - hh
        outside = math.hypot(max(dx, 0), max(dy, 0))
        return outside + min(max(dx, dy), 0) - r
    return distance


def segment_distance(x, y, ax, ay, bx, by):
    vx, vy, wx, wy = bx - ax, by - ay, x - ax, y - ay
    t = clamp((wx * vx + wy * vy) / (vx * vx + vy * vy))
    return math.hypot(wx - vx * t, wy - vy * t)


def stroke(points, width):
    """A polyline of the given width with round joints and ends."""
    pairs = list(zip(points, points[1:]))
    return lambda x, y: min(segment_distance(x, y, *a, *b) for a, b in pairs) - width / 2


def polygon(points):
    """Any simple polygon (exact distance, sign by the even-odd rule)."""
    edges = list(zip(points, points[1:] + points[:1]))

    def distance(x, y):
        d = min(segment_distance(x, y, *a, *b) for a, b in edges)
        inside = False
        for (ax, ay), (bx, by) in edges:
            if (ay > y) != (by > y) and x < ax + (bx - ax) * (y - ay) / (by - ay):
                inside = not inside
        return -d if inside else d
    return distance


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def intersection(*shapes):
    return lambda x, y: max(s(x, y) for s in shapes)


def wave_band(base, amplitude, period, phase, thickness):
    """The area between two sine curves across the picture (distance measured vertically,
    good enough for gentle curves)."""
    def distance(x, y):
        centre = base + amplitude * math.sin(2 * math.pi * x / period + phase)
        return abs(y - centre) - thickness / 2
    return distance


# ---------------------------------------------------------------------------------------
# Reduction to 256 colours and the file formats.

def to_bytes_rgb(image, background):
    data = bytearray()
    for row in image:
        for r, g, b, a in row:
            for c, bg in zip((r, g, b), background):
                data.append(int(round(clamp(c * a + bg * (1 - a)) * 255)))
    return bytes(data)


def quantise(image, background=(1.0, 1.0, 1.0), colours=256):
    """Returns (palette of at most 256 (r, g, b) byte triples, rows of palette indices).
    No dithering: on these soft gradients it shows as speckles, while 256 colours leave
    no visible bands."""
    height, width = len(image), len(image[0])
    header = b"P6 %d %d 255\n" % (width, height)
    with tempfile.TemporaryDirectory() as folder:
        source, target = os.path.join(folder, "in.ppm"), os.path.join(folder, "out.ppm")
        with open(source, "wb") as f:
            f.write(header + to_bytes_rgb(image, background))
        subprocess.run(["convert", source, "-dither", "None",
                        "-colors", str(colours), "-depth", "8", target], check=True)
        with open(target, "rb") as f:
            data = f.read()
    # The header of convert's PPM: magic, width, height, maximum, each after whitespace.
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    pixels = data[pos + 1:]
    assert fields[0] == b"P6" and (int(fields[1]), int(fields[2])) == (width, height)
    palette, index_of, rows = [], {}, []
    for y in range(height):
        row = []
        for x in range(width):
            colour = tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3])
            if colour not in index_of:
                index_of[colour] = len(palette)
                palette.append(colour)
            row.append(index_of[colour])
        rows.append(row)
    assert len(palette) <= 256, "convert left %d colours" % len(palette)
    return palette, rows


def palette_bytes(palette):
    entries = list(palette) + [(0, 0, 0)] * (256 - len(palette))
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in entries)


def indexed_rows(rows):
    """8-bit rows bottom-up, each padded to four bytes."""
    out = bytearray()
    for row in reversed(rows):
        line = bytes(row)
        out += line + b"\0" * (-len(line) % 4)
    return bytes(out)


def rle8_row(row):
    """One row in BI_RLE8: runs of a repeated index as (count, index), other stretches of
    three or more as absolute groups (0, count, indices, padded to a word), ended by the
    end-of-line code (0, 0)."""
    out, i, n = bytearray(), 0, len(row)
    while i < n:
        run = 1
        while i + run < n and run < 255 and row[i + run] == row[i]:
            run += 1
        if run >= 2:
            out += bytes([run, row[i]])
            i += run
            continue
        end = i
        while end < n and end - i < 255 and not (end + 1 < n and row[end] == row[end + 1]):
            end += 1
        if end - i < 3:
            for index in row[i:end]:
                out += bytes([1, index])
        else:
            out += bytes([0, end - i]) + bytes(row[i:end]) + b"\0" * ((end - i) % 2)
        i = end
    return bytes(out + b"\0\0")


def rle8_rows(rows):
    """The rows bottom-up in BI_RLE8, ended by the end-of-bitmap code (0, 1). The banners'
    smooth areas shrink to a third or less; LoadBitmap expands them on every Windows."""
    data = b"".join(rle8_row(row) for row in reversed(rows))
    return data[:-2] + b"\0\1"


def info_header(width, height, bits, image_size, colours, compression=0):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, image_size,
                       2835, 2835, colours, 0)


def write_bmp(path, image):
    """A run-length encoded bitmap with a 256-entry palette: 8 bits per pixel whatever the
    count of colours used."""
    palette, rows = quantise(image)
    write_indexed_bmp(path, palette, rows)


def write_indexed_bmp(path, palette, rows):
    width, height = len(rows[0]), len(rows)
    pixels = rle8_rows(rows)
    offset = 14 + 40 + 256 * 4
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset))
        f.write(info_header(width, height, 8, len(pixels), 256, compression=1))
        f.write(palette_bytes(palette))
        f.write(pixels)


def and_mask(image):
    """1 bit per pixel, set where the icon is transparent; rows bottom-up, 4-byte padded."""
    out = bytearray()
    for row in reversed(image):
        bits = [1 if pixel[3] < 0.5 else 0 for pixel in row]
        bits += [0] * (-len(bits) % 32)
        for i in range(0, len(bits), 8):
            out.append(sum(bit << (7 - k) for k, bit in enumerate(bits[i:i + 8])))
    return bytes(out)


def icon_entry_32(image):
    size = len(image)
    pixels = bytearray()
    for row in reversed(image):
        for r, g, b, a in row:
            pixels += bytes(int(round(clamp(c) * 255)) for c in (b, g, r, a))
    mask = and_mask(image)
    return info_header(size, size * 2, 32, len(pixels) + len(mask), 0) + bytes(pixels) + mask


# Systems that draw icons without an alpha channel take the 256-colour image with its
# mask; soft edges are blended against a light dialog grey for them.
DIALOG_GREY = hex_colour("#E4E2DC")


def icon_entry_8(image):
    size = len(image)
    palette, rows = quantise(image, background=DIALOG_GREY, colours=255)
    # Where the mask lets the screen through, the image must be black.
    if (0, 0, 0) not in palette:
        palette.append((0, 0, 0))
    black = palette.index((0, 0, 0))
    for row, source in zip(rows, image):
        for x, pixel in enumerate(source):
            if pixel[3] < 0.5:
                row[x] = black
    pixels = indexed_rows(rows)
    mask = and_mask(image)
    return (info_header(size, size * 2, 8, len(pixels) + len(mask), 256) + palette_bytes(palette)
            + pixels + mask)


def write_icon(path, images):
    """One 256-colour and one 32-bit image for every size."""
    entries = []
    for image in images:
        entries.append((len(image), 8, icon_entry_8(image)))
        entries.append((len(image), 32, icon_entry_32(image)))
    offset = 6 + 16 * len(entries)
    directory, data = b"", b""
    for size, bits, entry in entries:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(entry),
                                 offset + len(data))
        data += entry
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(entries)) + directory + data)


# ---------------------------------------------------------------------------------------
# The pictures.

NAVY = hex_colour("#17396B")
BLUE = hex_colour("#2A66B0")
SKY = hex_colour("#5E9BDB")
PALE = hex_colour("#D8E7F6")
WHITE = (1.0, 1.0, 1.0)
ACCENT = hex_colour("#F29A38")


def top_banner():
    width, height = 502, 64
    # White where the page title and subtitle are drawn, easing into soft blue at the right.
    stops = [(0.0, WHITE), (0.42, WHITE), (0.78, hex_colour("#E3EDF8")), (1.0, hex_colour("#B9D3EE"))]
    image = new_image(width, height, lambda x, y: gradient(stops, x / width + 0.08 * (y / height - 0.5)))

    layer(image, wave_band(46, 9, 420, 1.2, 26), SKY, lambda x, y: 0.14 * smoothstep(250, 460, x))
    layer(image, wave_band(52, 6, 300, 2.4, 8), BLUE, lambda x, y: 0.16 * smoothstep(300, 480, x))
    layer(image, circle(468, 8, 46), WHITE, 0.30)
    layer(image, circle(420, 66, 34), SKY, lambda x, y: smoothstep(360, 470, x))
    layer(image, circle(420, 66, 34), WHITE, 0.55)
    layer(image, ring(468, 8, 58, 1.6), BLUE, 0.28)
    layer(image, ring(392, 30, 20, 1.2), BLUE, 0.20)
    layer(image, circle(446, 44, 9), BLUE, 0.30)
    layer(image, circle(489, 50, 5), NAVY, 0.35)
    layer(image, circle(372, 14, 3), ACCENT, 0.8)
    return image


def left_banner():
    width, height = 189, 316
    stops = [(0.0, NAVY), (0.55, BLUE), (1.0, SKY)]

    def background(x, y):
        base = gradient(stops, (y + 0.35 * x) / (height + 0.35 * width))
        glow = 0.22 * (1 - smoothstep(0, 230, math.hypot(x - 20, y - 10)))
        return mix(base, WHITE, glow)

    image = new_image(width, height, background)
    layer(image, circle(40, 300, 120), WHITE, 0.07)
    layer(image, circle(170, 250, 80), WHITE, 0.08)
    layer(image, circle(150, 330, 60), NAVY, 0.18)
    layer(image, ring(40, 300, 138, 1.4), WHITE, 0.22)
    layer(image, ring(170, 250, 94, 1.2), WHITE, 0.18)
    layer(image, wave_band(200, 14, 260, 0.6, 18), WHITE, 0.08)
    layer(image, wave_band(214, 10, 220, 1.9, 3), WHITE, 0.20)
    # A small grid of dots in the upper right.
    for row in range(4):
        for column in range(4):
            layer(image, circle(128 + column * 12, 30 + row * 12, 1.7), WHITE, 0.30 - 0.05 * row)
    # Soft beams of light falling from the upper left.
    for offset, breadth, strength in ((-40, 26, 0.07), (10, 12, 0.06), (44, 40, 0.05)):
        beam = lambda x, y, o=offset, b=breadth: abs((x - 0.6 * y) - o) - b / 2
        layer(image, beam, WHITE, lambda x, y, k=strength: k * (1 - smoothstep(40, 190, y)))
    layer(image, circle(154, 157, 5), ACCENT, 0.9)
    layer(image, ring(154, 157, 11, 1.2), ACCENT, 0.5)
    return image


def program_icon(size):
    s = float(size)
    image = new_image(size, size)
    tile = round_rect(0.04 * s, 0.04 * s, 0.96 * s, 0.96 * s, 0.2 * s)
    shade = lambda x, y: mix(SKY, BLUE, y / s)
    layer(image, tile, hex_colour("#1D4F8F"))
    layer(image, round_rect(0.04 * s + 1, 0.04 * s + 1, 0.96 * s - 1, 0.96 * s - 1, 0.2 * s - 1), shade)
    layer(image, intersection(tile, lambda x, y: y - 0.45 * s), WHITE, 0.10)
    # A package: box and lid, closed with a band of tape.
    layer(image, round_rect(0.19 * s, 0.42 * s, 0.67 * s, 0.80 * s, 0.04 * s), WHITE)
    layer(image, round_rect(0.14 * s, 0.25 * s, 0.72 * s, 0.39 * s, 0.03 * s), WHITE)
    if size >= 32:
        tape = hex_colour("#BFD4EE")
        layer(image, round_rect(0.37 * s, 0.25 * s, 0.49 * s, 0.39 * s, 0.01 * s), tape)
        layer(image, round_rect(0.37 * s, 0.42 * s, 0.49 * s, 0.62 * s, 0.01 * s), tape)
    # The badge: taking away.
    badge = circle(0.72 * s, 0.72 * s, 0.23 * s)
    layer(image, circle(0.72 * s, 0.72 * s, 0.23 * s + max(1.0, 0.03 * s)), hex_colour("#1D4F8F"))
    layer(image, badge, lambda x, y: mix(hex_colour("#F7B05B"), hex_colour("#E0761E"), y / s))
    bar = max(1.6, 0.09 * s)
    layer(image, round_rect(0.59 * s, 0.72 * s - bar / 2, 0.85 * s, 0.72 * s + bar / 2, bar / 3), WHITE)
    return image


def progress_icon(size):
    s = float(size)
    image = new_image(size, size)
    arrow = union(stroke([(0.16 * s, 0.5 * s), (0.56 * s, 0.5 * s)], 0.22 * s),
                  polygon([(0.46 * s, 0.18 * s), (0.88 * s, 0.5 * s), (0.46 * s, 0.82 * s)]))
    layer(image, arrow, lambda x, y: mix(SKY, BLUE, y / s))
    return image


def finished_icon(size):
    s = float(size)
    image = new_image(size, size)
    check = stroke([(0.17 * s, 0.53 * s), (0.40 * s, 0.76 * s), (0.84 * s, 0.26 * s)], 0.19 * s)
    layer(image, check, lambda x, y: mix(hex_colour("#4DB24F"), hex_colour("#23812F"), y / s))
    return image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "app", "res")
    os.makedirs(folder, exist_ok=True)
    write_bmp(os.path.join(folder, "TopBanner.bmp"), top_banner())
    write_bmp(os.path.join(folder, "LeftBanner.bmp"), left_banner())
    write_icon(os.path.join(folder, "main.ico"), [program_icon(n) for n in (16, 32, 48)])
    write_icon(os.path.join(folder, "progress.ico"), [progress_icon(n) for n in (16, 32)])
    write_icon(os.path.join(folder, "finished.ico"), [finished_icon(n) for n in (16, 32)])


if __name__ == "__main__":
    main()
