#include "host/descriptors.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <sstream>
#include <stdexcept>

#include "host/host.h"
#include "platform/large_buffer.h"

namespace qmhost {

DataBlock::DataBlock(std::vector<uint8_t> bytes)
    : buffer_(std::make_shared<const std::vector<uint8_t>>(std::move(bytes))),
      data_(buffer_->data()),
      size_(buffer_->size()) {}

DataBlock::DataBlock(std::shared_ptr<const std::vector<uint8_t>> buffer, std::size_t offset,
                     std::size_t length)
    : buffer_(std::move(buffer)), data_(buffer_->data() + offset), size_(length) {}

bool operator==(const DataBlock& a, const DataBlock& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

bool operator==(const DataBlock& a, const std::vector<uint8_t>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

Value Value::fromInteger(int32_t value) {
    Value v;
    v.value_ = value;
    return v;
}

Value Value::fromFloat(double value) {
    Value v;
    v.value_ = value;
    return v;
}

Value Value::fromBoolean(bool value) {
    Value v;
    v.value_ = value;
    return v;
}

Value Value::fromText(std::u16string text) {
    // Empty texts are common (unnamed maps and layers): they share one.
    static const auto kEmpty = std::make_shared<const std::u16string>();
    Value v;
    v.value_ = text.empty() ? kEmpty : std::make_shared<const std::u16string>(std::move(text));
    return v;
}

Value Value::fromList(std::vector<Value> items) {
    auto list = std::make_shared<ListItems>();
    for (const Value& item : items) {
        list->depth = std::max(list->depth, 1 + item.depth());
    }
    list->items = std::move(items);
    return fromSharedList(std::move(list));
}

Value Value::fromSharedList(std::shared_ptr<const ListItems> items) {
    Value v;
    v.value_ = std::move(items);
    return v;
}

Value Value::fromObject(HostKey classId, Descriptor descriptor) {
    Value v;
    descriptor.setClassId(classId);
    v.value_ = std::make_shared<const Descriptor>(std::move(descriptor));
    return v;
}

Value Value::fromData(std::vector<uint8_t> bytes) {
    return fromDataBlock(DataBlock(std::move(bytes)));
}

Value Value::fromDataBlock(DataBlock block) {
    Value v;
    v.value_ = std::make_shared<const DataBlock>(std::move(block));
    return v;
}

const std::vector<Value>& Value::asList() const {
    return std::get<Shared<ListItems>>(value_)->items;
}

int Value::depth() const {
    switch (kind()) {
        case ValueKind::List:
            return std::get<Shared<ListItems>>(value_)->depth;
        case ValueKind::Object:
            return 1 + asObject().depth();
        default:
            return 0;
    }
}

bool operator==(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) {
        return false;
    }
    switch (a.kind()) {
        case ValueKind::Integer:
            return a.asInteger() == b.asInteger();
        case ValueKind::Float:
            return std::bit_cast<uint64_t>(a.asFloat()) == std::bit_cast<uint64_t>(b.asFloat());
        case ValueKind::Boolean:
            return a.asBoolean() == b.asBoolean();
        case ValueKind::Text:
            return a.asText() == b.asText();
        case ValueKind::List:
            return a.asList() == b.asList();
        case ValueKind::Object:
            return a.asObject() == b.asObject();
        case ValueKind::Data:
            return a.asData() == b.asData();
    }
    return false;
}

std::size_t Descriptor::position(HostKey key) const {
    if (index_.empty()) {
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (items_[i].key == key) {
                return i;
            }
        }
        return items_.size();
    }
    const auto found = index_.find(key);
    return found == index_.end() ? items_.size() : found->second;
}

void Descriptor::put(HostKey key, Value value) {
    const int depth = value.depth();
    const std::size_t position = this->position(key);
    if (position == items_.size()) {
        if (items_.size() >= UINT32_MAX) {
            throw std::length_error("too many keys in one descriptor");
        }
        // Room for a texture map descriptor's 13 keys at the first put, so
        // that the thousands a scene holds never regrow their arrays.
        if (items_.capacity() == 0) {
            items_.reserve(16);
        }
        items_.push_back(Item{key, std::move(value)});
        try {
            if (items_.size() == kIndexedFrom) {
                for (std::size_t i = 0; i < items_.size(); ++i) {
                    index_.emplace(items_[i].key, static_cast<uint32_t>(i));
                }
            } else if (!index_.empty()) {
                index_.emplace(key, static_cast<uint32_t>(position));
            }
        } catch (...) {
            // Out of memory: the descriptor stays as it was.
            items_.pop_back();
            if (items_.size() + 1 == kIndexedFrom) {
                index_.clear();
            }
            throw;
        }
        depth_ = std::max(depth_, depth);
        return;
    }
    Value& slot = items_[position].value;
    const bool wasDeepest = slot.depth() == depth_;
    slot = std::move(value);
    if (depth >= depth_) {
        depth_ = depth;
    } else if (wasDeepest) {
        depth_ = 0;
        for (const Item& item : items_) {
            depth_ = std::max(depth_, item.value.depth());
        }
    }
}

const Value* Descriptor::find(HostKey key) const {
    const std::size_t position = this->position(key);
    return position == items_.size() ? nullptr : &items_[position].value;
}

std::vector<HostKey> Descriptor::keys() const {
    std::vector<HostKey> keys;
    keys.reserve(size());
    for (const Item& item : items_) {
        keys.push_back(item.key);
    }
    return keys;
}

bool operator==(const Descriptor& a, const Descriptor& b) {
    if (a.classId_ != b.classId_ || a.items_.size() != b.items_.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.items_.size(); ++i) {
        if (a.items_[i].key != b.items_[i].key || !(a.items_[i].value == b.items_[i].value)) {
            return false;
        }
    }
    return true;
}

HostKey IdRegistry::fromString(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    auto found = ids_.find(text);
    if (found != ids_.end()) {
        return found->second;
    }
    if (texts_.size() > kLastId - kFirstId) {
        return 0;
    }
    const auto id = static_cast<HostKey>(kFirstId + texts_.size());
    const auto entry = ids_.emplace(std::string(text), id).first;
    try {
        texts_.emplace_back(text);
    } catch (...) {
        ids_.erase(entry);
        throw;
    }
    return id;
}

namespace {

constexpr uint32_t kFlattenedVersion = 16;

constexpr HostKey kTypeInteger = fourcc("long");
constexpr HostKey kTypeFloat = fourcc("doub");
constexpr HostKey kTypeBoolean = fourcc("bool");
constexpr HostKey kTypeText = fourcc("TEXT");
constexpr HostKey kTypeList = fourcc("VlLs");
constexpr HostKey kTypeObject = fourcc("Objc");
constexpr HostKey kTypeData = fourcc("tdta");

// Smallest encodings, used to bound counts by the bytes left.
constexpr std::size_t kMinIdBytes = 8;         // length 0 + four bytes
constexpr std::size_t kMinValueBytes = 4 + 1;  // type + boolean
constexpr std::size_t kMinItemBytes = kMinIdBytes + kMinValueBytes;

HostKey typeOf(ValueKind kind) {
    switch (kind) {
        case ValueKind::Integer:
            return kTypeInteger;
        case ValueKind::Float:
            return kTypeFloat;
        case ValueKind::Boolean:
            return kTypeBoolean;
        case ValueKind::Text:
            return kTypeText;
        case ValueKind::List:
            return kTypeList;
        case ValueKind::Object:
            return kTypeObject;
        case ValueKind::Data:
            return kTypeData;
    }
    return 0;
}

// Writes the layout into `out`, or with `out` null only counts its bytes.
// Every step first takes its bytes within the capacity: past it, or at a count
// or length that does not fit the layout's 32 bits, the writer stops and
// reports it instead of writing on, so nothing wraps around and the work ends
// at the capacity even for shared parts repeated very often.
class Writer {
  public:
    Writer(uint8_t* out, std::size_t capacity, const IdRegistry& ids)
        : out_(out), capacity_(capacity), ids_(ids) {}

