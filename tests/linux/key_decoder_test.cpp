// tests/linux/key_decoder_test.cpp: the terminal key decoder, byte sequence by byte sequence.
#include "platform/terminal/key_decoder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace tw {
// Readable failures: {code,shift}.
inline void PrintTo(const KeyDown& k, std::ostream* os) { *os << "{" << k.KeyCode << "," << k.Shift << "}"; }
}  // namespace tw

namespace {

using tw::KeyDecoder;
using tw::KeyDown;
using Keys = std::vector<KeyDown>;

const KeyDown kCtrl{17, 2};
const KeyDown kAlt{18, 4};
const KeyDown kJump{192, 2};

Keys decode(const std::string& bytes) {
    KeyDecoder d;
    Keys out = d.feed(bytes);
    EXPECT_FALSE(d.wantsTimeout()) << "bytes left waiting";
    return out;
}

TEST(KeyDecoder, DigitsAndLetters) {
    EXPECT_EQ(decode("1234567890"), (Keys{{49, 0}, {50, 0}, {51, 0}, {52, 0}, {53, 0}, {54, 0}, {55, 0},
                                           {56, 0}, {57, 0}, {48, 0}}));
    EXPECT_EQ(decode("wertyui"), (Keys{{87, 0}, {69, 0}, {82, 0}, {84, 0}, {89, 0}, {85, 0}, {73, 0}}));
    EXPECT_EQ(decode("asdfghj"), (Keys{{65, 0}, {83, 0}, {68, 0}, {70, 0}, {71, 0}, {72, 0}, {74, 0}}));
    EXPECT_EQ(decode("zxcvbq"), (Keys{{90, 0}, {88, 0}, {67, 0}, {86, 0}, {66, 0}, {81, 0}}));
    // Capitals are Shift plus the letter's key, with no separate Shift key-down.
    EXPECT_EQ(decode("AqZ"), (Keys{{65, 1}, {81, 0}, {90, 1}}));
}

TEST(KeyDecoder, PunctuationAsUsLayoutKeys) {
    EXPECT_EQ(decode("`~!-_=/?"), (Keys{{192, 0}, {192, 1}, {49, 1}, {189, 0}, {189, 1}, {187, 0}, {191, 0},
                                         {191, 1}}));
}

TEST(KeyDecoder, EnterTabBackspace) {
    EXPECT_EQ(decode("\r"), (Keys{{13, 0}}));
    EXPECT_EQ(decode("\n"), (Keys{{13, 0}}));
    // CR LF is one Enter; two CRs or two LFs are two.
    EXPECT_EQ(decode("\r\n"), (Keys{{13, 0}}));
    EXPECT_EQ(decode("\r\r"), (Keys{{13, 0}, {13, 0}}));
    EXPECT_EQ(decode("\n\n"), (Keys{{13, 0}, {13, 0}}));
    EXPECT_EQ(decode("\n\r"), (Keys{{13, 0}, {13, 0}}));
    EXPECT_EQ(decode("\ra\n"), (Keys{{13, 0}, {65, 0}, {13, 0}}));
    EXPECT_EQ(decode("\t"), (Keys{{9, 0}}));
    EXPECT_EQ(decode("\x7f"), (Keys{{8, 0}}));
    EXPECT_EQ(decode("\x1b[Z"), (Keys{{9, 1}}));
}

TEST(KeyDecoder, CrLfSplitAcrossFeeds) {
    KeyDecoder d;
    EXPECT_EQ(d.feed("\r"), (Keys{{13, 0}}));
    EXPECT_EQ(d.feed("\n"), Keys{});
    EXPECT_EQ(d.feed("\n"), (Keys{{13, 0}}));
}

TEST(KeyDecoder, CtrlLetters) {
    EXPECT_EQ(decode(std::string("\x01", 1)), (Keys{kCtrl, {65, 2}}));
    EXPECT_EQ(decode("\x08"), (Keys{kCtrl, {72, 2}}));
    EXPECT_EQ(decode("\x13"), (Keys{kCtrl, {83, 2}}));
    EXPECT_EQ(decode("\x1a"), (Keys{kCtrl, {90, 2}}));
    // Ctrl+\ and friends are no key of the game and leave nothing behind.
    EXPECT_EQ(decode("\x1c\x1d\x1e\x1fk"), (Keys{{75, 0}}));
}

TEST(KeyDecoder, JumpKeyFromNulAndF12) {
    EXPECT_EQ(decode(std::string("\0", 1)), (Keys{kCtrl, kJump}));
    EXPECT_EQ(decode("\x1b[24~"), (Keys{kCtrl, kJump}));
    // F12 stays the jump key whatever modifier is held with it.
    EXPECT_EQ(decode("\x1b[24;2~"), (Keys{kCtrl, kJump}));
}

TEST(KeyDecoder, SpaceIsTheSilenceKey) {
    EXPECT_EQ(decode(" "), (Keys{kCtrl}));
    EXPECT_EQ(decode("  a"), (Keys{kCtrl, kCtrl, {65, 0}}));
}

TEST(KeyDecoder, XtermArrowsAndPages) {
    EXPECT_EQ(decode("\x1b[A\x1b[B\x1b[C\x1b[D"), (Keys{{38, 0}, {40, 0}, {39, 0}, {37, 0}}));
    EXPECT_EQ(decode("\x1bOA\x1bOB\x1bOC\x1bOD"), (Keys{{38, 0}, {40, 0}, {39, 0}, {37, 0}}));
    EXPECT_EQ(decode("\x1b[5~\x1b[6~"), (Keys{{33, 0}, {34, 0}}));
    EXPECT_EQ(decode("\x1b[H\x1b[F\x1bOH\x1bOF"), (Keys{{36, 0}, {35, 0}, {36, 0}, {35, 0}}));
}

TEST(KeyDecoder, ModifierParameters) {
    EXPECT_EQ(decode("\x1b[1;2A"), (Keys{{38, 1}}));
    EXPECT_EQ(decode("\x1b[1;5A"), (Keys{kCtrl, {38, 2}}));
    EXPECT_EQ(decode("\x1b[1;3C"), (Keys{kAlt, {39, 4}}));
    EXPECT_EQ(decode("\x1b[1;7D"), (Keys{kCtrl, {18, 6}, {37, 6}}));
    EXPECT_EQ(decode("\x1b[1;6B"), (Keys{{17, 3}, {40, 3}}));
    EXPECT_EQ(decode("\x1b[5;5~"), (Keys{kCtrl, {33, 2}}));
    EXPECT_EQ(decode("\x1b[6;2~"), (Keys{{34, 1}}));
    EXPECT_EQ(decode("\x1bO5A"), (Keys{kCtrl, {38, 2}}));
}

TEST(KeyDecoder, LinuxConsole) {
    EXPECT_EQ(decode("\x1b[1~\x1b[4~\x1b[2~\x1b[3~"), (Keys{{36, 0}, {35, 0}, {45, 0}, {46, 0}}));
    // F1..F5 are ESC [ [ A..E: swallowed whole, the next key unharmed.
    EXPECT_EQ(decode("\x1b[[A\x1b[[Eb"), (Keys{{66, 0}}));
    EXPECT_EQ(decode("\x1b[5~\x1b[A"), (Keys{{33, 0}, {38, 0}}));
}

TEST(KeyDecoder, AltKeys) {
    EXPECT_EQ(decode("\x1b" "a"), (Keys{kAlt, {65, 4}}));
    EXPECT_EQ(decode("\x1b" "A"), (Keys{{18, 5}, {65, 5}}));
    EXPECT_EQ(decode("\x1b" "1"), (Keys{kAlt, {49, 4}}));
    EXPECT_EQ(decode("\x1b\r"), (Keys{kAlt, {13, 4}}));
    EXPECT_EQ(decode("\x1b\x01"), (Keys{kCtrl, {18, 6}, {65, 6}}));
    EXPECT_EQ(decode("\x1b "), (Keys{kAlt, {17, 6}}));
    // Alt+Ctrl+grave is not the jump key: the game wants Ctrl alone.
    EXPECT_EQ(decode(std::string("\x1b\0", 2)), (Keys{kCtrl, {18, 6}, {192, 6}}));
}

TEST(KeyDecoder, LoneEscapeNeedsTheTimeout) {
    KeyDecoder d;
    EXPECT_EQ(d.feed("\x1b"), Keys{});
    EXPECT_TRUE(d.wantsTimeout());
    EXPECT_EQ(d.timeout(), (Keys{{27, 0}}));
    EXPECT_FALSE(d.wantsTimeout());
    EXPECT_EQ(d.timeout(), Keys{});
    EXPECT_EQ(d.feed("A"), (Keys{{65, 1}}));  // after the timeout a letter is only a letter
}

TEST(KeyDecoder, EscapeSequenceSplitByteByByte) {
    KeyDecoder d;
    EXPECT_EQ(d.feed("\x1b"), Keys{});
    EXPECT_TRUE(d.wantsTimeout());
    EXPECT_EQ(d.feed("["), Keys{});
    EXPECT_TRUE(d.wantsTimeout());  // ESC [ alone may still be Alt+[
    EXPECT_EQ(d.feed("1"), Keys{});
    EXPECT_FALSE(d.wantsTimeout());  // parameters are never typed by hand
    EXPECT_EQ(d.timeout(), Keys{});
    EXPECT_EQ(d.feed(";5"), Keys{});
    EXPECT_EQ(d.feed("A"), (Keys{kCtrl, {38, 2}}));
    EXPECT_FALSE(d.wantsTimeout());
}

TEST(KeyDecoder, EveryWayOfSplittingGivesTheSameKeys) {
    using namespace std::string_literals;
    const std::string stream = "a\x1b[A\x1b[1;5B\x1bOC\x1b[5~\x1b[[B\x1b[97;5u\r\n\x1b" "b\0z\x1b[?1;2c"s +
                               "\x1b[57442;5u\x1b[96;5u";
    const Keys whole = decode(stream);
    ASSERT_EQ(whole, (Keys{{65, 0}, {38, 0}, kCtrl, {40, 2}, {39, 0}, {33, 0}, kCtrl, {65, 2}, {13, 0}, kAlt,
                           {66, 4}, kCtrl, kJump, {90, 0}, kCtrl, kJump}));
    for (std::size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (std::size_t cut2 = cut1; cut2 <= stream.size(); cut2 += 3) {
            KeyDecoder d;
            Keys got = d.feed(stream.substr(0, cut1));
            Keys more = d.feed(stream.substr(cut1, cut2 - cut1));
            got.insert(got.end(), more.begin(), more.end());
            more = d.feed(stream.substr(cut2));
            got.insert(got.end(), more.begin(), more.end());
            ASSERT_EQ(got, whole) << "cut at " << cut1 << " and " << cut2;
        }
    }
}

TEST(KeyDecoder, EscapeBracketTimeoutIsAltBracket) {
    KeyDecoder d;
    EXPECT_EQ(d.feed("\x1b["), Keys{});
    EXPECT_EQ(d.timeout(), (Keys{kAlt, {219, 4}}));
    EXPECT_EQ(d.feed("A"), (Keys{{65, 1}}));
    EXPECT_EQ(d.feed("\x1bO"), Keys{});
    EXPECT_EQ(d.timeout(), (Keys{{18, 5}, {79, 5}}));
}

TEST(KeyDecoder, TwoEscapes) {
    KeyDecoder d;
    EXPECT_EQ(d.feed("\x1b\x1b"), (Keys{{27, 0}}));
    EXPECT_TRUE(d.wantsTimeout());
    EXPECT_EQ(d.timeout(), (Keys{{27, 0}}));
    EXPECT_EQ(d.feed("\x1b\x1b[B"), (Keys{{27, 0}, {40, 0}}));
}

TEST(KeyDecoder, ResetForgetsAPendingEscape) {
    KeyDecoder d;
    d.feed("\x1b[1;");
    d.reset();
    EXPECT_FALSE(d.wantsTimeout());
    EXPECT_EQ(d.feed("A"), (Keys{{65, 1}}));
}

TEST(KeyDecoder, UnknownSequencesAreSwallowedWhole) {
    EXPECT_EQ(decode("\x1b[<0;10;5Mq"), (Keys{{81, 0}}));        // SGR mouse report
    EXPECT_EQ(decode("\x1b[>1;4000;15cq"), (Keys{{81, 0}}));     // secondary device attributes
    EXPECT_EQ(decode("\x1b[I\x1b[Oq"), (Keys{{81, 0}}));         // focus in and out
    EXPECT_EQ(decode("\x1b[200~\x1b[201~q"), (Keys{{81, 0}}));   // paste brackets
    EXPECT_EQ(decode("\x1b[12;40Rq"), (Keys{{81, 0}}));          // cursor position report
    EXPECT_EQ(decode("\x1b[1;5Pq"), (Keys{{81, 0}}));            // Ctrl+F1
    EXPECT_EQ(decode("\x1b[15;2~\x1b[99~q"), (Keys{{81, 0}}));   // Shift+F5, an unknown ~ key
    EXPECT_EQ(decode("\x1b[2$\x1b[1;2$Aq"), (Keys{{81, 0}}));    // intermediate bytes
    EXPECT_EQ(decode("\x1bOPq\x1bOjq"), (Keys{{81, 0}, {81, 0}}));  // F1, keypad *
    EXPECT_EQ(decode("\x1b[57444;9uq"), (Keys{{81, 0}}));        // kitty Super press
    EXPECT_EQ(decode("\x1b[1089;5uq"), (Keys{{81, 0}}));         // a Cyrillic letter, no base key
    // A runaway sequence is swallowed to its final byte, however long.
    EXPECT_EQ(decode("\x1b[" + std::string(500, '7') + ";" + std::string(300, '1') + "Aq"), (Keys{{81, 0}}));
}

TEST(KeyDecoder, Utf8TextIsNoKey) {
    EXPECT_EQ(decode("\xc3\xa9x\xe2\x82\xacy"), (Keys{{88, 0}, {89, 0}}));
}

TEST(KeyDecoder, ControlByteCutsASequenceShort) {
    // Parameters already came: the sequence was the terminal's and is dropped.
    EXPECT_EQ(decode("\x1b[1;\x01"), (Keys{kCtrl, {65, 2}}));
    // Only ESC [ came: it was typed, as Alt+[.
    EXPECT_EQ(decode("\x1b[\r"), (Keys{kAlt, {219, 4}, {13, 0}}));
    KeyDecoder d;
    EXPECT_EQ(d.feed("\x1b[1\x1b"), Keys{});
    EXPECT_TRUE(d.wantsTimeout());
    EXPECT_EQ(d.feed("[B"), (Keys{{40, 0}}));
}

TEST(KeyDecoder, KeypadApplicationMode) {
    EXPECT_EQ(decode("\x1bOp\x1bOy\x1bOM"), (Keys{{48, 0}, {57, 0}, {13, 0}}));
}

TEST(KeyDecoder, KittyKeys) {
    EXPECT_EQ(decode("\x1b[97u"), (Keys{{65, 0}}));
    EXPECT_EQ(decode("\x1b[97;2u"), (Keys{{65, 1}}));
    EXPECT_EQ(decode("\x1b[97:65;2u"), (Keys{{65, 1}}));
    EXPECT_EQ(decode("\x1b[97;5u"), (Keys{kCtrl, {65, 2}}));
    EXPECT_EQ(decode("\x1b[49;1u\x1b[48u"), (Keys{{49, 0}, {48, 0}}));
    EXPECT_EQ(decode("\x1b[13u\x1b[9u\x1b[127u"), (Keys{{13, 0}, {9, 0}, {8, 0}}));
    // Escape is unambiguous under the protocol: no timeout wanted.
    EXPECT_EQ(decode("\x1b[27u"), (Keys{{27, 0}}));
    EXPECT_EQ(decode("\x1b[96;5u"), (Keys{kCtrl, kJump}));
    EXPECT_EQ(decode("\x1b[32;5u"), (Keys{kCtrl, kJump}));
    EXPECT_EQ(decode("\x1b[32u"), (Keys{kCtrl}));
    // A letter of another layout is read as its key on the US layout.
    EXPECT_EQ(decode("\x1b[1089::99;5u"), (Keys{kCtrl, {67, 2}}));
    // Keypad keys.
    EXPECT_EQ(decode("\x1b[57399u\x1b[57408u\x1b[57414u\x1b[57419u\x1b[57422u"),
              (Keys{{48, 0}, {57, 0}, {13, 0}, {38, 0}, {34, 0}}));
    // Repeats are key-downs, releases are not; a text field after the modifiers is read over.
    EXPECT_EQ(decode("\x1b[97;1:2u\x1b[97;1:3u\x1b[97;1;97u"), (Keys{{65, 0}, {65, 0}}));
    EXPECT_EQ(decode("\x1b[1;1:3A\x1b[5;1:3~\x1b[1;1:2B"), (Keys{{40, 0}}));
}

TEST(KeyDecoder, KittyBareModifiers) {
    KeyDecoder d;
    // The terminal reports the Ctrl press itself, so the letter brings no second one.
    EXPECT_EQ(d.feed("\x1b[57442;5u"), (Keys{kCtrl}));
    EXPECT_EQ(d.feed("\x1b[97;5u"), (Keys{{65, 2}}));
    EXPECT_EQ(d.feed("\x1b[96;5u"), (Keys{kJump}));
    EXPECT_EQ(d.feed("\x1b[1;5A"), (Keys{{38, 2}}));
    EXPECT_EQ(d.feed("\x1b[57442;5:3u"), Keys{});
    EXPECT_EQ(d.feed("\x1b[57448u\x1b[57441;2u\x1b[57447u\x1b[57443;3u\x1b[57449u"),
              (Keys{kCtrl, {16, 1}, {16, 1}, kAlt, kAlt}));
    // F12 stands for the whole chord even then.
    EXPECT_EQ(d.feed("\x1b[24~"), (Keys{kCtrl, kJump}));
    EXPECT_FALSE(d.wantsTimeout());
}

TEST(KeyDecoder, XtermModifyOtherKeys) {
    EXPECT_EQ(decode("\x1b[27;5;97~"), (Keys{kCtrl, {65, 2}}));
    EXPECT_EQ(decode("\x1b[27;6;65~"), (Keys{{17, 3}, {65, 3}}));
    EXPECT_EQ(decode("\x1b[27;5;96~"), (Keys{kCtrl, kJump}));
    EXPECT_EQ(decode("\x1b[27;5;13~"), (Keys{kCtrl, {13, 2}}));
    EXPECT_EQ(decode("\x1b[27;3;49~"), (Keys{kAlt, {49, 4}}));
}

TEST(KeyDecoder, TerminalRepliesAreNotedNotTyped) {
    KeyDecoder d;
    EXPECT_EQ(d.feed("\x1b[?15u"), Keys{});
    EXPECT_EQ(d.feed("\x1b[?62;22c"), Keys{});
    tw::TerminalReplies r = d.takeReplies();
    EXPECT_TRUE(r.kittyFlags);
    EXPECT_TRUE(r.primaryDA);
    r = d.takeReplies();
    EXPECT_FALSE(r.kittyFlags);
    EXPECT_FALSE(r.primaryDA);
    EXPECT_EQ(d.feed("\x1b[?6c"), Keys{});
    r = d.takeReplies();
    EXPECT_FALSE(r.kittyFlags);
    EXPECT_TRUE(r.primaryDA);
}

}  // namespace
