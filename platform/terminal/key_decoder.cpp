// platform/terminal/key_decoder.cpp: terminal bytes to Windows virtual-key codes.
// One file for one job: the decoder is a single state machine over every terminal dialect (xterm, the
// Linux console, modifyOtherKeys, kitty); split, its states would only call each other across files.
#include "platform/terminal/key_decoder.h"

#include <array>

namespace tw {

namespace {

// Longest parameter run kept; anything longer is garbage and is swallowed to its final byte.
constexpr std::size_t kMaxSequence = 48;

// Kitty keyboard protocol code points for keys without a Unicode character.
constexpr long kKpFirstDigit = 57399;  // KP_0 .. KP_9 follow
constexpr long kKpEnter = 57414;
constexpr long kKpLeft = 57417;
constexpr long kKpRight = 57418;
constexpr long kKpUp = 57419;
constexpr long kKpDown = 57420;
constexpr long kKpPageUp = 57421;
constexpr long kKpPageDown = 57422;
constexpr long kKpHome = 57423;
constexpr long kKpEnd = 57424;
constexpr long kKpInsert = 57425;
constexpr long kKpDelete = 57426;
constexpr long kLeftShift = 57441;
constexpr long kLeftControl = 57442;
constexpr long kLeftAlt = 57443;
constexpr long kRightShift = 57447;
constexpr long kRightControl = 57448;
constexpr long kRightAlt = 57449;

struct CharKey {
    int code;
    int mods;
};

// A printable ASCII character as the US-layout key that types it.
CharKey charKey(unsigned char c) {
    if (c >= 'a' && c <= 'z') return {c - 'a' + 'A', 0};
    if (c >= 'A' && c <= 'Z') return {c, key::ShiftMask};
    if (c >= '0' && c <= '9') return {c, 0};
    switch (c) {
        case ')':
            return {'0', key::ShiftMask};
        case '!':
            return {'1', key::ShiftMask};
        case '@':
            return {'2', key::ShiftMask};
        case '#':
            return {'3', key::ShiftMask};
        case '$':
            return {'4', key::ShiftMask};
        case '%':
            return {'5', key::ShiftMask};
        case '^':
            return {'6', key::ShiftMask};
        case '&':
            return {'7', key::ShiftMask};
        case '*':
            return {'8', key::ShiftMask};
        case '(':
            return {'9', key::ShiftMask};
        case ';':
            return {186, 0};
        case ':':
            return {186, key::ShiftMask};
        case '=':
            return {187, 0};
        case '+':
            return {187, key::ShiftMask};
        case ',':
            return {188, 0};
        case '<':
            return {188, key::ShiftMask};
        case '-':
            return {189, 0};
        case '_':
            return {189, key::ShiftMask};
        case '.':
            return {190, 0};
        case '>':
            return {190, key::ShiftMask};
        case '/':
            return {191, 0};
        case '?':
            return {191, key::ShiftMask};
        case '`':
            return {key::Grave, 0};
        case '~':
            return {key::Grave, key::ShiftMask};
        case '[':
            return {219, 0};
        case '{':
            return {219, key::ShiftMask};
        case '\\':
            return {220, 0};
        case '|':
            return {220, key::ShiftMask};
        case ']':
            return {221, 0};
        case '}':
            return {221, key::ShiftMask};
        case '\'':
            return {222, 0};
        case '"':
            return {222, key::ShiftMask};
        default:
            return {0, 0};
    }
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
    switch (cp) {
        case 13:
            emit(key::Enter, mods, prefix, out);
            return;
        case 9:
            emit(key::Tab, mods, prefix, out);
            return;
        case 8:
        case 127:
            emit(key::Back, mods, prefix, out);
            return;
        case 27:
            emit(key::Escape, mods, prefix, out);
            return;
        case 32:
            if (mods & key::CtrlMask) {
                emit(key::Grave, mods, prefix, out);  // Ctrl+Space stands for Ctrl+grave, as NUL does
            } else {
                if (prefix && (mods & key::AltMask)) out.push_back({key::Alt, mods});
                out.push_back({key::Ctrl, mods | key::CtrlMask});  // Space: the silence key
            }
            return;
        default:
            break;
    }
    if (cp > 32 && cp < 127) {
        CharKey k = charKey(static_cast<unsigned char>(cp));
        if (k.code != 0) emit(k.code, mods | k.mods, prefix, out);
        return;
    }
    if (cp >= kKpFirstDigit && cp < kKpFirstDigit + 10) {
        emit(static_cast<int>('0' + (cp - kKpFirstDigit)), mods, prefix, out);
        return;
    }
    int code = 0;
    switch (cp) {
        case kKpEnter:
            code = key::Enter;
            break;
        case kKpLeft:
            code = key::Left;
            break;
        case kKpRight:
            code = key::Right;
            break;
        case kKpUp:
            code = key::Up;
            break;
        case kKpDown:
            code = key::Down;
            break;
        case kKpPageUp:
            code = key::PageUp;
            break;
        case kKpPageDown:
            code = key::PageDown;
            break;
        case kKpHome:
            code = key::Home;
            break;
        case kKpEnd:
            code = key::End;
            break;
        case kKpInsert:
            code = key::Insert;
            break;
        case kKpDelete:
            code = key::Delete;
            break;
        default:
            break;
    }
    if (code != 0) {
        emit(code, mods, prefix, out);
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
    switch (final) {
        case 'A':
            emit(key::Up, mods, true, out);
            return;
        case 'B':
            emit(key::Down, mods, true, out);
            return;
        case 'C':
            emit(key::Right, mods, true, out);
            return;
        case 'D':
            emit(key::Left, mods, true, out);
            return;
        case 'H':
            emit(key::Home, mods, true, out);
            return;
        case 'F':
            emit(key::End, mods, true, out);
            return;
        case 'M':
            emit(key::Enter, mods, true, out);
            return;  // keypad Enter in application mode
        case 'P':
            emit(key::F1, mods, true, out);
            return;
        default:
            break;
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

    switch (final) {
        case 'A':
            emit(key::Up, mods, prefix, out);
            return;
        case 'B':
            emit(key::Down, mods, prefix, out);
            return;
        case 'C':
            emit(key::Right, mods, prefix, out);
            return;
        case 'D':
            emit(key::Left, mods, prefix, out);
            return;
        case 'H':
            emit(key::Home, mods, prefix, out);
            return;
        case 'F':
            emit(key::End, mods, prefix, out);
            return;
        case 'Z':
            emit(key::Tab, mods | key::ShiftMask, prefix, out);
            return;  // Shift+Tab
        case 'P':
            emit(key::F1, mods, prefix, out);
            return;  // F1 with modifiers, and the kitty protocol's F1
        case '~': {
            long key = p.get(0, 0, 0);
            switch (key) {
                case 1:
                case 7:
                    emit(key::Home, mods, prefix, out);
                    return;
                case 2:
                    emit(key::Insert, mods, prefix, out);
                    return;
                case 3:
                    emit(key::Delete, mods, prefix, out);
                    return;
                case 4:
                case 8:
                    emit(key::End, mods, prefix, out);
                    return;
                case 5:
                    emit(key::PageUp, mods, prefix, out);
                    return;
                case 6:
                    emit(key::PageDown, mods, prefix, out);
                    return;
                case 11:
                    emit(key::F1, mods, prefix, out);
                    return;
                case 24:
                    emitJump(out);
                    return;  // F12: the jump key's stand-in
                case 27: {
                    // xterm modifyOtherKeys: ESC [ 27 ; mods ; code ~
                    long cp = p.get(2, 0, -1);
                    if (cp >= 0) emitCodepoint(cp, -1, mods, prefix, out);
                    return;
                }
                default:
                    return;
            }
        }
        case 'u': {
            // Kitty keyboard protocol and xterm's CSI u form: ESC [ code[:shifted[:base]] ; mods u
            long cp = p.get(0, 0, -1);
            if (cp < 0) return;
            switch (cp) {
                case kLeftShift:
                case kRightShift:
                    reportsModifiers_ = true;
                    out.push_back({key::Shift, mods | key::ShiftMask});
                    return;
                case kLeftControl:
                case kRightControl:
                    reportsModifiers_ = true;
                    out.push_back({key::Ctrl, mods | key::CtrlMask});
                    return;
                case kLeftAlt:
                case kRightAlt:
                    reportsModifiers_ = true;
                    out.push_back({key::Alt, mods | key::AltMask});
                    return;
                default:
                    break;
            }
            if (cp >= kLeftShift && cp <= 57454) return;  // Super, Hyper, Meta, level shifts
            emitCodepoint(cp, p.get(0, 2, -1), mods, prefix, out);
            return;
        }
        default:
            return;  // F2-F4, focus reports, cursor reports and the rest: no key of the game
    }
}

}  // namespace tw
