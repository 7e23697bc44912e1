// platform/terminal/key_decoder.cpp: terminal bytes to Windows virtual-key codes.
// One file for one job: the decoder is a single state machine over every terminal dialect (xterm, the
// Linux console, modifyOtherKeys, kitty); split, its states would only call each other across files.
#include "platform/terminal/key_decoder.h"

#include <array>
#include <iterator>

namespace tw {

namespace {

// Longest parameter run kept; anything longer is garbage and is swallowed to its final byte.
constexpr std::size_t kMaxSequence = 48;

// Kitty keyboard protocol code points for keys without a Unicode character.
constexpr long kKpFirstDigit = 57399;  // KP_0 .. KP_9 follow
constexpr long kLeftShift = 57441;     // Shift, Control, Alt; then Super, Hyper, Meta
constexpr long kRightShift = 57447;    // the same on the right; level shifts follow to 57454
constexpr long kLastModifier = 57454;

struct Mapped {
    long from;
    int code;
};

// Kitty's keypad keys other than the digits.
constexpr Mapped kKeypad[] = {{57414, key::Enter}, {57417, key::Left},   {57418, key::Right},    {57419, key::Up},
                              {57420, key::Down},  {57421, key::PageUp}, {57422, key::PageDown}, {57423, key::Home},
                              {57424, key::End},   {57425, key::Insert}, {57426, key::Delete}};
// Control characters that name a key of their own in a kitty or modifyOtherKeys report.
constexpr Mapped kControlCodepoints[] = {
    {13, key::Enter}, {9, key::Tab}, {8, key::Back}, {127, key::Back}, {27, key::Escape}};
// The final byte of ESC [ or ESC O with no number before it.
constexpr Mapped kFinals[] = {{'A', key::Up},   {'B', key::Down}, {'C', key::Right}, {'D', key::Left},
                              {'H', key::Home}, {'F', key::End},  {'P', key::F1}};
// ESC [ n ~: the editing keys and F1 (24, F12, is the jump key's stand-in and handled apart).
constexpr Mapped kTildes[] = {{1, key::Home}, {7, key::Home},   {2, key::Insert},   {3, key::Delete}, {4, key::End},
                              {8, key::End},  {5, key::PageUp}, {6, key::PageDown}, {11, key::F1}};

int lookup(const Mapped* begin, const Mapped* end, long from) {
    for (const Mapped* m = begin; m != end; ++m)
        if (m->from == from) return m->code;
    return 0;
}
template <std::size_t N>
int lookup(const Mapped (&table)[N], long from) {
    return lookup(table, table + N, from);
}

struct CharKey {
    int code;
    int mods;
};

// The US layout's punctuation: each key's character, its shifted character, and its key code.
constexpr char kPlain[] = "0123456789;=,-./`[\\]'";
constexpr char kShifted[] = ")!@#$%^&*(:+<_>?~{|}\"";
constexpr int kPunctuationCodes[] = {'0', '1', '2', '3', '4', '5',        '6', '7', '8', '9', 186,
                                     187, 188, 189, 190, 191, key::Grave, 219, 220, 221, 222};
static_assert(sizeof kPlain == sizeof kShifted && sizeof kPlain - 1 == std::size(kPunctuationCodes));

// A printable ASCII character as the US-layout key that types it.
CharKey charKey(unsigned char c) {
    if (c >= 'a' && c <= 'z') return {c - 'a' + 'A', 0};
    if (c >= 'A' && c <= 'Z') return {c, key::ShiftMask};
    for (std::size_t i = 0; i + 1 < sizeof kPlain; ++i) {
        if (kPlain[i] == c) return {kPunctuationCodes[i], 0};
        if (kShifted[i] == c) return {kPunctuationCodes[i], key::ShiftMask};
    }
    return {0, 0};
}

// Parameters of a CSI sequence: ';' separates parameters, ':' sub-parameters; -1 is "absent".
struct Params {
    std::array<std::array<long, 3>, 4> v;
    int count = 0;
    bool bad = false;

