// tests/game_state_match.h: compares two game states field by field and names the first difference.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "game/form1.h"

namespace tw {

// Every field of a saved game, whole arrays included; names the first difference.
inline ::testing::AssertionResult sameGame(const GameState& a, const GameState& b) {
    auto differ = [](const std::string& what) { return ::testing::AssertionFailure() << what << " differs"; };
    if (a.version != b.version) return differ("version");
    if (a.roomcount != b.roomcount) return differ("roomcount");
    for (int r = 0; r <= kMaxRooms; ++r) {
        if (a.roomname[r] != b.roomname[r]) return differ("roomname " + std::to_string(r));
        if (a.spotcount[r] != b.spotcount[r]) return differ("spotcount " + std::to_string(r));
        for (int s = 0; s <= kMaxSpots; ++s)
            if (a.spotname[r][s] != b.spotname[r][s])
                return differ("spotname " + std::to_string(r) + "," + std::to_string(s));
    }
    if (a.itemcount != b.itemcount) return differ("itemcount");
    for (int i = 0; i <= kMaxItems; ++i) {
        if (a.itemname[i] != b.itemname[i]) return differ("itemname " + std::to_string(i));
        if (a.itemroom[i] != b.itemroom[i]) return differ("itemroom " + std::to_string(i));
        if (a.itemspot[i] != b.itemspot[i]) return differ("itemspot " + std::to_string(i));
    }
    if (a.curroom != b.curroom) return differ("curroom");
    if (a.curspot != b.curspot) return differ("curspot");
    if (a.curitem != b.curitem) return differ("curitem");
    if (a.questitem != b.questitem) return differ("questitem");
    if (a.questroom != b.questroom) return differ("questroom");
    if (a.questspot != b.questspot) return differ("questspot");
    if (a.questtext != b.questtext) return differ("questtext");
    if (a.questsdone != b.questsdone) return differ("questsdone");
    if (a.swapcount != b.swapcount) return differ("swapcount");
    for (int k = 0; k <= kMaxSwaps; ++k) {
        if (a.swapfrom[k] != b.swapfrom[k]) return differ("swapfrom " + std::to_string(k));
        if (a.swapto[k] != b.swapto[k]) return differ("swapto " + std::to_string(k));
    }
    if (a.lastswaps != b.lastswaps) return differ("lastswaps");
    if (a.List1 != b.List1) return differ("List1");
    if (a.List2 != b.List2) return differ("List2");
    return ::testing::AssertionSuccess();
}

}  // namespace tw
