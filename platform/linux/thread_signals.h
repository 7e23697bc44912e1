// platform/linux/thread_signals.h: the signals a back end's own threads leave to the game's thread.
#pragma once

#include <pthread.h>
#include <signal.h>

namespace tw {

// Called first thing on every thread a back end starts (and so inherited by the threads that
// libraries start from it): the signals that end or suspend the game then always reach the
// game's own thread, whose loop is waiting for them; and SIGPIPE, from writing to a daemon or a
// sound server that went away, is never raised at all.
inline void blockThreadSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH}) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace tw
