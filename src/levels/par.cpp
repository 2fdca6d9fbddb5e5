#include "levels/par.h"

// No par is known yet.
std::optional<int> roomPar(std::string_view, int, uint64_t) { return std::nullopt; }
