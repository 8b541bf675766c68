// 64-bit general-register lanes for keccak_body.h.
#include <bit>
#include <cstdint>

using Lane = std::uint64_t;
#define LXOR(a, b) ((a) ^ (b))
#define LXOR3(a, b, c) ((a) ^ (b) ^ (c))
#define LCHI(a, b, c) ((a) ^ (~(b) & (c)))
#define LROL(a, r) std::rotl((a), (r))
#define LLOAD(p) (*(p))
#define LSTORE(p, v) (*(p) = (v))
#define LFROM(x) (x)
