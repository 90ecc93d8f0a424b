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
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
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

class Descriptor;

// One typed value. Objects are immutable once built and shared between
// copies, so copying a list of objects does not copy the objects.
class Value {
  public:
    Value() = default;  // Integer 0

    static Value fromInteger(int32_t value);
    static Value fromFloat(double value);
    static Value fromBoolean(bool value);
    static Value fromText(std::u16string text);
    static Value fromList(std::vector<Value> items);
    // The object's class becomes the descriptor's class ID.
    static Value fromObject(HostKey classId, Descriptor descriptor);
    static Value fromData(std::vector<uint8_t> bytes);

    ValueKind kind() const { return static_cast<ValueKind>(value_.index()); }
    // Each accessor requires the matching kind (std::bad_variant_access otherwise).
    int32_t asInteger() const { return std::get<int32_t>(value_); }
    double asFloat() const { return std::get<double>(value_); }
    bool asBoolean() const { return std::get<bool>(value_); }
    const std::u16string& asText() const { return std::get<std::u16string>(value_); }
    const std::vector<Value>& asList() const { return std::get<std::vector<Value>>(value_); }
    const Descriptor& asObject() const;  // its classId() is the object's class
    const std::vector<uint8_t>& asData() const { return std::get<std::vector<uint8_t>>(value_); }

    // Nesting below this value: 0 for scalars, 1 + the deepest element for a
    // list, 1 + the descriptor's depth for an object.
    int depth() const { return depth_; }

    // Exact equality: floats compare by bit pattern, objects by content.
    friend bool operator==(const Value& a, const Value& b);

  private:
    std::variant<int32_t, double, bool, std::u16string, std::vector<Value>,
                 std::shared_ptr<const Descriptor>, std::vector<uint8_t>>
        value_{int32_t{0}};
    int depth_ = 0;
};

// Ordered keys with values and a class ID (0 for a root or unclassed one).
class Descriptor {
  public:
    struct Item {
        HostKey key;
        Value value;
    };

    Descriptor() = default;
    explicit Descriptor(HostKey classId) : classId_(classId) {}

    HostKey classId() const { return classId_; }
    void setClassId(HostKey classId) { classId_ = classId; }

    // Appends the key, or replaces the value of a key already present in place.
    void put(HostKey key, Value value);
    const Value* find(HostKey key) const;
    bool contains(HostKey key) const { return index_.count(key) != 0; }
    std::vector<HostKey> keys() const;
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    const std::vector<Item>& items() const { return items_; }
    // The deepest value's depth (0 when there are only scalars).
    int depth() const { return depth_; }

    // Same class, same keys in the same order, equal values.
    friend bool operator==(const Descriptor& a, const Descriptor& b);

  private:
    HostKey classId_ = 0;
    std::vector<Item> items_;
    std::unordered_map<HostKey, std::size_t> index_;
    int depth_ = 0;
};

// Runtime type IDs for strings. They come from a range whose high byte is
// below 0x20, so no four-character code is ever one of them.
class IdRegistry {
  public:
    static constexpr HostKey kFirstId = 0x10000000u;
    static constexpr HostKey kLastId = 0x1FFFFFFFu;

    // The stable ID of `text`; 0 for an empty text or when the range is used up.
    HostKey fromString(std::string_view text);
    bool isStringId(HostKey id) const { return texts_.count(id) != 0; }
    // The text an ID came from; null for an ID that did not come from a string.
    const std::string* textOf(HostKey id) const;
    std::size_t size() const { return texts_.size(); }

  private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::unordered_map<std::string, HostKey, TextHash, std::equal_to<>> ids_;
    std::unordered_map<HostKey, std::string> texts_;
    HostKey next_ = kFirstId;
};

// The flattened layout: u32 version 16, then the descriptor. Keys and classes
// that came from strings are written as their text, everything else as four
// bytes; a class ID of 0 is written as four zero bytes.
std::vector<uint8_t> flatten(const Descriptor& descriptor, const IdRegistry& ids);

// Reads a flattened descriptor. Safe for untrusted input: refuses anything cut
// short, trailing bytes, lengths or counts running past the end, unknown
// value types, duplicate keys, keys that are neither a four-character code nor
// a string, and nesting deeper than kMaxDescriptorDepth. String IDs read are
// registered in `ids` (also when the input is refused later on).
std::optional<Descriptor> unflatten(std::span<const uint8_t> bytes, IdRegistry& ids);

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

    // References are numbers that are never handed out twice.
    std::uintptr_t newReference();
    bool takeMakeAllowance();
    bool validKey(HostKey key) const;
    bool validClass(HostKey classId) const;

    HandleStore& handles_;
    mutable IdRegistry ids_;  // reading a handle may register string IDs
    std::unordered_map<std::uintptr_t, Descriptor> descriptors_;
    std::unordered_map<std::uintptr_t, std::vector<Value>> lists_;
    std::unordered_map<std::uintptr_t, std::u16string> zstrings_;
    std::unordered_map<std::uintptr_t, Descriptor> tokens_;
    std::uintptr_t nextReference_ = 0x1000;
    DescriptorCounts counts_;
    int64_t makeAllowance_ = -1;
};

}  // namespace qmhost
