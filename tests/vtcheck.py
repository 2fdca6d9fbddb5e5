# pyte fed a game's raw bytes, for what tmux hides (tmux wraps late everywhere):
# prints "scrolling-writes N", "cursor-cell 'c'", "bottom-right 'c'", "sgr CODES".
import re
import sys

import pyte

raw = open(sys.argv[1], "rb").read()
term = sys.argv[2]
late_wrap = term not in ("ansi",)
scrolling = 0


class Strict(pyte.Screen):
    def draw(self, data):
        global scrolling
        for ch in data:
            last = self.cursor.y == self.lines - 1 and self.cursor.x == self.columns - 1
            if last and not late_wrap and pyte.modes.IRM not in self.mode:
                scrolling += 1
            super().draw(ch)


screen = Strict(80, 25)
stream = pyte.ByteStream(screen)
stream.feed(raw)
x, y = screen.cursor.x, screen.cursor.y
print("scrolling-writes", scrolling)
print("cursor-cell", repr(screen.buffer[y][min(x, 79)].data))
print("bottom-right", repr(screen.buffer[24][79].data))
codes = set()
for seq in re.findall(rb"\x1b\[([0-9;:]*)m", raw):
    for part in re.split(rb"[;]", seq):
        codes.add(part.decode())
print("sgr", " ".join(sorted(codes)))
