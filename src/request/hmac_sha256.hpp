// HMAC-SHA256 (the hash of FIPS 180-4 in the keyed form of RFC 2104), for
// the signatures of edit forms. Kept in the program itself: a general
// cryptography library costs every run its loading time for this one use.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vexil {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::string_view message);
Sha256Digest hmac_sha256(std::string_view key, std::string_view message);

// Compares two texts of the same length in a time that does not depend on
// where they differ.
bool equal_in_constant_time(std::string_view a, std::string_view b);

}  // namespace vexil
