// Reading and clicking a window's list boxes as the user sees and uses
// them, for tests on the headless window system.
#pragma once

#include "platform/headless/HeadlessUi.h"

#include <string>
#include <vector>

namespace tavlo::test {

// The items in screen order.
inline std::vector<std::string> ListItems(const port::headless::HeadlessUi& ui,
                                          port::WindowHandle window, int id) {
    std::vector<std::string> items;
    for (int i = 0; i < ui.ListGetCount(window, id); ++i)
        items.push_back(ui.ListGetText(window, id, i));
    return items;
}

// Selects an item as a click does: the selection changes, then the box
// tells its window.
inline void ClickListItem(port::headless::HeadlessUi& ui, port::WindowHandle window, int id,
                          int index) {
    ui.ListSetCurSel(window, id, index);
    ui.SendMessage(window, port::kWmCommand,
                   port::MakeCommandParam(static_cast<unsigned>(id), port::kSelChange), 0);
}

// A button's command sent to its window, as a click does.
inline void ClickButton(port::headless::HeadlessUi& ui, port::WindowHandle window, int id) {
    ui.SendMessage(window, port::kWmCommand, port::MakeCommandParam(static_cast<unsigned>(id)), 0);
}

} // namespace tavlo::test
