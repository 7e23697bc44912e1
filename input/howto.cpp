// input/howto.cpp: the thirteen how-to-play pages, read one at a time from the menu.
#include "input/howto.h"

namespace tw {

const std::array<std::string, 13> howtopages = {
    "Tumblewick, is an insane game of word association and memory.  Press Escape at any time to "
    "open the main menu, and Escape again to go back to your game.  Tab changes the way the game "
    "speaks, Page Up and Page Down make its voice faster or slower, and Control, or Space in a "
    "terminal, silences it.",

    "You have been hired to help a man organize his house.  His name is Dorvel, and he is "
    "slowly going insane.  You only took the job to earn enough money for a new pair of shoes "
    "you saw on television.",

    "The shoes you want to buy are so friking amazing!  They light up, they squeak in three "
    "different keys, and the man on television said they would change your life.  You simply "
    "must have them.",

    "Within Dorvel's house, there are 10 rooms.  Press the number keys, 1 through 0, to move "
    "from one room to another.  Inside a room, the top row of letters, W through I, picks a "
    "place to stand.",

    "For example, if you went in to the bathroom and pressed W, you would find yourself at the "
    "shelf.  The middle row of letters, A through G, then picks out the items at that place.",

    "Some locations will have only a single item, while others will have several.  Press Enter "
    "to swap the chosen item with the one in your hands.  You can only carry one item at a "
    "time.",

    "To advance in the game, you must perform tasks for Dorvel.  Press Q at any time to hear "
    "your current task.  Each task names an item, and the new place where Dorvel wants it put.",

    "There are 2 things that make this game difficult.  The first, is that you must remember "
    "where every item is, and where you have moved things to.",

    "The other challenge, is that your employer is slowly going insane.  Each new task he gives "
    "you will be a little harder to understand than the one before.",

    "With each task completed, a single common word will be swapped out for a random word.  "
    "From then on, Dorvel will say the random word in its place.  You will be told about each "
    "change as it happens.",

    "Only the tasks spoken by Dorvel will be jumbled, and nothing else in the game will "
    "change.  Complete 40 tasks to win the game, and unlock an ending story.",

    "At any time, press Z, to hear your current status.  Press X to hear the place where you "
    "are standing, C to hear the item you are holding, V to hear the last word changes, and B "
    "to hear how many tasks you have completed.",

    "I don't have the slightest idea how far a person can get in this game.  Your game is kept "
    "for you as your last game, however you stop, and a game that a new one replaces is kept as "
    "your previous game: Load game brings either back.  Good luck, keep your wits about you, and "
    "try not to go insane yourself!",
};

}  // namespace tw
