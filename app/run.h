// app/run.h: the one way every front end runs the game. A front end makes its platform and the
// form, and hands them here; the load, the greeting, the loop of events and the end are the same
// on the terminal, the headless driver, Windows and the browser.
#pragma once

#include <functional>

#include "game/form1.h"

namespace tw {

struct RunHooks {
    // After the load, before the greeting: where a window is shown.
    std::function<void()> shown;
    // The front end's own loop, for a platform that does not wait for events itself; it returns
    // when its events end (the window closed, the commands ran out), with the exit status. Without
    // one, the platform's events run until the game ends the process.
    std::function<int(Form1&)> loop;
};

// Runs the game until it ends and returns the exit status. Every end keeps the game in progress
// in the automatic save: "Exit the game", the end of the front end's events, the end of input and
// a signal (both come as ProcessEnded).
int runGame(Form1& form, const RunHooks& hooks = {});

}  // namespace tw
