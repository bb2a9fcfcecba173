// The entry: start-up, message loop and restart request.
#pragma once

#include "platform/platform.h"

// Reads the count, sets up the hidden window, runs the message loop until the
// window is gone, asks for the restart and returns the exit code.
extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int showState);

// The command line with the program name and the blanks after it removed
// (null for none).
LPSTR CommandLineTail(LPSTR commandLine);

// The process entry point: hands WinMain what the GUI start-up convention
// promises and ends the process with its result.
extern "C" [[noreturn]] void WINAPI TovrelEntry();
