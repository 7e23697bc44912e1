// tests/e2e_test.cpp: a bot plays whole games through the real headless binary, choosing every key only from what it hears.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "driver_util.h"
#include "game/ending.h"

namespace tw::e2e {
namespace {

namespace fs = std::filesystem;

// Thrown when the bot hears something it cannot make sense of; the text says what and why.
struct BotFailure {
    std::string what;
};

// ---- the game as a child process with two pipes ----

class Child {
public:
    Child(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd) {
        std::signal(SIGPIPE, SIG_IGN);
        int toChild[2];
        int fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
            throw BotFailure{"cannot make pipes"};
        std::vector<std::string> argvStrings;
        argvStrings.push_back(exe);
        argvStrings.insert(argvStrings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argvStrings) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ < 0) throw BotFailure{"fork failed"};
        if (pid_ == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(fromChild[1], 1);
            if (::chdir(cwd.c_str()) != 0) ::_exit(126);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
    }
    ~Child() {
        closeInput();
        if (out_ >= 0) ::close(out_);
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void send(const std::string& line) {
        const std::string data = line + "\n";
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(in_, data.data() + done, data.size() - done);
            if (n <= 0) throw BotFailure{"the game stopped reading its input at: " + line};
            done += static_cast<std::size_t>(n);
        }
    }

    // The next line of output; nothing at the end of output. Waits at most timeoutMs.
    std::optional<std::string> line(int timeoutMs = 30000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            const auto nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string text = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                transcript.push_back(text);
                return text;
            }
            if (eof_) {
                if (buffer_.empty()) return std::nullopt;
                std::string text = std::move(buffer_);
                buffer_.clear();
                transcript.push_back(text);
                return text;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) throw BotFailure{"the game said nothing for " + std::to_string(timeoutMs) + " ms"};
            pollfd p{out_, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left));
            if (ready < 0 && errno != EINTR) throw BotFailure{"poll failed"};
            if (ready <= 0) continue;
            char chunk[4096];
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) eof_ = true;
            else buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    void closeInput() {
        if (in_ >= 0) ::close(in_);
        in_ = -1;
    }

    // Waits for the end; the exit status, or -1 when it did not exit normally.
    int wait() {
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_) return -1;
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<std::string> transcript;

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int in_ = -1;
    int out_ = -1;
    std::string buffer_;
    bool eof_ = false;
};

// ---- what the player knows of words ----

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool separator(char c) { return c == ' ' || c == '.' || c == ',' || c == '!'; }

bool startsWith(const std::string& s, const std::string& head) { return s.rfind(head, 0) == 0; }
bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

// How Dorvel now says a text: each whole word, case-blind, goes through the pairs in the order
// they were announced, each pair working on the word as changed so far.
std::string dorvelSays(const std::string& text, const Pairs& pairs) {
    auto change = [&pairs](std::string word) {
        for (const auto& [from, to] : pairs)
            if (upper(word) == upper(from)) word = to;
        return word;
    };
    std::string out;
    std::string word;
    for (char c : text) {
        if (separator(c)) {
            out += change(word) + c;
            word.clear();
        } else {
            word += c;
        }
    }
    return out + change(word);
}

// Whether needle stands in text as whole words.
bool hasWholeWords(const std::string& text, const std::string& needle) {
    if (needle.empty()) return false;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        const bool before = at == 0 || separator(text[at - 1]);
        const std::size_t end = at + needle.size();
        const bool after = end == text.size() || separator(text[end]);
        if (before && after) return true;
    }
    return false;
}

const std::regex kCountAnswer("^You have (not completed any tasks yet|completed 1 task|completed ([0-9]+) tasks)\\.$");

// ---- the player ----

struct Place {
    int room = 0;  // 0: in the hand
    int spot = 0;
    bool operator<(const Place& o) const { return room != o.room ? room < o.room : spot < o.spot; }
    bool operator==(const Place& o) const { return room == o.room && spot == o.spot; }
};

int roomKey(int room) { return room == 10 ? '0' : '0' + room; }
int spotKey(int spot) { return std::string("WERTYUI").at(static_cast<std::size_t>(spot - 1)); }
int itemKey(int n) { return std::string("ASDFGHJ").at(static_cast<std::size_t>(n - 1)); }