    // The bytes written or counted, when nothing was cut off.
    std::optional<std::size_t> used() const {
        return overflow_ ? std::nullopt : std::optional<std::size_t>(used_);
    }

    void u32(uint32_t value) {
        if (uint8_t* out = take(4)) {
            out[0] = static_cast<uint8_t>(value >> 24);
            out[1] = static_cast<uint8_t>(value >> 16);
            out[2] = static_cast<uint8_t>(value >> 8);
            out[3] = static_cast<uint8_t>(value);
        }
    }

    // A count or length, which must fit 32 bits.
    void count(std::size_t value) {
        if (value > UINT32_MAX) {
            overflow_ = true;
        }
        u32(static_cast<uint32_t>(value));
    }

    void u64(uint64_t value) {
        u32(static_cast<uint32_t>(value >> 32));
        u32(static_cast<uint32_t>(value));
    }

    void bytes(const uint8_t* data, std::size_t size) {
        if (uint8_t* out = take(size); out != nullptr && size != 0) {
            std::memcpy(out, data, size);
        }
    }

    void id(HostKey key) {
        if (const std::string* text = ids_.textOf(key)) {
            count(text->size());
            bytes(reinterpret_cast<const uint8_t*>(text->data()), text->size());
            return;
        }
        u32(0);
        u32(key);
    }

