// platform/headless/headless_platform.cpp: the headless platform: waits take no real time.
#include "platform/headless/headless_platform.h"

#include <ostream>

#include "platform/silent_voice.h"

namespace tw {

namespace {

class HeadlessVoice : public SilentVoice {
public:
    explicit HeadlessVoice(HeadlessPlatform& platform) : platform_(platform) {}
    void speak(const std::string& text, int) override { platform_.record("voice: " + text); }

private:
    HeadlessPlatform& platform_;
};

class HeadlessReader : public ScreenReaderApi {
public:
    explicit HeadlessReader(HeadlessPlatform& platform) : platform_(platform) {}
    void SayString(const std::string& text, bool flush) override {
        platform_.record((flush ? "reader, cutting: " : "reader: ") + text);
    }

private:
    HeadlessPlatform& platform_;
};

}  // namespace

HeadlessPlatform::HeadlessPlatform(std::string programFolder, std::ostream* out)
    : folder_(std::move(programFolder)), out_(out) {}

void HeadlessPlatform::record(const std::string& line) {
    events.push_back(line);
    if (out_) *out_ << line << '\n';
}

std::vector<std::string> HeadlessPlatform::spoken() const {
    std::vector<std::string> texts;
    for (const auto& line : events)
        if (line.rfind("say: ", 0) == 0) texts.push_back(line.substr(5));
    return texts;
}

void HeadlessPlatform::queueKey(int code, int shift, double atMs) {
    events_.pushKey(code, shift, atMs < 0 ? now_ : atMs);
}

void HeadlessPlatform::setTitle(const std::string& text) {
    title_ = text;
    record("title: " + text);
}

void HeadlessPlatform::doEvents() {
    if (closeAtMs_ >= 0 && now_ >= closeAtMs_) {
        closeAtMs_ = -1;
        endProcess(0);
    }
    events_.run(sink_, [this] { return now_; });
}

void HeadlessPlatform::waitEvents() {
    double next = events_.nextDueMs();
    if (closeAtMs_ >= 0 && (next < 0 || closeAtMs_ < next)) next = closeAtMs_;
    if (next > now_) now_ = next;
}

void HeadlessPlatform::setTimer(int intervalMs) { events_.setTimer(intervalMs, now_); }

void HeadlessPlatform::said(const std::string& text, int speechmode) {
    (void)speechmode;
    record("say: " + text);
}

void HeadlessPlatform::keybd_event(int vk, int flags) {
    record("keybd: " + std::to_string(vk) + " " + std::to_string(flags));
    // Presses reach the game's own window like typed keys; releases are no key-down.
    events_.keybdEvent(vk, flags, now_);
}

void HeadlessPlatform::messageBox(const std::string& text, const std::string& caption) {
    (void)caption;
    record("box: " + text);
}

std::string HeadlessPlatform::inputBox(const std::string& prompt, const std::string& caption) {
    record("input: " + caption + " | " + prompt);
    return inputAnswer ? inputAnswer(prompt, caption) : std::string();
}

bool HeadlessPlatform::anotherInstanceRunning() {
    return instanceCheck ? instanceCheck(playerFolder()) : instanceRunning;
}

void HeadlessPlatform::beforeEnd() {
    ended = true;
    if (out_) out_->flush();
}

std::unique_ptr<Voice> HeadlessPlatform::createVoice() {
    if (!voiceAvailable) throw PlatformError("the speech engine is not available");
    return std::make_unique<HeadlessVoice>(*this);
}

std::unique_ptr<ScreenReaderApi> HeadlessPlatform::createJawsApi() {
    if (!jawsAvailable) throw PlatformError("no screen reader answers");
    return std::make_unique<HeadlessReader>(*this);
}

void HeadlessPlatform::playSound(const std::string& path) { record("sound: " + path); }

}  // namespace tw
