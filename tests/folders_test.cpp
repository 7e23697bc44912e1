// tests/folders_test.cpp: where the game reads its shipped files and where it writes: the program
// folder, the installed marker, the player folder, and a player's own word list.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/folders.h"
#include "tests/form_fixture.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

TEST(Folders, TheProgramFolderIsHomeTheProgramsOwnOrShareBesideIt) {
    ScratchFolder root;
    fs::create_directories(root.file("usr/bin"));
    fs::create_directories(root.file("usr/share/tumblewick"));
    const std::string bin = root.file("usr/bin"), shared = root.file("usr/share/tumblewick");
    EXPECT_EQ(programFolderFor("", bin), bin);  // nothing anywhere: its own folder
    root.write("usr/share/tumblewick/words.txt", "word\r\n");
    EXPECT_EQ(programFolderFor("", bin), shared);
    root.write("usr/bin/words.txt", "word\r\n");
    EXPECT_EQ(programFolderFor("", bin), bin);  // a portable copy keeps its files beside it
    EXPECT_EQ(programFolderFor("/some/home", bin), "/some/home");
}

TEST(Folders, OnlyAnInstalledCopyWritesIntoThePlayerFolder) {
    ScratchFolder program, data;
    GameFolders folders;
    ASSERT_TRUE(resolveFolders(program.path(), data.file("a/b"), folders).ok);
    EXPECT_FALSE(folders.installed);
    EXPECT_EQ(folders.player, program.path());
    EXPECT_FALSE(fs::exists(data.file("a")));  // nothing made for a copy that does not need it

    program.write(kInstalledMarker, "installed\n");
    ASSERT_TRUE(resolveFolders(program.path(), data.file("a/b"), folders).ok);
    EXPECT_TRUE(folders.installed);
    EXPECT_EQ(folders.player, data.file("a/b/tumblewick"));
    EXPECT_TRUE(fs::is_directory(folders.player));                              // made, parents and all
    EXPECT_TRUE(resolveFolders(program.path(), data.file("a/b"), folders).ok);  // and found again

    const Outcome noHome = resolveFolders(program.path(), "", folders);
    EXPECT_FALSE(noHome.ok);
    EXPECT_NE(noHome.why.find("your home folder cannot be found"), std::string::npos) << noHome.why;
    data.write("file", "x");
    const Outcome blocked = resolveFolders(program.path(), data.file("file"), folders);
    EXPECT_FALSE(blocked.ok);
    EXPECT_EQ(blocked.why.rfind("The folder for your games, " + data.file("file/tumblewick") + ", cannot be made: ", 0),
              0u)
        << blocked.why;
    // A link where the folder should be, pointing nowhere, is told as what it is.
    fs::create_directories(data.file("c"));
    fs::create_directory_symlink(data.file("nowhere"), data.file("c/tumblewick"));
    const Outcome dangling = resolveFolders(program.path(), data.file("c"), folders);
    EXPECT_NE(dangling.why.find("it is a link to something that is not there"), std::string::npos) << dangling.why;
}

TEST(Folders, ThePlayerFolderTakesWhatTheGameWritesAndItsWordListWins) {
    ScratchFolder program, player;
    program.write("words.txt", "shipped\r\nlist\r\n");
    HeadlessPlatform platform(program.path());
    platform.player = player.path();
    Form1 form(platform);
    form.newgame();
    EXPECT_EQ(form.List2, (std::vector<std::string>{"shipped", "list"}));
    player.write("words.txt", "my\r\nown\r\nwords\r\n");
    form.newgame();
    EXPECT_EQ(form.List2, (std::vector<std::string>{"my", "own", "words"}));
    EXPECT_TRUE(form.savegame("kept").ok);
    EXPECT_TRUE(form.saveprogress().ok);
    EXPECT_TRUE(fs::exists(player.file("kept")) && fs::exists(player.file("progress.ini")));
    EXPECT_EQ(form.savedgames(), (std::vector<std::string>{"kept"}));
    EXPECT_TRUE(form.loadgame("kept").ok);
    // The program's folder keeps only what shipped.
    EXPECT_EQ(driver::entries(program.path()), (std::set<std::string>{"words.txt"}));
}

}  // namespace
}  // namespace tw
