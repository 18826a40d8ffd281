// UTF-8 for every layer: a code point written out, one read back from text the program wrote, and the
// length of a character from its first byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Appends the code point; a value that is no character (past U+10FFFF, a UTF-16 half) as U+FFFD.
inline void utf8_append(std::string &out, uint32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

inline std::string utf8_encode(uint32_t c)
{
    std::string s;
    utf8_append(s, c);
    return s;
}

// Reads one character of text that utf8_append wrote, and moves past it.
inline uint32_t utf8_decode(const uint8_t *&p)
{
    uint32_t c = *p++;
    if (c < 0x80) return c;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    c &= 0x3F >> more;
    while (more-- > 0) c = c << 6 | (*p++ & 0x3F);
    return c;
}

// The bytes utf8_append writes for the code point.
inline size_t utf8_size(uint32_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

// How many bytes a character starting with this byte has; 1 for a byte that starts none.
inline size_t utf8_length(unsigned char lead)
{
    return lead >= 0xF8 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

inline bool utf8_is_continuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}
