// The conditions panel: title, a text line and a gauge bar per condition, right of the Event's side.
#include "console/conditions_panel.h"

#include <string>

#include "console/drawing.h"
#include "state/conditions.h"

void drawConditions() {
    // The title is centred over the panel's columns; everything else starts at its first column.
    printCentered("Conditions", {panelColumn, 0});
    for (std::size_t i = 0; i < conditions.size(); ++i) {
        const auto row = static_cast<std::int32_t>(2 * i);
        // The two trailing blanks cover the digits of a longer earlier value.
        printAt(conditionNames.at(i) + ": " + std::to_string(conditions.at(i)) + "  ", {panelColumn, row + 1});
        printAt(makeBar(conditions.at(i)), {panelColumn, row + 2});
    }
}
