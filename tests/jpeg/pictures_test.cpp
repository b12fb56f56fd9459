// Real photographs made with cjpeg in every layout and several sizes: checksums
// of our own output (so that any change in the pixels is noticed), the fast
// carriers against the literal ones, libjpeg-turbo's decode as a sanity
// peer, truncated and corrupt scans, restart and end-of-image markers between
// MCUs, and the inputs the fuzzer once crashed on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include "test_support.h"

#ifdef JPEG_TEST_HAVE_TURBOJPEG
#include <turbojpeg.h>
#endif

namespace {

// Every committed picture: its name relative to the data folder, and its path.
std::vector<std::pair<std::string, std::string>> AllPictures() {
    std::vector<std::pair<std::string, std::string>> all;
    for (const std::string& path : ListFiles(HostPath(JPEG_TEST_DATA_DIR), ".jpg"))
        all.push_back({path.substr(path.find_last_of("/\\") + 1), path});
    for (const std::string& path : ListFiles(DataPath("bench"), ".jpg"))
        all.push_back({"bench/" + path.substr(path.find_last_of("/\\") + 1), path});
    return all;
}

}  // namespace

TEST(Checksums, OwnOutputOfTheCommittedPictures) {
    std::map<std::string, std::string> expected;
    Bytes text = ReadFileBytes(DataPath("checksums.txt"));
    std::string all(text.begin(), text.end());
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find('\n', pos);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(pos, end - pos);
        pos = end + 1;
        size_t space = line.find(' ');
        if (space != std::string::npos && line[0] != '#')
            expected[line.substr(0, space)] = line.substr(space + 1);
    }
    std::string written =
        "# name result fnv1a64-of-the-whole-DIB-block (tools/make-jpeg-testdata --checksums)\n";
    auto pictures = AllPictures();
    ASSERT_GE(pictures.size(), 30u);
    for (const auto& picture : pictures) {
        const std::string& name = picture.first;
        Decoded d = DecodeFile(picture.second);
        char line[128];
        std::snprintf(line, sizeof line, "%d %016llx", d.result,
                      static_cast<unsigned long long>(Fnv1a64(d.dib)));
        written += name + " " + line + "\n";
        EXPECT_EQ(expected[name], line) << name;
    }
    if (const char* out = std::getenv("JPEG_WRITE_CHECKSUMS"))
        WriteFileBytes(out, Bytes(written.begin(), written.end()));
}

TEST(Pictures, FastCarriersGiveTheLiteralResult) {
    for (const auto& picture : AllPictures()) {
        const std::string& path = picture.second;
        Decoded fast = DecodeFile(path), literal = DecodeFile(path, true),
                sse2 = DecodeFile(path, false, SIMD_SSE2);
        Decoded plain = DecodeFile(path, false, SIMD_NONE);
        EXPECT_EQ(fast.result, literal.result) << path;
        EXPECT_TRUE(fast.dib == literal.dib) << path;
        EXPECT_TRUE(sse2.dib == literal.dib) << path;
        EXPECT_TRUE(plain.dib == literal.dib) << path;
    }
}

// Every x86 processor this is tested on has SSE2 and every system saves its
// registers, so the comparison above did run the vector carriers.
#if DUNMERE_SSE2
TEST(Pictures, VectorCarriersAreChosenWhereTheSystemRunsThem) {
    EXPECT_GE(DetectSimdLevel(), SIMD_SSE2);
#if defined(__i386__) && defined(_WIN32)
    EXPECT_TRUE(SystemRunsSse(false));
    EXPECT_FALSE(SystemRunsSse(true));  // the refusal of Windows 95 and NT 4.0
#endif
}
#endif

#ifdef JPEG_TEST_HAVE_TURBOJPEG
// libjpeg-turbo's decode of the same files (replicated chroma, integer DCT) as
// a sanity peer: the colour weights differ, so the PSNR is high, not infinite.
TEST(Pictures, CloseToLibjpegTurbo) {
    for (const std::string& path : ListFiles(HostPath(JPEG_TEST_DATA_DIR), ".jpg")) {
        if (path.find("q3-16bit") != std::string::npos)
            continue;  // products wrap, as the decoder defines
        Decoded d = DecodeFile(path);
        if (d.result != 0) continue;
        Bytes jpeg = ReadFileBytes(path);
        tjhandle tj = tjInitDecompress();
        int w, h, sub, cs;
        ASSERT_EQ(tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sub, &cs), 0) << path;
        std::vector<std::uint8_t> peer(static_cast<size_t>(w) * h * 3);
        ASSERT_EQ(tjDecompress2(tj, jpeg.data(), jpeg.size(), peer.data(), w, 0, h, TJPF_BGR,
                                TJFLAG_FASTUPSAMPLE),
                  0);
        tjDestroy(tj);
        ASSERT_EQ(DibWidth(d), w);
        ASSERT_EQ(DibHeight(d), h);
        double squares = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < 3; ++k) {
                    double diff = double(PixelAt(d, x, y)[k]) -
                                  peer[(static_cast<size_t>(y) * w + x) * 3 + k];
                    squares += diff * diff;
                }
        double mse = squares / (3.0 * w * h);
        double psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
        bool grey = path.find("grey") != std::string::npos;
        EXPECT_GE(psnr, grey ? 45.0 : 30.0) << path;
    }
}
#endif

