// Window tests run on the offscreen platform with the program's own application object.
#include <gtest/gtest.h>

#include "toolkit/qt/QtToolkit.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
