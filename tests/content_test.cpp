// tests/content_test.cpp: the how-to pages, the ending story, the word list and the generated award chime.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <tuple>

#include "game/ending.h"
#include "game/text.h"
#include "input/howto.h"
#include "tests/form_fixture.h"
#include "tests/wav_util.h"

namespace {

std::string readFile(const std::string& path) {
    const auto bytes = tw::driver::readBytes(path);
    EXPECT_TRUE(bytes) << "cannot open " << path;
    return bytes.value_or("");
}

TEST(Pages, HowToAndEndingPagesOpenAsWritten) {
    const std::array<const char*, 13> howto = {
        "Tumblewick, is an insane game",
        "You have been hired to help a man organize his house.",
        "The shoes you want to buy are so friking amazing!",
        "Within Dorvel's house, there are 10 rooms.",
        "For example, if you went in to the bathroom",
        "Some locations will have only a single item",
        "To advance in the game, you must perform tasks",
        "There are 2 things that make this game difficult.",
        "The other challenge, is that your employer is slowly going insane.",
        "With each task completed, a single common word will be swapped out",
        "Only the tasks spoken by Dorvel will be jumbled",
        "At any time, press Z, to hear your current status.",
        "I don't have the slightest idea how far a person can get in this game."};
    const std::array<const char*, 9> ending = {"With the placement of this final item, ",
                                               "As you survey the room, ",
                                               "Men in white coats enter the home.",
                                               "After being fastened, securely, ",
                                               "Before stepping up in to the van, ",
                                               "The men help Dorvel up into the van, ",
                                               "Looking back on that day, ",
                                               "In hind sight, perhaps Dorvel did you a favor.",
                                               "So things turned out for the best, "};
    for (std::size_t i = 0; i < howto.size(); ++i)
        EXPECT_EQ(tw::howtopages[i].rfind(howto[i], 0), 0u) << tw::howtopages[i];
    for (std::size_t i = 0; i < ending.size(); ++i)
        EXPECT_EQ(tw::endingpages[i].rfind(ending[i], 0), 0u) << tw::endingpages[i];
}

// The sentences of a page: each ends in a full stop, "!" or "?" and the next follows two blanks later.
int sentences(const std::string& page) {
    int count = 0;
    for (std::size_t i = 0; i < page.size(); ++i)
        if ((page[i] == '.' || page[i] == '!' || page[i] == '?') && (i + 1 == page.size() || page[i + 1] == ' '))
            ++count;
    return count;
}

TEST(Pages, HowToPagesTeachWhatANewPlayerNeedsInOneToFourSentences) {
    std::string all;
    for (const std::string& page : tw::howtopages) {
        EXPECT_TRUE(sentences(page) >= 1 && sentences(page) <= 4) << sentences(page) << ": " << page;
        EXPECT_EQ(page.find(". "), page.find(".  ")) << "two blanks after a full stop: " << page;
        all += page + " ";
    }
    for (const char* taught : {"Escape", "main menu", "Save your game", "load it", "Exit the game keeps", "B ", "Tab ",
                               "Page Up", "Page Down", "Control", "Space", "silences", "A through G"})
        EXPECT_NE(all.find(taught), std::string::npos) << taught;
    // The example is true of this house: W in the bathroom is its first spot.
    tw::testing::HeadlessGame game(tw::testing::shippedFolder());
    game.form.newgame();
    ASSERT_EQ(game.form.roomname[5], "Bathroom");
    const std::string spot = game.form.spotname[5][1];  // "on the shelf"
    const std::string place = spot.substr(spot.find(' ') + 1);
    EXPECT_NE(
        tw::howtopages[4].find("went in to the bathroom and pressed W, you would find yourself at " + place + "."),
        std::string::npos)
        << tw::howtopages[4];
}

TEST(Pages, LastEndingPageRepeatsTheFarewellAndEndsTheGame) {
    const std::string &farewell = tw::endingpages[5], &last = tw::endingpages[8];
    const auto open = farewell.find('"'), close = farewell.find('"', open + 1);
    ASSERT_NE(close, std::string::npos) << farewell;
    EXPECT_EQ(farewell.find('"', close + 1), std::string::npos) << "one quoted farewell: " << farewell;
    const std::string quoted = farewell.substr(open, close - open + 1);
    EXPECT_GT(quoted.size(), 2u);
    EXPECT_NE(last.find(quoted), std::string::npos) << last;
    ASSERT_GE(last.size(), 10u);
    EXPECT_EQ(last.substr(last.size() - 10), "Game over.");
}

TEST(WordList, DistinctLinesOfOneToThreeWordsOfLetters) {
    const std::string bytes = readFile(TW_SOURCE_DIR "/content/words.txt");
    EXPECT_EQ(readFile(TW_GAME_DIR "/words.txt"), bytes);  // the build copies it unchanged
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
