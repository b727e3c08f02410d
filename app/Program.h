// The monitor: single instance, the Qt application, the main window with its engine, and the
// orderly end on SIGINT or SIGTERM.
#pragma once

#include <string>

// Runs the monitor until the exit command or a signal ends it. A second instance ends at once
// with 0. --demo-camera adds the built-in demo camera to the device list.
int RunMonitor(int argc, char** argv, const std::string& programFolder);
