#pragma once

#include <string_view>
#include <vector>

namespace orlune::UnicodeText {

// Line and word splitting for text the service reads from outside (profiles, the engine log).
// Both follow the Unicode character classes rather than ASCII alone, so a line break or a space
// written as, say, U+2028 or U+00A0 separates exactly as a plain one does. Bytes that are not
// valid UTF-8 count as ordinary characters, never as separators.

// Splits at every line-break character (LF, VT, FF, CR, NEL, U+2028, U+2029). A CR LF pair
// yields an empty piece between its two characters; empty pieces are kept.
std::vector<std::string_view> splitLines(std::string_view text);

// Removes white space and line breaks from both ends.
std::string_view trim(std::string_view text);

// Splits at white space, dropping empty words.
std::vector<std::string_view> words(std::string_view text);

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUTF8(std::string_view text);

}  // namespace orlune::UnicodeText
