// tests/fuzz/fuzz_progress.cpp: any bytes as progress.ini. Start-up keeps the defaults or takes
// values in range, and what it took is written and read back the same.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "game/form1.h"
#include "game/text.h"
#include "platform/headless/headless_platform.h"
#include "platform/silent_voice.h"
#include "tests/fuzz/fuzz_util.h"

const char* const tw::fuzz::kTarget = "fuzz_progress";

using tw::fuzz::fail;
using tw::fuzz::folder;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!tw::files::writeFresh(folder() + "/progress.ini", std::string(reinterpret_cast<const char*>(data), size)).ok)
        fail("cannot write the file");
    tw::HeadlessPlatform platform(folder());
    tw::Form1 form(platform);
    form.sapivoice = std::make_unique<tw::SilentVoice>();
    form.sapivoice->setRate(tw::kDefaultRate);
    form.speechmode = 1;
    form.jawsloaded = size % 2;
    const bool read = form.readprogress().ok;
    if (form.speechmode < 0 || form.speechmode > 3) fail("a speech path out of range");
    if (form.speechmode == 3 && form.jawsloaded != 1) fail("the reader's path without a reader");
    if (form.besttasks && (*form.besttasks < 0 || *form.besttasks > tw::kMaxTasksDone)) fail("a record out of range");
    if (!read) return 0;

    const int mode = form.speechmode, rate = form.sapivoice->Rate();
    const auto best = form.besttasks;
    if (!form.saveprogress().ok) fail("cannot write the settings back");
    form.speechmode = 1;
    form.sapivoice->setRate(0);
    form.besttasks.reset();
    if (!form.readprogress().ok) fail("the settings written cannot be read");
    if (form.speechmode != mode || form.sapivoice->Rate() != rate || form.besttasks != best)
        fail("the settings changed");
    return 0;
}
