#!/usr/bin/env python3
"""Draws every picture of the program and writes resources.qrc listing them.

Run from any folder: python3 resources/generate_icons.py
The PNGs are committed, so the build never needs Python. Only the standard library
is used: shapes are signed distance functions, rasterised with one pixel of
anti-aliasing and written as RGBA PNGs with zlib + struct. Output is deterministic,
so a rerun without changes leaves git clean.
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
PREFIX = "/new/prefix/Resources"

# ---------------------------------------------------------------- colours

def rgb(hexcode, alpha=1.0):
    h = hexcode.lstrip("#")
    return (int(h[0:2], 16) / 255, int(h[2:4], 16) / 255, int(h[4:6], 16) / 255, alpha)


def darker(c, k=0.55):
    return (c[0] * k, c[1] * k, c[2] * k, c[3])


WHITE = rgb("#ffffff")
INK = rgb("#2b2f36")
BLUE = rgb("#3b7ddd")
GREEN = rgb("#37a647")
RED = rgb("#dd3b35")
YELLOW = rgb("#f4c430")
ORANGE = rgb("#ee8a23")
GOLD = rgb("#e0a526")
GREY = rgb("#9aa0a8")
LIGHT_GREY = rgb("#cfd3d8")
DEVICE = rgb("#8fa3bf")
FOLDER = rgb("#f2c45a")
PAPER = rgb("#f7f7f4")

# ---------------------------------------------------------------- shapes as signed distances
# A shape is a function (x, y) -> distance to its edge, negative inside.

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def box(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return d


def segment(ax, ay, bx, by, r):
    """A line of width 2r with round ends."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy or 1e-9

    def d(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) - r
    return d


def polyline(points, r):
    return union(*[segment(*points[i], *points[i + 1], r) for i in range(len(points) - 1)])


def polygon(points):
    n = len(points)

    def d(x, y):
        best = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            ex, ey = bx - ax, by - ay
            l2 = ex * ex + ey * ey or 1e-9
            t = max(0.0, min(1.0, ((x - ax) * ex + (y - ay) * ey) / l2))
            best = min(best, math.hypot(x - ax - t * ex, y - ay - t * ey))
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:
                inside = not inside
        return -best if inside else best
    return d


def ring(cx, cy, r, width):
    c = circle(cx, cy, r)
    return lambda x, y: abs(c(x, y)) - width / 2


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def intersect(*shapes):
    return lambda x, y: max(s(x, y) for s in shapes)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def grow(shape, amount):
    return lambda x, y: shape(x, y) - amount


def arc_points(cx, cy, r, start_deg, end_deg, steps=16):
    """Points along a circle; angles in degrees, 0 = right, counter-clockwise on screen."""
    pts = []
    for i in range(steps + 1):
        a = math.radians(start_deg + (end_deg - start_deg) * i / steps)
        pts.append((cx + r * math.cos(a), cy - r * math.sin(a)))
    return pts

# ---------------------------------------------------------------- canvas

class Canvas:
    def __init__(self, size):
        self.size = size
        # Premultiplied RGBA floats.
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]

    def paint(self, shape, colour):
        r, g, b, a = colour
        n = self.size
        for y in range(n):
            for x in range(n):
                cover = 0.5 - shape(x + 0.5, y + 0.5)
                if cover <= 0.0:
                    continue
                k = min(cover, 1.0) * a
                p = self.px[y * n + x]
                p[0] = r * k + p[0] * (1 - k)
                p[1] = g * k + p[1] * (1 - k)
                p[2] = b * k + p[2] * (1 - k)
                p[3] = k + p[3] * (1 - k)

    def fill(self, shape, colour, outline=None, width=1.0):
        """Fills a shape, with an inner border of the given width in the outline colour."""
        if outline is None:
            outline = darker(colour)
        self.paint(shape, outline)
        self.paint(grow(shape, -width), colour)

    def erase(self, shape):
        """Cuts a shape out, leaving transparency (a gap around a badge)."""
        n = self.size
        for y in range(n):
            for x in range(n):
                cover = 0.5 - shape(x + 0.5, y + 0.5)
                if cover <= 0.0:
                    continue
                keep = 1 - min(cover, 1.0)
                self.px[y * n + x] = [c * keep for c in self.px[y * n + x]]

    def png(self):
        n = self.size
        rows = bytearray()
        for y in range(n):
            rows.append(0)
            for x in range(n):
                r, g, b, a = self.px[y * n + x]
                if a > 0:
                    r, g, b = r / a, g / a, b / a
                rows += bytes(max(0, min(255, round(v * 255))) for v in (r, g, b, a))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))

