// game/text.cpp: encodings, case folding, value lines and whole-file input and output.
#include "game/text.h"

#include <algorithm>
#include <array>

#include "platform/files.h"

namespace tw {

namespace {

// Windows-1252 bytes 0x80..0x9F; 0 where the code page has no character.
constexpr std::array<char32_t, 32> kHigh = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Decodes one code point; malformed bytes decode as themselves (Latin-1), so nothing is lost.
char32_t decodeOne(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t cp = b;
    if (b >= 0xF0 && b < 0xF8) {
        extra = 3;
        cp = b & 0x07;
    } else if (b >= 0xE0 && b < 0xF0) {
        extra = 2;
        cp = b & 0x0F;
    } else if (b >= 0xC2 && b < 0xE0) {
        extra = 1;
        cp = b & 0x1F;
    }
    if (extra == 0 || i + static_cast<std::size_t>(extra) >= s.size()) {
        ++i;
        return b;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return b;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    i += extra + 1;
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t upper(char32_t cp) {
    if (cp >= 'a' && cp <= 'z') return cp - 32;
    if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 32;
    switch (cp) {
        case 0xFF:
            return 0x178;
        case 0x161:
            return 0x160;
        case 0x153:
            return 0x152;
        case 0x17E:
            return 0x17D;
        default:
            return cp;
    }
}

}  // namespace

std::string ucase(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) appendUtf8(out, upper(decodeOne(utf8, i)));
    return out;
}

bool samenocase(std::string_view a, std::string_view b) { return ucase(a) == ucase(b); }

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        char32_t cp = b;
        if (b >= 0x80 && b < 0xA0) cp = kHigh[b - 0x80] ? kHigh[b - 0x80] : b;
        appendUtf8(out, cp);
    }
    return out;
}

std::string utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t cp = decodeOne(utf8, i);
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
            continue;
        }
        char mapped = '?';
        for (std::size_t k = 0; k < kHigh.size(); ++k)
            if (kHigh[k] == cp && cp != 0) mapped = static_cast<char>(0x80 + k);
        // Bytes 0x81, 0x8D, 0x8F, 0x90, 0x9D decode to themselves and go back unchanged.
        if (cp >= 0x80 && cp < 0xA0 && kHigh[cp - 0x80] == 0) mapped = static_cast<char>(cp);
        out += mapped;
    }
    return out;
}

std::string valueText(long long number) {
    if (number < 0) return std::to_string(number) + " ";
    return " " + std::to_string(number) + " ";
}

std::string readField(std::string_view line) {
    std::size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
    std::size_t end = line.find(',', start);
    if (end == std::string_view::npos) end = line.size();
    while (end > start && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
    return std::string(line.substr(start, end - start));
}

std::optional<long long> fieldNumber(std::string_view field) {
    std::size_t i = 0;
    bool negative = false;
    if (i < field.size() && (field[i] == '-' || field[i] == '+')) negative = field[i++] == '-';
    if (i == field.size()) return std::nullopt;
    long long value = 0;
    for (; i < field.size(); ++i) {
        if (field[i] < '0' || field[i] > '9') return std::nullopt;
        if (value > 100000000000LL) return std::nullopt;  // far past any count the game keeps
        value = value * 10 + (field[i] - '0');
    }
    return negative ? -value : value;
}

std::vector<std::string> splitLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::string current;
    bool open = false;  // a line has begun that no end mark has closed yet
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(current));
            current.clear();
            open = false;
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            current += c;
            open = true;
        }
    }
    if (open) lines.push_back(std::move(current));
    return lines;
}

bool validutf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kLeast[n] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
        i += n;
    }
    return true;
}

std::size_t characters(std::string_view utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) {
        out += utf8ToCp1252(line);
        out += "\r\n";
    }
    return out;
}

std::size_t lineCountBound(std::string_view bytes) {
    std::size_t marks = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) ++marks;
    return marks + 1;
}

std::string_view withoutByteOrderMark(std::string_view bytes) {
    constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
    return bytes.substr(0, 3) == kUtf8Mark ? bytes.substr(3) : bytes;
}

std::optional<std::vector<std::string>> readTextFile(const std::string& path, std::size_t maxBytes,
                                                     std::size_t maxLines) {
    std::string bytes;
    if (!files::readAll(path, bytes, maxBytes).ok) return std::nullopt;
    if (lineCountBound(bytes) > maxLines + 1) return std::nullopt;
    std::vector<std::string> lines = splitLines(withoutByteOrderMark(bytes));
    for (auto& line : lines) line = cp1252ToUtf8(line);
    return lines;
}

}  // namespace tw
