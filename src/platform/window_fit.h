// The game's screen placed in the window at hand: the game's own layout where the window holds it,
// else the same screen laid out to fit (the panel beside the Event with the effects line under the
// outcome; the panel under the Event's text; lines wrapped at blanks), or nothing where nothing
// fits. Pure functions of the layout, the window's size and the screen's cells.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/screen_cells.h"

enum class Arrangement {
    asDrawn,  // the game's own layout, its bytes written as they are
    beside,   // the panel where the game draws it, the effects line under the outcome
    stacked,  // the Event's side, then the effects line, then the panel, each under the other
};

// How the screen is placed in a window of one size.
struct WindowPlan {
    Arrangement arrangement;
    ScreenSize window;
    int panelRow = 0;  // stacked: the window's row where the panel begins
    int rows = 0;      // the window's rows the layout takes (the cursor goes under them when cut short)
    bool operator==(const WindowPlan&) const = default;
};

// A line's pieces, [begin, end) each, as they are wrapped to `width` columns: breaks fall at
// blanks, never before a number (it stays with the word it belongs to: "Sanity -15"), unless
// there is no other; a word wider than the window is cut.
struct Piece {
    std::size_t begin;
    std::size_t end;
    bool operator==(const Piece&) const = default;
};
std::vector<Piece> wrapLine(std::string_view line, int width);

// The narrowest window the game lays its screen out in (each line of the Event's side wraps to a
// few rows at the most there).
int narrowestColumns(const ScreenLayout& layout);

// The fewest rows a window this wide needs to play, if any.
std::optional<int> rowsNeeded(const ScreenLayout& layout, int columns, LayoutChoice choice);

// The windows worth naming to a player: the layout as drawn; the smallest in which no line of the
// Event's side wraps; the narrowest, with the rows it needs.
struct WindowsThatPlay {
    ScreenSize asDrawn;
    ScreenSize unwrapped;
    ScreenSize narrowest;
};
WindowsThatPlay windowsThatPlay(const ScreenLayout& layout);

// The smallest window that plays, for the notice in a window of this size: the fewest rows at its
// width (with the narrowest width that needs no more), or the narrowest window where it is too
// narrow.
ScreenSize smallestWindow(const ScreenLayout& layout, ScreenSize window, LayoutChoice choice);

// How the screen goes into the window, or nothing where it does not fit.
std::optional<WindowPlan> planWindow(const ScreenLayout& layout, ScreenSize window, LayoutChoice choice);

// The window's cells for the game's screen, placed as planned; the cursor where the game's cursor
// stands in the text it rests on.
Cells fitScreen(const Cells& screen, const ScreenLayout& layout, const WindowPlan& plan);
