// A private file for the fuzz input, since the library reads and writes files; the library's
// messages are silenced while it exists.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "QuorCore.h"

namespace qvfuzz {

class ScratchDir {
  public:
    ScratchDir() {
        char tmpl[] = "/tmp/qvfuzzXXXXXX";
        const char* d = mkdtemp(tmpl);
        dir_ = d ? d : "/tmp";
        QvSetMessageHook([](const char*, const char*, void*) {}, nullptr);
    }
    ~ScratchDir() {
        std::remove(File("in").c_str());
        std::remove(File("out.jpg").c_str());
        rmdir(dir_.c_str());
    }
    std::string File(const char* name) const { return dir_ + "/" + name; }
    // Writes the input as the file "in" and returns its path.
    std::string Input(const uint8_t* data, size_t size) const {
        const std::string path = File("in");
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f) {
            if (size) std::fwrite(data, 1, size, f);
            std::fclose(f);
        }
        return path;
    }

  private:
    std::string dir_;
};

}  // namespace qvfuzz
