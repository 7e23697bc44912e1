// tests/e2e_test.cpp: a bot plays a whole game through the real headless binary, choosing every key only from what it
// hears.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "driver_util.h"
#include "game/ending.h"

namespace tw::e2e {
namespace {

using Texts = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// Throws when the bot hears something it cannot make sense of.
void expect(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what);
}

bool separator(char c) { return c == ' ' || c == '.' || c == ',' || c == '!'; }

// How Dorvel now says a text: each whole word, case-blind, goes through the pairs in the order
// they were announced, each working on the word as changed so far.
std::string dorvelSays(const std::string& text, const Pairs& pairs) {
    static const std::regex separators("[ .,!]");
    std::string out;
    for (std::sregex_token_iterator it(text.begin(), text.end(), separators, {-1, 0}), end; it != end; ++it) {
        std::string piece = *it;  // a word or a separator
        for (const auto& [from, to] : pairs)
            if (::strcasecmp(piece.c_str(), from.c_str()) == 0) piece = to;
        out += piece;
    }
    return out;
}

// Whether needle stands in text as whole words.
bool hasWholeWords(std::string text, std::string needle) {
    for (std::string* s : {&text, &needle}) std::replace_if(s->begin(), s->end(), separator, ' ');
    return !needle.empty() && (" " + text + " ").find(" " + needle + " ") != std::string::npos;
}

// The part of text between head and tail, which must both be there.
std::string between(const std::string& text, const std::string& head, const std::string& tail) {
    expect(text.size() > head.size() + tail.size() && text.starts_with(head) && text.ends_with(tail), "heard: " + text);
    return text.substr(head.size(), text.size() - head.size() - tail.size());
}

using Place = std::pair<int, int>;  // room (0: in the hand), spot

// The game as a child process, key commands in and output lines out, and a player who knows
// only what it has heard.
struct Bot {
    Bot(const std::string& home, const char* seed) {
        std::signal(SIGPIPE, SIG_IGN);
        expect(::pipe2(in_, O_CLOEXEC) == 0 && ::pipe2(out_, O_CLOEXEC) == 0 && (pid_ = ::fork()) >= 0, "cannot start");
        if (pid_ == 0 && ::dup2(in_[0], 0) == 0 && ::dup2(out_[1], 1) == 1 && ::chdir(home.c_str()) == 0)
            ::execl(TW_EXE, TW_EXE, "--headless", "--seed", seed, "--home", home.c_str(), static_cast<char*>(nullptr));
        if (pid_ == 0) ::_exit(127);
        ::close(in_[0]);
        ::close(out_[1]);
    }
    ~Bot() {
        ::close(in_[1]);
        ::close(out_[0]);
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    }
    void send(int code) { command("key " + std::to_string(code)); }
    // A command line for the driver; every one is also kept in script, so the game can be
    // played again elsewhere (the Windows build) from the same lines.
    void command(const std::string& line) {
        const std::string data = line + "\n";
        script += data;
        expect(::write(in_[1], data.data(), data.size()) == static_cast<ssize_t>(data.size()),
               "the game stopped reading keys");
    }
    // Enter on a menu entry that asks for a name, and the name; what was said then.
    Texts answer(const std::string& name, std::size_t says) {
        send(13);
        command("type " + name);
        return menu({}, says);
    }
    // Saves the game under name and loads it straight back, from the house, back in the house.
    void saveAndLoad(const std::string& name) {
        const Texts open = {"Main menu", "How to play", "Play the game", "Save current game"};
        expect(menu({27, 40, 40, 40}) == open, "the main menu");
        expect(answer(name, 1) == Texts{"Game saved as " + name + ".  Press escape to return to the game."},
               "saving as " + name);
        expect(menu({40, 40, 40, 40}).back() == "Load game", "the load entry");
        const Texts loaded = answer(name, 2);
        expect(loaded.size() == 2 && loaded[0].starts_with("Saved games: ") &&
                   loaded[1] == "Game loaded.  Press escape to enter to the game.",
               "loading " + name + ": " + ::testing::PrintToString(loaded));
        expect(menu({27}) == Texts{"Menu closed"}, "closing the menu");
    }
    // The next output line, read byte by byte; nothing once the output has ended.
    std::optional<std::string> line() {
        std::string text;
        for (char c = 0; c != '\n'; text += c) {
            pollfd p{out_[0], POLLIN, 0};
            expect(::poll(&p, 1, 30000) > 0, "the game said nothing for 30 s");
            if (::read(out_[0], &c, 1) != 1) return text.empty() ? std::nullopt : std::optional(text);
        }
        transcript.push_back(text.substr(0, text.size() - 1));
        return transcript.back();
    }

