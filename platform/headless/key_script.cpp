// platform/headless/key_script.cpp: plays a key script through the headless driver and compares.
#include "platform/headless/key_script.h"

#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>

#include "platform/files.h"

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

// What each command made the game say, from the driver's output; the greeting is dropped.
void takeHeard(const std::string& out, std::vector<std::vector<std::string>>& heard, bool& faults) {
    std::istringstream lines(out);
    bool greeting = heard.empty();
    if (greeting) heard.emplace_back();
    for (std::string line; std::getline(lines, line);) {
        if (startsWith(line, "mark: ")) {
            if (greeting) heard.clear();
            greeting = false;
            heard.emplace_back();
        }
        for (const char* kind : {"box: ", "input: "})
            if (startsWith(line, kind)) heard.back().push_back(line);
        // The one thing that differs between systems: the sound's full path.
        if (startsWith(line, "sound: "))
            heard.back().push_back("sound: sounds/" + line.substr(line.find_last_of("/\\") + 1));
        if (startsWith(line, "say: ")) heard.back().push_back(line.substr(5));
        if (startsWith(line, "tumblewick: ")) faults = true;
    }
    if (greeting) heard.clear();
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

int playKeyScript(const std::string& scriptPath, const std::string& folder, const HeadlessOptions& options, bool update,
                  std::ostream& report) {
    std::string text;
    if (const Outcome read = files::readAll(scriptPath, text, kMaxScriptBytes); !read.ok) {
        report << scriptPath << ": cannot be read: " << read.why << "\n";
        return 1;
    }
    const KeyScript script = readKeyScript(text);
    // Played in the folder itself, as the game is started there; the start-up log and the
    // version file go to the current folder.
    if (Outcome made = files::makeFolders(folder); !made.ok || !(made = files::enterFolder(folder)).ok) {
        report << folder << ": " << made.why << "\n";
        return 1;
    }
    const std::string at = "./";
    for (const std::string& name : files::fileNames(".")) files::remove(at + name);
    std::string words;
    files::readAll(options.home + "/words.txt", words, kMaxScriptBytes);
    files::replace(at + "words.txt", words);
    files::makeFolders(at + "sounds");
    for (const auto& [name, bytes] : script.placed)
        bytes == KeyScript::kAbsent ? void(files::remove(at + name)) : void(files::replace(at + name, bytes));

    HeadlessOptions run = options;
    run.home = ".";
    run.player.clear();
    run.instanceCheck = nullptr;
    if (!script.seed.empty()) run.seed = std::stoull(script.seed);
    run.jaws = script.jaws;
    run.voice = !script.novoice;
    // One session per "restart"; each command but "type" is marked, so its lines can be told.
    std::vector<std::string> feeds(1);
    for (std::size_t i = 0; i < script.commands.size(); ++i) {
        const std::string& c = script.commands[i];
        if (c == "restart")
            feeds.emplace_back();
        else
            feeds.back() += (startsWith(c, "type") ? "" : "mark " + std::to_string(i) + "\n") + c + "\n";
    }
    std::vector<std::vector<std::string>> heard;
    bool faults = false;
    int failed = 0;
    for (std::size_t f = 0; f < feeds.size(); ++f) {
        std::istringstream in(feeds[f]);
        std::ostringstream out;
        if (f > 0) out << "mark: restart\n";
        const int status = runHeadless(run, in, out, out);
        takeHeard(out.str(), heard, faults);
        if (status != 0 && !update) {
            report << scriptPath << ": the game ended with status " << status << "\n";
            failed = 1;
        }
    }
    if (faults && !update) {
        report << scriptPath << ": the driver refused a command\n";
        failed = 1;
    }
    std::vector<std::pair<std::string, std::string>> left;
    for (const auto& [name, bytes] : script.left) {
        std::string found;
        const bool there = files::exists(at + name) && files::readAll(at + name, found, kMaxScriptBytes).ok;
        left.emplace_back(name, !there ? KeyScript::kAbsent : bytes == KeyScript::kPresent ? bytes : found);
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
    for (std::size_t i = 0; i < script.heard.size(); ++i) {
        const std::vector<std::string> got = i < heard.size() ? heard[i] : std::vector<std::string>{"(no answer)"};
        if (got != script.heard[i]) {
            report << scriptPath << ": command " << i + 1 << ": heard " << listed(got) << ", the script says "
                   << listed(script.heard[i]) << "\n";
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
