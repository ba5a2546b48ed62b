// Message monitors (OnMessage): script callbacks that see window messages before the interpreter
// handles them, each call a pseudo-thread, and may answer them.
#pragma once
#include <windows.h>
#include <cstdint>

namespace brm {

bool HaveMessageMonitors();
// The exit sequence's clean-up: no script code may run once the globals are released, so the messages
// that destroying the windows sends are no longer offered.
void StopMessageMonitors();

// Offers a message to the monitors of its number in list order; true when one answered, with the value
// for the window procedure in *result. msg is the queued record when the message came from the queue.
bool OfferToMonitors(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, const MSG* msg, LRESULT* result);

}  // namespace brm
