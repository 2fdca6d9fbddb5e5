#include "console/console.h"
#include "console/cp437.h"
#include "game/tick.h"
#include "levels/world.h"

void registerCrumbling(int playerX, int playerY) {
    if (cellAt(playerX, playerY + 1) != Crumbling) return;
    auto& slots = room.crumbleSlots;
    // Always the slot after the one still running: at most one is, so a
    // running slot is never taken over.
    CrumbleSlot& slot = slots[0].active ? slots[1] : slots[1].active ? slots[2] : slots[2].active ? slots[3] : slots[0];
    slot.x = static_cast<uint8_t>(playerX);
    slot.y = static_cast<uint8_t>(playerY + 1);
    slot.active = true;
}

void updateCrumbling() {
    for (CrumbleSlot& slot : room.crumbleSlots)
        if (slot.active) ++slot.age;
    for (CrumbleSlot& slot : room.crumbleSlots) {
        if (!slot.active) continue;
        if (slot.age == 1) {
            setTextColor(7);
            drawCell(slot.x, slot.y, glyph::cracked);
        } else if (slot.age == 2) {
            drawCell(slot.x, slot.y, ' ');
            setCell(slot.x, slot.y, Crumbled);
            slot = CrumbleSlot{};
        }
    }
}

void restoreCrumbled() {
    setTextColor(8);
    for (int x = 1; x <= mapWidth; ++x)
        for (int y = 1; y <= mapHeight; ++y) {
            CellCode code = cellAt(x, y);
            if (code != Crumbled && code != Crumbling) continue;
            setCell(x, y, Crumbling);
            drawCell(x, y, glyph::crumbling);
        }
    freeCrumbleSlots();
}

void freeCrumbleSlots() {
    for (CrumbleSlot& slot : room.crumbleSlots) slot = CrumbleSlot{};
}
