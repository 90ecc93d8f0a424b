#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/descriptors.h"
#include "host/host.h"

namespace qmhost {
namespace {

using Bytes = std::vector<uint8_t>;

// Builds flattened bytes by hand for the golden and malformed inputs.
class ByteBuilder {
  public:
    ByteBuilder& u32(uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes_.push_back(static_cast<uint8_t>(value >> shift));
        }
        return *this;
    }
    ByteBuilder& byte(uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    ByteBuilder& code(const char (&text)[5]) { return u32(fourcc(text)); }
    ByteBuilder& key(const char (&text)[5]) { return u32(0).code(text); }
    ByteBuilder& stringKey(const std::string& text) {
        u32(static_cast<uint32_t>(text.size()));
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return *this;
    }
    ByteBuilder& emptyName() { return u32(1).byte(0).byte(0); }
    // Version, empty class name, class 0 and the item count.
    ByteBuilder& root(uint32_t count) { return u32(16).emptyName().u32(0).u32(0).u32(count); }
    Bytes build() const { return bytes_; }

  private:
    Bytes bytes_;
};

std::string hex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        if (!out.empty()) {
            out += ' ';
        }
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
    return out;
}

// A descriptor holding every value kind, string-ID and four-character keys.
Descriptor everyKind(IdRegistry& ids) {
    Descriptor inner;
    inner.put(fourcc("X   "), Value::fromFloat(1.5));
    inner.put(ids.fromString("key3DPaintType"), Value::fromText(u"diffuse"));

    Descriptor listed;
    listed.put(fourcc("Nm  "), Value::fromText(u"light"));

    Descriptor root;
    root.put(fourcc("VrsM"), Value::fromInteger(1));
    root.put(fourcc("VrsN"), Value::fromInteger(std::numeric_limits<int32_t>::min()));
    root.put(fourcc("GamR"), Value::fromFloat(-0.0));
    root.put(fourcc("GamG"), Value::fromFloat(std::numeric_limits<double>::denorm_min()));
    root.put(fourcc("GamB"), Value::fromFloat(std::bit_cast<double>(0x7FF8000000000123ull)));
    root.put(fourcc("flip"), Value::fromBoolean(false));
    root.put(ids.fromString("flip"), Value::fromBoolean(true));
    root.put(fourcc("Nm  "), Value::fromText(u"Caf\u00e9 \u4e16\u754c \U0001F600"));
    root.put(fourcc("GRNm"), Value::fromText(u""));
    root.put(fourcc("lite"), Value::fromList({Value::fromInteger(-7), Value::fromFloat(0.25),
                                              Value::fromObject(fourcc("litc"), listed),
                                              Value::fromList({}), Value::fromText(u"x")}));
    root.put(ids.fromString("key3DState"), Value::fromObject(ids.fromString("key3DState"), inner));
    root.put(fourcc("verl"), Value::fromData({0x00, 0xFF, 0x10, 0x00, 0x80, 0x7F}));
    root.put(fourcc("nrml"), Value::fromData({}));
    return root;
}

TEST(IdRegistryTest, SameTextGivesSameId) {
    IdRegistry ids;
    const HostKey first = ids.fromString("key3DState");
    EXPECT_EQ(ids.fromString("key3DState"), first);
    EXPECT_NE(ids.fromString("key3DStateName"), first);
    EXPECT_EQ(ids.size(), 2u);
}

TEST(IdRegistryTest, IdsAreNeverFourCharacterCodes) {
    IdRegistry ids;
    for (const char* text : {"flip", "minimum", "maximum", "VrsM", "a", "key3DPaintType"}) {
        const HostKey id = ids.fromString(text);
        EXPECT_NE(id, 0u) << text;
        EXPECT_FALSE(isFourCharCode(id)) << text;
        EXPECT_TRUE(ids.isStringId(id)) << text;
    }
    EXPECT_FALSE(ids.isStringId(fourcc("flip")));
}

TEST(IdRegistryTest, RemembersTheText) {
    IdRegistry ids;
    const HostKey id = ids.fromString("printerResolution");
    ASSERT_NE(ids.textOf(id), nullptr);
    EXPECT_EQ(*ids.textOf(id), "printerResolution");
    EXPECT_EQ(ids.textOf(fourcc("VrsM")), nullptr);
}

TEST(IdRegistryTest, EmptyTextHasNoId) {
    IdRegistry ids;
    EXPECT_EQ(ids.fromString(""), 0u);
    EXPECT_EQ(ids.size(), 0u);
}

TEST(IdRegistryTest, FourccPacksFirstCharacterHigh) {
    EXPECT_EQ(fourcc("VrsM"), 0x5672734Du);
    EXPECT_TRUE(isFourCharCode(fourcc("Nm  ")));
    EXPECT_FALSE(isFourCharCode(0));
    EXPECT_FALSE(isFourCharCode(0x5672737Fu));
}

TEST(DescriptorModelTest, PutOfAnExistingKeyReplacesInPlace) {
    Descriptor d;
    d.put(fourcc("aaaa"), Value::fromInteger(1));
    d.put(fourcc("bbbb"), Value::fromInteger(2));
    d.put(fourcc("aaaa"), Value::fromText(u"three"));
    EXPECT_EQ(d.keys(), (std::vector<HostKey>{fourcc("aaaa"), fourcc("bbbb")}));
    ASSERT_NE(d.find(fourcc("aaaa")), nullptr);
    EXPECT_EQ(d.find(fourcc("aaaa"))->asText(), u"three");
    EXPECT_EQ(d.find(fourcc("cccc")), nullptr);
    EXPECT_EQ(d.size(), 2u);
}

TEST(DescriptorModelTest, ManyKeysKeepTheirOrderAndAreReplacedInPlace) {
    // "k000" to "k999".
    const auto keyAt = [](uint32_t i) {
        return fourcc("k000") + (i / 100 << 16) + (i / 10 % 10 << 8) + i % 10;
    };
    Descriptor d;
    for (uint32_t i = 0; i < 1000; ++i) {
        d.put(keyAt(i), Value::fromInteger(static_cast<int32_t>(i)));
    }
    const Descriptor before = d;
    for (uint32_t i = 0; i < 1000; i += 7) {
        d.put(keyAt(i), Value::fromInteger(-1));
    }
    ASSERT_EQ(d.size(), 1000u);
    for (uint32_t i = 0; i < 1000; ++i) {
        EXPECT_EQ(d.items()[i].key, keyAt(i));
        ASSERT_NE(d.find(keyAt(i)), nullptr) << i;
        EXPECT_EQ(d.find(keyAt(i))->asInteger(), i % 7 == 0 ? -1 : static_cast<int32_t>(i));
        EXPECT_EQ(before.find(keyAt(i))->asInteger(), static_cast<int32_t>(i));
    }
    EXPECT_EQ(d.find(fourcc("none")), nullptr);

    IdRegistry ids;
    const std::optional<Descriptor> back = unflatten(flatten(d, ids), ids);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(*back == d);
}

TEST(DescriptorModelTest, DepthFollowsListsAndObjects) {
    Descriptor d;
    EXPECT_EQ(d.depth(), 0);
    Descriptor inner;
    inner.put(fourcc("Mtrx"), Value::fromList({Value::fromFloat(1.0)}));
    d.put(fourcc("obj "), Value::fromObject(fourcc("cls "), inner));
    EXPECT_EQ(d.depth(), 2);
    d.put(fourcc("obj "), Value::fromInteger(0));
    EXPECT_EQ(d.depth(), 0);
}

TEST(DescriptorModelTest, ObjectCarriesItsClass) {
    const Value v = Value::fromObject(fourcc("GeoR"), Descriptor(fourcc("xxxx")));
    EXPECT_EQ(v.kind(), ValueKind::Object);
    EXPECT_EQ(v.asObject().classId(), fourcc("GeoR"));
}

TEST(FlattenTest, RoundTripKeepsEveryValueKind) {
    IdRegistry ids;
    const Descriptor original = everyKind(ids);
    const Bytes bytes = flatten(original, ids);
    const std::optional<Descriptor> back = unflatten(bytes, ids);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(*back == original);
    EXPECT_EQ(flatten(*back, ids), bytes);
    EXPECT_TRUE(std::signbit(back->find(fourcc("GamR"))->asFloat()));

    const auto shared = std::make_shared<const Bytes>(bytes);
    const std::optional<Descriptor> viewed = unflattenShared(shared, ids);
    ASSERT_TRUE(viewed.has_value());
    EXPECT_TRUE(*viewed == original);
    // Its data blocks are ranges of the bytes read, not copies.
    const uint8_t* block = viewed->find(fourcc("verl"))->asData().data();
    EXPECT_TRUE(block >= shared->data() && block < shared->data() + shared->size());
}

TEST(FlattenTest, SizeIsExactAndBoundsTheFlattening) {
    IdRegistry ids;
    const Descriptor d = everyKind(ids);
    const std::size_t size = flatten(d, ids).size();
    EXPECT_EQ(flattenedSize(d, ids, size).value_or(0), size);
    EXPECT_FALSE(flattenedSize(d, ids, size - 1).has_value());
    EXPECT_FALSE(flattenAtMost(d, ids, size - 1).has_value());
    ASSERT_TRUE(flattenAtMost(d, ids, size).has_value());
    EXPECT_EQ(flattenAtMost(d, ids, size)->capacity(), size);
}

// The outline of everyKind's bytes kept down to each level: how many items the
// list "lite", its object and the object "key3DState" come back with.
TEST(FlattenTest, OutlineKeepsTheLevelsAskedFor) {
    struct Case {
        int levels;
        std::size_t list, objectInList, object;
    };
    IdRegistry ids;
    const auto bytes = std::make_shared<const Bytes>(flatten(everyKind(ids), ids));
    for (const Case& c : {Case{0, 0, 0, 0}, Case{1, 5, 0, 2}, Case{2, 5, 1, 2}}) {
        const std::optional<Descriptor> d = unflattenShared(bytes, ids, c.levels);
        ASSERT_TRUE(d.has_value()) << c.levels;
        EXPECT_EQ(d->size(), 13u);
        const Value& list = *d->find(fourcc("lite"));
        ASSERT_EQ(list.asList().size(), c.list) << c.levels;
        if (c.list != 0) {
            EXPECT_EQ(list.asList()[2].asObject().size(), c.objectInList) << c.levels;
        }
        const Descriptor& object = d->find(ids.fromString("key3DState"))->asObject();
        EXPECT_EQ(object.size(), c.object) << c.levels;
        EXPECT_EQ(object.classId(), ids.fromString("key3DState"));
    }
}

TEST(FlattenTest, StringIdsReadIntoAnotherRegistryKeepTheirText) {
    IdRegistry writer;
    const Descriptor original = everyKind(writer);
    const Bytes bytes = flatten(original, writer);
    IdRegistry reader;
    reader.fromString("something else first");
    const std::optional<Descriptor> back = unflatten(bytes, reader);
    ASSERT_TRUE(back.has_value());
    const HostKey flip = reader.fromString("flip");
    ASSERT_NE(back->find(flip), nullptr);
    EXPECT_TRUE(back->find(flip)->asBoolean());
    EXPECT_FALSE(back->find(fourcc("flip"))->asBoolean());
    EXPECT_EQ(back->find(reader.fromString("key3DState"))->asObject().classId(),
              reader.fromString("key3DState"));
    EXPECT_EQ(flatten(*back, reader), bytes);
}

TEST(FlattenTest, GoldenBytesOfOneInteger) {
    IdRegistry ids;
    Descriptor d;
    d.put(fourcc("VrsM"), Value::fromInteger(1));
    const Bytes expected = {
        0x00, 0x00, 0x00, 0x10,                          // version 16
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00,              // empty class name
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // class 0
        0x00, 0x00, 0x00, 0x01,                          // one item
        0x00, 0x00, 0x00, 0x00, 0x56, 0x72, 0x73, 0x4D,  // 'VrsM'
        0x6C, 0x6F, 0x6E, 0x67, 0x00, 0x00, 0x00, 0x01,  // 'long' 1
    };
    EXPECT_EQ(hex(flatten(d, ids)), hex(expected));
}

TEST(FlattenTest, GoldenBytesOfEveryType) {
    IdRegistry ids;
    Descriptor object;
    object.put(fourcc("Rd  "), Value::fromFloat(1.0));
    Descriptor d;
    d.put(fourcc("Nm  "), Value::fromText(u"A\u00e9"));
    d.put(fourcc("attn"), Value::fromBoolean(true));
    d.put(fourcc("Mtrx"), Value::fromList({Value::fromInteger(-2)}));
    d.put(fourcc("GeoL"), Value::fromObject(fourcc("GeoR"), object));
    d.put(fourcc("uvl "), Value::fromData({0x01, 0x02, 0x03}));
    const Bytes expected = ByteBuilder()
                               .root(5)
                               .key("Nm  ")
                               .code("TEXT")
                               .u32(3)
                               .byte(0x00)
                               .byte(0x41)
                               .byte(0x00)
                               .byte(0xE9)
                               .byte(0)
                               .byte(0)
                               .key("attn")
                               .code("bool")
                               .byte(1)
                               .key("Mtrx")
                               .code("VlLs")
                               .u32(1)
                               .code("long")
                               .u32(0xFFFFFFFE)
                               .key("GeoL")
                               .code("Objc")
                               .emptyName()
                               .key("GeoR")
                               .u32(1)
                               .key("Rd  ")
                               .code("doub")
                               .u32(0x3FF00000)
                               .u32(0)
                               .key("uvl ")
                               .code("tdta")
                               .u32(3)
                               .byte(1)
                               .byte(2)
                               .byte(3)
                               .build();
    EXPECT_EQ(hex(flatten(d, ids)), hex(expected));
}

TEST(FlattenTest, FourCharacterStringIdIsWrittenAsString) {
    IdRegistry ids;
    Descriptor d;
    d.put(ids.fromString("flip"), Value::fromBoolean(true));
    const Bytes expected = ByteBuilder()
                               .root(1)
                               .u32(4)
                               .byte('f')
                               .byte('l')
                               .byte('i')
                               .byte('p')
                               .code("bool")
                               .byte(1)
                               .build();
    EXPECT_EQ(hex(flatten(d, ids)), hex(expected));
}

TEST(FlattenTest, StringIdClassIsWrittenAsString) {
    IdRegistry ids;
    const HostKey state = ids.fromString("key3DState");
    Descriptor d;
    d.put(state, Value::fromObject(state, Descriptor()));
    const Bytes expected = ByteBuilder()
                               .root(1)
                               .stringKey("key3DState")
                               .code("Objc")
                               .emptyName()
                               .stringKey("key3DState")
                               .u32(0)
                               .build();
    EXPECT_EQ(hex(flatten(d, ids)), hex(expected));
}

TEST(FlattenTest, EveryProperPrefixIsRejected) {
    IdRegistry ids;
    const Bytes whole = flatten(everyKind(ids), ids);
    ASSERT_TRUE(unflatten(whole, ids).has_value());
    for (std::size_t length = 0; length < whole.size(); ++length) {
        // Its own exactly-sized buffer, so the sanitizer sees any over-read.
        const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(unflatten(prefix, ids).has_value()) << "prefix of " << length << " bytes";
    }
}

TEST(FlattenTest, TrailingBytesAreRejected) {
    IdRegistry ids;
    Bytes bytes = flatten(everyKind(ids), ids);
    bytes.push_back(0);
    EXPECT_FALSE(unflatten(bytes, ids).has_value());
}

struct MalformedCase {
    const char* defect;
    Bytes bytes;
};

std::vector<MalformedCase> malformedCases() {
    const auto intItem = [](ByteBuilder b) { return b.key("VrsM").code("long").u32(1); };
    // A list of one object of `count` items, the list's only item at the root.
    const auto listedObject = [](uint32_t count) {
        ByteBuilder b;
        b.root(1).key("GeoL").code("VlLs").u32(1).code("Objc").emptyName().key("GeoR");
        return b.u32(count);
    };
    return {
        {"empty input", {}},
        {"version 15", intItem(ByteBuilder().u32(15).emptyName().u32(0).u32(0).u32(1)).build()},
        {"unknown value type", ByteBuilder().root(1).key("VrsM").code("long").build()},
        {"unknown value type", ByteBuilder().root(1).key("VrsM").code("enum").u32(1).build()},
        {"item count past end", intItem(ByteBuilder().root(2)).build()},
        {"item count 0xFFFFFFFF", intItem(ByteBuilder().root(0xFFFFFFFF)).build()},
        {"class name length past end", ByteBuilder().u32(16).u32(100).byte(0).byte(0).build()},
        {"class name length 0xFFFFFFFF", ByteBuilder().u32(16).u32(0xFFFFFFFF).build()},
        {"class name without terminator",
         ByteBuilder().u32(16).u32(1).byte(0).byte(0x41).u32(0).u32(0).u32(0).build()},
        {"class name of zero units", ByteBuilder().u32(16).u32(0).u32(0).u32(0).u32(0).build()},
        {"text length past end",
         ByteBuilder().root(1).key("Nm  ").code("TEXT").u32(9).byte(0).byte(0).build()},
        {"data length past end",
         ByteBuilder().root(1).key("verl").code("tdta").u32(5).byte(1).build()},
        {"data length 0xFFFFFFFF",
         ByteBuilder().root(1).key("verl").code("tdta").u32(0xFFFFFFFF).byte(1).build()},
        {"key text length past end",
         ByteBuilder().root(1).u32(40).byte('f').code("bool").byte(1).build()},
        {"key that is not a four-character code",
         ByteBuilder().root(1).u32(0).u32(1).code("bool").byte(1).build()},
        {"key 0", ByteBuilder().root(1).u32(0).u32(0).code("bool").byte(1).build()},
        {"class that is not a four-character code",
         ByteBuilder().u32(16).emptyName().u32(0).u32(0x00000005).u32(0).build()},
        {"boolean 2", ByteBuilder().root(1).key("attn").code("bool").byte(2).build()},
        {"duplicate key", intItem(intItem(ByteBuilder().root(2))).build()},
        {"list count past end",
         ByteBuilder().root(1).key("Mtrx").code("VlLs").u32(3).code("long").u32(1).build()},
        {"list count 0xFFFFFFFF",
         ByteBuilder().root(1).key("Mtrx").code("VlLs").u32(0xFFFFFFFF).build()},
        {"object count past end",
         ByteBuilder().root(1).key("GeoL").code("Objc").emptyName().key("GeoR").u32(1).build()},
        {"duplicate key in a listed object", intItem(intItem(listedObject(2))).build()},
    };
}

TEST(FlattenTest, MalformedInputsAreRejected) {
    for (const MalformedCase& c : malformedCases()) {
        IdRegistry ids;
        EXPECT_FALSE(unflatten(c.bytes, ids).has_value()) << c.defect;
        // An outline checks what it does not keep just as closely.
        EXPECT_FALSE(unflattenShared(std::make_shared<const Bytes>(c.bytes), ids, 0).has_value())
            << c.defect;
    }
}

// Lists nested `levels` deep around one integer.
Bytes nestedLists(int levels) {
    ByteBuilder b;
    b.root(1).key("Mtrx");
    for (int i = 0; i < levels; ++i) {
        b.code("VlLs").u32(1);
    }
    b.code("long").u32(7);
    return b.build();
}

TEST(FlattenTest, NestingUpToTheLimitIsRead) {
    IdRegistry ids;
    const std::optional<Descriptor> d = unflatten(nestedLists(kMaxDescriptorDepth), ids);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->depth(), kMaxDescriptorDepth);
}