# ---------------------------------------------------------------- 16 x 16 glyph parts
# Main glyphs keep to the upper left; badges sit in the lower right 9 x 9 corner, cut
# free of the glyph by a one-pixel transparent gap, as desktop icon themes do.

def badge(c, draw):
    c.erase(circle(11.8, 11.8, 5.3))
    draw(c)


def draw_device(c, compact=True):
    """The detector: a housing with a round lens window."""
    if compact:
        c.fill(box(0.5, 1.5, 12.5, 11.5, 2.0), DEVICE)
        c.fill(circle(6.5, 6.5, 3.0), rgb("#2f4f7a"))
        c.paint(circle(5.6, 5.6, 1.0), rgb("#bcd6ff"))
    else:
        c.fill(box(1.5, 2.5, 14.5, 13.5, 2.0), DEVICE)
        c.fill(circle(8.0, 8.0, 3.5), rgb("#2f4f7a"))
        c.paint(circle(7.0, 7.0, 1.2), rgb("#bcd6ff"))


def draw_plug(c):
    """A USB-style plug pointing up: prongs, body, cable."""
    c.fill(box(4.5, 0.5, 10.5, 4.5, 0.5), LIGHT_GREY, INK)
    c.paint(box(5.5, 1.5, 6.8, 2.8), INK)
    c.paint(box(8.2, 1.5, 9.5, 2.8), INK)
    c.fill(box(3.5, 4.0, 11.5, 10.5, 1.5), rgb("#4d5560"), INK)
    c.paint(segment(7.5, 10.5, 7.5, 15.5, 1.1), INK)


def arrow_down(cx, top, bottom, half_width, stem):
    head = bottom - half_width
    return union(box(cx - stem, top, cx + stem, head + 0.5),
                 polygon([(cx - half_width, head), (cx + half_width, head), (cx, bottom)]))


def arrow_up(cx, top, bottom, half_width, stem):
    head = top + half_width
    return union(box(cx - stem, head - 0.5, cx + stem, bottom),
                 polygon([(cx - half_width, head), (cx, top), (cx + half_width, head)]))


def cross(cx, cy, half, r):
    return union(segment(cx - half, cy - half, cx + half, cy + half, r),
                 segment(cx - half, cy + half, cx + half, cy - half, r))


def check(cx, cy, s, r):
    return polyline([(cx - 1.0 * s, cy), (cx - 0.3 * s, cy + 0.8 * s), (cx + 1.1 * s, cy - 0.8 * s)], r)


def badge_disc(colour, mark):
    def draw(c):
        c.fill(circle(11.5, 11.5, 4.4), colour, darker(colour, 0.6), 0.9)
        c.paint(mark, WHITE)
    return draw


BADGE_CROSS = badge_disc(RED, cross(11.5, 11.5, 1.8, 0.6))
BADGE_CHECK = badge_disc(GREEN, check(11.5, 11.7, 2.0, 0.6))
BADGE_PLUS = badge_disc(GREEN, union(box(10.9, 8.9, 12.1, 14.1), box(8.9, 10.9, 14.1, 12.1)))
BADGE_PLAY = badge_disc(GREEN, polygon([(10.0, 9.2), (14.0, 11.5), (10.0, 13.8)]))


