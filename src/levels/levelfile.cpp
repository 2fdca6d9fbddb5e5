#include "console/console.h"
#include "levels/levels.h"
#include "levels/world.h"

// Placeholder until the level loader lands.
void loadLevel(const std::string&) {}
void drawRoom() {}
unsigned char spikeGlyph(int, int) { return 0; }
void drawSpikeCell(int, int) {}
