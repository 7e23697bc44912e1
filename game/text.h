// game/text.h: texts and text files: UTF-8 in memory, Windows-1252 with CR LF in files,
// case-blind comparison, and the value-line and text-line rules of the game's files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

// The characters that end a word in Dorvel's sentences.
constexpr bool isWordSeparator(char c) { return c == ' ' || c == '.' || c == ',' || c == '!'; }

// Upper-case form for case-blind comparison: A-Z and the letters of Windows-1252.
std::string ucase(std::string_view utf8);
bool samenocase(std::string_view a, std::string_view b);

std::string cp1252ToUtf8(std::string_view bytes);
// Characters without a Windows-1252 form become "?".
std::string utf8ToCp1252(std::string_view utf8);

// A number as a value line prints it: " 3 ", "-3 ".
std::string valueText(long long number);

// One field of a value line: blanks skipped, ends at a comma or the line end.
std::string readField(std::string_view line);
// The field as a whole number, if it is one.
std::optional<long long> fieldNumber(std::string_view field);

// Lines of a file: CR, CR LF and a lone LF end a line; a last line without an end mark
// counts, a final end mark adds no empty line.
std::vector<std::string> splitLines(std::string_view bytes);
// Lines encoded for a file: each in Windows-1252, ended by CR LF.
std::string joinLines(const std::vector<std::string>& lines);

// Bounds on what the game reads, so that no file, however large, costs much memory or time.
constexpr std::size_t kMaxWordListBytes = 1024 * 1024;
constexpr std::size_t kMaxWordListLines = 100000;
// A line of the word list with more characters is no word or phrase, and is left out of the
// pool: counted as characters, so the bound is the same whichever encoding the list is in.
constexpr std::size_t kMaxWordLength = 256;
// Well-formed UTF-8: the shortest form only, no surrogate halves, nothing past U+10FFFF.
bool validutf8(std::string_view s);
// The characters of UTF-8 text.
std::size_t characters(std::string_view utf8);
// A save holds the house, the word pool, and its words again as candidates (at most the pool
// again) and as pairs (999 pairs of two words of at most kMaxWordLength characters,
// one byte each in the file): under 3 MB whatever the
// game has been given, so whatever it saves it can load.
constexpr std::size_t kMaxSaveBytes = 4 * 1024 * 1024;
constexpr std::size_t kMaxSaveLines = 250000;
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;
constexpr std::size_t kMaxSettingsLines = 1000;
constexpr std::size_t kMaxAnyFileBytes = 64 * 1024 * 1024;

// At least the number of lines splitLines would make of bytes, counted without making them.
std::size_t lineCountBound(std::string_view bytes);
// Editors on Windows may begin a text file with UTF-8's byte-order mark; it is no text.
std::string_view withoutByteOrderMark(std::string_view bytes);

// The game's text files: lines decoded from Windows-1252; nullopt when unreadable or larger
// than the bounds given.
std::optional<std::vector<std::string>> readTextFile(const std::string& path, std::size_t maxBytes = kMaxWordListBytes,
                                                     std::size_t maxLines = kMaxWordListLines);

}  // namespace tw
