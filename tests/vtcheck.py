# pyte fed a game's raw bytes, for what tmux hides (tmux wraps late everywhere):
# prints "scrolling-writes N", "cursor-cell 'c'", "sgr CODES". pyte knows no
# REP (CSI n b): each one is spelt out first as the glyph written n more times.
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


text = raw.decode("utf-8", "replace")
text = re.sub(r"(.)\x1b\[(\d*)b", lambda m: m.group(1) * (1 + int(m.group(2) or 1)), text, flags=re.S)
screen = Strict(80, 25)
pyte.Stream(screen).feed(text)
print("scrolling-writes", scrolling)
print("cursor-cell", repr(screen.buffer[screen.cursor.y][min(screen.cursor.x, 79)].data))
codes = {part.decode() for seq in re.findall(rb"\x1b\[([0-9;:]*)m", raw) for part in seq.split(b";")}
print("sgr", " ".join(sorted(codes)))
