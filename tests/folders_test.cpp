// tests/folders_test.cpp: a player folder that cannot be had, and a player's own word list.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/folders.h"
#include "tests/form_fixture.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

// Where the player folder cannot be had, the reason says why. (An installed copy, read-only or
// not, a portable one and XDG_DATA_HOME are played by tests/install_test.sh.)
TEST(Folders, APlayerFolderThatCannotBeHadIsToldWhy) {
    ScratchFolder program, data;
    GameFolders folders;
    program.write(kInstalledMarker, "installed\n");
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

// A player's own word list, beside their saved games, wins over the one that shipped.
TEST(Folders, ThePlayersOwnWordListWins) {
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
}

}  // namespace
}  // namespace tw
