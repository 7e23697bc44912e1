// tests/text_test.cpp: Windows-1252 conversion, case folding, value lines, line splitting, text files and the random generator.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "game/random.h"
#include "game/text.h"
#include "tests/form_fixture.h"

namespace tw {
namespace {

using testing::ScratchFolder;
using Lines = std::vector<std::string>;

// True when `s` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool validUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        int extra;
        std::uint32_t cp;
        if (b < 0x80) { ++i; continue; }
        if (b >= 0xC2 && b <= 0xDF) { extra = 1; cp = b & 0x1F; }
        else if (b >= 0xE0 && b <= 0xEF) { extra = 2; cp = b & 0x0F; }
        else if (b >= 0xF0 && b <= 0xF4) { extra = 3; cp = b & 0x07; }
        else return false;
        if (i + extra >= s.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

TEST(Cp1252, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string utf8 = cp1252ToUtf8(all);
    EXPECT_TRUE(validUtf8(utf8));
    EXPECT_EQ(utf8ToCp1252(utf8), all);
    std::set<std::string> forms;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string decoded = cp1252ToUtf8(one);
        EXPECT_TRUE(validUtf8(decoded)) << b;
        EXPECT_EQ(utf8ToCp1252(decoded), one) << b;
        EXPECT_TRUE(forms.insert(decoded).second) << "two bytes decode alike: " << b;
        if (b < 0x80) {
            EXPECT_EQ(decoded, one) << b;
        }
    }
}

TEST(Cp1252, KnownCharacters) {
    EXPECT_EQ(cp1252ToUtf8("\x80"), "\xE2\x82\xAC");       // euro sign
    EXPECT_EQ(cp1252ToUtf8("\x85"), "\xE2\x80\xA6");       // ellipsis
    EXPECT_EQ(cp1252ToUtf8("\x92"), "\xE2\x80\x99");       // right single quote
    EXPECT_EQ(cp1252ToUtf8("\x9F"), "\xC5\xB8");           // Y with diaeresis
    EXPECT_EQ(cp1252ToUtf8("\xA0"), "\xC2\xA0");
    EXPECT_EQ(cp1252ToUtf8("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(cp1252ToUtf8("\xFF"), "\xC3\xBF");
    // The five bytes the code page leaves undefined are kept as the matching control characters.
    for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(cp1252ToUtf8(one), (std::string{'\xC2', static_cast<char>(b)})) << int(b);
    }
    EXPECT_EQ(utf8ToCp1252("\xE2\x82\xAC 5"), "\x80 5");
    EXPECT_EQ(utf8ToCp1252("\xC5\x93uf"), "\x9C" "uf");
}

TEST(Cp1252, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(utf8ToCp1252("\xE2\x86\x92"), "?");                 // rightwards arrow
    EXPECT_EQ(utf8ToCp1252("a\xE2\x86\x92" "b"), "a?b");
    EXPECT_EQ(utf8ToCp1252("\xF0\x9F\x98\x80!"), "?!");          // an emoji: one mark, not four
    EXPECT_EQ(utf8ToCp1252("\xC4\x80"), "?");                     // A with macron
    EXPECT_EQ(utf8ToCp1252("\xC2\x80"), "?");                     // U+0080 has no byte of its own
    EXPECT_EQ(utf8ToCp1252(""), "");
}

TEST(CaseFolding, AsciiAndWindows1252Letters) {
    EXPECT_EQ(ucase("abc xyz ABC 09 .,!?"), "ABC XYZ ABC 09 .,!?");
    EXPECT_EQ(ucase("stra\xC3\x9F" "e"), "STRA\xC3\x9F" "E");    // sharp s has no one-letter capital
    EXPECT_EQ(ucase("\xC3\xBF"), "\xC5\xB8");                    // y diaeresis
    EXPECT_EQ(ucase("\xC5\x93"), "\xC5\x92");                    // oe
    EXPECT_EQ(ucase("\xC5\xA1\xC5\xBE"), "\xC5\xA0\xC5\xBD");    // s and z with caron
    EXPECT_EQ(ucase("caf\xC3\xA9 \xC3\xA0\xC3\xBE"), "CAF\xC3\x89 \xC3\x80\xC3\x9E");
    EXPECT_EQ(ucase("\xC3\xB7\xC3\x97\xC2\xB5"), "\xC3\xB7\xC3\x97\xC2\xB5");  // division, multiplication, micro
    EXPECT_EQ(ucase(""), "");
    EXPECT_TRUE(samenocase("CAF\xC3\x89", "caf\xC3\xA9"));
    EXPECT_TRUE(samenocase("Put", "pUT"));
    EXPECT_FALSE(samenocase("put", "putt"));
    EXPECT_FALSE(samenocase("cafe", "caf\xC3\xA9"));
    // Every lower-case letter of the code page folds onto its capital and nothing else moves.
    for (int b = 0; b < 256; ++b) {
        const std::string one = cp1252ToUtf8(std::string(1, static_cast<char>(b)));
        const std::string folded = ucase(one);
        EXPECT_EQ(ucase(folded), folded) << b;
        EXPECT_EQ(utf8ToCp1252(folded).size(), 1u) << b;
    }
}

TEST(ValueLines, NumbersAndFields) {
    EXPECT_EQ(valueText(3), " 3 ");
    EXPECT_EQ(valueText(-3), "-3 ");
    EXPECT_EQ(valueText(0), " 0 ");
    EXPECT_EQ(valueText(40), " 40 ");
    EXPECT_EQ(readField("  12 ,x"), "12");
    EXPECT_EQ(readField(" 3 "), "3");
    EXPECT_EQ(readField("-3 "), "-3");
    EXPECT_EQ(readField("glass jar"), "glass jar");
    EXPECT_EQ(readField(""), "");
    EXPECT_EQ(readField(" ,5"), "");
    for (long long n : {0LL, 3LL, -3LL, 40LL, -1000LL, 123456789LL}) {
        const auto back = fieldNumber(readField(valueText(n)));
        ASSERT_TRUE(back.has_value()) << n;
        EXPECT_EQ(*back, n);
    }
    EXPECT_EQ(fieldNumber("12"), 12);
    EXPECT_EQ(fieldNumber("-7"), -7);
    EXPECT_EQ(fieldNumber("007"), 7);
    for (const char* bad : {"", "-", "+", "1a", "a1", "--1", "1-", "1 2", "1.5", "0x10", "99999999999999999999",
                            "-99999999999999999999", "9223372036854775808", "18446744073709551617"}) {
        EXPECT_FALSE(fieldNumber(bad).has_value()) << '"' << bad << '"';
    }
}

TEST(Lines, EveryEndMark) {
    EXPECT_EQ(splitLines(""), Lines{});
    EXPECT_EQ(splitLines("one"), Lines{"one"});
    EXPECT_EQ(splitLines("one\r\n"), Lines{"one"});
    EXPECT_EQ(splitLines("one\r"), Lines{"one"});
    EXPECT_EQ(splitLines("one\n"), Lines{"one"});
    EXPECT_EQ(splitLines("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines("a\n\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(splitLines("a\r\n\r\n"), (Lines{"a", ""}));
    EXPECT_EQ(splitLines("\n"), Lines{""});
    EXPECT_EQ(splitLines("\n\r"), (Lines{"", ""}));
    EXPECT_EQ(splitLines("\r\r\n"), (Lines{"", ""}));
    EXPECT_EQ(splitLines(" a \t\r\n  "), (Lines{" a \t", "  "}));
    EXPECT_EQ(splitLines(std::string("a\0b\n", 4)), Lines{std::string("a\0b", 3)});
}

TEST(Lines, TextFilesRoundTrip) {
    ScratchFolder folder;
    const Lines lines = {"The word, caf\xC3\xA9, will now be replaced with, \xE2\x82\xAC.", "", " 3 ", "last"};
    ASSERT_TRUE(writeTextFile(folder.file("t.txt"), lines));
    std::string bytes;
    ASSERT_TRUE(readFileBytes(folder.file("t.txt"), bytes));
    EXPECT_EQ(bytes, "The word, caf\xE9, will now be replaced with, \x80.\r\n\r\n 3 \r\nlast\r\n");
    const auto back = readTextFile(folder.file("t.txt"));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, lines);
    EXPECT_FALSE(readTextFile(folder.file("missing.txt")).has_value());
    std::string why;
    ASSERT_TRUE(replaceFileBytes(folder.file("t.txt"), "new\r\n", why)) << why;
    ASSERT_TRUE(readFileBytes(folder.file("t.txt"), bytes));
    EXPECT_EQ(bytes, "new\r\n");
    EXPECT_FALSE(replaceFileBytes(folder.file("no/such/folder.txt"), "x", why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(joinLines({}), "");
    EXPECT_EQ(joinLines({"\xE2\x86\x92"}), "?\r\n");
}

TEST(RandomDraws, SameSeedSameSequenceAndPinnedValues) {
    Random a, b;
    a.seed(1);
    b.seed(1);
    // Saved games and --seed rely on these exact values on every compiler.
    EXPECT_EQ(a.next(), 0x1.67e55eda1f8e2p-1);
    EXPECT_EQ(a.next(), 0x1.0a76ab2c8e6c9p-1);
    EXPECT_EQ(a.next(), 0x1.25f12eac10548p-1);
    for (int i = 0; i < 3; ++i) b.next();
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(a.next(), b.next()) << i;
    Random c;
    c.seed(2);
    Random d;
    d.seed(1);
    EXPECT_NE(c.next(), d.next());
}

TEST(RandomDraws, RangesAndCoverage) {
    Random r;
    r.seed(12345);
    std::set<int> draws, positions;
    for (int i = 0; i < 100000; ++i) {
        const double v = r.next();
        ASSERT_GE(v, 0.0);
        ASSERT_LT(v, 1.0);
    }
    for (int i = 0; i < 2000; ++i) {
        const int d = r.draw(17);
        ASSERT_GE(d, 1);
        ASSERT_LE(d, 17);
        draws.insert(d);
        const int p = r.position(5);
        ASSERT_GE(p, 0);
        ASSERT_LT(p, 5);
        positions.insert(p);
    }
    EXPECT_EQ(draws.size(), 17u);
    EXPECT_EQ(positions.size(), 5u);
}

TEST(RandomDraws, ScriptedValuesComeFirstAndLeaveTheSequenceAlone) {
    Random plain, scripted;
    plain.seed(9);
    scripted.seed(9);
    scripted.script({0.5, (4 - 0.5) / 14, 0.0, 0.999999});
    EXPECT_EQ(scripted.scriptedLeft(), 4u);
    EXPECT_EQ(scripted.next(), 0.5);
    EXPECT_EQ(scripted.draw(14), 4);
    EXPECT_EQ(scripted.draw(10), 1);
    EXPECT_EQ(scripted.position(481), 480);
    EXPECT_EQ(scripted.scriptedLeft(), 0u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(scripted.next(), plain.next());
    // Seeding throws away what was scripted.
    scripted.script({0.25});
    scripted.seed(9);
    plain.seed(9);
    EXPECT_EQ(scripted.scriptedLeft(), 0u);
    EXPECT_EQ(scripted.next(), plain.next());
    // Forcing a value v of 1..n works for every v.
    for (int n : {1, 2, 3, 4, 6, 10, 14, 17, 51}) {
        for (int v = 1; v <= n; ++v) {
            scripted.script({(v - 0.5) / n, (v - 0.5) / n});
            EXPECT_EQ(scripted.draw(n), v);
            EXPECT_EQ(scripted.position(n), v - 1);
        }
    }
}

}  // namespace
}  // namespace tw
