// Decodes a host descriptor into JSON for reading by people and scripts, streamed through a
// JsonWriter: a descriptor of any size is written without building the document in memory.
//
// Layout of the JSON:
//   descriptor  {"class": CLASS, "items": {KEY: VALUE, ...}} (items in descriptor order)
//   integer     a JSON integer                    float    a JSON number with a fraction
//   boolean     true / false                      text     a JSON string (UTF-8)
//   list        a JSON array of values            object   a descriptor as above
//   data block  {"bytes": LENGTH, ...} with the block's decoded contents (see writeDataBlockJson)
// KEY and CLASS are a four-character code's four characters (trailing spaces kept) or the text
// of a string ID; a class of 0 is "". Floats that JSON cannot hold are the strings "NaN",
// "Infinity" and "-Infinity".
//
// Safe for any descriptor unflatten accepts: every block is decoded within its own length.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "host/descriptors.h"
#include "tools/json_writer.h"

namespace quillmesh::tool {

// How a key or class was given to the host.
struct KeyName {
    std::string text;
    bool fromString = false;  // a string ID ("key3DState"), not a four-character code
};

// The name of `key`: its string-ID text when `ids` knows it, else its four characters when it
// is a four-character code, else its value as "0x" and eight hex digits.
KeyName keyName(HostKey key, const qmhost::IdRegistry& ids);

// A data block put under `key`, decoded by what the scene writer puts under that key:
//   "verl", "nrml", "lnfl", "lncl", "vnvl"  24-byte entries of three little-endian doubles
//                                           -> "vectors": [[x, y, z], ...]
//   "uvl "                                  16-byte entries (u, v) -> "uvs": [[u, v], ...]
//   "facl"                                  36-byte polygon records -> "polygons": [{"corners",
//                                           "attributeA", "attributeB", "material"}, ...];
//                                           a record whose reserved bytes are not all zero
//                                           also gets "reserved" (their hex)
//   "faci"                                  16-byte corners -> "corners": [{"vertex", "normal",
//                                           "uv", "auxiliary"}, ...]
//   "LyrN" and the string IDs "key3DPaintType", "keyPreservationExtra",
//   "keyPreservationController", "keyPreservationAnimations", "keyPreservationEffectProfiles"
//                                           text without terminator -> "text" (UTF-8)
// Any other block, and a known one whose length is not a whole number of entries, gets "hex"
// (the bytes as hex digit pairs); the latter also gets "error" saying why.
void writeDataBlockJson(JsonWriter& json, const KeyName& key, std::span<const uint8_t> bytes);

void writeValueJson(JsonWriter& json, const qmhost::Value& value, const qmhost::IdRegistry& ids);
void writeDescriptorJson(JsonWriter& json, const qmhost::Descriptor& descriptor,
                         const qmhost::IdRegistry& ids);

}  // namespace quillmesh::tool
