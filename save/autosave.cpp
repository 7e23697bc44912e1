// save/autosave.cpp: the automatic save of the game in progress, and the one before it.
#include <memory>

#include "game/form1.h"
#include "game/text.h"
#include "save/savefile.h"

namespace tw {

namespace {

// The game the automatic save holds, if it holds one with progress: its bytes, to be kept.
bool progressIn(const std::string& path, std::string& bytes) {
    auto held = std::make_unique<GameState>();
    if (!readSaveFile(path, *held).ok || !hasprogress(*held)) return false;
    return files::readAll(path, bytes, kMaxSaveBytes).ok;
}

std::string lowerFirst(std::string why) {
    if (!why.empty() && why[0] >= 'A' && why[0] <= 'Z') why[0] = static_cast<char>(why[0] - 'A' + 'a');
    return why;
}

}  // namespace

// Between keys only: inside a key's handling (a completion's waits) the state is half made, and
// the key keeps the game itself when it is done.
void Form1::keepGame() {
    if (!handlingKey()) autosave();
}

Form1::Autosaved Form1::autosave() {
    if (curroom == 0) return Autosaved::nothing;  // no game in progress
    Autosaved done = Autosaved::written;
    Outcome kept;
    // The automatic save still holds another game: one with progress moves to the earlier place
    // before this game is written over it, so a fresh game never takes a played one's place.
    if (lastisother_) {
        std::string earlier;
        if (progressIn(playerpath(kAutosaveFile), earlier)) {
            kept = files::replace(playerpath(kEarlierFile), earlier);
            done = Autosaved::earlierkept;
        }
        if (kept.ok) lastisother_ = false;
    }
    std::string bytes;
    if (kept.ok) kept = savedGameBytes(*this, bytes);
    if (kept.ok) kept = files::replace(playerpath(kAutosaveFile), bytes);
    if (kept.ok) {
        autosavetold_ = false;
        return done;
    }
    // Told once, and again only after a success in between; the old automatic save stays whole.
    if (!autosavetold_) sayafter("Your game could not be kept automatically: " + lowerFirst(kept.why) + ".");
    autosavetold_ = true;
    return Autosaved::nothing;
}

}  // namespace tw
