// platform/terminal/terminal_main.cpp: runs the game in the terminal until the game or the input ends it.
#include "platform/terminal/terminal_main.h"

#include "game/form1.h"
#include "platform/terminal/terminal_platform.h"

namespace tw {

int runTerminal(const TerminalOptions& options) {
    TerminalSettings settings;
    settings.programFolder = options.home;
    settings.speechWav = options.speechWav;
    settings.echo = options.echo;
    TerminalPlatform platform(settings);

    Form1 form(platform);
    platform.attach(&form);
    form.seedoverride = options.seed;
    form.Form_Load();
    form.Form_Activate();
    // Only the game (through endProcess) or the end of input ends the process.
    for (;;) {
        platform.waitEvents();
        platform.doEvents();
    }
}

}  // namespace tw
