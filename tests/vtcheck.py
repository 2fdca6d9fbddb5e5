# pyte fed a game's raw bytes, for what tmux hides (tmux wraps late everywhere):
# prints "scrolling-writes N", "cursor-cell 'c'", "sgr CODES".
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


screen = Strict(80, 25)
pyte.ByteStream(screen).feed(raw)
print("scrolling-writes", scrolling)
print("cursor-cell", repr(screen.buffer[screen.cursor.y][min(screen.cursor.x, 79)].data))
codes = {part.decode() for seq in re.findall(rb"\x1b\[([0-9;:]*)m", raw) for part in seq.split(b";")}
print("sgr", " ".join(sorted(codes)))
