// The shortest way that takes every goods item, where the figure's tables
// do not hold it: breadth first over the exact search's moves, a way being a
// state with the set of loose goods taken on the way there.
#include <algorithm>
#include <bit>

#include "check/job.h"

using namespace successor;

namespace {

// The keys of a way: from each way before it, the first key that leads to
// it (the one that added it: a later key to the same state and goods was
// covered by it).
std::vector<TickKey> keysOfWay(const SearchJob& job, uint32_t way, uint32_t lastChoice) {
    std::vector<TickKey> keys{choices[lastChoice]};
    for (uint32_t i = way; job.ways[i].parent != noState; i = job.ways[i].parent) {
        const WayNode& after = job.ways[i];
        const WayNode& before = job.ways[after.parent];
        for (int c = 0; c < choiceCount; ++c) {
            size_t e = size_t(before.state) * choiceCount + c;
            uint8_t taken = goodsOf(job.moves, e);
            if (successorOf(job.moves, e) == after.state &&
                (before.goods | (taken == noGoods ? 0u : 1u << taken)) == after.goods) {
                keys.push_back(choices[c]);
                break;
            }
        }
    }
    std::reverse(keys.begin(), keys.end());
    return keys;
}

// The shortest way with every goods item: read off the figure's distances
// where it has them for every goods set, else breadth first over the ways
// (below).
void searchWays(SearchJob& job, SearchSlice slice, Clock::time_point until);

}  // namespace

void takeWayAsAllGoods(SearchReport& r) {
    r.allGoodsTicks = r.ticks;
    r.allGoodsSolution = r.solution;
    r.allGoodsLookedFor = true;
}

void runAllGoods(SearchJob& job, SearchSlice slice, Clock::time_point until) {
    SearchReport& r = job.report;
    const MoveTable& m = job.moves;
    if (job.goodsTarget == 0) {
        takeWayAsAllGoods(r);
        job.phase = Phase::Windows;
        return;
    }
    if (!job.success.toExitAllGoods.empty()) {
        for (int c : allGoodsWay(job.success, m)) r.allGoodsSolution.push_back(choices[c]);
        if (!r.allGoodsSolution.empty()) r.allGoodsTicks = static_cast<int>(r.allGoodsSolution.size());
        r.allGoodsLookedFor = true;
        job.phase = Phase::Windows;
        return;
    }
    searchWays(job, slice, until);
}