class Player {
public:
    explicit Player(Child& game) : game_(game) {}

    // ---- hearing ----

    // The next spoken text, with any sounds before it noted.
    std::string nextSay() {
        while (true) {
            const auto line = game_.line();
            if (!line) throw BotFailure{"the game ended while the bot waited for speech"};
            if (startsWith(*line, "say: ")) return line->substr(5);
            if (startsWith(*line, "sound: ")) heardSounds_.push_back(line->substr(7));
        }
    }

    // A menu key: exactly one text in answer.
    std::string menuKey(int code) {
        game_.send("key " + std::to_string(code));
        return nextSay();
    }

    // House keys, then B: what was said before the count, which goes to count_.
    std::vector<std::string> house(const std::vector<int>& keys) {
        for (int code : keys) game_.send("key " + std::to_string(code));
        game_.send("key 66");
        std::vector<std::string> said;
        while (true) {
            std::string text = nextSay();
            std::smatch m;
            if (std::regex_match(text, m, kCountAnswer)) {
                count_ = m[1] == "not completed any tasks yet" ? 0 : m[1] == "completed 1 task" ? 1 : std::stoi(m[2]);
                return said;
            }
            said.push_back(std::move(text));
            if (said.size() > keys.size() + 8) throw BotFailure{"no answer to B after: " + said.back()};
        }
    }

    // Keys that may end the game (the ending opens), then Ctrl, which only silences: its empty
    // answer ends the batch.
    std::vector<std::string> houseThenSilence(const std::vector<int>& keys) {
        for (int code : keys) game_.send("key " + std::to_string(code));
        game_.send("key 17");
        std::vector<std::string> said;
        while (true) {
            std::string text = nextSay();
            if (text.empty()) return said;
            said.push_back(std::move(text));
            if (said.size() > keys.size() + 8) throw BotFailure{"no silence after: " + said.back()};
        }
    }

    // ---- learning the house ----

    void explore() {
        const auto held = house({'C'});
        expectCount(0);
        const std::string head = "You are holding the ";
        if (held.size() != 1 || !startsWith(held[0], head) || !endsWith(held[0], "."))
            throw BotFailure{"C gave: " + join(held)};
        held_ = held[0].substr(head.size(), held[0].size() - head.size() - 1);
        where_[held_] = Place{};

        for (int room = 1; room <= 10; ++room) {
            const auto entered = house({roomKey(room)});
            if (entered.size() != 1 || !startsWith(entered[0], "You're in ") || !endsWith(entered[0], "."))
                throw BotFailure{"room key gave: " + join(entered)};
            roomName_[room] = entered[0].substr(10, entered[0].size() - 11);
            for (int spot = 1; spot <= 7; ++spot) {
                std::vector<int> keys = {spotKey(spot)};
                for (int n = 1; n <= 7; ++n) keys.push_back(itemKey(n));
                const auto said = house(keys);
                if (said.size() != keys.size()) throw BotFailure{"a spot and its items gave: " + join(said)};
                if (said[0].empty()) break;  // no such spot in this room
                const std::string lookHead = "You look ";
                const std::string lookTail = ", in the " + roomName_[room];
                if (!startsWith(said[0], lookHead) || !endsWith(said[0], lookTail))
                    throw BotFailure{"spot key gave: " + said[0]};
                const std::string phrase = said[0].substr(lookHead.size(), said[0].size() - lookHead.size() - lookTail.size());
                phrase_[{room, spot}] = phrase;
                spotCount_[room] = spot;
                for (int n = 1; n <= 7 && !said[n].empty(); ++n) {
                    const std::string item = seenItem(said[n], phrase);
                    where_[item] = Place{room, spot};
                }
            }
            if (spotCount_[room] == 0) throw BotFailure{"room " + roomName_[room] + " has no spots"};
        }
    }

    // ---- walking, picking up, putting down ----

