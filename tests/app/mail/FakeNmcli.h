// A stand-in nmcli on PATH for the dial-up tests: lists the entries of a file, records every
// call, and brings a connection up or fails as the test says.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace mailtest {

class FakeNmcli {
  public:
    // entries: the connection names; upResult: exit code of "connection up"; upDelaySec: how
    // long "connection up" takes.
    explicit FakeNmcli(const std::vector<std::string>& entries, int upResult = 0,
                       int upDelaySec = 0) {
        std::string list;
        for (const auto& e : entries) list += e + "\n";
        qvtest::WriteFile(dir_.File("entries"), list);
        qvtest::WriteFile(dir_.File("nmcli"),
                          "#!/bin/sh\n"
                          "printf '%s\\n' \"$*\" >> '" +
                              dir_.File("calls") +
                              "'\n"
                              "case \"$*\" in\n"
                              "  '-t -f NAME connection show') sed -e 's/:/\\\\:/g' '" +
                              dir_.File("entries") +
                              "'; exit 0 ;;\n"
                              "  *' connection up id '*) sleep " +
                              std::to_string(upDelaySec) + "; exit " + std::to_string(upResult) +
                              " ;;\n"
                              "  *' connection down id '*) exit 0 ;;\n"
                              "esac\n"
                              "exit 2\n");
        ::chmod(dir_.File("nmcli").c_str(), 0755);
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        ::setenv("PATH", (dir_.Path() + ":" + oldPath_).c_str(), 1);
    }
    ~FakeNmcli() { ::setenv("PATH", oldPath_.c_str(), 1); }
    FakeNmcli(const FakeNmcli&) = delete;
    FakeNmcli& operator=(const FakeNmcli&) = delete;

    // Every call's arguments, one per line.
    std::string Calls() const { return qvtest::ReadFile(dir_.File("calls")); }

  private:
    qvtest::TempDir dir_;
    std::string oldPath_;
};

// PATH without any nmcli for the object's lifetime.
class NoNmcli {
  public:
    NoNmcli() {
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        ::setenv("PATH", dir_.Path().c_str(), 1);
    }
    ~NoNmcli() { ::setenv("PATH", oldPath_.c_str(), 1); }
    NoNmcli(const NoNmcli&) = delete;
    NoNmcli& operator=(const NoNmcli&) = delete;

  private:
    qvtest::TempDir dir_;
    std::string oldPath_;
};

}  // namespace mailtest
