// Runs a program to its end and captures what it printed, for end-to-end tests of our
// executables.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qvtest {

struct ProgramResult {
    int ExitCode = -1;  // -1 when it could not be started or was killed by a signal
    std::string Out;
    std::string Err;
};

// argv[0] is a path. env replaces the environment entirely ("NAME" -> value); stdin is empty.
ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env);

}  // namespace qvtest
