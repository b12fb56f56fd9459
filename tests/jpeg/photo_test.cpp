// The photo entry on the photographs make-photo-samples makes at test time:
// every scale against djpeg's (which, through the samples' EXIF segments, also
// covers the orientations and their traps), the fitted sizes against
// ImageMagick's area averaging, the refusals, files cut short, the yield and
// wide names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "photo_decoder.h"
#include "test_support.h"
#ifndef _WIN32
#include <winstub_testing.h>
#endif

namespace {

std::string Sample(const std::string& name) {
    return HostPath(std::string(PHOTO_SAMPLES_DIR) + "/" + name);
}

PhotoRequest Request(int scale, std::int32_t boxWidth = 0, std::int32_t boxHeight = 0,
                     bool fit = true) {
    PhotoRequest r = {};
    r.scale = scale;
    r.boxWidth = boxWidth;
    r.boxHeight = boxHeight;
    r.fitToBox = fit;
    return r;
}

Decoded DecodePhoto(const std::string& path, const PhotoRequest& request) {
    Decoded d;
    HGLOBAL picture = nullptr;
    d.result = DecodePhotoFile(path.c_str(), request, &picture);
    if (picture != nullptr) {
        d.dib = BlockBytes(picture);
        GlobalFree(picture);
    }
    if (d.result == 0) {
        EXPECT_EQ(d.dib.size(), 40u + DibHeight(d) * ((DibWidth(d) * 3 + 3u) & ~3u));
    }
    return d;
}

Decoded DecodeBytesAsPhoto(const Bytes& bytes, const PhotoRequest& request = {}) {
    WriteFileBytes(WorkPath("photo-crafted.jpg"), bytes);
    return DecodePhoto(WorkPath("photo-crafted.jpg"), request);
}

// The PSNR of a decode against a binary PPM (red, green, blue) or PGM (grey),
// or -1 when the sizes differ.
double Psnr(const Decoded& d, const std::string& ppm) {
    Bytes file = ReadFileBytes(ppm);
    file.push_back(0);
    int width = 0, height = 0, maximum = 0, header = 0;
    char kind = 0;
    if (std::sscanf(reinterpret_cast<const char*>(file.data()), "P%c %d %d %d%n", &kind, &width,
                    &height, &maximum, &header) != 4 ||
        d.result != 0 || width != DibWidth(d) || height != DibHeight(d))
        return -1;
    const int channels = kind == '5' ? 1 : 3;
    const std::uint8_t* sample = file.data() + header + 1;
    double squares = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x, sample += channels)
            for (int c = 0; c < 3; ++c) {
                double e = double(PixelAt(d, x, y)[2 - c]) - sample[channels == 3 ? c : 0];
                squares += e * e;
            }
    double mse = squares / (3.0 * width * height);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

long LiveBlocks() {
#ifdef _WIN32
    return 0;
#else
    return WinstubLiveBlocks();
#endif
}

}  // namespace

TEST(Photo, EveryScaleMatchesDjpegTurnedUpright) {
    long blocks = LiveBlocks();
    std::vector<std::string> references = ListFiles(HostPath(PHOTO_SAMPLES_DIR), ".1.ppm");
    ASSERT_GE(references.size(), 26u);
    for (const std::string& reference : references) {
        std::string base = reference.substr(0, reference.size() - 6);
        for (int scale : {1, 2, 4, 8}) {
            Decoded d = DecodePhoto(base + ".jpg", Request(scale));
            ASSERT_EQ(d.result, 0) << base << " 1/" << scale;
            EXPECT_GE(Psnr(d, base + "." + std::to_string(scale) + ".ppm"), 40)
                << base << " at 1/" << scale;
        }
    }
    EXPECT_EQ(LiveBlocks(), blocks);
}

