// jpegbench: decode throughput of DecodeJpegFile against libjpeg-turbo's
// TurboJPEG API on the same files, in megapixels per second, and the peak
// memory of one decode against its parts.
//
// TurboJPEG runs with fast upsampling, the accurate integer DCT and bottom-up
// BGR output (rows padded to 4 bytes, like the DIB); each iteration of either
// decoder starts from the file name, so both read the file. The process runs
// our decoder and TurboJPEG with its SIMD, then runs itself again with
// JSIMD_FORCENONE=1 for TurboJPEG without SIMD, and prints the ratios. Rates
// are per CPU second of the decoding thread (so that other work on the machine
// disturbs them less than wall-clock time would).
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <string>
#include <vector>

#include <windows.h>
#include <winstub_testing.h>

#include "decoder_context.h"

namespace {

struct Picture {
    std::string name, path;
    int width = 0, height = 0;
};

std::vector<Picture> g_pictures;
std::map<std::string, double> g_seconds;  // benchmark name -> seconds per decode

std::vector<unsigned char> ReadAll(const std::string& path) {
    std::vector<unsigned char> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    bytes.resize(static_cast<size_t>(size));
    if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
    std::fclose(f);
    return bytes;
}

void Dunmere(benchmark::State& state, const Picture* p) {
    for (auto _ : state) {
        HGLOBAL picture = nullptr;
        if (DecodeJpegFile(p->path.c_str(), &picture) != 0) state.SkipWithError("decode failed");
        GlobalFree(picture);
    }
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(p->width) * p->height / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void Turbo(benchmark::State& state, const Picture* p) {
    tjhandle tj = tjInitDecompress();
    int pitch = TJPAD(p->width * 3);
    std::vector<unsigned char> out(static_cast<size_t>(pitch) * p->height);
    for (auto _ : state) {
        std::vector<unsigned char> jpeg = ReadAll(p->path);
        int w, h, sub, cs;
        if (tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sub, &cs) != 0 ||
            tjDecompress2(tj, jpeg.data(), jpeg.size(), out.data(), w, pitch, h, TJPF_BGR,
                          TJFLAG_FASTUPSAMPLE | TJFLAG_BOTTOMUP) != 0)
            state.SkipWithError("tjDecompress2 failed");
        benchmark::DoNotOptimize(out.data());
    }
    tjDestroy(tj);
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(p->width) * p->height / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

std::string Plain(std::string name) { return name; }

class Collector : public benchmark::ConsoleReporter {
public:
    explicit Collector(bool quiet) : quiet_(quiet) {}
    bool ReportContext(const Context& context) override {
        return quiet_ ? true : ConsoleReporter::ReportContext(context);
    }
    void Finalize() override {}

private:
    bool quiet_;

public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.iterations > 0 && !run.error_occurred)
                g_seconds[Plain(run.benchmark_name())] =
                    run.GetAdjustedCPUTime() / 1e9;  // time unit: ns
        if (!quiet_) ConsoleReporter::ReportRuns(runs);
    }
};

void FindPictures() {
    std::string dir = JPEGBENCH_DATA_DIR;
    if (const char* d = std::getenv("JPEGBENCH_DATA_DIR")) dir = d;
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) return;
    while (dirent* e = readdir(folder)) {
        std::string name = e->d_name;
        if (name.size() < 5 || name.substr(name.size() - 4) != ".jpg") continue;
        Picture p;
        p.name = name.substr(0, name.size() - 4);
        p.path = dir + "/" + name;
        std::vector<unsigned char> jpeg = ReadAll(p.path);
        tjhandle tj = tjInitDecompress();
        int sub, cs;
        tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &p.width, &p.height, &sub, &cs);
        tjDestroy(tj);
        g_pictures.push_back(p);
    }
    closedir(folder);
    std::sort(g_pictures.begin(), g_pictures.end(), [](const Picture& a, const Picture& b) {
        return a.width * a.height != b.width * b.height ? a.width * a.height < b.width * b.height
                                                        : a.name < b.name;
    });
}

