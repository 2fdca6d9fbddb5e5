// A state of play in a few words, and the world put into it and read back:
// the player's movement fields, lives, the crumbling slot, both enemies with
// the code of their cell, and one bit for each thing a cell can turn into
// (crumbled, emptied by an enemy, a goods item taken). The message texts and
// timers only change what the status line shows and are left out. Parts of
// a state that can no longer matter are cleared (by the room's model,
// model.cpp), so states that differ only there are one.
#include <algorithm>
#include <bit>

#include "check/job.h"
#include "console/console.h"

using namespace successor;

namespace {

int directionCode(uint8_t direction) {
    return direction == scan::left ? 1 : direction == scan::right ? 2 : direction == key::space ? 3 : 0;
}
constexpr uint8_t directionBytes[] = {0, scan::left, scan::right, key::space};

}  // namespace

// --- states into the world and back ---

CellCode cellValue(const MutableCell& m, const uint64_t* cells) {
    if ((m.takenBit >= 0 && testBit(cells, m.takenBit)) || (m.emptyBit >= 0 && testBit(cells, m.emptyBit)))
        return Empty;
    if (m.crumbledBit >= 0 && testBit(cells, m.crumbledBit)) return Crumbled;
    return m.initial;
}

namespace {

int verticalCell(const SearchJob& job, uint64_t w) {
    return cellIndex(job.start.verticalEnemy.x, static_cast<int>(field(w, word::vertical + 1, 5)));
}
int horizontalCell(const SearchJob& job, uint64_t w) {
    return cellIndex(static_cast<int>(field(w, word::horizontal + 1, 7)), job.start.horizontalEnemy.y);
}

}  // namespace

CellCode stateCell(const SearchJob& job, const uint64_t* key, int cell) {
    uint64_t w = key[0];
    if (field(w, word::horizontal, 1) && horizontalCell(job, w) == cell)
        return static_cast<CellCode>(static_cast<int8_t>(field(w, word::horizontal + 9, 8)));
    if (field(w, word::vertical, 1) && verticalCell(job, w) == cell)
        return static_cast<CellCode>(static_cast<int8_t>(field(w, word::vertical + 7, 8)));
    int m = job.mutableOf[cell];
    if (m >= 0) return cellValue(job.mutableCells[m], key + 1);
    return (&job.start.levelMap.cells[0][0])[cell];
}

namespace {
CellCode* worldCells() { return &room.levelMap.cells[0][0]; }
}  // namespace

// The player, the counters, the slot, the
// enemies and the cells. The world's map is the start's before the call.
// Where a lost life ends the way, the player has one life: the rules then
// end the tick at once instead of restoring the floor for nothing.
void enterState(SearchJob& job, const uint64_t* key, PlayerState& p, bool allowLoss) {
    uint64_t w = key[0];
    p = job.startPlayer;
    p.playerX = static_cast<int>(field(w, word::x, 7));
    p.playerY = static_cast<int>(field(w, word::y, 5));
    p.direction = directionBytes[field(w, word::direction, 2)];
    p.savedDirection = directionBytes[field(w, word::saved, 2)];
    p.slide = static_cast<int8_t>(field(w, word::slide, 2) == 1 ? -1 : field(w, word::slide, 2) == 2 ? 1 : 0);
    p.jumping = field(w, word::jumping, 1);
    p.jumpStep = static_cast<int>(field(w, word::jumpStep, 4));
    p.jumpHeight = p.jumping && field(w, word::spring, 1) ? 8 : 3;
    p.messageShown = false;
    p.checkpointLabelShown = false;
    game.lives = static_cast<int8_t>(allowLoss ? field(w, word::lives, 2) : 1);
    game.goodsCollected = 0;
    room.crumbleSlots = {};
    if (field(w, word::slot, 1))
        room.crumbleSlots[0] = {true, static_cast<uint8_t>(p.playerX), static_cast<uint8_t>(p.playerY + 1), 1};
    CellCode* cells = worldCells();
    const uint64_t* bits = key + 1;
    job.written.clear();
    for (int i = 0; i < job.cellWords; ++i)
        for (uint64_t rest = bits[i]; rest; rest &= rest - 1) {
            const MutableCell& m = job.mutableCells[job.bitOwner[i * 64 + std::countr_zero(rest)]];
            cells[m.cell] = cellValue(m, bits);
            job.written.push_back(m.cell);
        }
    // An enemy: its flag, its place along its line (`length` bits), its direction, the cell it stands on.
    auto unpackEnemy = [&](EnemySlot& enemy, uint8_t& place, int at, int length, auto cellOf) {
        enemy.active = field(w, at, 1);
        if (!enemy.active) return;
        place = static_cast<uint8_t>(field(w, at + 1, length));
        enemy.step = static_cast<int8_t>(field(w, at + 1 + length, 1) ? 1 : -1);
        int cell = cellOf();
        cells[cell] = static_cast<CellCode>(static_cast<int8_t>(field(w, at + 2 + length, 8)));
        job.written.push_back(cell);
    };
    unpackEnemy(room.verticalEnemy, room.verticalEnemy.y, word::vertical, 5, [&] { return verticalCell(job, w); });
    unpackEnemy(room.horizontalEnemy, room.horizontalEnemy.x, word::horizontal, 7,
                [&] { return horizontalCell(job, w); });
}

