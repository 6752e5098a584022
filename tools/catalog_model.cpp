// Writes what the game shows as JSON, for the end-to-end tests' model of the screen: the catalogue
// (prompts, labels, outcomes, effects as numbers), the conditions' names and starting values, the
// layout's size, the windows it plays in (laid out how, in how many rows), the size notice, and the
// intro and ending screens exactly as the game's own code writes them. So no test holds a copy of
// any text; where things go on the screen is the tests' own business.
//
// usage: catalog_model OUTPUT.json
//
// Linked with the game library over a keyboard of its own instead of the platform layer: a
// script of the one key down at each wait, played through runGame.
#include <cstdio>
#include <numeric>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/key_latch.h"
#include "game/event_turn.h"
#include "game/game_loop.h"
#include "game/play_order.h"
#include "platform/platform.h"
#include "platform/size_notice.h"
#include "platform/window_fit.h"
#include "state/conditions.h"
#include "state/event_catalog.h"

namespace {
std::string written;    // every byte the game wrote in this run
std::vector<int> keys;  // the key down at each wait (0: none)
std::size_t step = 0;
struct ScriptEnded {};

// The screen the game waits on at the end of the script: the text after its last erase and home.
std::string screenAfter(std::vector<int> script) {
    keys = std::move(script);
    step = 0;
    written.clear();
    keyLatch.fill(0);
    resetRecruit();
    try {
        runGame();
    } catch (const ScriptEnded&) {}
    const std::string home = "\x1b[2J\x1b[1;1H";
    return written.substr(written.rfind(home) + home.size());
}

// An ending after `days` survived Events: Events of one Option each, the last one fatal by `cause`.
std::string endingScreen(int cause, int days) {
    const Event survived{"", {Option{"", {}, ""}}};
    const Event fatal{"", {Option{"", {cause, cause == punchability ? 100 : -100}, ""}}};
    playOrder.assign(static_cast<std::size_t>(days), survived);
    playOrder.push_back(fatal);
    std::vector<int> script{0, vkEnter};
    for (int turn = 0; turn <= days; ++turn) script.insert(script.end(), {vkDigit0, vkEnter});
    return screenAfter(script);
}

std::string json(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (static_cast<unsigned char>(ch) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

template <typename T, typename F>
std::string list(const T& items, F each) {
    std::string out = "[";
    for (const auto& item : items) {
        if (out.size() > 1) out += ',';
        out += each(item);
    }
    return out + "]";
}

std::string number(int value) { return std::to_string(value); }

// For each width from 0 to a little past the layout's: the rows a window needs to play, and the
// window the size notice names, as the player chose the layout.
std::string windowsJson(const ScreenLayout& layout, LayoutChoice choice) {
    std::vector<int> widths(static_cast<std::size_t>(layout.size.columns) + 40);
    std::iota(widths.begin(), widths.end(), 0);
    const auto rows = [&](int width) { return number(rowsNeeded(layout, width, choice).value_or(0)); };
    const auto smallest = [&](int width) {
        const ScreenSize size = smallestWindow(layout, {width, 1}, choice);
        return list(std::vector<int>{size.columns, size.rows}, number);
    };
    std::string out = "{\"rows\":";
    out += list(widths, rows);
    out += ",\"notice\":";
    out += list(widths, smallest);
    return out + "}";
}

std::string optionJson(const Option& option) {
    std::vector<std::vector<int>> pairs;
    for (std::size_t i = 0; i + 1 < option.effects.size(); i += 2) {
        pairs.push_back({option.effects[i], option.effects[i + 1]});
    }
    const auto pair = [](const std::vector<int>& p) { return list(p, number); };
    return std::string("{\"label\":") + json(option.label) + ",\"outcome\":" + json(option.outcome) +
           ",\"effects\":" + list(pairs, pair) + "}";
}

std::string eventJson(const Event& event) {
    return std::string("{\"prompt\":") + json(event.prompt) + ",\"options\":" + list(event.options, optionJson) + "}";
}
}  // namespace

// The platform layer, scripted.
void openTerminal(const ScreenLayout&, LayoutChoice) {}
void closeTerminal(HandBack) {}
void endByInterrupt() { throw ScriptEnded{}; }
bool isKeyDown(std::int32_t vk) { return step < keys.size() && keys[step] == vk; }
void waitForKeyboard() {
    if (++step >= keys.size()) throw ScriptEnded{};
}
void writeScreen(std::string_view bytes) { written += bytes; }
void showScreen() {}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.json\n", argv[0]);
        return 2;
    }
    buildEventCatalog();
    const ScreenSize layout = layoutSize(eventCatalog);
    const ScreenLayout screen = screenLayout(eventCatalog);
    // beside: the narrowest window with the panel beside the Event, and its rows
    int besideColumns = layout.columns;
    while (besideColumns > 0 && rowsNeeded(screen, besideColumns - 1, LayoutChoice::fitted) <
                                    rowsNeeded(screen, besideColumns - 1, LayoutChoice::stacked)) {
        --besideColumns;
    }
    const std::vector<int> beside{besideColumns, *rowsNeeded(screen, besideColumns, LayoutChoice::fitted)};
    const std::string windows = "{\"beside\":" + list(beside, number) +
                                ",\"fitted\":" + windowsJson(screen, LayoutChoice::fitted) +
                                ",\"stacked\":" + windowsJson(screen, LayoutChoice::stacked) + "}";
    // the notice with markers in place of the sizes: the window's, and the one it names
    std::string notice = sizeNotice({9003, 9004}, {9001, 9002});
    for (const auto& [marker, name] : {std::pair{"9001", "{columns}"}, std::pair{"9002", "{rows}"},
                                       std::pair{"9003", "{needed_columns}"}, std::pair{"9004", "{needed_rows}"}}) {
        notice.replace(notice.find(marker), 4, name);
    }
    notice.erase(0, notice.find('H') + 1);

    playOrder.clear();
    const std::string intro = screenAfter({0});
    std::vector<int> days(eventCatalog.size());
    std::iota(days.begin(), days.end(), 0);
    const std::vector<int> causes{health, sanity, reputation, punchability};
    const std::string endings =
        list(causes, [&](int cause) { return list(days, [&](int d) { return json(endingScreen(cause, d)); }); });
    resetRecruit();

    const std::string events = list(eventCatalog, eventJson);
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) return 1;
    std::fprintf(out,
                 "{\"layout\":[%d,%d],\"windows\":%s,\"names\":%s,\"start\":%s,\"intro\":%s,\"endings\":%s,"
                 "\"size_notice\":%s,\"events\":%s}\n",
                 layout.columns, layout.rows, windows.c_str(), list(conditionNames, json).c_str(),
                 list(conditions, number).c_str(), json(intro).c_str(), endings.c_str(), json(notice).c_str(),
                 events.c_str());
    return std::fclose(out) == 0 ? 0 : 1;
}
