// The browser backend: the page's terminal shows the game's bytes, the page's key listeners tell
// each key going down and coming up, and a wait suspends into the browser until one does.
//
// The page (web/game.js) gives each game a host object, Module.bootcampHost; everything here
// reaches the page through it. The page names keys its own way: the game's key codes, and how
// key news is handed back, are told it when the game opens, and written nowhere else. stdout
// comes to the host byte by byte (Module.stdout), and this file writes through stdout too, so
// every byte reaches the terminal in the order written.
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/backend.h"
#include "platform/keys.h"

namespace {
// The kinds of key news the page hands over, each with a virtual-key code: kind * 65536 + vk.
constexpr int pageKeyDown = 1;
constexpr int pageKeyUp = 2;
constexpr int pageFocusLost = 3;
constexpr int kindShift = 16;
constexpr int vkMask = 0xffff;

// The page makes its terminal this size and scales it to the window, so the game always finds
// a terminal exactly as large as its layout. Nonzero when the page has no terminal to show.
// The page also reads its text view off that terminal: the Event's side left of the panel's
// column, the panel above the effects line, each condition's value out of gaugeMax, the
// conditions of the bits of endingHigh ending the run at gaugeMax. It hands key news back in the
// codes given: the virtual-key codes of ENTER, Q and the digit 0 (the digits follow it), the
// kinds, and the kind's scale.
EM_JS(int, pageOpen,
      (int columns, int rows, int splitColumn, int effectsLine, int gaugeMax, int endingHigh, int enterCode, int qCode,
       int digit0Code, int downKind, int upKind, int focusLostKind, int kindScale),
      {
          return Module.bootcampHost.open(columns, rows, splitColumn, effectsLine, gaugeMax, endingHigh, enterCode,
                                          qCode, digit0Code, downKind, upKind, focusLostKind, kindScale);
      });

// The terminal's size as the page made it.
EM_JS(int, pageColumns, (), { return Module.bootcampHost.columns(); });
EM_JS(int, pageRows, (), { return Module.bootcampHost.rows(); });

// Everything collected goes to the terminal in one write.
EM_JS(void, pageFlush, (), { Module.bootcampHost.flush(); });

// The next key news, or -1 when there is none.
EM_JS(int, pageNextKey, (), { return Module.bootcampHost.nextKey(); });

// Resolves once there is key news, or after timeoutMs (never when negative). Until then the
// game is suspended and the page uses no processor time for it.
EM_ASYNC_JS(void, pageKeysChanged, (int timeoutMs), { await Module.bootcampHost.keysChanged(timeoutMs); });

// The game is over: the page stops handing it keys.
EM_JS(void, pageClose, (), { Module.bootcampHost.close(); });

bool opened = false;

void translate(int news, std::vector<BackendEvent>& events) {
    const int vk = news & vkMask;
    if (vk > 255) return;  // the key timeline knows virtual-key codes only
    switch (news >> kindShift) {
    case pageKeyDown: events.push_back({BackendEventKind::keyDown, vk}); break;
    case pageKeyUp: events.push_back({BackendEventKind::keyUp, vk}); break;
    case pageFocusLost: events.push_back({BackendEventKind::focusLost}); break;
    default: break;
    }
}

bool collectPageNews(std::vector<BackendEvent>& events) {
    bool any = false;
    for (int news = pageNextKey(); news >= 0; news = pageNextKey()) {
        translate(news, events);
        any = true;
    }
    return any;
}
}  // namespace

namespace backend {

// Nothing to take: no modes, no signals. The page reports every key going down and up, and its
// terminal never changes size.
BackendOpening open(const ScreenLayout& layout, std::string_view) {
    // The page's terminal is made exactly the layout's size.
    if (pageOpen(layout.size.columns, layout.size.rows, layout.panelColumn, layout.effectsRow, layout.gaugeMax,
                 layout.gaugesEndingHigh, vkEnter, vkQ, vkDigit0, pageKeyDown, pageKeyUp, pageFocusLost,
                 1 << kindShift) != 0)
        throw std::runtime_error("this page cannot show a terminal");
    opened = true;
    return {"", true, true};
}

// Nothing cuts the page's game short.
void setCutShort(std::string_view) {}

void close() {
    if (!opened) return;
    opened = false;
    std::fflush(stdout);
    pageFlush();  // the game's last bytes
    pageClose();
}

// Nothing to give back but the page's keys, which close stops handing over.
void closeCutShort() { close(); }

std::optional<ScreenSize> windowSize() {
    if (!opened) return std::nullopt;
    return ScreenSize{pageColumns(), pageRows()};
}

void read(std::vector<BackendEvent>& events, std::optional<int> timeoutMs) {
    pageFlush();  // the screen is drawn before the game waits
    if (collectPageNews(events)) return;
    pageKeysChanged(timeoutMs.value_or(-1));
    collectPageNews(events);
}

std::int64_t clockMs() { return static_cast<std::int64_t>(emscripten_get_now()); }

// Ctrl+C stays the browser's, so nothing ends the game this way; should it come to that, the
// game's instance ends with the shell's status for an interrupt.
void endByInterrupt() { std::_Exit(130); }

}  // namespace backend
