// The port-name rule and the two older readings side by side, so that where they part is seen.
#include "serial/PortName.h"

#include <gtest/gtest.h>

#include <string>

TEST(PortNames, TheRuleAndTheOlderReadings) {
    struct Case {
        const char* text;
        int rule;       // ComPortNumber, either letter case
        int capitals;   // ComPortNumber, capitals only
        int item;       // ParsePortName
        int serialComm; // SerialCommNumber
    } cases[] = {
        {"COM1", 1, 1, 1, 1},     {"COM256", 256, 256, 256, 256}, {"com7", 7, 0, 7, 7},
        {"cOm12", 12, 0, 12, 12}, {"COM257", 0, 0, 257, 257},     {"COM0", 0, 0, 0, 0},
        {"COM007", 0, 0, 7, 7},   {"COM1234", 0, 0, 123, 1234},   {"COM12345", 0, 0, 123, -1},
        {"COM4a", 0, 0, 4, -1},   {"COM 1", 0, 0, 0, -1},         {"COM", 0, 0, 0, -1},
        {"XYZ9", 0, 0, -1, 9},    {" COM1", 0, 0, -1, -1},        {"", 0, 0, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string item = c.text;
        EXPECT_EQ(ComPortNumber(c.text), c.rule);
        EXPECT_EQ(ComPortNumber(c.text, LetterCase::Capitals), c.capitals);
        EXPECT_EQ(ParsePortName(item), c.item);
        EXPECT_EQ(SerialCommNumber(c.text), c.serialComm);
    }
}

TEST(PortNames, EveryPortNameReadsBackAsItsNumber) {
    for (int number = 1; number <= MaxPortNumber; ++number) {
        const std::string name = ComPortName(number);
        EXPECT_EQ(ComPortNumber(name, LetterCase::Capitals), number) << name;
    }
    EXPECT_EQ(ComPortName(3), "COM3");
}
