#pragma once

// Start-up and shutdown of the program, apart from main() so that tests can run them.

#include "windows/Platform.h"

#include <string>

class QApplication;

// Exit status of a copy that found another copy already running.
inline constexpr int kAlreadyRunningStatus = 1;

// The program's life from launch to end: makes the process settings, builds the main window, runs its load step (the
// single-copy guard under instanceKey), shows the window and runs the event loop until the window closes.
int runProgram(QApplication& application, Platform platform, const std::string& instanceKey);
