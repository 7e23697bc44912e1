// platform/terminal/terminal_platform.cpp: the terminal Platform: taking the terminal, printed
// speech and the title, the services, and the way out.
#include "platform/terminal/terminal_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string_view>

#include "platform/linux/espeak_voice.h"
#include "platform/linux/instance_lock.h"
#include "platform/linux/sound_player.h"
#include "platform/linux/speechd_reader.h"
#include "platform/terminal/terminal_clock.h"
#include "platform/terminal/terminal_restore.h"

namespace tw {

using namespace terminal;

namespace {

constexpr int kKeyboardReplyMs = 300;

// Text fit for one printed line: control characters (C0, DEL and the C1 range as UTF-8) would be
// read by the terminal as commands, and a line break would split one utterance in two.
std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out.push_back(' ');
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out.push_back(' ');
            ++i;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

}  // namespace

TerminalPlatform::TerminalPlatform(TerminalSettings settings)
    : settings_(std::move(settings)), saved_(std::make_unique<Saved>()) {
    inTty_ = isatty(settings_.inFd) == 1;
    // Control sequences only go to a terminal the player is typing in: with keys from a pipe
    // the output is a record, even when it is shown on a terminal.
    outTty_ = inTty_ && isatty(settings_.outFd) == 1;
    ownsSignals_ = settings_.handleSignals && takeSignals();
    TermState& s = ownsSignals_ ? g_term : saved_->own;
    saved_->state = &s;
    s = TermState{};
    s.inFd = settings_.inFd;
    s.outFd = settings_.outFd;
    if (inTty_ && tcgetattr(settings_.inFd, &s.saved) == 0) {
        s.haveTermios = true;
        s.raw = s.saved;
        // Keys one by one without echo; Ctrl+C still interrupts, but Ctrl+\ and Ctrl+Z are keys,
        // and Ctrl+S and Ctrl+Q must not freeze the output of a player who cannot see it.
        s.raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
        s.raw.c_lflag |= ISIG;
        s.raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP | INPCK | PARMRK);
        // Output processing stays as it was: a line feed also returns the carriage, for this
        // program's lines and for those of a program its output is piped through.
        s.raw.c_cc[VMIN] = 1;
        s.raw.c_cc[VTIME] = 0;
        s.raw.c_cc[VQUIT] = _POSIX_VDISABLE;
        s.raw.c_cc[VSUSP] = _POSIX_VDISABLE;
    }
    if (outTty_) {
        s.titleSaved = 1;
        titlePushed_ = true;
    }
    s.armed = 1;
    if (titlePushed_) write(kTitlePush);
    if (s.haveTermios) enterRaw();
    if (raw_ && outTty_ && settings_.queryKeyboard) queryKeyboardProtocol();
}

TerminalPlatform::~TerminalPlatform() {
    restoreTerminal();
    if (ownsSignals_) giveSignalsBack();
}

void TerminalPlatform::restoreTerminal() {
    restoreState(*saved_->state, true);
    raw_ = false;
}

void TerminalPlatform::enterRaw() {
    TermState& s = *saved_->state;
    if (!s.haveTermios) return;
    raw_ = tcsetattr(settings_.inFd, TCSANOW, &s.raw) == 0;
    s.inLineMode = 0;
    if (kittyPushed_) write(kKittyPush);
}

void TerminalPlatform::setLineMode(bool typing) {
    TermState& s = *saved_->state;
    if (!kittyPushed_) return;
    if (typing) {
        write(kKittyPop);
        s.inLineMode = 1;
    } else {
        s.inLineMode = 0;
        write(kKittyPush);
    }
}

void TerminalPlatform::queryKeyboardProtocol() {
    // Terminals that know the protocol answer the first query; all answer the second, so its
    // answer ends the wait. Nothing waits for the answers: the game starts speaking at once,
    // and the answers are taken from the input as they come (see takeTerminalReplies).
    write(std::string(kKittyQuery) + std::string(kDeviceAttributesQuery));
    awaitingReplies_ = true;
    repliesUntil_ = Clock::now() + std::chrono::milliseconds(kKeyboardReplyMs);
}

void TerminalPlatform::takeTerminalReplies() {
    const TerminalReplies r = decoder_.takeReplies();
    if (!awaitingReplies_) return;
    if (r.kittyFlags && raw_ && !kittyPushed_) {
        write(kKittyPush);
        saved_->state->kittyOn = 1;
        kittyPushed_ = true;
    }
    if (r.primaryDA || Clock::now() >= repliesUntil_) awaitingReplies_ = false;
}

void TerminalPlatform::write(std::string_view bytes) { writeRaw(settings_.outFd, bytes.data(), bytes.size()); }

// On a terminal a message is left with the cursor on its first character: a braille display, which
// follows the cursor, shows it from its start, and panning reads the rest, however many rows it
// wraps onto. The next output first moves below it. Elsewhere a message is a plain line.
void TerminalPlatform::printLine(const std::string& text) {
    if (!outTty_) {
        write(printable(text) + "\n");
        return;
    }
    const std::string shown = printable(text);
    leaveMessage(*saved_->state);
    winsize size{};
    const int width = ioctl(settings_.outFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    int cells = 0;
    for (unsigned char c : shown) cells += (c & 0xC0) != 0x80;
    const int rows = std::max(1, (cells + width - 1) / width);
    write(shown + "\r" + (rows > 1 ? "\x1b[" + std::to_string(rows - 1) + "A" : ""));
    saved_->state->parkedRows = rows;
}

// A question asked on a terminal: the answer is typed on the question's own line.
void TerminalPlatform::printQuestion(const std::string& text) {
    if (!outTty_) return printLine(text);
    leaveMessage(*saved_->state);
    write(printable(text) + " ");
}

void TerminalPlatform::setTitle(const std::string& text) {
    title_ = text;
    if (outTty_) write("\x1b]2;" + printable(text) + "\x07");
}

void TerminalPlatform::said(const std::string& text, int speechmode) {
    if (text.empty()) return;
    // Paths 1 and 2 are the screen reader's: the printed line is what it reads.
    if (speechmode == 1 || speechmode == 2 || settings_.echo) printLine(text);
}

double TerminalPlatform::secondsSinceMidnight() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm local{};
    localtime_r(&ts.tv_sec, &local);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ts.tv_nsec / 1e9;
}

bool TerminalPlatform::anotherInstanceRunning() { return tw::anotherInstanceRunning(playerFolder()); }

// The terminal is handed back before the game's objects are torn down, so nothing the
// voice or the reader does on the way out can leave it in raw mode. Only the game's own streams
// are flushed: fflush(nullptr) would wait for the lock of any FILE a library's thread holds.
void TerminalPlatform::beforeEnd() {
    std::cout.flush();
    std::cerr.flush();
    restoreTerminal();
}

void TerminalPlatform::endOfInput() {
    // Like the system closing the window: the game gets no say and nothing is saved.
    endProcess(0);
}

std::unique_ptr<Voice> TerminalPlatform::createVoice() { return std::make_unique<EspeakVoice>(settings_.speechWav); }

std::unique_ptr<ScreenReaderApi> TerminalPlatform::createJawsApi() {
    // Told from the reader's own thread, which may outlive this platform: only a flag and the
    // wake pipe, both of the process.
    return std::make_unique<SpeechdReader>([] {
        readerSilent_.store(true);
        wakeGame();
    });
}

void TerminalPlatform::playSound(const std::string& path) { playWavAsync(path); }

}  // namespace tw