def badge_arrow_down(c):
    c.fill(arrow_down(12.0, 7.8, 15.6, 3.6, 1.2), GREEN)


def badge_arrow_up(c):
    c.fill(arrow_up(12.0, 7.8, 15.6, 3.6, 1.2), BLUE)


def badge_magnifier(c):
    c.paint(segment(13.0, 13.0, 15.0, 15.0, 1.2), INK)
    c.fill(circle(11.0, 11.0, 3.2), rgb("#d8ecff"), INK, 1.1)


def badge_pencil(c):
    body = polygon([(15.4, 9.6), (13.4, 7.6), (8.4, 12.6), (10.4, 14.6)])
    c.fill(body, ORANGE)
    c.paint(polygon([(8.4, 12.6), (10.4, 14.6), (7.6, 15.4)]), rgb("#f1d7b0"))
    c.paint(polygon([(8.1, 14.2), (8.8, 14.9), (7.6, 15.4)]), INK)
    c.paint(polygon([(15.4, 9.6), (13.4, 7.6), (12.6, 8.4), (14.6, 10.4)]), RED)


def eye_shape(cx, cy, w, h):
    # Two circle arcs meeting at sharp corners make the lens of an eye.
    r = (w * w / 4 + h * h / 4) / h
    top = circle(cx, cy + r - h / 2, r)
    bottom = circle(cx, cy - r + h / 2, r)
    return intersect(top, bottom)


def badge_eye(c):
    c.fill(eye_shape(12.0, 12.0, 7.6, 5.2), WHITE, INK, 0.9)
    c.paint(circle(12.0, 12.0, 1.6), BLUE)
    c.paint(circle(12.0, 12.0, 0.7), INK)


def badge_eye_hidden(c):
    c.fill(eye_shape(12.0, 12.0, 7.6, 5.2), WHITE, GREY, 0.9)
    c.paint(circle(12.0, 12.0, 1.6), GREY)
    c.paint(segment(8.6, 15.2, 15.4, 8.8, 0.75), RED)


def badge_clock(c):
    c.fill(circle(12.0, 12.0, 3.9), WHITE, INK, 0.9)
    c.paint(polyline([(12.0, 9.7), (12.0, 12.0), (13.8, 12.9)], 0.5), INK)


def badge_padlock(c):
    c.paint(intersect(ring(12.0, 10.2, 1.9, 1.1), box(8.0, 7.0, 16.0, 10.6)), INK)
    c.paint(box(10.1, 10.0, 10.7, 11.0), INK)
    c.paint(box(13.3, 10.0, 13.9, 11.0), INK)
    c.fill(box(8.6, 10.6, 15.4, 15.6, 0.8), GOLD)


def share_shape(points, r_node, r_line):
    (ax, ay), (bx, by), (cx, cy) = points
    lines = union(segment(ax, ay, bx, by, r_line), segment(ax, ay, cx, cy, r_line))
    nodes = union(circle(ax, ay, r_node), circle(bx, by, r_node), circle(cx, cy, r_node))
    return lines, nodes


def draw_share(c, points, r_node, r_line):
    lines, nodes = share_shape(points, r_node, r_line)
    c.paint(lines, rgb("#2a6fb0"))
    c.fill(nodes, rgb("#4a9be8"), rgb("#2a6fb0"))


def badge_share(c):
    draw_share(c, [(9.6, 12.0), (14.2, 9.4), (14.2, 14.6)], 1.5, 0.55)


def badge_pin(c):
    c.paint(segment(12.0, 12.0, 12.0, 15.6, 0.55), INK)
    c.fill(circle(12.0, 10.6, 2.8), RED)
    c.paint(circle(11.2, 9.8, 0.8), rgb("#ffb0a8"))


def badge_user(c):
    c.fill(circle(12.0, 9.9, 2.1), rgb("#f0c8a0"), rgb("#8a5a3a"), 0.8)
    c.fill(intersect(circle(12.0, 16.4, 4.2), box(7.0, 12.6, 17.0, 16.0)), BLUE)


