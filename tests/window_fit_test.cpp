// The game's real screens (the intro, every Event waiting and answered, every ending) placed in
// windows of many sizes: each text whole and in reading order, nothing else, the cursor on the
// chosen answer; the notice's size is the smallest that plays; the layout as drawn where it fits.
#include "platform/window_fit.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "console/conditions_panel.h"
#include "console/drawing.h"
#include "console/key_latch.h"
#include "game/event_turn.h"
#include "game/game_loop.h"
#include "game/play_order.h"
#include "scripted_keyboard.h"
#include "state/conditions.h"
#include "state/event_catalog.h"

namespace {
constexpr int enter = 13;
constexpr int digit0 = 48;

// The screen the game shows when the script runs out.
Cells screenAfter(const std::function<void()>& play, const std::vector<KeysDown>& keys) {
    keyLatch.fill(0);
    resetRecruit();
    scriptKeys(keys);
    platformSaw().clear();
    captureOutput([&] {
        try {
            play();
        } catch (const ScriptEnded&) {}
    });
    ScreenCells cells(layoutSize(eventCatalog));
    cells.write(platformSaw());
    return cells.cells();
}

struct Shown {
    std::string what;
    Cells cells;
    int chosen = -1;  // the answer the cursor rests on
};

std::vector<Shown> everyScreen() {
    std::vector<Shown> screens;
    playOrder = eventCatalog;
    screens.push_back({"the intro", screenAfter(runGame, {{}}), -1});
    for (const Event& event : eventCatalog) {
        const auto turn = [&] {
            clearScreen();
            drawConditions();
            runEvent(event);
        };
        screens.push_back({event.prompt, screenAfter(turn, {{}}), -1});
        for (int k = 0; k < 3; ++k)
            screens.push_back({event.prompt + " " + std::to_string(k), screenAfter(turn, {{digit0 + k}, {}}), k});
    }
    for (int cause = 0; cause < 4; ++cause) {
        playOrder = {Event{"", {Option{"", {cause, cause == punchability ? 100 : -100}, ""}}}};
        screens.push_back(
            {"ending " + std::to_string(cause), screenAfter(runGame, {{}, {enter}, {digit0}, {enter}, {}}), -1});
    }
    return screens;
}

std::string trimmed(std::string_view text) {
    const std::size_t end = text.find_last_not_of(' ');
    return std::string(end == std::string_view::npos ? "" : text.substr(0, end + 1));
}

// The window's text as a reader meets it, row by row, from `column` on, `width` wide.
std::string reading(const Cells& window, int column, int width) {
    std::string text;
    for (const std::string& row : window.rows)
        text += trimmed(row.substr(std::min<std::size_t>(column, row.size()), width)) + "\n";
    return text;
}

// Where `text` begins in `read` from `from` on, its blanks found as blanks or row breaks.
std::size_t findWrapped(const std::string& read, const std::string& text, std::size_t from) {
    for (std::size_t at = from; at + text.size() <= read.size(); ++at) {
        std::size_t i = 0;
        while (i < text.size() && (read[at + i] == text[i] || (text[i] == ' ' && read[at + i] == '\n'))) ++i;
        if (i == text.size()) return at;
    }
    return std::string::npos;
}

long nonBlank(const std::vector<std::string>& rows) {
    long count = 0;
    for (const std::string& row : rows) count += std::count_if(row.begin(), row.end(), [](char c) { return c != ' '; });
    return count;
}

// Each text of the screen in the window whole and in reading order, the panel's rows whole
// together, nothing else; the cursor at the start of the chosen answer.
void expectPlaced(const Shown& shown, const Cells& window, const ScreenLayout& layout, const WindowPlan& plan) {
    const std::string what =
        shown.what + " in " + std::to_string(plan.window.columns) + "x" + std::to_string(plan.window.rows);
    const bool beside = plan.arrangement == Arrangement::beside;
    const std::string read = reading(window, 0, beside ? layout.panelColumn : plan.window.columns);
    std::size_t from = 0;
    int lastRow = -1;
    for (int y = 0; y <= layout.effectsRow; ++y) {
        const std::string row = shown.cells.rows[static_cast<std::size_t>(y)];
        for (const std::string& text : {trimmed(row.substr(0, layout.panelColumn)),
                                        y == layout.effectsRow ? trimmed(row.substr(layout.panelColumn)) : ""}) {
            if (text.empty()) continue;
            const std::size_t at = findWrapped(read, text, from);
            ASSERT_NE(at, std::string::npos) << what << ": '" << text << "' not whole after the texts before it\n"
                                             << read;
            from = at + text.size();
            lastRow = static_cast<int>(std::count(read.begin(), read.begin() + static_cast<long>(from), '\n'));
        }
    }
    if (shown.cells.rows[1].substr(layout.panelColumn, layout.panelColumns) != std::string(22, ' ')) {
        // the panel: beside the Event's side at the top, or as one block under every text
        const auto whole = [&](int row, int column) {
            for (int y = 0; y < layout.effectsRow; ++y) {
                const std::string& cells = window.rows.at(static_cast<std::size_t>(row) + static_cast<std::size_t>(y));
                if (cells.substr(static_cast<std::size_t>(column), 22) !=
                    shown.cells.rows[static_cast<std::size_t>(y)].substr(layout.panelColumn, 22)) {
                    return false;
                }
            }
            return true;
        };
        // stacked, at the same row on every screen: it never moves while the player reads
        bool found = false;
        for (int column = beside ? layout.panelColumn : 0; column <= (beside ? plan.window.columns - 22 : 0);
             ++column) {
            found = found || whole(beside ? 0 : plan.panelRow, column);
        }
        EXPECT_TRUE(found && (beside || plan.panelRow >= lastRow + 2))
            << what << ": the panel is not whole where it belongs\n"
            << read;
    }
    EXPECT_EQ(nonBlank(window.rows), nonBlank(shown.cells.rows)) << what << ": other text in the window";
    if (shown.chosen >= 0) {
        const std::string& row = window.rows[static_cast<std::size_t>(window.cursor.rows)];
        EXPECT_EQ(row.substr(static_cast<std::size_t>(window.cursor.columns), 2), std::to_string(shown.chosen) + ")")
            << what << ": the cursor is not on the chosen answer";
    }
}
}  // namespace