TEST(FlattenTest, NestingBeyondTheLimitIsRejected) {
    IdRegistry ids;
    EXPECT_FALSE(unflatten(nestedLists(kMaxDescriptorDepth + 1), ids).has_value());
    EXPECT_FALSE(unflatten(nestedLists(100000), ids).has_value());
}

TEST(FlattenTest, DeepObjectsAreRejected) {
    ByteBuilder b;
    b.root(1);
    const int levels = kMaxDescriptorDepth + 1;
    for (int i = 0; i < levels; ++i) {
        b.key("obj ").code("Objc").emptyName().key("cls ").u32(1);
    }
    b.key("VrsM").code("long").u32(1);
    IdRegistry ids;
    EXPECT_FALSE(unflatten(b.build(), ids).has_value());
}

// Routine-level tests: a Host is current while they run.
class DescriptorRoutinesTest : public ::testing::Test {
  protected:
    Host host;
    DescriptorHost& dh = host.descriptors();
    const ActionDescriptorSuite& ad = *dh.descriptorSuite();
    const ActionListSuite& al = *dh.listSuite();
    const ActionControlSuite& ac = *dh.controlSuite();
    const ZStringSuite& zs = *dh.zstringSuite();
    const WriteDescriptorRoutines& wr = *dh.writeRoutines();

