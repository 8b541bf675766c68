// The same rounds built with BMI1/BMI2, which turn the chi step's
// and-not into one instruction and the rotations into rorx.
#include "primitives/sha3/keccak.h"
#include "primitives/sha3/keccak_rounds.h"

namespace qor::sha3 {

__attribute__((target("bmi,bmi2"))) void KeccakF1600Bmi2(std::uint64_t state[25]) {
  detail::KeccakPermute(state);
}

}  // namespace qor::sha3