def badge_folder(c):
    c.fill(box(8.0, 8.6, 12.5, 11.0, 0.6), FOLDER, rgb("#b07d18"))
    c.fill(box(8.0, 9.8, 15.8, 15.6, 0.8), FOLDER, rgb("#b07d18"))


def badge_refresh(c):
    c.paint(intersect(ring(12.0, 12.0, 3.0, 1.4), subtract(box(7, 7, 17, 17), box(12.0, 7.0, 17.0, 12.0))), GREEN)
    c.paint(polygon([(10.4, 7.5), (14.2, 9.0), (10.4, 11.6)]), GREEN)


def badge_eraser(c):
    c.fill(polygon([(8.2, 13.0), (12.6, 8.6), (15.8, 11.8), (11.4, 16.2)]), rgb("#f28ab0"), rgb("#a23f66"), 0.9)
    c.paint(polygon([(8.2, 13.0), (10.0, 11.2), (13.2, 14.4), (11.4, 16.2)]), rgb("#5a88d8"))


def with_badge(base, badge_draw):
    def draw(c):
        base(c)
        badge(c, badge_draw)
    return draw

# ---------------------------------------------------------------- 16 x 16 glyphs

def draw_folder_open(c):
    c.fill(box(0.5, 2.5, 6.5, 5.5, 1.0), rgb("#d9a93a"))
    c.fill(box(0.5, 3.5, 13.5, 13.5, 1.0), rgb("#d9a93a"))
    c.paint(box(2.5, 5.0, 12.0, 9.0), PAPER)
    c.fill(polygon([(0.5, 13.5), (3.2, 7.0), (15.5, 7.0), (12.8, 13.5)]), FOLDER, rgb("#a77514"))


def draw_save(c):
    c.fill(polygon([(1.5, 1.5), (12.5, 1.5), (14.5, 3.5), (14.5, 14.5), (1.5, 14.5)]), rgb("#3f6fc2"), rgb("#1f3c70"))
    c.fill(box(4.0, 1.5, 11.0, 6.0), rgb("#e8ecf2"), rgb("#1f3c70"))
    c.paint(box(8.6, 2.6, 10.0, 5.0), rgb("#1f3c70"))
    c.fill(box(3.5, 8.5, 12.5, 14.5, 0.5), PAPER, rgb("#1f3c70"))
    c.paint(box(5.0, 10.2, 11.0, 10.9), GREY)
    c.paint(box(5.0, 12.0, 11.0, 12.7), GREY)


def question_mark(cx, cy, s, r):
    hook = arc_points(cx, cy - 1.6 * s, 1.9 * s, 160, -60, 12)
    hook.append((cx, cy + 0.9 * s))
    return union(polyline(hook, r), circle(cx, cy + 2.7 * s, r * 1.15))


def draw_help(c):
    c.fill(circle(8.0, 8.0, 7.3), BLUE)
    c.paint(question_mark(8.0, 7.4, 1.05, 1.0), WHITE)


def draw_info(c):
    c.fill(circle(8.0, 8.0, 7.3), BLUE)
    c.paint(circle(8.0, 4.6, 1.3), WHITE)
    c.paint(box(6.9, 6.8, 9.1, 12.4, 0.4), WHITE)


def draw_warning(c):
    tri = polygon([(8.0, 0.8), (15.4, 14.5), (0.6, 14.5)])
    c.fill(grow(tri, -0.3), YELLOW, rgb("#9a7300"), 1.0)
    c.paint(polygon([(6.9, 5.0), (9.1, 5.0), (8.6, 10.2), (7.4, 10.2)]), INK)
    c.paint(circle(8.0, 12.2, 1.1), INK)


def draw_delete_error(c):
    c.fill(circle(8.0, 8.0, 7.3), RED)
    c.paint(cross(8.0, 8.0, 3.0, 1.15), WHITE)


