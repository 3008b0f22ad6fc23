#!/usr/bin/env python3
"""Draws the stub's artwork: the unpacking clip shown in the progress window and the program icon.

    make_artwork.py OUTDIR             writes OUTDIR/unpack.avi and OUTDIR/sfxstub.ico, and
                                       OUTDIR/unpack_frames.bin: the frames as drawn, for the tests
    make_artwork.py OUTDIR --preview   also writes PNG previews (every frame, a contact sheet, the icon)

The clip: an open cardboard box on the left, a folder on the right, and sheets of paper that tumble
out of the box along an arc into the folder, three in flight at a time. 260 x 40 pixels, 17 frames
at 10 frames per second, 8 bits per pixel, RLE8: frame 0 a key frame, every later one a delta frame
that redraws only the pixels that changed since the frame before (the loop starts again at the key
frame). The top-left pixel holds the background colour, which the animation control treats as
transparent.

The icon: the same box with a sheet coming out, 32 x 32 and 16 x 16, 32-bit with alpha, stored as PNG.

Pure Python: shapes are filled as polygons on a 4x supersampled canvas and averaged down, so edges
are smooth; the clip's colours are then reduced to one 256-entry palette shared by all frames.
"""

import math
import os
import struct
import sys
import zlib

CLIP_WIDTH, CLIP_HEIGHT = 260, 40
FRAMES = 17
FRAMES_PER_SECOND = 10
SHEETS_IN_FLIGHT = 3
SUPERSAMPLE = 4
BACKGROUND = (240, 240, 240)  # the dialog face colour; replaced by the window's own face colour

# Palette of the drawing.
CARD = (214, 160, 96)
CARD_DARK = (181, 128, 70)
CARD_SIDE = (168, 116, 62)
CARD_FLAP = (228, 182, 122)
CARD_FLAP_BACK = (196, 142, 82)
CARD_INSIDE = (112, 74, 40)
CARD_EDGE = (122, 80, 42)
TAPE = (236, 214, 170)
LABEL = (250, 248, 240)
LABEL_INK = (120, 120, 128)
PAPER = (255, 255, 255)
PAPER_EDGE = (128, 136, 150)
PAPER_FOLD = (214, 220, 230)
PAPER_INK = (92, 128, 196)
FOLDER_BACK = (222, 170, 44)
FOLDER_FRONT = (250, 206, 84)
FOLDER_HIGHLIGHT = (255, 232, 150)
FOLDER_EDGE = (176, 126, 24)
SHADOW = (218, 218, 218)


# --- drawing -------------------------------------------------------------------------------------