TEST(Photo, FittedSizesAndAreaAveraging) {
    // The box each picture is fitted into, and the upright size it comes out at.
    struct Case {
        const char* name;
        std::int32_t boxWidth, boxHeight;
        bool fit;
        int width, height;
    } cases[] = {
        {"coffee-420", 100, 100, true, 100, 75},    // 641 x 481: the width meets the box
        {"coffee-420", 1000, 240, true, 320, 240},  // the height does
        {"coffee-420", 320, 240, false, 320, 240},  // larger than the box: shrunk all the same
        {"coffee-420", 0, 0, true, 641, 481},       // no box
        {"coffee-420", 0, 300, true, 641, 481},     // half a box is none
        {"coffee-orientation-6-intel", 100, 100, true, 75, 100},
        {"rocket-444-q100", 94, 94, true, 94, 62},   // 47 x 31 enlarged
        {"rocket-444-q100", 94, 94, false, 47, 31},  // small pictures stay small
        {"rocket-444-q100", 1, 1, true, 1, 1},
        {"rocket-444-q100", 1000, 1, true, 2, 1},
    };
    for (const Case& c : cases) {
        Decoded d = DecodePhoto(Sample(std::string(c.name) + ".jpg"),
                                Request(0, c.boxWidth, c.boxHeight, c.fit));
        ASSERT_EQ(d.result, 0) << c.name;
        EXPECT_EQ(DibWidth(d), c.width) << c.name << " in " << c.boxWidth << "x" << c.boxHeight;
        EXPECT_EQ(DibHeight(d), c.height) << c.name << " in " << c.boxWidth << "x" << c.boxHeight;
    }
    // A box of the 1/4 decode's own size takes that decode, unresampled.
    EXPECT_EQ(DecodePhoto(Sample("coffee-420.jpg"), Request(0, 161, 121)).dib,
              DecodePhoto(Sample("coffee-420.jpg"), Request(4)).dib);
    // Twice the size: every pixel doubled.
    Decoded own = DecodePhoto(Sample("rocket-444-q100.jpg"), Request(1));
    Decoded twice = DecodePhoto(Sample("rocket-444-q100.jpg"), Request(0, 94, 62));
    for (int y = 0; y < 62; ++y)
        for (int x = 0; x < 94; ++x)
            ASSERT_EQ(0, std::memcmp(PixelAt(twice, x, y), PixelAt(own, x / 2, y / 2), 3))
                << x << "," << y;
    // Other ratios, shrinking and enlarging, from the scale each box needs.
    std::vector<std::string> fits = ListFiles(HostPath(PHOTO_SAMPLES_DIR), ".ppm");
    int compared = 0;
    for (const std::string& reference : fits) {
        std::size_t at = reference.find(".fit-");
        if (at == std::string::npos) continue;
        int width = 0, height = 0;
        std::sscanf(reference.c_str() + at, ".fit-%dx%d", &width, &height);
        Decoded d = DecodePhoto(reference.substr(0, at) + ".jpg", Request(0, width, height));
        EXPECT_GE(Psnr(d, reference), 40) << reference;
        ++compared;
    }
    EXPECT_EQ(compared, 5);
}

