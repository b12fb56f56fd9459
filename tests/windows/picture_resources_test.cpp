// The thirty picture resources as built into Dunmere.scr: each, put behind the
// ten bytes the saver writes in front of it, must be exactly the kind of JFIF
// file the saver's decoder is built for, and small enough to be extracted.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "slideshow.h"

namespace {

static_assert(PICTURE_COUNT == 30 && PICTURE_RESOURCE_BASE == 107 && MAX_PICTURE_BYTES == 59999,
              "the catalogue's constants");

constexpr uint8_t PREFIX[10] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46};

constexpr bool SameBytes(const BYTE* a, const uint8_t* b, int n) {
    for (int i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}
static_assert(sizeof(JFIF_PREFIX) == 10 && SameBytes(JFIF_PREFIX, PREFIX, 10),
              "the saver writes this prefix");

// The whole APP0 segment: the prefix, then the zero that ends "JFIF", version
// 1.1, no density unit, densities 1 and 1, no thumbnail.
constexpr uint8_t JFIF_HEADER[20] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46,
                                     0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};

constexpr size_t MIN_BYTES = 18000;
constexpr size_t MAX_BYTES = 56000;

uint32_t Be16(const std::vector<uint8_t>& d, size_t at) { return (d[at] << 8) | d[at + 1]; }

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(v));
    return text;
}

// Checks one complete file against the form the saver's pictures must have.
// Returns "" when it conforms, otherwise what is wrong.
std::string CheckPictureFile(const std::vector<uint8_t>& d) {
    if (d.size() < sizeof(JFIF_HEADER) ||
        std::memcmp(d.data(), JFIF_HEADER, sizeof(JFIF_HEADER)) != 0)
        return "does not begin with SOI and the expected JFIF APP0 segment";

    bool quantSlot[4] = {};
    std::vector<uint8_t> huffmanTables;
    uint8_t componentIds[3] = {};
    bool haveFrame = false;
    size_t at = sizeof(JFIF_HEADER);
    for (;;) {
        if (at + 4 > d.size()) return "ends before the scan";
        if (d[at] != 0xFF) return "no marker at offset " + std::to_string(at);
        uint8_t marker = d[at + 1];
        size_t length = Be16(d, at + 2);
        size_t body = at + 4, end = at + 2 + length;
        if (length < 2 || end > d.size()) return "segment overruns the file";
        switch (marker) {
            case 0xDB:  // quantisation tables, 8-bit only in a baseline file
                while (body < end) {
                    uint8_t pqTq = d[body];
                    if (pqTq > 3) return "quantisation table with 16-bit entries or slot above 3";
                    if (body + 65 > end) return "short quantisation table";
                    for (size_t i = 1; i <= 64; ++i)
                        if (d[body + i] == 0) return "quantisation step of zero";
                    quantSlot[pqTq] = true;
                    body += 65;
                }
                break;
            case 0xC4:  // Huffman tables
                while (body < end) {
                    if (body + 17 > end) return "short Huffman table";
                    size_t symbols = 0;
                    for (size_t i = 1; i <= 16; ++i) symbols += d[body + i];
                    if (symbols == 0 || symbols > 256 || body + 17 + symbols > end)
                        return "bad Huffman table size";
                    huffmanTables.push_back(d[body]);
                    body += 17 + symbols;
                }
                break;
            case 0xC0: {  // baseline frame
                if (haveFrame) return "second frame header";
                if (length != 17) return "frame header is not for three components";
                if (d[body] != 8) return "sample precision is not 8";
                if (Be16(d, body + 1) != 480 || Be16(d, body + 3) != 640)
                    return "picture is not 640 x 480";
                if (d[body + 5] != 3) return "not three components";
                const uint8_t sampling[3] = {0x22, 0x11, 0x11}, slot[3] = {0, 1, 1};
                for (int c = 0; c < 3; ++c) {
                    componentIds[c] = d[body + 6 + 3 * c];
                    if (d[body + 7 + 3 * c] != sampling[c])
                        return "component " + std::to_string(c) + " sampling";
                    if (d[body + 8 + 3 * c] != slot[c])
                        return "component " + std::to_string(c) + " quantisation slot";
                }
                haveFrame = true;
                break;
            }
            case 0xDA: {  // the scan: everything must be defined by now
                if (!haveFrame) return "scan before the frame header";
                if (!quantSlot[0] || !quantSlot[1] || quantSlot[2] || quantSlot[3])
                    return "quantisation slots are not 0 and 1";
                const std::vector<uint8_t> wanted = {0x00, 0x10, 0x01, 0x11};
                if (huffmanTables != wanted) return "Huffman tables are not DC0, AC0, DC1, AC1";
                if (length != 12 || d[body] != 3) return "scan is not of three components";
                const uint8_t tables[3] = {0x00, 0x11, 0x11};
                for (int c = 0; c < 3; ++c) {
                    if (d[body + 1 + 2 * c] != componentIds[c])
                        return "scan components differ from the frame's";
                    if (d[body + 2 + 2 * c] != tables[c])
                        return "scan table selector of component " + std::to_string(c);
                }
                if (d[body + 7] != 0 || d[body + 8] != 63 || d[body + 9] != 0)
                    return "scan is not sequential 0..63";
                // Entropy-coded data up to EOI: only stuffed zeros after 0xFF, no restart markers.
                size_t i = end;
                for (; i + 1 < d.size(); ++i) {
                    if (d[i] != 0xFF) continue;
                    if (d[i + 1] == 0x00) continue;
                    break;
                }
                if (i + 1 >= d.size()) return "no end-of-image marker";
                if (d[i + 1] >= 0xD0 && d[i + 1] <= 0xD7) return "restart marker in the scan";
                if (d[i + 1] != 0xD9) return "marker inside the scan";
                if (i + 2 != d.size()) return "bytes after the end-of-image marker";
                if (i - end < 1000) return "scan too short to hold a picture";
                return "";
            }
            default:
                // DRI, COM, further APPn segments, other frame types: none belong here.
                return "unexpected marker " + Hex(marker);
        }
        at = end;
    }
}

