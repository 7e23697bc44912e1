// save/savefile.h: the saved-game file as bytes: written from a game state, read back into one.
#pragma once

#include <string>
#include <string_view>

#include "game/form1.h"

namespace tw {

// Every byte of a saved game holding state. Failed when a count lies outside its array, since
// writing it would read past the array.
Outcome savedGameBytes(const GameState& state, std::string& bytes);

// Reads a saved game into out, which must be default-constructed, and checks that the game it
// holds can be played. Failed, with the reason in plain words, when it cannot; out is then
// unusable.
Outcome readSavedGame(std::string_view bytes, GameState& out);

// True when bytes, the start of a file, begin as a saved game does: a version line and the
// place and item count as numbers. A quick look before a file is read whole.
bool looksLikeSavedGame(std::string_view start);

// The saved game in a file, read as above; refused too when the file cannot be read or is larger
// than any saved game.
Outcome readSaveFile(const std::string& path, GameState& out);

}  // namespace tw