TEST(Photo, OtherProcessesAndDamagedHeadersAreRefused) {
    long blocks = LiveBlocks();
    EXPECT_EQ(DecodePhoto(Sample("rocket-arithmetic.jpg"), {}).result, DECODER_NOT_BASELINE);
    EXPECT_EQ(DecodePhoto(Sample("cmyk.jpg"), {}).result, DECODER_BAD_STREAM);  // four components
    EXPECT_EQ(DecodePhoto(Sample("no-such-photo.jpg"), {}).result, DECODER_OPEN_FAILED);
    const Bytes good = ReadFileBytes(Sample("coffee-420.jpg"));
    const std::size_t sof = static_cast<std::size_t>(FindMarker(good, 0xC0));
    const std::size_t sos = static_cast<std::size_t>(FindMarker(good, 0xDA));
    auto patched = [&](std::size_t at, std::uint8_t value, int bytes = 1) {
        Bytes b = good;
        for (int i = 0; i < bytes; ++i) b[at + i] = value;
        return DecodeBytesAsPhoto(b).result;
    };
    EXPECT_EQ(patched(sof + 4, 12), DECODER_NOT_BASELINE);  // 12-bit samples
    for (std::uint8_t code : {0xC3, 0xC5, 0xC9, 0xCD})      // lossless, hierarchical, arithmetic
        EXPECT_EQ(patched(sof + 1, code), DECODER_NOT_BASELINE) << int(code);
    EXPECT_EQ(patched(sof + 7, 0, 2), DECODER_BAD_STREAM);             // width 0
    EXPECT_EQ(patched(sof + 11, 0x52), DECODER_BAD_STREAM);            // sampling factor 5
    EXPECT_EQ(patched(sof + 13, good[sof + 10]), DECODER_BAD_STREAM);  // two components, one id
    EXPECT_EQ(patched(sos + 5, 9), DECODER_BAD_STREAM);    // a scan of an unknown component
    EXPECT_EQ(patched(sof + 3, 200), DECODER_BAD_STREAM);  // the frame runs past its segment
    EXPECT_EQ(DecodeBytesAsPhoto(Bytes(good.begin(), good.begin() + sos)).result,
              DECODER_BAD_STREAM);  // no scan
    EXPECT_EQ(DecodeBytesAsPhoto(Bytes()).result, DECODER_BAD_STREAM);
    // A picture the caller hands in is freed, and a failure leaves the variable empty.
    HGLOBAL picture = GlobalAlloc(GMEM_MOVEABLE, 16);
    EXPECT_EQ(DecodePhotoFile(Sample("cmyk.jpg").c_str(), {}, &picture), DECODER_BAD_STREAM);
    EXPECT_EQ(picture, nullptr);
    EXPECT_EQ(LiveBlocks(), blocks);
}

TEST(Photo, FilesCutShortShowWhatTheyCarried) {
    const Bytes progressive = ReadFileBytes(Sample("coffee-420-progressive.jpg"));
    Decoded full = DecodePhoto(Sample("coffee-420-progressive.jpg"), Request(1));
    // Cut after the first scan (DC only): a blurred picture, not a black one.
    long second = FindMarker(progressive, 0xDA, FindMarker(progressive, 0xDA) + 2);
    Decoded dc =
        DecodeBytesAsPhoto(Bytes(progressive.begin(), progressive.begin() + second), Request(1));
    ASSERT_EQ(dc.result, 0);
    double squares = 0;
    for (int y = 0; y < 481; ++y)
        for (int x = 0; x < 641; ++x)
            for (int c = 0; c < 3; ++c) {
                double e = double(PixelAt(dc, x, y)[c]) - PixelAt(full, x, y)[c];
                squares += e * e;
            }
    EXPECT_GT(10 * std::log10(255.0 * 255.0 * 3 * 641 * 481 / squares), 20);
    // A sequential photo cut in half: the rows it holds, then black.
    const Bytes sequential = ReadFileBytes(Sample("coffee-420.jpg"));
    Decoded whole = DecodePhoto(Sample("coffee-420.jpg"), Request(1));
    Decoded half = DecodeBytesAsPhoto(
        Bytes(sequential.begin(), sequential.begin() + sequential.size() / 2), Request(1));
    ASSERT_EQ(half.result, 0);
    EXPECT_EQ(0, std::memcmp(PixelAt(half, 0, 15), PixelAt(whole, 0, 15), 641 * 3));
    const std::uint8_t black[3] = {0, 0, 0};
    EXPECT_EQ(0, std::memcmp(PixelAt(half, 320, 480), black, 3));
    // Cut anywhere, at every scale and fitted: a picture or 105, nothing else.
    long blocks = LiveBlocks();
    for (const char* name :
         {"rocket-mixed-progressive.jpg", "rocket-orientation-5.jpg", "rocket-411.jpg"}) {
        const Bytes b = ReadFileBytes(Sample(name));
        for (std::size_t cut = 0; cut < b.size(); cut += 37)
            for (const PhotoRequest& r : {Request(1), Request(8), Request(0, 30, 10)}) {
                DecoderResult result =
                    DecodeBytesAsPhoto(Bytes(b.begin(), b.begin() + cut), r).result;
                EXPECT_TRUE(result == 0 || result == DECODER_BAD_STREAM)
                    << name << " cut at " << cut;
            }
    }
    EXPECT_EQ(LiveBlocks(), blocks);
}