// The start's map again where enterState wrote (the steps from it undone).
void leaveState(const SearchJob& job) {
    CellCode* cells = worldCells();
    const CellCode* base = &job.start.levelMap.cells[0][0];
    for (int c : job.written) cells[c] = base[c];
}

namespace {

// Clears what can no longer matter from where the player is.
void settle(const SearchJob& job, uint64_t* key, bool allowLoss) {
    uint64_t w = key[0];
    int x = static_cast<int>(field(w, word::x, 7)), y = static_cast<int>(field(w, word::y, 5));
    if (!insideMap(x, y)) return;  // the rules never take the player there; nothing is cleared
    int rise = field(w, word::jumping, 1)
                   ? std::max(0, (field(w, word::spring, 1) ? 8 : 3) - static_cast<int>(field(w, word::jumpStep, 4)))
                   : 0;
    int node = nodeOf(x, y, rise);
    if (job.nodeEnemies.empty() || job.nodeEnemies[node] == notReached) return;  // nothing known: all is kept
    const uint64_t* mask = job.nodeMasks.data() + size_t(node) * job.cellWords;
    uint8_t enemies = job.nodeEnemies[node];
    if (allowLoss) {
        // A lost life puts the player back at the start, crumbled floor whole, the enemies where they are.
        const uint64_t* fromStart = job.nodeMasks.data() + size_t(job.startNode) * job.cellWords;
        for (int i = 0; i < job.cellWords; ++i) key[1 + i] &= mask[i] | fromStart[i];
        enemies |= job.nodeEnemies[job.startNode];
    } else {
        for (int i = 0; i < job.cellWords; ++i) key[1 + i] &= mask[i];
    }
    if (!(enemies & 1)) key[0] &= ~word::verticalBits;
    if (!(enemies & 2)) key[0] &= ~word::horizontalBits;
}

}  // namespace

uint64_t playerWord(const PlayerState& p) {
    uint64_t w = 0;
    w |= uint64_t(p.playerX & 0x7F) << word::x;
    w |= uint64_t(p.playerY & 0x1F) << word::y;
    int direction = directionCode(p.direction);
    w |= uint64_t(direction) << word::direction;
    // The saved direction is read only by a jump that a space starts.
    if (direction == 3) w |= uint64_t(directionCode(p.savedDirection)) << word::saved;
    w |= uint64_t(p.slide == -1 ? 1 : p.slide == 1 ? 2 : 0) << word::slide;
    if (p.jumping) {
        w |= uint64_t(1) << word::jumping;
        w |= uint64_t(std::min(p.jumpStep, p.jumpHeight)) << word::jumpStep;
        if (p.jumpHeight == 8) w |= uint64_t(1) << word::spring;
    }
    return w;
}

