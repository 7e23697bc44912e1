// platform/web/web_platform.h: the game in a web page. The page (page.js) owns the keyboard, the
// log the screen reader reads, the dialogs, speech synthesis, sound and storage; this side
// queues its keys and waits for them without freezing the page.
//
// What it supports, and what stands in for the Windows service:
// - keys: keydown on the focused game element, letters and digits by their place on the keyboard.
// - the window title: document.title, and every text as a line of a live log, assertive on the
//   screen reader's paths (1 and 2) and quiet where the page's own voice speaks.
// - the SAPI voice: the browser's speech synthesis (WebVoice).
// - the JAWS API: none; a page has no screen reader interface, so path 3 falls back to the voice.
// - keybd_event: the chord comes back to the game as keys.
// - message and input boxes: the page's own modal dialogs, which take the focus.
// - sndPlaySound: Web Audio; files: the browser's storage (IDBFS), written through after each event.
// - one copy per browser profile: a Web Lock; the end: the page says the game has ended.
#pragma once

#include <string>

#include "platform/event_queue.h"
#include "platform/platform.h"

namespace tw {

class WebPlatform : public Platform {
public:
    // Saves last only once the browser's storage holds them: the file layer waits for that.
    WebPlatform();
    ~WebPlatform() override;
    // Where the shipped files are, and the folder kept in the browser's storage.
    static constexpr const char* kProgramFolder = "/game";
    static constexpr const char* kPlayerFolder = "/player";

    // A key from the page, as a Windows virtual-key code and shift mask.
    void pushKey(int code, int shift);

    void attach(EventSink* sink) override { sink_ = sink; }
    std::string title() override { return title_; }
    void setTitle(const std::string& text) override;
    void doEvents() override;
    void waitEvents() override;
    void setTimer(int intervalMs) override;
    void said(const std::string& text, int speechmode) override;
    void keybd_event(int vk, int flags) override;
    void messageBox(const std::string& text, const std::string& caption) override;
    std::string inputBox(const std::string& prompt, const std::string& caption) override;
    std::string programFolder() override { return kProgramFolder; }
    std::string playerFolder() override { return kPlayerFolder; }
    double secondsSinceMidnight() override;
    bool anotherInstanceRunning() override;
    void beforeEnd() override;
    std::unique_ptr<Voice> createVoice() override;
    std::unique_ptr<ScreenReaderApi> createJawsApi() override;
    void playSound(const std::string& path) override;

private:
    EventSink* sink_ = nullptr;
    std::string title_;
    EventQueue events_;
    bool keepAsked_ = false;  // the tab was hidden, and the game is not kept yet
};

}  // namespace tw