// Peak bytes in global blocks during one decode, against the parts.
void ReportMemory(const Picture& p) {
    HGLOBAL picture = nullptr;
    WinstubResetPeakBytes();
    unsigned long long before = WinstubLiveBytes();
    DecodeJpegFile(p.path.c_str(), &picture);
    unsigned long long peak = WinstubPeakBytes() - before;
    unsigned long long dib = GlobalSize(picture);
    GlobalFree(picture);
    std::vector<unsigned char> jpeg = ReadAll(p.path);
    int tables = 0;  // DHT tables in the file
    for (size_t i = 0; i + 4 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC4) {
            size_t len = (jpeg[i + 2] << 8) | jpeg[i + 3], j = i + 4, end = i + 2 + len;
            while (j + 17 <= end && j + 17 <= jpeg.size()) {
                size_t n = 0;
                for (int k = 1; k <= 16; ++k) n += jpeg[j + k];
                j += 17 + n;
                ++tables;
            }
        }
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) break;
    }
    unsigned long long file = jpeg.size(), lookup = tables * 2ull * LOOKUP_ENTRIES,
                       coefficients = 576 + 144 + 144;
    std::printf(
        "%-34s peak %10llu B = file %llu + slack %d + lookup %d x 128 KiB (%llu) + coefficients "
        "%llu + DIB %llu",
        p.name.c_str(), peak, file, FILE_SLACK_BYTES, tables, lookup, coefficients, dib);
    unsigned long long sum = file + FILE_SLACK_BYTES + lookup + coefficients + dib;
    if (sum != peak) std::printf(" (parts sum %llu)", sum);
    std::printf("; plus the context record %zu B\n", sizeof(DecoderContext));
}

}  // namespace

int main(int argc, char** argv) {
    bool turboOnly = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--turbo-only") == 0)
            turboOnly = true;
        else
            args.push_back(argv[i]);
    }
    int n = static_cast<int>(args.size());
    FindPictures();
    if (g_pictures.empty()) {
        std::fprintf(stderr, "jpegbench: no pictures in %s\n", JPEGBENCH_DATA_DIR);
        return 1;
    }
    for (const Picture& p : g_pictures) {
        if (!turboOnly) benchmark::RegisterBenchmark(("dunmere/" + p.name).c_str(), Dunmere, &p);
        benchmark::RegisterBenchmark(("turbo/" + p.name).c_str(), Turbo, &p);
    }
    benchmark::Initialize(&n, args.data());
    Collector collector(turboOnly);
    if (turboOnly) {
        benchmark::RunSpecifiedBenchmarks(&collector);
        for (auto& r : g_seconds) std::printf("RESULT %s %.9f\n", r.first.c_str(), r.second);
        return 0;
    }
    benchmark::RunSpecifiedBenchmarks(&collector);

    // TurboJPEG without SIMD, in a separate process.
    std::string command =
        "JSIMD_FORCENONE=1 '" + std::string(argv[0]) + "' --turbo-only --benchmark_color=false";
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--benchmark_min_time", 20) == 0 ||
            std::strncmp(argv[i], "--benchmark_filter", 18) == 0 ||
            std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0)
            command += std::string(" '") + argv[i] + "'";
    std::map<std::string, double> noSimd;
    std::printf("\n-- TurboJPEG without SIMD (JSIMD_FORCENONE=1, separate process)\n");
    std::fflush(stdout);
    if (FILE* child = popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, child)) {
            char name[256];
            double s;
            if (std::sscanf(line, "RESULT %255s %lf", name, &s) == 2)
                noSimd[name] = s;
            else
                std::fputs(line, stdout);
        }
        pclose(child);
    }

    std::printf("\n%-34s %10s %10s %10s %9s %9s\n", "picture", "ours MP/s", "tj MP/s", "tj-noSIMD",
                "vs SIMD", "vs noSIMD");
    double sum[3] = {0, 0, 0};
    int count = 0;
    for (const Picture& p : g_pictures) {
        double mp = static_cast<double>(p.width) * p.height / 1e6;
        auto find = [&](const std::map<std::string, double>& m, const std::string& k) {
            auto it = m.find(k);
            return it == m.end() ? 0.0 : mp / it->second;
        };
        double ours = find(g_seconds, "dunmere/" + p.name),
               simd = find(g_seconds, "turbo/" + p.name), plain = find(noSimd, "turbo/" + p.name);
        if (ours == 0 || simd == 0 || plain == 0) continue;
        std::printf("%-34s %10.1f %10.1f %10.1f %8.2fx %8.2fx\n", p.name.c_str(), ours, simd, plain,
                    ours / simd, ours / plain);
        if (p.width * p.height <= 640 * 480) {
            sum[0] += ours;
            sum[1] += simd;
            sum[2] += plain;
            ++count;
        }
    }
    if (count > 0)
        std::printf("%-34s %10.1f %10.1f %10.1f %8.2fx %8.2fx\n", "mean of the 640x480 pictures",
                    sum[0] / count, sum[1] / count, sum[2] / count, sum[0] / sum[1],
                    sum[0] / sum[2]);
    std::printf("\nPeak memory of one decode (global blocks):\n");
    for (const Picture& p : g_pictures) ReportMemory(p);
    return 0;
}
