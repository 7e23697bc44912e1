// tasks/setquest.cpp: choosing the next task and phrasing it in Dorvel's words.
#include <array>

#include "game/form1.h"

namespace tw {

namespace {

enum class Relation { none, up, down, allup, alldown };

int level(int room) {
    if (room >= 1 && room <= 7) return 0;    // main level
    if (room == 8) return 1;                 // upstairs
    if (room == 9 || room == 10) return -1;  // downstairs
    return 2;
}

// How the target lies from the player's room; the item's own room plays no part.
Relation relation(int fromroom, int toroom) {
    const int from = level(fromroom);
    const int to = level(toroom);
    if (from == 2 || to == 2 || from == to) return Relation::none;
    if (from == 0) return to == 1 ? Relation::up : Relation::down;
    if (from == 1) return to == 0 ? Relation::down : Relation::alldown;
    return to == 0 ? Relation::up : Relation::allup;
}

const std::array<const char*, 9> kOpenings = {
    "To start you off, ",
    "I want you to ",
    "I need you to ",
    "Please ",
    "Take a minute to ",
    "When you have time, ",
    "When you get a minute, ",
    "The next thing I want you to do, is ",
    "The next thing I need you to do, is ",
};

// Plain fetch clauses 1..9: the verb, the word before the item's room, and whether the
// clause loses the item's room from 20 completed tasks on.
struct PlainClause {
    const char* verb;
    const char* from;
    bool shortens;
};
const std::array<PlainClause, 9> kPlain = {{
    {"go grab the ", " from the ", true},
    {"go grab the ", " from the ", false},
    {"go grab the ", " out of the ", false},
    {"grab the ", " from the ", true},
    {"grab the ", " from the ", false},
    {"grab the ", " out of the ", false},
    {"get the ", " from the ", true},
    {"get the ", " from the ", false},
    {"get the ", " out of the ", false},
}};

// Level fragments for phrase numbers 10..17, by relation: down, up, all the way down, all the way up.
const std::array<std::array<const char*, 4>, 8> kLevel = {{
    {"head downstairs and get the ", "head upstairs and get the ", "head all the way downstairs and get the ",
     "head all the way  upstairs and get the "},
    {"head down, and get the ", "head up, and get the ", "head all the way  down, and get the ",
     "head all the way  up, and get the "},
    {"head downstairs and grab the ", "head upstairs and grab the ", "head all the way  downstairs and grab the ",
     "head all the way  upstairs and grab the "},
    {"head down, and grab the ", "head up, and grab the ", "head all the way  down, and grab the ",
     "head all the way  up, and grab the "},
    {"go downstairs and get the ", "go upstairs and get the ", "go downstairs and get the ",
     "go upstairs and get the "},
    {"go down, and get the ", "go up, and get the ", "go down, and get the ", "go up, and get the "},
    {"go downstairs and grab the ", "go upstairs and grab the ", "go downstairs and grab the ",
     "go upstairs and grab the "},
    {"go down, and grab the ", "go up, and grab the ", "go down, and grab the ", "go up, and grab the "},
}};

const std::array<const char*, 4> kLeadIns = {", then put it ", ", then place it ", ", and put it ", ", and place it "};

int relationColumn(Relation r) {
    switch (r) {
        case Relation::down:
            return 0;
        case Relation::up:
            return 1;
        case Relation::alldown:
            return 2;
        case Relation::allup:
            return 3;
        case Relation::none:
            break;
    }
    return -1;
}

}  // namespace

// A task moves an item that lies somewhere to another place in the rooms that tasks use.
bool Form1::taskfits(int item, int room, int spot) const {
    return itemroom[item] != 0 && itemspot[item] != 0 && !(itemroom[item] == room && itemspot[item] == spot);
}

void Form1::setquest() {
    // Each attempt draws all three values; the held item and the item's own place are refused.
    // The loader only accepts houses where a task always exists, so the draws end; the bound
    // and the search after it only make sure that no house can ever hang the game.
    constexpr int kMaxDraws = 100000;
    const int olditem = questitem, oldroom = questroom, oldspot = questspot;
    bool found = false;
    for (int attempt = 0; attempt < kMaxDraws && !found; ++attempt) {
        questitem = rnd.draw(itemcount);
        questroom = rnd.draw(roomcount);
        questspot = rnd.draw(spotcount[questroom]);
        found = taskfits(questitem, questroom, questspot);
    }
    for (int i = 1; i <= itemcount && !found; ++i)
        for (int r = 1; r <= roomcount && !found; ++r)
            for (int s = 1; s <= spotcount[r] && !found; ++s)
                if (taskfits(i, r, s)) {
                    questitem = i;
                    questroom = r;
                    questspot = s;
                    found = true;
                }
    if (!found) {  // the task stays as it was
        questitem = olditem;
        questroom = oldroom;
        questspot = oldspot;
        return;
    }

    const std::string& item = itemname[questitem];
    const std::string& itemroomname = roomname[itemroom[questitem]];
    questtext.clear();

    int opening = rnd.draw(14);
    if (questsdone == 0) opening = 0;
    if (opening <= 8) questtext += kOpenings[opening];

    const int phrase = rnd.draw(17);
    const Relation rel = relation(curroom, questroom);
    if (phrase >= 10 && rel != Relation::none) {
        questtext += kLevel[phrase - 10][relationColumn(rel)];
        questtext += item + " from the " + itemroomname;
    } else {
        const PlainClause& clause = kPlain[(phrase <= 9 ? phrase : phrase - 9) - 1];
        questtext += clause.verb + item;
        if (!(clause.shortens && questsdone >= 20)) questtext += clause.from + itemroomname;
    }

    const int ending = rnd.draw(4);
    questtext += kLeadIns[ending - 1] + spotname[questroom][questspot] + ", in the " + roomname[questroom] + ".";
}

int Form1::questcheck() const {
    int result = 0;
    if (itemroom[questitem] == questroom && itemspot[questitem] == questspot) result = 1;
    return result;
}

}  // namespace tw