// Truncated scans: the result is 0, the fast and literal carriers agree, and
// the rows the data did not reach are black.
TEST(Pictures, TruncatedScans) {
    for (const char* name :
         {"coffee-641x481-2x2.jpg", "coffee-641x481-1x2.jpg", "coffee-641x481-grey.jpg",
          "astronaut-641x481-2x2-rst1.jpg", "rocket-47x31-2x1.jpg"}) {
        Bytes original = ReadFileBytes(DataPath(name));
        long sos = FindMarker(original, 0xDA);
        size_t scanStart = JpegSegmentEnd(original, sos);
        for (double fraction : {0.0, 0.01, 0.25, 0.5, 0.9, 0.999}) {
            // The length rule wants two bytes more than the SOS segment holds.
            size_t keep =
                std::max<size_t>(2, static_cast<size_t>((original.size() - scanStart) * fraction));
            Bytes b(original.begin(), original.begin() + scanStart + keep);
            Decoded fast = DecodeBytes(b, "truncated.jpg"),
                    literal = DecodeBytes(b, "truncated.jpg", true);
            ASSERT_EQ(fast.result, 0) << name << " " << fraction;
            EXPECT_EQ(literal.result, 0);
            EXPECT_TRUE(fast.dib == literal.dib) << name << " " << fraction;
            if (fraction <= 0.5) {
                const std::uint8_t* p = PixelAt(fast, DibWidth(fast) - 1, DibHeight(fast) - 1);
                EXPECT_EQ(p[0] | p[1] | p[2], 0) << name << " " << fraction;
            }
        }
        // Every cut in the last 700 bytes, where the data runs out inside blocks.
        for (size_t cut = original.size() > 700 ? original.size() - 700 : scanStart;
             cut < original.size(); cut += 7) {
            Bytes b(original.begin(), original.begin() + cut);
            Decoded fast = DecodeBytes(b, "truncated.jpg"),
                    literal = DecodeBytes(b, "truncated.jpg", true);
            ASSERT_EQ(fast.result, literal.result) << name << " " << cut;
            ASSERT_TRUE(fast.dib == literal.dib) << name << " " << cut;
        }
    }
}

TEST(Pictures, CorruptScansDecodeAlikeOnBothCarriers) {
    std::mt19937 random(2024);
    for (const char* name :
         {"coffee-641x481-2x2.jpg", "coffee-641x481-1x1.jpg", "astronaut-641x481-grey-q100.jpg",
          "astronaut-641x481-2x1-rst3rows.jpg", "rocket-47x31-1x2.jpg"}) {
        Bytes original = ReadFileBytes(DataPath(name));
        long sos = FindMarker(original, 0xDA);
        size_t scanStart = JpegSegmentEnd(original, sos);
        for (int round = 0; round < 6; ++round) {
            Bytes b = original;
            int flips = 1 + round * 3;
            for (int i = 0; i < flips; ++i) {
                size_t at = scanStart + random() % (b.size() - scanStart - 2);
                b[at] = round % 2 ? static_cast<std::uint8_t>(random()) : 0xFF;
            }
            Decoded fast = DecodeBytes(b, "corrupt.jpg"),
                    literal = DecodeBytes(b, "corrupt.jpg", true);
            EXPECT_EQ(fast.result, 0) << name << " " << round;
            EXPECT_EQ(fast.result, literal.result);
            EXPECT_TRUE(fast.dib == literal.dib) << name << " " << round;
        }
    }
}

