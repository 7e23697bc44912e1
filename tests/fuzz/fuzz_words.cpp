// tests/fuzz/fuzz_words.cpp: any bytes as words.txt, then a whole game of word swaps: the pairs
// and the candidate words keep their rules, and the game saves and loads back the same.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "game/form1.h"
#include "game/text.h"
#include "platform/headless/headless_platform.h"
#include "save/savefile.h"
#include "tests/fuzz/fuzz_util.h"

const char* const tw::fuzz::kTarget = "fuzz_words";

using tw::fuzz::fail;
using tw::fuzz::folder;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!tw::files::writeFresh(folder() + "/words.txt", std::string(reinterpret_cast<const char*>(data), size)).ok)
        fail("cannot write the file");
    tw::HeadlessPlatform platform(folder());
    tw::Form1 form(platform);
    form.speechmode = 1;
    form.rnd.seed(size);
    form.newgame();
    const std::size_t pool = form.List2.size();
    for (int done = 1; done < tw::kTasksToWin; ++done) {
        form.questsdone = done;
        form.setquest();
        form.swapmore();
        std::string heard = form.questtext;
        form.swapit(heard);
        platform.events.clear();
        if (form.swapcount > tw::kMaxSwaps) fail("too many pairs");
        if (form.List2.size() + static_cast<std::size_t>(form.swapcount) != pool) fail("a pool word lost or made");
        std::set<std::string> seen;
        for (const auto& word : form.List1)
            if (word.empty() || !seen.insert(tw::ucase(word)).second) fail("an empty or repeated candidate word");
    }
    std::string saved, again;
    if (!tw::savedGameBytes(form, saved).ok) fail("the game cannot be saved");
    auto loaded = std::make_unique<tw::GameState>();
    if (!tw::readSavedGame(saved, *loaded).ok || !tw::savedGameBytes(*loaded, again).ok || again != saved)
        fail("the game does not load back the same");
    return 0;
}
