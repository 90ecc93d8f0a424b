// Our host's action descriptors: the value model, string IDs, the flattened
// byte layout (the public descriptor layout of image documents) and the C routine tables of
// the action descriptor, action list, action control and ZString suites plus
// the write-descriptor routines.
//
// The routines reach their state through Host::current(); every object they
// hand out stays owned by the host and is known by a reference that is never
// reused, so a double or unknown free is counted instead of crashing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "host/handle_store.h"
#include "hostapi/host_api.h"

namespace qmhost {

// Packs a four-character code, first character in the most significant byte.
constexpr HostKey fourcc(const char (&code)[5]) {
    return HOST_FOURCC(code[0], code[1], code[2], code[3]);
}

// A four-character code is four printable ASCII bytes (0x20..0x7E).
constexpr bool isFourCharCode(HostKey key) {
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t byte = (key >> shift) & 0xFFu;
        if (byte < 0x20u || byte > 0x7Eu) {
            return false;
        }
    }
    return true;
}

// Deepest nesting of lists and objects a descriptor may hold: the reader
// refuses more and the put routines never build more, so whatever the host
// flattens it can read back.
inline constexpr int kMaxDescriptorDepth = 64;

enum class ValueKind : uint8_t { Integer, Float, Boolean, Text, List, Object, Data };

class Value;

// Ordered keys with values and a class ID (0 for a root or unclassed one).
// Keys are found by a linear search in small descriptors and, from
// kIndexedFrom keys on, through an index of item positions.
class Descriptor {
  public:
    struct Item;
    static constexpr std::size_t kIndexedFrom = 32;

    Descriptor() = default;
    explicit Descriptor(HostKey classId);

    HostKey classId() const { return classId_; }
    void setClassId(HostKey classId) { classId_ = classId; }

    // Appends the key, or replaces the value of a key already present in place.
    void put(HostKey key, Value value);
    // Room for `count` keys in all, so that appending up to them moves nothing.
    void reserve(std::size_t count);
    const Value* find(HostKey key) const;
    bool contains(HostKey key) const { return find(key) != nullptr; }
    std::vector<HostKey> keys() const;
    std::size_t size() const;
    bool empty() const { return items_.empty(); }
    const std::vector<Item>& items() const { return items_; }
    // The deepest value's depth (0 when there are only scalars).
    int depth() const { return depth_; }

    // Same class, same keys in the same order, equal values.
    friend bool operator==(const Descriptor& a, const Descriptor& b);

  private:
    std::size_t position(HostKey key) const;

    HostKey classId_ = 0;
    std::vector<Item> items_;
    std::unordered_map<HostKey, uint32_t> index_;  // empty below kIndexedFrom keys
    int depth_ = 0;
};

// The bytes of a data block: immutable and shared by every copy of the value.
// A block owns its bytes or is a range of a shared buffer that it keeps alive.
class DataBlock {
  public:
    using value_type = uint8_t;
    using iterator = const uint8_t*;
    using const_iterator = const uint8_t*;

    DataBlock() = default;
    explicit DataBlock(std::vector<uint8_t> bytes);
    // `length` bytes of `buffer` from `offset`; the range must lie in the buffer.
    DataBlock(std::shared_ptr<const std::vector<uint8_t>> buffer, std::size_t offset,
              std::size_t length);

    const uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const uint8_t* begin() const { return data_; }
    const uint8_t* end() const { return data_ + size_; }

    // A copy of the bytes.
    operator std::vector<uint8_t>() const { return {begin(), end()}; }

    friend bool operator==(const DataBlock& a, const DataBlock& b);
    friend bool operator==(const DataBlock& a, const std::vector<uint8_t>& b);

  private:
    std::shared_ptr<const std::vector<uint8_t>> buffer_;
    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

struct ListItems;

// One typed value. Texts, lists, objects and data blocks are immutable once
// built and shared between copies, so copying a value never copies them.
class Value {
  public:
    Value() = default;  // Integer 0

    static Value fromInteger(int32_t value);
    static Value fromFloat(double value);
    static Value fromBoolean(bool value);
    static Value fromText(std::u16string text);
    static Value fromList(std::vector<Value> items);
    static Value fromSharedList(std::shared_ptr<const ListItems> items);
    // The object's class becomes the descriptor's class ID.
    static Value fromObject(HostKey classId, Descriptor descriptor);
    static Value fromData(std::vector<uint8_t> bytes);
    static Value fromDataBlock(DataBlock block);

