// Native stand-in for the Win32 global-memory and file calls (see
// include/windows.h). A movable block's handle is the address of a small
// record, never the address of the data, so that code which confuses the two
// fails here as it would on Windows.
#include <windows.h>
#include <winstub_testing.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::uint32_t BLOCK_MAGIC = 0x4B4C4247u;  // "GBLK"
const std::uint32_t FILE_MAGIC = 0x454C4946u;   // "FILE"

struct Block {
    std::uint32_t magic;
    int locks;
    SIZE_T size;
    unsigned char* data;
};

struct File {
    std::uint32_t magic;
    int fd;
};

int g_failAt[WINSTUB_CALL_COUNT];
long g_calls[WINSTUB_CALL_COUNT];
unsigned g_lastBytes[WINSTUB_CALL_COUNT];
long g_liveBlocks;
unsigned long long g_allocationLimit;
unsigned long long g_liveBytes;
unsigned long long g_peakBytes;

void AddLiveBytes(SIZE_T added, SIZE_T removed) {
    g_liveBytes = g_liveBytes + added - removed;
    if (g_liveBytes > g_peakBytes) g_peakBytes = g_liveBytes;
}
long g_liveLocks;

// Counts the call and tells whether an armed failure fires on it.
bool Fails(WinstubCall call) {
    ++g_calls[call];
    if (g_failAt[call] > 0 && --g_failAt[call] == 0) return true;
    return false;
}

Block* AsBlock(HGLOBAL mem) {
    Block* b = static_cast<Block*>(mem);
    return (b != nullptr && b->magic == BLOCK_MAGIC) ? b : nullptr;
}

File* AsFile(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
    File* f = static_cast<File*>(h);
    return f->magic == FILE_MAGIC ? f : nullptr;
}

}  // namespace

void WinstubFailCall(WinstubCall call, int nth) { g_failAt[call] = nth; }
void WinstubSetAllocationLimit(unsigned long long bytes) { g_allocationLimit = bytes; }
void WinstubResetFailures() { std::memset(g_failAt, 0, sizeof g_failAt); }
long WinstubCallCount(WinstubCall call) { return g_calls[call]; }
unsigned WinstubLastBytes(WinstubCall call) { return g_lastBytes[call]; }
long WinstubLiveBlocks() { return g_liveBlocks; }
long WinstubLiveLocks() { return g_liveLocks; }
unsigned long long WinstubLiveBytes() { return g_liveBytes; }
unsigned long long WinstubPeakBytes() { return g_peakBytes; }
void WinstubResetPeakBytes() { g_peakBytes = g_liveBytes; }

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (Fails(WINSTUB_GLOBAL_ALLOC)) return nullptr;
    if (g_allocationLimit != 0 && bytes > g_allocationLimit) return nullptr;
    Block* b = static_cast<Block*>(std::malloc(sizeof(Block)));
    if (b == nullptr) return nullptr;
    // Room for at least one byte, so that a block of size 0 still has an address.
    b->data =
        static_cast<unsigned char*>((flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1)
                                                            : std::malloc(bytes ? bytes : 1));
    if (b->data == nullptr) {
        std::free(b);
        return nullptr;
    }
    b->magic = BLOCK_MAGIC;
    b->locks = 0;
    b->size = bytes;
    ++g_liveBlocks;
    AddLiveBytes(bytes, 0);
    return b;
}

HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags) {
    Block* b = AsBlock(mem);
    if (b == nullptr || Fails(WINSTUB_GLOBAL_REALLOC)) return nullptr;
    if (g_allocationLimit != 0 && bytes > g_allocationLimit) return nullptr;
    unsigned char* data = static_cast<unsigned char*>(std::realloc(b->data, bytes ? bytes : 1));
    if (data == nullptr) return nullptr;
    if ((flags & GMEM_ZEROINIT) && bytes > b->size) std::memset(data + b->size, 0, bytes - b->size);
    b->data = data;
    AddLiveBytes(bytes, b->size);
    b->size = bytes;
    return b;
}

LPVOID GlobalLock(HGLOBAL mem) {
    Block* b = AsBlock(mem);
    if (b == nullptr || Fails(WINSTUB_GLOBAL_LOCK)) return nullptr;
    ++b->locks;
    ++g_liveLocks;
    return b->data;
}

