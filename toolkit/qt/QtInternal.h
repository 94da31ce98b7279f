#pragma once
// What the parts of the Qt toolkit share beyond the widget classes.
#include "toolkit/qt/QtToolkit.h"

#include <string>

namespace tk::qt {

// Handed the exceptions that escape an event handler.
extern void (*exceptionSink)();

inline QString ToQt(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace tk::qt
