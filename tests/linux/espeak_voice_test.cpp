// tests/linux/espeak_voice_test.cpp: espeak-ng speech measured in the WAV files it writes, and on SDL's dummy device.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/linux/espeak_voice.h"
#include "platform/linux/sound_player.h"
#include "tests/linux/test_support.h"

namespace {

using namespace std::chrono_literals;
using namespace tw_test;
using tw::EspeakVoice;

const char* kSentence = "Hello, this is a test of the speech engine.";
const char* kLongText =
    "The quick brown fox jumps over the lazy dog while the river runs on to the sea, and the old "
    "mill turns slowly in the evening light as the birds fly home over the quiet hills.";  // 9 s

// Speaks text alone into a fresh WAV file and returns what the file holds once the voice is gone.
Wav speakAlone(const std::string& text, int rate = 3, int volume = 100) {
    TempDir dir;
    {
        EspeakVoice voice(dir / "speech.wav");
        voice.setRate(rate);
        voice.setVolume(volume);
        voice.speak(text, 3);
    }
    return readWav(dir / "speech.wav").value_or(Wav{});
}

// The hook holds synthesis at the first text's first buffer until the second is in: a purge
// leaves none of the first text in the file, and without one both are said in full.
TEST(EspeakVoice, PurgeCutsTheUtteranceAndSpeaksTheNextWholeElseAllIsSaid) {
    const double stop = speakAlone("Stop.").seconds();
    const double both = speakAlone("One.").seconds() + speakAlone("Two.").seconds();
    struct Row {
        const char *first, *then;
        int flags;
        double seconds;
    };
    for (const Row& row : {Row{"One.", "Two.", 1, both}, Row{kLongText, "Stop.", 3, stop}, Row{kLongText, "", 3, 0}}) {
        TempDir dir;
        {
            EspeakVoice voice(dir / "speech.wav");
            std::atomic<bool> synthesizing{false}, queued{false};
            voice.setFirstAudioHook([&] {
                synthesizing = true;
                for (int i = 0; i < 10000 && !queued; ++i) std::this_thread::sleep_for(1ms);
            });
            voice.speak(row.first, row.flags);
            for (int i = 0; i < 10000 && !synthesizing; ++i) std::this_thread::sleep_for(1ms);
            voice.speak(row.then, row.flags);
            queued = true;
        }  // a voice writing a file finishes what is queued before it goes
        const auto wav = readWav(dir / "speech.wav");
        ASSERT_TRUE(wav) << row.then;
        EXPECT_NEAR(wav->seconds(), row.seconds, 0.1) << row.then;
    }
}

TEST(EspeakVoice, RateAndVolumeReachTheSynthesizer) {
    const Wav slow = speakAlone(kSentence, 0), fast = speakAlone(kSentence, 8);
    EXPECT_LT(fast.seconds(), 0.7 * slow.seconds()) << fast.seconds() << " s against " << slow.seconds() << " s";
    const Wav loud = speakAlone(kSentence, 3, 100), quiet = speakAlone(kSentence, 3, 30);
    EXPECT_LT(quiet.rms(), 0.5 * loud.rms());
    EXPECT_GT(quiet.rms(), 0.1 * loud.rms());
}

TEST(EspeakVoice, UnwritableWavPathIsNamedInTheError) {
    const std::string path = "/nonexistent-folder-for-tw/speech.wav";
    EXPECT_NE(errorFrom([&] { EspeakVoice voice(path); }).find(path), std::string::npos);
}

// On SDL's dummy driver the device plays in real time, so how long speech takes to drain shows
// whether it reached the device and whether a purge emptied it. Without a device it goes nowhere.
TEST(EspeakVoice, SpeakNeverBlocksAndAPurgeEmptiesTheDevice) {
    for (const bool dummy : {true, false}) {
        ScopedEnv driver("SDL_AUDIODRIVER", dummy ? std::optional<std::string>("dummy") : std::nullopt);
        EspeakVoice voice;
        auto start = std::chrono::steady_clock::now();
        voice.speak(kSentence, 3);
        EXPECT_LT(elapsedMicros(start), 10000.0);
        ASSERT_TRUE(voice.waitUntilIdle(20s));
        // The sentence lasts about 1.6 s; only a device playing it makes waiting take that long.
        EXPECT_TRUE(!dummy || (elapsedMicros(start) > 1.2e6 && elapsedMicros(start) < 6e6)) << elapsedMicros(start);
        voice.speak(kLongText, 3);
        std::this_thread::sleep_for(200ms);
        start = std::chrono::steady_clock::now();
        voice.speak("", 3);
        EXPECT_LT(elapsedMicros(start), 10000.0);
        EXPECT_TRUE(voice.waitUntilIdle(1s));  // the seconds of the long text still to play were dropped
    }
}

// A voice opens the sound device for its first words and closes it once they have played out
// and nothing followed, so a game on another speech path, or sitting silent, holds no stream.
TEST(EspeakVoice, TheDeviceIsOpenOnlyWhileThereIsSomethingToPlay) {
    ScopedEnv driver("SDL_AUDIODRIVER", std::string("dummy"));
    auto openWithin = [](int wanted, std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (tw::openAudioOutputs() != wanted && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(10ms);
        return tw::openAudioOutputs() == wanted;
    };
    EspeakVoice voice;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(tw::openAudioOutputs(), 0);  // made, never spoke
    for (int time = 0; time < 2; ++time) {
        SCOPED_TRACE(time == 0 ? "first words" : "after the device was closed");
        voice.speak("Play the game", 1);
        EXPECT_TRUE(openWithin(1, 2s));
        ASSERT_TRUE(voice.waitUntilIdle(10s));
        EXPECT_EQ(tw::openAudioOutputs(), 1);  // kept for a while for the next key
        EXPECT_TRUE(openWithin(0, tw::kCloseWhenIdle + 3s));
    }
}

// The sound server killed and started again: the next words are heard on the new one, not lost
// to the old stream until it has been idle long enough to be closed.
TEST(EspeakVoice, ASoundServerThatComesBackIsSpokenToAgain) {
    if (system("command -v pulseaudio >/dev/null 2>&1") != 0) GTEST_SKIP() << "pulseaudio is not installed";
    // libpulse is not built for ThreadSanitizer, which then reports its own locking as races.
    if (std::getenv("TSAN_OPTIONS")) GTEST_SKIP() << "libpulse's locking is not visible to ThreadSanitizer";
    TempDir run;
    PrivatePulse server(run);
    ScopedEnv sdl("SDL_AUDIODRIVER", std::nullopt);
    // What plays on the server now: the streams it has, by their number.
    const auto streams = [] {
        FILE* list = popen("pactl list short sink-inputs 2>/dev/null", "r");
        std::string out;
        char buffer[256];
        while (list && std::fgets(buffer, sizeof buffer, list)) out += buffer;
        if (list) pclose(list);
        return out;
    };
    EspeakVoice voice;
    voice.speak(kLongText, 3);
    for (int i = 0; i < 100 && streams().empty(); ++i) std::this_thread::sleep_for(20ms);
    ASSERT_FALSE(streams().empty());
    server.restart();
    ASSERT_TRUE(server.up());
    voice.speak(kSentence, 3);
    for (int i = 0; i < 50 && streams().empty(); ++i) std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(streams().empty());
}

}  // namespace
