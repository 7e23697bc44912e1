// input/speechkeys.cpp: Tab for the next speech path, Page Up and Page Down for the rate.
#include <algorithm>

#include "game/form1.h"

namespace tw {

void Form1::speechpathkey() {
    ++speechmode;
    if (speechmode > 3) speechmode = 0;
    if (speechmode == 0) {
        setwindowtitle(titletext(true));
        sayit("Sapi on");
    }
    if (speechmode == 1) sayit("Screen reader");
    if (speechmode == 2) sayit("Window eyes support");
    // The player's own choice from now on, whatever a stall made of it before.
    fellbackfrom_ = 0;
    // A reader that stalled earlier gets one more try when the player picks it again, with the
    // bound the first had: the daemon may answer again by now.
    if (speechmode == 3 && jawsloaded == 0 && jawsobj) {
        try {
            jawsobj = platform.createJawsApi();
            jawsloaded = 1;
        } catch (const std::exception&) {}
    }
    if (speechmode == 3 && jawsloaded == 1) {
        setwindowtitle(titletext(false));
        sayit("Jaws");
    }
    if (speechmode == 3 && jawsloaded == 0) {
        speechmode = 0;
        setwindowtitle(titletext(false));
        sayit("Jaws does not seem to be responding, Sapi on.");
    }
}

void Form1::ratekey(int step) {
    // Held within the voice's scale: presses past its fastest or slowest change nothing and
    // store nothing.
    sapivoice->setRate(std::clamp(sapivoice->Rate() + step, kMinRate, kMaxRate));
    sayit(step > 0 ? "Sapi faster." : "Sapi slower.");
}

}  // namespace tw
