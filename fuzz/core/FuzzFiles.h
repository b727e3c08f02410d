// A private folder for the fuzz input, since the libraries read and write files.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace qvfuzz {

class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/qvfuzzXXXXXX";
        if (!mkdtemp(pattern)) abort();
        dir_ = pattern;
    }
    ~ScratchDir() { std::filesystem::remove_all(dir_); }
    std::string File(const char* name) const { return dir_ + "/" + name; }
    // Writes the input as the file "in" and returns its path.
    std::string Input(const uint8_t* data, size_t size) const {
        const std::string path = File("in");
        if (FILE* f = std::fopen(path.c_str(), "wb")) std::fwrite(data, 1, size, f), std::fclose(f);
        return path;
    }

  private:
    std::string dir_;
};

}  // namespace qvfuzz
