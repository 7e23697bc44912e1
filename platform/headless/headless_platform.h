// platform/headless/headless_platform.h: a platform with no hardware: a virtual clock, an event
// queue of keys and timer ticks, and a record of everything the player would perceive.
//
// What it supports, and what stands in for the Windows service:
// - keys: queued by the test or the driver, each at a time on the virtual clock.
// - the window title, the voice, the reader, keybd_event, the boxes and the sound: each noted as
//   an event ("title: ", "voice: ", "reader: ", "keybd: ", "box: ", "input: ", "sound: ").
// - the voice and the reader can be made missing, to test the fall-backs; the input box answers
//   with what the test or the driver's "type" line gives.
// - time: waits jump the virtual clock to the next event, so no test sleeps.
// - one copy per folder: a flag or a check the test gives; files: the real file system.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_queue.h"
#include "platform/platform.h"

namespace tw {

class HeadlessPlatform : public Platform {
public:
    explicit HeadlessPlatform(std::string programFolder, std::ostream* out = nullptr);

    // What the player perceived, one line per event ("say: ...", "title: ...", ...).
    std::vector<std::string> events;
    // Only the texts of the "say: " events.
    std::vector<std::string> spoken() const;

    // Controls for the driver and the tests.
    bool jawsAvailable = false;
    bool voiceAvailable = true;
    bool instanceRunning = false;
    std::string player;                                     // the player folder; empty: the program's folder
    std::function<bool(const std::string&)> instanceCheck;  // overrides instanceRunning
    std::function<std::string(const std::string&, const std::string&)> inputAnswer;
    // A key-down delivered once the virtual clock reaches atMs (default: now).
    void queueKey(int code, int shift = 0, double atMs = -1);
    // The game closed (as its window is) once the virtual clock reaches atMs.
    void queueClose(double atMs) { closeAtMs_ = atMs; }
    bool idle() const { return events_.nextDueMs() < 0 && closeAtMs_ < 0; }
    double nowMs() const { return now_; }
    bool ended = false;
    int endStatus = -1;

    // Platform.
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
    std::string programFolder() override { return folder_; }
    std::string playerFolder() override { return player.empty() ? folder_ : player; }
    double secondsSinceMidnight() override { return 43200.0 + now_ / 1000.0; }
    bool anotherInstanceRunning() override;
    void beforeEnd() override;
    std::unique_ptr<Voice> createVoice() override;
    std::unique_ptr<ScreenReaderApi> createJawsApi() override;
    void playSound(const std::string& path) override;

    void record(const std::string& line);

private:
    std::string folder_;
    std::ostream* out_;
    EventSink* sink_ = nullptr;
    std::string title_;
    EventQueue events_;
    double now_ = 0;
    double closeAtMs_ = -1;
};

}  // namespace tw
