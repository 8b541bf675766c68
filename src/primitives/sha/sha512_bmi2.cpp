// SHA-512 compression built for CPUs with BMI2 (three-operand rotations).
#include "primitives/sha/sha512_rounds.h"

namespace qor::sha {

__attribute__((target("bmi2"))) void Sha512BlocksBmi2(uint64_t state[8], const uint8_t* data,
                                                       size_t blocks) {
  Sha512Rounds(state, data, blocks);
}

}  // namespace qor::sha