    void unicode(std::u16string_view text) {
        count(text.size() + 1);
        if (uint8_t* out = take(2 * (text.size() + 1))) {
            for (char16_t unit : text) {
                *out++ = static_cast<uint8_t>(unit >> 8);
                *out++ = static_cast<uint8_t>(unit);
            }
            out[0] = 0;
            out[1] = 0;
        }
    }

    void descriptor(const Descriptor& d) {
        unicode(u"");
        id(d.classId());
        count(d.size());
        for (const Descriptor::Item& item : d.items()) {
            if (overflow_) {
                return;
            }
            id(item.key);
            value(item.value);
        }
    }

    void value(const Value& v) {
        u32(typeOf(v.kind()));
        switch (v.kind()) {
            case ValueKind::Integer:
                u32(static_cast<uint32_t>(v.asInteger()));
                break;
            case ValueKind::Float:
                u64(std::bit_cast<uint64_t>(v.asFloat()));
                break;
            case ValueKind::Boolean:
                if (uint8_t* out = take(1)) {
                    *out = v.asBoolean() ? 1 : 0;
                }
                break;
            case ValueKind::Text:
                unicode(v.asText());
                break;
            case ValueKind::List:
                count(v.asList().size());
                for (const Value& item : v.asList()) {
                    if (overflow_) {
                        return;
                    }
                    value(item);
                }
                break;
            case ValueKind::Object:
                descriptor(v.asObject());
                break;
            case ValueKind::Data: {
                const DataBlock& block = v.asData();
                count(block.size());
                bytes(block.data(), block.size());
                break;
            }
        }
    }

  private:
    // The next `size` bytes to write (null when only counting), or null and
    // nothing more from then on when they would run past the capacity.
    uint8_t* take(std::size_t size) {
        if (overflow_ || size > capacity_ - used_) {
            overflow_ = true;
            return nullptr;
        }
        used_ += size;
        return out_ == nullptr ? nullptr : out_ + (used_ - size);
    }

    uint8_t* out_;
    std::size_t capacity_;
    std::size_t used_ = 0;
    bool overflow_ = false;
    const IdRegistry& ids_;
};

// A position and an end: every read succeeds completely or fails without
// moving; bounds are checked by subtraction.
class Reader {
  public:
    // With `shared`, the buffer `in` views: data blocks become ranges of it.
    // Lists and objects nested deeper than `keepLevels` are checked but come
    // back empty.
    Reader(std::span<const uint8_t> in, IdRegistry& ids,
           const std::shared_ptr<const std::vector<uint8_t>>* shared = nullptr,
           int keepLevels = kMaxDescriptorDepth)
        : in_(in), ids_(ids), shared_(shared), keepLevels_(keepLevels) {}

    std::size_t left() const { return in_.size() - pos_; }

    bool u32(uint32_t& out) {
        if (left() < 4) {
            return false;
        }
        out = (uint32_t{in_[pos_]} << 24) | (uint32_t{in_[pos_ + 1]} << 16) |
              (uint32_t{in_[pos_ + 2]} << 8) | uint32_t{in_[pos_ + 3]};
        pos_ += 4;
        return true;
    }

    bool u64(uint64_t& out) {
        if (left() < 8) {
            return false;
        }
        uint32_t high = 0;
        uint32_t low = 0;
        u32(high);
        u32(low);
        out = (uint64_t{high} << 32) | low;
        return true;
    }

    bool bytes(std::size_t count, std::span<const uint8_t>& out) {
        if (count > left()) {
            return false;
        }
        out = in_.subspan(pos_, count);
        pos_ += count;
        return true;
    }

