// tests/startup_test.cpp: a start-up with no speech engine: the log says why, and the game greets
// through the title.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver_util.h"
#include "game/form1.h"
#include "platform/headless/headless_platform.h"

namespace tw {
namespace {

using driver::readBytes;

const std::string kGreeting = "Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu.";
const std::string kFirstTitle = "title: Tumblewick (v0.6b), by Dorvel";
const std::string kLogHead = "Dorvel disabled DirectSound in this version.\r\nLoading JAWS Api\r\n";
const std::string kLogRest = "Sound finished.\r\nVersion is 0.6b\r\nSapi is set to 1\r\nLoading settings/progress\r\n";
const std::string kNoReader = "error: no screen reader answers\r\n";

TEST(Startup, MissingVoiceIsLoggedAndTheGameGreetsThroughTheTitle) {
    driver::TempDir dir;
    driver::ScopedCwd cwd(dir.path());
    HeadlessPlatform platform(dir.path());
    platform.voiceAvailable = false;
    Form1 form(platform);
    form.Form_Load();  // a ProcessEnded thrown here fails the test
    form.Form_Activate();
    EXPECT_EQ(readBytes(dir.file("debuglog.txt")).value_or(""),
              "Starting program\r\nerror: the speech engine is not available\r\n" + kLogHead + kNoReader + kLogRest +
                  "Startup finished.\r\n");
    EXPECT_EQ(platform.events, (std::vector<std::string>{kFirstTitle, "say: " + kGreeting, "title: " + kGreeting}));

    // On the voice path nothing is heard from the stand-in, and the rate keys still step it from 3.
    form.speechmode = 0;
    platform.events.clear();
    platform.queueKey(33);
    platform.doEvents();
    EXPECT_EQ(form.sapivoice->Rate(), 4);
    EXPECT_EQ(platform.events, (std::vector<std::string>{"say: Sapi faster.", "say: Exit the game"}));
}

}  // namespace
}  // namespace tw
