// The picture folder: which entries are listed, the name order and the walk,
// the shuffled deck and the folder setting.
#include "picture_folder.h"
#include "saver_frame.h"
#include "slideshow.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// Beside the tree below: the other spellings, near misses, and entries whose
// data or folder lies elsewhere.
TEST(FolderRules, PicturesByTheirExtensionInAnyCaseAndNothingKeptElsewhere) {
    for (const wchar_t* name : {L"b.JPEG", L"c.Jpe", L"d.jfif", L"写真.JPG"})
        EXPECT_EQ(PictureKindOf(name), JPEG_PICTURE) << name;
    EXPECT_EQ(PictureKindOf(L"b.DiB"), BITMAP_PICTURE);
    for (const wchar_t* name : {L"a.jpg.txt", L"jpg", L"a.jpgx", L"a.bmp~"})
        EXPECT_EQ(PictureKindOf(name), NOT_A_PICTURE) << name;
    for (DWORD a : {0x1000u /* offline */, 0x400000u /* fetched on reading */})
        EXPECT_EQ(ClassifyEntry(L"a.jpg", a), SKIPPED_ENTRY) << a;
    EXPECT_EQ(ClassifyEntry(L"sub", FILE_ATTRIBUTE_DIRECTORY | 0x400 /* junction */),
              SKIPPED_ENTRY);
}

// A tree made on disk for one test and removed after it.
class FolderTree : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        root = std::wstring(temp) + L"dunmere-folder-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(root.c_str(), nullptr);
        g_frame = SaverFrameState{};
        listing = new FolderListing{};
    }
    void TearDown() override {
        FreeListing(listing);
        delete listing;
        ReleaseNameCalls();
        Remove(root);
        g_frame = SaverFrameState{};
    }
    static void Remove(const std::wstring& path) {
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &found);
        for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &found)) {
            const std::wstring name = found.cFileName, full = path + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Remove(full);
            DeleteFileW(full.c_str());
        }
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
        RemoveDirectoryW(path.c_str());
    }
    void Make(const std::wstring& relative, DWORD attributes = 0) {
        const std::wstring path = root + L"\\" + relative;
        if (relative.back() == L'\\') {
            CreateDirectoryW(path.c_str(), nullptr);
        } else {
            CloseHandle(
                CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        }
        if (attributes) SetFileAttributesW(path.c_str(), attributes);
    }
    // Every picture listed, by its path below the root, in the listing's order.
    std::vector<std::wstring> List(bool byName, DWORD budgetMs = 50) {
        StartListing(listing, root.c_str(), byName);
        while (ContinueListing(listing, budgetMs)) {}
        std::vector<std::wstring> paths;
        for (uint32_t i = 0; i < ListedPictureCount(*listing); ++i) {
            wchar_t path[PICTURE_PATH_LIMIT];
            EXPECT_TRUE(ListedPicturePath(*listing, i, path, PICTURE_PATH_LIMIT));
            const std::wstring full = path;
            const size_t at = full.find(L"dunmere-folder-");
            paths.push_back(full.substr(full.find(L'\\', at) + 1));
        }
        return paths;
    }
    std::wstring root;
    FolderListing* listing;
};

