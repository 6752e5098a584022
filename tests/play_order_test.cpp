// The play order: every Event once, in the order its index first comes up in the draws.
#include <gtest/gtest.h>

#include <deque>

#include "game/play_order.h"
#include "state/event_catalog.h"

namespace {
Event named(const std::string& prompt) { return Event{prompt, {}}; }

std::function<int()> drawing(std::deque<int> values, int* calls) {
    return [values, calls]() mutable {
        ++*calls;
        if (values.empty()) throw std::logic_error("ran out of draws");
        const int value = values.front();
        values.pop_front();
        return value;
    };
}

std::vector<std::string> prompts(const std::vector<Event>& events) {
    std::vector<std::string> result;
    result.reserve(events.size());
    for (const Event& event : events) result.push_back(event.prompt);
    return result;
}

struct PlayOrder : ::testing::Test {
    std::vector<Event> savedCatalog;
    void SetUp() override { savedCatalog = eventCatalog; }
    void TearDown() override {
        eventCatalog = savedCatalog;
        playOrder.clear();
    }
};
}  // namespace

TEST_F(PlayOrder, RepeatedIndicesAreDiscarded) {
    eventCatalog = {named("E0"), named("E1"), named("E2")};
    int calls = 0;
    shuffleEvents(drawing({2, 2, 0, 2, 1}, &calls));
    EXPECT_EQ(prompts(playOrder), (std::vector<std::string>{"E2", "E0", "E1"}));
    EXPECT_EQ(calls, 5);
}

TEST_F(PlayOrder, RemaindersOfLargeValuesAndASingleEvent) {
    eventCatalog = {named("E0"), named("E1"), named("E2")};
    int calls = 0;
    shuffleEvents(drawing({2147483647, 3, 5}, &calls));  // 2147483647 % 3 == 1
    EXPECT_EQ(prompts(playOrder), (std::vector<std::string>{"E1", "E0", "E2"}));

    eventCatalog = {named("only")};
    calls = 0;
    shuffleEvents(drawing({12345}, &calls));
    EXPECT_EQ(prompts(playOrder), std::vector<std::string>{"only"});
    EXPECT_EQ(calls, 1);
}

TEST_F(PlayOrder, AnEmptyCatalogueDrawsNothing) {
    eventCatalog.clear();
    playOrder = {named("stale")};
    int calls = 0;
    shuffleEvents(drawing({}, &calls));
    EXPECT_TRUE(playOrder.empty());
    EXPECT_EQ(calls, 0);
}

TEST_F(PlayOrder, TheAuthoredCatalogueIsPlayedWhole) {
    if (eventCatalog.empty()) buildEventCatalog();
    std::srand(7);
    shuffleEvents();
    ASSERT_EQ(playOrder.size(), eventCatalog.size());
    std::vector<std::string> played = prompts(playOrder);
    std::vector<std::string> authored = prompts(eventCatalog);
    std::sort(played.begin(), played.end());
    std::sort(authored.begin(), authored.end());
    EXPECT_EQ(played, authored);

    // the same seed gives the same order; a second call replaces rather than appends
    const std::vector<std::string> first = prompts(playOrder);
    std::srand(7);
    shuffleEvents();
    EXPECT_EQ(prompts(playOrder), first);

    // copies, not references
    playOrder[0].prompt = "changed";
    for (const Event& event : eventCatalog) EXPECT_NE(event.prompt, "changed");
}
