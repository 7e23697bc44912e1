// tests/menu_test.cpp: the three spoken menus (main menu, how to play, ending story), speech keys and ignored keys, as
// a table.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "game/ending.h"
#include "input/howto.h"
#include "keys_util.h"

namespace tw::keytest {
namespace {

class MenuTest : public KeyFixture {};

enum Start { Fresh, InHouse, Ending };

struct Row {
    Start start;
    std::string keys;  // see keyPresses
    Texts said;
    int menu, menupos;
};

TEST_F(MenuTest, KeysAndWhatTheySay) {
    const auto H = [](std::size_t page) { return howtopages.at(page - 1); };
    const auto E = [](std::size_t page) { return endingpages.at(page - 1); };
    const std::string how = "How to play", play = "Play the game", save = "Save current game", load = "Load game",
                      exit = "Exit the game", info = "Arrow down for information", prev = "Previous menu",
                      ret = "Return to the main menu.";
    const std::vector<Row> rows = {
        // Nothing chosen: Down and Right give the first entry, Enter names it, any other key the last.
        {Fresh, "Right", {how}, 1, 1},
        {Fresh, "Enter", {how}, 1, 1},
        {Fresh, "Up", {exit}, 1, 5},
        {Fresh, "K", {exit}, 1, 5},
        // With no game the arrows step over the save entry, and Escape only names the entry.
        {Fresh,
         "Down Down Down Down Down Down Right Up Right Left Left Up Up Up Escape",
         {how, play, load, exit, how, play, load, play, load, play, how, exit, load, play, play},
         1,
         2},
        // With a game: Escape opens the main menu, the save entry is there, Escape closes the menu.
        {InHouse,
         "Escape Down Down Down Down Down Down Up Up Up Up Escape",
         {"Main menu", how, play, save, load, exit, how, exit, load, save, play, "Menu closed"},
         0,
         0},
        // How to play: the pages in order and around; Enter or a letter repeats a page.
        {Fresh,
         "Down Enter " + times(15, "Down"),
         {how, info, H(1), H(2), H(3), H(4), H(5), H(6), H(7), H(8), H(9), H(10), H(11), H(12), H(13), prev, H(1)},
         2,
         1},
        {Fresh,
         "Down Enter Up Up Left Right Enter Q Down Enter",
         {how, info, prev, H(13), H(12), H(13), H(13), H(13), prev, "Main menu"},
         1,
         0},
        {Fresh, "Enter Enter Enter", {how, info, H(1)}, 2, 1},
        {Fresh, "Down Enter Down Escape", {how, info, H(1), "Main menu"}, 1, 0},
        {InHouse, "Escape Down Enter Down Escape", {"Main menu", how, info, H(1), "Menu closed"}, 0, 0},
        // The ending story from no entry, around, and back to the main menu or the house.
        {Ending, "Up Down Up Up Enter Right Enter", {ret, E(1), ret, E(9), E(9), ret, "Main menu"}, 1, 0},
        {Ending, "B Down Escape", {ret, E(1), "Menu closed"}, 0, 0},
        // The rate keys speak the rate, then the entry again; in the house only the rate.
        {Fresh,
         "Down Down PageUp PageDown PageDown",
         {how, play, "Sapi faster.", play, "Sapi slower.", play, "Sapi slower.", play},
         1,
         2},
        {Fresh, "PageUp", {"Sapi faster.", exit}, 1, 5},
        {Fresh, "Down Enter Down Down PageUp", {how, info, H(1), H(2), "Sapi faster.", H(2)}, 2, 2},
        {InHouse, "PageUp PageDown", {"Sapi faster.", "Sapi slower."}, 0, 0},
        // The rate stays within SAPI's scale: from 3 up to 10, or down to -10.
        {InHouse, times(20, "PageUp"), Texts(20, "Sapi faster."), 0, 0},
        {InHouse, times(60, "PageDown"), Texts(60, "Sapi slower."), 0, 0},
        // Shift, Alt and 233 do nothing anywhere; Ctrl only silences.
        {Fresh, "Shift Alt Oem233 Shift+Shift Ctrl+Alt Alt+Oem233 Ctrl", {""}, 1, 0},
        {InHouse, "Shift Alt Oem233 Shift+Shift Ctrl+Alt Alt+Oem233 Ctrl Ctrl+Ctrl", {"", ""}, 0, 0},
        {Ending, "Down Shift Alt Oem233 Ctrl", {E(1), ""}, 3, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("keys " + row.keys + " from start " + std::to_string(row.start));
        startSession(true);
        if (row.start != Fresh) startGame();
        if (row.start == Ending) form->youwin();
        const int rate = form->sapivoice->Rate();
        EXPECT_EQ(type(row.keys), row.said);
        EXPECT_EQ(std::make_pair(form->menu, form->menupos), std::make_pair(row.menu, row.menupos));
        const auto presses = keyPresses(row.keys);
        EXPECT_EQ(form->sapivoice->Rate(),
                  std::clamp<long>(rate + std::ranges::count(presses, key::PageUp, &Press::code) -
                                       std::ranges::count(presses, key::PageDown, &Press::code),
                                   kMinRate, kMaxRate));
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace tw::keytest
