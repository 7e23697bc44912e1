// input/playkeys.cpp: rooms, spots, items, the exchange, the jump key and a task's completion.
#include <optional>
#include <string_view>

#include "game/form1.h"
#include "platform/keys.h"

namespace tw {

namespace {

constexpr std::string_view kSpotKeys = "WERTYUI";
constexpr std::string_view kItemKeys = "ASDFGHJ";

// 1..7 for a key of the row, 0 otherwise (also for codes whose low byte only looks like a letter).
int rowindex(std::string_view row, int KeyCode) {
    const auto pos = row.find(static_cast<char>(KeyCode));
    return (KeyCode >= 0 && KeyCode < 128 && pos != std::string_view::npos) ? static_cast<int>(pos) + 1 : 0;
}

}  // namespace

void Form1::housekeys(int KeyCode, int Shift) {
    if (KeyCode >= '0' && KeyCode <= '9') {
        curroom = KeyCode == '0' ? 10 : KeyCode - '0';
        sayit("You're in " + roomname[curroom] + ".");
        curspot = 0;
        curitem = 0;
        return;
    }
    if (const int n = rowindex(kSpotKeys, KeyCode)) {
        if (spotcount[curroom] < n) {
            sayit("");
            return;
        }
        curspot = n;
        curitem = 0;
        sayit("You look " + spotname[curroom][n] + ", in the " + roomname[curroom]);
        return;
    }
    if (const int n = rowindex(kItemKeys, KeyCode)) {
        const int item = itematspot(curroom, curspot, n);
        if (item == 0) {
            sayit("");
            return;
        }
        curitem = item;
        sayit("You see the " + itemname[curitem] + " " + spotname[curroom][curspot] + ".");
        return;
    }
    if (KeyCode == 'Z' || KeyCode == 'X' || KeyCode == 'C' || KeyCode == 'V' || KeyCode == 'B') {
        infokeys(KeyCode);
        return;
    }
    if (KeyCode == key::Grave && Shift == key::CtrlMask) {
        // Straight to the task's target, silently; the chosen item stays chosen.
        curroom = questroom;
        curspot = questspot;
        return;
    }
    if (KeyCode == key::Enter) {
        enterkey();
        return;
    }
    if (KeyCode == key::Comma || KeyCode == key::Period) {
        historykey(KeyCode == key::Comma ? -1 : 1);
        return;
    }
    if (KeyCode == key::F1) {
        sayit(
            "Keys.  Numbers 1 to 0, rooms.  W to I, spots.  A to J, items.  Enter, swap with what you carry.  Z, X "
            "and C, where you are and what you hold.  V, word changes.  B, tasks done.  Q, your task.  Comma and "
            "period, earlier and later messages.  Escape, the menu.  Control and grave accent, or F12, jumps to the "
            "task's spot.");
        return;
    }
    if (KeyCode == 'Q') questkey();
}

void Form1::enterkey() {
    if (curspot == 0) {
        sayit("Pick a spot in this room first.");
        return;
    }
    if (curitem == 0) {
        sayit("Pick an item to swap with first.");
        return;
    }
    const int h = helditem();
    if (h == 0) return;
    itemroom[h] = curroom;
    itemspot[h] = curspot;
    itemroom[curitem] = 0;
    itemspot[curitem] = 0;
    sayit("You have set the " + itemname[h] + " down " + spotname[curroom][curspot] + ", and picked up the " +
          itemname[curitem] + ".");
    curitem = h;
    if (questcheck() == 1) taskcompleted();
}

void Form1::taskcompleted() {
    ++flowdepth_;
    // An end that comes during the waits (a signal, the end of input, the window closing) lets the
    // completion run on without them, so what is kept is whole: the count, the next task, the word
    // change and its announcement. The end then goes on.
    std::optional<ProcessEnded> ended;
    const auto wait = [this, &ended](double seconds) {
        if (ended) return;
        try {
            hold(seconds);
        } catch (const ProcessEnded& end) {
            ended = end;
        }
    };
    wait(1);
    if (!ended) platform.playSound(shippedpath("sounds/award.wav"));
    ++questsdone;
    if (questsdone > besttasks.value_or(0)) besttasks = questsdone;
    if (questsdone < kTasksToWin) setquest();
    wait(2);
    if (questsdone < kTasksToWin) swapmore();
    if (questsdone >= kTasksToWin) youwin();
    autosave();
    if (ended) throw *ended;
    // On the game's own voice the announcement is heard whole before the keys pressed during the
    // waits speak; a key pressed while it plays ends the wait, as every key cuts speech short.
    if (speechmode == 0 && !heldkeys_.empty() && sapivoice) {
        const std::size_t held = heldkeys_.size();
        for (int i = 0; i < 1200 && sapivoice->speaking() && heldkeys_.size() == held; ++i) hold(0.05);
    }
    --flowdepth_;

    // Keys pressed during the waits, in the order they came. One of them may complete
    // another task; that flow then drains the rest of the queue itself.
    while (flowdepth_ == 0 && !heldkeys_.empty()) {
        const auto [code, shift] = heldkeys_.front();
        heldkeys_.pop_front();
        runkey(code, shift);
    }
}

}  // namespace tw
