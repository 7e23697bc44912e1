// game/youwin.cpp: the win: the ending story opens.
#include "game/form1.h"

namespace tw {

void Form1::youwin() {
    menu = 3;
    menupos = 0;
    sayit("Congradulations, you have won!  Use the arrow keys to hear your final message.");
}

}  // namespace tw