    // Menu keys, one spoken text each, after `more` texts already due.
    Texts menu(const std::vector<int>& keys, std::size_t more = 0) {
        for (int code : keys) send(code);
        Texts said;
        while (said.size() < keys.size() + more) {
            const auto text = line();
            expect(text.has_value(), "the game ended in a menu");
            if (text->starts_with("say: ")) said.push_back(text->substr(5));
        }
        return said;
    }

    // House keys, then C, whose answer (or, once the ending has opened, its last entry) closes the
    // answers and goes to hand_: what was said before it, and the sounds among it.
    Texts house(const std::vector<int>& keys) {
        for (int code : keys) send(code);
        send('C');
        for (Texts said;;) {
            const auto text = line();
            expect(text && said.size() <= keys.size() + 4, "no answer to C after " + ::testing::PrintToString(said));
            if (text->starts_with("sound: ")) said.push_back(*text);
            if (!text->starts_with("say: ")) continue;
            hand_ = text->substr(5);
            if (hand_ == "Return to the main menu." || hand_.starts_with("You are holding the ")) return said;
            said.push_back(hand_);
        }
    }

    // Goes to a place and hears the room, the spot and its items, in key order; false when the
    // room has no such spot.
    bool look(const Place& p, Texts& items) {
        const Texts said =
            house({p.first == 10 ? '0' : '0' + p.first, "WERTYUI"[p.second - 1], 'A', 'S', 'D', 'F', 'G', 'H', 'J'});
        expect(said.size() == 9, "walking gave " + ::testing::PrintToString(said));
        roomName_[p.first] = between(said[0], "You're in ", ".");
        if (said[1].empty()) return false;
        phrase_[p] = between(said[1], "You look ", ", in the " + roomName_[p.first]);
        items.clear();
        for (int n = 2; n < 9 && !said[n].empty(); ++n)
            items.push_back(between(said[n], "You see the ", " " + phrase_[p] + "."));
        return true;
    }

    // Learns the hand, and every room, spot and item.
    void explore() {
        expect(house({}).empty(), "C said more");
        held_ = between(hand_, "You are holding the ", ".");
        where_[held_] = {0, 0};
        Texts items;
        for (int room = 1; room <= 10; ++room)
            for (int spot = 1; spot <= 7 && look({room, spot}, items); ++spot)
                for (const auto& item : items) where_[item] = {room, spot};
    }

    // Takes the wanted item (none: the first) at a place for the one in the hand, checking that
    // everything there is where the bot left it; returns what followed the exchange.
    Texts swapAt(const Place place, const std::string& wanted) {
        Texts items;
        expect(look(place, items) && !items.empty(), "nothing to take " + phrase_[place]);
        std::size_t n = 0;
        for (std::size_t k = items.size(); k > 0; --k) {
            expect(where_.count(items[k - 1]) && where_[items[k - 1]] == place,
                   "the " + items[k - 1] + " was not left there");
            if (wanted.empty() || items[k - 1] == wanted) n = k;
        }
        expect(n > 0, "the " + wanted + " is not where the bot left it");
        const Texts said = house({"ASDFGHJ"[n - 1], 13});
        const std::string swapped =
            "You have set the " + held_ + " down " + phrase_[place] + ", and picked up the " + items[n - 1] + ".";
        expect(said.size() >= 2 && said[1] == swapped,
               "expected [" + swapped + "], heard " + ::testing::PrintToString(said));
        expect(hand_ == "You are holding the " + items[n - 1] + "." || hand_ == "Return to the main menu.",
               "C gave: " + hand_);
        where_[held_] = place;
        held_ = items[n - 1];
        where_[held_] = {0, 0};
        return Texts(said.begin() + 2, said.end());
    }

    // Hears the task and decodes it: a place whose words (as Dorvel now says them) end the task, and
    // an item whose words stand in the rest; tries the next guess while nothing completes.
    Texts playTask(int number) {
        const Texts heard = house({'Q'});
        expect(heard.size() == 1, "Q gave: " + ::testing::PrintToString(heard));
        const std::string& task = heard[0];
        for (const auto& [place, phrase] : phrase_) {
            const std::string tail = " " + dorvelSays(phrase + ", in the " + roomName_[place.first] + ".", pairs_);
            for (const auto& [item, at] : where_) {
                if (!task.ends_with(tail) || item == held_ || at == place) continue;
                if (!hasWholeWords(task.substr(0, task.size() - tail.size()), dorvelSays(item, pairs_))) continue;
                expect(swapAt(at, item).empty(), "picking up the " + item + " did more");
                if (Texts after = swapAt(place, ""); !after.empty()) return after;
            }
        }
        throw std::runtime_error("cannot decode task " + std::to_string(number) + ": " + task);
    }