namespace {

struct YieldCount {
    int calls, stopAt;
};

bool CountYield(void* argument) {
    YieldCount* y = static_cast<YieldCount*>(argument);
    return ++y->calls != y->stopAt;
}

}  // namespace

TEST(Photo, YieldRunsBetweenRowsOfMcusAndCanAbandon) {
    long blocks = LiveBlocks();
    for (const char* name : {"coffee-420.jpg", "coffee-420-approximation.jpg"}) {
        YieldCount count = {0, -1};
        PhotoRequest r = Request(1);
        r.yield = CountYield;
        r.yieldArgument = &count;
        HGLOBAL picture = nullptr;
        ASSERT_EQ(DecodePhotoFile(Sample(name).c_str(), r, &picture), 0);
        GlobalFree(picture);
        picture = nullptr;
        // 31 rows of 16 x 16 MCUs: once per row of the one scan, or of each of
        // the eleven scans (per block row in those of one component) and the output.
        EXPECT_GE(count.calls, std::strcmp(name, "coffee-420.jpg") == 0 ? 31 : 11 * 31 + 31)
            << name;
        for (int stop : {1, count.calls / 2, count.calls}) {
            YieldCount abandon = {0, stop};
            r.yieldArgument = &abandon;
            EXPECT_EQ(DecodePhotoFile(Sample(name).c_str(), r, &picture), DECODER_ABANDONED);
            EXPECT_EQ(picture, nullptr);
            EXPECT_EQ(abandon.calls, stop) << "no call after the one that said no";
        }
    }
    EXPECT_EQ(LiveBlocks(), blocks);
}

TEST(Photo, WideNames) {
    const wchar_t* leaf = L"\u5199\u771f-photo.jpg";  // 写真
    std::string dir = WorkPath("");
    std::wstring wide(dir.begin(), dir.end());
    wide += leaf;
#ifdef _WIN32
    const std::string source = Sample("coffee-420.jpg");
    ASSERT_TRUE(CopyFileW(std::wstring(source.begin(), source.end()).c_str(), wide.c_str(), FALSE));
#else
    ASSERT_TRUE(WriteFileBytes(dir + "\xE5\x86\x99\xE7\x9C\x9F-photo.jpg",
                               ReadFileBytes(Sample("coffee-420.jpg"))));
#endif
    HGLOBAL picture = nullptr;
    ASSERT_EQ(DecodePhotoFileWide(wide.c_str(), Request(2), &picture), 0);
    EXPECT_TRUE(BlockBytes(picture) == DecodePhoto(Sample("coffee-420.jpg"), Request(2)).dib);
    GlobalFree(picture);
}

TEST(Photo, InputsTheFuzzersCrashedOn) {
    long blocks = LiveBlocks();
    std::vector<std::string> inputs = ListFiles(HostPath(PHOTO_REGRESSIONS_DIR), "");
    for (const std::string& path : ListFiles(RegressionsDir(), "")) inputs.push_back(path);
    ASSERT_GE(inputs.size(), 3u);
    for (const std::string& path : inputs) {
        if (path.find("README") != std::string::npos) continue;
        for (const PhotoRequest& r : {Request(1), Request(8), Request(0, 64, 48)}) {
            DecoderResult result = DecodePhoto(path, r).result;
            EXPECT_TRUE(result == 0 || (result >= 101 && result <= 106)) << path;
        }
    }
    EXPECT_EQ(LiveBlocks(), blocks);
}
