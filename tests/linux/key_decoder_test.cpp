// tests/linux/key_decoder_test.cpp: the terminal key decoder, byte sequence by byte sequence.
#include "platform/terminal/key_decoder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace tw {
// Readable failures: {code,shift}.
inline void PrintTo(const KeyDown& k, std::ostream* os) { *os << "{" << k.KeyCode << "," << k.Shift << "}"; }
}  // namespace tw

namespace {

using namespace std::string_literals;
using tw::KeyDecoder;
using tw::KeyDown;
using Keys = std::vector<KeyDown>;

const KeyDown kCtrl{17, 2}, kAlt{18, 4}, kJump{192, 2}, kEnter{13, 0}, kEsc{27, 0}, kQ{81, 0};

// Unmodified keys whose code is the character itself (digits and capital letters).
Keys plain(const std::string& codes) {
    Keys out;
    for (char c : codes) out.push_back({c, 0});
    return out;
}

struct Row {
    const char* name;
    std::string bytes;
    Keys keys;
};

// Whole inputs fed at once; nothing may be left waiting for a timeout afterwards.
const Row kRows[] = {
    {"the game's letters and digits", "1234567890wertyuiasdfghjzxcvbq", plain("1234567890WERTYUIASDFGHJZXCVBQ")},
    {"a capital is Shift plus the letter, with no Shift key-down of its own", "AqZ", {{65, 1}, kQ, {90, 1}}},
    {"punctuation on its US keys",
     "`~!-_=/?",
     {{192, 0}, {192, 1}, {49, 1}, {189, 0}, {189, 1}, {187, 0}, {191, 0}, {191, 1}}},
    {"CR LF is one Enter; LF CR, CR CR, LF LF are two", "\n\r\r\n\n\r", {kEnter, kEnter, kEnter, kEnter, kEnter}},
    {"Enter, Tab, Backspace, Shift+Tab", "\ra\n\t\x7f\x1b[Z", {kEnter, {65, 0}, kEnter, {9, 0}, {8, 0}, {9, 1}}},
    {"Ctrl+letters; Ctrl+\\ and friends are no key of the game",
     "\x01\x08\x13\x1a\x1c\x1d\x1e\x1f"
     "k",
     {kCtrl, {65, 2}, kCtrl, {72, 2}, kCtrl, {83, 2}, kCtrl, {90, 2}, {75, 0}}},
    {"NUL and F12 (whatever is held) are the jump key; Space silences",
     "\0\x1b[24~\x1b[24;2~  a"s,
     {kCtrl, kJump, kCtrl, kJump, kCtrl, kJump, kCtrl, kCtrl, {65, 0}}},
    {"xterm and VTE arrows, CSI and SS3",
     "\x1b[A\x1b[B\x1b[C\x1b[D\x1bOA\x1bOB\x1bOC\x1bOD",
     {{38, 0}, {40, 0}, {39, 0}, {37, 0}, {38, 0}, {40, 0}, {39, 0}, {37, 0}}},
    {"Page Up and Down, Home and End",
     "\x1b[5~\x1b[6~\x1b[H\x1b[F\x1bOH\x1bOF",
     {{33, 0}, {34, 0}, {36, 0}, {35, 0}, {36, 0}, {35, 0}}},
    {"modified arrows",
     "\x1b[1;2A\x1b[1;5A\x1b[1;3C\x1b[1;7D\x1b[1;6B",
     {{38, 1}, kCtrl, {38, 2}, kAlt, {39, 4}, kCtrl, {18, 6}, {37, 6}, {17, 3}, {40, 3}}},
    {"modified pages, and the keypad's 0, 9 and Enter",
     "\x1b[5;5~\x1b[6;2~\x1bO5A\x1bOp\x1bOy\x1bOM",
     {kCtrl, {33, 2}, {34, 1}, kCtrl, {38, 2}, {48, 0}, {57, 0}, kEnter}},
    {"xterm's modifyOtherKeys",
     "\x1b[27;5;97~\x1b[27;6;65~\x1b[27;5;96~\x1b[27;5;13~\x1b[27;3;49~",
     {kCtrl, {65, 2}, {17, 3}, {65, 3}, kCtrl, kJump, kCtrl, {13, 2}, kAlt, {49, 4}}},
    {"the Linux console; its F1 (ESC [ [ A) is the key help, F5 (ESC [ [ E) is swallowed whole",
     "\x1b[1~\x1b[4~\x1b[2~\x1b[3~\x1b[[A\x1b[[Eb",
     {{36, 0}, {35, 0}, {45, 0}, {46, 0}, {112, 0}, {66, 0}}},
    {"Alt as ESC before the key",
     "\x1b"
     "a\x1b"
     "A\x1b"
     "1\x1b\r",
     {kAlt, {65, 4}, {18, 5}, {65, 5}, kAlt, {49, 4}, kAlt, {13, 4}}},
    {"Alt with Ctrl; Alt+Ctrl+grave is not the jump key",
     "\x1b\x01\x1b \x1b\0"s,
     {kCtrl, {18, 6}, {65, 6}, kAlt, {17, 6}, kCtrl, {18, 6}, {192, 6}}},
    {"mouse and device reports, focus and paste brackets are swallowed",
     "\x1b[<0;10;5Mq\x1b[>1;4000;15cq\x1b[I\x1b[O\x1b[200~\x1b[201~q",
     {kQ, kQ, kQ}},
    {"Ctrl+F1 comes as Ctrl, then F1 with Ctrl; Shift+F5, unknown keys and intermediate bytes are swallowed",
     "\x1b[12;40R\x1b[1;5Pq\x1b[15;2~\x1b[99~q\x1b[2$\x1b[1;2$Aq",
     {{17, 2}, {112, 2}, kQ, kQ, kQ}},
    {"F1 in its three forms; keypad *, kitty Super and a letter with no base key are swallowed",
     "\x1bOPq\x1b[11~\x1b[Pq\x1bOjq\x1b[57444;9u\x1b[1089;5uq",
     {{112, 0}, kQ, {112, 0}, {112, 0}, kQ, kQ, kQ}},
    {"a runaway sequence is swallowed", "\x1b[" + std::string(500, '7') + ";" + std::string(300, '1') + "Aq", {kQ}},
    {"UTF-8 text is no key", "\xc3\xa9x\xe2\x82\xacy", {{88, 0}, {89, 0}}},
    {"a control byte cuts a sequence short: after parameters it was the terminal's, else typed",
     "\x1b[1;\x01\x1b[\r",
     {kCtrl, {65, 2}, kAlt, {219, 4}, kEnter}},
    {"kitty letters; another layout's letter is its US key",
     "\x1b[97u\x1b[97;2u\x1b[97:65;2u\x1b[97;5u\x1b[1089::99;5u",
     {{65, 0}, {65, 1}, {65, 1}, kCtrl, {65, 2}, kCtrl, {67, 2}}},
    {"kitty digits, Enter, Tab, Backspace and Escape",
     "\x1b[49;1u\x1b[48u\x1b[13u\x1b[9u\x1b[127u\x1b[27u",
     {{49, 0}, {48, 0}, kEnter, {9, 0}, {8, 0}, kEsc}},
    {"kitty's jump key and Space", "\x1b[96;5u\x1b[32;5u\x1b[32u", {kCtrl, kJump, kCtrl, kJump, kCtrl}},
    {"kitty's keypad",
     "\x1b[57399u\x1b[57408u\x1b[57414u\x1b[57419u\x1b[57422u",
     {{48, 0}, {57, 0}, kEnter, {38, 0}, {34, 0}}},
    {"repeats are key-downs, releases are not; a text field is read over",
     "\x1b[97;1:2u\x1b[97;1:3u\x1b[97;1;97u\x1b[1;1:3A\x1b[5;1:3~\x1b[1;1:2B",
     {{65, 0}, {65, 0}, {40, 0}}},
};

TEST(KeyDecoder, Table) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        KeyDecoder d;
        EXPECT_EQ(d.feed(row.bytes), row.keys) << ::testing::PrintToString(row.bytes);
        EXPECT_FALSE(d.wantsTimeout()) << "left waiting";
    }
}