    // Reads the word changes of a completion message, which must be in their exact form.
    void takeCompletion(int number, const std::string& message) {
        const int count = number <= 10 ? 1 : number <= 30 ? 2 : 3;
        std::string form = "You have completed " +
                           (number == 1 ? "your first task" : std::to_string(number) + " tasks") +
                           "\\.  Dorvel has gone a little bit more insane\\.  ";
        for (int k = 1; k <= count; ++k)
            form += std::string(k > 1 && k == count ? "And the" : "The") +
                    " word, (.+?), will now be replaced with, (.+?)" + (k > 1 && k == count ? "\\." : "\\.  ");
        std::smatch m;
        expect(std::regex_match(message, m, std::regex(form + "  Press Q, to hear your next task\\.")),
               "changes: " + message);
        for (int k = 1; k <= count; ++k) pairs_.push_back({m[2 * k - 1], m[2 * k]});
    }

    Texts transcript;
    std::string script;
    pid_t pid_ = -1;
    int in_[2] = {-1, -1}, out_[2] = {-1, -1};
    std::string hand_, held_, roomName_[11];
    std::map<std::string, Place> where_;
    std::map<Place, std::string> phrase_;
    Pairs pairs_;
};

// The bot guesses, and guesses again when an exchange completes nothing (with seed 27, in many of the tasks).
TEST(EndToEnd, ABotPlaysAWholeGameByEar) {
    driver::TempDir home;
    driver::writeBytes(home.file("words.txt"), driver::readBytes(TW_GAME_DIR "/words.txt").value_or(""));
    Bot bot(home.path(), "27");
    try {
        EXPECT_EQ(bot.menu({40, 40, 13}, 1),
                  (Texts{"Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu.", "How to play", "Play the game",
                         "You have arrived at Dorvel's house.  Press Q, to hear your first "
                         "task."}));
        bot.explore();
        EXPECT_EQ(bot.where_.size(), 51u);
        for (int number = 1; number <= 40; ++number) {
            // The chime sounds once, between the exchange and the words that follow it.
            const Texts after = bot.playTask(number);
            ASSERT_EQ(after.size(), 2u) << "task " << number << ": " << ::testing::PrintToString(after);
            EXPECT_EQ(after[0], "sound: " + home.path() + "/sounds/award.wav");
            if (number < 40)
                bot.takeCompletion(number, after[1]);
            else
                EXPECT_EQ(after[1], "Congradulations, you have won!  Use the arrow keys to hear your final message.");
            // Saved and loaded back now and then, under names that are not plain ASCII: the game
            // goes on as it was.
            if (number % 10 == 0 && number < 40) bot.saveAndLoad("après " + std::to_string(number));
        }
        EXPECT_EQ(bot.pairs_.size(), 10u * 1 + 20u * 2 + 9u * 3);
        // The ending story page by page, back to the main menu, and Exit.
        Texts ending(endingpages.begin(), endingpages.end());
        ending.insert(ending.end(), {"Return to the main menu.", "Main menu", "Exit the game"});
        EXPECT_EQ(bot.menu({40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 13, 38}), ending);
        bot.send(13);
        // Nothing more is said; the game ends by itself, with its input still open.
        while (const auto line = bot.line()) EXPECT_FALSE(line->starts_with("say: ")) << *line;
        int status = -1;
        EXPECT_TRUE(::waitpid(std::exchange(bot.pid_, -1), &status, 0) > 0 && WIFEXITED(status) &&
                    WEXITSTATUS(status) == 0)
            << status;
    } catch (const std::runtime_error& failure) {
        const auto& heard = bot.transcript;
        FAIL() << failure.what() << "\nthe last lines from the game: "
               << ::testing::PrintToString(
                      Texts(heard.end() - std::min<std::ptrdiff_t>(25, std::ssize(heard)), heard.end()));
    }
    EXPECT_EQ(driver::readBytes(home.file("progress.ini")).value_or("<none>"), " 1 \r\n 3 \r\n 40 \r\n");
    // The keys the bot chose, for playing the same game elsewhere.
    if (const char* keep = std::getenv("TW_E2E_SCRIPT")) driver::writeBytes(keep, bot.script);
}

}  // namespace
}  // namespace tw::e2e
