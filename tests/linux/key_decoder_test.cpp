// tests/linux/key_decoder_test.cpp: the terminal key decoder against the byte sequences of
// tests/linux/key_sequences.txt, which says what each step must give. (That any bytes decode
// the same whole, byte by byte and cut anywhere is the fuzz_keys target's.)
#include "platform/terminal/key_decoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/headless/key_script.h"
#include "tests/linux/test_support.h"

namespace {

using tw::KeyDecoder;
using Keys = std::vector<tw::KeyDown>;

TEST(KeyDecoder, EverySequenceOfTheTable) {
    std::ifstream file(TW_SOURCE_DIR "/tests/linux/key_sequences.txt");
    ASSERT_TRUE(file);
    KeyDecoder d;
    std::string name;
    int steps = 0;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream in(line);
        std::string op, bytes;
        in >> op;
        if (op == "case") {
            name = line.substr(5);
            d = KeyDecoder();
            continue;
        }
        if (op == "feed") {
            const std::size_t open = line.find('"'), close = line.rfind('"');
            bytes = tw::unquoteBytes(line.substr(open, close - open + 1));
            in.str(line.substr(close + 1));
        }
        Keys want;
        bool waiting = false;
        for (std::string key; in >> key;) {
            waiting = key == "waiting";
            if (!waiting)
                want.push_back({std::stoi(key),
                                key.find('/') == std::string::npos ? 0 : std::stoi(key.substr(key.find('/') + 1))});
        }
        SCOPED_TRACE(name + ": " + line);
        ++steps;
        if (op == "reset") {
            d.reset();
            continue;
        }
        EXPECT_EQ(op == "timeout" ? d.timeout() : d.feed(bytes), want);
        EXPECT_EQ(d.wantsTimeout(), waiting);
    }
    EXPECT_GT(steps, 40);
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
