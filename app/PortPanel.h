#pragma once
// The port panel of the window: five combo boxes bound to the port component and the open/close
// button, whose look follows the port component's events.

// Window creation: binds and fills the five port combo boxes, hooks the port events, watches
// the port list, loads the stored port settings and shows the counters.
void InitPortPanel();
// Handlers of the port component's OnOpen, OnClose and OnOpenError events.
void PortOpened();
void PortClosed();
void PortOpenFailed();
// Handler of the port component's OnModemRefused: ModemManager would not keep off the device
// (the port may still be open; the status line says so after the port's own message).
void ModemManagerRefused();
// Window closing: closes the port whatever its state (PortClosed reports it if it was open).
void ClosePortOnExit();
