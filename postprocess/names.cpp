// Element names made safe for the host and distinct within each table.
//
// Every change is made on the wide text, and the whole name is then rebuilt from it
// (ModelName::assignWide), so the narrow copy always is the conversion of the wide text.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <deque>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "postprocess/postprocess.h"

namespace quillmesh {
namespace {

constexpr char16_t kReplacement = u'_';
// An element stops receiving suffixes once it has this many, even if it still clashes.
constexpr int kMaxSuffixesPerName = 101;

// The characters that the host or later tools would misread in a name.
bool isReplacedCharacter(char16_t unit) {
    switch (unit) {
        case u' ':
        case u'.':
        case u'|':
        case u'-':
        case u'\t':
        case u'"':
        case u':':
        case u';':
        case u',':
        case u'/':
        case u'\'':
        case u'\\':
        case u'<':
        case u'>':
        case u']':
        case u'[':
        case u'{':
        case u'}':
        case u'(':
        case u')':
            return true;
        default:
            return false;
    }
}

// Applies `edit` to a copy of the wide text of `name` and rebuilds the name from the copy.
template <typename Edit>
bool rewriteName(ModelName& name, Edit edit) {
    std::array<char16_t, ModelName::kCapacity> text{};
    const std::u16string_view wide = name.wide();
    std::copy(wide.begin(), wide.end(), text.begin());
    edit(std::span<char16_t>(text.data(), wide.size()));
    return name.assignWide(std::u16string_view(text.data(), wide.size()));
}

// Rewrites every name of the seven named tables in the order lights, cameras, UV sets, groups,
// bones, materials, animations. Every name is visited even after a failure.
template <typename Edit>
bool rewriteAllNames(ModelData& model, Edit edit) {
    bool allRewritten = true;
    const auto rewriteTable = [&](auto& table) {
        for (auto& element : table.items) {
            allRewritten = rewriteName(element.name, edit) && allRewritten;
        }
    };
    rewriteTable(model.lights);
    rewriteTable(model.cameras);
    rewriteTable(model.uvSets);
    rewriteTable(model.groups);
    rewriteTable(model.bones);
    rewriteTable(model.materials);
    rewriteTable(model.animations);
    return allRewritten;
}

// `text` followed by the decimal digits of `number`.
std::u16string withSuffix(std::u16string_view text, uint64_t number) {
    std::array<char, 24> digits{};
    const auto converted = std::to_chars(digits.data(), digits.data() + digits.size(), number);
    std::u16string result(text);
    for (const char* digit = digits.data(); digit != converted.ptr; ++digit) {
        result.push_back(static_cast<char16_t>(*digit));
    }
    return result;
}

}  // namespace

bool sanitizeNames(ModelData& model) noexcept {
    return rewriteAllNames(model, [](std::span<char16_t> text) {
        std::replace_if(text.begin(), text.end(), isReplacedCharacter, kReplacement);
    });
}

bool replaceLeadingDigit(ModelData& model) noexcept {
    return rewriteAllNames(model, [](std::span<char16_t> text) {
        if (!text.empty() && text.front() >= u'0' && text.front() <= u'9') {
            text.front() = kReplacement;
        }
    });
}

bool deduplicateNameList(const std::vector<ModelName*>& names) noexcept {
    try {
        // The counted texts are views, which must outlive the names' own texts as these change:
        // the texts the names start with are copied into one block, and each text a suffix makes
        // is kept in `suffixedTexts`, whose elements never move.
        std::size_t totalUnits = 0;
        for (const ModelName* name : names) {
            totalUnits += name->wide().size();
        }
        std::u16string original;
        original.reserve(totalUnits);
        for (const ModelName* name : names) {
            original.append(name->wide());
        }
        std::deque<std::u16string> suffixedTexts;

        // How many elements of the list carry each wide text: an element clashes exactly when
        // its own text is carried at least twice. An element only leaves a text that another
        // element carries too, so every text in the map stays carried and the map never holds
        // more texts than there are names.
        std::unordered_map<std::u16string_view, std::size_t> carriers;
        carriers.reserve(names.size());
        const std::u16string_view texts = original;
        std::size_t offset = 0;
        for (const ModelName* name : names) {
            const std::size_t length = name->wide().size();
            ++carriers[texts.substr(offset, length)];
            offset += length;
        }
        if (carriers.size() == names.size()) {
            return true;  // every text is carried once: nothing clashes
        }
        // The suffix number shared by the whole list. 64 bits: up to 101 suffixes per element.
        uint64_t suffix = 0;
        for (ModelName* name : names) {
            // A view of the element's own text, valid until the element is renamed.
            std::u16string_view current = name->wide();
            for (int given = 0; given < kMaxSuffixesPerName; ++given) {
                const auto entry = carriers.find(current);
                if (entry == carriers.end() || entry->second < 2) {
                    break;
                }
                // assignWide cuts the text to the longest a name holds, so a suffix that does not
                // fit is cut short; the number is used up all the same.
                ModelName renamed;
                if (!renamed.assignWide(withSuffix(current, suffix))) {
                    return false;
                }
                if (renamed.wide() == current) {
                    // The name is full: no suffix can change it, so it keeps clashing and uses up
                    // the rest of its suffix numbers unchanged.
                    *name = std::move(renamed);
                    suffix += static_cast<uint64_t>(kMaxSuffixesPerName - given);
                    break;
                }
                const std::u16string_view next = suffixedTexts.emplace_back(renamed.wide());
                *name = std::move(renamed);
                current = next;
                ++suffix;
                --entry->second;
                ++carriers[current];
            }
            // The text this element ends with stays counted: later elements clash with it.
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace quillmesh
