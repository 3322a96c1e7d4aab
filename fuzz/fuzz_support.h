// Helpers shared by the fuzz targets.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// The input as a file on disk, since the reader opens files by name: one
// file per process, rewritten for every input and removed at exit.
class ScratchFile {
public:
    ScratchFile(const uint8_t* data, size_t size)
    {
        std::FILE* f = std::fopen(path().c_str(), "wb");
        if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
            std::abort();
    }

    static const std::string& path()
    {
        static const std::string name = [] {
            std::atexit([] { unlink(path().c_str()); });
            return (std::filesystem::temp_directory_path() / ("velkor-fuzz-" + std::to_string(getpid()))).string();
        }();
        return name;
    }
};
