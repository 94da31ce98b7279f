#include "app/Application.h"

#include "app/UserDialogs.h"
#include "toolkit/Toolkit.h"

namespace {
// Exceptions escaping a toolkit event go to the exception box too.
const bool SinkSet = (tk::SetExceptionSink(&ShowCurrentException), true);
} // namespace

void ShowCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        ShowExceptionBox(e.what());
    } catch (...) {
        ShowExceptionBox({});
    }
}

void RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        ShowCurrentException();
    }
}
