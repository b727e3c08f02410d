// "quorvex config get|set|list": reads and changes the settings file without a display.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// args are the words after "config" (--home already removed). Exit codes: 0 done, 2 a usage
// error, an unknown section or key, or a value the settings dialogs would not accept (nothing
// written), 1 the settings file could not be written.
int RunConfigCommand(const std::vector<std::string>& args, const std::string& programFolder,
                     std::ostream& out, std::ostream& err);

// The help text of the config subcommands (part of "quorvex --help").
const char* ConfigCommandHelp();
