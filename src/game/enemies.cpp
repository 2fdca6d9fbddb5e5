#include <algorithm>

#include "console/console.h"
#include "console/cp437.h"
#include "game/tick.h"
#include "levels/world.h"

namespace {

// One cell along the axis, then a look one cell ahead: anything that is not
// Empty (outside the map reads as Wall) turns the enemy. The move itself is
// not tested, so the first move of a room goes wherever the step points;
// only the edge of the map holds it (an enemy placed on the edge row would
// otherwise step off the map and wander outside it for good).
void moveEnemy(EnemySlot& enemy, int dx, int dy, CellCode code) {
    int fromX = enemy.x, fromY = enemy.y;
    if (!insideMap(fromX + dx * enemy.step, fromY + dy * enemy.step)) enemy.step = static_cast<int8_t>(-enemy.step);
    setCell(fromX, fromY, Empty);
    enemy.x = static_cast<uint8_t>(enemy.x + dx * enemy.step);
    enemy.y = static_cast<uint8_t>(enemy.y + dy * enemy.step);
    setCell(enemy.x, enemy.y, code);
    if (dy == 0 && enemy.x != fromX && insideMap(fromX, fromY) && insideMap(enemy.x, enemy.y)) {
        // Side by side: the blank and the enemy in one write, one terminal update.
        moveCursor(std::min<int>(fromX, enemy.x), fromY);
        const char pair[] = {char(enemy.x > fromX ? ' ' : glyph::enemy), char(enemy.x > fromX ? glyph::enemy : ' ')};
        writeText(std::string_view(pair, 2));
    } else {
        drawCell(fromX, fromY, ' ');
        drawCell(enemy.x, enemy.y, glyph::enemy);
    }
    if (enemy.step == -1 && cellAt(enemy.x - dx, enemy.y - dy) != Empty) enemy.step = 1;
    if (enemy.step == 1 && cellAt(enemy.x + dx, enemy.y + dy) != Empty) enemy.step = -1;
}

}  // namespace

void updateEnemies() {
    setTextColor(13);
    if (room.verticalEnemy.active) moveEnemy(room.verticalEnemy, 0, 1, VerticalEnemy);
    if (room.horizontalEnemy.active) moveEnemy(room.horizontalEnemy, 1, 0, HorizontalEnemy);
}
