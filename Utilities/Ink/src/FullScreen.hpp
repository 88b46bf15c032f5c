#pragma once

// The terminal's modes while a Screen is up, and giving them back however
// the program ends. Internal to the kit; one Screen at a time.
namespace Ink::detail {

// Saves the modes of `input`, switches it to raw mode, and writes the
// sequences for the alternate screen, a hidden cursor and focus reports to
// `output`. From then until leaveFullScreen() the modes are also given back
// at exit and on SIGINT, SIGTERM, SIGHUP and SIGQUIT.
void enterFullScreen(int input, int output);
// Gives the terminal back as it was; nothing when it was given back
// already. Async-signal-safe.
void leaveFullScreen();
// Gives the terminal back and the signals to the handlers they had.
void closeFullScreen();
// Whether the terminal is still ours to draw on.
bool fullScreen();

// Each SIGWINCH writes a byte to `descriptor` (-1: none) until
// stopResizeSignals().
void startResizeSignals(int descriptor);
void stopResizeSignals();

} // namespace Ink::detail
