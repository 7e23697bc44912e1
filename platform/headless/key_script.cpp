// platform/headless/key_script.cpp: plays a key script through the headless driver and compares.
#include "platform/headless/key_script.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>
#include <sstream>

#include "game/text.h"
#include "platform/files.h"
#include "platform/headless/key_names.h"

namespace tw {

namespace {

// Scripts and the files they leave are read whole up to this.
constexpr std::size_t kMaxScriptBytes = 64 * 1024 * 1024;

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// "[a, b]" for a report line.
std::string listed(const std::vector<std::string>& lines) {
    std::string out = "[";
    for (std::size_t i = 0; i < lines.size(); ++i)
        out += (i ? "\", \"" : "\"") + lines[i] + (i + 1 == lines.size() ? "\"" : "");
    return out + "]";
}

std::string fileWord(const std::string& bytes) {
    return bytes == KeyScript::kAbsent ? "absent" : bytes == KeyScript::kPresent ? "present" : quoteBytes(bytes);
}

// A line of the driver's output as a script writes it; nothing for the lines a script does not
// hold (the title, marks). A refused command is noted.
std::optional<std::string> heardLine(const std::string& line, bool& refused) {
    if (startsWith(line, "tumblewick: ")) refused = true;
    // What the screen reader's own interface was handed is heard on path 3 (only there is one).
    if (startsWith(line, "box: ") || startsWith(line, "input: ") || startsWith(line, "reader")) return line;
    // The one thing that differs between systems: the sound's full path.
    if (startsWith(line, "sound: ")) return "sound: sounds/" + line.substr(line.find_last_of("/\\") + 1);
    if (startsWith(line, "say: ")) return line.substr(5);
    return std::nullopt;
}

// What each command made the game say, from the driver's output; the greeting is dropped.
void takeHeard(const std::string& out, std::vector<std::vector<std::string>>& heard, bool& refused) {
    std::istringstream lines(out);
    std::vector<std::string> greeting, *to = &greeting;
    for (std::string line; std::getline(lines, line);) {
        if (startsWith(line, "mark: ")) to = &heard.emplace_back();
        if (const auto said = heardLine(line, refused)) to->push_back(*said);
    }
}

}  // namespace

std::string unquoteBytes(const std::string& quoted) {
    std::string out;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] != '\\') {
            out += quoted[i];
        } else if (quoted[++i] == 'x' && i + 2 < quoted.size()) {
            out += static_cast<char>(std::stoi(quoted.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += quoted[i] == 'r' ? '\r' : quoted[i] == 'n' ? '\n' : quoted[i] == 't' ? '\t' : quoted[i];
        }
    }
    return out;
}

