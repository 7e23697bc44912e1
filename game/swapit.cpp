// game/swapit.cpp: rewrites a text word by word through the swap table.
#include "game/form1.h"
#include "game/text.h"

namespace tw {

void Form1::swapit(std::string& tempm) const {
    // Pairs apply in table order to the word as replaced so far, so chains resolve forwards.
    auto lookup = [this](std::string word) {
        std::string upper = ucase(word);
        for (int k = 1; k <= swapcount; ++k) {
            if (ucase(swapfrom[k]) == upper) {
                word = swapto[k];
                upper = ucase(word);
            }
        }
        return word;
    };
    std::string result;
    std::string word;
    for (char c : tempm) {
        if (!isWordSeparator(c)) {
            word += c;
            continue;
        }
        result += lookup(word);
        result += c;
        word.clear();
    }
    result += lookup(word);
    tempm = result;
}

}  // namespace tw