// One decoder through a script of steps {feed 'f', timeout 't' or reset 'r'; bytes fed; keys; waiting after}.
const std::vector<std::tuple<char, std::string, Keys, bool>> kScripts[] = {
    // A lone ESC is Escape only after the timeout; then a capital is only a capital.
    {{'f', "\x1b", {}, true}, {'t', "", {kEsc}, false}, {'t', "", {}, false}, {'f', "A", {{65, 1}}, false}},
    // ESC [ alone may still be Alt+[, but parameters are never typed by hand.
    {{'f', "\x1b", {}, true},
     {'f', "[", {}, true},
     {'f', "1", {}, false},
     {'t', "", {}, false},
     {'f', ";5", {}, false},
     {'f', "A", {kCtrl, {38, 2}}, false}},
    {{'f', "\x1b[", {}, true},
     {'t', "", {kAlt, {219, 4}}, false},
     {'f', "A", {{65, 1}}, false},
     {'f', "\x1bO", {}, true},
     {'t', "", {{18, 5}, {79, 5}}, false}},
    {{'f', "\x1b\x1b", {kEsc}, true}, {'t', "", {kEsc}, false}, {'f', "\x1b\x1b[B", {kEsc, {40, 0}}, false}},
    {{'f', "\x1b[1\x1b", {}, true}, {'f', "[B", {{40, 0}}, false}},
    {{'f', "\x1b[1;", {}, false}, {'r', "", {}, false}, {'f', "A", {{65, 1}}, false}},
    {{'f', "\r", {kEnter}, false}, {'f', "\n", {}, false}, {'f', "\n", {kEnter}, false}},
    // Once the terminal reports the Ctrl press itself, a Ctrl chord brings no second one.
    {{'f', "\x1b[57442;5u", {kCtrl}, false},
     {'f', "\x1b[97;5u", {{65, 2}}, false},
     {'f', "\x1b[96;5u", {kJump}, false},
     {'f', "\x1b[1;5A", {{38, 2}}, false},
     {'f', "\x1b[57442;5:3u", {}, false},
     {'f', "\x1b[57448u\x1b[57441;2u\x1b[57447u\x1b[57443;3u\x1b[57449u", {kCtrl, {16, 1}, {16, 1}, kAlt, kAlt}, false},
     {'f', "\x1b[24~", {kCtrl, kJump}, false}},  // F12 still stands for the whole chord
};

