// platform/headless/key_names.cpp: keys by name, as key scripts and the headless driver write them.
#include "platform/headless/key_names.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <utility>

#include "platform/keys.h"

namespace tw {

namespace {

constexpr std::pair<std::string_view, int> kNames[] = {
    {"Down", key::Down},   {"Up", key::Up},         {"Left", key::Left},
    {"Right", key::Right}, {"Enter", key::Enter},   {"Escape", key::Escape},
    {"Tab", key::Tab},     {"PageUp", key::PageUp}, {"PageDown", key::PageDown},
    {"Ctrl", key::Ctrl},   {"Shift", key::Shift},   {"Alt", key::Alt},
    {"Grave", key::Grave}, {"Oem233", key::Oem233}, {"Space", 32},
    {"Back", key::Back},   {"Comma", 188},          {"Period", 190}};
constexpr std::pair<std::string_view, int> kModifiers[] = {
    {"Shift+", key::ShiftMask}, {"Ctrl+", key::CtrlMask}, {"Alt+", key::AltMask}};

}  // namespace

std::optional<std::vector<KeyPress>> keyNames(const std::string& keys) {
    std::vector<KeyPress> presses;
    std::istringstream words(keys);
    for (std::string word; words >> word;) {
        int shift = 0;
        for (bool more = true; more;) {
            more = false;
            for (const auto& [prefix, mask] : kModifiers)
                if (word.size() > prefix.size() && std::string_view(word).substr(0, prefix.size()) == prefix) {
                    shift |= mask;
                    word.erase(0, prefix.size());
                    more = true;
                }
        }
        const auto named = std::find_if(std::begin(kNames), std::end(kNames), [&](auto& n) { return n.first == word; });
        if (named != std::end(kNames)) {
            presses.push_back({named->second, shift});
            continue;
        }
        if (word.size() >= 2 && word.size() <= 3 && word[0] == 'F' &&
            std::isdigit(static_cast<unsigned char>(word[1]))) {
            const int n = std::atoi(word.c_str() + 1);
            if (n >= 1 && n <= 12) {
                presses.push_back({111 + n, shift});
                continue;
            }
        }
        const bool run = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        });
        if (!run || (shift != 0 && word.size() != 1)) return std::nullopt;
        for (char c : word) presses.push_back({c, shift});
    }
    return presses;
}

std::optional<std::vector<KeyPress>> keyCode(const std::string& numbers) {
    std::istringstream words(numbers);
    int code = 0, shift = 0;
    std::string more;
    if (!(words >> code) || code <= 0 || code > 255) return std::nullopt;
    if (words >> shift ? shift < 0 || shift > 7 || static_cast<bool>(words >> more) : !words.eof()) return std::nullopt;
    return std::vector<KeyPress>{{code, shift}};
}

}  // namespace tw