// The world's state after a step, from the state before it (`key`) and the
// cells the step may have written; loss: every crumbling cell too.
void readState(const SearchJob& job, const uint64_t* key, const PlayerState& p, bool loss, uint64_t* next,
               bool allowLoss) {
    uint64_t w = playerWord(p);
    if (allowLoss) w |= uint64_t(game.lives & 3) << word::lives;
    for (const CrumbleSlot& slot : room.crumbleSlots)
        if (slot.active) w |= uint64_t(1) << word::slot;
    const CellCode* cells = worldCells();
    const EnemySlot& v = room.verticalEnemy;
    const EnemySlot& h = room.horizontalEnemy;
    int vCell = -1, hCell = -1;
    if (v.active && insideMap(v.x, v.y)) {
        vCell = cellIndex(v.x, v.y);
        w |= uint64_t(1) << word::vertical;
        w |= uint64_t(v.y & 0x1F) << (word::vertical + 1);
        w |= uint64_t(v.step == 1) << (word::vertical + 6);
        w |= uint64_t(static_cast<uint8_t>(cells[vCell])) << (word::vertical + 7);
    }
    if (h.active && insideMap(h.x, h.y)) {
        hCell = cellIndex(h.x, h.y);
        w |= uint64_t(1) << word::horizontal;
        w |= uint64_t(h.x & 0x7F) << (word::horizontal + 1);
        w |= uint64_t(h.step == 1) << (word::horizontal + 8);
        w |= uint64_t(static_cast<uint8_t>(cells[hCell])) << (word::horizontal + 9);
    }
    next[0] = w;
    uint64_t* bits = next + 1;
    for (int i = 0; i < job.cellWords; ++i) bits[i] = key[1 + i];
    // A goods item on an enemy's way taken in this tick: where the player stands.
    if (game.goodsCollected > 0 && insideMap(p.playerX, p.playerY)) {
        int m = job.mutableOf[cellIndex(p.playerX, p.playerY)];
        if (m >= 0 && job.mutableCells[m].takenBit >= 0) setBit(bits, job.mutableCells[m].takenBit);
    }
    auto readCell = [&](int cell) {
        int index = job.mutableOf[cell];
        if (index < 0) return;
        const MutableCell& m = job.mutableCells[index];
        bool taken = m.takenBit >= 0 && testBit(bits, m.takenBit);
        CellCode now = cells[cell];
        // Under an enemy the cell is empty once it moves on, whatever it held.
        bool empty = !taken && (cell == vCell || cell == hCell || now == Empty);
        bool crumbled = !empty && !taken && now == Crumbled;
        if (m.emptyBit >= 0) empty ? setBit(bits, m.emptyBit) : clearBit(bits, m.emptyBit);
        if (m.crumbledBit >= 0) crumbled ? setBit(bits, m.crumbledBit) : clearBit(bits, m.crumbledBit);
    };
    for (int cell : job.changed) readCell(cell);
    if (loss)
        for (int index : job.crumblingCells) readCell(job.mutableCells[index].cell);
    settle(job, next, allowLoss);
}

namespace {

// The cells a step from the world as it stands may write: the slot's, the
// player's, the enemies' before and after. Before the step: the first part.
void noteCellsBefore(SearchJob& job) {
    job.changed.clear();
    for (const CrumbleSlot& slot : room.crumbleSlots)
        if (slot.active && insideMap(slot.x, slot.y)) job.changed.push_back(cellIndex(slot.x, slot.y));
    for (const EnemySlot* e : {&room.verticalEnemy, &room.horizontalEnemy})
        if (e->active && insideMap(e->x, e->y)) job.changed.push_back(cellIndex(e->x, e->y));
}

void noteCellsAfter(SearchJob& job, const PlayerState& p) {
    if (insideMap(p.playerX, p.playerY)) job.changed.push_back(cellIndex(p.playerX, p.playerY));
    for (const EnemySlot* e : {&room.verticalEnemy, &room.horizontalEnemy})
        if (e->active && insideMap(e->x, e->y)) job.changed.push_back(cellIndex(e->x, e->y));
}

}  // namespace

