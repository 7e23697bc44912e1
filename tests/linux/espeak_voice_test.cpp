// tests/linux/espeak_voice_test.cpp: espeak-ng speech measured in the WAV files it writes, and on SDL's dummy device.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <sstream>

#include "platform/linux/espeak_voice.h"
#include "tests/linux/test_support.h"

namespace {

using namespace std::chrono_literals;
using tw::EspeakVoice;
using tw_test::Child;
using tw_test::readWav;
using tw_test::TempDir;
using tw_test::Wav;

const char* kSentence = "Hello, this is a test of the speech engine.";

std::string longText() {
    // About two hundred words: well over a minute of speech, tens of milliseconds to synthesize.
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += "The quick brown fox jumps over the lazy dog while the river runs on to the sea. ";
    return text;
}

// Speaks text alone into a fresh WAV file and returns what the file holds.
Wav speakAlone(const std::string& text, int rate = 3, int volume = 100) {
    TempDir dir;
    const std::string path = dir / "speech.wav";
    {
        EspeakVoice voice(path);
        voice.setRate(rate);
        voice.setVolume(volume);
        voice.speak(text, 3);
        EXPECT_TRUE(voice.waitUntilIdle(30s));
    }
    std::string why;
    auto wav = readWav(path, &why);
    EXPECT_TRUE(wav) << why;
    return wav ? *wav : Wav{};
}

// ---- helpers run in a child process, before gtest starts ----

int noDataChild() {
    try {
        EspeakVoice voice;
        std::printf("thrown=0\n");
        return 3;
    } catch (const tw::PlatformError& error) {
        std::printf("thrown=1\nmessage=%s\n", error.what());
        return 0;
    }
}

// On SDL's dummy driver the device plays in real time, so how long speech takes to drain shows
// whether it reached the device at all and whether a purge emptied it.
int deviceChild() {
    try {
        EspeakVoice voice;
        auto start = std::chrono::steady_clock::now();
        voice.speak(kSentence, 3);
        const double speakUs = tw_test::elapsedMicros(start);
        const bool idle = voice.waitUntilIdle(20s);
        const double drainUs = tw_test::elapsedMicros(start);

        voice.speak(longText(), 3);
        std::this_thread::sleep_for(200ms);
        start = std::chrono::steady_clock::now();
        voice.speak("", 3);
        const double purgeUs = tw_test::elapsedMicros(start);
        const bool purgedIdle = voice.waitUntilIdle(20s);
        const double afterPurgeUs = tw_test::elapsedMicros(start);
        std::printf("speak_us=%.0f\nidle=%d\ndrain_us=%.0f\npurge_us=%.0f\npurged_idle=%d\nafter_purge_us=%.0f\n",
                    speakUs, idle, drainUs, purgeUs, purgedIdle, afterPurgeUs);
        return 0;
    } catch (const tw::PlatformError& error) {
        std::printf("error=%s\n", error.what());
        return 4;
    }
}

[[maybe_unused]] const bool kChildHandled = [] {
    const std::string mode = tw_test::childMode();
    if (mode == "espeak-no-data") {
        const int code = noDataChild();
        std::fflush(stdout);
        _exit(code);
    }
    if (mode == "espeak-device") {
        const int code = deviceChild();
        std::fflush(stdout);
        _exit(code);
    }
    return false;
}();

// ---- tests ----

TEST(EspeakVoice, RateMapsToWordsPerMinuteWithinEspeakRange) {
    EXPECT_EQ(EspeakVoice::wordsPerMinute(0), 175);
    EXPECT_EQ(EspeakVoice::wordsPerMinute(1), 193);
    EXPECT_EQ(EspeakVoice::wordsPerMinute(3), 233);
    EXPECT_EQ(EspeakVoice::wordsPerMinute(-3), 131);
    EXPECT_EQ(EspeakVoice::wordsPerMinute(9), 413);
    EXPECT_EQ(EspeakVoice::wordsPerMinute(10), 450);
    EXPECT_EQ(EspeakVoice::wordsPerMinute(-8), 82);
    EXPECT_EQ(EspeakVoice::wordsPerMinute(-9), 80);
    EXPECT_EQ(EspeakVoice::wordsPerMinute(INT_MAX), 450);
    EXPECT_EQ(EspeakVoice::wordsPerMinute(INT_MIN), 80);
}

TEST(EspeakVoice, RateAndVolumeKeepWhatTheGameSet) {
    TempDir dir;
    EspeakVoice voice(dir / "v.wav");
    EXPECT_EQ(voice.Rate(), 3);
    EXPECT_EQ(voice.volume(), 100);
    voice.setRate(25);
    EXPECT_EQ(voice.Rate(), 25);
    voice.setRate(-40);
    EXPECT_EQ(voice.Rate(), -40);
    voice.setVolume(40);
    EXPECT_EQ(voice.volume(), 40);
    voice.setVolume(150);
    EXPECT_EQ(voice.volume(), 100);
    voice.setVolume(-5);
    EXPECT_EQ(voice.volume(), 0);
}

TEST(EspeakVoice, SpeechInTheWavFileIsAudibleAndAsLongAsTheSentence) {
    TempDir dir;
    const std::string path = dir / "speech.wav";
    std::size_t whileAlive = 0;
    int rate = 0;
    {
        EspeakVoice voice(path);
        rate = voice.sampleRate();
        voice.speak(kSentence, 3);
        ASSERT_TRUE(voice.waitUntilIdle(10s));
        // The header is right while the voice still holds the file open.
        std::string why;
        auto wav = readWav(path, &why);
        ASSERT_TRUE(wav) << why;
        whileAlive = wav->samples.size();
    }
    std::string why;
    auto wav = readWav(path, &why);
    ASSERT_TRUE(wav) << why;
    EXPECT_EQ(wav->samples.size(), whileAlive);
    EXPECT_EQ(wav->sampleRate, rate);
    EXPECT_EQ(wav->channels, 1);
    EXPECT_EQ(wav->bits, 16);
    // Eight words at 233 words a minute: about two seconds.
    EXPECT_GT(wav->seconds(), 1.0);
    EXPECT_LT(wav->seconds(), 4.0);
    EXPECT_GT(wav->rms(), 0.03) << "RMS " << wav->rms();
    EXPECT_GT(wav->peak(), 0.2) << "peak " << wav->peak();
    std::printf("[ measured ] %.3f s, RMS %.4f, peak %.4f of full scale\n", wav->seconds(), wav->rms(), wav->peak());

    if (std::system("command -v sox >/dev/null 2>&1") == 0) {
        const std::string command = "sox '" + path + "' -n stat 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string report;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) report += buffer;
        const int status = pclose(pipe);
        ASSERT_EQ(status, 0) << report;
        double soxSeconds = -1.0, soxRms = -1.0;
        std::istringstream lines(report);
        std::string line;
        while (std::getline(lines, line)) {
            const auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            const std::string key = line.substr(0, colon);
            if (key.rfind("Length (seconds)", 0) == 0) soxSeconds = std::stod(line.substr(colon + 1));
            if (key.rfind("RMS     amplitude", 0) == 0) soxRms = std::stod(line.substr(colon + 1));
        }
        EXPECT_NEAR(soxSeconds, wav->seconds(), 0.001) << report;
        EXPECT_NEAR(soxRms, wav->rms(), 0.002) << report;
    }
}

TEST(EspeakVoice, SpeakReturnsAtOnceEvenDuringSynthesis) {
    TempDir dir;
    EspeakVoice voice(dir / "speech.wav");
    const std::string text = longText();
    auto start = std::chrono::steady_clock::now();
    voice.speak(text, 3);
    const double firstUs = tw_test::elapsedMicros(start);
    std::this_thread::sleep_for(2ms);
    start = std::chrono::steady_clock::now();
    voice.speak(text, 3);
    const double secondUs = tw_test::elapsedMicros(start);
    // Synthesizing this text takes tens of milliseconds; speak must not be doing it.
    EXPECT_LT(firstUs, 10000.0);
    EXPECT_LT(secondUs, 10000.0);
    EXPECT_TRUE(voice.waitUntilIdle(60s));
}

TEST(EspeakVoice, PurgeCutsTheLongUtteranceAndSpeaksTheNextWhole) {
    const std::string text = longText();
    const Wav longWhole = speakAlone(text);
    const Wav shortWhole = speakAlone("Stop.");
    ASSERT_GT(longWhole.seconds(), 30.0);
    ASSERT_GT(shortWhole.seconds(), 0.1);

    TempDir dir;
    const std::string path = dir / "purged.wav";
    {
        EspeakVoice voice(path);
        // The synthesis thread is held at the long text's first buffer until the purge is in,
        // so none of that text may reach the file.
        std::mutex mutex;
        std::condition_variable purged;
        bool purgeDone = false;
        voice.setFirstAudioHook([&] {
            std::unique_lock<std::mutex> lock(mutex);
            purged.wait_for(lock, 10s, [&] { return purgeDone; });
        });
        voice.speak(text, 3);
        voice.speak("Stop.", 3);
        {
            std::lock_guard<std::mutex> lock(mutex);
            purgeDone = true;
        }
        purged.notify_all();
        ASSERT_TRUE(voice.waitUntilIdle(30s));
    }
    auto cut = readWav(path);
    ASSERT_TRUE(cut);
    // espeak-ng's output varies by some tens of milliseconds with what it said before.
    EXPECT_NEAR(cut->seconds(), shortWhole.seconds(), 0.1)
        << cut->seconds() << " s; the long text alone is " << longWhole.seconds() << " s";
}

TEST(EspeakVoice, PurgeWithoutWaitingStillCutsTheLongUtterance) {
    const std::string text = longText();
    const Wav longWhole = speakAlone(text);
    TempDir dir;
    const std::string path = dir / "purged.wav";
    {
        EspeakVoice voice(path);
        voice.speak(text, 3);
        std::this_thread::sleep_for(1ms);
        voice.speak("Stop.", 3);
        ASSERT_TRUE(voice.waitUntilIdle(30s));
    }
    auto cut = readWav(path);
    ASSERT_TRUE(cut);
    EXPECT_LT(cut->seconds(), 0.5 * longWhole.seconds())
        << cut->seconds() << " s against " << longWhole.seconds() << " s whole";
}

TEST(EspeakVoice, EmptyTextWithPurgeIsSilence) {
    const std::string text = longText();
    const Wav longWhole = speakAlone(text);
    TempDir dir;
    const std::string path = dir / "silenced.wav";
    {
        EspeakVoice voice(path);
        voice.speak(text, 3);
        voice.speak("", 3);
        ASSERT_TRUE(voice.waitUntilIdle(30s));
        voice.speak("", 3);
        ASSERT_TRUE(voice.waitUntilIdle(1s));
    }
    auto silenced = readWav(path);
    ASSERT_TRUE(silenced);
    EXPECT_LT(silenced->seconds(), 0.25 * longWhole.seconds());
}

TEST(EspeakVoice, QueuedTextsAreAllSpokenWithoutPurge) {
    const Wav one = speakAlone("First.");
    const Wav two = speakAlone("Second.");
    TempDir dir;
    const std::string path = dir / "queued.wav";
    {
        EspeakVoice voice(path);
        voice.speak("First.", 1);
        voice.speak("Second.", 1);
        ASSERT_TRUE(voice.waitUntilIdle(10s));
    }
    auto both = readWav(path);
    ASSERT_TRUE(both);
    EXPECT_NEAR(both->seconds(), one.seconds() + two.seconds(), 0.1);
}

TEST(EspeakVoice, SynchronousSpeakReturnsWithTheTextSpoken) {
    const Wav whole = speakAlone(kSentence);
    TempDir dir;
    const std::string path = dir / "sync.wav";
    EspeakVoice voice(path);
    voice.speak(kSentence, 2);
    auto now = readWav(path);
    ASSERT_TRUE(now);
    EXPECT_NEAR(now->seconds(), whole.seconds(), 0.1);
}

TEST(EspeakVoice, WavVoiceFinishesQueuedSpeechWhenDestroyed) {
    const Wav whole = speakAlone(kSentence);
    TempDir dir;
    const std::string path = dir / "last.wav";
    {
        EspeakVoice voice(path);
        voice.speak(kSentence, 3);
    }
    auto last = readWav(path);
    ASSERT_TRUE(last);
    EXPECT_NEAR(last->seconds(), whole.seconds(), 0.1);
}

TEST(EspeakVoice, FasterRateGivesShorterSpeechAndTheClampHolds) {
    const Wav slow = speakAlone(kSentence, 0);
    const Wav fast = speakAlone(kSentence, 8);
    EXPECT_LT(fast.seconds(), 0.7 * slow.seconds()) << fast.seconds() << " s against " << slow.seconds() << " s";
    // Rates 12 and 30 both ask beyond 450 words a minute and reach espeak as 450.
    const Wav top = speakAlone(kSentence, 12);
    const Wav beyond = speakAlone(kSentence, 30);
    EXPECT_NEAR(beyond.seconds(), top.seconds(), 0.02 * top.seconds());
    EXPECT_LT(top.seconds(), fast.seconds());
}

TEST(EspeakVoice, VolumeScalesTheAmplitude) {
    const Wav loud = speakAlone(kSentence, 3, 100);
    const Wav quiet = speakAlone(kSentence, 3, 30);
    const Wav mute = speakAlone(kSentence, 3, 0);
    EXPECT_LT(quiet.rms(), 0.5 * loud.rms());
    EXPECT_GT(quiet.rms(), 0.1 * loud.rms());
    EXPECT_LT(mute.peak(), 0.01);
}

TEST(EspeakVoice, FirstAudioHookRunsOncePerUtterance) {
    TempDir dir;
    EspeakVoice voice(dir / "hook.wav");
    std::atomic<int> calls{0};
    voice.setFirstAudioHook([&] { ++calls; });
    voice.speak("One.", 1);
    voice.speak("Two.", 1);
    voice.speak("Three.", 1);
    ASSERT_TRUE(voice.waitUntilIdle(10s));
    EXPECT_EQ(calls.load(), 3);
}

TEST(EspeakVoice, SpeakFromManyThreadsLeavesAValidFile) {
    TempDir dir;
    const std::string path = dir / "threads.wav";
    {
        EspeakVoice voice(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&voice, t] {
                for (int i = 0; i < 40; ++i) {
                    voice.speak("Thread " + std::to_string(t) + " line " + std::to_string(i), (i % 3 == 0) ? 3 : 1);
                    if (i % 7 == 0) voice.setRate(i % 10);
                }
            });
        }
        for (auto& thread : threads) thread.join();
        voice.speak("Done.", 3);
        ASSERT_TRUE(voice.waitUntilIdle(60s));
    }
    std::string why;
    auto wav = readWav(path, &why);
    ASSERT_TRUE(wav) << why;
    EXPECT_GT(wav->rms(), 0.01);
}