    DescriptorRef make() {
        DescriptorRef d = nullptr;
        EXPECT_EQ(ad.make(&d), 0);
        EXPECT_NE(d, nullptr);
        return d;
    }
    HostKey stringId(const char* text) {
        HostKey id = 0;
        EXPECT_EQ(ac.stringIDToTypeID(text, &id), 0);
        return id;
    }
};

TEST_F(DescriptorRoutinesTest, EveryTableIsComplete) {
    const void* const routines[] = {
        reinterpret_cast<const void*>(ad.make),
        reinterpret_cast<const void*>(ad.free),
        reinterpret_cast<const void*>(ad.putInteger),
        reinterpret_cast<const void*>(ad.putFloat),
        reinterpret_cast<const void*>(ad.putBoolean),
        reinterpret_cast<const void*>(ad.putString),
        reinterpret_cast<const void*>(ad.putZString),
        reinterpret_cast<const void*>(ad.putList),
        reinterpret_cast<const void*>(ad.putObject),
        reinterpret_cast<const void*>(ad.putData),
        reinterpret_cast<const void*>(ad.asHandle),
        reinterpret_cast<const void*>(ad.handleToDescriptor),
        reinterpret_cast<const void*>(al.make),
        reinterpret_cast<const void*>(al.free),
        reinterpret_cast<const void*>(al.putInteger),
        reinterpret_cast<const void*>(al.putFloat),
        reinterpret_cast<const void*>(al.putObject),
        reinterpret_cast<const void*>(ac.stringIDToTypeID),
        reinterpret_cast<const void*>(zs.makeFromUnicode),
        reinterpret_cast<const void*>(zs.release),
        reinterpret_cast<const void*>(wr.openWriteDescriptor),
        reinterpret_cast<const void*>(wr.closeWriteDescriptor),
    };
    for (const void* routine : routines) {
        EXPECT_NE(routine, nullptr);
    }
}