    // A key (classPosition false) or class ID. Four bytes must be a
    // four-character code; a class may also be 0.
    bool id(bool classPosition, HostKey& out) {
        uint32_t length = 0;
        if (!u32(length)) {
            return false;
        }
        if (length == 0) {
            HostKey key = 0;
            if (!u32(key)) {
                return false;
            }
            if (!isFourCharCode(key) && !(classPosition && key == 0)) {
                return false;
            }
            out = key;
            return true;
        }
        std::span<const uint8_t> text;
        if (!bytes(length, text)) {
            return false;
        }
        out = ids_.fromString(
            std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
        return out != 0;
    }

    // Checked in full; decoded into `out` unless it is null.
    bool unicode(std::u16string* out) {
        uint32_t units = 0;
        if (!u32(units) || units == 0 || units > left() / 2) {
            return false;
        }
        std::span<const uint8_t> raw;
        bytes(std::size_t{units} * 2, raw);
        if (raw[raw.size() - 2] != 0 || raw[raw.size() - 1] != 0) {
            return false;  // the terminating 0 unit is missing
        }
        if (out != nullptr) {
            out->resize(units - 1);
            for (std::size_t i = 0; i + 1 < units; ++i) {
                (*out)[i] = static_cast<char16_t>((raw[2 * i] << 8) | raw[2 * i + 1]);
            }
        }
        return true;
    }

    // `depthLeft`: how many more levels of lists and objects may follow. The
    // class goes to `out` unless it is null, the items too if `keepItems`;
    // what is not kept is checked all the same.
    bool descriptor(int depthLeft, Descriptor* out, bool keepItems = true) {
        HostKey classId = 0;
        uint32_t count = 0;
        if (!unicode(nullptr) || !id(true, classId) || !u32(count) ||
            count > left() / kMinItemBytes) {
            return false;
        }
        if (out != nullptr) {
            out->setClassId(classId);
        }
        if (out == nullptr || !keepItems) {
            return skippedItems(depthLeft, count);
        }
        out->reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            HostKey key = 0;
            Value item;
            if (!id(false, key) || out->contains(key) || !value(depthLeft, &item)) {
                return false;
            }
            out->put(key, std::move(item));
        }
        return true;
    }

    // With `out` null the value is checked without being built.
    bool value(int depthLeft, Value* out) {
        HostKey type = 0;
        if (!u32(type)) {
            return false;
        }
        switch (type) {
            case kTypeInteger: {
                uint32_t raw = 0;
                if (!u32(raw)) {
                    return false;
                }
                return set(out, [&] { return Value::fromInteger(static_cast<int32_t>(raw)); });
            }
            case kTypeFloat: {
                uint64_t raw = 0;
                if (!u64(raw)) {
                    return false;
                }
                return set(out, [&] { return Value::fromFloat(std::bit_cast<double>(raw)); });
            }
            case kTypeBoolean: {
                std::span<const uint8_t> raw;
                if (!bytes(1, raw) || raw[0] > 1) {
                    return false;
                }
                return set(out, [&] { return Value::fromBoolean(raw[0] == 1); });
            }
            case kTypeText: {
                std::u16string text;
                if (!unicode(out != nullptr ? &text : nullptr)) {
                    return false;
                }
                return set(out, [&] { return Value::fromText(std::move(text)); });
            }
            case kTypeList:
                return list(depthLeft, out);
            case kTypeObject: {
                Descriptor object;
                if (depthLeft == 0 || !descriptor(depthLeft - 1, out != nullptr ? &object : nullptr,
                                                  keeps(depthLeft, out))) {
                    return false;
                }
                const HostKey classId = object.classId();
                return set(out, [&] { return Value::fromObject(classId, std::move(object)); });
            }
            case kTypeData: {
                uint32_t length = 0;
                std::span<const uint8_t> raw;
                if (!u32(length) || !bytes(length, raw)) {
                    return false;
                }
                return set(out, [&] {
                    if (shared_ == nullptr) {
                        return Value::fromData(std::vector<uint8_t>(raw.begin(), raw.end()));
                    }
                    const auto offset = static_cast<std::size_t>(raw.data() - in_.data());
                    return Value::fromDataBlock(DataBlock(*shared_, offset, raw.size()));
                });
            }
            default:
                return false;
        }
    }

    bool list(int depthLeft, Value* out) {
        uint32_t count = 0;
        if (depthLeft == 0 || !u32(count) || count > left() / kMinValueBytes) {
            return false;
        }
        std::vector<Value> items;
        const bool keep = keeps(depthLeft, out);
        if (keep) {
            items.reserve(count);
        }
        for (uint32_t i = 0; i < count; ++i) {
            Value item;
            if (!value(depthLeft - 1, keep ? &item : nullptr)) {
                return false;
            }
            if (keep) {
                items.push_back(std::move(item));
            }
        }
        return set(out, [&] { return Value::fromList(std::move(items)); });
    }

  private:
    template <class Make>
    static bool set(Value* out, Make&& make) {
        if (out != nullptr) {
            *out = make();
        }
        return true;
    }

    // Whether the contents of a list or object read at `depthLeft` are kept.
    bool keeps(int depthLeft, const Value* out) const {
        return out != nullptr && kMaxDescriptorDepth - depthLeft < keepLevels_;
    }

    // The items of a descriptor that is not built: each is checked, and no key
    // may come twice.
    bool skippedItems(int depthLeft, uint32_t count) {
        if (seenKeys_.empty()) {
            seenKeys_.resize(kMaxDescriptorDepth + 1);
        }
        // Nested descriptors have less depth left, so they use other lists.
        std::vector<HostKey>& seen = seenKeys_[static_cast<std::size_t>(depthLeft)];
        seen.clear();
        for (uint32_t i = 0; i < count; ++i) {
            HostKey key = 0;
            if (!id(false, key) || !value(depthLeft, nullptr)) {
                return false;
            }
            seen.push_back(key);
        }
        std::sort(seen.begin(), seen.end());
        return std::adjacent_find(seen.begin(), seen.end()) == seen.end();
    }