    long get(int param, int sub, long fallback) const {
        if (param >= count) return fallback;
        long x = v[param][sub];
        return x < 0 ? fallback : x;
    }
};

Params parseParams(const std::string& seq) {
    Params p;
    for (auto& row : p.v) row.fill(-1);
    if (seq.empty()) return p;
    p.count = 1;
    int param = 0;
    int sub = 0;
    for (char ch : seq) {
        if (ch >= '0' && ch <= '9') {
            // Parameters past the ones kept (kitty's text field, say) are read over.
            if (param >= static_cast<int>(p.v.size()) || sub > 2) continue;
            long& x = p.v[param][sub];
            if (x < 0) x = 0;
            if (x < 10000000) x = x * 10 + (ch - '0');
        } else if (ch == ';') {
            ++param;
            sub = 0;
            if (param < static_cast<int>(p.v.size())) p.count = param + 1;
        } else if (ch == ':') {
            ++sub;
        } else {
            p.bad = true;  // intermediate bytes or private markers mid-way: not a key
            return p;
        }
    }
    return p;
}

// The terminal's modifier parameter (1 + bits: 1 Shift, 2 Alt, 4 Ctrl) as Windows bits.
int windowsMods(long param) {
    long bits = param > 0 ? param - 1 : 0;
    int mods = 0;
    if (bits & 1) mods |= key::ShiftMask;
    if (bits & 2) mods |= key::AltMask;
    if (bits & 4) mods |= key::CtrlMask;
    return mods;
}

}  // namespace

std::vector<KeyDown> KeyDecoder::feed(std::string_view bytes) {
    std::vector<KeyDown> out;
    feed(bytes, out);
    return out;
}

void KeyDecoder::feed(std::string_view bytes, std::vector<KeyDown>& out) {
    for (char ch : bytes) byte(static_cast<unsigned char>(ch), out);
}

bool KeyDecoder::wantsTimeout() const {
    return state_ == State::Esc || ((state_ == State::Csi || state_ == State::Ss3) && seq_.empty());
}

std::vector<KeyDown> KeyDecoder::timeout() {
    std::vector<KeyDown> out;
    if (!wantsTimeout()) return out;
    if (state_ == State::Esc) {
        out.push_back({key::Escape, 0});
    } else if (state_ == State::Csi) {
        emit(219, key::AltMask, true, out);  // ESC [ typed as Alt+[
    } else {
        emit('O', key::AltMask | key::ShiftMask, true, out);  // ESC O typed as Alt+Shift+O
    }
    state_ = State::Ground;
    return out;
}

void KeyDecoder::reset() {
    state_ = State::Ground;
    seq_.clear();
    seqOverflow_ = false;
    afterCr_ = false;
}

TerminalReplies KeyDecoder::takeReplies() {
    TerminalReplies r = replies_;
    replies_ = {};
    return r;
}

void KeyDecoder::emit(int code, int mods, bool synthesizePrefix, std::vector<KeyDown>& out) {
    // The game reads Ctrl and Alt combinations as the modifier's own key-down first.
    if (synthesizePrefix) {
        if (mods & key::CtrlMask) out.push_back({key::Ctrl, key::CtrlMask | (mods & key::ShiftMask)});
        if (mods & key::AltMask) out.push_back({key::Alt, mods});
    }
    out.push_back({code, mods});
}

void KeyDecoder::emitJump(std::vector<KeyDown>& out) {
    out.push_back({key::Ctrl, key::CtrlMask});
    out.push_back({key::Grave, key::CtrlMask});
}

void KeyDecoder::emitCodepoint(long cp, long base, int mods, bool prefix, std::vector<KeyDown>& out) {
    if (cp == 32) {
        if (mods & key::CtrlMask) {
            emit(key::Grave, mods, prefix, out);  // Ctrl+Space stands for Ctrl+grave, as NUL does
        } else {
            if (prefix && (mods & key::AltMask)) out.push_back({key::Alt, mods});
            out.push_back({key::Ctrl, mods | key::CtrlMask});  // Space: the silence key
        }
        return;
    }
    int code = lookup(kControlCodepoints, cp);
    int extra = 0;
    if (code == 0 && cp > 32 && cp < 127) {
        const CharKey k = charKey(static_cast<unsigned char>(cp));
        code = k.code;
        extra = k.mods;
        if (code == 0) return;
    }
    if (code == 0 && cp >= kKpFirstDigit && cp < kKpFirstDigit + 10)
        code = static_cast<int>('0' + (cp - kKpFirstDigit));
    if (code == 0) code = lookup(kKeypad, cp);
    if (code != 0) {
        emit(code, mods | extra, prefix, out);
        return;
    }
    // A character of another layout: the key at the same place on a US layout, when given.
    if (base > 0 && base != cp) emitCodepoint(base, -1, mods, prefix, out);
}

void KeyDecoder::ground(unsigned char c, int extraMods, std::vector<KeyDown>& out) {
    bool cr = c == '\r';
    bool swallowLf = afterCr_ && c == '\n';
    afterCr_ = cr;
    if (swallowLf) return;
    if (c == 0) {
        // NUL: Ctrl+Space, Ctrl+@ or Ctrl+grave on most terminals, all the jump key here.
        if (extraMods == 0) {
            emitJump(out);
        } else {
            emit(key::Grave, key::CtrlMask | extraMods, true, out);
        }
    } else if (c == '\r' || c == '\n') {
        emit(key::Enter, extraMods, true, out);
    } else if (c == '\t') {
        emit(key::Tab, extraMods, true, out);
    } else if (c < 27) {
        emit('A' + c - 1, key::CtrlMask | extraMods, true, out);  // Ctrl+letter
    } else if (c < 32) {
        // Ctrl+\ Ctrl+] Ctrl+^ Ctrl+_: no key of the game.
    } else if (c == ' ') {
        if (extraMods & key::AltMask) out.push_back({key::Alt, extraMods});
        out.push_back({key::Ctrl, key::CtrlMask | extraMods});  // Space: the silence key
    } else if (c == 127) {
        emit(key::Back, extraMods, true, out);
    } else if (c < 127) {
        CharKey k = charKey(c);
        if (k.code != 0) emit(k.code, k.mods | extraMods, true, out);
    }
    // Bytes from 128 up (UTF-8 text of other layouts) are no key of the game.
}

void KeyDecoder::byte(unsigned char c, std::vector<KeyDown>& out) {
    switch (state_) {
        case State::Ground:
            if (c == 27) {
                afterCr_ = false;
                state_ = State::Esc;
            } else {
                ground(c, 0, out);
            }
            return;
        case State::Esc:
            if (c == '[') {
                state_ = State::Csi;
                seq_.clear();
                seqOverflow_ = false;
            } else if (c == 'O') {
                state_ = State::Ss3;
                seq_.clear();
                seqOverflow_ = false;
            } else if (c == 27) {
                out.push_back({key::Escape, 0});  // the first of two Escapes; the second waits
            } else {
                state_ = State::Ground;
                ground(c, key::AltMask, out);  // ESC then a key: Alt+key
            }
            return;
        case State::ConsoleFn:
            state_ = State::Ground;  // ESC [ [ A..E: Linux console F1..F5; only F1 is a key of the game
            if (c == 'A') out.push_back({key::F1, 0});
            return;
        case State::Csi:
        case State::Ss3:
            break;
    }

    // Inside ESC [ or ESC O.
    bool csi = state_ == State::Csi;
    if (csi && seq_.empty() && !seqOverflow_ && c == '[') {
        state_ = State::ConsoleFn;
        return;
    }
    if (c >= 0x20 && c <= 0x3F) {
        if (seq_.size() < kMaxSequence) {
            seq_.push_back(static_cast<char>(c));
        } else {
            seqOverflow_ = true;
        }
        return;
    }
    if (c >= 0x40 && c <= 0x7E) {
        state_ = State::Ground;
        if (!seqOverflow_) {
            if (csi) {
                finishCsi(c, out);
            } else {
                finishSs3(c, out);
            }
        }
        seq_.clear();
        seqOverflow_ = false;
        return;
    }
    // A control byte cuts the sequence short.
    bool typedPrefix = seq_.empty() && !seqOverflow_;
    state_ = State::Ground;
    seq_.clear();
    seqOverflow_ = false;
    if (typedPrefix) {
        // Only ESC [ or ESC O came: they were typed as Alt combinations.
        if (csi) {
            emit(219, key::AltMask, true, out);
        } else {
            emit('O', key::AltMask | key::ShiftMask, true, out);
        }
    }
    if (c == 27) {
        state_ = State::Esc;
    } else {
        ground(c, 0, out);
    }
}

void KeyDecoder::finishSs3(unsigned char final, std::vector<KeyDown>& out) {
    Params p = parseParams(seq_);
    if (p.bad) return;
    // Some terminals put the modifier as the only parameter of ESC O.
    int mods = windowsMods(p.count >= 2 ? p.get(1, 0, 1) : p.get(0, 0, 1));
    const int code = final == 'M' ? key::Enter : lookup(kFinals, final);  // M: keypad Enter
    if (code != 0) {
        emit(code, mods, true, out);
        return;
    }
    if (final >= 'p' && final <= 'y') emit('0' + (final - 'p'), mods, true, out);  // keypad digits
}

void KeyDecoder::finishCsi(unsigned char final, std::vector<KeyDown>& out) {
    if (!seq_.empty()) {
        char marker = seq_.front();
        if (marker == '?') {
            if (final == 'u') replies_.kittyFlags = true;
            if (final == 'c') replies_.primaryDA = true;
            return;
        }
        if (marker == '<' || marker == '=' || marker == '>') return;  // mouse and other replies
    }
    Params p = parseParams(seq_);
    if (p.bad) return;
    long event = p.get(1, 1, 1);
    if (event == 3) return;  // a key release (kitty event types)
    int mods = windowsMods(p.get(1, 0, 1));
    bool prefix = !reportsModifiers_;

    if (const int code = lookup(kFinals, final)) {
        emit(code, mods, prefix, out);  // F1 with modifiers too, and the kitty protocol's F1
        return;
    }
    switch (final) {
        case 'Z':
            emit(key::Tab, mods | key::ShiftMask, prefix, out);  // Shift+Tab
            return;
        case '~': {
            const long number = p.get(0, 0, 0);
            if (number == 24) {
                emitJump(out);  // F12: the jump key's stand-in
            } else if (number == 27) {
                // xterm modifyOtherKeys: ESC [ 27 ; mods ; code ~
                const long cp = p.get(2, 0, -1);
                if (cp >= 0) emitCodepoint(cp, -1, mods, prefix, out);
            } else if (const int code = lookup(kTildes, number)) {
                emit(code, mods, prefix, out);
            }
            return;
        }
        case 'u': {
            // Kitty keyboard protocol and xterm's CSI u form: ESC [ code[:shifted[:base]] ; mods u
            long cp = p.get(0, 0, -1);
            if (cp < 0) return;
            if (cp >= kLeftShift && cp <= kLastModifier) {
                // Shift, Control and Alt, left or right, come as keys of their own once the
                // terminal reports them; the other modifiers are no key of the game.
                const long which = (cp - kLeftShift) % (kRightShift - kLeftShift);
                if (which > 2 || cp > kRightShift + 2) return;
                static constexpr int kCodes[] = {key::Shift, key::Ctrl, key::Alt};
                static constexpr int kMasks[] = {key::ShiftMask, key::CtrlMask, key::AltMask};
                reportsModifiers_ = true;
                out.push_back({kCodes[which], mods | kMasks[which]});
                return;
            }
            emitCodepoint(cp, p.get(0, 2, -1), mods, prefix, out);
            return;
        }
        default:
            return;  // F2-F4, focus reports, cursor reports and the rest: no key of the game
    }
}

}  // namespace tw
