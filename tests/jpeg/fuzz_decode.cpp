// libFuzzer target over DecodeJpegFile (the real file entry: each input is
// written to a temporary file). Every input is decoded twice, once as the
// decoder normally runs and once with the Parts' literal bit reader and inverse
// DCT only; the two must agree in result and in every byte of the DIB. Also
// checks that nothing is left allocated and that the picture variable is empty
// on failure. Built by tools/fuzz.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include <windows.h>
#include <winstub_testing.h>

#include "decoder_context.h"

namespace {

const std::string &InputPath() {
  static const std::string path = "/tmp/dunmere-jpeg-fuzz-" + std::to_string(getpid()) + ".jpg";
  return path;
}

struct Outcome {
  DecoderResult result;
  std::string dib;
};

Outcome Decode(bool literal) {
  g_jpegLiteralPaths = literal;
  HGLOBAL picture = nullptr;
  Outcome o;
  o.result = DecodeJpegFile(InputPath().c_str(), &picture);
  g_jpegLiteralPaths = false;
  if (o.result != 0) {
    if (picture != nullptr) std::abort();  // the variable must be empty on failure
    return o;
  }
  if (picture == nullptr) std::abort();
  const char *bytes = static_cast<const char *>(GlobalLock(picture));
  o.dib.assign(bytes, GlobalSize(picture));
  GlobalUnlock(picture);
  GlobalFree(picture);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // As on a machine with 2 MiB to spare for one block: larger pictures are
  // refused with 101 instead of taking the fuzzer's memory and time.
  WinstubSetAllocationLimit(2u << 20);
  FILE *f = std::fopen(InputPath().c_str(), "wb");
  if (f == nullptr) return 0;
  if (size != 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
  long blocks = WinstubLiveBlocks();
  Outcome fast = Decode(false);
  Outcome literal = Decode(true);
  if (WinstubLiveBlocks() != blocks || WinstubLiveLocks() != 0) std::abort();  // leak
  if (fast.result != literal.result || fast.dib != literal.dib) {
    std::fprintf(stderr, "fast and literal paths differ: %d vs %d\n", fast.result, literal.result);
    std::abort();
  }
  return 0;
}
