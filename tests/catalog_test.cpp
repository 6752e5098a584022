// Invariants of the authored Event catalogue that the turn, the drawing and the layout rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "game/event_turn.h"
#include "state/conditions.h"
#include "state/event_catalog.h"

namespace {

// buildEventCatalog appends, so the catalogue is built once for the whole test process.
const std::vector<Event>& catalog() {
    if (eventCatalog.empty()) {
        buildEventCatalog();
    }
    return eventCatalog;
}

// Events are numbered from 1, as players meet them; Options from 0, as stored.
const Option& optionAt(std::size_t eventNumber, std::size_t optionIndex) {
    return catalog().at(eventNumber - 1).options.at(optionIndex);
}

std::vector<const Option*> allOptions() {
    std::vector<const Option*> options;
    for (const Event& event : catalog()) {
        for (const Option& option : event.options) {
            options.push_back(&option);
        }
    }
    return options;
}

// The lines an outcome is drawn as: a final "\n" ends the last line rather than opening a new one.
std::vector<std::string> outcomeLines(const std::string& outcome) {
    std::vector<std::string> lines;
    std::string line;
    for (const char c : outcome) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty() || outcome.empty() || outcome.back() != '\n') {
        lines.push_back(line);
    }
    return lines;
}

bool endsWithNewline(const std::string& text) { return !text.empty() && text.back() == '\n'; }

bool isPrintable(char c) { return c >= 0x20 && c <= 0x7e; }

bool hasOuterBlank(const std::string& text) { return !text.empty() && (text.front() == ' ' || text.back() == ' '); }

