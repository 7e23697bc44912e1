// tests/content_test.cpp: the how-to pages, the ending story, the word list and the
// generated award chime.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "game/ending.h"
#include "input/howto.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot open " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool isTerminator(char c) { return c == '.' || c == '!' || c == '?'; }

// Counts sentences in a page whose sentences are separated by exactly two blanks.
// A sentence ends at . ! or ? (optionally followed by a closing quote) that is followed by
// the page end or by two blanks.  Any end mark followed by a single blank, or by three or
// more, is reported through `bad`.
int countSentences(std::string_view page, std::string& bad) {
    int count = 0;
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (!isTerminator(page[i])) continue;
        std::size_t j = i + 1;
        if (j < page.size() && page[j] == '"') ++j;
        if (j == page.size()) {
            ++count;
            break;
        }
        if (page[j] != ' ') continue;  // e.g. a mark inside a word, not a sentence end
        std::size_t blanks = 0;
        while (j + blanks < page.size() && page[j + blanks] == ' ') ++blanks;
        if (blanks != 2) {
            bad += "[" + std::string(page.substr(i > 20 ? i - 20 : 0, 30)) + "]";
        }
        ++count;
        i = j + blanks - 1;
    }
    return count;
}

void expectPlainText(std::string_view page, std::size_t index) {
    ASSERT_FALSE(page.empty()) << "page " << index;
    for (char c : page) {
        const auto u = static_cast<unsigned char>(c);
        EXPECT_TRUE(u >= 0x20 && u <= 0x7E) << "page " << index << " has byte " << int(u);
    }
    EXPECT_NE(page.front(), ' ') << "page " << index;
    EXPECT_NE(page.back(), ' ') << "page " << index;
    EXPECT_TRUE(isTerminator(page.back()) || page.back() == '"') << "page " << index;
}

// The quoted phrases of a page, without their quotes.
std::vector<std::string> quotes(std::string_view page) {
    std::vector<std::string> found;
    std::size_t pos = 0;
    while (true) {
        const auto open = page.find('"', pos);
        if (open == std::string_view::npos) break;
        const auto close = page.find('"', open + 1);
        EXPECT_NE(close, std::string_view::npos) << "unbalanced quote in: " << page;
        if (close == std::string_view::npos) break;
        found.emplace_back(page.substr(open + 1, close - open - 1));
        pos = close + 1;
    }
    return found;
}

int wordCount(std::string_view s) {
    std::istringstream in{std::string(s)};
    std::string w;
    int n = 0;
    while (in >> w) ++n;
    return n;
}

const std::array<const char*, 13> howtoOpenings = {
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
    "I don't have the slightest idea how far a person can get in this game.",
};

const std::array<const char*, 9> endingOpenings = {
    "With the placement of this final item, ",
    "As you survey the room, ",
    "Men in white coats enter the home.",
    "After being fastened, securely, ",
    "Before stepping up in to the van, ",
    "The men help Dorvel up into the van, ",
    "Looking back on that day, ",
    "In hind sight, perhaps Dorvel did you a favor.",
    "So things turned out for the best, ",
};

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

}  // namespace

TEST(HowTo, EveryPageStartsWithItsOpening) {
    for (std::size_t i = 0; i < tw::howtopages.size(); ++i) {
        EXPECT_TRUE(startsWith(tw::howtopages[i], howtoOpenings[i]))
            << "page " << i + 1 << ": " << tw::howtopages[i];
    }
}

TEST(HowTo, PagesArePlainTextOfOneToFourSentences) {
    for (std::size_t i = 0; i < tw::howtopages.size(); ++i) {
        const std::string& page = tw::howtopages[i];
        expectPlainText(page, i + 1);
        EXPECT_FALSE(contains(page, "\"")) << "page " << i + 1;
        std::string bad;
        const int n = countSentences(page, bad);
        EXPECT_GE(n, 1) << "page " << i + 1;
        EXPECT_LE(n, 4) << "page " << i + 1 << ": " << page;
        EXPECT_TRUE(bad.empty()) << "page " << i + 1 << " sentence gap not two blanks: " << bad;
    }
}

TEST(HowTo, PagesCarryTheKeysAndNumbers) {
    const auto& p = tw::howtopages;
    EXPECT_TRUE(contains(p[0], "word association and memory"));
    EXPECT_TRUE(contains(p[1], "Dorvel"));
    EXPECT_TRUE(contains(p[1], "shoes"));
    EXPECT_TRUE(contains(p[3], "1 through 0"));
    EXPECT_TRUE(contains(p[3], "W through I"));
    EXPECT_TRUE(contains(p[4], "A through G"));
    EXPECT_TRUE(contains(p[5], "Enter"));
    EXPECT_TRUE(contains(p[5], "one item"));
    EXPECT_TRUE(contains(p[6], "Q "));
    EXPECT_TRUE(contains(p[9], "random word"));
    EXPECT_TRUE(contains(p[10], "40"));
    EXPECT_TRUE(contains(p[10], "ending story"));
    EXPECT_TRUE(contains(p[11], "X "));
    EXPECT_TRUE(contains(p[11], "C "));
    EXPECT_TRUE(contains(p[11], "V "));
}

TEST(Ending, EveryPageStartsWithItsOpening) {
    for (std::size_t i = 0; i < tw::endingpages.size(); ++i) {
        EXPECT_TRUE(startsWith(tw::endingpages[i], endingOpenings[i]))
            << "page " << i + 1 << ": " << tw::endingpages[i];
    }
}

