// tests/fuzz/fuzz_load.cpp: any bytes offered as a saved game. Refused with a reason, or loaded
// into a game that saves back to the same bytes and that no keys can hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "game/form1.h"
#include "game/text.h"
#include "platform/headless/headless_platform.h"
#include "save/savefile.h"
#include "tests/fuzz/fuzz_util.h"

const char* const tw::fuzz::kTarget = "fuzz_load";

namespace {

using tw::fuzz::fail;

// The play keys, the information keys (but Q, which writes a file) and the jump key.
constexpr int kKeys[] = {'1', '2', '3', '0', 'W', 'E', 'R', 'I', 'A', 'S', 'D', 'J', 13, 13, 'Z', 'V', 'B', 192};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > tw::kMaxSaveBytes) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto state = std::make_unique<tw::GameState>();
    if (const tw::Outcome read = tw::readSavedGame(bytes, *state); !read.ok) {
        if (read.why.empty()) fail("refused without a reason");
        return 0;
    }
    std::string saved, again;
    if (!tw::savedGameBytes(*state, saved).ok) fail("a loaded game cannot be saved");
    auto reloaded = std::make_unique<tw::GameState>();
    if (!tw::readSavedGame(saved, *reloaded).ok) fail("a saved game cannot be loaded back");
    if (!tw::savedGameBytes(*reloaded, again).ok || again != saved) fail("saving again gives other bytes");

    // Keys, chosen by the input's own bytes, played on the loaded game: every state they reach
    // must keep exactly one item in the hand and let the next task be chosen.
    tw::HeadlessPlatform platform("/nonexistent-tumblewick-folder");
    tw::Form1 form(platform);
    static_cast<tw::GameState&>(form) = *state;
    form.speechmode = 1;
    form.menu = 0;
    form.rnd.seed(size);
    for (std::size_t i = 0; i < 300; ++i) {
        const int code = kKeys[(i < size ? data[i] : i * 7) % (sizeof kKeys / sizeof kKeys[0])];
        platform.queueKey(code, code == 192 ? 2 : 0);
        for (platform.doEvents(); !platform.idle(); platform.doEvents()) platform.waitEvents();
        platform.events.clear();
        int held = 0;
        for (int item = 1; item <= form.itemcount; ++item) held += form.itemroom[item] == 0;
        if (held != 1) fail("not exactly one item in the hand");
        if (form.menu != 0) break;  // the game was won: the ending story opened
    }
    return 0;
}