    // The n-th item key at the place that answers with the item; the answers are read at the place.
    int findAt(const Place& place, const std::string& item) {
        std::vector<int> keys = {roomKey(place.room), spotKey(place.spot)};
        const int items = itemsAt(place);
        for (int n = 1; n <= items; ++n) keys.push_back(itemKey(n));
        const auto said = house(keys);
        if (said.size() != keys.size()) throw BotFailure{"walking gave: " + join(said)};
        if (said[0] != "You're in " + roomName_[place.room] + ".") throw BotFailure{"room key gave: " + said[0]};
        if (said[1] != "You look " + phrase_[place] + ", in the " + roomName_[place.room])
            throw BotFailure{"spot key gave: " + said[1]};
        for (int n = 1; n <= items; ++n)
            if (seenItem(said[static_cast<std::size_t>(n) + 1], phrase_[place]) == item) return n;
        throw BotFailure{"the " + item + " is not where the bot left it: " + join(said)};
    }

    // Swaps the item in the hand for the chosen one at the place; returns what was said after the
    // exchange (a completion, a win). With ending true the batch is closed with Ctrl, not B.
    std::vector<std::string> exchange(const Place& place, int n, bool mayEnd) {
        std::vector<int> keys = {roomKey(place.room), spotKey(place.spot), itemKey(n), 13};
        auto said = mayEnd ? houseThenSilence(keys) : house(keys);
        if (said.size() < 4) throw BotFailure{"the exchange gave: " + join(said)};
        const std::string taken = seenItem(said[2], phrase_[place]);
        const std::string expected = "You have set the " + held_ + " down " + phrase_[place] + ", and picked up the " + taken + ".";
        if (said[3] != expected) throw BotFailure{"expected [" + expected + "], heard [" + said[3] + "]"};
        where_[held_] = place;
        where_[taken] = Place{};
        held_ = taken;
        return std::vector<std::string>(said.begin() + 4, said.end());
    }

    void pickUp(const std::string& item) {
        const Place place = where_.at(item);
        const int n = findAt(place, item);
        const auto after = exchange(place, n, false);
        if (!after.empty()) throw BotFailure{"picking up the " + item + " gave: " + join(after)};
    }

    // ---- tasks ----

    struct Target {
        Place place;
        std::string prefix;  // the task without the target's words
    };

    std::vector<Target> targetsOf(const std::string& task) const {
        std::vector<std::pair<std::size_t, Target>> found;
        for (const auto& [place, phrase] : phrase_) {
            const std::string tail = dorvelSays(phrase + ", in the " + roomName_[place.room] + ".", pairs_);
            if (task.size() > tail.size() && endsWith(task, tail) && task[task.size() - tail.size() - 1] == ' ')
                found.push_back({tail.size(), Target{place, task.substr(0, task.size() - tail.size())}});
        }
        std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        std::vector<Target> out;
        for (auto& f : found) out.push_back(std::move(f.second));
        return out;
    }

    std::vector<std::string> itemsIn(const Target& target) const {
        std::vector<std::pair<std::size_t, std::string>> found;
        for (const auto& [item, place] : where_) {
            if (item == held_ || place == target.place) continue;
            const std::string said = dorvelSays(item, pairs_);
            if (hasWholeWords(target.prefix, said)) found.push_back({said.size(), item});
        }
        std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        std::vector<std::string> out;
        for (auto& f : found) out.push_back(std::move(f.second));
        return out;
    }

    // Plays one task; returns what followed the winning exchange.
    std::vector<std::string> playTask(int number) {
        const auto heard = house({'Q'});
        expectCount(number - 1);
        if (heard.size() != 1 || heard[0].empty()) throw BotFailure{"Q gave: " + join(heard)};
        const std::string task = heard[0];
        const auto targets = targetsOf(task);
        std::string tried;
        for (const Target& target : targets) {
            for (const std::string& item : itemsIn(target)) {
                tried += " [" + item + " to " + phrase_.at(target.place) + " in " + roomName_[target.place.room] + "]";
                if (item != held_) pickUp(item);
                const int n = 1;  // any item at the target will do: it is swapped for the one in the hand
                if (itemsAt(target.place) < 1) throw BotFailure{"nothing to swap with at the target"};
                const auto after = exchange(target.place, n, true);
                if (!after.empty()) {
                    ++decoded_;
                    if (tried.find("] [") != std::string::npos) ++retried_;
                    return after;
                }
            }
        }
        std::string pairs;
        for (const auto& [from, to] : pairs_) pairs += " " + from + "->" + to;
        throw BotFailure{"cannot decode task " + std::to_string(number) + ": [" + task + "]; pairs:" + pairs +
                         "; targets found: " + std::to_string(targets.size()) + "; tried:" + tried};
    }

