// HMAC-SHA256: the SHA-256 compression function over 64-byte blocks, and
// the keyed hash built on it.
#include "request/hmac_sha256.hpp"

#include <cstddef>

namespace vexil {

namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t rotate_right(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// The running hash over a message fed in pieces.
class Sha256 {
public:
    void add(std::string_view bytes) {
        for (char c : bytes) {
            block_[filled_++] = std::uint8_t(c);
            if (filled_ == block_.size()) {
                compress();
                filled_ = 0;
            }
        }
        length_ += bytes.size();
    }

    Sha256Digest finish() {
        std::uint64_t bits = std::uint64_t(length_) * 8;
        block_[filled_++] = 0x80;
        if (filled_ > 56) {
            while (filled_ < 64) block_[filled_++] = 0;
            compress();
            filled_ = 0;
        }
        while (filled_ < 56) block_[filled_++] = 0;
        for (int i = 7; i >= 0; --i) block_[filled_++] = std::uint8_t(bits >> (8 * i));
        compress();
        Sha256Digest digest;
        for (std::size_t i = 0; i < 8; ++i) {
            for (std::size_t b = 0; b < 4; ++b) digest[4 * i + b] = std::uint8_t(state_[i] >> (24 - 8 * b));
        }
        return digest;
    }

private:
    void compress() {
        std::array<std::uint32_t, 64> w;
        for (std::size_t i = 0; i < 16; ++i) {
            w[i] = std::uint32_t(block_[4 * i]) << 24 | std::uint32_t(block_[4 * i + 1]) << 16 |
                   std::uint32_t(block_[4 * i + 2]) << 8 | std::uint32_t(block_[4 * i + 3]);
        }
        for (std::size_t i = 16; i < 64; ++i) {
            std::uint32_t s0 = rotate_right(w[i - 15], 7) ^ rotate_right(w[i - 15], 18) ^ (w[i - 15] >> 3);
            std::uint32_t s1 = rotate_right(w[i - 2], 17) ^ rotate_right(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::array<std::uint32_t, 8> v = state_;
        for (std::size_t i = 0; i < 64; ++i) {
            std::uint32_t s1 = rotate_right(v[4], 6) ^ rotate_right(v[4], 11) ^ rotate_right(v[4], 25);
            std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
            std::uint32_t t1 = v[7] + s1 + choice + kRoundConstants[i] + w[i];
            std::uint32_t s0 = rotate_right(v[0], 2) ^ rotate_right(v[0], 13) ^ rotate_right(v[0], 22);
            std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
            std::uint32_t t2 = s0 + majority;
            v[7] = v[6];
            v[6] = v[5];
            v[5] = v[4];
            v[4] = v[3] + t1;
            v[3] = v[2];
            v[2] = v[1];
            v[1] = v[0];
            v[0] = t1 + t2;
        }
        for (std::size_t i = 0; i < 8; ++i) state_[i] += v[i];
    }

    std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> block_{};
    std::size_t filled_ = 0;
    std::size_t length_ = 0;
};

std::string_view as_text(const Sha256Digest& digest) {
    return std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size());
}

}  // namespace

Sha256Digest sha256(std::string_view message) {
    Sha256 hash;
    hash.add(message);
    return hash.finish();
}

Sha256Digest hmac_sha256(std::string_view key, std::string_view message) {
    // A key longer than a block is hashed first; a shorter one is padded
    // with zeros to the block.
    std::array<std::uint8_t, 64> padded{};
    Sha256Digest hashed_key;
    if (key.size() > padded.size()) {
        hashed_key = sha256(key);
        key = as_text(hashed_key);
    }
    for (std::size_t i = 0; i < key.size(); ++i) padded[i] = std::uint8_t(key[i]);
    std::array<char, 64> inner_pad, outer_pad;
    for (std::size_t i = 0; i < padded.size(); ++i) {
        inner_pad[i] = char(padded[i] ^ 0x36);
        outer_pad[i] = char(padded[i] ^ 0x5c);
    }
    Sha256 inner;
    inner.add(std::string_view(inner_pad.data(), inner_pad.size()));
    inner.add(message);
    Sha256Digest inner_digest = inner.finish();
    Sha256 outer;
    outer.add(std::string_view(outer_pad.data(), outer_pad.size()));
    outer.add(as_text(inner_digest));
    return outer.finish();
}

bool equal_in_constant_time(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace vexil
