// game/form1.h: Form1, the one game object: every field of the game and its operations.
//
// Where each operation is defined:
//   app/progress.cpp     readprogress saveprogress playerpath shippedpath
//   app/startup.cpp      the constructor, Form_Load, Form_Activate, titletext
//   app/run.cpp          runGame: the load, the greeting, the events and the end, for every front end
//   game/newgame.cpp     newgame helditem itematspot
//   game/swapit.cpp      swapit                   words/swapmore.cpp   swapmore
//   game/youwin.cpp      youwin                   tasks/setquest.cpp   setquest questcheck taskfits
//   input/keydown.cpp    Form_KeyDown syntheticKeyDown dispatchkey runkey mainmenukeys pagemenukeys
//                        playgame exitgame
//   input/playkeys.cpp   housekeys enterkey taskcompleted
//   input/infokeys.cpp   infokeys questkey        input/speechkeys.cpp speechpathkey ratekey
//   input/prompts.cpp    saveprompt loadprompt savedgames savedgamestext typedahead
//   save/autosave.cpp    autosave keepGame        save/loadgame.cpp    loadgame
//   save/savegame.cpp    savegame                 speech/hold.cpp      hold Holder_Timer
//   speech/sayit.cpp     sayit sayafter setwindowtitle speakBox screenReaderSilent historykey
//                        runchordkeys loadjaws
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "game/random.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace tw {

constexpr int kMaxRooms = 10;
constexpr int kMaxSpots = 15;
constexpr int kMaxItems = 100;
constexpr int kMaxSwaps = 999;
constexpr int kTasksToWin = 40;
// The most tasks a saved game or progress.ini may claim: far above a game's forty, far below
// where counting on could overflow.
constexpr int kMaxTasksDone = 1000000;
// Seconds "Exit the game" waits so that a failure to keep the settings is heard in full.
constexpr double kUnsavedSettingsWait = 4.0;
// The automatic save of the game in progress, in the player folder: a name no player can type
// (it starts with a dot), offered and loaded as kAutosaveName.
constexpr const char* kAutosaveFile = ".autosave";
constexpr const char* kAutosaveName = "your last game";
// The game with progress that a new game or a load took the automatic save's place from.
constexpr const char* kEarlierFile = ".autosave-previous";
constexpr const char* kEarlierName = "your previous game";
// Added to what is said when a new game or a load moved a game with progress aside.
constexpr const char* kEarlierKept = "  Your last game is kept as your previous game.";
// Seconds "Exit the game" waits so that the sentence on the kept game is heard.
constexpr double kKeptWait = 2.0;
// How many things said the history keys can go back through.
constexpr std::size_t kHistorySize = 50;

// The part of the state a saved game holds. Arrays keep their index ranges (0 unused), so
// rooms, spots, items and pairs are addressed by the numbers the player and the files use.
struct GameState {
    std::string version;

    int roomcount = 0;
    std::array<std::string, kMaxRooms + 1> roomname{};
    std::array<int, kMaxRooms + 1> spotcount{};
    std::array<std::array<std::string, kMaxSpots + 1>, kMaxRooms + 1> spotname{};

    int itemcount = 0;
    std::array<std::string, kMaxItems + 1> itemname{};
    std::array<int, kMaxItems + 1> itemroom{};
    std::array<int, kMaxItems + 1> itemspot{};

    int curroom = 0;
    int curspot = 0;
    int curitem = 0;

    int questitem = 0;
    int questroom = 0;
    int questspot = 0;
    std::string questtext;
    int questsdone = 0;

    int swapcount = 0;
    std::array<std::string, kMaxSwaps + 1> swapfrom{};
    std::array<std::string, kMaxSwaps + 1> swapto{};
    std::string lastswaps;

    std::vector<std::string> List1;  // candidate words
    std::vector<std::string> List2;  // word pool
};

// True when a player would not want to lose the game: a task done, a word changed, or an item
// moved from where a new house puts it.
bool hasprogress(const GameState& game);

// The window timer used by hold: it tells the platform whenever it changes.
class HolderTimer {
public:
    explicit HolderTimer(Platform& platform) : platform_(platform) {}
    bool Enabled() const { return enabled_; }
    int Interval() const { return interval_; }
    void setEnabled(bool on) {
        enabled_ = on;
        arm();
    }
    void setInterval(int ms) {
        interval_ = ms;
        arm();
    }

private:
    void arm() { platform_.setTimer(enabled_ && interval_ > 0 ? interval_ : 0); }
    Platform& platform_;
    bool enabled_ = false;
    int interval_ = 0;
};

