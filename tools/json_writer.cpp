#include "tools/json_writer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <ostream>

namespace quillmesh::tool {

void JsonWriter::newline(std::size_t depth) {
    if (!pretty_) {
        return;
    }
    out_.put('\n');
    for (std::size_t i = 0; i < depth; ++i) {
        out_.write("  ", 2);
    }
}

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) {
        return;
    }
    Level& level = levels_.back();
    if (!level.empty) {
        out_.put(',');
    }
    level.empty = false;
    newline(levels_.size());
}

void JsonWriter::open(char bracket, bool object) {
    beforeValue();
    out_.put(bracket);
    levels_.push_back(Level{object, true});
}

void JsonWriter::close(char bracket) {
    const bool empty = levels_.empty() || levels_.back().empty;
    if (!levels_.empty()) {
        levels_.pop_back();
    }
    if (!empty) {
        newline(levels_.size());
    }
    out_.put(bracket);
}

void JsonWriter::beginObject() {
    open('{', true);
}
void JsonWriter::endObject() {
    close('}');
}
void JsonWriter::beginArray() {
    open('[', false);
}
void JsonWriter::endArray() {
    close(']');
}

void JsonWriter::key(std::string_view name) {
    beforeValue();
    quoted(name);
    out_.put(':');
    if (pretty_) {
        out_.put(' ');
    }
    afterKey_ = true;
}

void JsonWriter::string(std::string_view text) {
    beforeValue();
    quoted(text);
}

void JsonWriter::quoted(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out_.put('"');
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') {
            continue;
        }
        out_.write(text.data() + plain, static_cast<std::streamsize>(i - plain));
        plain = i + 1;
        switch (c) {
            case '"':
                out_.write("\\\"", 2);
                break;
            case '\\':
                out_.write("\\\\", 2);
                break;
            case '\n':
                out_.write("\\n", 2);
                break;
            case '\r':
                out_.write("\\r", 2);
                break;
            case '\t':
                out_.write("\\t", 2);
                break;
            default: {
                const std::array<char, 6> escape{'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
                out_.write(escape.data(), escape.size());
            }
        }
    }
    out_.write(text.data() + plain, static_cast<std::streamsize>(text.size() - plain));
    out_.put('"');
}

template <typename Integer>
void JsonWriter::digits(Integer value) {
    beforeValue();
    std::array<char, 24> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    out_.write(text.data(), end - text.data());
}

void JsonWriter::integer(int64_t value) {
    digits(value);
}
void JsonWriter::unsignedInteger(uint64_t value) {
    digits(value);
}

void JsonWriter::number(double value) {
    if (std::isnan(value)) {
        string("NaN");
        return;
    }
    if (std::isinf(value)) {
        string(value > 0 ? "Infinity" : "-Infinity");
        return;
    }
    beforeValue();
    std::array<char, 40> text{};
    char* end = std::to_chars(text.data(), text.data() + text.size() - 2, value).ptr;
    bool fraction = false;
    for (const char* c = text.data(); c != end; ++c) {
        fraction = fraction || *c == '.' || *c == 'e';
    }
    if (!fraction) {
        *end++ = '.';
        *end++ = '0';
    }
    out_.write(text.data(), end - text.data());
}

void JsonWriter::boolean(bool value) {
    beforeValue();
    if (value) {
        out_.write("true", 4);
    } else {
        out_.write("false", 5);
    }
}

void JsonWriter::null() {
    beforeValue();
    out_.write("null", 4);
}

void JsonWriter::finish() {
    out_.put('\n');
}

}  // namespace quillmesh::tool