    std::span<const uint8_t> in_;
    IdRegistry& ids_;
    const std::shared_ptr<const std::vector<uint8_t>>* shared_;
    int keepLevels_;
    std::vector<std::vector<HostKey>> seenKeys_;
    std::size_t pos_ = 0;
};

std::optional<Descriptor> read(Reader& reader) {
    uint32_t version = 0;
    Descriptor descriptor;
    if (!reader.u32(version) || version != kFlattenedVersion ||
        !reader.descriptor(kMaxDescriptorDepth, &descriptor) || reader.left() != 0) {
        return std::nullopt;
    }
    return descriptor;
}

}  // namespace

std::optional<std::size_t> flattenedSize(const Descriptor& descriptor, const IdRegistry& ids,
                                         std::size_t limit) {
    Writer counter(nullptr, limit, ids);
    counter.u32(kFlattenedVersion);
    counter.descriptor(descriptor);
    return counter.used();
}

std::optional<std::vector<uint8_t>> flattenAtMost(const Descriptor& descriptor,
                                                  const IdRegistry& ids, std::size_t limit) {
    const std::optional<std::size_t> size = flattenedSize(descriptor, ids, limit);
    if (!size) {
        return std::nullopt;
    }
    // Sized (and so zero-filled) first, then written through a cursor, which
    // is much faster than appending byte by byte.
    std::vector<uint8_t> out;
    quillmesh::platform::reserveLarge(out, *size);
    out.resize(*size);
    Writer writer(out.data(), out.size(), ids);
    writer.u32(kFlattenedVersion);
    writer.descriptor(descriptor);
    if (writer.used() != size) {
        throw std::logic_error("the flattened size was miscounted");
    }
    return out;
}

std::vector<uint8_t> flatten(const Descriptor& descriptor, const IdRegistry& ids) {
    std::optional<std::vector<uint8_t>> out =
        flattenAtMost(descriptor, ids, std::vector<uint8_t>().max_size());
    if (!out) {
        throw std::length_error("the descriptor does not fit the flattened layout");
    }
    return std::move(*out);
}

std::optional<Descriptor> unflatten(std::span<const uint8_t> bytes, IdRegistry& ids) {
    Reader reader(bytes, ids);
    return read(reader);
}

std::optional<Descriptor> unflattenShared(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                          IdRegistry& ids, int keepLevels) {
    if (bytes == nullptr) {
        return std::nullopt;
    }
    Reader reader(*bytes, ids, &bytes, keepLevels);
    return read(reader);
}

namespace {

template <class Ref>
Ref toRef(std::uintptr_t reference) {
    return reinterpret_cast<Ref>(reference);
}

template <class Ref>
std::uintptr_t fromRef(Ref ref) {
    return reinterpret_cast<std::uintptr_t>(ref);
}

template <class Map, class Ref>
auto* lookup(Map& map, Ref ref) {
    auto found = map.find(fromRef(ref));
    return found == map.end() ? nullptr : &found->second;
}

std::u16string latin1ToUtf16(std::string_view text) {
    std::u16string out(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        out[i] = static_cast<unsigned char>(text[i]);
    }
    return out;
}

// No exception may cross a C routine: allocation failures become an error.
template <class F>
HostError guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return DescriptorHost::kErrNoMemory;
    } catch (...) {
        return DescriptorHost::kErrBadArgument;
    }
}

}  // namespace

// The C routines: each finds the current host's DescriptorHost and checks
// every argument before acting.
struct DescriptorHost::Routines {
    static DescriptorHost* self() {
        return Host::hasCurrent() ? &Host::current().descriptors() : nullptr;
    }

    template <class F>
    static HostError run(F&& body) noexcept {
        return guarded([&]() -> HostError {
            DescriptorHost* host = self();
            return host == nullptr ? kErrBadArgument : body(*host);
        });
    }

    // Puts `value` under `key` into a live descriptor.
    static HostError put(DescriptorRef descriptor, HostKey key, Value value) {
        return run([&](DescriptorHost& host) -> HostError {
            Descriptor* target = lookup(host.descriptors_, descriptor);
            if (target == nullptr || !host.validKey(key) || value.depth() > kMaxDescriptorDepth) {
                return kErrBadArgument;
            }
            target->put(key, std::move(value));
            return 0;
        });
    }