struct Pictures {
    HMODULE module;
    std::vector<std::vector<uint8_t>> resource;  // index 0 = picture 1
};

// The built program, loaded once as a data file, and a copy of each picture resource.
const Pictures& BuiltPictures() {
    static Pictures pictures = [] {
        Pictures p{LoadLibraryExA(DUNMERE_SCR_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE), {}};
        for (int n = 1; p.module && n <= PICTURE_COUNT; ++n) {
            std::vector<uint8_t> bytes;
            HRSRC found = FindResourceA(p.module, MAKEINTRESOURCEA(PICTURE_ID(n)), "DAT");
            if (found) {
                DWORD size = SizeofResource(p.module, found);
                HGLOBAL loaded = LoadResource(p.module, found);
                const uint8_t* data =
                    loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
                if (data) bytes.assign(data, data + size);
            }
            p.resource.push_back(bytes);
        }
        return p;
    }();
    return pictures;
}

#define ASSERT_PROGRAM_LOADED()                \
    ASSERT_NE(BuiltPictures().module, nullptr) \
        << "cannot load " << DUNMERE_SCR_PATH << " as a data file"

std::vector<uint8_t> WithPrefix(const std::vector<uint8_t>& resource) {
    std::vector<uint8_t> file(sizeof(PREFIX) + resource.size());
    std::memcpy(file.data(), PREFIX, sizeof(PREFIX));
    if (!resource.empty())
        std::memcpy(file.data() + sizeof(PREFIX), resource.data(), resource.size());
    return file;
}

