#include "levels/levels.h"
#include "levels/world.h"

// Placeholder until packs land.
void loadPackLevel() {}
std::string packIndexPath() { return run.baseDirectory; }
