// Log lines and message texts shared by the algorithm adapters.
#pragma once

#include "engine/engine_log.h"

namespace qor::engine::msg {

// EUC-KR: "입력 값중에 NULL값이 포함되어 있다."
inline constexpr char kNullInputKo[] =
    "\xc0\xd4\xb7\xc2 \xb0\xaa\xc1\xdf\xbf\xa1 NULL\xb0\xaa\xc0\xcc \xc6\xf7\xc7\xd4\xb5\xc7\xbe\xee "
    "\xc0\xd6\xb4\xd9.\n";
// EUC-KR: "pIn값의 길이가 0보다 작다."
inline constexpr char kShortInputKo[] =
    "pIn\xb0\xaa\xc0\xc7 \xb1\xe6\xc0\xcc\xb0\xa1 0\xba\xb8\xb4\xd9 \xc0\xdb\xb4\xd9.\n";
// EUC-KR: "pKey값의 길이가 잘못 되었습니다. pKey->length = [%d]"
#define QOR_MSG_BAD_KEY_LENGTH_KO                                                                \
  "pKey\xb0\xaa\xc0\xc7 \xb1\xe6\xc0\xcc\xb0\xa1 \xc0\xdf\xb8\xf8 \xb5\xc7\xbe\xfa\xbd\xc0\xb4\xcf" \
  "\xb4\xd9. pKey->length = [%d]\n"

inline constexpr char kNullInputEn[] = "The input contains a NULL value.\n";
inline constexpr char kShortInputEn[] = "The length of the pIn value is less than 0.\n";

}  // namespace qor::engine::msg
