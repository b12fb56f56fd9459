// The listing of a picture folder: which entries are pictures, and the walk of
// the tree in slices, depth-first, each folder's own pictures before its
// subfolders. Every name is kept once, in a pool, with 8 bytes beside it; the
// walk never holds more than the folder it reads in a sorted list of its own.
#include "picture_folder.h"

#include <cstring>
#include <initializer_list>

namespace {

enum : uint32_t { FOUND_FOLDER = 0x80000000u };
enum : UINT { BLOCK_FLAGS = GMEM_MOVEABLE };
// Attributes newer than the Windows 4.0 headers.
enum : DWORD {
    ATTRIBUTE_REPARSE_POINT = 0x400,
    ATTRIBUTE_OFFLINE = 0x1000,
    ATTRIBUTE_RECALL_ON_OPEN = 0x40000,
    ATTRIBUTE_RECALL_ON_DATA_ACCESS = 0x400000,
};
// How often the slice looks at the clock: a step is one entry or one merge.
enum : unsigned { STEPS_BETWEEN_CLOCK_READINGS = 16 };

struct Extension {
    const wchar_t* text;
    PictureKind kind;
};
constexpr Extension PICTURE_EXTENSIONS[] = {
    {L"jpg", JPEG_PICTURE},  {L"jpeg", JPEG_PICTURE},  {L"jpe", JPEG_PICTURE},
    {L"jfif", JPEG_PICTURE}, {L"bmp", BITMAP_PICTURE}, {L"dib", BITMAP_PICTURE},
};

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c + (L'a' - L'A')) : c; }

bool SameWithoutAsciiCase(const wchar_t* a, const wchar_t* b) {
    for (; *a && *b; ++a, ++b)
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
    return *a == *b;
}

uint32_t Length(const wchar_t* text) {
    uint32_t n = 0;
    while (text[n]) ++n;
    return n;
}

// ---------------------------------------------------------------- blocks

void UnlockBlock(GrowingBlock* block) {
    if (block->bytes) GlobalUnlock(block->handle);
    block->bytes = nullptr;
}

// Room for `more` bytes behind what the block holds. Grows by half again, so
// that the slack stays a fraction of the content.
bool ReserveInBlock(GrowingBlock* block, SIZE_T more) {
    if (block->capacity - block->used >= more) return true;
    SIZE_T wanted = block->capacity + block->capacity / 2;
    if (wanted < block->used + more) wanted = block->used + more;
    if (wanted < 256) wanted = 256;
    HGLOBAL grown;
    if (block->handle) {
        UnlockBlock(block);
        grown = GlobalReAlloc(block->handle, wanted, BLOCK_FLAGS);
    } else {
        grown = GlobalAlloc(BLOCK_FLAGS, wanted);
    }
    if (grown) {
        block->handle = grown;
        block->capacity = wanted;
    }
    if (block->handle) block->bytes = static_cast<BYTE*>(GlobalLock(block->handle));
    if (block->handle && !block->bytes) block->capacity = 0;  // unusable: nothing more fits
    return grown && block->bytes;
}

bool Append(GrowingBlock* block, const void* bytes, SIZE_T size) {
    if (!ReserveInBlock(block, size)) return false;
    std::memcpy(block->bytes + block->used, bytes, size);
    block->used += size;
    return true;
}

void FreeBlock(GrowingBlock* block) {
    UnlockBlock(block);
    if (block->handle) GlobalFree(block->handle);
    *block = GrowingBlock{};
}

template <typename T>
T* Items(const GrowingBlock& block) {
    return reinterpret_cast<T*>(block.bytes);
}
template <typename T>
uint32_t ItemCount(const GrowingBlock& block) {
    return static_cast<uint32_t>(block.used / sizeof(T));
}

const wchar_t* PoolName(const FolderListing& l, uint32_t offset) {
    return Items<const wchar_t>(l.names) + offset;
}

// ---------------------------------------------------------------- paths

// The path of `folder`, then `leaf` behind it when one is given, with the
// "\\?\" prefix where the system needs and takes it.
bool BuildPath(const FolderListing& l, uint32_t folder, const wchar_t* leaf, wchar_t* out,
               uint32_t capacity) {
    const ListedFolder* folders = Items<const ListedFolder>(l.folders);
    const uint32_t rootLength = Length(l.root);
    uint64_t length = rootLength + (leaf ? 1 + Length(leaf) : 0);
    for (uint32_t f = folder; folders[f].parent != NO_INDEX; f = folders[f].parent)
        length += 1 + Length(PoolName(l, folders[f].name));
    const bool unc = l.root[0] == L'\\' && l.root[1] == L'\\';
    const wchar_t* prefix = L"";
    uint32_t skipped = 0;  // leading root characters the prefix replaces
    if (length >= MAX_PATH && WideNamesAllowed()) {
        prefix = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
        skipped = unc ? 1 : 0;
    }
    const uint32_t prefixLength = Length(prefix);
    length += prefixLength - skipped;
    if (length + 1 > capacity) return false;

    wchar_t* end = out + length;
    *end = 0;
    auto putBefore = [&end](const wchar_t* text) {
        const uint32_t n = Length(text);
        end -= n;
        std::memcpy(end, text, n * sizeof(wchar_t));
    };
    if (leaf) {
        putBefore(leaf);
        *--end = L'\\';
    }
    for (uint32_t f = folder; folders[f].parent != NO_INDEX; f = folders[f].parent) {
        putBefore(PoolName(l, folders[f].name));
        *--end = L'\\';
    }
    putBefore(l.root + skipped);
    putBefore(prefix);
    return true;
}