TEST_F(DescriptorRoutinesTest, PutsAndFreesBalance) {
    DescriptorRef root = make();
    DescriptorRef child = make();
    ActionListRef list = nullptr;
    ASSERT_EQ(al.make(&list), 0);
    ZStringRef name = nullptr;
    ASSERT_EQ(zs.makeFromUnicode(u"Scene", 5, &name), 0);

    EXPECT_EQ(ad.putInteger(root, fourcc("VrsM"), 1), 0);
    EXPECT_EQ(ad.putFloat(child, fourcc("GeLa"), 48.5), 0);
    EXPECT_EQ(al.putObject(list, fourcc("GeoR"), child), 0);
    EXPECT_EQ(al.putFloat(list, 2.0), 0);
    EXPECT_EQ(al.putInteger(list, 3), 0);
    EXPECT_EQ(ad.putList(root, fourcc("GeoL"), list), 0);
    EXPECT_EQ(ad.putZString(root, fourcc("Nm  "), name), 0);
    EXPECT_EQ(ad.putObject(root, fourcc("obj "), fourcc("cls "), child), 0);
    EXPECT_FALSE(dh.balanced());

    const Descriptor* view = dh.view(root);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->keys(), (std::vector<HostKey>{fourcc("VrsM"), fourcc("GeoL"), fourcc("Nm  "),
                                                  fourcc("obj ")}));
    const std::vector<Value>& items = view->find(fourcc("GeoL"))->asList();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].asObject().classId(), fourcc("GeoR"));
    EXPECT_EQ(items[0].asObject().find(fourcc("GeLa"))->asFloat(), 48.5);
    EXPECT_EQ(items[1].asFloat(), 2.0);
    EXPECT_EQ(items[2].asInteger(), 3);
    EXPECT_EQ(view->find(fourcc("Nm  "))->asText(), u"Scene");
    EXPECT_EQ(view->find(fourcc("obj "))->asObject().classId(), fourcc("cls "));

    EXPECT_EQ(zs.release(name), 0);
    EXPECT_EQ(al.free(list), 0);
    EXPECT_EQ(ad.free(child), 0);
    EXPECT_EQ(ad.free(root), 0);
    EXPECT_TRUE(dh.balanced()) << dh.summary();
    EXPECT_EQ(dh.counts().descriptorsMade, 2u);
    EXPECT_EQ(dh.counts().descriptorsFreed, 2u);
    EXPECT_EQ(dh.counts().listsMade, 1u);
    EXPECT_EQ(dh.counts().zstringsReleased, 1u);
}

