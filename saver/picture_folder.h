// The user's own pictures: a folder tree listed in slices, the two orders it is
// shown in, and the source that decodes its pictures between the saver
// window's messages. Names travel as UTF-16 throughout, so that Windows NT can
// list and open a name in any script; Windows 9x names pass through its ANSI
// code page at the system calls.
#pragma once

#include <windows.h>

#include <cstdint>

// The folder setting, in UTF-16 units with its terminator; a longer one is
// taken for no folder at all.
enum : uint32_t { FOLDER_PATH_LIMIT = 1024 };
// A picture's or folder's full path as it is handed to the system. Beyond
// MAX_PATH, Windows NT takes it with the "\\?\" prefix; longer ones are skipped.
enum : uint32_t { PICTURE_PATH_LIMIT = 4096 };
enum : uint32_t { NO_INDEX = 0xFFFFFFFFu };

// ---------------------------------------------------------------- system calls

// One entry of a folder as the system lists it.
struct FoundName {
    wchar_t name[MAX_PATH];
    DWORD attributes;
};

// FindFirstFile and FindNextFile: the wide calls on Windows NT, the ANSI ones
// on 9x. INVALID_HANDLE_VALUE or false when there is nothing (more) to read.
HANDLE FindFirstName(const wchar_t* pattern, FoundName* found);
bool FindNextName(HANDLE search, FoundName* found);
// A user's file, opened for reading only and shared with every other reader
// and writer (and, on NT, with deleting), so that the saver never keeps anyone
// from changing or removing it. INVALID_HANDLE_VALUE on failure.
HANDLE OpenForReading(const wchar_t* path);
// Whether names go to the system as UTF-16 (Windows NT's wide calls), which
// also take a path too long for MAX_PATH behind the "\\?\" prefix.
bool WideNamesAllowed();
// Two names in the order the system's own folder lists show them: without
// case, and on systems whose shell compares numbers by value (Windows XP on),
// "2" before "10" as the shell does.
int CompareNames(const wchar_t* a, const wchar_t* b);
// Text shown in a dialog control, in UTF-16 where the system has the call.
void SetControlText(HWND dialog, int id, const wchar_t* text);
// The registry value as UTF-16: REG_SZ through the wide calls on Windows NT,
// through the ANSI calls and the code page on 9x. False (and `text` empty) for
// a missing value, another type, or one that does not fit `capacity` units.
bool QueryRegistryText(HKEY key, const char* name, wchar_t* text, uint32_t capacity);
void SetRegistryText(HKEY key, const char* name, const wchar_t* text);
// The code-page conversions of Windows 9x. False when the text does not fit,
// or (to the code page) has a character it lacks.
bool ToCodePage(const wchar_t* text, char* out, int capacity);
bool FromCodePage(const char* text, wchar_t* out, int capacity);
// Gives back the system components the comparisons borrowed.
void ReleaseNameCalls();
// The system's folder browser, opened on `path`; true, with the chosen folder
// in `path`, when the user picked one that fits `capacity` units.
bool BrowseForFolder(HWND owner, wchar_t* path, uint32_t capacity);

// ---------------------------------------------------------------- the listing

// A growing array in a movable global block, held locked between uses.
struct GrowingBlock {
    HGLOBAL handle;
    BYTE* bytes;
    SIZE_T used, capacity;
};

// A folder of the tree: its parent's index (NO_INDEX for the root) and its
// name's offset in the name pool (NO_INDEX for the root). A picture: its
// folder's index and its name's offset. The pool holds UTF-16 names, each
// ended by a zero.
struct ListedFolder {
    uint32_t parent, name;
};
struct ListedPicture {
    uint32_t folder, name;
};
static_assert(sizeof(ListedPicture) == 8, "a picture costs 8 bytes beside its name");

enum PictureKind { NOT_A_PICTURE, JPEG_PICTURE, BITMAP_PICTURE };
enum EntryKind { SKIPPED_ENTRY, PICTURE_ENTRY, FOLDER_ENTRY };

struct FolderListing {
    wchar_t root[FOLDER_PATH_LIMIT];
    bool byName;  // each folder's entries sorted by name; otherwise as the system lists them
    GrowingBlock names, folders, pictures;
    GrowingBlock pending;  // folder indices still to be read, the next one last
    GrowingBlock found;    // the folder being read: name offsets, FOUND_FOLDER marking folders
    GrowingBlock scratch;  // the other half of the merge sort
    HANDLE search;         // the folder being read, or INVALID_HANDLE_VALUE
    uint32_t current;      // its index
    bool sorting;          // its entries are being sorted
    bool sortedInScratch;  // the latest merge pass wrote to `scratch`
    uint32_t sortWidth, sortStart;
    bool complete;  // every folder has been read (or memory ran out)
};

