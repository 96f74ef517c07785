#pragma once
// Character-order maps: the 256 character codes listed from the lowest to the
// highest in a locale's collation.
//
// A map of (language id, sort id) holds Order[0..255], the codes sorted by
// CompareChar (ties keep code order), and Position, its inverse. Order[0] is
// the lowest character and Order[255] the highest; for language 0 the map is
// the identity. Key range helpers step string bytes through these maps.
//
// `TLanguageCharMapsList` is one process-wide cache, guarded by its own
// mutex for lookup and insertion. A map is built on first request and kept
// for the life of the process; references to it never dangle. Building a map
// calls the collation layer, which may take the locale-driver mutex: lock
// order is char-map mutex, then driver mutex; the collation layer never
// calls back here.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace tarn {

struct TCharMap {
  std::uint16_t LanguageId = 0;
  std::uint16_t SortId = 0;
  std::array<std::uint8_t, 256> Order{};     // lowest .. highest
  std::array<std::uint8_t, 256> Position{};  // Position[Order[i]] == i

  std::uint8_t Lowest() const { return Order[0]; }
  std::uint8_t Highest() const { return Order[255]; }
  bool CheckInvariants() const;
};

class TLanguageCharMapsList {
 public:
  // The process-wide list.
  static TLanguageCharMapsList& Global();

  // The map of (languageId, sortId), built on first request. A language that
  // cannot be collated gets the identity map.
  const TCharMap& GetMap(std::uint16_t languageId, std::uint16_t sortId);

  // Number of maps built so far.
  std::size_t Count() const;

 private:
  mutable std::mutex FMutex;  // guards FMaps
  std::map<std::pair<std::uint16_t, std::uint16_t>, std::unique_ptr<TCharMap>> FMaps;
};

// Shorthand for TLanguageCharMapsList::Global().GetMap(languageId, sortId).
const TCharMap& LanguageCharMap(std::uint16_t languageId, std::uint16_t sortId);

}  // namespace tarn
