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
    std::string keys;  // see keyCode
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
        {Fresh, ">", {how}, 1, 1},
        {Fresh, "e", {how}, 1, 1},
        {Fresh, "^", {exit}, 1, 5},
        {Fresh, "K", {exit}, 1, 5},
        // With no game the arrows step over the save entry, and Escape only names the entry.
        {Fresh,
         "vvvvvv>^><<^^^x",
         {how, play, load, exit, how, play, load, play, load, play, how, exit, load, play, play},
         1,
         2},
        // With a game: Escape opens the main menu, the save entry is there, Escape closes the menu.
        {InHouse,
         "xvvvvvv^^^^x",
         {"Main menu", how, play, save, load, exit, how, exit, load, save, play, "Menu closed"},
         0,
         0},
        // How to play: the pages in order and around; Enter or a letter repeats a page.
        {Fresh,
         "ve" + std::string(15, 'v'),
         {how, info, H(1), H(2), H(3), H(4), H(5), H(6), H(7), H(8), H(9), H(10), H(11), H(12), H(13), prev, H(1)},
         2,
         1},
        {Fresh, "ve^^<>eQve", {how, info, prev, H(13), H(12), H(13), H(13), H(13), prev, "Main menu"}, 1, 0},
        {Fresh, "eee", {how, info, H(1)}, 2, 1},
        {Fresh, "vevx", {how, info, H(1), "Main menu"}, 1, 0},
        {InHouse, "xvevx", {"Main menu", how, info, H(1), "Menu closed"}, 0, 0},
        // The ending story from no entry, around, and back to the main menu or the house.
        {Ending, "^v^^e>e", {ret, E(1), ret, E(9), E(9), ret, "Main menu"}, 1, 0},
        {Ending, "Bvx", {ret, E(1), "Menu closed"}, 0, 0},
        // The rate keys speak the rate, then the entry again; in the house only the rate.
        {Fresh, "vv+--", {how, play, "Sapi faster.", play, "Sapi slower.", play, "Sapi slower.", play}, 1, 2},
        {Fresh, "+", {"Sapi faster.", exit}, 1, 5},
        {Fresh, "vevv+", {how, info, H(1), H(2), "Sapi faster.", H(2)}, 2, 2},
        {InHouse, "+-", {"Sapi faster.", "Sapi slower."}, 0, 0},
        // Tab cycles the speech paths; with no screen reader answering the fourth falls back to the voice.
        {Fresh,
         "tttv",
         {"Window eyes support", "Jaws does not seem to be responding, Sapi on.", "Screen reader", how},
         1,
         1},
        // Shift, Alt and 233 do nothing anywhere; Ctrl only silences.
        {Fresh, "sa#*s%a&#c", {""}, 1, 0},
        {InHouse, "sa#*s%a&#c%c", {"", ""}, 0, 0},
        {Ending, "vsa#c", {E(1), ""}, 3, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("keys " + row.keys + " from start " + std::to_string(row.start));
        startSession(true);
        if (row.start != Fresh) startGame();
        if (row.start == Ending) form->youwin();
        const int rate = form->sapivoice->Rate();
        EXPECT_EQ(type(row.keys), row.said);
        EXPECT_EQ(std::make_pair(form->menu, form->menupos), std::make_pair(row.menu, row.menupos));
        EXPECT_EQ(form->sapivoice->Rate(),
                  rate + std::ranges::count(row.keys, '+') - std::ranges::count(row.keys, '-'));
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace tw::keytest
