// ModelName: the name of every model element, held twice: as UTF-16 text and as a narrow copy
// in the platform's narrow encoding (what the conversion hands to the host). Each form holds at
// most 259 units, as much as the fixed 260-unit buffers (terminator included) the file format
// was made for; a name takes only the memory its text needs.
#pragma once

#include <cstddef>
#include <string>
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
        wide_.clear();
        narrow_.clear();
    }

    std::u16string_view wide() const noexcept { return wide_; }
    std::string_view narrow() const noexcept { return narrow_; }
    // NUL-terminated forms.
    const char16_t* wideCString() const noexcept { return wide_.c_str(); }
    const char* narrowCString() const noexcept { return narrow_.c_str(); }

    bool empty() const noexcept { return wide_.empty() && narrow_.empty(); }

    friend bool operator==(const ModelName& a, const ModelName& b) noexcept {
        return a.wide() == b.wide() && a.narrow() == b.narrow();
    }

  private:
    std::u16string wide_;
    std::string narrow_;
};

}  // namespace quillmesh
