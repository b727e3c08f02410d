// Dial-up networking on Linux: the phonebook entries are NetworkManager's connection names,
// dialling brings a connection up (waiting until it is active) and hanging up takes it down,
// all through the nmcli program found on PATH. Without nmcli there are no entries and every
// dial fails. Any thread; each call runs its own nmcli process.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qv::dialup {

// The connection names, in nmcli's order; empty when nmcli is missing or fails.
std::vector<std::string> PhonebookEntries();

// Brings the named connection up and waits until it is active, at most timeoutMs (nmcli is
// stopped after that). stop, when given, is polled and ends the wait early. False when the
// name is not an entry, nmcli is missing, fails or times out.
bool BringUp(const std::string& entry, int timeoutMs, const std::function<bool()>& stop = nullptr);

// Takes the named connection down. True when nmcli reports success.
bool TakeDown(const std::string& entry, int timeoutMs);

}  // namespace qv::dialup
