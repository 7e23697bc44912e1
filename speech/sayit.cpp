// speech/sayit.cpp: the four speech paths, the screen-reader object and the window title.
#include "game/form1.h"

namespace tw {

void Form1::setwindowtitle(const std::string& text) { platform.setTitle(text); }

void Form1::sayit(const std::string& tempm) {
    platform.said(tempm, speechmode);
    // A speech call that fails at run time is dropped: the game neither ends nor blocks.
    if (speechmode == 0) {
        try {
            if (sapivoice) sapivoice->speak(tempm, 3);
        } catch (const std::exception&) {
        }
    }
    if (speechmode == 1 || speechmode == 2) {
        // The title must change for the screen reader to speak, also for the same text twice.
        if (platform.title() == tempm) {
            setwindowtitle(tempm + " ");
            platform.doEvents();
        }
        setwindowtitle(tempm);
    }
    if (speechmode == 2) {
        ignorekeys = 1;
        platform.keybd_event(17, 0);
        platform.keybd_event(16, 0);
        platform.keybd_event(84, 0);
        platform.doEvents();
        platform.keybd_event(17, 2);
        platform.keybd_event(16, 2);
        platform.keybd_event(84, 2);
        ignorekeys = 0;
        platform.doEvents();
    }
    if (speechmode == 3) {
        try {
            if (jawsobj) {
                jawsobj->SayString(tempm, false);
            } else if (sapivoice) {
                sapivoice->speak(tempm, 3);
            }
        } catch (const std::exception&) {
        }
    }
}

void Form1::loadjaws(const std::function<void(const std::string&)>& startuplog) {
    jawsloaded = -1;
    try {
        if (jawsloaded == -1) jawsobj = platform.createJawsApi();
        jawsloaded = 1;
    } catch (const std::exception& e) {
        startuplog(std::string("error: ") + e.what());
        if (jawsloaded == -1) jawsloaded = 0;
    }
}

}  // namespace tw
