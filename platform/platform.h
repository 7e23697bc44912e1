// platform/platform.h: everything the game asks of the outside world, as one small interface.
// The core includes this header, platform/files.h (the files it reads and writes),
// platform/keys.h (the key codes) and platform/silent_voice.h, and no other; each back end lives
// in its own folder beside them.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace tw {

// The voice's speak flags, with SAPI's values.
constexpr int kSpeakAsync = 1;
constexpr int kSpeakPurge = 2;
constexpr int kSpeakAsyncPurge = kSpeakAsync | kSpeakPurge;
// The rate the game gives its voice at start-up, before progress.ini is read; a voice of our own
// making starts there too, so what is said before the settings sounds the same.
constexpr int kDefaultRate = 3;
// SAPI's scale of rates; every voice maps the whole of it onto its own.
constexpr int kMinRate = -10;
constexpr int kMaxRate = 10;

// The speech engine's voice (SAPI's SpVoice on Windows). Rate keeps SAPI's scale of whole
// numbers; a back end maps it to its own units and may clamp what it hands to the engine.
class Voice {
public:
    virtual ~Voice() = default;
    // kSpeakAsyncPurge: speak asynchronously and drop whatever is being spoken.
    virtual void speak(const std::string& text, int flags) = 0;
    virtual int Rate() const = 0;
    virtual void setRate(int rate) = 0;
    virtual int volume() const = 0;
    virtual void setVolume(int volume) = 0;
    // True while something said is still being spoken (or waits to be).
    virtual bool speaking() const { return false; }
};

// A screen reader's own speech interface (the JAWS API object on Windows).
class ScreenReaderApi {
public:
    virtual ~ScreenReaderApi() = default;
    // flush false queues the text after what the reader is saying.
    virtual void SayString(const std::string& text, bool flush) = 0;
};

// The window's events, delivered by the platform while the game lets events run.
class EventSink {
public:
    virtual ~EventSink() = default;
    // A key the player pressed.
    virtual void Form_KeyDown(int KeyCode, int Shift) = 0;
    // A press the game itself sent through keybd_event, coming back to its own window.
    virtual void syntheticKeyDown(int KeyCode, int Shift) = 0;
    virtual void Holder_Timer() = 0;
    // A box's text, for the speech path in use when the box cannot speak for itself (a terminal).
    // promptSpoken: the game has just spoken this box's question itself.
    virtual void speakBox(const std::string& text, bool promptSpoken) = 0;
    // The screen reader's speech interface stopped answering.
    virtual void screenReaderSilent() {}
    // The window may be taken away without another word (a browser tab hidden, on its way to be
    // closed or frozen): the game in progress is to be kept now.
    virtual void keepGame() {}
    // True while a key is being handled (or the game holds keys back): the end of input then
    // waits until it and the keys that came before the end have all been handled.
    virtual bool handlingKey() const { return false; }
};

// How the program ends, on every front end: endProcess throws this, the front end's loop catches
// it and returns, and the game's objects are destroyed in order on the way out. Not a
// std::exception, so the game's own failure handling never catches it.
struct ProcessEnded {
    int status = 0;
};

// Thrown by a back end when an object cannot be created; what() is the platform's description.
class PlatformError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Platform {
public:
    virtual ~Platform() = default;

    // The game window, whose events go to sink.
    virtual void attach(EventSink* sink) = 0;
    virtual std::string title() = 0;
    virtual void setTitle(const std::string& text) = 0;

    // Let pending window events (keys, timer ticks) run once, then return.
    virtual void doEvents() = 0;
    // Sleep until an event may be pending (a key, the timer falling due). Never required for
    // correctness; it only keeps a waiting loop from spinning.
    virtual void waitEvents() {}
    // The one window timer: a tick every intervalMs while it is above 0; 0 stops it.
    virtual void setTimer(int intervalMs) = 0;

    // Every text the game speaks, whatever the path, before the path gets it.
    virtual void said(const std::string& text, int speechmode) = 0;

    // A synthetic key event: flags 0 press, 2 release.
    virtual void keybd_event(int vk, int flags) = 0;
    virtual void messageBox(const std::string& text, const std::string& caption) = 0;
    // The typed text, or the empty text when the player cancels.
    virtual std::string inputBox(const std::string& prompt, const std::string& caption) = 0;

    // The files that ship with the game: words.txt, sounds/award.wav.
    virtual std::string programFolder() = 0;
    // Where the game writes (progress.ini, lasttask.txt, saved games) and where a player's own
    // words.txt is looked for first: the program's folder unless the copy is installed.
    virtual std::string playerFolder() { return programFolder(); }
    virtual double secondsSinceMidnight() = 0;
    virtual bool anotherInstanceRunning() = 0;
    // Ends the program: see ProcessEnded. A back end that must tidy up first overrides
    // beforeEnd, which may not throw.
    [[noreturn]] void endProcess(int status = 0) {
        beforeEnd();
        throw ProcessEnded{status};
    }
    virtual void beforeEnd() {}

    // Both throw PlatformError when the object cannot be made.
    virtual std::unique_ptr<Voice> createVoice() = 0;
    virtual std::unique_ptr<ScreenReaderApi> createJawsApi() = 0;

    // Start a WAV file playing and return at once; failures are silent.
    virtual void playSound(const std::string& path) = 0;
};

}  // namespace tw