def draw_gear(c, cx, cy, r_out, r_in, teeth, colour):
    pts = []
    for i in range(teeth * 4):
        a = 2 * math.pi * i / (teeth * 4)
        r = r_out if (i % 4) in (0, 1) else r_in
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    c.fill(subtract(polygon(pts), circle(cx, cy, r_in * 0.42)), colour)


def draw_gear_edit(c):
    draw_gear(c, 6.8, 6.8, 6.3, 4.6, 8, GREY)
    badge(c, badge_pencil)


def draw_clock(c):
    c.fill(circle(8.0, 8.0, 7.3), WHITE, INK, 1.1)
    for i in range(12):
        a = 2 * math.pi * i / 12
        if i % 3 == 0:
            c.paint(circle(8.0 + 5.0 * math.cos(a), 8.0 + 5.0 * math.sin(a), 0.6), INK)
    c.paint(polyline([(8.0, 3.6), (8.0, 8.0), (11.0, 9.8)], 0.65), INK)
    c.paint(circle(8.0, 8.0, 0.9), RED)


def draw_clock_small(c):
    c.fill(circle(6.8, 6.8, 6.3), WHITE, INK, 1.0)
    c.paint(polyline([(6.8, 3.0), (6.8, 6.8), (9.4, 8.3)], 0.6), INK)
    c.paint(circle(6.8, 6.8, 0.8), RED)


def draw_padlock_closed(c, colour=GOLD):
    c.fill(subtract(intersect(circle(8.0, 6.5, 4.6), box(0, 0, 16, 7.5)), circle(8.0, 6.5, 2.6)), LIGHT_GREY, INK, 0.9)
    c.fill(union(box(3.4, 5.5, 4.8, 8.0), box(11.2, 5.5, 12.6, 8.0)), LIGHT_GREY, INK, 0.6)
    c.fill(box(1.5, 7.0, 14.5, 15.0, 1.5), colour)
    c.paint(circle(8.0, 10.3, 1.3), INK)
    c.paint(box(7.4, 10.5, 8.6, 13.0), INK)


def draw_padlock_open(c):
    # The shackle swings up and out to the right, its left leg free of the body.
    c.fill(subtract(intersect(circle(10.5, 4.6, 4.1), box(0, 0, 16, 5.3)), circle(10.5, 4.6, 2.2)), LIGHT_GREY, INK, 0.9)
    c.fill(box(12.6, 4.4, 14.6, 8.0), LIGHT_GREY, INK, 0.6)
    c.fill(box(6.4, 4.4, 8.4, 5.6), LIGHT_GREY, INK, 0.6)
    c.fill(box(1.5, 7.0, 14.5, 15.0, 1.5), GREEN)
    c.paint(circle(8.0, 10.3, 1.3), INK)
    c.paint(box(7.4, 10.5, 8.6, 13.0), INK)


def draw_padlock_compact(c):
    c.fill(subtract(intersect(circle(6.5, 5.0, 4.0), box(0, 0, 16, 6.0)), circle(6.5, 5.0, 2.2)), LIGHT_GREY, INK, 0.9)
    c.fill(union(box(2.5, 4.5, 4.2, 7.0), box(8.8, 4.5, 10.5, 7.0)), LIGHT_GREY, INK, 0.6)
    c.fill(box(0.5, 6.0, 12.5, 13.0, 1.5), GOLD)
    c.paint(circle(6.5, 9.0, 1.2), INK)


def draw_plug_compact(c):
    c.fill(box(3.5, 0.5, 9.5, 4.0, 0.5), LIGHT_GREY, INK)
    c.paint(box(4.6, 1.4, 5.8, 2.6), INK)
    c.paint(box(7.2, 1.4, 8.4, 2.6), INK)
    c.fill(box(2.5, 3.5, 10.5, 9.5, 1.5), rgb("#4d5560"), INK)
    c.paint(segment(6.5, 9.5, 6.5, 15.5, 1.1), INK)


