// speech/hold.cpp: timed waits during which window events, keys included, go on.
#include <cmath>

#include "game/form1.h"

namespace tw {

void Form1::hold(double seconds) {
    Holder.setEnabled(true);
    Holder.setInterval(static_cast<int>(std::lround(seconds * 1000.0)));
    while (Holder.Interval() > 0) {
        platform.doEvents();
        if (Holder.Interval() > 0) platform.waitEvents();
    }
    Holder.setEnabled(false);
}

// The first tick ends every wait under way: they share the one timer.
void Form1::Holder_Timer() { Holder.setInterval(0); }

}  // namespace tw
