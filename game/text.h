// game/text.h: texts and text files: UTF-8 in memory, Windows-1252 with CR LF in files,
// case-blind comparison, and the value-line and text-line rules of the game's files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

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

// Whole-file reads and writes of raw bytes. The reader says false when the file cannot be read.
bool readFileBytes(const std::string& path, std::string& bytes);
bool writeFileBytes(const std::string& path, std::string_view bytes);
// Writes beside the target and renames over it, so a failed write leaves the old file whole.
bool replaceFileBytes(const std::string& path, std::string_view bytes, std::string& why);

// The game's text files: lines decoded from Windows-1252; nullopt when unreadable.
std::optional<std::vector<std::string>> readTextFile(const std::string& path);
bool writeTextFile(const std::string& path, const std::vector<std::string>& lines);

}  // namespace tw
