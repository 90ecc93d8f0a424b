// A JSON writer that streams to an std::ostream: nothing of the document is kept but the
// nesting of the containers open at the moment, so a document of any size takes no memory.
// Compact by default ({"a":1,"b":[1,2]}); pretty output indents by two spaces.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>
#include <vector>

namespace quillmesh::tool {

class JsonWriter {
  public:
    JsonWriter(std::ostream& out, bool pretty) : out_(out), pretty_(pretty) {}

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // The key of the next value, inside an object.
    void key(std::string_view name);

    // Text is UTF-8; quotes, backslashes and control characters are escaped.
    void string(std::string_view text);
    void integer(int64_t value);
    void unsignedInteger(uint64_t value);
    // The shortest text that reads back as the same double, always with a fraction or an
    // exponent so that it stays a float; NaN and the infinities, which JSON cannot hold, are the
    // strings "NaN", "Infinity" and "-Infinity", so that no value is lost.
    void number(double value);
    void boolean(bool value);
    void null();

    // Ends the document with a line break.
    void finish();

  private:
    void beforeValue();
    void quoted(std::string_view text);
    template <typename Integer>
    void digits(Integer value);
    void open(char bracket, bool object);
    void close(char bracket);
    void newline(std::size_t depth);

    struct Level {
        bool object = false;
        bool empty = true;
    };
    std::ostream& out_;
    bool pretty_;
    bool afterKey_ = false;
    std::vector<Level> levels_;
};

}  // namespace quillmesh::tool