TEST_F(DescriptorRoutinesTest, PutsCopyTheirValues) {
    DescriptorRef root = make();
    DescriptorRef child = make();
    ActionListRef list = nullptr;
    ASSERT_EQ(al.make(&list), 0);
    EXPECT_EQ(ad.putInteger(child, fourcc("a   "), 1), 0);
    EXPECT_EQ(al.putInteger(list, 1), 0);
    EXPECT_EQ(ad.putObject(root, fourcc("obj "), fourcc("cls "), child), 0);
    EXPECT_EQ(ad.putList(root, fourcc("lst "), list), 0);

    // Changing or freeing the originals leaves what was put alone.
    EXPECT_EQ(ad.putInteger(child, fourcc("b   "), 2), 0);
    EXPECT_EQ(al.putInteger(list, 2), 0);
    EXPECT_EQ(ad.free(child), 0);
    EXPECT_EQ(al.free(list), 0);
    const Descriptor* view = dh.view(root);
    EXPECT_EQ(view->find(fourcc("obj "))->asObject().size(), 1u);
    EXPECT_EQ(view->find(fourcc("lst "))->asList().size(), 1u);
    EXPECT_EQ(dh.view(child), nullptr);
    EXPECT_EQ(ad.free(root), 0);
    EXPECT_TRUE(dh.balanced()) << dh.summary();
}

