// A cipher object's access check: its decryption count limit, then its
// policy's rule entries.
#include <ctime>

#include "engine/access/clock.h"
#include "log/log.h"
#include "qor/access_control.h"
#include "qor/ua_cipher_util.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";

constexpr int kUnitDay = 1;
constexpr int kUnitHour = 2;

bool LocalTime(time_t now, struct tm* out) { return localtime_r(&now, out) != nullptr; }

}  // namespace

extern "C" {

int checkACL(UACipherUtil** object, const char* identity1, const char* identity2,
             const char* identity3, int operation) {
  if (object == nullptr || *object == nullptr || (*object)->data == nullptr) return 0;
  const UACipherUtilData* data = (*object)->data;

  if (operation == QOR_ACL_DECRYPT && data->decryptCnt > 0) {
    struct tm tm {};
    const bool known = LocalTime(qor::engine::Now(), &tm);
    const bool limited = data->decryptCnt == 1 ||
                         (known && data->decryptCountUnit == kUnitDay && tm.tm_mday == data->counterStamp) ||
                         (known && data->decryptCountUnit == kUnitHour && tm.tm_hour == data->counterStamp);
    if (limited) {
      QOR_LOG(qor::log::kError, "Exceeding the maximum number of decrypt per day %d\n", data->decryptCnt);
      if (data->decryptCnt <= data->decryptCounter) return 0;
    }
  }
  return comp_ACL(data->acl, data->prio, identity1, identity2, identity3, operation);
}

}  // extern "C"
