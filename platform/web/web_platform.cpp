// platform/web/web_platform.cpp: the platform's services in a web page, through the page's
// functions on Module (page.js). Waits are awaited with Asyncify, so the page stays live.
#include "platform/web/web_platform.h"

#include <emscripten.h>

#include <cstdlib>

#include "input/keys.h"
#include "platform/files.h"
#include "platform/silent_voice.h"

namespace tw {

namespace {

// clang-format off
EM_JS(void, js_set_title, (const char* text), { Module.twSetTitle(UTF8ToString(text)); });
EM_JS(void, js_said, (const char* text, int path), { Module.twSaid(UTF8ToString(text), path); });
EM_JS(void, js_speak, (const char* text, int purge, int rate, int volume), {
    Module.twSpeak(UTF8ToString(text), purge != 0, rate, volume);
});
EM_JS(void, js_play_sound, (const char* path), { Module.twPlaySound(UTF8ToString(path)); });
EM_JS(int, js_second_copy, (), { return Module.twSecondCopy ? 1 : 0; });
EM_JS(double, js_seconds_since_midnight, (), {
    const now = new Date();
    return now.getHours() * 3600 + now.getMinutes() * 60 + now.getSeconds() + now.getMilliseconds() / 1000;
});
EM_JS(void, js_persist, (), { Module.twPersist(); });
// Resolves when a key comes, or after ms (never, when ms is below 0).
EM_ASYNC_JS(void, js_wait, (double ms), { await Module.twWait(ms); });
EM_ASYNC_JS(void, js_message_box, (const char* text, const char* caption), {
    await Module.twMessageBox(UTF8ToString(text), UTF8ToString(caption));
});
// The typed text, in memory the caller frees.
EM_ASYNC_JS(char*, js_input_box, (const char* prompt, const char* caption), {
    const answer = await Module.twInputBox(UTF8ToString(prompt), UTF8ToString(caption));
    const size = lengthBytesUTF8(answer) + 1;
    const at = _malloc(size);
    stringToUTF8(answer, at, size);
    return at;
});
// clang-format on

// The browser's speech synthesis, SAPI's scale of rates mapped onto the page's.
class WebVoice : public SilentVoice {
public:
    void speak(const std::string& text, int flags) override {
        js_speak(text.c_str(), (flags & kSpeakPurge) != 0, Rate(), volume());
    }
};

}  // namespace

void WebPlatform::pushKey(int code, int shift) { queue_.push_back({code, shift, false}); }

void WebPlatform::setTitle(const std::string& text) {
    title_ = text;
    js_set_title(text.c_str());
}

void WebPlatform::doEvents() {
    bool ran = false;
    // A handler may let events run itself: each key leaves the queue before it is delivered.
    while (!queue_.empty()) {
        const Queued next = queue_.front();
        queue_.pop_front();
        ran = true;
        if (!sink_) continue;
        if (next.synthetic)
            sink_->syntheticKeyDown(next.code, next.shift);
        else
            sink_->Form_KeyDown(next.code, next.shift);
    }
    if (interval_ > 0 && emscripten_get_now() >= deadline_) {
        deadline_ = emscripten_get_now() + interval_;
        ran = true;
        if (sink_) sink_->Holder_Timer();
    }
    // Whatever the game wrote is handed to the browser's storage at once.
    if (ran) js_persist();
}

void WebPlatform::waitEvents() {
    if (!queue_.empty()) return;
    double ms = -1;
    if (interval_ > 0) {
        ms = deadline_ - emscripten_get_now();
        if (ms <= 0) return;
    }
    js_wait(ms);
}

void WebPlatform::setTimer(int intervalMs) {
    interval_ = intervalMs > 0 ? intervalMs : 0;
    if (interval_ > 0) deadline_ = emscripten_get_now() + interval_;
}

void WebPlatform::said(const std::string& text, int speechmode) { js_said(text.c_str(), speechmode); }

void WebPlatform::keybd_event(int vk, int flags) {
    // The chord comes back to the game's own page as keys, after what was typed before it.
    const int bit = key::modifierMask(vk);
    if (flags & key::EventRelease) {
        syntheticMods_ &= ~bit;
        return;
    }
    syntheticMods_ |= bit;
    queue_.push_back({vk, syntheticMods_, true});
}

void WebPlatform::messageBox(const std::string& text, const std::string& caption) {
    js_message_box(text.c_str(), caption.c_str());
}

std::string WebPlatform::inputBox(const std::string& prompt, const std::string& caption) {
    char* typed = js_input_box(prompt.c_str(), caption.c_str());
    std::string answer = typed ? typed : "";
    std::free(typed);
    return answer;
}

bool WebPlatform::fileExists(const std::string& path) { return files::isFile(path); }

double WebPlatform::secondsSinceMidnight() { return js_seconds_since_midnight(); }

bool WebPlatform::anotherInstanceRunning() { return js_second_copy() != 0; }

void WebPlatform::beforeEnd() { js_persist(); }

std::unique_ptr<Voice> WebPlatform::createVoice() { return std::make_unique<WebVoice>(); }

std::unique_ptr<ScreenReaderApi> WebPlatform::createJawsApi() {
    // A page has no screen reader's own interface: the reader listens to the log instead.
    throw PlatformError("no screen reader answers");
}

void WebPlatform::playSound(const std::string& path) { js_play_sound(path.c_str()); }

}  // namespace tw
