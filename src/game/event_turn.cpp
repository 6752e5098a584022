// One Event turn: draw, choose by digit key, resolve, wait for ENTER, wipe and redraw the panel.
#include "game/event_turn.h"

#include <algorithm>
#include <iostream>
#include <string>

#include "console/conditions_panel.h"
#include "console/drawing.h"
#include "console/key_latch.h"
#include "platform/platform.h"
#include "state/conditions.h"

namespace {
// The Option whose digit key is down, polling the digits upwards once per cycle; the lowest
// digit down wins, and a digit still held from an earlier turn counts too.
std::size_t chooseOption(std::size_t optionCount) {
    flushScreen();
    for (;;) {
        for (std::size_t i = 0; i < optionCount; ++i) {
            if (keyPressed(vkDigit0 + static_cast<std::int32_t>(i)) != keyUp) return i;
        }
        waitForKeyboard();
    }
}

// Where a turn writes, zero-based: the prompt; one row per Option from the fourth row; the
// outcome from two rows under the last Option, whatever the prompt's length.
constexpr ScreenPos promptAt{0, 1};
ScreenPos optionAt(std::int32_t i) { return {0, i + 3}; }
ScreenPos outcomeAt(std::int32_t optionCount) { return {0, optionCount + 4}; }

std::string optionLine(std::int32_t i, const Option& option) { return std::to_string(i) + ")" + option.label; }

// Each line of a text as printAt writes it, on the rows from `at` down, added to those rows' texts.
void addLines(std::vector<std::vector<std::string>>& rows, const std::string& text, ScreenPos at) {
    auto row = static_cast<std::size_t>(at.y);
    for (std::size_t from = 0;; ++row) {
        const std::size_t end = text.find('\n', from);
        const std::string line = text.substr(from, end - from);
        if (!line.empty()) {
            if (rows.size() <= row) rows.resize(row + 1);
            rows[row].push_back(line);
        }
        if (end == std::string::npos) return;
        from = end + 1;
    }
}
}  // namespace

std::string effectsLine(const std::vector<std::int32_t>& effects) {
    std::string line;
    for (std::size_t i = 0; i + 1 < effects.size(); i += 2) {
        const std::int32_t delta = effects.at(i + 1);
        line += conditionNames.at(static_cast<std::size_t>(effects.at(i))) + " " + (delta > 0 ? "+" : "") +
                std::to_string(delta) + " ";
    }
    return line;
}

ScreenSize layoutSize(const std::vector<Event>& events) {
    // The Event area and the panel take columns 1 to 102; the effects line starts at column 81.
    std::size_t longest = 0;
    for (const Event& event : events) {
        for (const Option& option : event.options) longest = std::max(longest, effectsLine(option.effects).size());
    }
    return {std::max(102, panelColumn + static_cast<int>(longest)), 15};
}

ScreenLayout screenLayout(const std::vector<Event>& events) {
    int endingHigh = 0;
    for (std::size_t i = 0; i < conditionEnds.size(); ++i) {
        if (conditionEnds.at(i) == conditionMax) endingHigh |= 1 << i;
    }
    ScreenLayout layout{layoutSize(events), panelColumn, effectsRow, conditionMax, endingHigh, panelColumns, {}, {}};
    for (const Event& event : events) {
        const auto optionCount = static_cast<std::int32_t>(event.options.size());
        addLines(layout.sideRows, event.prompt, promptAt);
        for (std::int32_t i = 0; i < optionCount; ++i) {
            const Option& option = event.options.at(static_cast<std::size_t>(i));
            addLines(layout.sideRows, optionLine(i, option), optionAt(i));
            addLines(layout.sideRows, option.outcome, outcomeAt(optionCount));
            layout.effectsLines.push_back(effectsLine(option.effects));
        }
    }
    return layout;
}

std::int32_t runEvent(const Event& event) {
    const auto optionCount = static_cast<std::int32_t>(event.options.size());

    printAt(event.prompt, promptAt);
    for (std::int32_t i = 0; i < optionCount; ++i) {
        printAt(optionLine(i, event.options.at(static_cast<std::size_t>(i))), optionAt(i));
    }

    const std::size_t chosen = chooseOption(event.options.size());
    const Option& option = event.options.at(chosen);
    printAt(option.outcome, outcomeAt(optionCount));

    // Every pair is applied before the effects line lists the authored deltas.
    const std::vector<std::int32_t>& effects = option.effects;
    for (std::size_t i = 0; i + 1 < effects.size(); i += 2) applyEffect(effects.at(i), effects.at(i + 1));
    moveCursor(effectsRow + 1, panelColumn + 1);
    insertText(effectsLine(effects));

    moveCursor(static_cast<std::int32_t>(chosen) + 4, 1);
    waitForKey(vkEnter);

    for (std::int32_t row = 1; row <= 15; ++row) {
        moveCursor(row, 1);
        printBlanks(panelColumn);
    }
    drawConditions();
    moveCursor(effectsRow + 1, panelColumn + 1);
    printBlanks(90);
    moveCursor(optionCount + 7, 1);
    return 0;
}
