#pragma once
// The scramble transform of encrypted tables.
//
// A run of n bytes is transformed with a key pair (K1, K2): two 8-bit counters
// start at a = K1 and b = K2; each byte in turn becomes byte ^ a ^ b, then
// a := a + 1 and b := b - 1 (mod 256). A run of 0 bytes, or of a non-zero
// multiple of 65536 bytes, is left unchanged. The transform is its own
// inverse. Every run starts afresh.
//
// The two key pairs are part of the file format and never change:
//   data key (field definitions, records, index header and pages, blob header
//             and blocks): K1 = 0x5A, K2 = 0xC3
//   text key (the characters of the data header's Password and Description):
//             K1 = 0x3D, K2 = 0x96

#include <cstdint>
#include <span>

namespace tarn {

struct TScrambleKey {
  std::uint8_t K1;
  std::uint8_t K2;
};

inline constexpr TScrambleKey DataScrambleKey{0x5A, 0xC3};
inline constexpr TScrambleKey TextScrambleKey{0x3D, 0x96};

// Transforms the run in place; see above for the rule.
inline void ScrambleBytes(std::span<std::uint8_t> run, TScrambleKey key) {
  const std::size_t n = run.size();
  if (n == 0 || n % 65536 == 0) return;
  std::uint8_t a = key.K1;
  std::uint8_t b = key.K2;
  for (std::uint8_t& byte : run) {
    byte = static_cast<std::uint8_t>(byte ^ a ^ b);
    ++a;
    --b;
  }
}

}  // namespace tarn
