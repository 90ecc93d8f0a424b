// The portable half of the platform layer: path splitting and the UTF-8 <-> UTF-16 pair, which
// behave the same on every system so that texture names written on Windows split the same way
// on Linux and malformed text is replaced identically everywhere.
#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "platform/platform.h"

namespace quillmesh::platform {
namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool isSeparator(char16_t unit) {
    return unit == u'\\' || unit == u'/';
}

bool isAsciiLetter(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z');
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Windows folds only the ASCII letters when it compares device names: "cOn" is the console, the
// same letters in their full-width forms a file.
char16_t upperAscii(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

bool equalsUpperAscii(std::u16string_view text, std::u16string_view upper) {
    if (text.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (upperAscii(text[i]) != upper[i]) {
            return false;
        }
    }
    return true;
}

// The digits that end a port device name: 0 to 9 and the superscripts one, two and three,
// which Windows also takes for port numbers.
bool isPortDigit(char16_t unit) {
    return (unit >= u'0' && unit <= u'9') || unit == 0x00B9 || unit == 0x00B2 || unit == 0x00B3;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

void appendUtf16(std::u16string& out, char32_t codePoint) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
        return;
    }
    const char32_t offset = codePoint - 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
}

// The shape of a UTF-8 sequence by its lead byte: how many continuation bytes follow and the
// range the first of them must lie in. The narrowed first ranges exclude overlong forms,
// surrogates (ED A0..BF) and code points above U+10FFFF (F4 90..BF), as the Unicode standard's
// table of well-formed byte sequences does.
struct SequenceShape {
    int continuationCount;  // -1: not a lead byte
    unsigned char firstLow, firstHigh;
};

SequenceShape sequenceShape(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return {1, 0x80, 0xBF};
    }
    if (lead == 0xE0) {
        return {2, 0xA0, 0xBF};
    }
    if (lead == 0xED) {
        return {2, 0x80, 0x9F};
    }
    if (lead >= 0xE1 && lead <= 0xEF) {
        return {2, 0x80, 0xBF};
    }
    if (lead == 0xF0) {
        return {3, 0x90, 0xBF};
    }
    if (lead >= 0xF1 && lead <= 0xF3) {
        return {3, 0x80, 0xBF};
    }
    if (lead == 0xF4) {
        return {3, 0x80, 0x8F};
    }
    return {-1, 0, 0};
}

}  // namespace

PathParts splitPath(std::u16string_view path) {
    PathParts parts;
    if (path.size() >= 2 && isAsciiLetter(path[0]) && path[1] == u':') {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }

    size_t fileStart = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        if (isSeparator(path[i])) {
            fileStart = i + 1;
        }
    }
    parts.directory = path.substr(0, fileStart);

    const std::u16string_view file = path.substr(fileStart);
    const size_t dot = file.rfind(u'.');
    if (dot == std::u16string_view::npos) {
        parts.baseName = file;
    } else {
        parts.baseName = file.substr(0, dot);
        parts.extension = file.substr(dot);
    }
    return parts;
}

std::u16string fileNamePart(std::u16string_view path) {
    PathParts parts = splitPath(path);
    return std::move(parts.baseName) + parts.extension;
}

bool isDeviceName(std::u16string_view fileName) {
    std::u16string_view stem = fileName.substr(0, fileName.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') {
        stem.remove_suffix(1);
    }
    for (const std::u16string_view device :
         {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
        if (equalsUpperAscii(stem, device)) {
            return true;
        }
    }
    return stem.size() == 4 && isPortDigit(stem[3]) &&
           (equalsUpperAscii(stem.substr(0, 3), u"COM") ||
            equalsUpperAscii(stem.substr(0, 3), u"LPT"));
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            const char32_t high = unit - 0xD800u;
            const char32_t low = text[i + 1] - 0xDC00u;
            appendUtf8(out, 0x10000 + ((high << 10) | low));
            ++i;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendUtf8(out, kReplacementCharacter);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

// Each maximal ill-formed subpart becomes one U+FFFD: a byte that cannot start a sequence, or a
// lead byte with the continuation bytes that were valid before the sequence broke off.
std::u16string fromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        const SequenceShape shape = sequenceShape(lead);
        if (shape.continuationCount < 0) {
            out.push_back(kReplacementCharacter);
            ++i;
            continue;
        }
        char32_t codePoint = lead & (0x3F >> shape.continuationCount);
        size_t next = i + 1;
        bool complete = true;
        for (int k = 0; k < shape.continuationCount; ++k, ++next) {
            const unsigned char low = k == 0 ? shape.firstLow : 0x80;
            const unsigned char high = k == 0 ? shape.firstHigh : 0xBF;
            if (next >= text.size()) {
                complete = false;
                break;
            }
            const auto byte = static_cast<unsigned char>(text[next]);
            if (byte < low || byte > high) {
                complete = false;
                break;
            }
            codePoint = (codePoint << 6) | (byte & 0x3F);
        }
        if (complete && codePoint <= kMaxCodePoint) {
            appendUtf16(out, codePoint);
        } else {
            out.push_back(kReplacementCharacter);
        }
        i = next;
    }
    return out;
}

}  // namespace quillmesh::platform
