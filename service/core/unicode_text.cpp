#include "core/unicode_text.h"

namespace orlune::UnicodeText {
namespace {

// One decoded character: its code point (or none for a byte that is not valid UTF-8) and its
// length in bytes.
struct Character {
    char32_t value;
    bool valid;
    std::size_t length;
};

Character decode(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return {lead, true, 1};
    std::size_t length;
    char32_t value;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return {0, false, 1};
    }
    if (text.size() - at < length) return {0, false, 1};
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return {0, false, 1};
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {0, false, 1};
    return {value, true, length};
}

bool isLineBreak(const Character& c) {
    if (!c.valid) return false;
    switch (c.value) {
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x85:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

bool isWhiteSpace(const Character& c) {
    if (!c.valid) return false;
    if (isLineBreak(c)) return true;
    switch (c.value) {
    case 0x09:
    case 0x20:
    case 0xA0:
    case 0x1680:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c.value >= 0x2000 && c.value <= 0x200A;
    }
}

template <class Separator>
std::vector<std::string_view> split(std::string_view text, Separator isSeparator, bool keepEmpty) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const Character c = decode(text, at);
        if (isSeparator(c)) {
            if (keepEmpty || at > start) pieces.push_back(text.substr(start, at - start));
            start = at + c.length;
        }
        at += c.length;
    }
    if (keepEmpty || text.size() > start) pieces.push_back(text.substr(start));
    return pieces;
}

}  // namespace

std::vector<std::string_view> splitLines(std::string_view text) {
    return split(text, isLineBreak, true);
}

std::vector<std::string_view> words(std::string_view text) {
    return split(text, isWhiteSpace, false);
}

std::string_view trim(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const Character c = decode(text, begin);
        if (!isWhiteSpace(c)) break;
        begin += c.length;
    }
    // Trailing white space is found by walking forward, since UTF-8 cannot be decoded backwards
    // safely when invalid bytes may sit in between.
    std::size_t end = begin;
    std::size_t at = begin;
    while (at < text.size()) {
        const Character c = decode(text, at);
        at += c.length;
        if (!isWhiteSpace(c)) end = at;
    }
    return text.substr(begin, end - begin);
}

bool isValidUTF8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const Character c = decode(text, at);
        if (!c.valid) return false;
        at += c.length;
    }
    return true;
}

}  // namespace orlune::UnicodeText
