// speech/sayit.cpp: the four speech paths, the screen-reader object and the window title.
#include <utility>

#include "game/form1.h"
#include "platform/keys.h"

namespace tw {

void Form1::setwindowtitle(const std::string& text) { platform.setTitle(text); }

void Form1::sayafter(const std::string& tempm) {
    queuenext_ = true;
    sayit(tempm);
}

void Form1::sayit(const std::string& tempm) {
    const int flags = queuenext_ ? kSpeakAsync : kSpeakAsyncPurge;
    queuenext_ = false;
    // Only this text is the history's replay: keys that run while it is being said (the chord
    // lets them) are answered, and recorded, as any other.
    const bool replay = std::exchange(replaying_, false);
    if (!tempm.empty() && !replay) {
        if (history_.size() == kHistorySize) history_.pop_front();
        history_.push_back(tempm);
        historypos_ = history_.size() - 1;
    }
    platform.said(tempm, speechmode);
    // A speech call that fails at run time is dropped: the game neither ends nor blocks.
    if (speechmode == 0) {
        try {
            if (sapivoice) sapivoice->speak(tempm, flags);
        } catch (const std::exception&) {}
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
        // Ctrl+Shift+T tells Window-Eyes to read the title.
        constexpr int chord[] = {key::Ctrl, key::Shift, 'T'};
        ignorekeys = 1;
        for (int vk : chord) platform.keybd_event(vk, key::EventPress);
        platform.doEvents();
        for (int vk : chord) platform.keybd_event(vk, key::EventRelease);
        ignorekeys = 0;
        runchordkeys();
        platform.doEvents();
    }
    if (speechmode == 3) {
        try {
            // Each new line cuts the one before, and the empty text silences, as on every other
            // path; what is said after (a failure told behind an announcement) waits its turn.
            if (jawsobj) {
                jawsobj->SayString(tempm, (flags & kSpeakPurge) != 0);
            } else if (sapivoice) {
                sapivoice->speak(tempm, flags);
            }
        } catch (const std::exception&) {}
    }
}

// Comma goes one message back, period one forward; at either end the message comes again with a
// word that says so. Each message is said as it was first said.
void Form1::historykey(int step) {
    if (history_.empty()) {
        sayit("");
        return;
    }
    std::string end;
    if (step < 0 && historypos_ == 0) end = "Oldest message.  ";
    if (step > 0 && historypos_ + 1 == history_.size()) end = "Newest message.  ";
    if (end.empty()) historypos_ = step < 0 ? historypos_ - 1 : historypos_ + 1;
    replaying_ = true;
    sayit(end + history_[historypos_]);
    replaying_ = false;
}

void Form1::runchordkeys() {
    while (!chordkeys_.empty()) {
        const auto [code, shift] = chordkeys_.front();
        chordkeys_.pop_front();
        Form_KeyDown(code, shift);
    }
}

// A box that cannot speak for itself is heard through the voice or the reader; on the title
// paths the box's own printed text is what the screen reader reads.
void Form1::speakBox(const std::string& text, bool promptSpoken) {
    try {
        if (speechmode == 0 && !promptSpoken && sapivoice) sapivoice->speak(text, kSpeakAsyncPurge);
        if (speechmode == 3) {
            if (jawsobj)
                jawsobj->SayString(text, false);
            else if (sapivoice && !promptSpoken)
                sapivoice->speak(text, kSpeakAsyncPurge);
        }
    } catch (const std::exception&) {}
}

// The screen reader's interface stopped answering: as when it could not be made at all, the game
// goes on with its own voice, and says so once, if it was speaking through the reader.
void Form1::screenReaderSilent() {
    if (jawsloaded != 1) return;
    jawsloaded = 0;
    if (speechmode != 3) return;
    speechmode = 0;
    fellbackfrom_ = 3;
    setwindowtitle(titletext(false));
    sayit("Jaws does not seem to be responding, Sapi on.");
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
