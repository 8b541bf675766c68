// The scalar rounds built with BMI1/BMI2: chi's and-not becomes one andn and
// the rotations become rorx.
#include "primitives/sha3/keccak.h"

#include <bit>
#include <cstdint>

#include "primitives/sha3/keccak_rounds.h"  // before the body is included into a namespace

namespace {
#define QOR_KECCAK_ATTR __attribute__((target("bmi,bmi2")))
#include "primitives/sha3/scalar_lane.h"
#include "primitives/sha3/keccak_body.h"
}  // namespace

namespace qor::sha3 {

__attribute__((target("bmi,bmi2"))) void KeccakF1600Bmi2(std::uint64_t state[25]) {
  Permute(state);
}

}  // namespace qor::sha3
