// tools/speech_bench.cpp: times EspeakVoice::speak(text, 3) until it returns and until its first samples exist.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/espeak_voice.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kTexts[] = {
    "You're in Kitchen.",
    "You look on the shelf, in the Laundry room",
    "You have set the glass jar down on the floor, and picked up the toy mouse.",
    "To start you off, grab the stacks of CDs from the Computer room, and put it on the sofa, in the Living room.",
};

void report(const char* what, std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    const std::size_t n = micros.size();
    const double median = n % 2 ? micros[n / 2] : (micros[n / 2 - 1] + micros[n / 2]) / 2;
    const std::size_t p99 = std::min(n - 1, static_cast<std::size_t>(std::ceil(0.99 * double(n))) - 1);
    std::printf("%-22s median %9.1f us   p99 %9.1f us   max %9.1f us   (%zu runs)\n", what, median, micros[p99],
                micros.back(), n);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 200;
    std::string wav;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--wav") == 0 && i + 1 < argc) {
            wav = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--wav FILE]\n", argv[0]);
            return 2;
        }
    }

    try {
        tw::EspeakVoice voice(wav);
        std::mutex mutex;
        std::condition_variable heard;
        bool fired = false;
        Clock::time_point firstAt;
        voice.setFirstAudioHook([&] {
            const auto now = Clock::now();
            std::lock_guard<std::mutex> lock(mutex);
            firstAt = now;
            fired = true;
            heard.notify_all();
        });

        // One untimed utterance so the voice's thread and the device are up before timing starts.
        voice.speak("Ready.", 3);
        voice.waitUntilIdle(std::chrono::seconds(10));

        std::vector<double> returnUs, firstUs;
        int missed = 0;
        for (int run = 0; run < runs; ++run) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                fired = false;
            }
            const char* text = kTexts[run % (sizeof kTexts / sizeof kTexts[0])];
            // No wait for the previous text to end: each call purges speech still being made,
            // as a key press does during play.
            const auto start = Clock::now();
            voice.speak(text, 3);
            const auto returned = Clock::now();
            returnUs.push_back(std::chrono::duration<double, std::micro>(returned - start).count());
            std::unique_lock<std::mutex> lock(mutex);
            if (heard.wait_for(lock, std::chrono::seconds(2), [&] { return fired; }))
                firstUs.push_back(std::chrono::duration<double, std::micro>(firstAt - start).count());
            else
                ++missed;
        }
        voice.speak("", 3);
        voice.waitUntilIdle(std::chrono::seconds(10));

        const char* driver = std::getenv("SDL_AUDIODRIVER");
        std::printf("output: %s\n", wav.empty() ? (driver ? driver : "default sound device, if any") : wav.c_str());
        report("speak() returned", returnUs);
        if (!firstUs.empty()) report("first audio samples", firstUs);
        if (missed) std::printf("%d runs produced no audio within 2 s\n", missed);
        return missed ? 1 : 0;
    } catch (const tw::PlatformError& error) {
        std::fprintf(stderr, "speech_bench: %s\n", error.what());
        return 1;
    }
}