    static HostError HOSTAPI_CALL make(DescriptorRef* descriptor) {
        return run([&](DescriptorHost& host) -> HostError {
            if (descriptor == nullptr) {
                return kErrBadArgument;
            }
            *descriptor = nullptr;
            if (!host.takeMakeAllowance()) {
                return kErrNoMemory;
            }
            const std::uintptr_t reference = host.newReference();
            host.descriptors_.emplace(reference, Descriptor());
            ++host.counts_.descriptorsMade;
            *descriptor = toRef<DescriptorRef>(reference);
            return 0;
        });
    }

    static HostError HOSTAPI_CALL free(DescriptorRef descriptor) {
        return run([&](DescriptorHost& host) -> HostError {
            if (host.descriptors_.erase(fromRef(descriptor)) == 0) {
                ++host.counts_.badFrees;
                return kErrBadArgument;
            }
            ++host.counts_.descriptorsFreed;
            return 0;
        });
    }

    static HostError HOSTAPI_CALL putInteger(DescriptorRef descriptor, HostKey key, int32_t value) {
        return put(descriptor, key, Value::fromInteger(value));
    }

    static HostError HOSTAPI_CALL putFloat(DescriptorRef descriptor, HostKey key, double value) {
        return put(descriptor, key, Value::fromFloat(value));
    }

    static HostError HOSTAPI_CALL putBoolean(DescriptorRef descriptor, HostKey key, uint8_t value) {
        return put(descriptor, key, Value::fromBoolean(value != 0));
    }

    static HostError HOSTAPI_CALL putString(DescriptorRef descriptor, HostKey key,
                                            const char* text) {
        if (text == nullptr) {
            return kErrBadArgument;
        }
        return guarded([&] { return put(descriptor, key, Value::fromText(latin1ToUtf16(text))); });
    }

    static HostError HOSTAPI_CALL putZString(DescriptorRef descriptor, HostKey key,
                                             ZStringRef text) {
        return run([&](DescriptorHost& host) -> HostError {
            const std::u16string* source = lookup(host.zstrings_, text);
            if (source == nullptr) {
                return kErrBadArgument;
            }
            return put(descriptor, key, Value::fromText(*source));
        });
    }

    // The list is shared with the value; the next change to the list unshares it.
    static HostError HOSTAPI_CALL putList(DescriptorRef descriptor, HostKey key,
                                          ActionListRef list) {
        return run([&](DescriptorHost& host) -> HostError {
            const std::shared_ptr<ListItems>* source = lookup(host.lists_, list);
            if (source == nullptr) {
                return kErrBadArgument;
            }
            return put(descriptor, key, Value::fromSharedList(*source));
        });
    }

    // The object shares the source's items; the next change to either unshares them.
    static HostError HOSTAPI_CALL putObject(DescriptorRef descriptor, HostKey key, HostKey classKey,
                                            DescriptorRef value) {
        return run([&](DescriptorHost& host) -> HostError {
            const Descriptor* source = lookup(host.descriptors_, value);
            if (source == nullptr || !host.validClass(classKey)) {
                return kErrBadArgument;
            }
            return put(descriptor, key, Value::fromObject(classKey, *source));
        });
    }

    static HostError HOSTAPI_CALL putData(DescriptorRef descriptor, HostKey key, int32_t length,
                                          const void* data) {
        if (length < 0 || (data == nullptr && length > 0)) {
            return kErrBadArgument;
        }
        return guarded([&] {
            const auto* bytes = static_cast<const uint8_t*>(data);
            std::vector<uint8_t> copy;
            quillmesh::platform::reserveLarge(copy, static_cast<std::size_t>(length));
            copy.assign(bytes, bytes == nullptr ? bytes : bytes + length);
            return put(descriptor, key, Value::fromData(std::move(copy)));
        });
    }

    static HostError HOSTAPI_CALL asHandle(DescriptorRef descriptor, HostHandle* handle) {
        return run([&](DescriptorHost& host) -> HostError {
            if (handle == nullptr) {
                return kErrBadArgument;
            }
            *handle = nullptr;
            const Descriptor* source = lookup(host.descriptors_, descriptor);
            if (source == nullptr) {
                return kErrBadArgument;
            }
            *handle = host.flattenToHandle(*source);
            return *handle == nullptr ? kErrNoMemory : 0;
        });
    }

