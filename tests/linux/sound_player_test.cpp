// tests/linux/sound_player_test.cpp: WAV playback through SDL, timed on the dummy driver and with no device at all.
#include <gtest/gtest.h>

#include <thread>

#include "platform/linux/sound_player.h"
#include "tests/linux/test_support.h"

namespace {

using namespace std::chrono_literals;

// A 440 Hz tone as 16-bit mono PCM at 22050 Hz; the header is laid out for a little-endian host.
void writeTone(const std::string& path, double seconds) {
    std::vector<std::int16_t> pcm(std::size_t(seconds * 22050));
    for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = std::int16_t(12000 * std::sin(i * 2 * M_PI * 440 / 22050));
    const std::uint32_t bytes = std::uint32_t(pcm.size() * 2),
                        header[] = {0x46464952, 36 + bytes, 0x45564157, 0x20746d66, 16,   0x10001,
                                    22050,      44100,      0x100002,   0x61746164, bytes};  // RIFF, WAVE, fmt, data
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(header), sizeof header)
        .write(reinterpret_cast<const char*>(pcm.data()), bytes);
}

TEST(SoundPlayer, PlayReturnsAtOnceAndANewSoundCutsTheOldOff) {
    tw_test::TempDir dir;
    writeTone(dir / "long.wav", 3.0);
    writeTone(dir / "blip.wav", 0.1);
    std::ofstream(dir / "garbage.wav", std::ios::binary) << std::string("RIFF\x40\0\0\0WAVEfmt \x10\0\0\0\1\0", 22);
    for (const bool dummy : {true, false}) {
        SCOPED_TRACE(dummy ? "dummy driver" : "no driver chosen");
        tw_test::ScopedEnv driver("SDL_AUDIODRIVER", dummy ? std::optional<std::string>("dummy") : std::nullopt);
        tw::SoundPlayer player;
        for (const std::string name : {"missing.wav", "garbage.wav", "", "long.wav"}) {  // "" names the folder
            const auto start = std::chrono::steady_clock::now();
            player.play(dir / name);
            EXPECT_LT(tw_test::elapsedMicros(start), 50000.0) << name;
            ASSERT_TRUE(player.waitUntilHandled(10s)) << name;
        }
        // Only the tone can start; with no device at all nothing may claim to be playing.
        EXPECT_TRUE(dummy ? player.soundsStarted() == 1 : player.soundsStarted() > 0 || !player.playing());
        if (dummy) {
            std::this_thread::sleep_for(400ms);
            EXPECT_TRUE(player.playing());  // three seconds of tone are still going 0.4 s in...
            player.play(dir / "blip.wav");
            ASSERT_TRUE(player.waitUntilHandled(10s));
            // ...but a 0.1 s blip played over them is all there is to hear: silence long before the tone's end.
            for (const auto until = std::chrono::steady_clock::now() + 1500ms;
                 player.playing() && std::chrono::steady_clock::now() < until;)
                std::this_thread::sleep_for(5ms);
            EXPECT_FALSE(player.playing());
            for (const char* name : {"long.wav", "missing.wav"}) {
                player.play(dir / name);
                ASSERT_TRUE(player.waitUntilHandled(10s));
            }
            EXPECT_FALSE(player.playing());  // a sound that cannot be loaded still stops the one before
            EXPECT_EQ(player.soundsStarted(), 3);
        }
    }
}

}  // namespace
