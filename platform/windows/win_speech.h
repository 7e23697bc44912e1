// platform/windows/win_speech.h: the SAPI voice and the JAWS API object, through COM.
#pragma once

#include <string>

#include "platform/platform.h"

struct ISpVoice;
struct IDispatch;

namespace tw {

// SAPI's SpVoice (ProgID "SAPI.SpVoice") through its native ISpVoice interface. The thread
// must have entered a COM apartment. Throws PlatformError when the voice cannot be created.
class SapiVoice : public Voice {
public:
    SapiVoice();
    ~SapiVoice() override;
    SapiVoice(const SapiVoice&) = delete;
    SapiVoice& operator=(const SapiVoice&) = delete;

    // flags are SAPI's own: 1 asynchronous, 2 purge what is being spoken.
    void speak(const std::string& text, int flags) override;
    // The rate the game asked for; the engine gets it held within SAPI's -10..10.
    int Rate() const override { return rate_; }
    void setRate(int rate) override;
    int volume() const override { return volume_; }
    void setVolume(int volume) override;

    // What the engine is handed for a rate or a volume the game asks for.
    static long engineRate(int rate);
    static unsigned short engineVolume(int volume);

private:
    ISpVoice* voice_ = nullptr;
    int rate_ = 0;
    int volume_ = 100;
};

// The JAWS API object (ProgID "FreedomSci.JawsApi"), called late-bound through IDispatch as
// JAWS documents it. Creation fails where JAWS is not installed.
class JawsApi : public ScreenReaderApi {
public:
    JawsApi();
    ~JawsApi() override;
    JawsApi(const JawsApi&) = delete;
    JawsApi& operator=(const JawsApi&) = delete;

    void SayString(const std::string& text, bool flush) override;

private:
    IDispatch* api_ = nullptr;
    long sayString_ = 0;  // the DISPID of SayString
};

}  // namespace tw
