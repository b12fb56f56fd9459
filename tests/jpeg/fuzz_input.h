// What the decoder's fuzz targets share: each input goes to a file of this
// process's own, which the entries then open as users' files are opened, and
// blocks are limited as on a machine with 2 MiB to spare for one (larger
// pictures are refused with 101 instead of taking the fuzzer's memory and time).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include <windows.h>
#include <winstub_testing.h>

// "/tmp/dunmere-STEM-PID.jpg"
inline const std::string& FuzzInputPath(const char* stem) {
    static const std::string path =
        std::string("/tmp/dunmere-") + stem + "-" + std::to_string(getpid()) + ".jpg";
    return path;
}

// False when the file cannot be written (the input is then passed over).
inline bool WriteFuzzInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    WinstubSetAllocationLimit(2u << 20);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    if (size != 0) std::fwrite(data, 1, size, f);
    return std::fclose(f) == 0;
}