class Form1 : public GameState, public EventSink {
public:
    explicit Form1(Platform& platform);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Settings, menus and speech: never part of a saved game.
    std::optional<int> besttasks;  // empty until a task is completed or progress.ini gives one
    int menu = 0;
    int menupos = 0;
    int speechmode = 0;
    std::unique_ptr<Voice> sapivoice;
    std::unique_ptr<ScreenReaderApi> jawsobj;
    int jawsloaded = 0;
    int ignorekeys = 0;
    HolderTimer Holder;

    Random rnd;
    // Set by --seed: start-up seeds with this instead of the time of day.
    std::optional<std::uint64_t> seedoverride;
    // False when words.txt was missing or unreadable at the last newgame.
    bool wordsok = true;

    // Operations.
    Outcome saveprogress();
    Outcome savegame(const std::string& tempm);
    Outcome loadgame(const std::string& tempm);
    void sayit(const std::string& tempm);
    void hold(double seconds);
    void newgame();
    void setquest();
    int questcheck() const;
    bool taskfits(int item, int room, int spot) const;
    void swapmore();
    void swapit(std::string& tempm) const;
    void youwin();
    // Writes its one failure line through startuplog.
    void loadjaws(const std::function<void(const std::string&)>& startuplog);

    // Window events.
    void Form_Load();
    void Form_Activate();
    void Form_KeyDown(int KeyCode, int Shift) override;
    void syntheticKeyDown(int KeyCode, int Shift) override;
    void Holder_Timer() override;
    void speakBox(const std::string& text, bool promptSpoken) override;
    void screenReaderSilent() override;
    void keepGame() override;
    bool handlingKey() const override { return keydepth_ > 0 || ignorekeys != 0; }

    // Helpers shared by several operations.
    int helditem() const;                             // last item whose room is 0; 0 if none
    int itematspot(int room, int spot, int n) const;  // the n-th item at a place; 0 if none
    // A file the game writes or a player's own file: in the player folder, which is the
    // program's folder unless the copy is installed.
    std::string playerpath(const std::string& name) const;
    // A file that ships with the game, in the program's folder.
    std::string shippedpath(const std::string& name) const;
    // The saved games in the player folder, by name, sorted; and the sentence that lists them.
    std::vector<std::string> savedgames() const;
    std::string savedgamestext() const;
    // Reads progress.ini; a missing file is no failure, and the defaults stay.
    Outcome readprogress();
    // Keeps the game in progress, if there is one, in the automatic save, before anything
    // replaces or ends the game and after every task. A failure is told once (queued behind what
    // is being said) and the old automatic save stays.
    enum class Autosaved { nothing, written, earlierkept };
    Autosaved autosave();
    // Says tempm as sayit does, but after what the voice is saying instead of over it.
    void sayafter(const std::string& tempm);
    void setwindowtitle(const std::string& text);
    // "Tumblewick (v0.6b), by Dorvel", or without the author.
    std::string titletext(bool withAuthor) const;

    Platform& platform;

private:
    // The automatic save holds a game other than this one (from an earlier start, or the game a
    // new game or a load replaced): it is moved aside before this game is first written.
    bool lastisother_ = true;
    bool autosavetold_ = false;
    bool queuenext_ = false;
    // The path a stalled screen reader made the game leave, until the player picks one.
    int fellbackfrom_ = 0;
    // Completion-flow guard: keys pressed during its waits are held back and run afterwards.
    int flowdepth_ = 0;
    std::deque<std::pair<int, int>> heldkeys_;
    // The player's keys that came while sayit sent its own chord; run as soon as it is sent.
    std::deque<std::pair<int, int>> chordkeys_;
    void runchordkeys();
    // How many key handlers run inside one another now, and the keys that came while that was
    // as deep as it may go.
    static constexpr int kMaxKeyNesting = 8;
    int keydepth_ = 0;
    std::deque<std::pair<int, int>> deferredkeys_;
    void runkey(int KeyCode, int Shift);
    // The last things said (never the history keys' own answers), and the one the player is at.
    std::deque<std::string> history_;
    std::size_t historypos_ = 0;
    bool replaying_ = false;
    void historykey(int step);

    void dispatchkey(int KeyCode, int Shift);
    void mainmenukeys(int& KeyCode);
    void pagemenukeys(int& KeyCode, const std::string* pages, int pagecount, const char* lastlabel);
    void housekeys(int KeyCode, int Shift);
    void speechpathkey();
    void ratekey(int step);
    void playgame();
    void enterkey();
    void taskcompleted();
    void infokeys(int KeyCode);
    void questkey();
    std::optional<std::string> typedahead();
    void saveprompt();
    void loadprompt();
    void exitgame();
};

}  // namespace tw
