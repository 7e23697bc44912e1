// app/startup.cpp: the load and activation handlers: start-up log, speech objects, settings.
#include <iostream>
#include <stdexcept>

#include "game/form1.h"
#include "game/text.h"
#include "platform/files.h"
#include "platform/silent_voice.h"

namespace tw {

namespace {

// The start-up log, written whole after every line so that it always holds what happened;
// written fresh, so a link planted at its name is replaced, not followed.
class StartupLog {
public:
    void open() {
        open_ = true;
        flush();
    }
    bool isOpen() const { return open_; }
    void line(const std::string& text) {
        bytes_ += utf8ToCp1252(text) + "\r\n";
        flush();
    }
    void close() { open_ = false; }

private:
    void flush() {
        const Outcome written = files::writeFresh("debuglog.txt", bytes_);
        if (!written.ok)
            throw std::runtime_error("debuglog.txt cannot be written in the current folder: " + written.why);
    }
    bool open_ = false;
    std::string bytes_;
};

}  // namespace

std::string Form1::titletext(bool withAuthor) const {
    return "Tumblewick (v" + version + ")" + (withAuthor ? ", by Dorvel" : "");
}

Form1::Form1(Platform& platform_) : Holder(platform_), platform(platform_) { platform.attach(this); }

void Form1::Form_Load() {
    StartupLog log;
    try {
        version = "0.6b";
        std::string voiceError;
        try {
            sapivoice = platform.createVoice();
        } catch (const PlatformError& e) {
            voiceError = e.what();
            sapivoice = std::make_unique<SilentVoice>();
        }
        // A second copy touches no file, not even the start-up log: they are the running copy's.
        if (platform.anotherInstanceRunning()) {
            // The events run, but no key acts on a game that is not this copy's.
            ignorekeys = 1;
            platform.doEvents();
            platform.messageBox("This game is already running.", "Tumblewick");
            platform.endProcess();
        }
        log.open();
        // Only the one running copy may tidy its folder: saves that died left temporary files.
        files::removeStaleTemporaries(platform.playerFolder());
        ignorekeys = 0;
        jawsloaded = 0;
        sapivoice->setRate(kDefaultRate);
        sapivoice->setVolume(100);
        log.line("Starting program");
        if (!voiceError.empty()) log.line("error: " + voiceError);
        rnd.seed(seedoverride ? *seedoverride : static_cast<std::uint64_t>(platform.secondsSinceMidnight() * 1000.0));
        log.line("Dorvel disabled DirectSound in this version.");
        log.line("Loading JAWS Api");
        loadjaws([&log](const std::string& line) { log.line(line); });
        curroom = 0;
        log.line("Sound finished.");
        log.line("Version is " + version);
        if (const Outcome written = files::writeFresh("myversion.txt", joinLines({version})); !written.ok)
            throw std::runtime_error("myversion.txt cannot be written in the current folder: " + written.why);
        setwindowtitle(titletext(true));
        speechmode = 1;
        log.line("Sapi is set to " + std::to_string(speechmode));
        menu = 1;
        menupos = 0;
        log.line("Loading settings/progress");
        if (const Outcome read = readprogress(); !read.ok) log.line("error: " + read.why);
        log.line("Startup finished.");
        log.close();
        List1.clear();
    } catch (const std::exception& e) {
        if (log.isOpen()) {
            try {
                log.line(std::string("error: ") + e.what());
            } catch (const std::exception&) {}
            log.close();
        }
        // A game that never starts must say why, to the player and to whatever started it.
        const std::string message = std::string("Tumblewick cannot start: ") + e.what() + ".";
        std::cerr << message << '\n';
        platform.messageBox(message, "Tumblewick");
        platform.endProcess(1);
    }
}

void Form1::Form_Activate() { sayit("Tumblewick, rough beta version " + version + ", by Dorvel.  Main menu."); }

}  // namespace tw