namespace {

// A chunk for a state's goods sets: one freed before, or a new one.
uint32_t takeChunk(SearchJob& job) {
    uint32_t chunk = job.seenFree;
    if (chunk != 0) {
        job.seenFree = job.seen[chunk - 1].next;
    } else {
        growBlocks(job.seen, job.seenCount + 1);
        chunk = static_cast<uint32_t>(++job.seenCount);
    }
    job.seen[chunk - 1].count = 0;
    job.seen[chunk - 1].next = 0;
    return chunk;
}

// Whether a way with `goods` to `state` is worth keeping: no earlier way
// there holds them all. If so, it joins the state's sets, and the sets it
// holds go: they can cover nothing that it does not.
bool newGoodsSet(SearchJob& job, uint32_t state, uint32_t goods) {
    bool holdsSome = false;
    uint32_t last = 0;
    for (uint32_t chunk = job.seenFirst[state]; chunk != 0; chunk = job.seen[chunk - 1].next) {
        const GoodsSeen& seen = job.seen[chunk - 1];
        for (uint32_t i = 0; i < seen.count; ++i) {
            uint32_t both = seen.goods[i] | goods;
            if (both == seen.goods[i]) return false;
            holdsSome = holdsSome || both == goods;
        }
        last = chunk;
    }
    if (holdsSome) {
        // Gather the sets that stay, then write them back, the chunks left over freed.
        std::vector<uint32_t>& kept = job.goodsScratch;
        kept.clear();
        for (uint32_t chunk = job.seenFirst[state]; chunk != 0; chunk = job.seen[chunk - 1].next) {
            const GoodsSeen& seen = job.seen[chunk - 1];
            for (uint32_t i = 0; i < seen.count; ++i)
                if ((seen.goods[i] | goods) != goods) kept.push_back(seen.goods[i]);
        }
        uint32_t* link = &job.seenFirst[state];
        last = 0;
        for (size_t at = 0; at < kept.size(); at += GoodsSeen::room) {
            GoodsSeen& chunk = job.seen[*link - 1];
            chunk.count = static_cast<uint32_t>(std::min<size_t>(GoodsSeen::room, kept.size() - at));
            std::copy_n(kept.begin() + at, chunk.count, chunk.goods);
            last = *link;
            link = &chunk.next;
        }
        for (uint32_t rest = *link; rest != 0;) {
            uint32_t next = job.seen[rest - 1].next;
            job.seen[rest - 1].next = job.seenFree;
            job.seenFree = rest;
            rest = next;
        }
        *link = 0;
    }
    if (last == 0 || job.seen[last - 1].count == GoodsSeen::room) {
        uint32_t chunk = takeChunk(job);
        (last == 0 ? job.seenFirst[state] : job.seen[last - 1].next) = chunk;
        last = chunk;
    }
    GoodsSeen& tail = job.seen[last - 1];
    tail.goods[tail.count++] = goods;
    return true;
}

// The ways, breadth first, until the shortest way with every goods item is
// known. A way that reaches a state with no more goods than an earlier way
// that reached it is dropped: whatever follows, the earlier one does too.
void searchWays(SearchJob& job, SearchSlice slice, Clock::time_point until) {
    SearchReport& r = job.report;
    const MoveTable& m = job.moves;
    if (job.wayCount == 0) {
        if (!roomFor(job, m.states * sizeof(uint32_t))) return;
        job.seenFirst.assign(m.states, 0);
        growBlocks(job.ways, 1);
        job.ways[0] = {0, 0, noState};
        job.wayCount = 1;
    }
    bool sliceOver = false;
    for (size_t done = 0; done < slice.states && !r.allGoodsLookedFor; ++done) {
        if (job.nextWay >= job.wayCount) {
            r.allGoodsLookedFor = true;  // every way seen: none takes them all
            break;
        }
        if ((done & 255) == 255 && outOfTime(job, until, sliceOver)) return;
        // Room for another block of ways and of goods sets, before they are needed.
        bool newBlock = job.wayCount + choiceCount > job.ways.blocks.size() * job.ways.blockSize ||
                        job.seenCount + choiceCount > job.seen.blocks.size() * job.seen.blockSize;
        if (newBlock && !roomFor(job, job.ways.blockSize * (sizeof(WayNode) + sizeof(GoodsSeen)))) return;
        uint32_t w = static_cast<uint32_t>(job.nextWay++);
        WayNode node = job.ways[w];
        for (int c = 0; c < choiceCount; ++c) {
            size_t e = size_t(node.state) * choiceCount + c;
            uint32_t target = successorOf(m, e);
            uint8_t taken = goodsOf(m, e);
            uint32_t goods = node.goods | (taken == noGoods ? 0u : 1u << taken);
            if (target == dead) continue;
            if (target == atExit) {
                if (std::popcount(goods) + m.onWayGoods[node.state] >= job.goodsTarget) {
                    r.allGoodsSolution = keysOfWay(job, w, static_cast<uint32_t>(c));
                    r.allGoodsTicks = static_cast<int>(r.allGoodsSolution.size());
                    r.allGoodsLookedFor = true;
                    break;
                }
                continue;
            }
            if (!newGoodsSet(job, target, goods)) continue;
            growBlocks(job.ways, job.wayCount + 1);
            job.ways[job.wayCount++] = {target, goods, w};
        }
    }
    if (!r.allGoodsLookedFor) return;
    // The ways are no longer needed; their memory goes back.
    job.ways = {};
    job.seen = {};
    job.seenFirst = std::vector<uint32_t>();
    job.wayCount = job.nextWay = job.seenCount = 0;
    job.seenFree = 0;
    job.phase = Phase::Windows;
}

}  // namespace