def badge_list(c):
    c.fill(box(8.0, 8.0, 16.0, 16.0, 1.0), PAPER, INK, 0.9)
    for y in (10.2, 12.0, 13.8):
        c.paint(box(9.6, y - 0.45, 14.4, y + 0.45), BLUE)


def badge_stats(c):
    c.fill(box(8.0, 8.0, 16.0, 16.0, 1.0), PAPER, INK, 0.9)
    c.paint(box(9.4, 12.0, 10.6, 14.8), GREEN)
    c.paint(box(11.4, 9.6, 12.6, 14.8), BLUE)
    c.paint(box(13.4, 11.0, 14.6, 14.8), ORANGE)


def draw_share_plain(c):
    draw_share(c, [(3.5, 8.0), (12.0, 3.5), (12.0, 12.5)], 2.7, 0.9)


def draw_share_compact(c):
    draw_share(c, [(2.8, 6.8), (10.0, 2.8), (10.0, 10.6)], 2.3, 0.8)


def draw_device_transfer(arrow, colour):
    def draw(c):
        draw_device(c)
        c.erase(grow(arrow, 1.0))
        c.fill(arrow, colour)
    return draw

# ---------------------------------------------------------------- 11 x 11 status pictures
# A disc with a white mark while the bit is set; the same mark on a pale grey disc
# while it is clear, so the user reads the same position in both states.

DISABLED_DISC = rgb("#d4d7db")
DISABLED_MARK = rgb("#9aa0a8")


def status_disc(colour, mark, mark_colour=WHITE):
    def draw(c):
        c.fill(circle(5.5, 5.5, 5.2), colour, darker(colour, 0.6), 0.9)
        c.paint(mark, mark_colour)
    return draw


def status_pair(colour, mark):
    return status_disc(colour, mark), status_disc(DISABLED_DISC, mark, DISABLED_MARK)


MARK_ONE = box(4.7, 2.6, 6.3, 8.4)
MARK_TWO = union(box(3.2, 2.6, 4.8, 8.4), box(6.2, 2.6, 7.8, 8.4))
MARK_MINUS = box(2.6, 4.7, 8.4, 6.3)
MARK_PIN = union(circle(5.5, 4.3, 1.7), segment(5.5, 5.5, 5.5, 8.6, 0.6))
MARK_POWER = union(intersect(ring(5.5, 6.0, 2.6, 1.2), subtract(box(0, 0, 11, 11), polygon([(5.5, 6.0), (2.6, 1.0), (8.4, 1.0)]))),
                   segment(5.5, 2.2, 5.5, 5.6, 0.6))
MARK_CHANGE = union(polygon([(8.6, 3.4), (7.6, 2.4), (3.2, 6.8), (4.2, 7.8)]), polygon([(3.0, 7.2), (3.8, 8.0), (2.5, 8.5)]))
MARK_ERROR = cross(5.5, 5.5, 2.2, 0.8)


def status_warning(fill, edge, mark):
    def draw(c):
        c.fill(polygon([(5.5, 0.6), (10.6, 10.2), (0.4, 10.2)]), fill, edge, 0.9)
        c.paint(polygon([(4.9, 3.6), (6.1, 3.6), (5.8, 7.0), (5.2, 7.0)]), mark)
        c.paint(circle(5.5, 8.4, 0.75), mark)
    return draw


def status_lock(body, shackle_open):
    def draw(c):
        if shackle_open:
            c.paint(subtract(intersect(circle(7.2, 3.4, 2.9), box(0, 0, 11, 4.0)), circle(7.2, 3.4, 1.6)), INK)
            c.paint(box(8.8, 3.3, 10.1, 5.2), INK)
        else:
            c.paint(subtract(intersect(circle(5.5, 4.0, 3.2), box(0, 0, 11, 4.5)), circle(5.5, 4.0, 1.8)), INK)
            c.paint(union(box(2.3, 3.8, 3.7, 5.2), box(7.3, 3.8, 8.7, 5.2)), INK)
        c.fill(box(1.0, 4.8, 10.0, 10.5, 1.0), body)
        c.paint(circle(5.5, 7.4, 0.9), INK)
    return draw

