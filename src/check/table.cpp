// The table of states: keys of a few words numbered as they are added, by
// open addressing with a tag of each key's hash beside its number.
#include <algorithm>
#include <cstring>
#include <new>

#include "check/job.h"
#include "system/machine.h"

using namespace successor;

namespace {

template <typename T>
Memory<T> allocate(size_t count) {
    size_t bytes = std::max<size_t>(count * sizeof(T), sizeof(T));
    Memory<T> memory(static_cast<T*>(bytes < largePageBytes ? std::malloc(bytes) : allocateLargePages(bytes)));
    if (!memory) throw std::bad_alloc();
    return memory;
}

}  // namespace

uint64_t hashKey(const uint64_t* key, int words) {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < words; ++i) {
        h = (h ^ key[i]) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    return h * 0x94D049BB133111EBull;
}

bool sameKey(const uint64_t* a, const uint64_t* b, int words) {
    for (int i = 0; i < words; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

size_t growthBytes(const StateTable& table, size_t more) {
    size_t bytes = 0;
    size_t n = table.count + more;
    if (n * 8 > table.slotCount * 5) bytes += table.slotCount * 2 * (sizeof(uint32_t) + 1);
    auto block = [&](const auto& array, size_t elements, size_t size) {
        if (elements > array.blocks.size() * array.blockSize) bytes += array.blockSize * size;
    };
    if (n > table.keyRoom)
        bytes += std::min<size_t>(std::max<size_t>(table.keyRoom, firstKeys), size_t(1) << keyBlockBits) *
                 table.keyWords * sizeof(uint64_t);
    if (table.keepMoves) block(table.successors, n * choiceCount, sizeof(uint32_t));
    return bytes;
}

namespace {

void growSlots(StateTable& table) {
    size_t size = table.slotCount == 0 ? 1u << 10 : table.slotCount * 2;  // small rooms stay small
    table.slots.reset();
    table.tags.reset();
    table.slots = allocate<uint32_t>(size);
    table.tags = allocate<uint8_t>(size);
    table.slotCount = size;
    std::memset(table.tags.get(), 0, size);
    // A run of states hashed and their slots fetched, then placed.
    constexpr uint32_t run = 32;
    uint64_t hashes[run];
    for (uint32_t first = 0; first < table.count; first += run) {
        uint32_t count = static_cast<uint32_t>(std::min<size_t>(run, table.count - first));
        for (uint32_t i = 0; i < count; ++i) {
            hashes[i] = hashKey(keyOf(table, first + i), table.keyWords);
            __builtin_prefetch(&table.tags[slotOf(hashes[i], table)]);
            __builtin_prefetch(&table.slots[slotOf(hashes[i], table)]);
        }
        for (uint32_t i = 0; i < count; ++i) {
            size_t slot = slotOf(hashes[i], table);
            while (table.tags[slot] != 0) slot = (slot + 1) & (size - 1);
            table.tags[slot] = tagOf(hashes[i]);
            table.slots[slot] = first + i;
        }
    }
}

}  // namespace

uint32_t addState(StateTable& table, const uint64_t* key, uint64_t hash) {
    if ((table.count + 1) * 8 > table.slotCount * 5) growSlots(table);  // at most 5/8 full
    size_t mask = table.slotCount - 1;
    size_t slot = slotOf(hash, table);
    uint8_t tag = tagOf(hash);
    for (; table.tags[slot] != 0; slot = (slot + 1) & mask)
        if (table.tags[slot] == tag && sameKey(keyOf(table, table.slots[slot]), key, table.keyWords))
            return table.slots[slot];
    uint32_t s = static_cast<uint32_t>(table.count++);
    table.tags[slot] = tag;
    table.slots[slot] = s;
    if (table.count > table.keyRoom) {
        const size_t full = size_t(1) << keyBlockBits;
        if (table.keyRoom < full) {
            // The first block doubles until it is whole: small rooms keep small tables.
            size_t room = table.keyRoom == 0 ? firstKeys : table.keyRoom * 2;
            Memory<uint64_t> block = allocate<uint64_t>(room * table.keyWords);
            if (table.keyRoom > 0) std::memcpy(block.get(), table.keys[0].get(), table.keyRoom * table.keyWords * 8);
            table.keys.clear();
            table.keys.push_back(std::move(block));
            table.keyRoom = room;
        } else {
            table.keys.push_back(allocate<uint64_t>(full * table.keyWords));
            table.keyRoom += full;
        }
    }
    std::memcpy(const_cast<uint64_t*>(keyOf(table, s)), key, size_t(table.keyWords) * 8);
    if (table.keepMoves) {
        growBlocks(table.successors, table.count * choiceCount);
        for (int c = 0; c < choiceCount; ++c) table.successors[size_t(s) * choiceCount + c] = unknown;
    }
    return s;
}

int depthOf(const StateTable& table, uint32_t s) {
    return static_cast<int>(std::upper_bound(table.levelStart.begin(), table.levelStart.end(), s) -
                            table.levelStart.begin()) -
           1;
}

uint32_t findState(const StateTable& table, const uint64_t* key, uint64_t hash) {
    if (table.slotCount == 0) return noState;
    size_t mask = table.slotCount - 1;
    uint8_t tag = tagOf(hash);
    for (size_t slot = slotOf(hash, table); table.tags[slot] != 0; slot = (slot + 1) & mask)
        if (table.tags[slot] == tag && sameKey(keyOf(table, table.slots[slot]), key, table.keyWords))
            return table.slots[slot];
    return noState;
}

size_t bytesOf(const StateTable& table) {
    return table.keyRoom * table.keyWords * sizeof(uint64_t) + bytesOf(table.successors) + bytesOf(table.goodsMoves) +
           bytesOf(table.goodsTaken) + table.slotCount * (sizeof(uint32_t) + 1) + bytesOf(table.levelStart);
}

StateTable emptied(const StateTable& table) {
    StateTable left;
    left.keyWords = table.keyWords;
    left.allowLoss = table.allowLoss;
    left.count = table.count;
    return left;
}
