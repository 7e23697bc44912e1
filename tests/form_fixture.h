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
#include "platform/headless/headless_platform.h"

namespace tw::testing {

// A fresh folder under the system temp folder, removed with everything in it at the end.
struct ScratchFolder {
    ScratchFolder() {
        if (::mkdtemp(path.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << path;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }
    void write(const std::string& name, std::string_view bytes) const {
        std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
        ASSERT_TRUE(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())))
            << "cannot write " << file(name);
    }

    std::string path = (std::filesystem::temp_directory_path() / "tw_form_XXXXXX").string();
};

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