class Canvas:
    """An RGBA canvas, SUPERSAMPLE times finer than the image it stands for."""

    def __init__(self, width, height, background=None):
        self.width, self.height = width, height
        self.w, self.h = width * SUPERSAMPLE, height * SUPERSAMPLE
        fill = (background + (255,)) if background else (0, 0, 0, 0)
        self.rows = [[fill] * self.w for _ in range(self.h)]

    def polygon(self, points, color):
        """Fills a polygon given in image pixels (even-odd rule, sampled at sample centres)."""
        s = SUPERSAMPLE
        pts = [(x * s, y * s) for x, y in points]
        top = max(0, int(math.floor(min(y for _, y in pts))))
        bottom = min(self.h - 1, int(math.ceil(max(y for _, y in pts))))
        value = color + (255,)
        edges = list(zip(pts, pts[1:] + pts[:1]))
        for row in range(top, bottom + 1):
            yc = row + 0.5
            xs = []
            for (x0, y0), (x1, y1) in edges:
                if (y0 <= yc < y1) or (y1 <= yc < y0):
                    xs.append(x0 + (yc - y0) * (x1 - x0) / (y1 - y0))
            xs.sort()
            line = self.rows[row]
            for a, b in zip(xs[0::2], xs[1::2]):
                start = max(0, int(math.ceil(a - 0.5)))
                end = min(self.w, int(math.ceil(b - 0.5)))
                if end > start:
                    line[start:end] = [value] * (end - start)

    def rect(self, x0, y0, x1, y1, color):
        self.polygon([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], color)

    def ellipse(self, cx, cy, rx, ry, color, steps=40):
        self.polygon([(cx + rx * math.cos(2 * math.pi * i / steps),
                       cy + ry * math.sin(2 * math.pi * i / steps)) for i in range(steps)], color)

    def line(self, x0, y0, x1, y1, width, color):
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy) or 1.0
        nx, ny = -dy / length * width / 2, dx / length * width / 2
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], color)

    def outlined(self, points, fill, edge, width=1.0):
        self.polygon(points, edge)
        self.polygon(shrink(points, width), fill)

    def pixels(self):
        """Averages the samples down: rows of (r, g, b, a) tuples at image resolution."""
        s, n = SUPERSAMPLE, SUPERSAMPLE * SUPERSAMPLE
        out = []
        for y in range(self.height):
            acc = [[0] * self.width for _ in range(4)]
            for sub in self.rows[y * s:(y + 1) * s]:
                # Colour weighted by coverage, so that transparent samples add nothing.
                channels = [[p[3] * p[c] for p in sub] if c < 3 else [p[3] for p in sub] for c in range(4)]
                for c in range(4):
                    for phase in range(s):
                        acc[c] = list(map(int.__add__, acc[c], channels[c][phase::s]))
            row = []
            for x in range(self.width):
                alpha = acc[3][x]
                if alpha == 0:
                    row.append((0, 0, 0, 0))
                else:
                    row.append(tuple((acc[c][x] + alpha // 2) // alpha for c in range(3)) +
                               ((alpha + n // 2) // n,))
            out.append(row)
        return out


def shrink(points, d):
    """Moves every vertex of a convex polygon d pixels towards the inside."""
    n = len(points)
    area = sum(points[i][0] * points[(i + 1) % n][1] - points[(i + 1) % n][0] * points[i][1]
               for i in range(n))
    sign = 1 if area > 0 else -1
    lines = []
    for i in range(n):
        (x0, y0), (x1, y1) = points[i], points[(i + 1) % n]
        length = math.hypot(x1 - x0, y1 - y0) or 1.0
        nx, ny = -(y1 - y0) / length * sign, (x1 - x0) / length * sign
        lines.append(((x0 + nx * d, y0 + ny * d), (x1 + nx * d, y1 + ny * d)))
    result = []
    for i in range(n):
        (a0, a1), (b0, b1) = lines[i - 1], lines[i]
        result.append(intersect(a0, a1, b0, b1))
    return result


def intersect(p0, p1, q0, q1):
    dx1, dy1 = p1[0] - p0[0], p1[1] - p0[1]
    dx2, dy2 = q1[0] - q0[0], q1[1] - q0[1]
    den = dx1 * dy2 - dy1 * dx2
    if abs(den) < 1e-9:
        return p1
    t = ((q0[0] - p0[0]) * dy2 - (q0[1] - p0[1]) * dx2) / den
    return (p0[0] + t * dx1, p0[1] + t * dy1)


def transform(points, cx, cy, angle, scale=1.0):
    c, s = math.cos(angle) * scale, math.sin(angle) * scale
    return [(cx + x * c - y * s, cy + x * s + y * c) for x, y in points]


# --- the pictures --------------------------------------------------------------------------------

def sheet(canvas, cx, cy, angle, scale=1.0):
    """A sheet of paper with a folded corner and lines of text, centred at (cx, cy)."""
    w, h, fold = 5.5, 7.0, 3.2
    outline = [(-w, -h), (w - fold, -h), (w, -h + fold), (w, h), (-w, h)]
    canvas.outlined(transform(outline, cx, cy, angle, scale), PAPER, PAPER_EDGE, 0.9 * scale)
    canvas.polygon(transform([(w - fold, -h), (w - fold, -h + fold), (w, -h + fold)], cx, cy, angle, scale),
                   PAPER_FOLD)
    for i, (x0, x1) in enumerate([(-3.6, 1.2), (-3.6, 3.6), (-3.6, 3.6), (-3.6, 2.0)]):
        y = -2.8 + i * 2.3
        (ax, ay), (bx, by) = transform([(x0, y), (x1, y)], cx, cy, angle, scale)
        canvas.line(ax, ay, bx, by, 0.9 * scale, PAPER_INK)


def box_back(canvas, ox, oy, wobble):
    """The parts of the open box that lie behind a sheet coming out of it."""
    # Back flap, standing up behind the opening.
    canvas.outlined([(ox + 7, oy + 15), (ox + 47, oy + 15), (ox + 50 + wobble, oy + 5), (ox + 11 + wobble, oy + 5)],
                    CARD_FLAP_BACK, CARD_EDGE, 0.8)
    # The opening: the inside of the box.
    canvas.polygon([(ox + 1, oy + 20), (ox + 41, oy + 20), (ox + 47, oy + 15), (ox + 7, oy + 15)], CARD_INSIDE)
    canvas.polygon([(ox + 3, oy + 20), (ox + 41, oy + 20), (ox + 45, oy + 16.5), (ox + 8, oy + 16.5)],
                   (92, 60, 32))
    # The tops of the papers still packed inside.
    canvas.outlined([(ox + 11, oy + 21), (ox + 12.5, oy + 16), (ox + 24, oy + 16.8), (ox + 23, oy + 21)],
                    PAPER, PAPER_EDGE, 0.7)
    canvas.outlined([(ox + 24, oy + 21), (ox + 26, oy + 15.6), (ox + 37, oy + 16.6), (ox + 36, oy + 21)],
                    PAPER_FOLD, PAPER_EDGE, 0.7)


def box_front(canvas, ox, oy, wobble):
    """The parts of the open box in front of a sheet coming out of it."""
    # Right side face.
    canvas.outlined([(ox + 41, oy + 20), (ox + 47, oy + 15), (ox + 47, oy + 32), (ox + 41, oy + 37.5)],
                    CARD_SIDE, CARD_EDGE, 0.8)
    # Front face, a little darker towards the bottom.
    canvas.outlined([(ox + 1, oy + 20), (ox + 41, oy + 20), (ox + 41, oy + 37.5), (ox + 1, oy + 37.5)],
                    CARD, CARD_EDGE, 0.8)
    canvas.rect(ox + 1.8, oy + 31, ox + 40.2, oy + 36.7, CARD_DARK)
    # Packing tape down the middle and a shipping label.
    canvas.rect(ox + 18, oy + 20.8, ox + 24, oy + 36.7, TAPE)
    canvas.outlined([(ox + 27, oy + 24), (ox + 38, oy + 24), (ox + 38, oy + 31), (ox + 27, oy + 31)],
                    LABEL, (200, 196, 186), 0.6)
    canvas.line(ox + 28.8, oy + 26.2, ox + 36.2, oy + 26.2, 0.8, LABEL_INK)
    canvas.line(ox + 28.8, oy + 28.6, ox + 34, oy + 28.6, 0.8, LABEL_INK)
    # Side flaps, folded outwards; they rock a little while the box is being emptied.
    canvas.outlined([(ox + 1, oy + 20), (ox + 7, oy + 15), (ox - 3 - wobble, oy + 9), (ox - 7 - wobble, oy + 14)],
                    CARD_FLAP, CARD_EDGE, 0.8)
    canvas.outlined([(ox + 41, oy + 20), (ox + 47, oy + 15), (ox + 55 + wobble, oy + 18), (ox + 49 + wobble, oy + 24)],
                    CARD_FLAP, CARD_EDGE, 0.8)
    # Front flap, hanging down over the front face.
    canvas.outlined([(ox + 1, oy + 20), (ox + 41, oy + 20), (ox + 39, oy + 24.5), (ox + 3, oy + 24.5)],
                    CARD_FLAP, CARD_EDGE, 0.8)


def folder_back(canvas, ox, oy):
    canvas.outlined([(ox + 4, oy + 8), (ox + 18, oy + 8), (ox + 21, oy + 11), (ox + 44, oy + 11),
                     (ox + 44, oy + 37), (ox + 4, oy + 37)], FOLDER_BACK, FOLDER_EDGE, 0.8)
    # Papers already filed.
    canvas.outlined([(ox + 8, oy + 20), (ox + 9, oy + 13), (ox + 38, oy + 13.5), (ox + 38, oy + 20)],
                    PAPER_FOLD, PAPER_EDGE, 0.7)
    canvas.outlined([(ox + 11, oy + 20), (ox + 12, oy + 14.8), (ox + 41, oy + 14.2), (ox + 41, oy + 20)],
                    PAPER, PAPER_EDGE, 0.7)


def folder_front(canvas, ox, oy):
    canvas.outlined([(ox + 1, oy + 18), (ox + 43, oy + 18), (ox + 47, oy + 37.5), (ox + 4, oy + 37.5)],
                    FOLDER_FRONT, FOLDER_EDGE, 0.8)
    canvas.line(ox + 2.6, oy + 19.6, ox + 42, oy + 19.6, 1.0, FOLDER_HIGHLIGHT)


BOX_X, BOX_Y = 10, 1
FOLDER_X, FOLDER_Y = 204, 1
PATH_START = (BOX_X + 22, BOX_Y + 30)      # inside the box, hidden by its front face
PATH_END = (FOLDER_X + 24, FOLDER_Y + 30)  # inside the folder, hidden by its front
PATH_RISE = 21.5                           # the arc's peak above the ends


def sheet_on_path(t):
    """Position, angle and size of a sheet a fraction t of the way from the box to the folder."""
    x = PATH_START[0] + (PATH_END[0] - PATH_START[0]) * t
    y = PATH_START[1] + (PATH_END[1] - PATH_START[1]) * t - PATH_RISE * 4 * t * (1 - t)
    angle = math.radians(-28 + 56 * t)
    scale = 1.0 + 0.18 * math.sin(math.pi * t)  # a little larger at the top of the arc
    return x, y, angle, scale


def clip_frame(index):
    canvas = Canvas(CLIP_WIDTH, CLIP_HEIGHT, BACKGROUND)
    phase = index / FRAMES
    wobble = 1.2 * math.sin(2 * math.pi * phase * SHEETS_IN_FLIGHT)
    canvas.ellipse(BOX_X + 24, BOX_Y + 37.6, 27, 1.6, SHADOW)
    canvas.ellipse(FOLDER_X + 25, FOLDER_Y + 37.6, 25, 1.6, SHADOW)
    box_back(canvas, BOX_X, BOX_Y, wobble)
    folder_back(canvas, FOLDER_X, FOLDER_Y)
    for k in range(SHEETS_IN_FLIGHT):
        t = (phase + k / SHEETS_IN_FLIGHT) % 1.0
        sheet(canvas, *sheet_on_path(t))
    box_front(canvas, BOX_X, BOX_Y, wobble)
    folder_front(canvas, FOLDER_X, FOLDER_Y)
    return [[p[:3] for p in row] for row in canvas.pixels()]


def small_icon_image():
    """The icon at 16 x 16, drawn at that size with fewer details so that it stays legible."""
    canvas = Canvas(16, 16)
    canvas.polygon([(2, 9), (12.5, 9), (14.8, 6.6), (4.3, 6.6)], CARD_INSIDE)
    sheet(canvas, 8.6, 5.6, math.radians(14), 0.72)
    canvas.outlined([(12.5, 9), (14.8, 6.6), (14.8, 13.4), (12.5, 15.4)], CARD_SIDE, CARD_EDGE, 0.7)
    canvas.outlined([(1.5, 9), (12.5, 9), (12.5, 15.4), (1.5, 15.4)], CARD, CARD_EDGE, 0.7)
    canvas.rect(6.2, 9.6, 7.9, 14.8, TAPE)
    canvas.outlined([(1.5, 9), (4.3, 6.6), (1.8, 4.4), (0.2, 6.6)], CARD_FLAP, CARD_EDGE, 0.7)
    canvas.outlined([(12.5, 9), (14.8, 6.6), (15.9, 9.2), (14.2, 11.2)], CARD_FLAP, CARD_EDGE, 0.7)
    return canvas.pixels()


def icon_image(size):
    """The program icon at size x size: the open box with a sheet coming out of it."""
    if size <= 16:
        return small_icon_image()
    canvas = Canvas(64, 64)
    ox, oy = 8.5, 22
    box_back(canvas, ox, oy, 0)
    sheet(canvas, 31, 21, math.radians(14), 2.0)
    box_front(canvas, ox, oy, 0)
    # Down-sample the 64-pixel drawing to the icon size.
    return resample(canvas.pixels(), 64, size)


def resample(rows, src, dst):
    """Area-averages a square RGBA image from src to dst pixels (premultiplied)."""
    out = []
    f = src / dst
    for y in range(dst):
        row = []
        for x in range(dst):
            acc = [0.0] * 4
            y0, y1, x0, x1 = y * f, (y + 1) * f, x * f, (x + 1) * f
            for sy in range(int(y0), int(math.ceil(y1))):
                wy = min(y1, sy + 1) - max(y0, sy)
                for sx in range(int(x0), int(math.ceil(x1))):
                    w = wy * (min(x1, sx + 1) - max(x0, sx))
                    r, g, b, a = rows[sy][sx]
                    acc[0] += r * a * w
                    acc[1] += g * a * w
                    acc[2] += b * a * w
                    acc[3] += a * w
            area = f * f
            alpha = acc[3] / area
            if alpha < 0.5:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(acc[c] / acc[3])) for c in range(3)) + (int(round(alpha)),))
        out.append(row)
    return out


# --- palette -------------------------------------------------------------------------------------

def build_palette(frames, size=256):
    """One palette for all frames: the background first, then a median cut of the other colours."""
    counts = {}
    for frame in frames:
        for row in frame:
            for p in row:
                if p != BACKGROUND:
                    counts[p] = counts.get(p, 0) + 1
    boxes = [list(counts.items())]
    while len(boxes) < size - 1:
        # Split the box with the widest channel range, weighted by how many pixels it holds.
        best, best_score = None, 0
        for i, b in enumerate(boxes):
            if len(b) < 2:
                continue
            spread = max(max(c[0][k] for c in b) - min(c[0][k] for c in b) for k in range(3))
            score = spread * math.sqrt(sum(n for _, n in b))
            if score > best_score:
                best, best_score = i, score
        if best is None:
            break
        b = boxes.pop(best)
        k = max(range(3), key=lambda k: max(c[0][k] for c in b) - min(c[0][k] for c in b))
        b.sort(key=lambda c: c[0][k])
        total, half, acc, cut = sum(n for _, n in b), 0, 0, 1
        half = total / 2
        for i, (_, n) in enumerate(b):
            acc += n
            if acc >= half:
                cut = min(max(i + 1, 1), len(b) - 1)
                break
        boxes += [b[:cut], b[cut:]]
    palette = [BACKGROUND]
    for b in boxes:
        total = sum(n for _, n in b)
        color = tuple(int(round(sum(c[k] * n for c, n in b) / total)) for k in range(3))
        if color == BACKGROUND:  # only the background may be transparent
            color = (color[0], color[1], color[2] - 1)
        palette.append(color)
    return palette


def index_frames(frames, palette):
    cache = {BACKGROUND: 0}

    def nearest(p):
        best, best_d = 1, None
        for i in range(1, len(palette)):
            q = palette[i]
            d = 2 * (p[0] - q[0]) ** 2 + 4 * (p[1] - q[1]) ** 2 + 3 * (p[2] - q[2]) ** 2
            if best_d is None or d < best_d:
                best, best_d = i, d
        return best

    out = []
    for frame in frames:
        rows = []
        for row in frame:
            line = bytearray()
            for p in row:
                i = cache.get(p)
                if i is None:
                    i = cache[p] = nearest(p)
                line.append(i)
            rows.append(bytes(line))
        out.append(rows)
    return out


# --- RLE8 and AVI --------------------------------------------------------------------------------

def rle8_codes(pixels, skippable=None):
    """The fewest BI_RLE8 bytes for a stretch of pixels on one line: runs (2 bytes), absolute stretches
    of 3 to 255 pixels (2 bytes, the pixels, padding to a word), and, where skippable[i] holds (pixel
    i already shows the right value), delta codes that move the cursor on (4 bytes). Found by dynamic
    programming from the end of the stretch."""
    n = len(pixels)
    run = [1] * (n + 1)  # equal pixels from x on
    quiet = [0] * (n + 1)  # skippable pixels from x on
    for x in range(n - 1, -1, -1):
        if x + 1 < n and pixels[x + 1] == pixels[x]:
            run[x] = run[x + 1] + 1
        if skippable and skippable[x]:
            quiet[x] = quiet[x + 1] + 1
    cost = [0] * (n + 1)
    step = [None] * (n + 1)
    for x in range(n - 1, -1, -1):
        options = [(2 + cost[x + k], "run", k) for k in range(1, min(run[x], 255) + 1)]
        options += [(2 + k + (k & 1) + cost[x + k], "absolute", k) for k in range(3, min(n - x, 255) + 1)]
        options += [(4 + cost[x + k], "skip", k) for k in range(1, min(quiet[x], 255) + 1)]
        cost[x], kind, k = min(options)
        step[x] = (kind, k)
    out = bytearray()
    x = 0
    while x < n:
        kind, k = step[x]
        if kind == "run":
            out += bytes((k, pixels[x]))
        elif kind == "absolute":
            out += bytes((0, k)) + bytes(pixels[x:x + k]) + bytes(k & 1)
        else:
            out += bytes((0, 2, k, 0))
        x += k
    return bytes(out)


def rle8_encode(rows):
    """Encodes top-down rows of palette indices as a complete BI_RLE8 bitmap (stored bottom-up)."""
    out = bytearray()
    for n, row in enumerate(reversed(rows)):
        out += rle8_codes(row)
        out += b"\x00\x01" if n == len(rows) - 1 else b"\x00\x00"
    return bytes(out)


def rle8_moves(x, y, tx, ty):
    """Delta codes that move the cursor from (x, y) to (tx, ty), right and up only."""
    out = bytearray()
    while (x, y) != (tx, ty):
        dx, dy = min(tx - x, 255), min(ty - y, 255)
        out += bytes((0, 2, dx, dy))
        x, y = x + dx, y + dy
    return bytes(out)


def rle8_delta_encode(previous, rows):
    """Encodes the pixels of rows (top-down) that differ from previous as a BI_RLE8 delta frame: the
    cursor skips unchanged pixels with delta codes (0, 2, dx, dy) and ends of lines, and a decoder
    leaves skipped pixels as the previous frame had them. Each line that changed is reached by the
    shortest of: delta codes straight to its first change; an end of line and delta codes to it; ends
    of lines to the line's start, coding the line from there (pixels the frame before had too may cost
    less than a delta code)."""
    out = bytearray()
    x = y = 0  # the cursor, in stored (bottom-up) lines
    height = len(rows)
    for line in range(height):
        before, after = previous[height - 1 - line], rows[height - 1 - line]
        changed = [i for i in range(len(after)) if before[i] != after[i]]
        if not changed:
            continue
        end = changed[-1] + 1
        quiet = [before[i] == after[i] for i in range(end)]
        routes = []
        # Delta codes from where the cursor is, when the line's first change lies ahead of it.
        start = x if line == y else changed[0]
        if start >= x:
            routes.append(rle8_moves(x, y, start, line) + rle8_codes(after[start:end], quiet[start:]))
        # An end of line, then delta codes to the first change, or ends of lines to the line's start
        # (a delta code for more than two lines) and the line from there.
        if line > y:
            routes.append(b"\x00\x00" + rle8_moves(0, y + 1, changed[0], line) +
                          rle8_codes(after[changed[0]:end], quiet[changed[0]:]))
            lines = b"\x00\x00" * 2 if line - y == 2 else b"\x00\x00" + rle8_moves(0, y + 1, 0, line)
            routes.append(lines + rle8_codes(after[:end], quiet))
        out += min(routes, key=len)
        x, y = end, line
    out += b"\x00\x01"
    return bytes(out)


def rle8_decode(data, width, height, previous=None):
    """The decoder's view of an RLE8 bitmap, as top-down rows; used to check the encoder. A delta
    frame is decoded over previous (top-down rows): pixels it skips keep their values."""
    if previous is None:
        rows = [bytearray(width) for _ in range(height)]
    else:
        rows = [bytearray(r) for r in reversed(previous)]
    x = y = i = 0
    while i < len(data):
        a, b = data[i], data[i + 1]
        i += 2
        if a:
            assert x + a <= width, "a run crosses the end of a line"
            rows[y][x:x + a] = bytes([b]) * a
            x += a
        elif b == 0:
            x, y = 0, y + 1
        elif b == 1:
            break
        elif b == 2:
            x, y = x + data[i], y + data[i + 1]
            i += 2
        else:
            assert x + b <= width, "an absolute stretch crosses the end of a line"
            rows[y][x:x + b] = data[i:i + b]
            x += b
            i += b + (b & 1)
        assert y < height or (a == 0 and b in (0, 1)), "the cursor left the bitmap"
    assert all(len(r) == width for r in rows)
    return [bytes(r) for r in reversed(rows)]


def chunk(fourcc, payload):
    data = fourcc + struct.pack("<I", len(payload)) + payload
    return data + (b"\x00" if len(payload) % 2 else b"")


def riff_list(kind, fourcc, payload):
    return kind + struct.pack("<I", len(payload) + 4) + fourcc + payload


def make_avi(indexed_frames, palette):
    # Frame 0 is the one key frame; every later frame holds only what changed since the one before.
    # The clip loops back to frame 0, which redraws everything.
    encoded = [rle8_encode(indexed_frames[0])]
    encoded += [rle8_delta_encode(a, b) for a, b in zip(indexed_frames, indexed_frames[1:])]
    shown = None
    for frame, data in zip(indexed_frames, encoded):
        shown = rle8_decode(data, CLIP_WIDTH, CLIP_HEIGHT, shown)
        assert shown == frame, "the RLE8 encoder lost pixels"
    largest = max(len(d) for d in encoded)
    buffer_size = largest + (largest & 1)
    frame_us = 1000000 // FRAMES_PER_SECOND

    avih = struct.pack("<10I16x", frame_us, buffer_size * FRAMES_PER_SECOND, 0,
                       0x10,  # AVIF_HASINDEX
                       len(encoded), 0, 1, buffer_size, CLIP_WIDTH, CLIP_HEIGHT)
    strh = struct.pack("<4s4sIHHIIIIIIII4h", b"vids", b"RLE ", 0, 0, 0, 0, 1, FRAMES_PER_SECOND, 0,
                       len(encoded), buffer_size, 0xFFFFFFFF, 0, 0, 0, CLIP_WIDTH, CLIP_HEIGHT)
    # The frame header is shared by every frame: its image size covers the largest frame.
    strf = struct.pack("<IiiHHIIiiII", 40, CLIP_WIDTH, CLIP_HEIGHT, 1, 8,
                       1,  # BI_RLE8
                       largest, 2835, 2835, len(palette), 0)
    strf += b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    hdrl = riff_list(b"LIST", b"hdrl",
                     chunk(b"avih", avih) + riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))

    movi_payload = b""
    index = b""
    for data in encoded:
        offset = 4 + len(movi_payload)  # from the 'movi' tag
        movi_payload += chunk(b"00dc", data)
        flags = 0x10 if not index else 0  # AVIIF_KEYFRAME for frame 0 only
        index += struct.pack("<4sIII", b"00dc", flags, offset, len(data))
    movi = riff_list(b"LIST", b"movi", movi_payload)
    return riff_list(b"RIFF", b"AVI ", hdrl + movi + chunk(b"idx1", index))


# --- icon ----------------------------------------------------------------------------------------

def icon_entry(rows):
    """An icon image as PNG (32-bit with alpha), which the system's icon loader reads since Windows
    Vista: a third of the size of the same image as a bitmap with its mask."""
    return png_bytes(rows)


def make_ico(images):
    entries = [icon_entry(rows) for rows in images]
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for rows, data in zip(images, entries):
        size = len(rows)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(entries)


# --- PNG -----------------------------------------------------------------------------------------

def png_filter(kind, line, above, bpp):
    """One scanline filtered with PNG filter type kind (0 none, 1 sub, 2 up, 3 average, 4 Paeth)."""
    out = bytearray([kind])
    for i, x in enumerate(line):
        a = line[i - bpp] if i >= bpp else 0
        b = above[i]
        c = above[i - bpp] if i >= bpp else 0
        if kind == 1:
            x -= a
        elif kind == 2:
            x -= b
        elif kind == 3:
            x -= (a + b) // 2
        elif kind == 4:
            pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
            x -= a if pa <= pb and pa <= pc else (b if pb <= pc else c)
        out.append(x & 0xFF)
    return out


def png_bytes(rows, scale=1):
    """RGB or RGBA rows as a PNG, each pixel scale x scale; of the five filters, applied to every
    line, the one that compresses best."""
    alpha = len(rows[0][0]) == 4
    bpp = 4 if alpha else 3
    lines = []
    for row in rows:
        line = bytearray()
        for p in row:
            line += bytes(p) * scale
        lines += [bytes(line)] * scale
    width, height = len(rows[0]) * scale, len(rows) * scale
    candidates = []
    for kind in range(5):
        raw = bytearray()
        for y, line in enumerate(lines):
            raw += png_filter(kind, line, lines[y - 1] if y else bytes(len(line)), bpp)
        candidates.append(zlib.compress(bytes(raw), 9))

    def png_chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" +
            png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)) +
            png_chunk(b"IDAT", min(candidates, key=len)) + png_chunk(b"IEND", b""))


