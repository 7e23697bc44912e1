// tests/linux/sound_player_test.cpp: WAV playback through SDL, timed on the dummy driver and with no device at all.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/linux/sound_player.h"
#include "tests/linux/test_support.h"

namespace {

using namespace std::chrono_literals;
using tw_test::Child;
using tw_test::TempDir;

// Runs in a child so that SDL starts with the driver the test chose. Prints what it saw.
int playerChild() {
    const char* dir = std::getenv("TW_TEST_DIR");
    if (!dir) return 5;
    const std::string folder = dir;
    tw::SoundPlayer& player = tw::processSoundPlayer();

    auto start = std::chrono::steady_clock::now();
    tw::playWavAsync(folder + "/missing.wav");
    const double missingUs = tw_test::elapsedMicros(start);
    start = std::chrono::steady_clock::now();
    tw::playWavAsync(folder + "/garbage.wav");
    const double garbageUs = tw_test::elapsedMicros(start);
    tw::playWavAsync(folder);  // a folder, not a file
    const bool badHandled = player.waitUntilHandled(10s);
    const int startedByBad = player.soundsStarted();

    start = std::chrono::steady_clock::now();
    tw::playWavAsync(folder + "/long.wav");
    const double realUs = tw_test::elapsedMicros(start);
    const bool longHandled = player.waitUntilHandled(10s);
    const int startedByLong = player.soundsStarted();
    const bool playingAtStart = player.playing();
    std::this_thread::sleep_for(400ms);
    const bool playingLater = player.playing();

    tw::playWavAsync(folder + "/blip.wav");
    const bool blipHandled = player.waitUntilHandled(10s);
    std::this_thread::sleep_for(500ms);
    const bool playingAfterCut = player.playing();

    tw::playWavAsync(folder + "/long.wav");
    player.waitUntilHandled(10s);
    tw::playWavAsync(folder + "/missing.wav");
    player.waitUntilHandled(10s);
    const bool playingAfterMissing = player.playing();

    std::printf(
        "missing_us=%.0f\ngarbage_us=%.0f\nreal_us=%.0f\nbad_handled=%d\nstarted_by_bad=%d\nlong_handled=%d\n"
        "started_by_long=%d\nplaying_at_start=%d\nplaying_later=%d\nblip_handled=%d\nplaying_after_cut=%d\n"
        "playing_after_missing=%d\nstarted=%d\n",
        missingUs, garbageUs, realUs, badHandled, startedByBad, longHandled, startedByLong, playingAtStart,
        playingLater, blipHandled, playingAfterCut, playingAfterMissing, player.soundsStarted());
    return 0;
}

[[maybe_unused]] const bool kChildHandled = [] {
    if (tw_test::childMode() == "sound-player") {
        const int code = playerChild();
        std::fflush(stdout);
        _exit(code);
    }
    return false;
}();

void makeSounds(const TempDir& dir) {
    tw_test::writeToneWav(dir / "long.wav", 3.0, 22050, 1, 440.0);
    tw_test::writeToneWav(dir / "blip.wav", 0.1, 48000, 2, 880.0);
    std::FILE* garbage = std::fopen((dir / "garbage.wav").c_str(), "wb");
    ASSERT_NE(garbage, nullptr);
    // A RIFF header whose promised chunks never come.
    const char bytes[] = "RIFF\x40\0\0\0WAVEfmt \x10\0\0\0\1\0";
    std::fwrite(bytes, 1, sizeof bytes - 1, garbage);
    std::fclose(garbage);
}

TEST(SoundPlayer, DummyDeviceReturnsAtOnceAndANewSoundCutsTheOldOff) {
    TempDir dir;
    makeSounds(dir);
    Child child("sound-player", {{"SDL_AUDIODRIVER", "dummy"}, {"TW_TEST_DIR", dir.path()}});
    const auto result = child.finish(60s);
    ASSERT_TRUE(result.exited) << result.out << result.err;
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    const auto values = tw_test::keyValues(result.out);
    EXPECT_LT(std::stod(values.at("missing_us")), 50000.0);
    EXPECT_LT(std::stod(values.at("garbage_us")), 50000.0);
    EXPECT_LT(std::stod(values.at("real_us")), 50000.0);
    EXPECT_EQ(values.at("bad_handled"), "1");
    EXPECT_EQ(values.at("started_by_bad"), "0");
    EXPECT_EQ(values.at("long_handled"), "1");
    EXPECT_EQ(values.at("started_by_long"), "1");
    EXPECT_EQ(values.at("playing_at_start"), "1");
    // Three seconds of tone are still going 0.4 s in...
    EXPECT_EQ(values.at("playing_later"), "1");
    EXPECT_EQ(values.at("blip_handled"), "1");
    // ...but a 0.1 s blip played over them is all that is left to hear.
    EXPECT_EQ(values.at("playing_after_cut"), "0");
    // A sound that cannot be loaded still stops the one before it.
    EXPECT_EQ(values.at("playing_after_missing"), "0");
    EXPECT_EQ(values.at("started"), "3");
}

TEST(SoundPlayer, NoDriverChosenNeverBlocksNorPrints) {
    TempDir dir;
    makeSounds(dir);
    Child child("sound-player", {{"SDL_AUDIODRIVER", std::nullopt}, {"TW_TEST_DIR", dir.path()}});
    const auto result = child.finish(60s);
    ASSERT_TRUE(result.exited) << result.out << result.err;
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    const auto values = tw_test::keyValues(result.out);
    EXPECT_LT(std::stod(values.at("missing_us")), 50000.0);
    EXPECT_LT(std::stod(values.at("real_us")), 50000.0);
    EXPECT_EQ(values.at("bad_handled"), "1");
    EXPECT_EQ(values.at("long_handled"), "1");
    EXPECT_EQ(values.at("started_by_bad"), "0");
    // With a real device here the tone plays; without one nothing may claim to be playing.
    if (values.at("started_by_long") == "0") {
        EXPECT_EQ(values.at("playing_at_start"), "0");
    }
}

TEST(SoundPlayer, PlayerShutsDownPromptlyWithSoundPending) {
    TempDir dir;
    makeSounds(dir);
    const auto start = std::chrono::steady_clock::now();
    {
        tw::SoundPlayer player;
        player.play(dir / "missing.wav");
        player.play(dir / "garbage.wav");
    }
    EXPECT_LT(tw_test::elapsedMicros(start), 2e6);
}

}  // namespace
