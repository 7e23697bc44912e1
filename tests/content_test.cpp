// tests/content_test.cpp: the word list and the generated award chime. (What the how-to pages and
// the ending say is heard in tests/transcripts/pages.tw and ending.tw.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <tuple>

#include "game/text.h"
#include "tests/driver_util.h"
#include "tests/wav_util.h"

namespace {

TEST(WordList, DistinctLinesOfOneToThreeWordsOfLetters) {
    const std::string bytes = tw::driver::readBytes(TW_SOURCE_DIR "/content/words.txt").value_or("");
    EXPECT_EQ(tw::driver::readBytes(TW_GAME_DIR "/words.txt"), bytes);  // the build copies it unchanged
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
    // One blank between words, hyphens only inside a word; no carriage return, empty line or outer blank.
    const std::regex rule("[A-Za-z]+(-[A-Za-z]+)*( [A-Za-z]+(-[A-Za-z]+)*){0,2}");
    std::set<std::string> seen;
    for (std::size_t start = 0, end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = bytes.substr(start, end - start);
        EXPECT_TRUE(std::regex_match(line, rule)) << "[" << line << "]";
        EXPECT_TRUE(seen.insert(tw::ucase(line)).second) << "duplicate, whatever the case: " << line;
    }
    EXPECT_GE(seen.size(), 300u);
}

TEST(AwardChime, IsAShortCleanPcmWave) {
    // The reader checks the RIFF sizes against the file and takes only 16-bit PCM.
    const auto wav = tw_test::readWav(TW_GAME_DIR "/sounds/award.wav");
    ASSERT_TRUE(wav.has_value());
    EXPECT_EQ(std::tuple(wav->sampleRate, wav->channels, wav->bits), std::tuple(22050, 1, 16));
    EXPECT_TRUE(wav->seconds() >= 0.6 && wav->seconds() < 2.0) << wav->seconds();
    int peak = 0;
    for (const std::int16_t s : wav->samples) peak = std::max(peak, std::abs(int(s)));
    EXPECT_TRUE(peak > 3277 && peak < 32767) << "peak " << peak << " is not between -20 dBFS and full scale";
    // Silent at both ends, so it starts and stops without a click.
    EXPECT_LT(std::abs(int(wav->samples.front())), 64);
    EXPECT_LT(std::abs(int(wav->samples.back())), 64);
}

}  // namespace