    // Reads the word changes of a completion message and checks its whole form.
    void takeCompletion(int number, const std::string& message, std::size_t expectedPairs) {
        const std::string count = number == 1 ? "your first task" : std::to_string(number) + " tasks";
        const std::string head = "You have completed " + count + ".  Dorvel has gone a little bit more insane.  ";
        const std::string tail = "  Press Q, to hear your next task.";
        if (!startsWith(message, head) || !endsWith(message, tail))
            throw BotFailure{"task " + std::to_string(number) + " ended with: " + message};
        const std::string middle = message.substr(head.size(), message.size() - head.size() - tail.size());
        Pairs found;
        std::size_t at = 0;
        while (at < middle.size()) {
            std::string opening = startsWith(middle.substr(at), "The word, ") ? "The word, " : "And the word, ";
            if (!startsWith(middle.substr(at), opening)) throw BotFailure{"cannot read the changes in: " + message};
            at += opening.size();
            const std::string link = ", will now be replaced with, ";
            const std::size_t l = middle.find(link, at);
            if (l == std::string::npos) throw BotFailure{"cannot read the changes in: " + message};
            const std::size_t stop = middle.find('.', l + link.size());
            if (stop == std::string::npos) throw BotFailure{"cannot read the changes in: " + message};
            found.push_back({middle.substr(at, l - at), middle.substr(l + link.size(), stop - l - link.size())});
            at = stop + 1;
            while (at < middle.size() && middle[at] == ' ') ++at;
        }
        if (found.size() != expectedPairs)
            throw BotFailure{"task " + std::to_string(number) + " announced " + std::to_string(found.size()) +
                             " changes, not " + std::to_string(expectedPairs) + ": " + message};
        std::string rebuilt;
        for (std::size_t k = 0; k < found.size(); ++k) {
            const bool last = found.size() > 1 && k + 1 == found.size();
            rebuilt += std::string(last ? "And the word, " : "The word, ") + found[k].first +
                       ", will now be replaced with, " + found[k].second + (last ? "." : ".  ");
        }
        if (head + rebuilt + tail != message) throw BotFailure{"the message is not in its form: " + message};
        for (const auto& pair : found) {
            if (pair.first.empty() || pair.second.empty()) throw BotFailure{"an empty word in: " + message};
            pairs_.push_back(pair);
        }
    }

    void expectCount(int n) const {
        if (count_ != n)
            throw BotFailure{"B said " + std::to_string(count_) + " tasks, the bot counted " + std::to_string(n)};
    }

    const std::vector<std::string>& sounds() const { return heardSounds_; }
    std::size_t pairCount() const { return pairs_.size(); }
    int decoded() const { return decoded_; }
    int retried() const { return retried_; }
    std::size_t itemCount() const { return where_.size(); }

private:
    static std::string join(const std::vector<std::string>& texts) {
        std::string out;
        for (const auto& t : texts) out += "[" + t + "]";
        return out;
    }

    static std::string seenItem(const std::string& text, const std::string& phrase) {
        const std::string head = "You see the ";
        const std::string tail = " " + phrase + ".";
        if (!startsWith(text, head) || !endsWith(text, tail) || text.size() <= head.size() + tail.size())
            throw BotFailure{"item key gave: [" + text + "] at " + phrase};
        return text.substr(head.size(), text.size() - head.size() - tail.size());
    }

    int itemsAt(const Place& place) const {
        int n = 0;
        for (const auto& [item, at] : where_)
            if (at == place) ++n;
        return n;
    }

    Child& game_;
    int count_ = -1;
    std::vector<std::string> heardSounds_;
    std::string held_;
    std::map<std::string, Place> where_;
    std::map<Place, std::string> phrase_;
    std::string roomName_[11];
    int spotCount_[11] = {};
    Pairs pairs_;
    int decoded_ = 0;
    int retried_ = 0;
};

