#include "history/HistoryChain.h"

#include <array>
#include <cstdio>

namespace {

constexpr std::array<uint32_t, 64> kRound{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void Compress(std::array<uint32_t, 8>& h, const unsigned char* block) {
    std::array<uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 |
               uint32_t(block[4 * i + 2]) << 8 | uint32_t(block[4 * i + 3]);
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<uint32_t, 8> v = h;
    for (int i = 0; i < 64; ++i) {
        const uint32_t s1 = Rotr(v[4], 6) ^ Rotr(v[4], 11) ^ Rotr(v[4], 25);
        const uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const uint32_t t1 = v[7] + s1 + ch + kRound[i] + w[i];
        const uint32_t s0 = Rotr(v[0], 2) ^ Rotr(v[0], 13) ^ Rotr(v[0], 22);
        const uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        for (int j = 7; j > 0; --j)
            v[j] = v[j - 1];
        v[4] += t1;
        v[0] = t1 + s0 + maj;
    }
    for (int i = 0; i < 8; ++i)
        h[i] += v[i];
}

void AddField(std::string& text, const std::string& value) {
    text += std::to_string(value.size());
    text += ':';
    text += value;
    text += '\n';
}

} // namespace

std::string Sha256Hex(const std::string& data) {
    std::array<uint32_t, 8> h{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    size_t whole = data.size() / 64 * 64;
    for (size_t i = 0; i < whole; i += 64)
        Compress(h, bytes + i);
    // The tail, the bit 1 after it, and the length in bits at the end of the last block.
    std::array<unsigned char, 128> tail{};
    const size_t rest = data.size() - whole;
    std::copy(bytes + whole, bytes + data.size(), tail.begin());
    tail[rest] = 0x80;
    const size_t blocks = rest + 9 > 64 ? 2 : 1;
    const uint64_t bits = uint64_t(data.size()) * 8;
    for (int i = 0; i < 8; ++i)
        tail[blocks * 64 - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    for (size_t b = 0; b < blocks; ++b)
        Compress(h, tail.data() + 64 * b);
    char hex[65];
    for (int i = 0; i < 8; ++i)
        std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
    return std::string(hex, 64);
}

std::string CanonicalEntryText(const HistoryEntry& e) {
    std::string text;
    const std::string fields[] = {std::to_string(e.id),
                                  e.uid,
                                  e.time,
                                  e.station,
                                  e.user,
                                  e.programVersion,
                                  e.port,
                                  e.device,
                                  e.serial,
                                  e.part,
                                  e.firmware,
                                  e.action,
                                  e.error,
                                  HistoryResultName(e.result),
                                  std::to_string(e.confirmed),
                                  HexText(e.parameters),
                                  HexText(e.matrix),
                                  e.recordedAt,
                                  e.recordedBy,
                                  e.clientAddress,
                                  e.previousHash};
    for (const std::string& f : fields)
        AddField(text, f);
    return text;
}

std::string EntryHash(const HistoryEntry& entry) {
    return Sha256Hex(CanonicalEntryText(entry));
}

bool IsHistoryUid(const std::string& uid) {
    return uid.size() == 32 && uid.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

namespace {
std::string Named(int64_t id) {
    return "entry " + std::to_string(id);
}
} // namespace

std::optional<ChainBreak> CheckChain(const std::vector<HistoryEntry>& entries,
                                     const std::optional<ChainMark>& head,
                                     const std::optional<ChainMark>& anchor) {
    std::string previous = kChainStart;
    int64_t previousId = 0;
    bool anchorFound = false;
    for (const HistoryEntry& e : entries) {
        if (e.previousHash != previous) {
            if (previousId == 0)
                return ChainBreak{e.id, Named(e.id) +
                                            " is not linked to the start of the chain: entries before it "
                                            "are missing, or it was changed"};
            return ChainBreak{e.id, Named(e.id) + " is not linked to " + Named(previousId) + ": " +
                                        (e.id > previousId + 1 ? "entries between them are missing"
                                                               : "one of them was changed")};
        }
        if (EntryHash(e) != e.hash)
            return ChainBreak{e.id, Named(e.id) + " was changed after it was recorded"};
        if (anchor && e.id == anchor->id) {
            if (e.hash != anchor->hash)
                return ChainBreak{e.id, Named(e.id) + " no longer has the hash a verification found before: "
                                                      "the chain was rewritten up to it"};
            anchorFound = true;
        }
        previous = e.hash;
        previousId = e.id;
    }
    if (anchor && !anchorFound)
        return ChainBreak{anchor->id, Named(anchor->id) + ", which a verification found before, is missing"};
    if (head && (head->id != previousId || head->hash != previous))
        return ChainBreak{head->id,
                          "the chain's head is " + Named(head->id) +
                              (head->id > previousId ? ", which is missing: newer entries were taken out"
                                                     : ", but the entries do not end there")};
    return std::nullopt;
}
