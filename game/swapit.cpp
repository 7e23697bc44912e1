// game/swapit.cpp: rewrites a text word by word through the swap table.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "game/form1.h"
#include "game/text.h"

namespace tw {

void Form1::swapit(std::string& tempm) const {
    // Pairs apply in table order to the word as replaced so far, so chains resolve forwards.
    // Where a word ends up depends only on the first pair that takes it: that pair's word goes
    // on through the later pairs alone. So the table is resolved once per text, from its last
    // pair back, and each word of the text costs one look-up, however long the table or chain.
    std::unordered_map<std::string, std::vector<int>> pairsFor;
    for (int k = 1; k <= swapcount; ++k) pairsFor[ucase(swapfrom[k])].push_back(k);
    // The first pair after `after` that takes this word, or 0.
    auto nextPair = [&](const std::string& word, int after) {
        const auto found = pairsFor.find(ucase(word));
        if (found == pairsFor.end()) return 0;
        const auto next = std::upper_bound(found->second.begin(), found->second.end(), after);
        return next == found->second.end() ? 0 : *next;
    };
    std::vector<const std::string*> endsAs(static_cast<std::size_t>(std::max(swapcount, 0)) + 1);
    for (int k = swapcount; k >= 1; --k) {
        const int then = nextPair(swapto[k], k);
        endsAs[k] = then ? endsAs[then] : &swapto[k];
    }
    auto lookup = [&](const std::string& word) -> const std::string& {
        const int first = pairsFor.empty() ? 0 : nextPair(word, 0);
        return first ? *endsAs[first] : word;
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
