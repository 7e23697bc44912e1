// platform/web/web_platform.cpp: the platform's services in a web page, through the page's
// functions on Module (page.js). Waits are awaited with Asyncify, so the page stays live.
#include "platform/web/web_platform.h"

#include <emscripten.h>

#include <cstdlib>

#include "platform/keys.h"
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
EM_JS(int, js_keep_asked, (), {
    const asked = Module.twKeepAsked ? 1 : 0;
    Module.twKeepAsked = false;
    return asked;
});
// Waits until the browser's storage holds the files; what went wrong, or nothing.
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
EM_ASYNC_JS(char*, js_persist_now, (), {
    const why = await Module.twPersistNow();
    if (!why) return 0;
    const size = lengthBytesUTF8(why) + 1;
    const at = _malloc(size);
    stringToUTF8(why, at, size);
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

WebPlatform::WebPlatform() {
    files::setFolderSync([] {
        char* why = js_persist_now();
        if (!why) return Outcome{};
        Outcome failed = Outcome::failed(why);
        std::free(why);
        return failed;
    });
}

WebPlatform::~WebPlatform() { files::setFolderSync(nullptr); }

void WebPlatform::pushKey(int code, int shift) { events_.pushKey(code, shift, emscripten_get_now()); }

void WebPlatform::setTitle(const std::string& text) {
    title_ = text;
    js_set_title(text.c_str());
}

void WebPlatform::doEvents() {
    // Whatever the game wrote is handed to the browser's storage at once.
    if (events_.run(sink_, [] { return emscripten_get_now(); })) js_persist();
    // The tab was hidden: it may be closed or frozen next, with no time to ask, and nothing of
    // the game may wait on a timer. A key under way (a completion in its waits) runs on with
    // every wait ended at once, so that what is kept is whole; then the game is kept.
    keepAsked_ = (js_keep_asked() != 0) || keepAsked_;
    if (keepAsked_ && sink_ && sink_->handlingKey()) sink_->Holder_Timer();
    if (keepAsked_ && sink_ && !sink_->handlingKey()) {
        keepAsked_ = false;
        sink_->keepGame();
        js_persist();
    }
}

void WebPlatform::waitEvents() {
    const double next = events_.nextDueMs();
    if (next >= 0 && next <= emscripten_get_now()) return;
    js_wait(next < 0 ? -1 : next - emscripten_get_now());
}

void WebPlatform::setTimer(int intervalMs) { events_.setTimer(intervalMs, emscripten_get_now()); }

void WebPlatform::said(const std::string& text, int speechmode) { js_said(text.c_str(), speechmode); }

void WebPlatform::keybd_event(int vk, int flags) {
    // The chord comes back to the game's own page as keys, after what was typed before it.
    events_.keybdEvent(vk, flags, emscripten_get_now());
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
