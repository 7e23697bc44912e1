// platform/silent_voice.h: a voice that keeps its rate and volume and speaks nothing; the
// stand-in for a voice that could not be made, and the base of the headless voice.
#pragma once

#include <string>

#include "platform/platform.h"

namespace tw {

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

}  // namespace tw