TEST_F(DescriptorRoutinesTest, EachPutKeepsItsSourceAsItWasThen) {
    DescriptorRef root = make();
    DescriptorRef child = make();
    ActionListRef list = nullptr;
    ASSERT_EQ(al.make(&list), 0);
    uint8_t bytes[] = {1, 2, 3};
    ASSERT_EQ(ad.putData(child, fourcc("verl"), 3, bytes), 0);
    ASSERT_EQ(al.putObject(list, fourcc("cls "), child), 0);
    ASSERT_EQ(ad.putObject(root, fourcc("one "), fourcc("cls "), child), 0);
    ASSERT_EQ(ad.putList(root, fourcc("lst1"), list), 0);

    // Changes after the first puts: the caller's bytes, the child, the list.
    bytes[0] = 9;
    ASSERT_EQ(ad.putInteger(child, fourcc("more"), 1), 0);
    ASSERT_EQ(al.putObject(list, fourcc("cls "), child), 0);
    ASSERT_EQ(ad.putObject(root, fourcc("two "), fourcc("cls "), child), 0);
    ASSERT_EQ(ad.putList(root, fourcc("lst2"), list), 0);
    // And the root after it was put into another descriptor.
    DescriptorRef outer = make();
    ASSERT_EQ(ad.putObject(outer, fourcc("root"), fourcc("cls "), root), 0);
    ASSERT_EQ(ad.putInteger(root, fourcc("late"), 1), 0);
    for (DescriptorRef d : {child, root}) {
        ASSERT_EQ(ad.free(d), 0);
    }
    ASSERT_EQ(al.free(list), 0);

    const Descriptor& kept = dh.view(outer)->find(fourcc("root"))->asObject();
    EXPECT_EQ(kept.size(), 4u);
    EXPECT_EQ(kept.find(fourcc("one "))->asObject().size(), 1u);
    EXPECT_EQ(kept.find(fourcc("one "))->asObject().find(fourcc("verl"))->asData(),
              (Bytes{1, 2, 3}));
    EXPECT_EQ(kept.find(fourcc("two "))->asObject().size(), 2u);
    const std::vector<Value>& first = kept.find(fourcc("lst1"))->asList();
    const std::vector<Value>& second = kept.find(fourcc("lst2"))->asList();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].asObject().size(), 1u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[1].asObject().size(), 2u);
    EXPECT_EQ(ad.free(outer), 0);
    EXPECT_TRUE(dh.balanced()) << dh.summary();
}

TEST_F(DescriptorRoutinesTest, ObjectPutIntoItselfIsASnapshot) {
    DescriptorRef d = make();
    EXPECT_EQ(ad.putInteger(d, fourcc("a   "), 1), 0);
    EXPECT_EQ(ad.putObject(d, fourcc("self"), fourcc("self"), d), 0);
    const Descriptor* view = dh.view(d);
    EXPECT_EQ(view->size(), 2u);
    EXPECT_EQ(view->find(fourcc("self"))->asObject().size(), 1u);
    EXPECT_EQ(ad.free(d), 0);
}

TEST_F(DescriptorRoutinesTest, UnknownAndDoubleFreesAreCounted) {
    DescriptorRef d = make();
    EXPECT_EQ(ad.free(d), 0);
    EXPECT_NE(ad.free(d), 0);
    EXPECT_NE(ad.free(reinterpret_cast<DescriptorRef>(uintptr_t{0x12345678})), 0);
    EXPECT_NE(ad.free(nullptr), 0);
    EXPECT_NE(al.free(reinterpret_cast<ActionListRef>(d)), 0);
    EXPECT_NE(zs.release(nullptr), 0);
    EXPECT_EQ(dh.counts().badFrees, 5u);
    EXPECT_FALSE(dh.balanced());
}

TEST_F(DescriptorRoutinesTest, ReferencesAreNeverReused) {
    DescriptorRef first = make();
    EXPECT_EQ(ad.free(first), 0);
    DescriptorRef second = make();
    EXPECT_NE(first, second);
    EXPECT_NE(ad.free(first), 0);
    EXPECT_NE(dh.view(second), nullptr);
    EXPECT_EQ(ad.free(second), 0);
}

