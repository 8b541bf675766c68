// Loads and stores of 32- and 64-bit words in a fixed byte order, from and to
// unaligned byte buffers. memcpy plus a byte swap compiles to one load or
// store (movbe where available) and is free of alignment and aliasing traps.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace qor::primitives {

namespace byte_order_detail {

template <class Word>
inline Word Swap(Word v) {
  if constexpr (sizeof(Word) == 4) {
    return __builtin_bswap32(v);
  } else {
    return __builtin_bswap64(v);
  }
}

template <class Word, std::endian kOrder>
inline Word Load(const uint8_t* p) {
  Word v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (kOrder != std::endian::native) v = Swap(v);
  return v;
}

template <class Word, std::endian kOrder>
inline void Store(uint8_t* p, Word v) {
  if constexpr (kOrder != std::endian::native) v = Swap(v);
  std::memcpy(p, &v, sizeof v);
}

}  // namespace byte_order_detail

inline uint32_t LoadBe32(const uint8_t* p) { return byte_order_detail::Load<uint32_t, std::endian::big>(p); }
inline uint64_t LoadBe64(const uint8_t* p) { return byte_order_detail::Load<uint64_t, std::endian::big>(p); }
inline uint32_t LoadLe32(const uint8_t* p) { return byte_order_detail::Load<uint32_t, std::endian::little>(p); }
inline uint64_t LoadLe64(const uint8_t* p) { return byte_order_detail::Load<uint64_t, std::endian::little>(p); }

inline void StoreBe32(uint8_t* p, uint32_t v) { byte_order_detail::Store<uint32_t, std::endian::big>(p, v); }
inline void StoreBe64(uint8_t* p, uint64_t v) { byte_order_detail::Store<uint64_t, std::endian::big>(p, v); }
inline void StoreLe32(uint8_t* p, uint32_t v) { byte_order_detail::Store<uint32_t, std::endian::little>(p, v); }
inline void StoreLe64(uint8_t* p, uint64_t v) { byte_order_detail::Store<uint64_t, std::endian::little>(p, v); }

}  // namespace qor::primitives