# ---------------------------------------------------------------- logo

def draw_logo(c):
    c.fill(box(4, 4, 124, 124, 22), rgb("#1f3f86"), rgb("#122554"), 4)
    # A flame seen by the detector: two teardrops, orange round yellow.
    def teardrop(cx, cy, w, h, sharp=1.6):
        pts = []
        for i in range(64):
            t = 2 * math.pi * i / 64
            pts.append((cx + w * math.sin(t) * abs(math.sin(t / 2)) ** sharp, cy - h * math.cos(t)))
        return polygon(pts)
    c.fill(teardrop(64, 52, 30, 36), rgb("#f07a1a"), rgb("#b8400c"), 2.5)
    c.paint(teardrop(64, 62, 15, 22), rgb("#ffd84a"))
    # The detector's sight: arcs on both sides of the flame.
    for r in (44, 52):
        c.paint(intersect(ring(64, 56, r, 3.5), subtract(box(0, 0, 128, 128),
                                                         polygon([(64, 56), (0, -40), (128, -40)])),
                          subtract(box(0, 0, 128, 92), polygon([(64, 56), (-40, 128), (168, 128)]))),
                rgb("#9cc4ff"))
    # The maker's initial under the flame.
    n = union(box(42, 90, 50, 114), box(78, 90, 86, 114),
              polygon([(42, 90), (50, 90), (86, 114), (78, 114)]))
    c.paint(n, WHITE)

# ---------------------------------------------------------------- the pictures

ICONS16 = {
    "Basic/16x16/folder_open.png": draw_folder_open,
    "Basic/16x16/save.png": draw_save,
    "Basic/16x16/help.png": draw_help,
    "Basic/16x16/info.png": draw_info,
    "Basic/16x16/warning.png": draw_warning,
    "Basic/16x16/delete_button_error.png": draw_delete_error,
    "HardwareNetwork/16x16/usb_connector-error.png": with_badge(draw_plug_compact, BADGE_CROSS),
    "HardwareNetwork/16x16/usb_connector-ok.png": with_badge(draw_plug_compact, BADGE_CHECK),
    "HardwareNetwork/16x16/usb_connector-list.png": with_badge(draw_plug_compact, badge_list),
    "HardwareNetwork/16x16/usb_connector-stats.png": with_badge(draw_plug_compact, badge_stats),
    "HardwareNetwork/16x16/hardware-download.png": draw_device_transfer(arrow_down(11.5, 5.0, 15.6, 4.4, 1.6), GREEN),
    "HardwareNetwork/16x16/hardware-upload.png": draw_device_transfer(arrow_up(11.5, 5.0, 15.6, 4.4, 1.6), BLUE),
    "HardwareNetwork/16x16/hardware-new.png": with_badge(draw_device, BADGE_PLUS),
    "HardwareNetwork/16x16/hardware-execute.png": with_badge(draw_device, BADGE_PLAY),
    "HardwareNetwork/16x16/hardware-search.png": with_badge(draw_device, badge_magnifier),
    "HardwareNetwork/16x16/hardware-edit.png": with_badge(draw_device, badge_pencil),
    "HardwareNetwork/16x16/hardware-item_hode.png": with_badge(draw_device, badge_eye_hidden),
    "HardwareNetwork/16x16/hardware-item_show.png": with_badge(draw_device, badge_eye),
    "HardwareNetwork/16x16/hardware-update.png": with_badge(draw_device, badge_refresh),
    "HardwareNetwork/16x16/hardware-delay.png": with_badge(draw_device, badge_clock),
    "HardwareNetwork/16x16/hardware-ok.png": with_badge(draw_device, BADGE_CHECK),
    "HardwareNetwork/16x16/hardware-lock.png": with_badge(draw_device, badge_padlock),
    "HardwareNetwork/16x16/hardware-share.png": with_badge(draw_device, badge_share),
    "Security/16x16/padlock.png": draw_padlock_closed,
    "Security/16x16/padlock_unlock.png": draw_padlock_open,
    "Security/16x16/padlock-execute.png": with_badge(draw_padlock_compact, BADGE_PLAY),
    "Security/16x16/padlock-user.png": with_badge(draw_padlock_compact, badge_user),
    "WebEmail/16x16/share.png": draw_share_plain,
    "WebEmail/16x16/share-error.png": with_badge(draw_share_compact, BADGE_CROSS),
    "WebEmail/16x16/share-pin.png": with_badge(draw_share_compact, badge_pin),
    "ProjectManagment/16x16/time.png": draw_clock,
    "ProjectManagment/16x16/time-new.png": with_badge(draw_clock_small, BADGE_PLUS),
    "ProjectManagment/16x16/time-open.png": with_badge(draw_clock_small, badge_folder),
    "ProjectManagment/16x16/time-download.png": with_badge(draw_clock_small, badge_arrow_down),
    "ProjectManagment/16x16/time-erase.png": with_badge(draw_clock_small, badge_eraser),
    "Industry/16x16/manufacturing_process_1_gear-edit.png": draw_gear_edit,
}

