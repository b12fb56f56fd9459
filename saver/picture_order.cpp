// The shuffled deck of the folder's pictures. Its order is a permutation that
// is computed from a seed, never stored: a four-round Feistel network on the
// smallest even number of bits that covers the count, walked until it lands
// below the count. The seed, the position, the count and a checksum of the
// folder are four registry numbers, so that the next run goes on where this
// one stopped, and a folder that changed gets a fresh deck.
#include "picture_folder.h"
#include "slideshow.h"

namespace {

enum : int { FEISTEL_ROUNDS = 4, RESEEDS_FOR_A_NEW_FIRST = 8 };
constexpr uint32_t GOLDEN = 0x9E3779B9u;

// A 32-bit mixer whose every output bit depends on every input bit.
uint32_t Mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

uint32_t Permute(uint32_t x, uint32_t halfBits, const uint32_t (&keys)[FEISTEL_ROUNDS]) {
    const uint32_t mask = (uint32_t(1) << halfBits) - 1;
    uint32_t left = x >> halfBits, right = x & mask;
    for (uint32_t key : keys) {
        const uint32_t next = left ^ (Mix(right ^ key) & mask);
        left = right;
        right = next;
    }
    return left << halfBits | right;
}

void SaveNumber(const char* name, uint32_t value) {
    WriteSettingDword(name, static_cast<int32_t>(value));
}

uint32_t StoredNumber(const char* name) {
    int32_t value = 0;
    ReadSettingDword(name, &value);
    return static_cast<uint32_t>(value);
}

}  // namespace

uint32_t DeckCard(const PictureDeck& deck, uint32_t position) {
    if (deck.count <= 1) return 0;
    uint32_t bits = 0;
    while (bits < 32 && (deck.count - 1) >> bits) ++bits;
    const uint32_t halfBits = (bits + 1) / 2;
    uint32_t keys[FEISTEL_ROUNDS];
    for (int r = 0; r < FEISTEL_ROUNDS; ++r) keys[r] = Mix(deck.seed + GOLDEN * (r + 1));
    // The network permutes the whole power of two; the cycle from a position
    // below the count comes back below it, at most at the position itself.
    uint32_t x = position % deck.count;
    do x = Permute(x, halfBits, keys);
    while (x >= deck.count);
    return x;
}

void ShuffleDeck(PictureDeck* deck, uint32_t count, uint32_t seed, uint32_t lastShown) {
    deck->count = count;
    deck->position = 0;
    deck->seed = seed;
    for (int tries = 0;
         tries < RESEEDS_FOR_A_NEW_FIRST && count > 1 && DeckCard(*deck, 0) == lastShown; ++tries)
        deck->seed = Mix(deck->seed + GOLDEN);
}

uint32_t FolderChecksum(const wchar_t* path) {
    uint32_t sum = 2166136261u;  // FNV-1a over the UTF-16 units, ASCII letters without case
    for (; *path; ++path) {
        const wchar_t c = *path >= L'A' && *path <= L'Z' ? wchar_t(*path + 32) : *path;
        sum = (sum ^ static_cast<uint32_t>(c)) * 16777619u;
    }
    return sum;
}

void ReadDeck(PictureDeck* deck) {
    deck->seed = StoredNumber(DECK_SEED_VALUE);
    deck->position = StoredNumber(DECK_POSITION_VALUE);
    deck->count = StoredNumber(DECK_COUNT_VALUE);
    deck->folder = StoredNumber(DECK_FOLDER_VALUE);
}

void WriteDeck(const PictureDeck& deck) {
    SaveNumber(DECK_SEED_VALUE, deck.seed);
    SaveNumber(DECK_POSITION_VALUE, deck.position);
    SaveNumber(DECK_COUNT_VALUE, deck.count);
    SaveNumber(DECK_FOLDER_VALUE, deck.folder);
}