TEST_F(DescriptorRoutinesTest, BadArgumentsAreRefused) {
    DescriptorRef d = make();
    DescriptorRef unknown = reinterpret_cast<DescriptorRef>(uintptr_t{0x999990});
    const char bytes[] = {1, 2, 3};
    EXPECT_NE(ad.make(nullptr), 0);
    EXPECT_NE(ad.putInteger(unknown, fourcc("VrsM"), 1), 0);
    EXPECT_NE(ad.putInteger(d, 0, 1), 0);            // not a key
    EXPECT_NE(ad.putInteger(d, 0x12345678u, 1), 0);  // neither code nor string ID
    EXPECT_NE(ad.putString(d, fourcc("Nm  "), nullptr), 0);
    EXPECT_NE(ad.putZString(d, fourcc("Nm  "), nullptr), 0);
    EXPECT_NE(ad.putList(d, fourcc("lst "), nullptr), 0);
    EXPECT_NE(ad.putObject(d, fourcc("obj "), fourcc("cls "), unknown), 0);
    EXPECT_NE(ad.putObject(d, fourcc("obj "), 0x01020304u, d), 0);  // bad class
    EXPECT_NE(ad.putData(d, fourcc("verl"), -1, bytes), 0);
    EXPECT_NE(ad.putData(d, fourcc("verl"), 3, nullptr), 0);
    EXPECT_NE(ad.asHandle(d, nullptr), 0);
    EXPECT_NE(ad.handleToDescriptor(nullptr, nullptr), 0);
    EXPECT_NE(al.make(nullptr), 0);
    EXPECT_NE(al.putInteger(nullptr, 1), 0);
    EXPECT_NE(al.putObject(nullptr, fourcc("cls "), d), 0);
    EXPECT_NE(ac.stringIDToTypeID(nullptr, nullptr), 0);
    HostKey id = 0;
    EXPECT_NE(ac.stringIDToTypeID("", &id), 0);
    EXPECT_NE(zs.makeFromUnicode(nullptr, 3, nullptr), 0);
    EXPECT_EQ(dh.view(d)->size(), 0u);
    EXPECT_EQ(dh.counts().badFrees, 0u);
    EXPECT_EQ(ad.free(d), 0);
    EXPECT_TRUE(dh.balanced()) << dh.summary();
}

TEST_F(DescriptorRoutinesTest, DataAndNarrowStringsAreStored) {
    DescriptorRef d = make();
    const uint8_t bytes[] = {0x00, 0xFF, 0x7F};
    EXPECT_EQ(ad.putData(d, fourcc("verl"), 3, bytes), 0);
    EXPECT_EQ(ad.putData(d, fourcc("nrml"), 0, nullptr), 0);
    EXPECT_EQ(ad.putString(d, fourcc("Nm  "), "Caf\xE9\x80"), 0);
    EXPECT_EQ(ad.putBoolean(d, fourcc("attn"), 7), 0);
    const Descriptor* view = dh.view(d);
    EXPECT_EQ(view->find(fourcc("verl"))->asData(), (Bytes{0x00, 0xFF, 0x7F}));
    EXPECT_TRUE(view->find(fourcc("nrml"))->asData().empty());
    EXPECT_EQ(view->find(fourcc("Nm  "))->asText(), u"Caf\u00e9\u0080");
    EXPECT_TRUE(view->find(fourcc("attn"))->asBoolean());
    EXPECT_EQ(ad.free(d), 0);
}

TEST_F(DescriptorRoutinesTest, ZStringCopiesTheGivenLength) {
    ZStringRef z = nullptr;
    ASSERT_EQ(zs.makeFromUnicode(u"abcdef", 3, &z), 0);
    ASSERT_NE(dh.viewZString(z), nullptr);
    EXPECT_EQ(*dh.viewZString(z), u"abc");
    EXPECT_EQ(zs.release(z), 0);
    EXPECT_NE(zs.release(z), 0);
    EXPECT_EQ(dh.counts().zstringsMade, 1u);
    EXPECT_EQ(dh.counts().badFrees, 1u);
}

TEST_F(DescriptorRoutinesTest, StringIdsAreStableAndDistinctFromCodes) {
    const HostKey flip = stringId("flip");
    EXPECT_EQ(stringId("flip"), flip);
    EXPECT_NE(flip, fourcc("flip"));
    EXPECT_TRUE(dh.ids().isStringId(flip));
}

TEST_F(DescriptorRoutinesTest, MakeFailureInjection) {
    dh.failMakeAfter(2);
    DescriptorRef a = make();
    DescriptorRef b = make();
    DescriptorRef c = reinterpret_cast<DescriptorRef>(uintptr_t{1});
    EXPECT_EQ(ad.make(&c), DescriptorHost::kErrNoMemory);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(wr.openWriteDescriptor(), nullptr);
    HostHandle h = nullptr;
    ASSERT_EQ(ad.asHandle(a, &h), 0);
    EXPECT_NE(ad.handleToDescriptor(h, &c), 0);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(dh.counts().descriptorsMade, 2u);

    dh.failMakeAfter(-1);
    EXPECT_EQ(ad.make(&c), 0);
    for (DescriptorRef d : {a, b, c}) {
        EXPECT_EQ(ad.free(d), 0);
    }
    host.handles().dispose(h);
    EXPECT_TRUE(dh.balanced()) << dh.summary();
}

