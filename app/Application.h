#pragma once
// Exceptions that escape an event handler are shown in the exception box and the program goes
// on, as the framework's message loop does.

#include <exception>
#include <functional>

// Shows the exception box for the exception being handled (call inside a catch block):
// std::exception shows its what() (UTF-8), anything else an empty message.
void ShowCurrentException();

// Runs a handler; an exception escaping it is shown in the exception box and swallowed, so it
// never unwinds through the toolkit's own frames.
void RunHandler(const std::function<void()>& handler);
