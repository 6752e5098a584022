// The game loop: intro, the Events in play order, the first ending whose test holds, restart or quit.
#include "game/game_loop.h"

#include <string>

#include "console/conditions_panel.h"
#include "console/drawing.h"
#include "console/key_latch.h"
#include "game/event_turn.h"
#include "game/play_order.h"
#include "platform/platform.h"
#include "state/conditions.h"

namespace {
// The texts of the first ending whose test holds, tested in this fixed order; empty if none.
const char* endingTexts() {
    if (conditions.at(health) == conditionEnds.at(health)) {
        return "You collapse from exhaustion and are set to be medically discharged\n"
               "Should've laid off on those peanut butter packets fatty\n\n";
    }
    if (conditions.at(sanity) == conditionEnds.at(sanity)) {
        return "During a manic episode you accidentally say the magic words to your Senior DI\n"
               "Now you can't even have your own shoelaces\n\n";
    }
    if (conditions.at(reputation) == conditionEnds.at(reputation)) {
        return "\"Clearly you don't care about being here\"\nat least thats what the Senior DI said\n"
               "Well it doesn't matter now, a discharge is a discharge\n\n";
    }
    if (conditions.at(punchability) == conditionEnds.at(punchability)) {
        return "You know all those crazy DI stories you hear?\nImagine that but 10x worse\n"
               "at least you made the local news\n\n";
    }
    return nullptr;
}

void showEnding(const char* texts) {
    clearScreen();
    moveCursor(1, 1);
    insertText(texts);
    printFormatted("You survived %d", daysSurvived);
    insertText(daysSurvived == 1 ? " Day\n" : " Days\n");
    insertText("\nPress ENTER to restart or Q to quit\n");
}

// True to restart, false to quit: ENTER is polled first in each cycle, so it wins a tie.
bool restartChosen() {
    flushScreen();
    for (;;) {
        if (keyPressed(vkEnter) == keyNewPress) return true;
        if (keyPressed(vkQ) == keyNewPress) return false;
        waitForKeyboard();
    }
}
}  // namespace

std::int32_t runGame() {
    for (;;) {
        clearScreen();
        moveCursor(1, 1);
        insertText("You have made the mistake of joining the Marines\n");
        insertText("This is your attempt to get through bootcamp\n\n");
        insertText("Press ENTER to continue\n");
        waitForKey(vkEnter);

        clearScreen();
        drawConditions();
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(playOrder.size()); ++i) {
            runEvent(playOrder.at(static_cast<std::size_t>(i)));
            if (const char* texts = endingTexts()) {
                showEnding(texts);
                break;
            }
            ++daysSurvived;
        }

        if (!restartChosen()) {
            clearScreen();
            return 0;
        }
        resetRecruit();
    }
}
