// tests/transcript_test.cpp: plays every key script of tests/transcripts/ through the headless
// driver (TW_TRANSCRIPT_RUNNER may put another program before it, as "wine64"; TW_TRANSCRIPT_EXE
// names another build) and checks what was said and the files left, exactly.
//
// A script: "#" comments; a header of "seed N", "jaws" (the screen reader's object can be made), "novoice"
// (the game's own voice cannot be made),
// "file NAME BYTES [* N]" or "file NAME absent" (placed in, or taken from, the game's folder first; BYTES in double
// quotes with \r \n \t \"
// \\ and \xHH); then "> COMMAND" lines for the driver (key Down, key 1WA, held 500 B, type a
// name; "restart" ends the game and starts it again), each followed by what it made the game say ("< TEXT"; "< box:
// TEXT", "< input: ...",
// "< sound: PATH" for the other things heard), and at the end "= NAME BYTES", "= NAME present" or
// "= NAME absent" for the files the game must leave. TW_TRANSCRIPT_UPDATE=1 writes what was heard into the
// scripts instead; every line so written is read against the design before it is committed.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/driver_util.h"

namespace {

namespace fs = std::filesystem;
using tw::driver::shellQuoted;

// Stand for a file that must not be there, and for one that must, whatever it holds.
const std::string kAbsent = "<absent>", kPresent = "<present>";

std::string escape(const std::string& bytes) {
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

struct Script {
    std::vector<std::string> lines;  // the file, for an update
    std::string seed = "7", options;
    std::vector<std::pair<std::string, std::string>> placed, left;
    std::vector<std::string> commands;
    // What each key command (with the answers typed into the boxes it opens) must make the game say.
    std::vector<std::vector<std::string>> heard;
};

Script read(const fs::path& path) {
    Script s;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        s.lines.push_back(line);
        std::istringstream words(line);
        std::string word, name;
        words >> word >> name;
        const std::size_t quote = line.find('"'), close = line.rfind('"');
        std::string bytes =
            quote == std::string::npos ? "" : tw::driver::unquote(line.substr(quote, close - quote + 1));
        // "file NAME BYTES * N": the bytes N times over, for files too large to write out.
        if (word == "file" && quote != close && line.find("\" * ", quote) == close)
            bytes = tw::driver::repeated(bytes, std::stoul(line.substr(close + 4)));
        if (word == "seed") s.seed = name;
        if (word == "jaws") s.options += " --jaws";
        if (word == "novoice") s.options += " --no-voice";
        if (word == "file") s.placed.emplace_back(name, quote == std::string::npos ? kAbsent : bytes);
        if (word == "=")
            s.left.emplace_back(name, quote != std::string::npos   ? bytes
                                      : line.ends_with(" present") ? kPresent
                                                                   : kAbsent);
        if (word == ">") {
            s.commands.push_back(line.substr(2));
            if (name != "type") s.heard.emplace_back();
        }
        if ((word == "<" || line == "<") && !s.heard.empty())
            s.heard.back().push_back(line.size() > 2 ? line.substr(2) : "");
    }
    return s;
}

class Transcripts : public ::testing::TestWithParam<std::string> {};

TEST_P(Transcripts, SayExactlyWhatTheScriptSays) {
    const fs::path path = fs::path(TW_SOURCE_DIR) / "tests/transcripts" / GetParam();
    Script script = read(path);
    // The game's folder has a name that is not ASCII, as a player's may.
    tw::driver::TempDir root;
    const fs::path home = fs::u8path(root.sub("Zo\u00EB win"));
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(home / name, std::ios::binary) << bytes;
    };
    fs::copy_file(fs::path(TW_GAME_DIR) / "words.txt", home / "words.txt");
    fs::create_directories(home / "sounds");
    for (const auto& [name, bytes] : script.placed)
        bytes == kAbsent ? void(fs::remove(home / name)) : write(name, bytes);
    // "> restart" ends the game (as the end of input does) and starts it again in the same folder;
    // the new greeting is what that command is heard to say.
    std::vector<std::string> feeds(1);
    for (std::size_t i = 0; i < script.commands.size(); ++i) {
        const std::string& c = script.commands[i];
        if (c == "restart") {
            feeds.push_back("");
            continue;
        }
        feeds.back() += (c.rfind("type", 0) == 0 ? "" : "mark " + std::to_string(i) + "\n") + c + "\n";
    }
    const char* exe = std::getenv("TW_TRANSCRIPT_EXE");
    const char* runner = std::getenv("TW_TRANSCRIPT_RUNNER");
    const std::string command = "cd " + shellQuoted(home.string()) + " && " +
                                (runner ? std::string(runner) + " " : "") + shellQuoted(exe ? exe : TW_EXE) +
                                " --headless --seed " + script.seed + " --home . " + script.options + " < .keys 2>&1";
    std::string out;
    for (const std::string& feed : feeds) {
        if (!out.empty()) out += "mark: restart\n";
        write(".keys", feed);
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_TRUE(pipe);
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
    }
    fs::remove(home / ".keys");

