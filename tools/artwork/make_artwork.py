#!/usr/bin/env python3
"""Draws the client's images and writes them as PNG files named ID_name.png.

Every image is a stack of simple shapes (circles, rings, rounded boxes,
strokes, polygons) in a unit square, rendered with 4 x 4 supersampling. The
PNG files in resources/images are this program's output and are embedded in
the client at build time; run it again after changing a drawing:

    tools/artwork/make_artwork.py resources/images
"""

import math
import os
import struct
import sys
import zlib

SAMPLES = 4


# Shapes: functions of a point (x, y) in 0..1 coordinates that say whether it
# is inside.
def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) <= width / 2


def box(x0, y0, x1, y1, radius=0.0):
    def inside(x, y):
        qx = max(x0 + radius - x, 0, x - (x1 - radius))
        qy = max(y0 + radius - y, 0, y - (y1 - radius))
        return qx * qx + qy * qy <= radius * radius
    return inside


def stroke(points, width):
    segments = list(zip(points, points[1:]))

    def inside(x, y):
        for (ax, ay), (bx, by) in segments:
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
            if math.hypot(x - ax - t * dx, y - ay - t * dy) <= width / 2:
                return True
        return False
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        n = len(points)
        for i in range(n):
            (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                result = not result
        return result
    return inside


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


def render(w, h, layers, background=(0, 0, 0, 0)):
    """layers: (shape, (r, g, b) or (r, g, b, a)) painted in order."""
    rows = []
    for py in range(h):
        row = bytearray()
        for px in range(w):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    # Shapes are drawn in a square of the shorter side, centred.
                    side = min(w, h)
                    x = (px + (sx + 0.5) / SAMPLES - (w - side) / 2) / side
                    y = (py + (sy + 0.5) / SAMPLES - (h - side) / 2) / side
                    r, g, b, a = [c / 255 for c in background]
                    for shape, colour in layers:
                        if shape(x, y):
                            cr, cg, cb = [c / 255 for c in colour[:3]]
                            ca = colour[3] / 255 if len(colour) > 3 else 1.0
                            out_a = ca + a * (1 - ca)
                            if out_a > 0:
                                r = (cr * ca + r * a * (1 - ca)) / out_a
                                g = (cg * ca + g * a * (1 - ca)) / out_a
                                b = (cb * ca + b * a * (1 - ca)) / out_a
                            a = out_a
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if background[3] == 255:
                # Bitmaps with a transparent colour: no partial alpha, so edges
                # blend into the key colour's neighbours instead.
                alpha = 1.0
            if acc[3] > 0:
                colour = [round(255 * acc[i] / acc[3]) for i in range(3)]
            else:
                colour = [0, 0, 0]
            if background[3] == 255:
                colour = [round(255 * acc[i] / n + background[i] * (1 - acc[3] / n))
                          for i in range(3)]
            row += bytes(colour + [round(255 * alpha)])
        rows.append(bytes(row))
    return w, h, rows


def write_png(path, image):
    w, h, rows = image
    raw = b"".join(b"\x00" + row for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


BLUE = (40, 90, 170)
LIGHT_BLUE = (90, 150, 220)
WHITE = (255, 255, 255)
GREEN = (40, 170, 70)
YELLOW = (245, 190, 30)
RED = (210, 45, 45)
GREY = (150, 150, 150)
DARK = (60, 60, 60)
MAGENTA = (255, 0, 255, 255)


def logo():
    # A blue disc with a white speech bubble holding a sound wave.
    return [
        (circle(0.5, 0.5, 0.48), BLUE),
        (circle(0.5, 0.45, 0.40), LIGHT_BLUE),
        (box(0.22, 0.25, 0.78, 0.62, 0.1), WHITE),
        (polygon([(0.32, 0.6), (0.46, 0.6), (0.3, 0.78)]), WHITE),
        (stroke([(0.32, 0.44), (0.4, 0.34), (0.5, 0.52), (0.6, 0.34), (0.68, 0.44)], 0.06), BLUE),
    ]


def badge(colour, mark):
    return [(circle(0.5, 0.5, 0.47), colour)] + [(shape, WHITE) for shape in mark]


NETWORKS = [
    (540, "vokar", logo()),
    (541, "aim", badge((250, 200, 0), [polygon([(0.5, 0.2), (0.72, 0.8), (0.28, 0.8)])])),
    (542, "msn", badge((30, 140, 60), [circle(0.38, 0.4, 0.13), circle(0.62, 0.4, 0.13),
                                       box(0.25, 0.58, 0.75, 0.75, 0.08)])),
    (543, "google", badge((66, 133, 244), [ring(0.5, 0.5, 0.24, 0.1), box(0.5, 0.45, 0.76, 0.55)])),
    (544, "icq", badge((120, 190, 40), [circle(0.5, 0.5, 0.12)] +
                       [circle(0.5 + 0.26 * math.cos(a), 0.5 + 0.26 * math.sin(a), 0.1)
                        for a in [i * math.pi / 3 for i in range(6)]])),
    (545, "jabber", badge((200, 90, 30), [ring(0.5, 0.5, 0.25, 0.09), circle(0.5, 0.5, 0.08)])),
    (546, "yahoo", badge((110, 40, 160), [stroke([(0.3, 0.25), (0.5, 0.5), (0.7, 0.25)], 0.1),
                                          stroke([(0.5, 0.5), (0.5, 0.78)], 0.1)])),
    (547, "skype", badge((0, 170, 240), [ring(0.5, 0.5, 0.22, 0.1)])),
    (548, "facebook", badge((59, 89, 152), [box(0.42, 0.25, 0.54, 0.8),
                                            box(0.34, 0.42, 0.66, 0.52)])),
    (549, "qq", badge((20, 20, 20), [circle(0.5, 0.45, 0.22), box(0.33, 0.6, 0.67, 0.75, 0.05)])),
    (550, "gadugadu", badge((240, 120, 0), [polygon([(0.5 + 0.3 * math.cos(a * math.pi / 5 - math.pi / 2) * (1 if a % 2 == 0 else 0.45),
                                                      0.5 + 0.3 * math.sin(a * math.pi / 5 - math.pi / 2) * (1 if a % 2 == 0 else 0.45))
                                                     for a in range(10)])])),
    (551, "gateway", badge(GREY, [box(0.25, 0.4, 0.75, 0.6, 0.05),
                                  polygon([(0.6, 0.25), (0.82, 0.5), (0.6, 0.75)])])),
    (552, "unknown", badge(GREY, [ring(0.5, 0.4, 0.14, 0.09), circle(0.5, 0.75, 0.06)])),
]

PRESENCE = [
    (559, "available", [(circle(0.5, 0.5, 0.4), GREEN), (circle(0.42, 0.4, 0.12), (120, 220, 140))]),
    (560, "away", [(circle(0.5, 0.5, 0.4), YELLOW), (stroke([(0.5, 0.28), (0.5, 0.5), (0.66, 0.6)], 0.08), WHITE)]),
    (561, "busy", [(circle(0.5, 0.5, 0.4), RED), (box(0.28, 0.44, 0.72, 0.56), WHITE)]),
    (562, "offline", [(ring(0.5, 0.5, 0.34, 0.1), GREY)]),
    (563, "unknown", [(circle(0.5, 0.5, 0.4), GREY), (circle(0.5, 0.5, 0.12), WHITE)]),
]

ARROW_SHAFT = 0.11


def arrow(tip, tail, colour):
    (tx, ty), (sx, sy) = tip, tail
    d = math.hypot(tx - sx, ty - sy)
    ux, uy = (tx - sx) / d, (ty - sy) / d
    head = 0.26
    bx, by = tx - ux * head, ty - uy * head
    return [
        (stroke([tail, (bx, by)], ARROW_SHAFT), colour),
        (polygon([tip, (bx - uy * 0.16, by + ux * 0.16), (bx + uy * 0.16, by - ux * 0.16)]), colour),
    ]


def handset(colour):
    return [
        (stroke([(0.25, 0.3), (0.32, 0.62), (0.58, 0.78)], 0.13), colour),
        (box(0.14, 0.18, 0.36, 0.36, 0.06), colour),
        (box(0.55, 0.66, 0.8, 0.86, 0.06), colour),
    ]


ICONS = [
    (564, "messages", [(box(0.1, 0.15, 0.9, 0.68, 0.12), BLUE),
                       (polygon([(0.25, 0.66), (0.45, 0.66), (0.2, 0.9)]), BLUE),
                       (box(0.22, 0.3, 0.78, 0.36), WHITE), (box(0.22, 0.46, 0.62, 0.52), WHITE)]),
    (565, "friends", [(circle(0.35, 0.32, 0.14), BLUE), (box(0.12, 0.5, 0.58, 0.9, 0.15), BLUE),
                      (circle(0.68, 0.36, 0.12), LIGHT_BLUE), (box(0.5, 0.54, 0.9, 0.9, 0.13), LIGHT_BLUE)]),
    (566, "phone", handset(GREEN)),
    (567, "envelope", [(box(0.08, 0.22, 0.92, 0.78, 0.05), (230, 230, 240)),
                       (stroke([(0.1, 0.25), (0.1, 0.76), (0.9, 0.76), (0.9, 0.25), (0.1, 0.25)], 0.05), DARK),
                       (stroke([(0.12, 0.28), (0.5, 0.55), (0.88, 0.28)], 0.06), DARK)]),
    (568, "dialpad", [(circle(0.2 + 0.3 * (i % 3), 0.17 + 0.22 * (i // 3), 0.09), DARK if i != 10 else BLUE)
                      for i in range(12)]),
    (569, "error", badge(RED, [stroke([(0.32, 0.32), (0.68, 0.68)], 0.12), stroke([(0.68, 0.32), (0.32, 0.68)], 0.12)])),
    (570, "success", badge(GREEN, [stroke([(0.28, 0.52), (0.44, 0.68), (0.72, 0.34)], 0.12)])),
    (571, "question", badge(BLUE, [stroke([(0.36, 0.36), (0.42, 0.26), (0.56, 0.24), (0.64, 0.34),
                                           (0.6, 0.44), (0.5, 0.5), (0.5, 0.6)], 0.1),
                                   circle(0.5, 0.76, 0.065)])),
    (572, "warning", [(polygon([(0.5, 0.06), (0.96, 0.9), (0.04, 0.9)]), YELLOW),
                      (box(0.45, 0.32, 0.55, 0.65, 0.04), DARK), (circle(0.5, 0.77, 0.06), DARK)]),
    (573, "incoming", arrow((0.2, 0.8), (0.8, 0.2), GREEN)),
    (574, "outgoing", arrow((0.8, 0.2), (0.2, 0.8), BLUE)),
    (575, "missed", [(stroke([(0.15, 0.3), (0.45, 0.62), (0.72, 0.36)], ARROW_SHAFT), RED),
                     (polygon([(0.86, 0.22), (0.85, 0.5), (0.6, 0.27)]), RED)]),
    (576, "search", [(ring(0.42, 0.42, 0.26, 0.1), DARK), (stroke([(0.62, 0.62), (0.88, 0.88)], 0.14), DARK)]),
    (577, "blocked", [(ring(0.5, 0.5, 0.38, 0.12), RED), (stroke([(0.24, 0.24), (0.76, 0.76)], 0.12), RED)]),
]


def call_button():
    # 37 x 56: a green key with a white handset; drawn in its own frame.
    w, h = 37, 56
    key = box(0.02, 0.02, 0.98, 0.98, 0.2)

    def scaled(shape):
        # Shapes of the unit square, placed in the middle of the tall key.
        return lambda x, y: shape(x * 1.0, (y * h / w - (h / w - 1) / 2))
    shapes = [(key, (30, 140, 60)), (box(0.06, 0.04, 0.94, 0.45, 0.14), (70, 190, 100))]
    shapes += [(scaled(lambda u, v, s=s: s((u - 0.15) / 0.7, (v - 0.15) / 0.7)), c)
               for s, c in handset(WHITE)]
    rows = []
    for py in range(h):
        row = bytearray()
        for px in range(w):
            acc = [0.0] * 4
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / w
                    y = (py + (sy + 0.5) / SAMPLES) / h
                    r = g = b = a = 0.0
                    for shape, colour in shapes:
                        if shape(x, y):
                            r, g, b = [c / 255 for c in colour]
                            a = 1.0
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            if acc[3] > 0:
                colour = [round(255 * acc[i] / acc[3]) for i in range(3)]
            else:
                colour = [0, 0, 0]
            row += bytes(colour + [round(255 * acc[3] / SAMPLES ** 2)])
        rows.append(bytes(row))
    return w, h, rows


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/images"
    os.makedirs(out, exist_ok=True)
    images = []
    for size, image_id in [(20, 530), (42, 531), (80, 532), (135, 533)]:
        images.append((image_id, "logo%d" % size, render(size, size, logo())))
    for image_id, name, layers in NETWORKS + PRESENCE + ICONS:
        images.append((image_id, name, render(20, 20, layers)))
    images.append((578, "call_button", call_button()))
    # Bitmaps: opaque, magenta where they are transparent.
    images.append((500, "logo_bitmap", render(48, 48, logo(), MAGENTA)))
    images.append((522, "banner", render(120, 30, [(box(0.0, 0.2, 1.0, 0.8, 0.1), BLUE)] +
                                         [(circle(0.5, 0.5, 0.28), WHITE), (circle(0.5, 0.5, 0.2), LIGHT_BLUE)],
                                         MAGENTA)))
    images.append((528, "keypad", render(60, 60, ICONS[4][2], MAGENTA)))
    for image_id, name, image in images:
        write_png(os.path.join(out, "%d_%s.png" % (image_id, name)), image)


if __name__ == "__main__":
    main()