std::string tail(const std::vector<std::string>& lines, std::size_t n) {
    std::string out;
    for (std::size_t i = lines.size() > n ? lines.size() - n : 0; i < lines.size(); ++i) out += "  " + lines[i] + "\n";
    return out;
}

// One whole game with this seed; the bot knows only what it hears.
void playWholeGame(const std::string& seed) {
    const auto started = std::chrono::steady_clock::now();
    driver::TempDir home;
    fs::copy_file(TW_BINARY_DIR "/words.txt", home.file("words.txt"));
    Child game(TW_EXE, {"--headless", "--seed", seed, "--home", home.path()}, home.path());
    Player bot(game);
    int status = -1;
    try {
        // The greeting, then the main menu to the game.
        EXPECT_EQ(bot.nextSay(), "Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu.");
        EXPECT_EQ(bot.menuKey(40), "How to play");
        EXPECT_EQ(bot.menuKey(40), "Play the game");
        EXPECT_EQ(bot.menuKey(13), "You have arrived at Dorvel's house.  Press Q, to hear your first task.");

        bot.explore();
        EXPECT_EQ(bot.itemCount(), 51u);

        for (int number = 1; number <= 40; ++number) {
            SCOPED_TRACE("task " + std::to_string(number));
            const std::size_t soundsBefore = bot.sounds().size();
            const auto after = bot.playTask(number);
            // The chime sounds once, before the words that follow the task.
            EXPECT_EQ(bot.sounds().size(), soundsBefore + 1);
            if (bot.sounds().size() > soundsBefore) {
                EXPECT_EQ(bot.sounds().back(), home.path() + "/sounds/award.wav");
            }
            ASSERT_EQ(after.size(), 1u) << "after task " << number << ": " << ::testing::PrintToString(after);
            if (number < 40) {
                const std::size_t pairs = number <= 10 ? 1 : number <= 30 ? 2 : 3;
                bot.takeCompletion(number, after[0], pairs);
            } else {
                EXPECT_EQ(after[0], "Congradulations, you have won!  Use the arrow keys to hear your final message.");
            }
        }
        EXPECT_EQ(bot.pairCount(), 10u * 1 + 20u * 2 + 9u * 3);

        // The ending story, page by page, and back to the main menu.
        for (std::size_t page = 0; page < 9; ++page) EXPECT_EQ(bot.menuKey(40), endingpages[page]) << "page " << page + 1;
        EXPECT_TRUE(endsWith(endingpages[8], "Game over."));
        EXPECT_EQ(bot.menuKey(40), "Return to the main menu.");
        EXPECT_EQ(bot.menuKey(13), "Main menu");
        EXPECT_EQ(bot.menuKey(40), "How to play");
        EXPECT_EQ(bot.menuKey(40), "Play the game");
        EXPECT_EQ(bot.menuKey(40), "Save current game");
        EXPECT_EQ(bot.menuKey(40), "Load game");
        EXPECT_EQ(bot.menuKey(40), "Exit the game");
        game.send("key 13");
        // Nothing more is said; the game ends by itself, with its input still open.
        while (const auto line = game.line()) EXPECT_FALSE(startsWith(*line, "say: ")) << *line;
        status = game.wait();
    } catch (const BotFailure& failure) {
        FAIL() << failure.what << "\nlast lines from the game:\n" << tail(game.transcript, 25);
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(driver::readBytes(home.file("progress.ini")).value_or("<none>"), " 1 \r\n 3 \r\n 40 \r\n");

    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    std::cout << "[ e2e ] seed " << seed << ": 40 tasks (" << bot.retried() << " needed another guess), "
              << game.transcript.size() << " lines heard, " << ms << " ms\n";
    EXPECT_LT(ms, 60000);
}

// Seed 27 gives tasks whose words, once changed, also name another item: the bot must guess again.
TEST(EndToEnd, ABotPlaysWholeGamesByEar) {
    for (const char* seed : {"7", "27"}) {
        SCOPED_TRACE(std::string("seed ") + seed);
        playWholeGame(seed);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace tw::e2e
