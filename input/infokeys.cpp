// input/infokeys.cpp: the keys that tell the place, the held item, the count, the changes and the task.
#include "game/form1.h"
#include "game/text.h"
#include "platform/files.h"

namespace tw {

namespace {

std::string placeopening(int room) {
    if (room == 8) return "You are upstairs in the ";
    if (room == 9 || room == 10) return "You are downstairs in the ";
    return "You are in the ";
}

}  // namespace

void Form1::infokeys(int KeyCode) {
    const std::string held = itemname[helditem()];
    switch (KeyCode) {
        case 'Z':
            sayit(placeopening(curroom) + roomname[curroom] + ", holding the " + held + ".");
            break;
        case 'X':
            sayit(placeopening(curroom) + roomname[curroom] + ".");
            break;
        case 'C':
            sayit("You are holding the " + held + ".");
            break;
        case 'V':
            sayit(lastswaps.empty() ? std::string("No swaps yet.") : lastswaps);
            break;
        case 'B':
            if (questsdone == 0)
                sayit("You have not completed any tasks yet.");
            else if (questsdone == 1)
                sayit("You have completed 1 task.");
            else
                sayit("You have completed " + std::to_string(questsdone) + " tasks.");
            break;
        default:
            break;
    }
}

void Form1::questkey() {
    if (questsdone >= kTasksToWin) {
        youwin();
        return;
    }
    std::string task = questtext;
    swapit(task);
    sayit(task);
    // The task has been spoken already; a file that cannot be written changes nothing for play.
    // Written like a save, so a link planted at its name is replaced, never written through.
    files::replace(playerpath("lasttask.txt"), joinLines({task}));
}

}  // namespace tw