// Which files are pictures, by their extension in any case; which entries
// are read at all: hidden and system ones are not, reparse points (junctions,
// links) are not followed, and files whose data lies elsewhere (offline,
// fetched on opening) are not fetched.
PictureKind PictureKindOf(const wchar_t* name);
EntryKind ClassifyEntry(const wchar_t* name, DWORD attributes);

// Begins the walk of the tree under `root` (a copy is kept). An empty or
// over-long root gives a listing that is complete and empty.
void StartListing(FolderListing* listing, const wchar_t* root, bool byName);
// Reads, sorts and files entries until about `budgetMs` milliseconds have
// gone; returns true while there is more to do.
bool ContinueListing(FolderListing* listing, DWORD budgetMs);
uint32_t ListedPictureCount(const FolderListing& listing);
const wchar_t* ListedPictureName(const FolderListing& listing, uint32_t index);
// The full path of picture `index`, as the system takes it; false when it
// does not fit `capacity` units.
bool ListedPicturePath(const FolderListing& listing, uint32_t index, wchar_t* path,
                       uint32_t capacity);
// The bytes the listing holds now, for the measure of its cost per picture.
SIZE_T ListingBytes(const FolderListing& listing);
void FreeListing(FolderListing* listing);

// ---------------------------------------------------------------- the orders

// The shuffled deck: a permutation of the pictures' indices that is computed,
// never stored, from its seed and count, so that four registry numbers carry
// a run's place to the next run. `folder` is a checksum of the folder's path.
struct PictureDeck {
    uint32_t seed, position, count, folder;
};

// The index at `position` (below `count`) of the deck's order.
uint32_t DeckCard(const PictureDeck& deck, uint32_t position);
// A new pass: a fresh order of `count` pictures, from the first. Where it can,
// the new order does not begin with `lastShown`, the picture on the screen.
void ShuffleDeck(PictureDeck* deck, uint32_t count, uint32_t seed, uint32_t lastShown);
uint32_t FolderChecksum(const wchar_t* path);
void ReadDeck(PictureDeck* deck);
void WriteDeck(const PictureDeck& deck);

// ---------------------------------------------------------------- the source

enum : uint32_t { STAND_IN_LIMIT = 8 };

// The folder's pictures as the presentation shows them. The listing and the
// decoding of the next picture run as the framework's idle work, the decode
// keeping the message queue serviced, so that input ends the saver at once.
struct FolderSource {
    bool active;                  // the folder's pictures are shown (t7 = 1, and not fallen back)
    bool stopped;                 // the slideshow was stopped: nothing more is decoded or shown
    bool decoding;                // a decode is under way; its yield dispatches messages
    bool wanted;                  // the next-picture step waits for a picture
    bool random;                  // the deck's order; otherwise name order
    int32_t boxWidth, boxHeight;  // what a picture is decoded for: the largest monitor
    FolderListing listing;
    PictureDeck deck;
    uint32_t nextPosition;  // name order: the next index to try
    uint32_t failures;      // pictures that gave nothing since the last one shown
    uint32_t lastShown;     // index of the picture on the screen
    HGLOBAL prefetched;     // the next picture, decoded and waiting
    uint32_t prefetchedIndex;
    // Pictures shown while the deck's next one was not listed yet (a large
    // tree, early in a run): the deck passes over them until its pass ends.
    uint32_t standIns[STAND_IN_LIMIT];
    uint32_t standInCount;
    uint32_t standInState;  // their generator
};

extern FolderSource g_folder;

// Reads t8 and begins with the folder (t7 = 1), at the saver window's creation.
void StartFolderPictures(HWND window);
// The next-picture step while the folder is shown: the waiting picture, or
// the promise to show the next one as soon as it is decoded.
void ShowNextFolderPicture(HWND window, HDC dc);
// One slice of the folder's work; false when there is nothing to do for now.
bool FolderIdleWork();
// The largest monitor (or the preview window) as the box of the next decodes.
void UpdateFolderBox();
void StopFolderPictures();
void ReleaseFolderPictures();
// A picture file as a DIB for the presentation (bottom-up, upright, no larger
// than the box; a photo already at the size it is shown at, `fit` enlarging
// small ones to the box), or null when it cannot be opened or decoded. Calls
// `yield` while it works; a false from it abandons the decode.
HGLOBAL DecodeFolderPicture(const wchar_t* path, PictureKind kind, int32_t boxWidth,
                            int32_t boxHeight, bool fit, bool (*yield)(void*));
