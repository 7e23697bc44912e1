// save/autosave.cpp: the automatic save of the game in progress.
#include "game/form1.h"
#include "save/savefile.h"

namespace tw {

void Form1::autosave() {
    if (curroom == 0) return;  // no game in progress
    std::string bytes;
    if (savedGameBytes(*this, bytes).ok) files::replace(programpath(kAutosaveFile), bytes);
}

}  // namespace tw
