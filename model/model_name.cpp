#include "model/model_name.h"

#include <algorithm>
#include <new>
#include <string>

#include "platform/platform.h"

namespace quillmesh {
namespace {

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

template <typename Unit>
std::basic_string_view<Unit> upToNul(std::basic_string_view<Unit> text) {
    const std::size_t end = text.find(Unit{0});
    return end == std::basic_string_view<Unit>::npos ? text : text.substr(0, end);
}

// At most `limit` units of `text`, without keeping the first half of a surrogate pair whose
// second half is cut off.
std::u16string_view cutWide(std::u16string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t length = limit;
    if (length > 0 && isHighSurrogate(text[length - 1]) && isLowSurrogate(text[length])) {
        --length;
    }
    return text.substr(0, length);
}

// The narrow form of `text` in at most `limit` bytes: whole characters only, so a character whose
// narrow form does not fit is dropped with everything after it.
std::string narrowWithin(std::u16string_view text, std::size_t limit) {
    std::string narrow = platform::wideToNarrow(text);
    if (narrow.size() <= limit) {
        return narrow;
    }
    narrow.clear();
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t units = 1;
        if (isHighSurrogate(text[position]) && position + 1 < text.size() &&
            isLowSurrogate(text[position + 1])) {
            units = 2;
        }
        const std::string character = platform::wideToNarrow(text.substr(position, units));
        if (character.size() > limit - narrow.size()) {
            break;
        }
        narrow += character;
        position += units;
    }
    return narrow;
}

}  // namespace

bool ModelName::assignWide(std::u16string_view text) noexcept {
    try {
        const std::u16string_view wide = cutWide(upToNul(text), kMaxLength);
        const std::string narrow = narrowWithin(wide, kMaxLength);
        std::u16string wideText(wide);
        narrow_ = narrow;
        wide_ = std::move(wideText);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool ModelName::assignNarrow(std::string_view text) noexcept {
    try {
        const std::string_view narrow = upToNul(text).substr(0, kMaxLength);
        const std::u16string converted = platform::narrowToWide(narrow);
        const std::u16string_view wide =
            cutWide(upToNul(std::u16string_view(converted)), kMaxLength);
        std::u16string wideText(wide);
        narrow_ = narrow;
        wide_ = std::move(wideText);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool ModelName::appendNarrow(std::string_view text) noexcept {
    ModelName tail;
    if (!tail.assignNarrow(text)) {
        return false;
    }
    try {
        const std::u16string_view wideTail = cutWide(tail.wide(), kMaxLength - wide_.size());
        const std::string_view narrowTail = tail.narrow().substr(0, kMaxLength - narrow_.size());
        std::u16string wide = wide_ + std::u16string(wideTail);
        narrow_.append(narrowTail);
        wide_ = std::move(wide);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace quillmesh
