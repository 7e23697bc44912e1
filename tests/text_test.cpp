// tests/text_test.cpp: Windows-1252 conversion and case folding. (Value lines and text files are
// read and written in the saved games of tests/transcripts/save-files.tw and damaged-saves.tw; the
// random generator's sequence is pinned by the seeded key scripts, which every build plays.)
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "game/form1.h"
#include "game/text.h"
#include "save/savefile.h"

namespace tw {
namespace {

using Texts = std::vector<std::pair<std::string, std::string>>;

TEST(Cp1252, EveryByteRoundTripsAndKnownCharacters) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(cp1252ToUtf8(all.substr(0, 128)), all.substr(0, 128));
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
    // Windows-1252 and UTF-8; the five bytes the code page leaves undefined stay as the matching control characters.
    const Texts known = {{"\x80", "\xE2\x82\xAC"},
                         {"\x85", "\xE2\x80\xA6"},
                         {"\x92", "\xE2\x80\x99"},
                         {"\x9F", "\xC5\xB8"},
                         {"\x9Cuf", "\xC5\x93uf"},
                         {"\xA0", "\xC2\xA0"},
                         {"caf\xE9", "caf\xC3\xA9"},
                         {"\xFF", "\xC3\xBF"},
                         {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"}};
    for (const auto& [bytes, utf8] : known) {
        EXPECT_EQ(cp1252ToUtf8(bytes), utf8);
        EXPECT_EQ(utf8ToCp1252(utf8), bytes);
    }
    // A character outside the code page becomes one question mark, however many bytes it takes.
    const Texts outside = {{"a\xE2\x86\x92"
                            "b",
                            "a?b"},
                           {"\xF0\x9F\x98\x80!", "?!"},
                           {"\xC4\x80", "?"},
                           {"\xC2\x80", "?"}};
    for (const auto& [utf8, bytes] : outside) EXPECT_EQ(utf8ToCp1252(utf8), bytes);
}

TEST(CaseFolding, AsciiAndWindows1252Letters) {
    const Texts folds = {{"abc xyz ABC 09 .,!?", "ABC XYZ ABC 09 .,!?"},
                         {"\xC3\xBF", "\xC5\xB8"},
                         {"\xC5\x93", "\xC5\x92"},
                         {"\xC5\xA1\xC5\xBE", "\xC5\xA0\xC5\xBD"},
                         {"caf\xC3\xA9 \xC3\xA0\xC3\xBE", "CAF\xC3\x89 \xC3\x80\xC3\x9E"},
                         // sharp s, division, multiplication and micro stay as they are
                         {"\xC3\x9F\xC3\xB7\xC3\x97\xC2\xB5", "\xC3\x9F\xC3\xB7\xC3\x97\xC2\xB5"}};
    for (const auto& [text, upper] : folds) EXPECT_EQ(ucase(text), upper) << text;
    EXPECT_TRUE(samenocase("CAF\xC3\x89 Put", "caf\xC3\xA9 pUT"));
    EXPECT_FALSE(samenocase("cafe", "caf\xC3\xA9"));
    // Every character of the code page folds onto one character of it, and a second fold changes nothing.
    for (int b = 0; b < 256; ++b) {
        const std::string folded = ucase(cp1252ToUtf8(std::string(1, static_cast<char>(b))));
        EXPECT_EQ(ucase(folded), folded) << b;
        EXPECT_EQ(utf8ToCp1252(folded).size(), 1u) << b;
    }
}

// No text the game keeps holds a line break (every one comes from a line of a file or from the
// game itself), but one written raw would shift every line after it: it is saved as a blank.
TEST(SavedTexts, ALineBreakInATextIsWrittenAsABlank) {
    GameState g;
    g.version = "a\r\nb";
    std::string bytes;
    ASSERT_TRUE(savedGameBytes(g, bytes).ok);
    EXPECT_EQ(bytes.substr(0, 6), "a  b\r\n");
}

}  // namespace
}  // namespace tw
