#pragma once
// The window's controls as the Qt widgets they are, for tests of the Qt window.
#include "app/MainForm.h"
#include "toolkit/qt/QtToolkit.h"

using tk::qt::Q;
inline tk::qt::QtForm* Q(TMForm* form) {
    return tk::qt::Q(form->FormWindow.get());
}
inline tk::qt::QtForm* Q(const std::unique_ptr<TMForm>& form) {
    return Q(form.get());
}
