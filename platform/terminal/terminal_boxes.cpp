// platform/terminal/terminal_boxes.cpp: the message box and the input box as printed lines, and
// the input box's line editing in a terminal.
#include <unistd.h>

#include <cerrno>

#include "platform/terminal/terminal_platform.h"
#include "platform/terminal/terminal_restore.h"

namespace tw {

using namespace terminal;

void TerminalPlatform::messageBox(const std::string& text, const std::string& caption) {
    (void)caption;
    if (outTty_) {
        printLine(text + "  Press Enter.");
    } else {
        printLine(text);
        printLine("Press Enter.");
    }
    if (sink_) sink_->speakBox(text + "  Press Enter.", false);
    // Keys already typed reach the box first, as they would reach a dialog.
    for (;;) {
        EventQueue::Key next;
        while (nextKey(next)) {
            if (next.synthetic) continue;
            if (next.code == key::Enter || next.code == key::Escape) return;
        }
        checkEndingSignal();
        if (eof_ && !decoder_.wantsTimeout()) endOfInput();
        pump(escapeWaitMs());
    }
}

namespace {

// Removes the last character, all of its UTF-8 bytes; false when the line is empty.
bool dropLastCharacter(std::string& line) {
    if (line.empty()) return false;
    while (line.size() > 1 && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80) line.pop_back();
    line.pop_back();
    return true;
}

}  // namespace

bool TerminalPlatform::nextBoxByte(unsigned char& c, int waitMs) {
    while (inpos_ >= inbuf_.size()) {
        inbuf_.clear();
        inpos_ = 0;
        checkEndingSignal();
        if (eof_) return false;
        const auto before = inbuf_.size();
        pump(waitMs);
        if (waitMs >= 0 && inbuf_.size() == before) return false;
    }
    c = static_cast<unsigned char>(inbuf_[inpos_++]);
    return true;
}

bool TerminalPlatform::editLine(std::string& line) {
    setLineMode(true);
    decoder_.reset();
    bool answered = false;
    for (;;) {
        unsigned char c = 0;
        if (!nextBoxByte(c, -1)) break;  // the input ended: as a cancel
        if (c == '\r' || c == '\n') {
            write("\n");  // output processing returns the carriage
            answered = true;
            // A paste of several lines gives its first line; the rest came with it and goes, so
            // that none of it runs as the game's keys.
            pump(0);
            inbuf_.clear();
            inpos_ = 0;
            break;
        }
        if (c == 0x1B) {
            // Escape alone cancels. A key's sequence (an arrow, Home, F5) starts the same way and
            // is read to its end and dropped; nothing of it is shown.
            unsigned char next = 0;
            if (!nextBoxByte(next, settings_.escapeDelayMs)) {
                write("\n");  // output processing returns the carriage
                line.clear();
                break;
            }
            if (next == '[') {
                while (nextBoxByte(next, settings_.escapeDelayMs) && !(next >= 0x40 && next <= 0x7E)) {}
            } else if (next == 'O') {
                nextBoxByte(next, settings_.escapeDelayMs);
            }
            continue;
        }
        if (c == 0x7F || c == 0x08) {
            if (dropLastCharacter(line)) write("\b \b");
            continue;
        }
        if (c == 0x15) {  // Ctrl+U: the whole line
            while (dropLastCharacter(line)) write("\b \b");
            continue;
        }
        if (c == 0x04) {  // Ctrl+D: cancels on an empty line, as the end of input does
            if (line.empty()) break;
            continue;
        }
        if (c < 0x20) continue;
        line.push_back(static_cast<char>(c));
        write(std::string(1, static_cast<char>(c)));
    }
    setLineMode(false);
    checkEndingSignal();
    return answered;
}

std::string TerminalPlatform::inputBox(const std::string& prompt, const std::string& caption) {
    if (!caption.empty()) printLine(caption);
    printQuestion(prompt);
    // On the voice path the game has just spoken its own prompt; a second one would cut it off.
    if (sink_) sink_->speakBox(caption.empty() ? prompt : caption + ".  " + prompt, true);
    std::string line;
    bool ended = false;
    if (raw_) {
        ended = !editLine(line);
    } else {
        // Without a terminal the answer is the next line of input, typed ahead or not.
        decoder_.reset();
        for (;;) {
            std::size_t nl = inbuf_.find('\n', inpos_);
            if (nl != std::string::npos) {
                line = inbuf_.substr(inpos_, nl - inpos_);
                inpos_ = nl + 1;
                break;
            }
            if (eof_) {
                ended = true;
                inbuf_.clear();
                inpos_ = 0;
                break;
            }
            checkEndingSignal();
            pump(-1);
        }
    }
    if (ended) return "";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace tw
