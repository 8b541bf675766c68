#include "common/error_codes.h"

const char* Error_Spliter(int code) {
  using namespace qor::err;
  if (code >= kDuplicateFirst && code <= kDuplicateLast) return kTagDuplicate;
  if (code == kCoreHeader) return kTagHeader;
  return kTagKey;
}
