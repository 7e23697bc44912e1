// tools/key_bench.cpp: times a key from its bytes reaching the terminal front end to the voice's
// speak call and to the voice's first audio, through the whole game on speech path 0.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "game/form1.h"
#include "platform/linux/espeak_voice.h"
#include "platform/terminal/terminal_platform.h"

namespace {

using Clock = std::chrono::steady_clock;

// Wraps the real voice to note when the game hands it a text.
class TimedVoice : public tw::Voice {
public:
    explicit TimedVoice(std::unique_ptr<tw::Voice> inner) : inner_(std::move(inner)) {}
    void speak(const std::string& text, int flags) override {
        spokeAt = Clock::now();
        inner_->speak(text, flags);
    }
    int Rate() const override { return inner_->Rate(); }
    void setRate(int rate) override { inner_->setRate(rate); }
    int volume() const override { return inner_->volume(); }
    void setVolume(int volume) override { inner_->setVolume(volume); }
    Clock::time_point spokeAt{};

private:
    std::unique_ptr<tw::Voice> inner_;
};

void report(const char* what, std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    const std::size_t n = micros.size();
    const double median = n % 2 ? micros[n / 2] : (micros[n / 2 - 1] + micros[n / 2]) / 2;
    const std::size_t p99 = std::min(n - 1, static_cast<std::size_t>(std::ceil(0.99 * double(n))) - 1);
    std::printf("%-34s median %8.1f us   p99 %8.1f us   max %8.1f us   (%zu keys)\n", what, median, micros[p99],
                micros.back(), n);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    int keys[2];
    if (::pipe(keys) != 0) return 1;
    const auto home = std::filesystem::temp_directory_path() / ("tw-key-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home);
    std::filesystem::current_path(home);

    tw::TerminalSettings settings;
    settings.programFolder = home.string();
    settings.inFd = keys[0];
    settings.outFd = ::open("/dev/null", O_WRONLY);
    settings.handleSignals = false;
    settings.queryKeyboard = false;
    settings.echo = false;
    tw::TerminalPlatform platform(settings);
    tw::Form1 form(platform);
    form.seedoverride = 1;
    form.Form_Load();
    form.speechmode = 0;

    auto espeak = std::make_unique<tw::EspeakVoice>();
    std::atomic<long long> firstAudioNs{0};
    espeak->setFirstAudioHook([&] { firstAudioNs = Clock::now().time_since_epoch().count(); });
    tw::EspeakVoice* voice = espeak.get();
    auto timed = std::make_unique<TimedVoice>(std::move(espeak));
    TimedVoice* timer = timed.get();
    form.sapivoice = std::move(timed);

    // A game in progress, so the digit keys answer with a room.
    form.newgame();
    form.menu = 0;

    std::vector<double> toSpeak;
    std::vector<double> toAudio;
    for (int i = 0; i < runs; ++i) {
        const char key = static_cast<char>('1' + i % 9);
        firstAudioNs = 0;
        const auto start = Clock::now();
        if (::write(keys[1], &key, 1) != 1) return 1;
        platform.doEvents();
        toSpeak.push_back(std::chrono::duration<double, std::micro>(timer->spokeAt - start).count());
        while (firstAudioNs == 0 && Clock::now() - start < std::chrono::seconds(1)) std::this_thread::yield();
        if (firstAudioNs != 0) {
            const auto audioAt = Clock::time_point(Clock::duration(firstAudioNs.load()));
            toAudio.push_back(std::chrono::duration<double, std::micro>(audioAt - start).count());
        }
        voice->waitUntilIdle(std::chrono::milliseconds(2000));
    }
    std::printf("%d keys, each answered with \"You're in ...\" on the voice path\n", runs);
    report("key bytes -> speak() called", toSpeak);
    if (!toAudio.empty()) report("key bytes -> first audio samples", toAudio);
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(home);
    return 0;
}