    // What each command made the game say, the greeting before the first; a typed answer's lines
    // belong to the key that asked for it.
    std::vector<std::vector<std::string>> heard(1);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("mark: ", 0) == 0) heard.emplace_back();
        for (const char* kind : {"box: ", "input: ", "sound: "})
            if (line.rfind(kind, 0) == 0) heard.back().push_back(line);
        // The one thing that differs between systems: the sound's full path.
        if (line.rfind("sound: ", 0) == 0)
            heard.back().back() = "sound: sounds/" + line.substr(line.find_last_of("/\\") + 1);
        if (line.rfind("say: ", 0) == 0) heard.back().push_back(line.substr(5));
        if (line.rfind("tumblewick: ", 0) == 0) ADD_FAILURE() << line;
    }
    heard.erase(heard.begin());  // the greeting: every script hears it
    heard.resize(script.heard.size());
    std::vector<std::pair<std::string, std::string>> left;
    for (const auto& [name, bytes] : script.left) {
        const auto found = tw::driver::readBytes((home / name).string());
        left.emplace_back(name, !found ? kAbsent : bytes == kPresent ? kPresent : *found);
    }

    if (std::getenv("TW_TRANSCRIPT_UPDATE")) {
        std::ofstream rewritten(path);
        std::size_t next = 0, pending = heard.size();
        const auto flush = [&] {
            if (pending < heard.size())
                for (const std::string& said : heard[pending]) rewritten << (said.empty() ? "<" : "< " + said) << "\n";
            pending = heard.size();
        };
        for (const std::string& line : script.lines) {
            if (line == "<" || line.rfind("< ", 0) == 0 || line.rfind("= ", 0) == 0) continue;
            if (line.rfind("> type", 0) != 0) flush();
            rewritten << line << "\n";
            if (line.rfind("> ", 0) == 0 && line.rfind("> type", 0) != 0) pending = next++;
        }
        flush();
        for (const auto& [name, bytes] : left)
            rewritten << "= " << name << " "
                      << (bytes == kAbsent    ? "absent"
                          : bytes == kPresent ? "present"
                                              : escape(bytes))
                      << "\n";
        return;
    }
    for (std::size_t i = 0; i < script.heard.size(); ++i)
        EXPECT_EQ(heard[i], script.heard[i]) << GetParam() << ": key command " << i + 1;
    EXPECT_EQ(left, script.left) << GetParam();
}

std::vector<std::string> scripts() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(TW_SOURCE_DIR) / "tests/transcripts"))
        if (entry.path().extension() == ".tw") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Corpus, Transcripts, ::testing::ValuesIn(scripts()), [](const auto& info) {
    std::string name = info.param.substr(0, info.param.size() - 3);
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
});

}  // namespace
