// tests/faults_test.cpp: files and states from outside that once hung the game, lost data or
// ended it in silence, each answered now.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "driver_util.h"
#include "form_fixture.h"
#include "game/form1.h"
#include "game/text.h"
#include "platform/files.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using driver::DriverDirs;
using driver::readBytes;
using driver::writeBytes;

using DriverRun = DriverDirs::Ended;
DriverRun runDriver(const DriverDirs& dirs, const std::string& input) { return dirs.launch(input, "--seed 1"); }

// From the main menu: "Play the game".
const std::string kPlay = "key Down Down Enter\n";

void copyWords(const DriverDirs& dirs) { fs::copy_file(TW_GAME_DIR "/words.txt", dirs.homeFile("words.txt")); }

// Whatever a state holds, choosing a task returns; with no task possible the old one stays.
TEST(Faults, ChoosingATaskEndsEvenWhereNoneExists) {
    testing::HeadlessGame game(testing::shippedFolder());
    Form1& f = game.form;
    f.newgame();
    f.roomcount = 1;
    f.spotcount[1] = 1;
    for (int i = 1; i <= f.itemcount; ++i) f.itemroom[i] = f.itemspot[i] = i == 1 ? 0 : 1;
    f.questitem = 2, f.questroom = 1, f.questspot = 1;
    f.setquest();
    EXPECT_EQ(std::tie(f.questitem, f.questroom, f.questspot), std::tuple(2, 1, 1));
    // One item elsewhere: found by the search after the bounded draws if need be.
    f.itemroom[5] = 3, f.itemspot[5] = 1;
    f.setquest();
    EXPECT_EQ(std::tie(f.questitem, f.questroom, f.questspot), std::tuple(5, 1, 1));
}

TEST(Faults, SettingsThatCannotBeKeptAreToldBeforeTheEnd) {
    DriverDirs dirs;
    fs::create_directory(dirs.homeFile("progress.ini"));  // nothing can be renamed over a folder
    const DriverRun run = runDriver(dirs, "key Up Enter\n");
    EXPECT_EQ(run.status, 0);
    const std::string told =
        "say: Your speech settings and record could not be saved in progress.ini: is a directory.\n";
    const auto at = run.out.find(told);
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("say: ", at + 1), std::string::npos);  // the last word before the end
    // No temporary file left behind.
    EXPECT_EQ(driver::entries(dirs.home), (std::set<std::string>{"progress.ini"}));
}

// Nothing planted at the automatic save's name hangs the game or passes in silence: a FIFO is
// refused without waiting, and an automatic save that cannot be written is told once.
TEST(Faults, AutomaticSavesThatCannotBeHadAreToldAndNeverWaitedOn) {
    DriverDirs dirs;
    copyWords(dirs);
    ASSERT_EQ(mkfifo(dirs.homeFile(".autosave").c_str(), 0644), 0);
    const std::string load = "key Down Down Down Enter\ntype\n";
    DriverRun run = runDriver(dirs, load);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("say: There are no saved games yet.\n"), std::string::npos) << run.out;

    fs::remove(dirs.homeFile(".autosave"));
    fs::create_directory(dirs.homeFile(".autosave"));
    // Three automatic saves (the new game, a task-less move, the exit) fail; the first is told.
    run = runDriver(dirs, kPlay + "key Escape Up Enter\n");
    const std::string told = "say: Your game could not be kept automatically: is a directory.\n";
    const auto at = run.out.find(told);
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(told, at + 1), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("kept as your last game"), std::string::npos) << run.out;
}

TEST(Faults, AStartThatCannotWriteItsLogSaysWhyAndFails) {
    DriverDirs dirs;
    fs::create_directory(dirs.run + "/debuglog.txt");
    const DriverRun run = runDriver(dirs, "key Enter\n");
    const std::string why =
        "Tumblewick cannot start: debuglog.txt cannot be written in the current folder: Is a directory.";
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, why + "\n");
    EXPECT_EQ(run.out, "box: " + why + "\n");
}

TEST(Faults, PlantedLinksAreReplacedNeverWrittenThrough) {
    DriverDirs dirs;
    copyWords(dirs);
    const std::string outside = dirs.root.file("precious");
    writeBytes(outside, "keep me");
    for (const std::string& link : {dirs.homeFile("lasttask.txt"), dirs.homeFile("progress.ini"),
                                    dirs.run + "/debuglog.txt", dirs.run + "/myversion.txt"})
        fs::create_symlink(outside, link);
    fs::remove(dirs.homeFile("progress.ini"));
    fs::create_symlink(dirs.root.file("nothing-here"), dirs.homeFile("progress.ini"));
    const DriverRun run = runDriver(dirs, kPlay + "key Q Escape Up Enter\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readBytes(outside), "keep me");
    EXPECT_FALSE(fs::exists(dirs.root.file("nothing-here")));
    for (const std::string& file : {dirs.homeFile("lasttask.txt"), dirs.homeFile("progress.ini"),
                                    dirs.run + "/debuglog.txt", dirs.run + "/myversion.txt"}) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file))) << file;
    }
    EXPECT_EQ(readBytes(dirs.run + "/myversion.txt"), "0.6b\r\n");
}

// A process id that no process has: a child that has been reaped.
long deadPid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return static_cast<long>(child);
}

TEST(Faults, LeftoversOfDeadSavesGoLiveOnesStayAndLongNamesWork) {
    DriverDirs dirs;
    copyWords(dirs);
    const std::string dead = ".tumblewick-" + std::to_string(deadPid()) + ".tmp";
    const std::string live = ".tumblewick-" + std::to_string(static_cast<long>(getpid())) + ".tmp";
    for (const std::string& name : {dead, live, std::string(".tumblewick-x.tmp")})
        writeBytes(dirs.homeFile(name), "part");
    const std::string longName(255, 'n');
    const DriverRun run = runDriver(dirs, kPlay + "key Escape Down Down Down Enter\ntype " + longName + "\n");
    EXPECT_NE(run.out.find("say: Game saved as " + longName + ".  Press escape to return to the game.\n"),
              std::string::npos)
        << run.out;
    EXPECT_FALSE(fs::exists(dirs.homeFile(dead)));
    EXPECT_TRUE(fs::exists(dirs.homeFile(live)));
    EXPECT_TRUE(fs::exists(dirs.homeFile(".tumblewick-x.tmp")));  // not a name of ours
    EXPECT_TRUE(fs::exists(dirs.homeFile(longName)));
}

// Each step of a save that fails keeps the old file whole and leaves no temporary file; a
// failure to sync the folder after the rename is told although the new file is in place.
TEST(Faults, EveryFailingStepOfASaveKeepsTheOldFile) {
    testing::ScratchFolder folder;
    for (const files::Step step : {files::Step::open, files::Step::write, files::Step::sync, files::Step::close,
                                   files::Step::rename, files::Step::syncFolder}) {
        SCOPED_TRACE(static_cast<int>(step));
        folder.write("game", "old");
        files::setFaultForTests([step](files::Step now) { return now == step; });
        const Outcome done = files::replace(folder.file("game"), "new");
        files::setFaultForTests(nullptr);
        EXPECT_FALSE(done.ok);
        EXPECT_EQ(done.why, "Input/output error");
        EXPECT_EQ(readBytes(folder.file("game")), step == files::Step::syncFolder ? "new" : "old");
        EXPECT_EQ(driver::entries(folder.path()), (std::set<std::string>{"game"}));
    }
}

}  // namespace
}  // namespace tw
