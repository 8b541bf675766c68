// Report text written into a caller's buffer of fixed size: extra text is
// cut, the buffer always stays terminated, and nothing is written without one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace qor::api {

class ReportText {
 public:
  ReportText(char* out, size_t size) : out_(out), size_(out != nullptr ? size : 0) {
    if (size_ > 0) out_[0] = '\0';
  }
  ReportText& operator<<(const char* text) {
    if (text == nullptr || size_ == 0) return *this;
    const size_t n = std::min(size_ - 1 - used_, std::strlen(text));
    std::memcpy(out_ + used_, text, n);
    used_ += n;
    out_[used_] = '\0';
    return *this;
  }

 private:
  char* out_;
  size_t size_;
  size_t used_ = 0;
};

}  // namespace qor::api