bool hasCondition(const Option& option, std::int32_t index) {
    for (std::size_t i = 0; i + 1 < option.effects.size(); i += 2) {
        if (option.effects[i] == index) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(EventCatalog, HasTwentyOneEventsOfThreeOptions) {
    ASSERT_EQ(catalog().size(), 21u);
    for (const Event& event : catalog()) {
        EXPECT_EQ(event.options.size(), 3u) << event.prompt;
    }
    EXPECT_EQ(allOptions().size(), 63u);
}

TEST(EventCatalog, EffectCountsPerOption) {
    std::array<int, 5> optionsWithCount{};
    std::size_t totalEffects = 0;
    for (const Option* option : allOptions()) {
        // An Effect is a whole pair: an odd-length list would leave a condition without a delta.
        ASSERT_EQ(option->effects.size() % 2, 0u) << option->label;
        const std::size_t count = option->effects.size() / 2;
        ASSERT_GE(count, 1u) << option->label;
        ASSERT_LE(count, 4u) << option->label;
        ++optionsWithCount[count];
        totalEffects += count;
    }
    EXPECT_EQ(optionsWithCount[1], 1);
    EXPECT_EQ(optionsWithCount[2], 15);
    EXPECT_EQ(optionsWithCount[3], 46);
    EXPECT_EQ(optionsWithCount[4], 1);
    EXPECT_EQ(totalEffects, 173u);

    EXPECT_EQ(optionAt(5, 1).effects.size(), 2u);
    EXPECT_EQ(optionAt(16, 2).effects.size(), 8u);
}

TEST(EventCatalog, EffectsNameEachConditionOnceWithRoundDeltas) {
    for (const Option* option : allOptions()) {
        std::set<std::int32_t> named;
        for (std::size_t i = 0; i + 1 < option->effects.size(); i += 2) {
            const std::int32_t index = option->effects[i];
            const std::int32_t delta = option->effects[i + 1];
            EXPECT_GE(index, 0) << option->label;
            EXPECT_LE(index, 3) << option->label;
            EXPECT_TRUE(named.insert(index).second) << option->label << " names a condition twice";
            EXPECT_NE(delta, 0) << option->label;
            EXPECT_EQ(delta % 5, 0) << option->label;
            EXPECT_GE(delta, -25) << option->label;
            EXPECT_LE(delta, 30) << option->label;
        }
    }
}

TEST(EventCatalog, EffectsPerConditionSpanTheirRanges) {
    std::array<int, 4> count{};
    std::array<std::int32_t, 4> lowest{0, 0, 0, 0};
    std::array<std::int32_t, 4> highest{0, 0, 0, 0};
    for (const Option* option : allOptions()) {
        for (std::size_t i = 0; i + 1 < option->effects.size(); i += 2) {
            const auto index = static_cast<std::size_t>(option->effects[i]);
            ASSERT_LT(index, 4u);
            const std::int32_t delta = option->effects[i + 1];
            ++count[index];
            lowest[index] = std::min(lowest[index], delta);
            highest[index] = std::max(highest[index], delta);
        }
    }
    EXPECT_EQ(count[health], 20);
    EXPECT_EQ(lowest[health], -25);
    EXPECT_EQ(highest[health], 20);

    EXPECT_EQ(count[sanity], 62);
    EXPECT_EQ(lowest[sanity], -20);
    EXPECT_EQ(highest[sanity], 30);

    EXPECT_EQ(count[reputation], 53);
    EXPECT_EQ(lowest[reputation], -25);
    EXPECT_EQ(highest[reputation], 20);

    EXPECT_EQ(count[punchability], 38);
    EXPECT_EQ(lowest[punchability], -15);
    EXPECT_EQ(highest[punchability], 30);
}

TEST(EventCatalog, SanityLeadsEveryOptionButTheIgnoredDi) {
    const Option* ignoredDi = &optionAt(4, 2);
    for (const Option* option : allOptions()) {
        ASSERT_FALSE(option->effects.empty()) << option->label;
        if (option == ignoredDi) {
            EXPECT_FALSE(hasCondition(*option, sanity)) << option->label;
        } else {
            EXPECT_EQ(option->effects.front(), sanity) << option->label;
        }
    }
}

// The effects line starts at column 81: its longest, 53 characters, makes the layout 133 wide.
TEST(EventCatalog, TheLongestEffectsLineSetsTheWidthTheGameNeeds) {
    std::size_t longest = 0;
    for (const Option* option : allOptions()) longest = std::max(longest, effectsLine(option->effects).size());
    EXPECT_EQ(longest, 53u);
    const ScreenSize size = layoutSize(catalog());
    EXPECT_EQ(size.columns, 133);
    EXPECT_EQ(size.rows, 15);
}

TEST(EventCatalog, OutcomeLineCounts) {
    std::array<int, 4> outcomesWithLines{};
    for (const Option* option : allOptions()) {
        const std::size_t lines = outcomeLines(option->outcome).size();
        ASSERT_GE(lines, 1u) << option->label;
        ASSERT_LE(lines, 3u) << option->label;
        ++outcomesWithLines[lines];
    }
    EXPECT_EQ(outcomesWithLines[1], 4);
    EXPECT_EQ(outcomesWithLines[2], 58);
    EXPECT_EQ(outcomesWithLines[3], 1);
    EXPECT_EQ(outcomeLines(optionAt(6, 2).outcome).size(), 3u);
}

TEST(EventCatalog, OnlyTwoOutcomesEndWithALineBreak) {
    std::vector<const Option*> ending;
    for (const Option* option : allOptions()) {
        if (endsWithNewline(option->outcome)) {
            ending.push_back(option);
        }
    }
    const std::vector<const Option*> expected{&optionAt(4, 2), &optionAt(5, 2)};
    EXPECT_EQ(ending, expected);
}

TEST(EventCatalog, OutcomeLinesFitTheScreen) {
    std::string longest;
    int fullWidth = 0;
    for (const Option* option : allOptions()) {
        for (const std::string& line : outcomeLines(option->outcome)) {
            EXPECT_FALSE(line.empty()) << option->label;
            EXPECT_FALSE(hasOuterBlank(line)) << "[" << line << "]";
            EXPECT_LE(line.size(), 80u) << line;
            fullWidth += line.size() == 80 ? 1 : 0;
            if (line.size() > longest.size()) {
                longest = line;
            }
        }
    }
    // Only one line uses the full width; the rest leave the last column free.
    EXPECT_EQ(fullWidth, 1);
    EXPECT_EQ(longest.size(), 80u);
    EXPECT_EQ(longest, outcomeLines(optionAt(6, 2).outcome).front());
}

TEST(EventCatalog, TextsArePrintableAndTrimmed) {
    std::size_t shortestPrompt = 1000;
    std::size_t longestPrompt = 0;
    std::size_t shortestLabel = 1000;
    std::size_t longestLabel = 0;
    for (const Event& event : catalog()) {
        EXPECT_TRUE(std::all_of(event.prompt.begin(), event.prompt.end(), isPrintable)) << event.prompt;
        EXPECT_FALSE(hasOuterBlank(event.prompt)) << "[" << event.prompt << "]";
        shortestPrompt = std::min(shortestPrompt, event.prompt.size());
        longestPrompt = std::max(longestPrompt, event.prompt.size());
        for (const Option& option : event.options) {
            const std::string& label = option.label;
            EXPECT_TRUE(std::all_of(label.begin(), label.end(), isPrintable)) << label;
            // The label follows "i)" directly, so its single leading blank is the separator.
            ASSERT_GE(label.size(), 2u);
            EXPECT_EQ(label[0], ' ') << "[" << label << "]";
            EXPECT_NE(label[1], ' ') << "[" << label << "]";
            EXPECT_NE(label.back(), ' ') << "[" << label << "]";
            shortestLabel = std::min(shortestLabel, label.size());
            longestLabel = std::max(longestLabel, label.size());
            for (const char c : option.outcome) {
                EXPECT_TRUE(isPrintable(c) || c == '\n') << option.label;
            }
        }
    }
    EXPECT_EQ(shortestPrompt, 11u);
    EXPECT_EQ(longestPrompt, 63u);
    EXPECT_EQ(shortestLabel, 11u);
    EXPECT_EQ(longestLabel, 51u);
}

TEST(EventCatalog, QuotesAppearOnlyInSpokenOutcomes) {
    const std::vector<const Option*> spoken{&optionAt(1, 0), &optionAt(3, 1), &optionAt(3, 2),
                                            &optionAt(4, 1), &optionAt(6, 2), &optionAt(7, 1)};
    std::vector<const Option*> quoting;
    bool apostropheInPrompt = false;
    bool apostropheInLabel = false;
    bool apostropheInOutcome = false;
    for (const Event& event : catalog()) {
        EXPECT_EQ(event.prompt.find('"'), std::string::npos) << event.prompt;
        apostropheInPrompt = apostropheInPrompt || event.prompt.find('\'') != std::string::npos;
        for (const Option& option : event.options) {
            EXPECT_EQ(option.label.find('"'), std::string::npos) << option.label;
            if (option.outcome.find('"') != std::string::npos) {
                quoting.push_back(&option);
            }
            apostropheInLabel = apostropheInLabel || option.label.find('\'') != std::string::npos;
            apostropheInOutcome = apostropheInOutcome || option.outcome.find('\'') != std::string::npos;
        }
    }
    EXPECT_EQ(quoting, spoken);
    // Apostrophes are ordinary text everywhere, so the drawing must not treat them specially.
    EXPECT_TRUE(apostropheInPrompt);
    EXPECT_TRUE(apostropheInLabel);
    EXPECT_TRUE(apostropheInOutcome);
}