TEST_F(DescriptorRoutinesTest, AsHandleAndBackThroughTheHandleStore) {
    const HostKey state = stringId("key3DState");
    DescriptorRef root = make();
    DescriptorRef child = make();
    EXPECT_EQ(ad.putInteger(root, fourcc("VrsM"), 1), 0);
    EXPECT_EQ(ad.putFloat(child, stringId("key3DXPos"), -2.5), 0);
    EXPECT_EQ(ad.putObject(root, state, state, child), 0);

    HostHandle h = nullptr;
    ASSERT_EQ(ad.asHandle(root, &h), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(host.handles().owns(h));
    const std::optional<Descriptor> read = dh.read(h);
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(*read == *dh.view(root));

    DescriptorRef back = nullptr;
    ASSERT_EQ(ad.handleToDescriptor(h, &back), 0);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(*dh.view(back) == *dh.view(root));
    const Value* object = dh.view(back)->find(state);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->asObject().classId(), state);
    EXPECT_EQ(object->asObject().find(stringId("key3DXPos"))->asFloat(), -2.5);

    host.handles().dispose(h);
    for (DescriptorRef d : {root, child, back}) {
        EXPECT_EQ(ad.free(d), 0);
    }
    EXPECT_TRUE(dh.balanced()) << dh.summary();
}

TEST_F(DescriptorRoutinesTest, RefusedHandleGivesNullAndError) {
    DescriptorRef d = make();
    host.handles().failAfter(0);
    HostHandle h = reinterpret_cast<HostHandle>(uintptr_t{1});
    EXPECT_EQ(ad.asHandle(d, &h), DescriptorHost::kErrNoMemory);
    EXPECT_EQ(h, nullptr);
    host.handles().failAfter(-1);
    EXPECT_EQ(ad.free(d), 0);
}

TEST_F(DescriptorRoutinesTest, MalformedHandleGivesNoDescriptor) {
    const Bytes garbage = {0x00, 0x00, 0x00, 0x10, 0xFF};
    HostHandle h = host.handles().createFrom(garbage);
    DescriptorRef d = reinterpret_cast<DescriptorRef>(uintptr_t{1});
    EXPECT_EQ(ad.handleToDescriptor(h, &d), DescriptorHost::kErrMalformed);
    EXPECT_EQ(d, nullptr);
    EXPECT_FALSE(dh.read(h).has_value());
    HostHandleRecord foreign{};
    EXPECT_NE(ad.handleToDescriptor(&foreign, &d), 0);
    host.handles().dispose(h);
    EXPECT_EQ(dh.counts().descriptorsMade, 0u);
}

TEST_F(DescriptorRoutinesTest, NestingBeyondTheLimitIsRefused) {
    DescriptorRef inner = make();
    DescriptorRef outer = make();
    EXPECT_EQ(ad.putInteger(inner, fourcc("leaf"), 1), 0);
    int accepted = 0;
    // Wrap the descriptor in itself until the host refuses.
    for (int i = 0; i < kMaxDescriptorDepth + 5; ++i) {
        if (ad.putObject(outer, fourcc("obj "), fourcc("cls "), inner) != 0) {
            break;
        }
        ++accepted;
        std::swap(inner, outer);
    }
    EXPECT_EQ(accepted, kMaxDescriptorDepth);
    HostHandle h = nullptr;
    ASSERT_EQ(ad.asHandle(inner, &h), 0);
    EXPECT_TRUE(dh.read(h).has_value());
    host.handles().dispose(h);
    EXPECT_EQ(ad.free(inner), 0);
    EXPECT_EQ(ad.free(outer), 0);
}

TEST_F(DescriptorRoutinesTest, WriteDescriptorClosesIntoAnEmptyDescriptor) {
    WriteDescriptorToken token = wr.openWriteDescriptor();
    ASSERT_NE(token, nullptr);
    HostHandle h = nullptr;
    EXPECT_EQ(wr.closeWriteDescriptor(token, &h), 0);
    ASSERT_NE(h, nullptr);
    const std::optional<Descriptor> read = dh.read(h);
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(read->empty());
    EXPECT_EQ(read->classId(), 0u);
    host.handles().dispose(h);
    HostHandle again = nullptr;
    EXPECT_NE(wr.closeWriteDescriptor(token, &again), 0);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(dh.counts().writeOpened, 1u);
    EXPECT_EQ(dh.counts().writeClosed, 1u);
    EXPECT_EQ(dh.counts().badFrees, 1u);
}

TEST_F(DescriptorRoutinesTest, WriteDescriptorKeepsWhatTheHostPutsIn) {
    WriteDescriptorToken token = wr.openWriteDescriptor();
    ASSERT_NE(dh.writeDescriptor(token), nullptr);
    dh.writeDescriptor(token)->put(fourcc("VrsM"), Value::fromInteger(3));
    EXPECT_FALSE(dh.balanced());
    HostHandle h = nullptr;
    ASSERT_EQ(wr.closeWriteDescriptor(token, &h), 0);
    EXPECT_EQ(dh.read(h)->find(fourcc("VrsM"))->asInteger(), 3);
    host.handles().dispose(h);
    EXPECT_TRUE(dh.balanced()) << dh.summary();
}

TEST_F(DescriptorRoutinesTest, SummaryNamesTheCounts) {
    DescriptorRef d = make();
    const std::string summary = dh.summary();
    EXPECT_NE(summary.find("descriptors made 1 freed 0"), std::string::npos) << summary;
    EXPECT_EQ(ad.free(d), 0);
}

}  // namespace
}  // namespace qmhost
