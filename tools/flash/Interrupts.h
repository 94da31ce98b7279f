#pragma once
// Ctrl-C and SIGTERM for a program whose work runs on threads that sleep in condition variables:
// the handler runs on a thread of its own, where it may lock and notify.
namespace flash {

// From now on every SIGINT or SIGTERM (Ctrl-C or Ctrl-Break on Windows) calls onInterrupt on a
// thread of its own instead of ending the process. Call before any other thread starts, so that
// every thread inherits the blocked signals.
void WatchInterrupts(void (*onInterrupt)());

} // namespace flash
