// tests/form_fixture.h: shared helpers for the quest, swap, new-game and text tests: a scratch folder and a headless
// game.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "game/form1.h"
#include "tests/driver_util.h"
#include "platform/headless/headless_platform.h"

namespace tw::testing {

// The tests' one scratch folder: fresh, removed with everything in it at the end.
using ScratchFolder = driver::TempDir;

// A game on the headless platform whose program folder is `folder`; speech goes to the title path
// and is recorded by the platform.
struct HeadlessGame {
    explicit HeadlessGame(const std::string& folder) : platform(folder, nullptr), form(platform) {
        form.speechmode = 1;
    }
    HeadlessPlatform platform;
    Form1 form;
};

// The scripted value that makes draw(n) give v (1..n), or position(n) give v - 1.
inline double forceDraw(int v, int n) { return (v - 0.5) / n; }

// The folder the build copies the shipped word list into.
inline std::string shippedFolder() { return TW_GAME_DIR; }

// A test with a game on the shipped files; `f` is its form.
class FormTest : public ::testing::Test {
protected:
    HeadlessGame game{shippedFolder()};
    Form1& f = game.form;
};

}  // namespace tw::testing