    static HostError HOSTAPI_CALL handleToDescriptor(HostHandle handle, DescriptorRef* descriptor) {
        return run([&](DescriptorHost& host) -> HostError {
            if (descriptor == nullptr) {
                return kErrBadArgument;
            }
            *descriptor = nullptr;
            if (handle == nullptr || !host.handles_.owns(handle)) {
                return kErrBadArgument;
            }
            std::optional<Descriptor> read = unflatten(host.handles_.bytes(handle), host.ids_);
            if (!read) {
                return kErrMalformed;
            }
            if (!host.takeMakeAllowance()) {
                return kErrNoMemory;
            }
            const std::uintptr_t reference = host.newReference();
            host.descriptors_.emplace(reference, std::move(*read));
            ++host.counts_.descriptorsMade;
            *descriptor = toRef<DescriptorRef>(reference);
            return 0;
        });
    }

    static HostError HOSTAPI_CALL listMake(ActionListRef* list) {
        return run([&](DescriptorHost& host) -> HostError {
            if (list == nullptr) {
                return kErrBadArgument;
            }
            const std::uintptr_t reference = host.newReference();
            host.lists_.emplace(reference, std::make_shared<ListItems>());
            ++host.counts_.listsMade;
            *list = toRef<ActionListRef>(reference);
            return 0;
        });
    }

    static HostError HOSTAPI_CALL listFree(ActionListRef list) {
        return run([&](DescriptorHost& host) -> HostError {
            if (host.lists_.erase(fromRef(list)) == 0) {
                ++host.counts_.badFrees;
                return kErrBadArgument;
            }
            ++host.counts_.listsFreed;
            return 0;
        });
    }

    // Appends to a live list, as long as the list could still be put into a
    // descriptor afterwards.
    static HostError append(ActionListRef list, Value value) {
        return run([&](DescriptorHost& host) -> HostError {
            std::shared_ptr<ListItems>* target = lookup(host.lists_, list);
            const int depth = 1 + value.depth();
            if (target == nullptr || depth > kMaxDescriptorDepth) {
                return kErrBadArgument;
            }
            // A value holding the list as it was keeps it: the change goes to a copy.
            if (target->use_count() > 1) {
                *target = std::make_shared<ListItems>(**target);
            }
            ListItems& items = **target;
            items.items.push_back(std::move(value));
            items.depth = std::max(items.depth, depth);
            return 0;
        });
    }

    static HostError HOSTAPI_CALL listPutInteger(ActionListRef list, int32_t value) {
        return append(list, Value::fromInteger(value));
    }

    static HostError HOSTAPI_CALL listPutFloat(ActionListRef list, double value) {
        return append(list, Value::fromFloat(value));
    }

    static HostError HOSTAPI_CALL listPutObject(ActionListRef list, HostKey classKey,
                                                DescriptorRef value) {
        return run([&](DescriptorHost& host) -> HostError {
            const Descriptor* source = lookup(host.descriptors_, value);
            if (source == nullptr || !host.validClass(classKey)) {
                return kErrBadArgument;
            }
            return append(list, Value::fromObject(classKey, *source));
        });
    }

    static HostError HOSTAPI_CALL stringIDToTypeID(const char* stringID, HostKey* typeID) {
        return run([&](DescriptorHost& host) -> HostError {
            if (stringID == nullptr || typeID == nullptr) {
                return kErrBadArgument;
            }
            *typeID = host.ids_.fromString(stringID);
            return *typeID == 0 ? kErrBadArgument : 0;
        });
    }

    static HostError HOSTAPI_CALL zstringMake(const HostChar16* text, uint32_t length,
                                              ZStringRef* zstring) {
        return run([&](DescriptorHost& host) -> HostError {
            if (zstring == nullptr) {
                return kErrBadArgument;
            }
            *zstring = nullptr;
            if (text == nullptr && length > 0) {
                return kErrBadArgument;
            }
            const std::uintptr_t reference = host.newReference();
            host.zstrings_.emplace(reference, std::u16string(text == nullptr ? u"" : text, length));
            ++host.counts_.zstringsMade;
            *zstring = toRef<ZStringRef>(reference);
            return 0;
        });
    }

    static HostError HOSTAPI_CALL zstringRelease(ZStringRef zstring) {
        return run([&](DescriptorHost& host) -> HostError {
            if (host.zstrings_.erase(fromRef(zstring)) == 0) {
                ++host.counts_.badFrees;
                return kErrBadArgument;
            }
            ++host.counts_.zstringsReleased;
            return 0;
        });
    }

    static WriteDescriptorToken HOSTAPI_CALL openWrite() {
        WriteDescriptorToken token = nullptr;
        run([&](DescriptorHost& host) -> HostError {
            if (!host.takeMakeAllowance()) {
                return kErrNoMemory;
            }
            const std::uintptr_t reference = host.newReference();
            host.tokens_.emplace(reference, Descriptor());
            ++host.counts_.writeOpened;
            token = toRef<WriteDescriptorToken>(reference);
            return 0;
        });
        return token;
    }