std::string quoteBytes(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '\r' || c == '\n' || c == '\t') {
            out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\t";
        } else if (c == '"' || c == '\\') {
            out += std::string("\\") + char(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

KeyScript readKeyScript(const std::string& text) {
    KeyScript s;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        s.lines.push_back(line);
        std::istringstream words(line);
        std::string word, name;
        words >> word >> name;
        const std::size_t quote = line.find('"'), close = line.rfind('"');
        std::string bytes = quote == std::string::npos ? "" : unquoteBytes(line.substr(quote, close - quote + 1));
        // "file NAME BYTES * N": the bytes N times over, for files too large to write out.
        if (word == "file" && quote != close && line.find("\" * ", quote) == close) {
            const std::string once = bytes;
            for (unsigned long n = std::stoul(line.substr(close + 4)); n > 1; --n) bytes += once;
        }
        if (word == "seed") s.seed = name;
        if (word == "jaws") s.jaws = true;
        if (word == "novoice") s.novoice = true;
        if (word == "file") s.placed.emplace_back(name, quote == std::string::npos ? KeyScript::kAbsent : bytes);
        if (word == "=")
            s.left.emplace_back(name, quote != std::string::npos   ? bytes
                                      : line.ends_with(" present") ? KeyScript::kPresent
                                                                   : KeyScript::kAbsent);
        if (word == ">") {
            s.commands.push_back(line.substr(2));
            if (name != "type") s.heard.emplace_back();
        }
        if ((word == "<" || line == "<") && !s.heard.empty())
            s.heard.back().push_back(line.size() > 2 ? line.substr(2) : "");
    }
    return s;
}

std::string hexBytes(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

std::string unhexBytes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

namespace {

// What playing gave: the lines each command made heard, and the files the script asks about.
struct Played {
    std::vector<std::vector<std::string>> heard;
    std::vector<std::pair<std::string, std::string>> left;
    std::vector<std::string> faults;
    // What the front end cannot give (its answer to "needs"): "empty" texts, "sound" lines.
    std::string unheard;
};

// In this process, through the headless driver: one session per "restart".
Played playHere(const KeyScript& script, const std::string& folder, const HeadlessOptions& options) {
    Played played;
    // Played in the folder itself, as the game is started there; the start-up log and the
    // version file go to the current folder.
    if (Outcome made = files::makeFolders(folder); !made.ok || !(made = files::enterFolder(folder)).ok) {
        played.faults.push_back(folder + ": " + made.why);
        return played;
    }
    for (const std::string& name : files::fileNames(".")) files::remove(name);
    std::string words;
    files::readAll(options.home + "/words.txt", words, kMaxScriptBytes);
    files::replace("words.txt", words);
    files::makeFolders("sounds");
    for (const auto& [name, bytes] : script.placed)
        bytes == KeyScript::kAbsent ? void(files::remove(name)) : void(files::replace(name, bytes));

    HeadlessOptions run = options;
    run.home = ".";
    run.player.clear();
    run.instanceCheck = nullptr;
    run.seed = std::stoull(script.seed);
    run.jaws = script.jaws;
    run.voice = !script.novoice;
    // Each command but "type" is marked, so that its lines can be told.
    std::vector<std::string> feeds(1);
    for (std::size_t i = 0; i < script.commands.size(); ++i) {
        const std::string& c = script.commands[i];
        if (c == "restart")
            feeds.emplace_back();
        else
            feeds.back() += (startsWith(c, "type") ? "" : "mark " + std::to_string(i) + "\n") + c + "\n";
    }
    bool refused = false;
    for (std::size_t f = 0; f < feeds.size(); ++f) {
        std::istringstream in(feeds[f]);
        std::ostringstream out;
        if (f > 0) out << "mark: restart\n";
        if (const int status = runHeadless(run, in, out, out); status != 0)
            played.faults.push_back("the game ended with status " + std::to_string(status));
        takeHeard(out.str(), played.heard, refused);
    }
    if (refused) played.faults.push_back("the driver refused a command");
    // By exact name, also where the system finds a file whatever the letter case (Windows).
    const std::vector<std::string> names = files::fileNames(".");
    for (const auto& [name, bytes] : script.left) {
        std::string found;
        const bool there = std::find(names.begin(), names.end(), name) != names.end() &&
                           files::readAll(name, found, kMaxScriptBytes).ok;
        played.left.emplace_back(name, !there ? KeyScript::kAbsent : bytes == KeyScript::kPresent ? bytes : found);
    }
    return played;
}

// Through a front end's adapter, over in and out: the interpreter sends one request a line and
// the adapter answers with what was heard, one line each, and a line "." after them.
//   needs WORD...        what the script needs of the front end (jaws, novoice, large-files,
//                        typed-bytes); the answer "skip REASON" leaves the script out
//   place NAME HEX | -   a file in the game's folder, or none
//   start SEED           the game, afresh; its greeting is heard
//   key VK SHIFT         a key press, answered once the game waits for the next
//   held MS VK SHIFT     a key pressed MS milliseconds into the next key's waits
//   type TEXT            the answer to the question the last key asked
//   restart              the game ended as the end of input ends it, and started again
//   end                  the game ended as the end of input ends it (on the browser, the tab
//                        closed)
//   close                the game ended as its window is closed (a tab hidden, SIGHUP)
//   held MS close        the same, MS milliseconds into the next key's waits
//   file NAME            answered "HEX" or "-", for the file left in the game's folder
// The answer to "needs" may also be "unheard WORD..." for what the front end never gives:
// "empty" (an empty text) and "sound" (a sound's line); those lines of the script are not asked.
// A front end heard through a screen reader, which speaks more than the game's lines, may answer
// "confirms" (on a line of its own) instead of reporting each line. It is then handed what each
// command must make heard before the command's requests, and asked after them:
//   expect TEXT          one line the next command must make heard, in order
//   heard                answered with the lines heard, as the script writes them
std::vector<std::string> ask(std::istream& in, std::ostream& out, const std::string& request) {
    out << request << std::endl;
    std::vector<std::string> answer;
    for (std::string line; std::getline(in, line) && line != ".";) answer.push_back(line);
    return answer;
}

// The lines of a script that a front end is asked for: what it never gives left out.
std::vector<std::string> askable(std::vector<std::string> lines, const std::string& unheard) {
    std::istringstream kinds(unheard);
    for (std::string kind; kinds >> kind;)
        std::erase_if(lines, [&](const std::string& l) {
            return kind == "empty" ? l.empty() : kind == "sound" && startsWith(l, "sound: ");
        });
    return lines;
}

Played playThrough(const KeyScript& script, std::istream& in, std::ostream& out, std::string& skipped) {
    Played played;
    bool confirms = false;
    std::string needs;
    if (script.jaws) needs += " jaws";
    if (script.novoice) needs += " novoice";
    if (std::any_of(script.placed.begin(), script.placed.end(), [](const auto& p) { return p.second.size() > 100000; }))
        needs += " large-files";
    if (std::any_of(script.commands.begin(), script.commands.end(),
                    [](const std::string& c) { return startsWith(c, "type ") && !validutf8(c); }))
        needs += " typed-bytes";
    for (const std::string& answer : ask(in, out, "needs" + needs)) {
        if (startsWith(answer, "skip ")) skipped = answer.substr(5);
        if (startsWith(answer, "unheard ")) played.unheard = answer.substr(8);
        confirms = confirms || answer == "confirms";
    }
    if (!skipped.empty()) return played;
    for (const auto& [name, bytes] : script.placed)
        ask(in, out, "place " + name + " " + (bytes == KeyScript::kAbsent ? "-" : hexBytes(bytes)));
    // An answer's lines, in the script's own form, go to the command they belong to: a typed
    // answer's to the key that asked.
    const auto heardOf = [&](const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            bool refused = false;
            played.heard.back().push_back(startsWith(line, "sound: ") ? *heardLine(line, refused) : line);
        }
    };
    // A command's lines, where the front end confirms them: handed over first, asked for after.
    const auto group = [&] {
        if (confirms && !played.heard.empty()) heardOf(ask(in, out, "heard"));
        if (played.heard.size() < script.heard.size() && confirms)
            for (const std::string& line : askable(script.heard[played.heard.size()], played.unheard))
                ask(in, out, "expect " + line);
        played.heard.emplace_back();
    };
    ask(in, out, "start " + script.seed);
    for (const std::string& c : script.commands) {
        std::istringstream words(c);
        std::string word, ms;
        words >> word;
        if (word == "held") words >> ms;
        std::string rest;
        std::getline(words >> std::ws, rest);
        if (word != "type" || played.heard.empty()) group();
        if (word == "restart" || word == "type" || word == "end" || word == "close" || c == "held " + ms + " close") {
            heardOf(ask(in, out, c));
            continue;
        }
        std::optional<std::vector<KeyPress>> keys;
        if (word == "key" || word == "held") keys = keyNames(rest);
        if (word == "code") keys = keyCode(rest);
        if (!keys || keys->empty()) {
            played.faults.push_back("no such command: " + c);
            continue;
        }
        for (const KeyPress& k : *keys)
            heardOf(ask(in, out,
                        (word == "held" ? "held " + ms + " " : "key ") + std::to_string(k.code) + " " +
                            std::to_string(k.shift)));
    }
    if (confirms && !played.heard.empty()) heardOf(ask(in, out, "heard"));
    for (const auto& [name, bytes] : script.left) {
        const auto answer = ask(in, out, "file " + name);
        const bool there = !answer.empty() && answer[0] != "-";
        played.left.emplace_back(name, !there                         ? KeyScript::kAbsent
                                       : bytes == KeyScript::kPresent ? bytes
                                                                      : unhexBytes(answer[0]));
    }
    return played;
}

}  // namespace

int playKeyScript(const std::string& scriptPath, const std::string& folder, const HeadlessOptions& options, bool update,
                  std::ostream& report, std::istream* adapterIn, std::ostream* adapterOut) {
    std::string text;
    if (const Outcome read = files::readAll(scriptPath, text, kMaxScriptBytes); !read.ok) {
        report << scriptPath << ": cannot be read: " << read.why << "\n";
        return 1;
    }
    const KeyScript script = readKeyScript(text);
    for (std::size_t i = 0; i + 1 < script.commands.size(); ++i)
        if ((script.commands[i] == "end" || script.commands[i] == "close") && script.commands[i + 1] != "restart") {
            report << scriptPath << ": after \"" << script.commands[i] << "\" only \"restart\" can come\n";
            return 1;
        }
    std::string skipped;
    const Played played = adapterIn && adapterOut ? playThrough(script, *adapterIn, *adapterOut, skipped)
                                                  : playHere(script, folder, options);
    if (!skipped.empty()) {
        report << scriptPath << ": left out: " << skipped << "\n";
        return 0;
    }
    const auto& heard = played.heard;
    const auto& left = played.left;
    int failed = 0;
    if (!update)
        for (const std::string& fault : played.faults) {
            report << scriptPath << ": " << fault << "\n";
            failed = 1;
        }

    if (update) {
        std::ostringstream rewritten;
        std::size_t next = 0, pending = heard.size();
        const auto flush = [&] {
            if (pending < heard.size())
                for (const std::string& said : heard[pending]) rewritten << (said.empty() ? "<" : "< " + said) << "\n";
            pending = heard.size();
        };
        for (const std::string& line : script.lines) {
            if (line == "<" || startsWith(line, "< ") || startsWith(line, "= ")) continue;
            if (!startsWith(line, "> type")) flush();
            rewritten << line << "\n";
            if (startsWith(line, "> ") && !startsWith(line, "> type")) pending = next++;
        }
        flush();
        for (const auto& [name, bytes] : left) rewritten << "= " << name << " " << fileWord(bytes) << "\n";
        return files::replace(scriptPath, rewritten.str()).ok ? 0 : 1;
    }
    const auto asked = [&](const std::vector<std::string>& lines) { return askable(lines, played.unheard); };
    for (std::size_t i = 0; i < script.heard.size(); ++i) {
        const std::vector<std::string> got = i < heard.size() ? heard[i] : std::vector<std::string>{"(no answer)"};
        if (got != asked(script.heard[i])) {
            report << scriptPath << ": command " << i + 1 << ": heard " << listed(got) << ", the script says "
                   << listed(asked(script.heard[i])) << "\n";
            failed = 1;
        }
    }
    for (std::size_t i = 0; i < left.size(); ++i)
        if (left[i].second != script.left[i].second) {
            report << scriptPath << ": " << left[i].first << " is " << fileWord(left[i].second) << ", the script says "
                   << fileWord(script.left[i].second) << "\n";
            failed = 1;
        }
    return failed;
}

}  // namespace tw