// ---------------------------------------------------------------- the walk

void AddFound(FolderListing* l, const FoundName& found) {
    const EntryKind kind = ClassifyEntry(found.name, found.attributes);
    if (kind == SKIPPED_ENTRY) return;
    const uint32_t offset = static_cast<uint32_t>(l->names.used / sizeof(wchar_t));
    const uint32_t entry = offset | (kind == FOLDER_ENTRY ? uint32_t(FOUND_FOLDER) : 0u);
    if (offset >= FOUND_FOLDER || !ReserveInBlock(&l->found, sizeof entry) ||
        !Append(&l->names, found.name, (Length(found.name) + 1) * sizeof(wchar_t))) {
        l->complete = true;  // out of memory: what is listed so far is the list
        return;
    }
    Append(&l->found, &entry, sizeof entry);
}

// The folder's entries in their final order go to the list: its pictures, and
// its subfolders onto the stack so that the first of them is read next.
void FileFound(FolderListing* l, const uint32_t* entries) {
    const uint32_t n = ItemCount<uint32_t>(l->found);
    uint32_t subfolders = 0;
    for (uint32_t i = 0; i < n && !l->complete; ++i) {
        const uint32_t name = entries[i] & ~FOUND_FOLDER;
        if (entries[i] & FOUND_FOLDER) {
            const ListedFolder folder{l->current, name};
            const uint32_t index = ItemCount<ListedFolder>(l->folders);
            if (!Append(&l->folders, &folder, sizeof folder) ||
                !Append(&l->pending, &index, sizeof index))
                l->complete = true;
            ++subfolders;
        } else {
            const ListedPicture picture{l->current, name};
            if (!Append(&l->pictures, &picture, sizeof picture)) l->complete = true;
        }
    }
    // They were pushed first to last; the stack takes them last to first.
    auto* pushed = Items<uint32_t>(l->pending) + ItemCount<uint32_t>(l->pending) - subfolders;
    for (uint32_t i = 0, j = subfolders; i + 1 < j; ++i, --j) {
        const uint32_t t = pushed[i];
        pushed[i] = pushed[j - 1];
        pushed[j - 1] = t;
    }
    l->found.used = 0;
}

int CompareFound(const FolderListing* l, uint32_t a, uint32_t b) {
    return CompareNames(PoolName(*l, a & ~FOUND_FOLDER), PoolName(*l, b & ~FOUND_FOLDER));
}

void BeginSort(FolderListing* l) {
    const uint32_t n = ItemCount<uint32_t>(l->found);
    if (!l->byName || n < 2) {
        FileFound(l, Items<uint32_t>(l->found));
        return;
    }
    l->scratch.used = 0;
    if (!ReserveInBlock(&l->scratch, n * sizeof(uint32_t))) {
        FileFound(l, Items<uint32_t>(l->found));  // unsorted rather than lost
        return;
    }
    l->sorting = true;
    l->sortedInScratch = false;
    l->sortWidth = 1;
    l->sortStart = 0;
}

// One merge of a bottom-up merge sort, so that a folder of any size is sorted
// in slices. Equal names keep the order the system listed them in.
void SortStep(FolderListing* l) {
    const uint32_t n = ItemCount<uint32_t>(l->found);
    const uint32_t* from = Items<uint32_t>(l->sortedInScratch ? l->scratch : l->found);
    uint32_t* to = Items<uint32_t>(l->sortedInScratch ? l->found : l->scratch);
    const uint32_t start = l->sortStart, w = l->sortWidth;
    const uint32_t middle = n - start > w ? start + w : n;
    const uint32_t end = n - middle > w ? middle + w : n;
    uint32_t i = start, j = middle, k = start;
    while (i < middle && j < end)
        to[k++] = CompareFound(l, from[j], from[i]) < 0 ? from[j++] : from[i++];
    while (i < middle) to[k++] = from[i++];
    while (j < end) to[k++] = from[j++];
    l->sortStart = end;
    if (end < n) return;
    l->sortedInScratch = !l->sortedInScratch;
    l->sortStart = 0;
    if (l->sortWidth >= n - l->sortWidth) {  // that pass merged the whole folder
        l->sorting = false;
        FileFound(l, Items<uint32_t>(l->sortedInScratch ? l->scratch : l->found));
        return;
    }
    l->sortWidth *= 2;
}

