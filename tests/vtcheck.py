# pyte fed a game's raw bytes, for what tmux hides (tmux wraps late everywhere):
# prints "scrolling-writes N", "cursor-cell 'c'", "sgr CODES", the 25 rows of the
# picture after "picture", and for TERM=linux
# "console-colours" and a row of colour digits (0-f, '.' a blank) for each
# screen row as the Linux console shows them: it takes SGR 90-97 as bold plus
# the colour and keeps the bold until SGR 22 or 0, and draws bold bright. pyte knows no
# REP (CSI n b): each one is spelt out first as the glyph written n more times.
# For TERM=linux the bytes pass first through the console's glyph modes, and
# "console-glyphs-at-end utf-8|bytes|latin-1" says the mode they leave. The
# "picture" is drawn with direct colours in either form, colons or semicolons.
import re
import sys

import pyte

raw = open(sys.argv[1], "rb").read()
late_wrap = sys.argv[2] != "ansi"
scrolling = 0


class Strict(pyte.Screen):
    def draw(self, data):
        global scrolling
        for ch in data:
            last = self.cursor.y == self.lines - 1 and self.cursor.x == self.columns - 1
            if last and not late_wrap and pyte.modes.IRM not in self.mode:
                scrolling += 1
            super().draw(ch)

    def select_graphic_rendition(self, *attrs, **options):
        if sys.argv[2] == "linux":
            spelt = []
            for a in attrs:  # (100-107 are blink and the colour there: not bold)
                spelt += [1, a - 60] if 90 <= a <= 97 else [a - 60] if 100 <= a <= 107 else [a]
            attrs = spelt
        super().select_graphic_rendition(*attrs, **options)


# The Linux console's glyph modes: after SGR 11 each byte is its code page 437
# glyph (but for the controls it always acts on) until SGR 10; an SI there
# leaves the mode on with the Latin-1 map instead. Spelt out in UTF-8 for pyte.
CP437_HIGH = bytes(range(0x80, 0x100)).decode("cp437")
CP437_LOW = " ☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼"
ALWAYS_CONTROLS = {0x00, 0x08, 0x0A, 0x0C, 0x0D, 0x0E, 0x0F, 0x1B, 0x9B}


def console_glyphs(data):
    out, mode, i = bytearray(), "utf-8", 0
    while i < len(data):
        b = data[i]
        if b == 0x1B:
            m = re.match(rb"\x1b\[([0-9;]*)m", data[i:])
            end = i + (m.end() if m else 1)
            if m:
                for part in m.group(1).split(b";"):
                    mode = {b"10": "utf-8", b"11": "bytes"}.get(part, mode)
            out += data[i:end]
            i = end
            continue
        if b == 0x0F and mode != "utf-8":
            mode = "latin-1"
        if mode == "utf-8" or b in ALWAYS_CONTROLS or (0x20 <= b < 0x7F):
            out.append(b)
        elif mode == "bytes":
            out += (CP437_LOW[b] if b < 0x20 else "⌂" if b == 0x7F else CP437_HIGH[b - 0x80]).encode()
        else:
            out += bytes([b]).decode("latin-1").encode()
        i += 1
    print("console-glyphs-at-end", mode)
    return bytes(out)


if sys.argv[2] == "linux":
    raw = console_glyphs(raw)
text = raw.decode("utf-8", "replace")


# pyte reads no ITU colon form of a direct colour (38:2::r:g:b, 38:2:r:g:b),
# which most direct-colour terminfo entries send: spelt with semicolons.
def semicolons(sgr):
    params = []
    for param in sgr.group(1).split(";"):
        parts = param.split(":")
        if len(parts) == 6 and parts[1] == "2":
            del parts[2]  # the colour space
        params += parts
    return "\x1b[" + ";".join(params) + "m"


text = re.sub(r"\x1b\[([0-9;:]*)m", semicolons, text)
text = re.sub(r"(.)\x1b\[(\d*)b", lambda m: m.group(1) * (1 + int(m.group(2) or 1)), text, flags=re.S)
screen = Strict(80, 25)
pyte.Stream(screen).feed(text)
print("scrolling-writes", scrolling)
print("cursor-cell", repr(screen.buffer[screen.cursor.y][min(screen.cursor.x, 79)].data))
codes = {part.decode() for seq in re.findall(rb"\x1b\[([0-9;:]*)m", raw) for part in seq.split(b";")}
print("sgr", " ".join(sorted(codes)))
print("picture")
for row in screen.display:
    print(row.rstrip())
if sys.argv[2] == "linux":
    names = ["black", "red", "green", "brown", "blue", "magenta", "cyan", "white"]
    print("console-colours")
    for y in range(25):
        row = ""
        for x in range(80):
            cell = screen.buffer[y][x]
            colour = names.index(cell.fg) if cell.fg in names else 7
            row += "." if cell.data == " " else "%x" % (colour + (8 if cell.bold else 0))
        print(row)
