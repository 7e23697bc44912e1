// save/savefile.h: the saved-game file as bytes: written from a game state, read back into one.
#pragma once

#include <string>
#include <string_view>

#include "game/form1.h"

namespace tw {

// Every byte of a saved game holding state. False, with why, when a count lies outside its
// array, since writing it would read past the array.
bool savedGameBytes(const GameState& state, std::string& bytes, std::string& why);

// Reads a saved game into out, which must be default-constructed, and checks that the game it
// holds can be played. False, with why in plain words, when it cannot; out is then unusable.
bool readSavedGame(std::string_view bytes, GameState& out, std::string& why);

}  // namespace tw