    ValueKind kind() const { return static_cast<ValueKind>(value_.index()); }
    // Each accessor requires the matching kind (std::bad_variant_access otherwise).
    int32_t asInteger() const { return std::get<int32_t>(value_); }
    double asFloat() const { return std::get<double>(value_); }
    bool asBoolean() const { return std::get<bool>(value_); }
    const std::u16string& asText() const { return *std::get<Shared<std::u16string>>(value_); }
    const std::vector<Value>& asList() const;
    // Its classId() is the object's class.
    const Descriptor& asObject() const { return *std::get<Shared<Descriptor>>(value_); }
    const DataBlock& asData() const { return *std::get<Shared<DataBlock>>(value_); }

    // Nesting below this value: 0 for scalars, 1 + the deepest element for a
    // list, 1 + the descriptor's depth for an object.
    int depth() const;

    // Exact equality: floats compare by bit pattern, objects by content.
    friend bool operator==(const Value& a, const Value& b);

  private:
    template <class T>
    using Shared = std::shared_ptr<const T>;
    std::variant<int32_t, double, bool, Shared<std::u16string>, Shared<ListItems>,
                 Shared<Descriptor>, Shared<DataBlock>>
        value_{int32_t{0}};
};

// The items of a list value and how deep the list nests.
struct ListItems {
    std::vector<Value> items;
    int depth = 1;  // 1 + the deepest item's depth
};

struct Descriptor::Item {
    HostKey key;
    Value value;
};

// Defined once Item is complete: clang with libstdc++ instantiates the vector's members (constexpr
// in C++20) where an inline member uses them.
inline Descriptor::Descriptor(HostKey classId) : classId_(classId) {}
inline void Descriptor::reserve(std::size_t count) {
    items_.reserve(count);
}
inline std::size_t Descriptor::size() const {
    return items_.size();
}

// Runtime type IDs for strings. They come from a range whose high byte is
// below 0x20, so no four-character code is ever one of them.
class IdRegistry {
  public:
    static constexpr HostKey kFirstId = 0x10000000u;
    static constexpr HostKey kLastId = 0x1FFFFFFFu;

    // The stable ID of `text`; 0 for an empty text or when the range is used up.
    HostKey fromString(std::string_view text);
    bool isStringId(HostKey id) const { return id >= kFirstId && id - kFirstId < texts_.size(); }
    // The text an ID came from; null for an ID that did not come from a string.
    const std::string* textOf(HostKey id) const {
        return isStringId(id) ? &texts_[id - kFirstId] : nullptr;
    }
    std::size_t size() const { return texts_.size(); }

  private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::unordered_map<std::string, HostKey, TextHash, std::equal_to<>> ids_;
    // The text of ID kFirstId + i at i (a deque keeps the texts in place as it grows).
    std::deque<std::string> texts_;
};

// The flattened layout: u32 version 16, then the descriptor. Keys and classes
// that came from strings are written as their text, everything else as four
// bytes; a class ID of 0 is written as four zero bytes.
//
// The size of the flattened layout; nullopt when it is more than `limit` bytes
// or a count or length does not fit the layout's 32 bits. The work stops at the
// limit, however often shared parts repeat.
std::optional<std::size_t> flattenedSize(const Descriptor& descriptor, const IdRegistry& ids,
                                         std::size_t limit);
// The flattened layout in a buffer of exactly its size; nullopt as for
// flattenedSize.
std::optional<std::vector<uint8_t>> flattenAtMost(const Descriptor& descriptor,
                                                  const IdRegistry& ids, std::size_t limit);
// The same without a limit of its own; throws std::length_error when the
// layout cannot hold the descriptor.
std::vector<uint8_t> flatten(const Descriptor& descriptor, const IdRegistry& ids);

// Reads a flattened descriptor. Safe for untrusted input: refuses anything cut
// short, trailing bytes, lengths or counts running past the end, unknown
// value types, duplicate keys, keys that are neither a four-character code nor
// a string, and nesting deeper than kMaxDescriptorDepth. String IDs read are
// registered in `ids` (also when the input is refused later on). Data blocks
// are copied out of `bytes`.
std::optional<Descriptor> unflatten(std::span<const uint8_t> bytes, IdRegistry& ids);
// The same for bytes that stay unchanged: data blocks are ranges of `bytes`,
// which they keep alive, so none is copied. For an outline of a large
// descriptor, `keepLevels` limits what is built: the root's items are level 0,
// a list's items or an object's items one level below the list or object, and
// lists and objects whose items would lie below `keepLevels` are checked like
// the rest but come back empty (an object keeps its class).
std::optional<Descriptor> unflattenShared(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                          IdRegistry& ids, int keepLevels = kMaxDescriptorDepth);

struct DescriptorCounts {
    std::size_t descriptorsMade = 0;
    std::size_t descriptorsFreed = 0;
    std::size_t listsMade = 0;
    std::size_t listsFreed = 0;
    std::size_t zstringsMade = 0;
    std::size_t zstringsReleased = 0;
    std::size_t writeOpened = 0;
    std::size_t writeClosed = 0;
    std::size_t badFrees = 0;  // unknown, already freed or null references given back
};

// The host side of the four descriptor suites and the write-descriptor
// routines. The routine tables are the same for every instance; the routines
// act on the current host's instance.
class DescriptorHost {
  public:
    static constexpr HostError kErrBadArgument = -50;  // null pointer, unknown object, bad key
    static constexpr HostError kErrNoMemory = -108;    // injected make failure, handle refused
    static constexpr HostError kErrMalformed =
        -1702;  // a handle that is not a flattened descriptor

