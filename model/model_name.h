// ModelName: the name of every model element, held twice: as UTF-16 text and as a narrow copy
// in the platform's narrow encoding (what the conversion hands to the host). Each form lives in
// a fixed buffer of 260 units, so a name holds at most 259 units plus its terminator; copying a
// name never allocates.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quillmesh {

class ModelName {
  public:
    // Units per buffer, terminator included.
    static constexpr std::size_t kCapacity = 260;
    static constexpr std::size_t kMaxLength = kCapacity - 1;

    ModelName() = default;

    // Each assignment takes its text up to the first NUL and replaces both forms. Text beyond
    // kMaxLength units is cut off (never inside a surrogate pair on the wide side, never inside a
    // character where the narrow copy is converted). They return false, leaving the name
    // unchanged, only when memory for the conversion runs out.

    // The wide text is copied; the narrow form is its conversion.
    bool assignWide(std::u16string_view text) noexcept;
    // The narrow text is copied; the wide form is its conversion.
    bool assignNarrow(std::string_view text) noexcept;
    // Converts `text` as assignNarrow does and appends both forms to this name's.
    bool appendNarrow(std::string_view text) noexcept;

    void clear() noexcept {
        wide_.fill(u'\0');
        narrow_.fill('\0');
    }

    std::u16string_view wide() const noexcept { return terminated(wide_); }
    std::string_view narrow() const noexcept { return terminated(narrow_); }
    // NUL-terminated forms.
    const char16_t* wideCString() const noexcept { return wide_.data(); }
    const char* narrowCString() const noexcept { return narrow_.data(); }

    bool empty() const noexcept { return wide_[0] == u'\0' && narrow_[0] == '\0'; }

    friend bool operator==(const ModelName& a, const ModelName& b) noexcept {
        return a.wide() == b.wide() && a.narrow() == b.narrow();
    }

  private:
    template <typename Unit>
    static std::basic_string_view<Unit> terminated(const std::array<Unit, kCapacity>& buffer) {
        std::size_t length = 0;
        while (length < kMaxLength && buffer[length] != Unit{0}) {
            ++length;
        }
        return {buffer.data(), length};
    }

    std::array<char16_t, kCapacity> wide_{};
    std::array<char, kCapacity> narrow_{};
};

}  // namespace quillmesh