TEST_F(FolderTree, NameOrderIsEachFoldersPicturesThenItsSubfoldersDepthFirst) {
    for (const wchar_t* name : {L"b\\", L"A\\", L"A\\z\\", L"A\\y.bmp", L"A\\z\\x.dib", L"b\\w.jpg",
                                L"img10.jpg", L"IMG2.jpg", L"café.bmp", L"写真\\", L"写真\\猫.jpg",
                                L"notes.txt", L"hidden.jpg", L"Junk\\", L"Junk\\v.jpg"})
        Make(name);
    SetFileAttributesW((root + L"\\hidden.jpg").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW((root + L"\\Junk").c_str(), FILE_ATTRIBUTE_SYSTEM);
    const std::vector<std::wstring> expected = {L"café.bmp",    L"IMG2.jpg",    L"img10.jpg",
                                                L"A\\y.bmp",    L"A\\z\\x.dib", L"b\\w.jpg",
                                                L"写真\\猫.jpg"};
    EXPECT_EQ(List(true), expected) << "the shell's order: without case, numbers by value";
    EXPECT_EQ(List(true, 0), expected) << "in slices of a step or two";
    const std::vector<std::wstring> found = List(false);
    EXPECT_EQ(std::set<std::wstring>(found.begin(), found.end()),
              std::set<std::wstring>(expected.begin(), expected.end()));
}

// A folder of many entries is sorted in slices, with the system's comparison.
TEST_F(FolderTree, AFolderOfManyEntriesIsSortedWhateverTheSlices) {
    std::vector<std::wstring> names;
    for (int i = 0; i < 300; ++i) {
        names.push_back(L"p" + std::to_wstring((i * 7919) % 1000) + L".bmp");
        Make(names.back());
    }
    std::vector<std::wstring> sorted = List(true, 0);
    ASSERT_EQ(sorted.size(), names.size());
    for (size_t i = 1; i < sorted.size(); ++i)
        EXPECT_LT(CompareNames(sorted[i - 1].c_str(), sorted[i].c_str()), 0) << i;
    EXPECT_LE(ListingBytes(*listing), 100u * sorted.size()) << "about 100 bytes a picture at most";
}

// Windows 9x lists and opens through its code page, double-byte names included.
TEST_F(FolderTree, Windows9xListsThroughTheCodePage) {
    ASSERT_EQ(GetACP(), 932u);
    Make(L"写真\\");
    Make(L"写真\\猫.bmp");
    g_frame.isWindows9x = true;
    EXPECT_EQ(List(true), std::vector<std::wstring>{L"写真\\猫.bmp"});
    wchar_t path[PICTURE_PATH_LIMIT];
    ASSERT_TRUE(ListedPicturePath(*listing, 0, path, PICTURE_PATH_LIMIT));
    HANDLE opened = OpenForReading(path);
    EXPECT_NE(opened, INVALID_HANDLE_VALUE);
    CloseHandle(opened);
}

TEST_F(FolderTree, PathsBeyondMaxPathAreListedAndOpenedInTheLongForm) {
    std::wstring deep = L"\\\\?\\" + root;
    for (int i = 0; i < 6; ++i)
        CreateDirectoryW((deep += L"\\" + std::wstring(50, L'a' + i)).c_str(), nullptr);
    CloseHandle(CreateFileW((deep += L"\\deep.bmp").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr));
    StartListing(listing, root.c_str(), true);
    while (ContinueListing(listing, 50)) {}
    wchar_t path[PICTURE_PATH_LIMIT];
    ASSERT_TRUE(ListedPicturePath(*listing, 0, path, PICTURE_PATH_LIMIT));
    EXPECT_EQ(std::wstring(path), deep);
    HANDLE opened = OpenForReading(path);
    EXPECT_NE(opened, INVALID_HANDLE_VALUE);
    CloseHandle(opened);
    Remove(L"\\\\?\\" + root + L"\\" + std::wstring(50, L'a'));
}

TEST(Deck, EveryCountGetsAPermutationThatTheSeedDecides) {
    for (uint32_t count : {1u, 2u, 3u, 5u, 30u, 64u, 65u, 1000u, 100003u}) {
        PictureDeck deck{12345, 0, count, 0};
        std::vector<bool> seen(count);
        for (uint32_t p = 0; p < count; ++p) {
            const uint32_t card = DeckCard(deck, p);
            ASSERT_LT(card, count);
            EXPECT_FALSE(seen[card]) << count << ": card " << card << " twice";
            seen[card] = true;
        }
    }
    const PictureDeck a{1, 0, 1000, 0}, b{2, 0, 1000, 0};
    int same = 0;
    for (uint32_t p = 0; p < 1000; ++p) same += DeckCard(a, p) == DeckCard(b, p);
    EXPECT_LT(same, 20) << "another seed, another order";
}

TEST(Deck, ANewPassAvoidsBeginningWithThePictureOnTheScreen) {
    for (uint32_t seed = 0; seed < 150; ++seed) {
        PictureDeck deck{};
        ShuffleDeck(&deck, 3, seed, seed % 3);
        EXPECT_NE(DeckCard(deck, 0), seed % 3);
    }
}

class FolderSettings : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
        g_frame = SaverFrameState{};
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
        g_frame = SaverFrameState{};
        ReleaseNameCalls();
    }
    std::wstring Read() {
        wchar_t text[FOLDER_PATH_LIMIT] = L"stale";
        ReadSettingText(FOLDER_PATH_VALUE, text, FOLDER_PATH_LIMIT);
        return text;
    }
};

TEST_F(FolderSettings, ThePathSurvivesAnyScriptOnNtAndTheCodePageOn9x) {
    WriteSettingText(FOLDER_PATH_VALUE, L"C:\\写真\\café\\한국");
    EXPECT_EQ(Read(), L"C:\\写真\\café\\한국");
    g_frame.isWindows9x = true;
    WriteSettingText(FOLDER_PATH_VALUE, L"C:\\写真");
    EXPECT_EQ(Read(), L"C:\\写真");
    WriteSettingText(FOLDER_PATH_VALUE, L"C:\\café");  // the code page lacks é: nothing written
    EXPECT_EQ(Read(), L"C:\\写真");
}

TEST_F(FolderSettings, OtherTypesAndOverlongTextsReadAsNoFolder) {
    WriteSettingDword(FOLDER_PATH_VALUE, 7);
    EXPECT_EQ(Read(), L"");
    WriteSettingText(FOLDER_PATH_VALUE, std::wstring(FOLDER_PATH_LIMIT, L'x').c_str());
    EXPECT_EQ(Read(), L"");
}

}  // namespace
