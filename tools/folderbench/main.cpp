// The picture folder's listing, timed against the system's own walk of the
// same tree: a program for tools/folder-bench, never a test.
//   folderbench FOLDER
// For each order, as the saver lists between its messages (slices of 8 ms):
// the time until the first picture is known, until the whole tree is, and the
// bytes the list holds a picture. Beside it the bare walk, depth-first with
// FindFirstFileW and FindNextFileW and no sorting, as the peer.
#include "picture_folder.h"
#include "saver_frame.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

double Seconds() {
    static LARGE_INTEGER frequency{};
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

size_t BareWalk(const std::wstring& root) {
    size_t files = 0;
    std::vector<std::wstring> folders{root};
    while (!folders.empty()) {
        const std::wstring folder = folders.back();
        folders.pop_back();
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        for (bool more = search != INVALID_HANDLE_VALUE; more;
             more = FindNextFileW(search, &found)) {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                folders.push_back(folder + L"\\" + name);
            else
                ++files;
        }
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }
    return files;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: folderbench FOLDER\n");
        return 2;
    }
    const double bareStart = Seconds();
    const size_t bareFiles = BareWalk(argv[1]);
    const double bare = Seconds() - bareStart;
    std::printf("bare walk: %zu files in %.3f s\n", bareFiles, bare);
    static FolderListing listing;
    for (bool byName : {true, false}) {
        const double start = Seconds();
        double first = -1;
        StartListing(&listing, argv[1], byName);
        while (ContinueListing(&listing, 8))
            if (first < 0 && ListedPictureCount(listing) > 0) first = Seconds() - start;
        const double whole = Seconds() - start;
        const uint32_t count = ListedPictureCount(listing);
        std::printf(
            "%s: %u pictures, first after %.3f s, all after %.3f s (%.2f x the bare walk), "
            "%.1f bytes a picture\n",
            byName ? "name order" : "as listed (random order)", count, first, whole, whole / bare,
            count ? double(ListingBytes(listing)) / count : 0.0);
        FreeListing(&listing);
    }
    ReleaseNameCalls();
    return 0;
}