// astronaut-641x481-2x2-rst1 has a restart marker after every MCU (16 x 16).
// An EOI in place of the marker after MCU 5 stops decoding there: MCUs 0..5
// are as in the whole picture, everything after them is black.
TEST(Pictures, EndOfImageBetweenMcusStopsDecoding) {
    Bytes original = ReadFileBytes(DataPath("astronaut-641x481-2x2-rst1.jpg"));
    Decoded whole = DecodeFile(DataPath("astronaut-641x481-2x2-rst1.jpg"));
    ASSERT_EQ(whole.result, 0);
    long sos = FindMarker(original, 0xDA);
    long at = sos;
    int seen = 0;
    for (long i = sos + 2; i + 1 < static_cast<long>(original.size()); ++i)
        if (original[i] == 0xFF && original[i + 1] >= 0xD0 && original[i + 1] <= 0xD7 &&
            seen++ == 5) {
            at = i;
            break;
        }
    ASSERT_GT(at, sos);
    Bytes b = original;
    b[at + 1] = 0xD9;
    Decoded d = DecodeBytes(b, "eoi-in-scan.jpg");
    ASSERT_EQ(d.result, 0);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 6 * 16; ++x)
            ASSERT_EQ(std::memcmp(PixelAt(d, x, y), PixelAt(whole, x, y), 3), 0) << x << "," << y;
    for (int y = 0; y < 481; y += 5)
        for (int x = y < 16 ? 6 * 16 : 0; x < 641; x += 3) {
            const std::uint8_t* p = PixelAt(d, x, y);
            ASSERT_EQ(p[0] | p[1] | p[2], 0) << x << "," << y;
        }
}

// Restart markers are honoured between MCUs whether or not a DRI segment
// declared an interval.
TEST(Pictures, RestartMarkersWithoutRestartInterval) {
    for (const char* name :
         {"astronaut-641x481-2x2-rst1.jpg", "astronaut-641x481-2x1-rst3rows.jpg"}) {
        Bytes b = ReadFileBytes(DataPath(name));
        long dri = FindMarker(b, 0xDD);
        ASSERT_GE(dri, 0);
        b[dri + 1] = 0xFE;  // DRI becomes a comment
        Decoded d = DecodeBytes(b, "no-dri.jpg");
        Decoded whole = DecodeFile(DataPath(name));
        EXPECT_EQ(d.result, 0);
        EXPECT_TRUE(d.dib == whole.dib) << name;
    }
}

// The restart check's padding step (FF 00 FF ahead of a marker) against two
// stuffed FF data bytes at an MCU boundary (mended: only a real marker makes
// the pair padding).
TEST(RestartCheck, PaddingPairOnlyBeforeAMarker) {
    std::unique_ptr<DecoderContext> c(new DecoderContext());
    std::memset(c.get(), 0, sizeof(DecoderContext));
    std::uint16_t q[64] = {8};
    c->componentQuant[0] = q;
    struct Case {
        Bytes bytes;
        int bitOffset;
        std::uint16_t result;
        int moved;
        bool reset;
    } cases[] = {
        {{0xFF, 0xD0, 0x12}, 0, 0, 2, true},               // RST at readPos
        {{0xAB, 0xFF, 0xD3, 0x12}, 3, 0, 3, true},         // RST after a partly used byte
        {{0xFF, 0xD9}, 0, 1, 0, false},                    // EOI: stop, nothing moves
        {{0xFF, 0x00, 0xFF, 0xD5, 0x12}, 5, 0, 4, true},   // stuffed padding byte, then RST
        {{0xFF, 0x00, 0xFF, 0xD9}, 5, 1, 2, false},        // stuffed padding byte, then EOI
        {{0xFF, 0x00, 0xFF, 0x00, 0x12}, 5, 0, 0, false},  // two stuffed data bytes: data
        {{0xFF, 0x00, 0xFF, 0x00, 0x12}, 0, 0, 0, false},
        {{0x12, 0x34}, 0, 0, 0, false},
        {{0x12, 0xFF, 0xD9}, 0, 0, 0, false},  // the marker is not at p
    };
    for (const Case& k : cases) {
        Bytes buffer = k.bytes;
        buffer.resize(buffer.size() + 16, 0);
        c->readPos = buffer.data();
        c->bytesLeft = static_cast<std::int32_t>(k.bytes.size());
        c->bitOffset = static_cast<std::int16_t>(k.bitOffset);
        c->dcPredictor[0] = 5;
        c->dcPredictor[1] = 6;
        std::uint16_t r = CheckRestartMarker(c.get());
        EXPECT_EQ(r, k.result);
        EXPECT_EQ(c->readPos - buffer.data(), k.moved);
        EXPECT_EQ(c->bytesLeft, static_cast<std::int32_t>(k.bytes.size()) - k.moved);
        EXPECT_EQ(c->dcPredictor[0], k.reset ? 1024 / 8 : 5);
        EXPECT_EQ(c->dcPredictor[1], k.reset ? 0 : 6);
        if (k.reset) {
            EXPECT_EQ(c->bitOffset, 0);
        }
    }
}

TEST(Regressions, InputsTheFuzzerCrashedOn) {
    std::vector<std::string> inputs = ListFiles(RegressionsDir(), "");
    for (const std::string& path : inputs) {
        if (path.find("README") != std::string::npos) continue;
        Decoded fast = DecodeFile(path), literal = DecodeFile(path, true);
        EXPECT_EQ(fast.result, literal.result) << path;
        EXPECT_TRUE(fast.dib == literal.dib) << path;
    }
}
