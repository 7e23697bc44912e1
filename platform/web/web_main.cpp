// platform/web/web_main.cpp: runs the game in the page until the game ends it; the page hands
// in keys through tw_key.
#include <emscripten.h>

#include <cstdint>
#include <exception>
#include <string>

#include "app/run.h"
#include "platform/files.h"
#include "platform/web/web_platform.h"

namespace {

tw::WebPlatform* gPlatform = nullptr;

// clang-format off
// The page's ?seed=N, or -1.
EM_JS(double, js_seed, (), { return Module.twSeed === undefined ? -1 : Module.twSeed; });
EM_JS(void, js_ended, (int status, const char* why), { Module.twEnded(status, UTF8ToString(why)); });
// clang-format on

}  // namespace

extern "C" EMSCRIPTEN_KEEPALIVE void tw_key(int code, int shift) {
    if (gPlatform) gPlatform->pushKey(code, shift);
}

int main() {
    int status = 0;
    std::string why;
    {
        tw::WebPlatform platform;
        gPlatform = &platform;
        // The start-up log and the version file go where the player's files are kept.
        tw::files::enterFolder(tw::WebPlatform::kPlayerFolder);
        tw::Form1 form(platform);
        if (const double seed = js_seed(); seed >= 0) form.seedoverride = static_cast<std::uint64_t>(seed);
        try {
            status = tw::runGame(form);
        } catch (const std::exception& failure) {
            // The player may have no other way to learn why the game is gone.
            status = 1;
            why = std::string("Tumblewick has stopped: ") + failure.what();
        }
        gPlatform = nullptr;
    }
    js_ended(status, why.c_str());
    return status;
}
