// The library's error codes and the three-letter failure tags of audited and
// file operations.
#pragma once

namespace qor::err {

enum Code : int {
  kNone = 0,
  kGeneral = 1,
  kInternal = -1,
  kConnect = 3,
  kTimeLimit = 4,
  kSend = 5,
  kReceive = 6,
  kPort = 9,
  kUpdateStamp = 2000,
  // Results of the value operations: the key is revoked or unusable, the
  // caller was refused by access control.
  kKeyUnusable = 2100,
  kRefused = 2200,
  kNullArgument = 3001,
  kPolicyNotFound = 3015,
  kCheckFailed = 3031,
  kFileWrite = 3032,
  // Duplicate prevention: an input already encrypted (handed back), an
  // input not encrypted (handed back), either refused.
  kDuplicateFirst = 3033,
  kAlreadyEncrypted = 3033,
  kNotEncrypted = 3034,
  kDuplicateRefused = 3035,
  kDuplicateLast = 3036,
  kCoreHeader = 3103,
  kCorePassThrough = 3104,
  kConfigUnavailable = 7011,
  kConfigMemory = 7012,
  kNoLogLocation = 7013,
  kConfigBuild = 7100,
};

inline constexpr char kTagDuplicate[] = "DUP";
inline constexpr char kTagHeader[] = "HDF";
inline constexpr char kTagKey[] = "KED";
inline constexpr char kTagAccess[] = "ACC";
inline constexpr char kTagIo[] = "IOE";
inline constexpr char kTagLifeCycle[] = "KLE";
inline constexpr char kTagUnknown[] = "UNK";
inline constexpr char kTagNull[] = "NULL";

}  // namespace qor::err

// The tag of a failure code: "DUP" for the duplicate-prevention codes, "HDF"
// for 3103, "KED" for every other code. The text is static.
const char* Error_Spliter(int code);
