#include "PrintableText.h"

#include <cstdio>

namespace {
void Escape(std::string& out, unsigned char byte)
{
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    out += hex;
}

// The length of the well-formed UTF-8 sequence at text[i] of a code point
// that is no control character, or 0.
size_t PrintableSequence(const std::string& text, size_t i)
{
    const auto byte = [&text](size_t k) { return k < text.size() ? (unsigned char)text[k] : 0u; };
    const unsigned lead = byte(i);
    size_t length = 0;
    unsigned code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    const unsigned least[5] = {0, 0, 0x80, 0x800, 0x10000};
    const bool overlong = code < least[length];
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    const bool c1 = code >= 0x80 && code <= 0x9F;
    return overlong || surrogate || c1 || code > 0x10FFFF ? 0 : length;
}
}  // namespace

std::string PrintableText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char byte = (unsigned char)text[i];
        if (byte >= 0x20 && byte < 0x7F) {
            out += char(byte);
            ++i;
        } else if (const size_t length = byte >= 0x80 ? PrintableSequence(text, i) : 0) {
            out.append(text, i, length);
            i += length;
        } else {
            Escape(out, byte);
            ++i;
        }
    }
    return out;
}
