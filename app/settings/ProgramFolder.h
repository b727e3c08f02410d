// Where the program keeps its settings file, logs and default picture folders.
#pragma once

#include <string>
#include <vector>

// The program folder, always ending in '/':
//   1. homeOption (the --home DIR argument) when not empty;
//   2. the environment variable QUORVEX_HOME when set and not empty;
//   3. the folder of the running executable when it is writable (a portable install);
//   4. $XDG_DATA_HOME/Quorvex/, default ~/.local/share/Quorvex/.
// The folder is not created here (see EnsureFolder). executablePath may be empty: then
// /proc/self/exe is used.
std::string ResolveProgramFolder(const std::string& homeOption,
                                 const std::string& executablePath = "");

// folder + "Quorvex.ini".
std::string SettingsFilePath(const std::string& folder);

// Creates the folder and its missing parents (mode 0700). True when it exists afterwards.
bool EnsureFolder(const std::string& folder);

// Where the program's data (skins, sounds, help) is looked up, in this order, each ending in
// '/': beside the executable (../share/quorvex of an install, wherever it was moved), the
// configured install folder, the source tree (runs from the build folder). executablePath as
// for ResolveProgramFolder.
std::vector<std::string> DataFolders(const std::string& executablePath = "");
