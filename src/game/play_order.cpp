// The play order: each catalogue Event once, in the order its index first comes up in the draws.
#include "game/play_order.h"

#include <algorithm>
#include <cstdlib>

#include "state/event_catalog.h"

std::vector<Event> playOrder;

std::int32_t shuffleEvents(const std::function<int()>& draw) {
    playOrder.clear();
    std::vector<std::int32_t> used;
    while (playOrder.size() < eventCatalog.size()) {
        const auto idx = static_cast<std::int32_t>(static_cast<unsigned>(draw()) % eventCatalog.size());
        if (std::find(used.begin(), used.end(), idx) != used.end()) continue;
        playOrder.push_back(eventCatalog.at(static_cast<std::size_t>(idx)));
        used.push_back(idx);
    }
    return 0;
}

std::int32_t shuffleEvents() {
    return shuffleEvents([] { return std::rand(); });
}