ICONS11 = {}
for name, colour, mark in (("primaryOut", ORANGE, MARK_ONE),
                           ("secondaryOut", ORANGE, MARK_TWO),
                           ("remove", RED, MARK_MINUS),
                           ("pin", BLUE, MARK_PIN),
                           ("power", RED, MARK_POWER),
                           ("change", BLUE, MARK_CHANGE),
                           ("error", RED, MARK_ERROR)):
    on, off = status_pair(colour, mark)
    ICONS11[f"Basic/11x11/{name}.png"] = on
    ICONS11[f"Basic/11x11/{name}Disabled.png"] = off
ICONS11["Basic/11x11/warning.png"] = status_warning(YELLOW, rgb("#9a7300"), INK)
ICONS11["Basic/11x11/warningDisabled.png"] = status_warning(DISABLED_DISC, DISABLED_MARK, DISABLED_MARK)
ICONS11["Basic/11x11/lock.png"] = status_lock(GOLD, False)
ICONS11["Basic/11x11/unlock.png"] = status_lock(GREEN, True)
ICONS11["Basic/11x11/lockDisabled.png"] = status_lock(DISABLED_DISC, False)
# Not shown at start, but gives the lock position a clear picture for either state.
ICONS11["Basic/11x11/unlockDisabled.png"] = status_lock(DISABLED_DISC, True)


def pictures():
    """(file relative to this folder, size, draw function), in .qrc order."""
    out = [("zaoNorvel128.png", 128, draw_logo)]
    out += [("Icons/" + k, 11, v) for k, v in sorted(ICONS11.items())]
    out += [("Icons/" + k, 16, v) for k, v in sorted(ICONS16.items())]
    return out


def write_qrc(entries):
    lines = ["<!DOCTYPE RCC>",
             "<!-- Written by generate_icons.py; add pictures there, not here. -->",
             '<RCC version="1.0">',
             f'    <qresource prefix="{PREFIX}">']
    lines += [f"        <file>{rel}</file>" for rel, _, _ in entries]
    lines += ["    </qresource>", "</RCC>", ""]
    with open(os.path.join(HERE, "resources.qrc"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines))


def main():
    entries = pictures()
    for rel, size, draw in entries:
        c = Canvas(size)
        draw(c)
        path = os.path.join(HERE, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(c.png())
    write_qrc(entries)
    print(f"{len(entries)} pictures written", file=sys.stderr)


if __name__ == "__main__":
    main()
