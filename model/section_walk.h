// The two passes over one section of records, shared by the section decoders whose record
// readers take the pass they run for.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/kvt_plugin.h"

namespace quillmesh {

// Whether a record reader runs for the counting pass (scratch record, nothing allocated) or for
// the decoding pass (element of the model, sub-arrays allocated as announced).
enum class RecordPass { kCount, kDecode };

// Counting pass over one section: records the section start, reads the count and every record
// into one scratch record, and declares the count as read (a count of 0 or less is an empty
// section).
template <typename T, typename ReadRecord>
bool countSection(KVTPlugin& plugin, ElementSlot<T>& slot, SectionId section,
                  ReadRecord readRecord) noexcept {
    slot.sectionStart = plugin.readCursor;
    int32_t count = 0;
    if (!plugin.readInt32(count)) {
        return false;
    }
    T scratch;
    for (int32_t i = 0; i < count; ++i) {
        if (!readRecord(scratch, RecordPass::kCount)) {
            return false;
        }
    }
    plugin.model.declaredCount(section) = count;
    return true;
}

// Decoding pass over one section: reads the count again and each record into its element. The
// array was sized by the same count; a record beyond it would be read into a scratch record.
template <typename T, typename ReadRecord>
bool decodeSection(KVTPlugin& plugin, ElementSlot<T>& slot, ReadRecord readRecord) noexcept {
    int32_t count = 0;
    if (!plugin.readInt32(count)) {
        return false;
    }
    T scratch;
    for (int32_t i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const bool ok = index < slot.items.size()
                            ? readRecord(slot.items[index], RecordPass::kDecode)
                            : readRecord(scratch, RecordPass::kCount);
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace quillmesh
