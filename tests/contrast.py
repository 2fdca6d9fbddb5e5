# The contrast of the shades in two screenshots of a terminal (PNG): the menu
# and the test room of contrast_test.cpp (walls in rows 3-6, crumbling floor
# in rows 9-12, lava in rows 15-18, a frame of walls). For each kind: the
# brightest pixels of its cells (the 98th percentile of luminance) against
# the black background, as (L1 + 0.05) / (L2 + 0.05), and the cells' mean
# colour. Prints "KIND RATIO #RRGGBB" lines.
import sys

from PIL import Image


def luminance(rgb):
    def linear(c):
        c /= 255.0
        return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4

    r, g, b = (linear(v) for v in rgb[:3])
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


room = Image.open(sys.argv[2]).convert("RGB")
menu = Image.open(sys.argv[1]).convert("RGB")
width, height = room.size
lit = lambda p: luminance(p) > 0.004

# The frame: row 1 of walls gives the cell width, column 1 the cell height.
top = next(y for y in range(height) if sum(lit(room.getpixel((x, y))) for x in range(0, width, 4)) > 20)
row = [x for x in range(width) if lit(room.getpixel((x, top + 2)))]
left, right = row[0], row[-1]
cell_w = (right - left + 1) / 80
column = [y for y in range(height) if lit(room.getpixel((int(left + cell_w / 2), y)))]
cell_h = (column[-1] - column[0] + 1) / 22  # rows 1 to 22 of the frame


def cells(image, c0, c1, r0, r1):
    pixels = []
    for r in range(r0, r1 + 1):
        for c in range(c0, c1 + 1):
            x0, y0 = int(left + (c - 1) * cell_w), int(top + (r - 1) * cell_h)
            for y in range(y0, int(y0 + cell_h)):
                for x in range(x0, int(x0 + cell_w)):
                    pixels.append(image.getpixel((x, y)))
    return pixels


background = luminance(sorted(cells(room, 30, 70, 20, 20), key=luminance)[0])
kinds = [
    ("walls", room, (6, 74, 3, 6)),
    ("crumbling", room, (6, 74, 9, 12)),
    ("lava", room, (6, 74, 15, 18)),
    ("bricks", menu, (1, 17, 18, 22)),
    ("mortar", menu, (1, 80, 15, 16)),
]
for name, image, box in kinds:
    pixels = sorted(cells(image, *box), key=luminance)
    bright = luminance(pixels[int(len(pixels) * 0.98)])
    mean = tuple(sum(p[k] for p in pixels) // len(pixels) for k in range(3))
    print("%s %.2f #%02x%02x%02x" % ((name, (bright + 0.05) / (background + 0.05)) + mean))