    explicit DescriptorHost(HandleStore& handles);
    ~DescriptorHost();
    DescriptorHost(const DescriptorHost&) = delete;
    DescriptorHost& operator=(const DescriptorHost&) = delete;

    const ActionDescriptorSuite* descriptorSuite() const;
    const ActionListSuite* listSuite() const;
    const ActionControlSuite* controlSuite() const;
    const ZStringSuite* zstringSuite() const;
    const WriteDescriptorRoutines* writeRoutines() const;

    // Accounting.
    const DescriptorCounts& counts() const { return counts_; }
    std::size_t liveDescriptors() const { return descriptors_.size(); }
    std::size_t liveLists() const { return lists_.size(); }
    std::size_t liveZStrings() const { return zstrings_.size(); }
    std::size_t liveWriteTokens() const { return tokens_.size(); }
    // Everything made was freed and nothing unknown was given back.
    bool balanced() const;
    std::string summary() const;

    // Let `count` more descriptor makes succeed (make, handle-to-descriptor,
    // write-descriptor open), then fail every one after. Negative: never fail.
    void failMakeAfter(int64_t count) { makeAllowance_ = count; }

    // Test access; null for an unknown reference.
    const Descriptor* view(DescriptorRef descriptor) const;
    const std::vector<Value>* viewList(ActionListRef list) const;
    const std::u16string* viewZString(ZStringRef zstring) const;
    // The descriptor an open write token collects (the host may fill it).
    Descriptor* writeDescriptor(WriteDescriptorToken token);
    // Unflattens a handle's bytes; nullopt for an unknown handle or bad bytes.
    std::optional<Descriptor> read(HostHandle handle) const;
    IdRegistry& ids() { return ids_; }
    const IdRegistry& ids() const { return ids_; }

  private:
    struct Routines;
    friend struct Routines;

    // A new handle holding the flattened descriptor, written straight into the
    // handle's storage; null when it is too large for a handle or refused.
    HostHandle flattenToHandle(const Descriptor& descriptor);
    // References are numbers that are never handed out twice.
    std::uintptr_t newReference();
    bool takeMakeAllowance();
    bool validKey(HostKey key) const;
    bool validClass(HostKey classId) const;

    HandleStore& handles_;
    mutable IdRegistry ids_;  // reading a handle may register string IDs
    std::unordered_map<std::uintptr_t, Descriptor> descriptors_;
    // A list is shared with the values it was put into until it changes again.
    std::unordered_map<std::uintptr_t, std::shared_ptr<ListItems>> lists_;
    std::unordered_map<std::uintptr_t, std::u16string> zstrings_;
    std::unordered_map<std::uintptr_t, Descriptor> tokens_;
    std::uintptr_t nextReference_ = 0x1000;
    DescriptorCounts counts_;
    int64_t makeAllowance_ = -1;
};

}  // namespace qmhost