BOOL GlobalUnlock(HGLOBAL mem) {
    Block* b = AsBlock(mem);
    if (b == nullptr || b->locks == 0) return FALSE;
    --b->locks;
    --g_liveLocks;
    return b->locks != 0;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
    Block* b = AsBlock(mem);
    if (b == nullptr) return mem;
    g_liveLocks -= b->locks;
    --g_liveBlocks;
    AddLiveBytes(0, b->size);
    b->magic = 0;
    std::free(b->data);
    std::free(b);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL mem) {
    Block* b = AsBlock(mem);
    return b == nullptr ? 0 : b->size;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
    if (Fails(WINSTUB_CREATE_FILE) || name == nullptr) return INVALID_HANDLE_VALUE;
    int mode = (access & GENERIC_READ) && (access & GENERIC_WRITE) ? O_RDWR
               : (access & GENERIC_WRITE)                          ? O_WRONLY
                                                                   : O_RDONLY;
    switch (disposition) {
        case CREATE_NEW: mode |= O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: mode |= O_CREAT | O_TRUNC; break;
        case OPEN_ALWAYS: mode |= O_CREAT; break;
        case TRUNCATE_EXISTING: mode |= O_TRUNC; break;
        case OPEN_EXISTING: break;
        default: return INVALID_HANDLE_VALUE;
    }
    int fd = open(name, mode | O_CLOEXEC, 0644);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    // CreateFileA does not open directories (without backup semantics).
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    File* f = static_cast<File*>(std::malloc(sizeof(File)));
    if (f == nullptr) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    f->magic = FILE_MAGIC;
    f->fd = fd;
    return f;
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (name == nullptr)
        return CreateFileA(nullptr, access, share, security, disposition, flags, templateFile);
    std::string utf8;
    for (; *name != 0; ++name) {
        std::uint32_t c = static_cast<std::uint32_t>(*name);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return CreateFileA(utf8.c_str(), access, share, security, disposition, flags, templateFile);
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
    File* f = AsFile(file);
    if (f == nullptr || Fails(WINSTUB_SET_FILE_POINTER)) return INVALID_SET_FILE_POINTER;
    std::int64_t offset = distance;
    if (distanceHigh != nullptr)
        offset = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
            static_cast<std::uint32_t>(distance));
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t pos = lseek(f->fd, static_cast<off_t>(offset), whence);
    if (pos < 0) return INVALID_SET_FILE_POINTER;
    if (distanceHigh != nullptr)
        *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(pos) >> 32);
    return static_cast<DWORD>(static_cast<std::uint64_t>(pos) & 0xFFFFFFFFu);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD bytesRead, LPOVERLAPPED) {
    File* f = AsFile(file);
    if (bytesRead != nullptr) *bytesRead = 0;
    if (f == nullptr || Fails(WINSTUB_READ_FILE)) return FALSE;
    DWORD done = 0;
    while (done < bytes) {
        ssize_t n = read(f->fd, static_cast<char*>(buffer) + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FALSE;
        if (n == 0) break;
        done += static_cast<DWORD>(n);
    }
    if (bytesRead != nullptr) *bytesRead = done;
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD bytesWritten, LPOVERLAPPED) {
    File* f = AsFile(file);
    if (bytesWritten != nullptr) *bytesWritten = 0;
    if (f == nullptr || Fails(WINSTUB_WRITE_FILE)) return FALSE;
    DWORD done = 0;
    while (done < bytes) {
        ssize_t n = write(f->fd, static_cast<const char*>(buffer) + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return FALSE;
        done += static_cast<DWORD>(n);
    }
    if (bytesWritten != nullptr) *bytesWritten = done;
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    File* f = AsFile(object);
    if (f == nullptr) return FALSE;
    f->magic = 0;
    int rc = close(f->fd);
    std::free(f);
    return rc == 0;
}

BOOL DeleteFileA(LPCSTR name) { return name != nullptr && unlink(name) == 0; }

HFILE OpenFile(LPCSTR name, LPOFSTRUCT reopen, UINT style) {
    if (reopen != nullptr) {
        std::memset(reopen, 0, sizeof *reopen);
        reopen->cBytes = sizeof *reopen;
    }
    if (Fails(WINSTUB_OPEN_FILE) || name == nullptr) return HFILE_ERROR;
    // The name must fit OFSTRUCT, terminator included, as on Windows.
    std::size_t length = std::strlen(name);
    if (length >= OFS_MAXPATHNAME) return HFILE_ERROR;
    if (reopen != nullptr) std::memcpy(reopen->szPathName, name, length + 1);
    if (style & OF_DELETE) return unlink(name) == 0 ? TRUE : HFILE_ERROR;
    int mode = (style & 3) == OF_WRITE ? O_WRONLY : (style & 3) == OF_READWRITE ? O_RDWR : O_RDONLY;
    if (style & OF_CREATE) mode = (mode == O_RDONLY ? O_RDWR : mode) | O_CREAT | O_TRUNC;
    int fd = open(name, mode | O_CLOEXEC, 0644);
    if (fd < 0) return HFILE_ERROR;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return HFILE_ERROR;
    }
    return fd;
}

UINT _lread(HFILE file, LPVOID buffer, UINT bytes) {
    g_lastBytes[WINSTUB_LREAD] = bytes;
    if (Fails(WINSTUB_LREAD)) return static_cast<UINT>(HFILE_ERROR);
    UINT done = 0;
    while (done < bytes) {
        ssize_t n = read(file, static_cast<char*>(buffer) + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return static_cast<UINT>(HFILE_ERROR);
        if (n == 0) break;
        done += static_cast<UINT>(n);
    }
    return done;
}

UINT _lwrite(HFILE file, LPCCH buffer, UINT bytes) {
    g_lastBytes[WINSTUB_LWRITE] = bytes;
    if (Fails(WINSTUB_LWRITE)) return static_cast<UINT>(HFILE_ERROR);
    if (bytes == 0) {
        off_t here = lseek(file, 0, SEEK_CUR);
        return here >= 0 && ftruncate(file, here) == 0 ? 0 : static_cast<UINT>(HFILE_ERROR);
    }
    UINT done = 0;
    while (done < bytes) {
        ssize_t n = write(file, buffer + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return static_cast<UINT>(HFILE_ERROR);
        done += static_cast<UINT>(n);
    }
    return done;
}

LONG _llseek(HFILE file, LONG offset, int origin) {
    if (Fails(WINSTUB_LLSEEK)) return HFILE_ERROR;
    int whence = origin == FILE_BEGIN ? SEEK_SET : origin == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t pos = lseek(file, offset, whence);
    // Positions past 2 GB do not fit the result.
    if (pos < 0 || pos > 0x7FFFFFFF) return HFILE_ERROR;
    return static_cast<LONG>(pos);
}

HFILE _lclose(HFILE file) {
    ++g_calls[WINSTUB_LCLOSE];
    return close(file) == 0 ? 0 : HFILE_ERROR;
}
