// input/keydown.cpp: the one key handler: its order of tests and the three spoken menus.
#include "game/ending.h"
#include "game/form1.h"
#include "input/howto.h"
#include "platform/keys.h"

namespace tw {

void Form1::Form_KeyDown(int KeyCode, int Shift) {
    // While sayit sends its chord the player's keys wait, and run in order once it is sent.
    if (ignorekeys == 1) {
        chordkeys_.emplace_back(KeyCode, Shift);
        return;
    }
    // During the waits of a task's completion keys are held back and run once it has ended,
    // so that no key sees the flow half done; Ctrl only silences speech and acts at once.
    if (flowdepth_ > 0 && KeyCode != key::Ctrl) {
        heldkeys_.emplace_back(KeyCode, Shift);
        return;
    }
    // The places where events run (a title said twice, a wait) let a key be handled inside
    // another. Past a few levels, and behind any key already waiting so, keys wait their turn
    // and run in order once the outermost key is done: a long paste cannot exhaust the stack.
    if (keydepth_ >= kMaxKeyNesting || (keydepth_ > 0 && !deferredkeys_.empty())) {
        deferredkeys_.emplace_back(KeyCode, Shift);
        return;
    }
    runkey(KeyCode, Shift);
    while (keydepth_ == 0 && !deferredkeys_.empty()) {
        const auto [code, shift] = deferredkeys_.front();
        deferredkeys_.pop_front();
        runkey(code, shift);
    }
}

void Form1::runkey(int KeyCode, int Shift) {
    ++keydepth_;
    try {
        dispatchkey(KeyCode, Shift);
    } catch (...) {
        --keydepth_;
        throw;
    }
    --keydepth_;
}

// The game's own chord reaches its window too; while it is being sent it is dropped.
void Form1::syntheticKeyDown(int KeyCode, int Shift) {
    if (ignorekeys == 1) return;
    Form_KeyDown(KeyCode, Shift);
}

void Form1::dispatchkey(int KeyCode, int Shift) {
    if (KeyCode == key::Ctrl) {
        sayit("");
        return;
    }
    if (KeyCode == key::Oem233 || KeyCode == key::Shift || KeyCode == key::Alt) return;
    if (KeyCode == key::Tab) {
        speechpathkey();
        return;
    }
    if (KeyCode == key::PageUp) ratekey(1);
    if (KeyCode == key::PageDown) ratekey(-1);
    if (KeyCode == key::Escape && menu == 0) {
        menu = 1;
        menupos = 0;
        sayit("Main menu");
        return;
    }
    if (KeyCode == key::Escape && curroom != 0) {
        menu = 0;
        menupos = 0;
        sayit("Menu closed");
        return;
    }
    if (menu != 0) {
        if (KeyCode == key::Right || KeyCode == key::Down) ++menupos;
        if (KeyCode == key::Left || KeyCode == key::Up) {
            --menupos;
            if (menupos == 0) menupos = -1;
        }
        if (menu == 1)
            mainmenukeys(KeyCode);
        else if (menu == 2)
            pagemenukeys(KeyCode, howtopages.data(), static_cast<int>(howtopages.size()), "Previous menu");
        else if (menu == 3)
            pagemenukeys(KeyCode, endingpages.data(), static_cast<int>(endingpages.size()), "Return to the main menu.");
        return;
    }
    housekeys(KeyCode, Shift);
}

void Form1::mainmenukeys(int& KeyCode) {
    if (KeyCode == key::Enter && menupos == 0) {
        menupos = 1;
        KeyCode = key::Tab;  // the first entry is announced, not chosen
    }
    if (menupos <= 0) menupos = 5;
    if (menupos > 5) menupos = 1;
    if (menupos == 1) {
        if (KeyCode == key::Enter) {
            menu = 2;
            menupos = 0;
            sayit("Arrow down for information");
        } else {
            sayit("How to play");
        }
    }
    // With no game there is nothing to save: the arrows step over that entry.
    if (menupos == 3 && curroom == 0) {
        if (KeyCode == key::Down || KeyCode == key::Right) menupos = 4;
        if (KeyCode == key::Up || KeyCode == key::Left) menupos = 2;
    }
    if (menupos == 2) {
        if (KeyCode == key::Enter) {
            playgame();
        } else {
            sayit("Play the game");
        }
    }
    if (menupos == 3) {
        if (KeyCode == key::Enter) {
            saveprompt();
        } else {
            sayit("Save current game");
        }
    }
    if (menupos == 4) {
        if (KeyCode == key::Enter) {
            loadprompt();
        } else {
            sayit("Load game");
        }
    }
    if (menupos == 5) {
        if (KeyCode == key::Enter) {
            exitgame();
        } else {
            sayit("Exit the game");
        }
    }
}

// The how-to-play pages and the ending story: numbered pages, then one entry that leads back.
void Form1::pagemenukeys(int& KeyCode, const std::string* pages, int pagecount, const char* lastlabel) {
    if (KeyCode == key::Escape) {
        menu = 1;
        menupos = 0;
        sayit("Main menu");
        return;
    }
    if (KeyCode == key::Enter && menupos == 0) {
        menupos = 1;
        KeyCode = key::Tab;
    }
    const int entries = pagecount + 1;
    if (menupos <= 0) menupos = entries;
    if (menupos > entries) menupos = 1;
    if (menupos <= pagecount) {
        sayit(pages[menupos - 1]);
    } else if (KeyCode == key::Enter) {
        menu = 1;
        menupos = 0;
        sayit("Main menu");
    } else {
        sayit(lastlabel);
    }
}

void Form1::playgame() {
    // The game in progress is kept, then moved aside when the new one takes its place.
    autosave();
    lastisother_ = true;
    menu = 0;
    menupos = 0;
    newgame();
    sayit("You have arrived at Dorvel's house.  Press Q, to hear your first task." +
          std::string(autosave() == Autosaved::earlierkept ? kEarlierKept : ""));
    if (!wordsok) {
        sayit(
            "The word list, words.txt, could not be read, so Dorvel's words will not change in this game.  "
            "Press Q, to hear your first task.");
    }
}

void Form1::exitgame() {
    // Heard before the end, so the player knows the game waits in the load list.
    if (autosave() != Autosaved::nothing && hasprogress(*this)) {
        sayit("Your game is kept as your last game.");
        hold(kKeptWait);
    }
    const Outcome saved = saveprogress();
    if (!saved.ok) {
        // The player would otherwise believe the new settings kept; the wait lets it be heard.
        std::string why = saved.why;
        if (!why.empty() && why[0] >= 'A' && why[0] <= 'Z') why[0] = static_cast<char>(why[0] - 'A' + 'a');
        sayit("Your speech settings and record could not be saved in progress.ini: " + why + ".");
        hold(kUnsavedSettingsWait);
    }
    hold(0.5);
    platform.doEvents();
    platform.endProcess();
}

}  // namespace tw
