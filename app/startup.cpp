// app/startup.cpp: the load and activation handlers: start-up log, speech objects, settings.
#include <fstream>
#include <stdexcept>

#include "game/form1.h"
#include "game/text.h"

namespace tw {

namespace {

// Stands in for a voice that could not be created: it keeps the rate and speaks nothing,
// so the printed and screen-reader paths still carry the game.
class SilentVoice : public Voice {
public:
    void speak(const std::string&, int) override {}
    int Rate() const override { return rate_; }
    void setRate(int rate) override { rate_ = rate; }
    int volume() const override { return volume_; }
    void setVolume(int volume) override { volume_ = volume; }

private:
    int rate_ = 0;
    int volume_ = 100;
};

class StartupLog {
public:
    void open() {
        out_.open("debuglog.txt", std::ios::binary | std::ios::trunc);
        if (!out_) throw std::runtime_error("debuglog.txt cannot be written in the current folder");
    }
    bool isOpen() const { return out_.is_open(); }
    void line(const std::string& text) {
        out_ << utf8ToCp1252(text) << "\r\n";
        out_.flush();
        if (!out_) throw std::runtime_error("debuglog.txt cannot be written");
    }
    void close() { out_.close(); }

private:
    std::ofstream out_;
};

}  // namespace

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
        log.open();
        if (platform.anotherInstanceRunning()) {
            log.line("Previous instance");
            log.close();
            platform.doEvents();
            platform.messageBox("This game is already running.", "Tumblewick");
            platform.endProcess();
        }
        ignorekeys = 0;
        jawsloaded = 0;
        sapivoice->setRate(3);
        sapivoice->setVolume(100);
        log.line("Starting program");
        if (!voiceError.empty()) log.line("error: " + voiceError);
        rnd.seed(seedoverride ? *seedoverride
                              : static_cast<std::uint64_t>(platform.secondsSinceMidnight() * 1000.0));
        log.line("Dorvel disabled DirectSound in this version.");
        log.line("Loading JAWS Api");
        loadjaws([&log](const std::string& line) { log.line(line); });
        curroom = 0;
        log.line("Sound finished.");
        log.line("Version is " + version);
        if (!writeTextFile("myversion.txt", {version}))
            throw std::runtime_error("myversion.txt cannot be written in the current folder");
        setwindowtitle("Tumblewick (v" + version + "), by Dorvel");
        speechmode = 1;
        log.line("Sapi is set to " + std::to_string(speechmode));
        menu = 1;
        menupos = 0;
        log.line("Loading settings/progress");
        if (auto problem = readprogress()) log.line("error: " + *problem);
        log.line("Startup finished.");
        log.close();
        List1.clear();
    } catch (const std::exception& e) {
        if (log.isOpen()) {
            try {
                log.line(std::string("error: ") + e.what());
            } catch (const std::exception&) {
            }
            log.close();
        }
        platform.endProcess();
    }
}

void Form1::Form_Activate() {
    sayit("Tumblewick, rough beta version " + version + ", by Dorvel.  Main menu.");
}

}  // namespace tw
