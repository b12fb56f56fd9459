#include "test_support.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#endif

std::string HostPath(const std::string& posixPath) {
#ifdef _WIN32
    std::string p = posixPath;
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
#else
    return posixPath;
#endif
}

std::string DataPath(const std::string& name) {
    return HostPath(std::string(JPEG_TEST_DATA_DIR) + "/" + name);
}
std::string RegressionsDir() { return HostPath(JPEG_TEST_REGRESSIONS_DIR); }
std::string WorkPath(const std::string& name) {
    return HostPath(std::string(JPEG_TEST_WORK_DIR) + "/" + name);
}

std::vector<std::string> ListFiles(const std::string& dir, const std::string& suffix) {
    std::vector<std::string> names;
#ifdef _WIN32
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(data.cFileName);
        } while (FindNextFileA(h, &data));
        FindClose(h);
    }
    const char separator = '\\';
#else
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    const char separator = '/';
#endif
    std::vector<std::string> paths;
    for (const std::string& n : names)
        if (n.size() >= suffix.size() &&
            n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            paths.push_back(dir + separator + n);
    std::sort(paths.begin(), paths.end());
    return paths;
}

Decoded DecodeFile(const std::string& path, bool literal, SimdLevel limit) {
    Decoded d;
    HGLOBAL picture = nullptr;
    d.result =
        DecodeJpegFileSwitched(path.c_str(), &picture, false, DecoderSwitches{literal, limit});
    if (picture != nullptr) {
        d.dib = BlockBytes(picture);
        GlobalFree(picture);
    }
    return d;
}

Decoded DecodeBytes(const Bytes& bytes, const std::string& name, bool literal) {
    std::string path = WorkPath(name);
    WriteFileBytes(path, bytes);
    return DecodeFile(path, literal);
}

std::uint64_t Fnv1a64(const Bytes& bytes) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    return h;
}

int DibWidth(const Decoded& d) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, d.dib.data(), sizeof h);
    return h.biWidth;
}

int DibHeight(const Decoded& d) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, d.dib.data(), sizeof h);
    return h.biHeight;
}

const std::uint8_t* PixelAt(const Decoded& d, int x, int y) {
    int width = DibWidth(d), height = DibHeight(d);
    int stride = (width * 3 + 3) & ~3;
    return d.dib.data() + 40 + static_cast<size_t>(stride) * (height - 1 - y) + 3 * x;
}

long FindMarker(const Bytes& bytes, std::uint8_t code, long from) {
    for (size_t i = static_cast<size_t>(from); i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == code) return static_cast<long>(i);
    return -1;
}
