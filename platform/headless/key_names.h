// platform/headless/key_names.h: keys by name, as key scripts and the headless driver write them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tw {

struct KeyPress {
    int code = 0;
    int shift = 0;
};

// Reads keys with blanks between them. A key is a letter or digit ("Q", "1"), or a name: Down Up
// Left Right Enter Escape Tab PageUp PageDown Ctrl Shift Alt Grave Oem233 F1..F12 Space Back
// Comma Period. A run of capital letters and digits is those keys one
// after another ("1WA" is 1, W, A). "Shift+", "Ctrl+" and "Alt+" before a key hold that modifier
// for it ("Ctrl+Alt+Grave"). Nothing, when a word is none of these.
std::optional<std::vector<KeyPress>> keyNames(const std::string& keys);
// "VK [SHIFT]": one key by its virtual-key code (1 to 255) and shift mask (0 to 7), in numbers.
std::optional<std::vector<KeyPress>> keyCode(const std::string& numbers);

}  // namespace tw
