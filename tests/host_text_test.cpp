#include <gtest/gtest.h>

#include "host/text.h"

namespace {

TEST(Utf8ToUtf16, DecodesAndReplacesMalformedSequences) {
    struct Case {
        std::string input;
        std::u16string expected;
    };
    const Case cases[] = {
        {"", u""},
        {"model.kvt", u"model.kvt"},
        {"caf\xC3\xA9/\xE2\x82\xAC.kvt", u"caf\u00E9/\u20AC.kvt"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"a\xC3", u"a\uFFFD"},                              // cut short
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
        {"\x80z", u"\uFFFDz"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qmhost::utf8ToUtf16(c.input), c.expected) << c.input;
    }
}

}  // namespace
