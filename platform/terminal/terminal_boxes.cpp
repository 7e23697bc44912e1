// platform/terminal/terminal_boxes.cpp: the message box and the input box as printed lines; the
// input box hands the player the terminal's own line editing.
#include <unistd.h>

#include <cerrno>

#include "platform/terminal/terminal_platform.h"
#include "platform/terminal/terminal_restore.h"

namespace tw {

using namespace terminal;

void TerminalPlatform::messageBox(const std::string& text, const std::string& caption) {
    (void)caption;
    printLine(text);
    printLine("Press Enter.");
    if (sink_) sink_->speakBox(text + "  Press Enter.", false);
    // Keys already typed reach the box first, as they would reach a dialog.
    for (;;) {
        Queued next;
        while (nextKey(next)) {
            if (next.synthetic) continue;
            if (next.key.KeyCode == key::Enter || next.key.KeyCode == key::Escape) return;
        }
        checkEndingSignal();
        if (eof_ && !decoder_.wantsTimeout()) endOfInput();
        pump(escapeWaitMs());
    }
}

std::string TerminalPlatform::inputBox(const std::string& prompt, const std::string& caption) {
    if (!caption.empty()) printLine(caption);
    printLine(prompt);
    // On the voice path the game has just spoken its own prompt; a second one would cut it off.
    if (sink_) sink_->speakBox(caption.empty() ? prompt : caption + ".  " + prompt, true);
    std::string line;
    bool ended = false;
    if (raw_) {
        // The terminal's own line editing, so the player's screen reader follows the typing.
        leaveRaw();
        for (;;) {
            char c;
            ssize_t n = ::read(settings_.inFd, &c, 1);
            if (n == 1) {
                if (c == '\n') break;
                line.push_back(c);
            } else if (n == 0) {
                ended = true;  // Ctrl+D on an empty line
                break;
            } else if (errno != EINTR) {
                eof_ = true;  // the terminal was closed
                ended = true;
                break;
            } else if (terminal::endingSignal()) {
                break;
            }
        }
        enterRaw();
        checkEndingSignal();
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