TEST(KeyDecoder, Scripts) {
    for (std::size_t s = 0; s < std::size(kScripts); ++s) {
        KeyDecoder d;
        for (std::size_t i = 0; i < kScripts[s].size(); ++i) {
            const auto& [op, bytes, keys, waiting] = kScripts[s][i];
            Keys got;
            if (op == 'f')
                got = d.feed(bytes);
            else if (op == 't')
                got = d.timeout();
            else
                d.reset();
            EXPECT_EQ(got, keys) << "script " << s << " step " << i;
            EXPECT_EQ(d.wantsTimeout(), waiting) << "script " << s << " step " << i;
        }
    }
}

TEST(KeyDecoder, EveryWayOfSplittingGivesTheSameKeys) {
    const std::string stream =
        "a\x1b[A\x1b[1;5B\x1bOC\x1b[5~\x1b[[B\x1b[97;5u\r\n\x1b"
        "b\0z\x1b[?1;2c"s +
        "\x1b[57442;5u\x1b[96;5u";
    const Keys expected = KeyDecoder().feed(stream);
    ASSERT_EQ(expected, (Keys{{65, 0},
                              {38, 0},
                              kCtrl,
                              {40, 2},
                              {39, 0},
                              {33, 0},
                              kCtrl,
                              {65, 2},
                              kEnter,
                              kAlt,
                              {66, 4},
                              kCtrl,
                              kJump,
                              {90, 0},
                              kCtrl,
                              kJump}));
    for (std::size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (std::size_t cut2 = cut1; cut2 <= stream.size(); cut2 += 3) {
            KeyDecoder d;
            Keys got;
            d.feed(stream.substr(0, cut1), got);
            d.feed(stream.substr(cut1, cut2 - cut1), got);
            d.feed(stream.substr(cut2), got);
            ASSERT_EQ(got, expected) << "cut at " << cut1 << " and " << cut2;
        }
    }
}

TEST(KeyDecoder, TerminalRepliesAreNotedNotTyped) {
    KeyDecoder d;
    EXPECT_EQ(d.feed("\x1b[?15u\x1b[?62;22c"), Keys{});
    const tw::TerminalReplies both = d.takeReplies(), none = d.takeReplies();
    EXPECT_EQ(d.feed("\x1b[?6c"), Keys{});
    const tw::TerminalReplies device = d.takeReplies();
    EXPECT_TRUE(both.kittyFlags && both.primaryDA && device.primaryDA);
    EXPECT_FALSE(none.kittyFlags || none.primaryDA || device.kittyFlags);
}

}  // namespace
