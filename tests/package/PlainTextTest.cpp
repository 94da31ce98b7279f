// The one rule for backslashes on a command line (the virtual device's texts and the station's
// identity command) and the trimming of line ends.
#include "base/PlainText.h"

#include <gtest/gtest.h>

namespace {

TEST(PlainText, BackslashesFollowOneRule) {
    const struct {
        const char* written;
        std::string meant;
    } cases[] = {
        {"AT+CGSN\\r\\n", "AT+CGSN\r\n"},
        {"a\\tb", "a\tb"},
        {"C:\\\\dir", "C:\\dir"},
        {"\\x41\\x0d\\xFf", std::string("A\r\xFF")},
        {"\\x00", std::string(1, '\0')},
        {"\\x4", "\\x4"},       // one digit: as written
        {"\\xZZ", "\\xZZ"},     // no hex digits: as written
        {"\\q\\\"", "\\q\\\""}, // an unknown escape keeps its backslash
        {"end\\", "end\\"},     // a lone backslash at the end
        {"\\\\n", "\\n"},       // an escaped backslash does not start another escape
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        EXPECT_EQ(UnescapeText(c.written), c.meant);
    }
}

TEST(PlainText, LineEndsAreTrimmedAtTheEndOnly) {
    const struct {
        std::string text, trimmed;
    } cases[] = {
        {"VERSION:2.1\r\n", "VERSION:2.1"},
        {"a\n\r\n\r", "a"},
        {"\r\nOK", "\r\nOK"},
        {"a b \r", "a b "},
        {"\r\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(WithoutLineEnds(c.text), c.trimmed);
    }
}

} // namespace
