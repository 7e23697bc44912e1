// app/progress.cpp: progress.ini, the speech settings and the record kept between runs.
#include <algorithm>

#include "game/form1.h"
#include "game/text.h"
#include "platform/files.h"

namespace tw {

std::string Form1::playerpath(const std::string& name) const { return platform.playerFolder() + "/" + name; }

std::string Form1::shippedpath(const std::string& name) const { return platform.programFolder() + "/" + name; }

Outcome Form1::saveprogress() {
    const std::vector<std::string> lines = {
        // The path the player chose, not the one a stalled reader forced.
        valueText(fellbackfrom_ ? fellbackfrom_ : speechmode),
        valueText(sapivoice ? sapivoice->Rate() : kDefaultRate),
        besttasks ? valueText(*besttasks) : std::string(),
    };
    // Replaced whole or not at all: a failed write keeps the previous settings.
    return files::replace(playerpath("progress.ini"), joinLines(lines));
}

Outcome Form1::readprogress() {
    const std::string path = playerpath("progress.ini");
    if (!files::isFile(path)) return {};
    const auto lines = readTextFile(path, kMaxSettingsBytes, kMaxSettingsLines);
    if (!lines) return Outcome::failed("progress.ini cannot be opened; the default settings are used");
    if (lines->size() < 3)
        return Outcome::failed("progress.ini has fewer than three lines; the default settings are used");
    const auto rate = fieldNumber(readField((*lines)[1]));
    if (!rate) return Outcome::failed("line 2 of progress.ini is not a number; the default settings are used");

    // A path the game does not know would make every message silent: keep the title path.
    const auto mode = fieldNumber(readField((*lines)[0]));
    speechmode = (mode && *mode >= 0 && *mode <= 3) ? static_cast<int>(*mode) : 1;
    if (speechmode == 3 && jawsloaded != 1) speechmode = 0;
    if (*rate >= -1000 && *rate <= 1000) sapivoice->setRate(std::clamp(static_cast<int>(*rate), kMinRate, kMaxRate));
    const auto best = fieldNumber(readField((*lines)[2]));
    if (best && *best >= 0 && *best <= kMaxTasksDone) besttasks = static_cast<int>(*best);
    return {};
}

}  // namespace tw