TickOutcome stepState(SearchJob& job, const uint64_t* key, PlayerState& p, TickKey choice, bool allowLoss,
                      uint64_t* next, uint8_t& looseTaken, bool& loss) {
    noteCellsBefore(job);
    game.goodsCollected = 0;
    TickOutcome outcome = stepTickWith(p, choice);
    noteCellsAfter(job, p);
    loss = outcome == TickOutcome::LifeLost || outcome == TickOutcome::GameOver;
    looseTaken = noGoods;
    if (game.goodsCollected > 0 && insideMap(p.playerX, p.playerY)) {
        int cell = cellIndex(p.playerX, p.playerY);
        for (size_t g = 0; g < job.goodsCells.size(); ++g)
            if (job.goodsCells[g] == cell) job.goodsReached[g] = 1;
        if (job.looseIndex[cell] >= 0) looseTaken = static_cast<uint8_t>(job.looseIndex[cell]);
    }
    bool goesOn = outcome == TickOutcome::GoOn || (outcome == TickOutcome::LifeLost && allowLoss);
    if (goesOn) readState(job, key, p, loss, next, allowLoss);
    return outcome;
}

void undoStep(SearchJob& job, const uint64_t* key, bool loss) {
    CellCode* cells = worldCells();
    for (int cell : job.changed) cells[cell] = stateCell(job, key, cell);
    if (loss)
        for (int index : job.crumblingCells) {
            int cell = job.mutableCells[index].cell;
            cells[cell] = stateCell(job, key, cell);
        }
}

bool standsOn(const SearchJob& job, const uint64_t* key) {
    int x = wordX(key[0]), y = wordY(key[0]);
    if (field(key[0], word::jumping, 1) || !insideMap(x, y)) return false;
    return isSolid(insideMap(x, y + 1) ? stateCell(job, key, cellIndex(x, y + 1)) : Wall);
}

void stepEachChoice(SearchJob& job, const uint64_t* key, bool allowLoss, bool skipNoKeys, std::vector<uint64_t>& next,
                    ChoiceStep steps[choiceCount]) {
    next.resize(size_t(choiceCount) * job.keyWords);
    PlayerState p;
    enterState(job, key, p, allowLoss);
    const PlayerState player = p;
    const uint64_t playerAsItIs = playerWord(player);
    const EnemySlot vertical = room.verticalEnemy, horizontal = room.horizontalEnemy;
    const auto slots = room.crumbleSlots;
    const int8_t lives = game.lives;
    for (int c = 0; c < choiceCount; ++c) {
        ChoiceStep& step = steps[c];
        step.asNoKey = false;
        if (c > 0 && skipNoKeys) {
            // A key that leaves the player as it was (Left while walking left) plays as no key.
            PlayerState pressed = player;
            applyTickKey(pressed, choices[c]);
            if (playerWord(pressed) == playerAsItIs) {
                step = steps[0];
                step.asNoKey = true;
                continue;
            }
        }
        p = player;
        room.verticalEnemy = vertical;
        room.horizontalEnemy = horizontal;
        room.crumbleSlots = slots;
        game.lives = lives;
        step.outcome = stepState(job, key, p, choices[c], allowLoss, next.data() + size_t(c) * job.keyWords, step.loose,
                                 step.loss);
        step.player = p;
        undoStep(job, key, step.loss);
        // A lost life where losses end the way is the end of the game for it.
        if (step.outcome == TickOutcome::LifeLost && !allowLoss) step.outcome = TickOutcome::GameOver;
    }
    leaveState(job);
}