TEST(Ending, PagesArePlainParagraphs) {
    for (std::size_t i = 0; i < tw::endingpages.size(); ++i) {
        const std::string& page = tw::endingpages[i];
        expectPlainText(page, i + 1);
        std::string bad;
        EXPECT_GE(countSentences(page, bad), 2) << "page " << i + 1;
        EXPECT_TRUE(bad.empty()) << "page " << i + 1 << " sentence gap not two blanks: " << bad;
    }
}

TEST(Ending, DorvelSaysTwoNonsenseWords) {
    const auto said = quotes(tw::endingpages[4]);
    ASSERT_EQ(said.size(), 1u) << tw::endingpages[4];
    EXPECT_EQ(wordCount(said[0]), 2) << said[0];
}

TEST(Ending, LastPageRepeatsTheFarewellAndEndsTheGame) {
    const auto farewell = quotes(tw::endingpages[5]);
    ASSERT_EQ(farewell.size(), 1u) << tw::endingpages[5];
    ASSERT_FALSE(farewell[0].empty());
    EXPECT_LE(wordCount(farewell[0]), 8) << farewell[0];
    const std::string quoted = "\"" + farewell[0] + "\"";
    EXPECT_TRUE(contains(tw::endingpages[8], quoted)) << tw::endingpages[8];

    const std::string_view last = tw::endingpages[8];
    const std::string_view tail = "Game over.";
    ASSERT_GE(last.size(), tail.size());
    EXPECT_EQ(last.substr(last.size() - tail.size()), tail);
}

TEST(WordList, IsPlainDistinctAndWellFormed) {
    const std::string bytes = readFile(TW_SOURCE_DIR "/content/words.txt");
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
    EXPECT_EQ(bytes.find('\r'), std::string::npos);
    EXPECT_EQ(bytes.find("\n\n"), std::string::npos);

    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        auto end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    EXPECT_GE(lines.size(), 300u);

    std::set<std::string> seen;
    for (const std::string& line : lines) {
        ASSERT_FALSE(line.empty());
        EXPECT_NE(line.front(), ' ') << "[" << line << "]";
        EXPECT_NE(line.back(), ' ') << "[" << line << "]";
        EXPECT_FALSE(contains(line, "  ")) << "[" << line << "]";
        EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(line.front()))) << line;
        EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(line.back()))) << line;
        for (char c : line) {
            const auto u = static_cast<unsigned char>(c);
            const bool letter = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
            EXPECT_TRUE(letter || c == ' ' || c == '-') << "bad character in [" << line << "]";
        }
        EXPECT_FALSE(contains(line, ",") || contains(line, ".") || contains(line, "!")) << line;
        EXPECT_LE(wordCount(line), 3) << line;

        std::string key = line;
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_TRUE(seen.insert(key).second) << "duplicate: " << line;
    }
}

TEST(WordList, BuildCopyMatchesSource) {
    EXPECT_EQ(readFile(TW_BINARY_DIR "/words.txt"), readFile(TW_SOURCE_DIR "/content/words.txt"));
}

namespace {

std::uint32_t le32(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::uint16_t le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      static_cast<unsigned char>(b[at + 1]) << 8);
}

}  // namespace

TEST(AwardChime, IsShortCleanPcmWave) {
    const std::string b = readFile(TW_BINARY_DIR "/sounds/award.wav");
    ASSERT_GE(b.size(), 44u);
    ASSERT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(b, 4), b.size() - 8);
    ASSERT_EQ(b.substr(8, 4), "WAVE");

    bool haveFmt = false;
    std::uint16_t format = 0, channels = 0, bits = 0, blockAlign = 0;
    std::uint32_t rate = 0, byteRate = 0;
    std::size_t dataAt = 0, dataSize = 0;
    std::size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const std::string id = b.substr(pos, 4);
        const std::uint32_t size = le32(b, pos + 4);
        ASSERT_LE(pos + 8 + size, b.size()) << "chunk " << id << " runs past the file end";
        if (id == "fmt ") {
            ASSERT_GE(size, 16u);
            format = le16(b, pos + 8);
            channels = le16(b, pos + 10);
            rate = le32(b, pos + 12);
            byteRate = le32(b, pos + 16);
            blockAlign = le16(b, pos + 20);
            bits = le16(b, pos + 22);
            haveFmt = true;
        } else if (id == "data") {
            dataAt = pos + 8;
            dataSize = size;
        }
        pos += 8 + size + (size & 1u);
    }
    ASSERT_TRUE(haveFmt);
    ASSERT_NE(dataAt, 0u);
    EXPECT_EQ(format, 1);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(rate, 22050u);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(blockAlign, 2);
    EXPECT_EQ(byteRate, 44100u);
    ASSERT_EQ(dataSize % 2, 0u);

    const double seconds = static_cast<double>(dataSize) / 44100.0;
    EXPECT_LT(seconds, 2.0);
    EXPECT_GE(seconds, 0.6);

    std::vector<int> samples;
    for (std::size_t i = 0; i < dataSize; i += 2) {
        samples.push_back(static_cast<std::int16_t>(le16(b, dataAt + i)));
    }
    ASSERT_FALSE(samples.empty());
    int peak = 0;
    for (int s : samples) peak = std::max(peak, std::abs(s));
    EXPECT_GT(peak, 3277) << "quieter than -20 dBFS";
    EXPECT_LT(peak, 32767) << "reaches full scale";
    // Silent at both ends, so it starts and stops without a click.
    EXPECT_LT(std::abs(samples.front()), 64);
    EXPECT_LT(std::abs(samples.back()), 64);
}
