#pragma once
/// How the program spells directories and compares names, for every layer:
/// a directory text ends in one "/", and names (extensions, directories,
/// font and colour names) compare with only the ASCII letters a-z folded, so
/// no locale can change what matches; hexadecimal digits read alike in
/// every stored text.
///
/// Include this header by name: Platform.h does not bring it in.

#include <string>

namespace sigilon {

/// The directory text followed by "/" unless it already ends with one; the
/// empty text stays empty (no directory is not the root).
std::string WithTrailingSlash(std::string directory);

/// The character upper-cased when it is one of a-z, else unchanged.
char AsciiUpper(char c);

/// The text with a-z upper-cased and every other byte (UTF-8 included) kept.
std::string AsciiUpper(std::string text);

/// The value of a hexadecimal digit (0-9, a-f, A-F); -1 for any other
/// character.
int HexDigitValue(char c);

}  // namespace sigilon
