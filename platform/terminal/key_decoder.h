// platform/terminal/key_decoder.h: terminal bytes to Windows virtual-key codes.
// Pure and incremental: bytes may arrive split anywhere; nothing here touches a terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/keys.h"

namespace tw {

struct KeyDown {
    int KeyCode = 0;
    int Shift = 0;
    bool operator==(const KeyDown&) const = default;
};

// Terminals that answer these queries are recognised while decoding; the replies never become keys.
struct TerminalReplies {
    bool kittyFlags = false;  // CSI ? flags u: the kitty keyboard protocol is understood
    bool primaryDA = false;   // CSI ? ... c: the answer to the device-attributes query
};

class KeyDecoder {
public:
    // Decodes what it can; bytes of an unfinished sequence wait for the next feed.
    std::vector<KeyDown> feed(std::string_view bytes);
    // Appends instead of returning, for callers that keep one queue.
    void feed(std::string_view bytes, std::vector<KeyDown>& out);

    // True while the bytes so far could be a lone Escape or the start of an escape sequence that
    // a key press alone produces; the caller waits briefly, then calls timeout().
    bool wantsTimeout() const;
    // No more bytes came in time: a lone ESC is the Escape key, ESC [ and ESC O are Alt+[ and
    // Alt+Shift+O. A longer unfinished sequence is left to be completed.
    std::vector<KeyDown> timeout();

    // Forgets any unfinished sequence.
    void reset();

    // Replies seen since the last call, cleared by the call.
    TerminalReplies takeReplies();

private:
    enum class State { Ground, Esc, Csi, Ss3, ConsoleFn };

    void byte(unsigned char c, std::vector<KeyDown>& out);
    void ground(unsigned char c, int extraMods, std::vector<KeyDown>& out);
    void finishCsi(unsigned char final, std::vector<KeyDown>& out);
    void finishSs3(unsigned char final, std::vector<KeyDown>& out);
    // A key with Windows modifier bits; prefix presses Ctrl and Alt first unless the terminal
    // reports modifier presses of its own.
    void emit(int code, int mods, bool synthesizePrefix, std::vector<KeyDown>& out);
    void emitJump(std::vector<KeyDown>& out);
    // A Unicode code point (or kitty key number) as a key; base is the US-layout key, or -1.
    void emitCodepoint(long codepoint, long base, int mods, bool synthesizePrefix, std::vector<KeyDown>& out);

    State state_ = State::Ground;
    bool afterCr_ = false;           // a LF right after CR is the same Enter
    std::string seq_;                // parameter and intermediate bytes of the sequence being read
    bool seqOverflow_ = false;       // the sequence grew too long: swallow it to its final byte
    bool reportsModifiers_ = false;  // the terminal has reported a bare modifier press
    TerminalReplies replies_;
};

}  // namespace tw
