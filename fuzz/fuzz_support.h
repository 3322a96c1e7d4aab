// Helpers shared by the fuzz targets.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

// The input as a file on disk, since the reader opens files by name. One file
// per process, rewritten for every input.
class ScratchFile {
public:
    ScratchFile(const uint8_t* data, size_t size)
    {
        const int fd = Descriptor();
        if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
            std::abort();
        size_t done = 0;
        while (done < size) {
            const ssize_t n = write(fd, data + done, size - done);
            if (n <= 0)
                std::abort();
            done += static_cast<size_t>(n);
        }
    }

    const std::string& path() const { return Path(); }

private:
    static std::string& Path()
    {
        static std::string path;
        return path;
    }

    static int Descriptor()
    {
        static const int fd = [] {
            const char* dir = std::getenv("TMPDIR");
            std::string name = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/velkor-fuzz-XXXXXX";
            const int made = mkstemp(&name[0]);
            if (made < 0)
                std::abort();
            // Gone from the directory once the process ends; until then the
            // name is what the reader opens.
            Path() = name;
            std::atexit([] { unlink(Path().c_str()); });
            return made;
        }();
        return fd;
    }
};