    static HostError HOSTAPI_CALL closeWrite(WriteDescriptorToken token, HostHandle* descriptor) {
        return run([&](DescriptorHost& host) -> HostError {
            if (descriptor == nullptr) {
                return kErrBadArgument;
            }
            *descriptor = nullptr;
            auto found = host.tokens_.find(fromRef(token));
            if (found == host.tokens_.end()) {
                ++host.counts_.badFrees;
                return kErrBadArgument;
            }
            HostHandle written = host.flattenToHandle(found->second);
            host.tokens_.erase(found);
            ++host.counts_.writeClosed;
            *descriptor = written;
            return written == nullptr ? kErrNoMemory : 0;
        });
    }
};

DescriptorHost::DescriptorHost(HandleStore& handles) : handles_(handles) {}

DescriptorHost::~DescriptorHost() = default;

const ActionDescriptorSuite* DescriptorHost::descriptorSuite() const {
    static constexpr ActionDescriptorSuite suite = {
        Routines::make,       Routines::free,       Routines::putInteger,
        Routines::putFloat,   Routines::putBoolean, Routines::putString,
        Routines::putZString, Routines::putList,    Routines::putObject,
        Routines::putData,    Routines::asHandle,   Routines::handleToDescriptor,
    };
    return &suite;
}

const ActionListSuite* DescriptorHost::listSuite() const {
    static constexpr ActionListSuite suite = {
        Routines::listMake,     Routines::listFree,      Routines::listPutInteger,
        Routines::listPutFloat, Routines::listPutObject,
    };
    return &suite;
}

const ActionControlSuite* DescriptorHost::controlSuite() const {
    static constexpr ActionControlSuite suite = {Routines::stringIDToTypeID};
    return &suite;
}

const ZStringSuite* DescriptorHost::zstringSuite() const {
    static constexpr ZStringSuite suite = {Routines::zstringMake, Routines::zstringRelease};
    return &suite;
}

const WriteDescriptorRoutines* DescriptorHost::writeRoutines() const {
    static constexpr WriteDescriptorRoutines routines = {Routines::openWrite, Routines::closeWrite};
    return &routines;
}

bool DescriptorHost::balanced() const {
    return descriptors_.empty() && lists_.empty() && zstrings_.empty() && tokens_.empty() &&
           counts_.badFrees == 0;
}

std::string DescriptorHost::summary() const {
    std::ostringstream out;
    out << "descriptors made " << counts_.descriptorsMade << " freed " << counts_.descriptorsFreed
        << "; lists made " << counts_.listsMade << " freed " << counts_.listsFreed
        << "; zstrings made " << counts_.zstringsMade << " released " << counts_.zstringsReleased
        << "; write descriptors opened " << counts_.writeOpened << " closed " << counts_.writeClosed
        << "; bad frees " << counts_.badFrees;
    return out.str();
}

const Descriptor* DescriptorHost::view(DescriptorRef descriptor) const {
    return lookup(descriptors_, descriptor);
}

const std::vector<Value>* DescriptorHost::viewList(ActionListRef list) const {
    const std::shared_ptr<ListItems>* found = lookup(lists_, list);
    return found == nullptr ? nullptr : &(*found)->items;
}

const std::u16string* DescriptorHost::viewZString(ZStringRef zstring) const {
    return lookup(zstrings_, zstring);
}

Descriptor* DescriptorHost::writeDescriptor(WriteDescriptorToken token) {
    return lookup(tokens_, token);
}

std::optional<Descriptor> DescriptorHost::read(HostHandle handle) const {
    if (handle == nullptr || !handles_.owns(handle)) {
        return std::nullopt;
    }
    return unflatten(handles_.bytes(handle), ids_);
}

HostHandle DescriptorHost::flattenToHandle(const Descriptor& descriptor) {
    std::optional<std::vector<uint8_t>> bytes =
        flattenAtMost(descriptor, ids_, static_cast<std::size_t>(HandleStore::kMaxSize));
    return bytes ? handles_.adopt(std::move(*bytes)) : nullptr;
}

std::uintptr_t DescriptorHost::newReference() {
    const std::uintptr_t reference = nextReference_;
    nextReference_ += 0x10;
    return reference;
}

bool DescriptorHost::takeMakeAllowance() {
    if (makeAllowance_ == 0) {
        return false;
    }
    if (makeAllowance_ > 0) {
        --makeAllowance_;
    }
    return true;
}

bool DescriptorHost::validKey(HostKey key) const {
    return isFourCharCode(key) || ids_.isStringId(key);
}

bool DescriptorHost::validClass(HostKey classId) const {
    return classId == 0 || validKey(classId);
}

}  // namespace qmhost