TEST(PictureResources, EveryPictureIsThereWithinTheSizeLimits) {
    ASSERT_PROGRAM_LOADED();
    for (int n = 1; n <= PICTURE_COUNT; ++n) {
        SCOPED_TRACE("picture " + std::to_string(n));
        size_t size = BuiltPictures().resource[n - 1].size();
        ASSERT_GT(size, 0u) << "resource " << PICTURE_ID(n) << " of type DAT is missing or empty";
        EXPECT_GE(size, MIN_BYTES);
        EXPECT_LE(size, MAX_BYTES);
        EXPECT_LE(size, static_cast<size_t>(MAX_PICTURE_BYTES));
    }
}

TEST(PictureResources, EveryPictureIsABaselineJfifFileOfTheExpectedForm) {
    ASSERT_PROGRAM_LOADED();
    for (int n = 1; n <= PICTURE_COUNT; ++n) {
        SCOPED_TRACE("picture " + std::to_string(n));
        EXPECT_EQ(CheckPictureFile(WithPrefix(BuiltPictures().resource[n - 1])), "");
    }
}

TEST(PictureResources, NoTwoPicturesAreTheSame) {
    ASSERT_PROGRAM_LOADED();
    for (int a = 0; a < PICTURE_COUNT; ++a)
        for (int b = a + 1; b < PICTURE_COUNT; ++b)
            EXPECT_NE(BuiltPictures().resource[a], BuiltPictures().resource[b])
                << "pictures " << a + 1 << " and " << b + 1;
}

// The check itself must catch each kind of departure; picture 1 serves as the
// sound file that each case spoils in one place.
TEST(PictureResources, TheCheckRejectsEachKindOfDeparture) {
    ASSERT_PROGRAM_LOADED();
    const std::vector<uint8_t> good = WithPrefix(BuiltPictures().resource[0]);
    ASSERT_EQ(CheckPictureFile(good), "");

    auto find = [&](uint8_t marker) {
        for (size_t i = 20; i + 1 < good.size(); ++i)
            if (good[i] == 0xFF && good[i + 1] == marker) return i;
        return good.size();
    };
    size_t sof = find(0xC0), sos = find(0xDA);
    ASSERT_LT(sof, good.size());
    ASSERT_LT(sos, good.size());

    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
    };
    const Case cases[] = {
        {"JFIF version 1.2", 12, 0x02},
        {"density unit 1", 13, 0x01},
        {"height 481", sof + 6, 0xE1},
        {"width 641", sof + 8, 0x81},
        {"first component sampled 2x1", sof + 11, 0x21},
        {"second component sampled 2x2", sof + 14, 0x22},
        {"third component in slot 0", sof + 18, 0x00},
        {"progressive frame", sof + 1, 0xC2},
        {"second component's tables 0x10", sos + 8, 0x10},
        {"spectral end 62", sos + 12, 62},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = good;
        bad[c.at] = c.value;
        EXPECT_NE(CheckPictureFile(bad), "") << c.what;
    }

    const std::vector<uint8_t> comment = {0xFF, 0xFE, 0x00, 0x04, 'h', 'i'};
    std::vector<uint8_t> withComment = good;
    withComment.insert(withComment.begin() + sof, comment.begin(), comment.end());
    EXPECT_NE(CheckPictureFile(withComment), "") << "comment segment";

    const std::vector<uint8_t> restart = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x28};
    std::vector<uint8_t> withRestart = good;
    withRestart.insert(withRestart.begin() + sof, restart.begin(), restart.end());
    EXPECT_NE(CheckPictureFile(withRestart), "") << "restart interval";

    std::vector<uint8_t> rstInScan = good;
    rstInScan[sos + 200] = 0xFF;
    rstInScan[sos + 201] = 0xD0;
    EXPECT_NE(CheckPictureFile(rstInScan), "") << "restart marker in the scan";

    std::vector<uint8_t> noEnd(good.begin(), good.end() - 2);
    EXPECT_NE(CheckPictureFile(noEnd), "") << "missing end-of-image";
}

}  // namespace
