// platform/terminal/terminal_main.cpp: runs the game in the terminal until the game or the input ends it.
#include "platform/terminal/terminal_main.h"

#include <csignal>

#include "app/run.h"
#include "platform/terminal/terminal_platform.h"

namespace tw {

int runTerminal(const TerminalOptions& options) {
    TerminalSettings settings;
    settings.programFolder = options.home;
    settings.playerFolder = options.player;
    settings.speechWav = options.speechWav;
    settings.echo = options.echo;
    int status = 0;
    {
        TerminalPlatform platform(settings);
        // Made after the platform, so torn down first: the voice finishes its WAV file and the
        // worker threads are joined while the platform still stands.
        Form1 form(platform);
        form.seedoverride = options.seed;
        status = runGame(form);
    }
    // Asked to end by a signal: end the way that signal ends a process.
    if (const int sig = TerminalPlatform::endingSignal()) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
    }
    return status;
}

}  // namespace tw
