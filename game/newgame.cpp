// game/newgame.cpp: a fresh game: the house, the items in their starting places, the word pool.
#include <initializer_list>
#include <iterator>

#include "game/form1.h"
#include "game/text.h"
#include "platform/files.h"

namespace tw {

namespace {

struct RoomRow {
    const char* name;
    std::initializer_list<const char*> spots;
};

const RoomRow kRooms[kMaxRooms] = {
    {"Living room", {"on the floor", "on the sofa", "under the TV"}},
    {"Dining room", {"under the table", "on the table", "on the shelf"}},
    {"Kitchen", {"in the refrigerator", "on the counter", "in the sink", "on the floor", "in the cabinet"}},
    {"Hallway", {"in the closet", "on the floor"}},
    {"Bathroom", {"on the shelf", "in the shower", "on the floor"}},
    {"Bedroom", {"on the floor", "on the bed", "under the bed", "in the closet", "on the dresser", "in the dresser"}},
    {"Spare room", {"on the shelf", "in the cabinet", "on the floor", "in the closet"}},
    {"Family room",
     {"in the closet", "on the sofa", "on the floor", "under the TV", "on the dresser", "in the dresser"}},
    {"Laundry room", {"on the shelf", "on the floor"}},
    {"Computer room", {"on the shelf", "on the desk", "on the floor", "under the desk"}},
};

struct ItemRow {
    const char* name;
    int room;
    int spot;
};

const ItemRow kItems[] = {
    {"glass jar", 0, 0},
    {"toy mouse", 1, 1},
    {"cardboard box", 1, 1},
    {"backpack", 1, 2},
    {"cat", 1, 2},
    {"cable box", 1, 3},
    {"dog", 2, 1},
    {"camera", 2, 2},
    {"plastic cup", 2, 2},
    {"folder", 2, 3},
    {"glass dolphin", 2, 3},
    {"mustard", 3, 1},
    {"eggs", 3, 1},
    {"banana", 3, 2},
    {"bowl", 3, 3},
    {"dog dish", 3, 4},
    {"cup", 3, 5},
    {"winter coat", 4, 1},
    {"vacuum cleaner", 4, 1},
    {"dog bone", 4, 2},
    {"mouth wash", 5, 1},
    {"tooth brush", 5, 1},
    {"shampoo", 5, 2},
    {"rug", 5, 3},
    {"pair of pants", 6, 1},
    {"pillow", 6, 2},
    {"blanket", 6, 2},
    {"shoes", 6, 3},
    {"coat hangers", 6, 4},
    {"alarm clock", 6, 5},
    {"socks", 6, 6},
    {"books", 7, 1},
    {"hot glue gun", 7, 2},
    {"yoga ball", 7, 3},
    {"skate board", 7, 3},
    {"spring jacket", 7, 4},
    {"suitcase", 8, 1},
    {"folded shirt", 8, 2},
    {"wooden trunk", 8, 3},
    {"DVD movies", 8, 4},
    {"picture frame", 8, 5},
    {"sewing kit", 8, 6},
    {"laundry detergent", 9, 1},
    {"old keyboards", 9, 1},
    {"paint can", 9, 1},
    {"laundry basket", 9, 2},
    {"lego ships", 10, 1},
    {"computer monitor", 10, 2},
    {"box of cables", 10, 2},
    {"stacks of CDs", 10, 3},
    {"power supply", 10, 4},
};

}  // namespace

bool hasprogress(const GameState& game) {
    if (game.questsdone > 0 || game.swapcount > 0) return true;
    // A house of its own (a save made elsewhere) or an item moved from its starting place.
    if (game.itemcount != static_cast<int>(std::size(kItems))) return true;
    for (int i = 1; i <= game.itemcount; ++i)
        if (game.itemroom[i] != kItems[i - 1].room || game.itemspot[i] != kItems[i - 1].spot) return true;
    return false;
}

void Form1::newgame() {
    curroom = rnd.draw(10);
    curspot = 0;
    curitem = 0;
    roomcount = 10;
    for (int r = 1; r <= kMaxRooms; ++r) {
        const RoomRow& row = kRooms[r - 1];
        roomname[r] = row.name;
        spotcount[r] = static_cast<int>(row.spots.size());
        int s = 0;
        for (const char* spot : row.spots) spotname[r][++s] = spot;
    }

    // A missing word list gives an empty pool; wordsok lets the caller tell the player.
    List2.clear();
    // A player's own word list, beside their saved games, wins over the one that ships.
    const std::string own = playerpath("words.txt");
    const auto words = readTextFile(files::isFile(own) ? own : shippedpath("words.txt"));
    wordsok = words.has_value();
    if (words)
        for (const std::string& word : *words)
            if (characters(word) <= kMaxWordLength) List2.push_back(word);

    itemcount = 0;
    for (const ItemRow& row : kItems) {
        ++itemcount;
        itemname[itemcount] = row.name;
        itemroom[itemcount] = row.room;
        itemspot[itemcount] = row.spot;
    }
    questsdone = 0;
    swapcount = 0;
    lastswaps.clear();
    setquest();
}

int Form1::helditem() const {
    int held = 0;
    for (int i = 1; i <= itemcount; ++i)
        if (itemroom[i] == 0) held = i;
    return held;
}

int Form1::itematspot(int room, int spot, int n) const {
    int seen = 0;
    for (int i = 1; i <= itemcount; ++i) {
        if (itemroom[i] == room && itemspot[i] == spot && ++seen == n) return i;
    }
    return 0;
}

}  // namespace tw
