// words/swapmore.cpp: new word pairs after a completed task, and the completion message.
#include "game/form1.h"
#include "game/text.h"

namespace tw {

namespace {

bool listed(const std::vector<std::string>& list, const std::string& word) {
    const std::string upper = ucase(word);
    for (const auto& entry : list)
        if (ucase(entry) == upper) return true;
    return false;
}

}  // namespace

void Form1::swapmore() {
    // Candidates: the words of the next task as the player will hear it.
    std::string t = questtext;
    swapit(t);
    t += ' ';
    std::string word;
    for (char c : t) {
        if (!isWordSeparator(c)) {
            word += c;
        } else {
            if (!word.empty() && !listed(List1, word)) List1.push_back(word);
            word.clear();
        }
    }

    std::string announcement;
    // One pair; with either list empty at a draw no pair is made and neither list changes.
    auto makepair = [this, &announcement](const char* opening, const char* closing) {
        if (List1.empty() || List2.empty() || swapcount >= kMaxSwaps) return;
        const int k = ++swapcount;
        const int from = rnd.position(static_cast<int>(List1.size()));
        swapfrom[k] = List1[from];
        List1.erase(List1.begin() + from);
        const int to = rnd.position(static_cast<int>(List2.size()));
        swapto[k] = List2[to];
        List2.erase(List2.begin() + to);
        announcement += opening + swapfrom[k] + ", will now be replaced with, " + swapto[k] + closing;
    };
    makepair("The word, ", ".  ");
    if (questsdone > 10 && questsdone <= 30) makepair("And the word, ", ".");
    if (questsdone > 30) {
        makepair("The word, ", ".  ");
        makepair("And the word, ", ".");
    }
    // With the word pool used up no pair is made: the pairs in force and their announcement
    // stay, and the message claims no change.
    const bool changed = !announcement.empty();
    if (changed) lastswaps = announcement;
    const std::string change = changed ? "Dorvel has gone a little bit more insane.  " + lastswaps + "  "
                                       : std::string("Dorvel's words stay as they were.  ");

    if (questsdone == 1) {
        sayit("You have completed your first task.  " + change + "Press Q, to hear your next task.");
    } else if (questsdone > 1) {
        sayit("You have completed " + std::to_string(questsdone) + " tasks.  " + change +
              "Press Q, to hear your next task.");
    }
}

}  // namespace tw
