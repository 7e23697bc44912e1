// app/run.cpp: the load, the greeting, the loop of events and the end, for every front end.
#include "app/run.h"

namespace tw {

int runGame(Form1& form, const RunHooks& hooks) {
    int status = 0;
    try {
        form.Form_Load();
        if (hooks.shown) hooks.shown();
        form.Form_Activate();
        if (hooks.loop) {
            status = hooks.loop(form);
        } else {
            for (;;) {
                form.platform.waitEvents();
                form.platform.doEvents();
            }
        }
    } catch (const ProcessEnded& end) {
        status = end.status;
    }
    // Also after "Exit the game", which has kept the game itself: the same game is written again.
    form.autosave();
    return status;
}

}  // namespace tw