TEST(WindowFit, EveryScreenFitsWholeAndInReadingOrderInEveryWindowThatPlays) {
    buildEventCatalog();
    const ScreenLayout layout = screenLayout(eventCatalog);
    const std::vector<Shown> screens = everyScreen();
    const std::vector<std::pair<ScreenSize, LayoutChoice>> windows{
        {{140, 40}, LayoutChoice::stacked}, {{132, 15}, LayoutChoice::fitted}, {{120, 30}, LayoutChoice::fitted},
        {{102, 12}, LayoutChoice::fitted},  {{101, 40}, LayoutChoice::fitted}, {{80, 24}, LayoutChoice::fitted},
        {{80, 22}, LayoutChoice::fitted},   {{79, 40}, LayoutChoice::fitted},  {{60, 40}, LayoutChoice::fitted},
        {{40, 60}, LayoutChoice::fitted}};
    for (const auto& [window, choice] : windows) {
        const std::optional<WindowPlan> plan = planWindow(layout, window, choice);
        ASSERT_TRUE(plan) << window.columns << "x" << window.rows << " does not play";
        for (const Shown& shown : screens) expectPlaced(shown, fitScreen(shown.cells, layout, *plan), layout, *plan);
    }
    // where the layout fits, the window shows the game's own cells
    const std::optional<WindowPlan> asDrawn = planWindow(layout, layout.size, LayoutChoice::fitted);
    ASSERT_TRUE(asDrawn && asDrawn->arrangement == Arrangement::asDrawn);
    for (const Shown& shown : screens) EXPECT_EQ(fitScreen(shown.cells, layout, *asDrawn), shown.cells) << shown.what;
}

TEST(WindowFit, TheNoticeNamesTheSmallestWindowThatPlays) {
    buildEventCatalog();
    const ScreenLayout layout = screenLayout(eventCatalog);
    for (const LayoutChoice choice : {LayoutChoice::fitted, LayoutChoice::stacked}) {
        for (int columns = 10; columns <= 150; columns += 7) {
            for (const int rows : {5, 11, 20, 30}) {
                const ScreenSize window{columns, rows};
                if (planWindow(layout, window, choice)) continue;
                const ScreenSize smallest = smallestWindow(layout, window, choice);
                const auto at = [&](int c, int r) { return planWindow(layout, {c, r}, choice).has_value(); };
                EXPECT_TRUE(at(smallest.columns, smallest.rows));
                EXPECT_FALSE(at(smallest.columns, smallest.rows - 1));
                EXPECT_LE(smallest.columns, std::max(columns, narrowestColumns(layout)));
                // no narrower window plays in as few rows
                EXPECT_FALSE(smallest.columns > narrowestColumns(layout) && at(smallest.columns - 1, smallest.rows));
            }
        }
    }
    // the windows terminals open at play: 80x24, 120x30, and a phone's upright 60x40
    for (const ScreenSize window : {ScreenSize{80, 24}, ScreenSize{120, 30}, ScreenSize{60, 40}}) {
        EXPECT_TRUE(planWindow(layout, window, LayoutChoice::fitted)) << window.columns << "x" << window.rows;
    }
}

TEST(WindowFit, LinesBreakAtBlanksKeepingNumbersWithTheirWords) {
    const auto pieces = [](std::string_view line, int width) {
        std::vector<std::string> out;
        for (const Piece& piece : wrapLine(line, width))
            out.emplace_back(line.substr(piece.begin, piece.end - piece.begin));
        return out;
    };
    using Texts = std::vector<std::string>;
    EXPECT_EQ(pieces("", 10), Texts{""});
    EXPECT_EQ(pieces("short", 10), Texts{"short"});
    EXPECT_EQ(pieces("one two three four", 9), (Texts{"one two", "three", "four"}));
    EXPECT_EQ(pieces("Sanity -15 Punchability -10", 14), (Texts{"Sanity -15", "Punchability", "-10"}));
    EXPECT_EQ(pieces("Sanity -15 Health +5", 17), (Texts{"Sanity -15", "Health +5"}));
    EXPECT_EQ(pieces("You survived 12 Days", 14), (Texts{"You", "survived 12", "Days"}));
    EXPECT_EQ(pieces("abcdefghij kl", 4), (Texts{"abcd", "efgh", "ij", "kl"}));
    EXPECT_EQ(pieces("  indented words", 10), (Texts{"  indented", "words"}));
}