# --- previews ------------------------------------------------------------------------------------

def write_png(path, rows, scale=1):
    with open(path, "wb") as f:
        f.write(png_bytes(rows, scale))


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    out_dir, preview = argv[1], "--preview" in argv[2:]
    os.makedirs(out_dir, exist_ok=True)

    frames = [clip_frame(i) for i in range(FRAMES)]
    palette = build_palette(frames)
    indexed = index_frames(frames, palette)
    assert all(frame[0][0] == 0 for frame in indexed), "the top-left pixel must be the background"
    with open(os.path.join(out_dir, "unpack.avi"), "wb") as f:
        f.write(make_avi(indexed, palette))
    # What a test of the playing clip compares the screen with: the palette (256 RGB triples, entry 0
    # the background), then every frame's indices, top-down rows.
    with open(os.path.join(out_dir, "unpack_frames.bin"), "wb") as f:
        f.write(b"".join(bytes(c) for c in palette) + bytes(3 * (256 - len(palette))))
        f.write(b"".join(row for frame in indexed for row in frame))

    icons = [icon_image(32), icon_image(16)]
    with open(os.path.join(out_dir, "sfxstub.ico"), "wb") as f:
        f.write(make_ico(icons))

    if preview:
        shown = [[[palette[i] for i in row] for row in frame] for frame in indexed]
        for i, frame in enumerate(shown):
            write_png(os.path.join(out_dir, "frame%02d.png" % i), frame, 3)
        sheet_rows = []
        for frame in shown:
            sheet_rows += frame + [[(255, 0, 255)] * CLIP_WIDTH]
        write_png(os.path.join(out_dir, "frames.png"), sheet_rows, 2)
        write_png(os.path.join(out_dir, "icon32.png"), icons[0], 8)
        write_png(os.path.join(out_dir, "icon16.png"), icons[1], 16)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
