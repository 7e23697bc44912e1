// platform/headless/key_script.h: the one interpreter of key scripts (tests/transcripts/*.tw).
//
// A script: "#" comments; a header of "seed N", "jaws" (the screen reader's object can be made),
// "novoice" (the game's own voice cannot be made), "file NAME BYTES [* N]" or "file NAME absent"
// (placed in, or taken from, the game's folder first; BYTES in double quotes with \r \n \t \",
// two backslashes for one and \xHH for any byte, N times over with "* N"); then "> COMMAND"
// lines for the headless driver ("key Down", "key 1WA", "code 9 0", "held 500 B", "type a name";
// "restart" ends the game as the end of input does and starts it again; "end" ends it so, and
// "close" as closing its window does, "held 500 close" half a second into the next key's waits;
// after "end" or "close" only "restart" or the files can come), each followed by what
// it made the game say ("< TEXT"; "< box: TEXT", "< input: CAPTION | TEXT", "< sound:
// sounds/NAME", "< reader: TEXT" or "< reader, cutting: TEXT" for the other things heard; a
// typed answer's lines belong to the command that asked), and at the end "= NAME BYTES",
// "= NAME present" or "= NAME absent" for the files the game must leave.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "platform/headless/headless_main.h"

namespace tw {

struct KeyScript {
    std::vector<std::string> lines;  // the file as it is, for an update
    std::string seed = "7";
    bool jaws = false, novoice = false;
    std::vector<std::pair<std::string, std::string>> placed, left;  // BYTES, or kAbsent / kPresent
    std::vector<std::string> commands;
    // What each command but "type" (with the answers typed after it) must make the game say.
    std::vector<std::vector<std::string>> heard;

    static constexpr const char* kAbsent =
        "\x01"
        "absent";
    static constexpr const char* kPresent =
        "\x01"
        "present";
};

KeyScript readKeyScript(const std::string& text);
// The bytes of a double-quoted script string, and back.
std::string unquoteBytes(const std::string& quoted);
std::string quoteBytes(const std::string& bytes);
// Bytes as the adapters carry them: two lower-case hex digits each, and back.
std::string hexBytes(const std::string& bytes);
std::string unhexBytes(const std::string& text);

// Plays the script in folder (made if missing, emptied of files first; the shipped words.txt is
// copied from options.home): the game once per "restart", every run a whole headless session.
// With adapterIn and adapterOut, plays it through a front end's adapter instead (the requests
// are listed in key_script.cpp). Returns 0 when every line heard and every file left is the
// script's, else 1, with each difference written to report. With update, the script file is
// rewritten with what was heard.
int playKeyScript(const std::string& scriptPath, const std::string& folder, const HeadlessOptions& options, bool update,
                  std::ostream& report, std::istream* adapterIn = nullptr, std::ostream* adapterOut = nullptr);

}  // namespace tw