void ListStep(FolderListing* l) {
    if (l->sorting) {
        SortStep(l);
        return;
    }
    FoundName found;
    if (l->search != INVALID_HANDLE_VALUE) {
        if (FindNextName(l->search, &found)) {
            AddFound(l, found);
            return;
        }
        FindClose(l->search);
        l->search = INVALID_HANDLE_VALUE;
        BeginSort(l);
        return;
    }
    const uint32_t waiting = ItemCount<uint32_t>(l->pending);
    if (waiting == 0) {
        l->complete = true;
        return;
    }
    l->current = Items<uint32_t>(l->pending)[waiting - 1];
    l->pending.used -= sizeof(uint32_t);
    wchar_t pattern[PICTURE_PATH_LIMIT];
    // A folder too deep for any path, or one that cannot be read, adds nothing.
    if (!BuildPath(*l, l->current, L"*", pattern, PICTURE_PATH_LIMIT)) return;
    l->search = FindFirstName(pattern, &found);
    if (l->search != INVALID_HANDLE_VALUE) AddFound(l, found);
}

}  // namespace

PictureKind PictureKindOf(const wchar_t* name) {
    const wchar_t* dot = nullptr;
    for (const wchar_t* c = name; *c; ++c)
        if (*c == L'.') dot = c;
    if (!dot) return NOT_A_PICTURE;
    for (const Extension& e : PICTURE_EXTENSIONS)
        if (SameWithoutAsciiCase(dot + 1, e.text)) return e.kind;
    return NOT_A_PICTURE;
}

EntryKind ClassifyEntry(const wchar_t* name, DWORD attributes) {
    if (name[0] == 0 || (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))))
        return SKIPPED_ENTRY;
    if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) return SKIPPED_ENTRY;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return attributes & ATTRIBUTE_REPARSE_POINT ? SKIPPED_ENTRY : FOLDER_ENTRY;
    if (attributes &
        (ATTRIBUTE_OFFLINE | ATTRIBUTE_RECALL_ON_OPEN | ATTRIBUTE_RECALL_ON_DATA_ACCESS))
        return SKIPPED_ENTRY;
    return PictureKindOf(name) != NOT_A_PICTURE ? PICTURE_ENTRY : SKIPPED_ENTRY;
}

void StartListing(FolderListing* l, const wchar_t* root, bool byName) {
    FreeListing(l);
    l->byName = byName;
    uint32_t n = Length(root);
    if (n >= FOLDER_PATH_LIMIT) n = 0;
    // The walk puts its own separators between the parts.
    while (n > 0 && (root[n - 1] == L'\\' || root[n - 1] == L'/')) --n;
    // One kind of separator, since the long form of paths ("\\?\") takes no other.
    for (uint32_t i = 0; i < n; ++i) l->root[i] = root[i] == L'/' ? L'\\' : root[i];
    l->root[n] = 0;
    const ListedFolder top{NO_INDEX, NO_INDEX};
    const uint32_t first = 0;
    l->complete = n == 0 || !Append(&l->folders, &top, sizeof top) ||
                  !Append(&l->pending, &first, sizeof first);
}

bool ContinueListing(FolderListing* l, DWORD budgetMs) {
    const DWORD start = GetTickCount();
    for (unsigned step = 1; !l->complete; ++step) {
        ListStep(l);
        if (step % STEPS_BETWEEN_CLOCK_READINGS == 0 && GetTickCount() - start >= budgetMs) break;
    }
    if (l->complete && l->search != INVALID_HANDLE_VALUE) {
        FindClose(l->search);
        l->search = INVALID_HANDLE_VALUE;
    }
    return !l->complete;
}

uint32_t ListedPictureCount(const FolderListing& l) { return ItemCount<ListedPicture>(l.pictures); }

const wchar_t* ListedPictureName(const FolderListing& l, uint32_t index) {
    return PoolName(l, Items<const ListedPicture>(l.pictures)[index].name);
}

bool ListedPicturePath(const FolderListing& l, uint32_t index, wchar_t* path, uint32_t capacity) {
    if (index >= ListedPictureCount(l)) return false;
    const ListedPicture& p = Items<const ListedPicture>(l.pictures)[index];
    return BuildPath(l, p.folder, PoolName(l, p.name), path, capacity);
}

SIZE_T ListingBytes(const FolderListing& l) {
    return l.names.capacity + l.folders.capacity + l.pictures.capacity + l.pending.capacity +
           l.found.capacity + l.scratch.capacity;
}

void FreeListing(FolderListing* l) {
    if (l->search && l->search != INVALID_HANDLE_VALUE) FindClose(l->search);
    for (GrowingBlock* b :
         {&l->names, &l->folders, &l->pictures, &l->pending, &l->found, &l->scratch})
        FreeBlock(b);
    std::memset(l, 0, sizeof *l);
    l->search = INVALID_HANDLE_VALUE;
    l->complete = true;
}
