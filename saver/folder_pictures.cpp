// The folder's pictures as a source for the presentation. Everything runs on
// the saver's one thread, as the framework's idle work: slices of the listing,
// and the decode of the next picture while the current one stands, whose
// yield dispatches the queued messages so that input still ends the saver at
// once. Pictures that cannot be opened or decoded are passed over without a
// word; a whole pass that gives none falls back to the built-in pictures.
#include "picture_folder.h"
#include "saver_frame.h"
#include "slideshow.h"

FolderSource g_folder;

namespace {

enum : DWORD { LISTING_SLICE_MS = 8 };

enum CandidateKind { TRY_PICTURE, LIST_MORE, NOTHING_TO_SHOW };
// A stand-in has no place in the order; it leaves the order where it is.
enum : uint32_t { STAND_IN = NO_INDEX };
struct Candidate {
    CandidateKind kind;
    uint32_t index, position;
};

// The decode's yield: the messages that came meanwhile are handled, timers
// (the reveal of the picture on the screen) included. A close stops the
// slideshow, which abandons the decode; a quit message is put back for the
// message loop, which then ends.
bool ServiceQueue(void*) {
    MSG message;
    while (!g_folder.stopped && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            g_folder.stopped = true;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return !g_folder.stopped;
}

uint32_t FreshSeed(uint32_t previous) {
    return CalendarSeconds() ^ (GetTickCount() << 7) ^ (previous * 2654435761u);
}

bool StoodIn(uint32_t index) {
    const FolderSource& f = g_folder;
    for (uint32_t i = 0; i < f.standInCount; ++i)
        if (f.standIns[i] == index) return true;
    return false;
}

// A picture of what is listed so far, in place of the deck's next one that
// the listing has not reached: the first picture of a large tree need not
// wait for the whole tree.
Candidate StandIn(uint32_t listed) {
    FolderSource& f = g_folder;
    if (listed == 0 || f.standInCount == STAND_IN_LIMIT) return {LIST_MORE, 0, 0};
    for (int tries = 0; tries < 8; ++tries) {
        f.standInState = f.standInState * 1664525u + 1013904223u;
        const uint32_t index = static_cast<uint32_t>((uint64_t(f.standInState) * listed) >> 32);
        if (!StoodIn(index)) return {TRY_PICTURE, index, STAND_IN};
    }
    return {LIST_MORE, 0, 0};
}

void NewPass(PictureDeck* deck, uint32_t count) {
    FolderSource& f = g_folder;
    ShuffleDeck(deck, count, FreshSeed(deck->seed), f.lastShown);
    deck->folder = FolderChecksum(f.listing.root);
}

Candidate NextCandidate() {
    FolderSource& f = g_folder;
    const uint32_t listed = ListedPictureCount(f.listing);
    const bool complete = f.listing.complete;
    if (complete && listed == 0) return {NOTHING_TO_SHOW, 0, 0};
    if (!f.random) {
        if (f.nextPosition >= listed) {
            if (!complete) return {LIST_MORE, 0, 0};
            f.nextPosition = 0;  // a new pass
        }
        return {TRY_PICTURE, f.nextPosition, f.nextPosition};
    }
    PictureDeck& deck = f.deck;
    // The stored deck fits another folder, or none was dealt yet: the count
    // is known once the whole tree is listed.
    if (deck.count == 0 && !complete) return StandIn(listed);
    if (complete && deck.count != listed) NewPass(&deck, listed);
    for (;;) {
        if (deck.position >= deck.count) {
            NewPass(&deck, deck.count);
            f.standInCount = 0;
        }
        const uint32_t index = DeckCard(deck, deck.position);
        if (index >= listed) return StandIn(listed);
        if (!StoodIn(index)) return {TRY_PICTURE, index, deck.position};
        ++deck.position;
    }
}

void FallBackToBuiltIns() {
    FolderSource& f = g_folder;
    f.active = false;
    if (!f.wanted) return;  // the next-picture step will take a built-in one
    f.wanted = false;
    HWND window = g_frame.saverWindow;
    HDC dc = GetDC(window);
    PrepareBuiltInPicture(window, dc);
    ReleaseDC(window, dc);
}

void ShowPrefetched(HDC dc) {
    FolderSource& f = g_folder;
    HGLOBAL picture = f.prefetched;
    f.prefetched = nullptr;
    f.wanted = false;
    if (!PresentPicture(dc, picture, true)) {
        f.wanted = true;  // this one will not show: the next one is wanted instead
        return;
    }
    f.lastShown = f.prefetchedIndex;
    // A preview in the display settings shows where the deck stands; only a
    // real run moves it on.
    if (f.random && !g_frame.isPreview) WriteDeck(f.deck);
}

void TryCandidate(const Candidate& c) {
    FolderSource& f = g_folder;
    if (c.position == STAND_IN)
        f.standIns[f.standInCount++] = c.index;
    else if (f.random)
        f.deck.position = c.position + 1;
    else
        f.nextPosition = c.position + 1;
    wchar_t path[PICTURE_PATH_LIMIT];
    HGLOBAL picture = nullptr;
    if (ListedPicturePath(f.listing, c.index, path, PICTURE_PATH_LIMIT)) {
        const PictureKind kind = PictureKindOf(ListedPictureName(f.listing, c.index));
        f.decoding = true;
        picture = DecodeFolderPicture(path, kind, f.boxWidth, f.boxHeight,
                                      g_slideshow.fitToScreen == 1, ServiceQueue);
        f.decoding = false;
    }
    // The saver may have closed while the decode dispatched its messages.
    if (f.stopped) {
        if (picture) GlobalFree(picture);
        return;
    }
    if (!picture) {
        ++f.failures;
        if (f.listing.complete && f.failures >= ListedPictureCount(f.listing)) FallBackToBuiltIns();
        return;
    }
    f.failures = 0;
    f.prefetched = picture;
    f.prefetchedIndex = c.index;
    if (f.wanted) {
        HWND window = g_frame.saverWindow;
        HDC dc = GetDC(window);
        ShowPrefetched(dc);
        ReleaseDC(window, dc);
    }
}

}  // namespace

void StartFolderPictures(HWND) {
    SlideshowState& s = g_slideshow;
    FolderSource& f = g_folder;
    FreeListing(&f.listing);
    f = FolderSource{};
    f.active = true;
    f.random = s.randomOrder == 1;
    f.lastShown = NO_INDEX;
    ReadSettingText(FOLDER_PATH_VALUE, s.folderPath, FOLDER_PATH_LIMIT);
    // Random order needs no names in order: the deck shuffles whatever the
    // system lists, and the tree is read all the sooner.
    StartListing(&f.listing, s.folderPath, !f.random);
    if (f.random) {
        f.standInState = FreshSeed(0);
        ReadDeck(&f.deck);
        if (f.deck.folder != FolderChecksum(f.listing.root)) f.deck.count = 0;
    }
    UpdateFolderBox();
    g_frame.idleWork = FolderIdleWork;
}

void ShowNextFolderPicture(HWND, HDC dc) {
    FolderSource& f = g_folder;
    if (f.stopped) return;
    if (f.prefetched)
        ShowPrefetched(dc);
    else
        f.wanted = true;  // shown as soon as it is decoded
}

bool FolderIdleWork() {
    FolderSource& f = g_folder;
    if (!f.active || f.stopped || f.decoding) return false;
    if (!f.prefetched) {
        const Candidate c = NextCandidate();
        switch (c.kind) {
            case TRY_PICTURE: TryCandidate(c); return true;
            case LIST_MORE: ContinueListing(&f.listing, LISTING_SLICE_MS); return true;
            case NOTHING_TO_SHOW: FallBackToBuiltIns(); return false;
        }
    }
    // The rest of the tree is read while the picture stands.
    return ContinueListing(&f.listing, LISTING_SLICE_MS);
}

void UpdateFolderBox() {
    const PictureArea largest = LargestPlace();
    g_folder.boxWidth = largest.width;
    g_folder.boxHeight = largest.height;
}

void StopFolderPictures() { g_folder.stopped = true; }

// Also while a decode is under way (the window went during its yield): the
// decode then sees `stopped`, abandons its work and touches nothing here.
void ReleaseFolderPictures() {
    FolderSource& f = g_folder;
    f.stopped = true;
    f.active = false;
    if (f.prefetched) GlobalFree(f.prefetched);
    f.prefetched = nullptr;
    FreeListing(&f.listing);
    ReleaseNameCalls();
    if (g_frame.idleWork == FolderIdleWork) g_frame.idleWork = nullptr;
}