TEST(EspeakVoice, UnwritableWavPathThrowsWithThePath) {
    try {
        EspeakVoice voice("/nonexistent-folder-for-tw/speech.wav");
        FAIL() << "no PlatformError";
    } catch (const tw::PlatformError& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent-folder-for-tw/speech.wav"), std::string::npos)
            << error.what();
    }
}

TEST(EspeakVoice, NoEspeakDataThrowsPlatformErrorWithTheReason) {
    TempDir home;
    std::filesystem::create_directory(home / "espeak-ng-data");
    Child child("espeak-no-data", {{"HOME", home.path()}, {"ESPEAK_DATA_PATH", std::nullopt}});
    const auto result = child.finish(20s);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    const auto values = tw_test::keyValues(result.out);
    ASSERT_EQ(values.count("message"), 1u) << result.out;
    const std::string message = values.at("message");
    EXPECT_NE(message.find("phontab"), std::string::npos) << message;
    EXPECT_NE(message.find(home.path()), std::string::npos) << message;
}

TEST(EspeakVoice, PlaysInRealTimeOnADeviceAndAPurgeEmptiesIt) {
    Child child("espeak-device", {{"SDL_AUDIODRIVER", "dummy"}});
    const auto result = child.finish(60s);
    ASSERT_TRUE(result.exited);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    const auto values = tw_test::keyValues(result.out);
    EXPECT_LT(std::stod(values.at("speak_us")), 10000.0);
    EXPECT_EQ(values.at("idle"), "1");
    // The sentence lasts about 1.6 s; only a device playing it makes waiting take that long.
    EXPECT_GT(std::stod(values.at("drain_us")), 1.2e6) << result.out;
    EXPECT_LT(std::stod(values.at("drain_us")), 6e6) << result.out;
    EXPECT_LT(std::stod(values.at("purge_us")), 10000.0);
    EXPECT_EQ(values.at("purged_idle"), "1");
    // Over a minute of speech was queued; the purge must have dropped it.
    EXPECT_LT(std::stod(values.at("after_purge_us")), 1e6) << result.out;
}

TEST(EspeakVoice, WithoutADeviceSpeechStillNeverBlocks) {
    Child child("espeak-device", {{"SDL_AUDIODRIVER", std::nullopt}});
    const auto result = child.finish(120s);
    ASSERT_TRUE(result.exited);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    const auto values = tw_test::keyValues(result.out);
    EXPECT_LT(std::stod(values.at("speak_us")), 10000.0);
    EXPECT_EQ(values.at("idle"), "1");
    EXPECT_LT(std::stod(values.at("purge_us")), 10000.0);
    EXPECT_EQ(values.at("purged_idle"), "1");
}

}  // namespace
