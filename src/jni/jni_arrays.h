// Copies between Java arrays and native buffers for the native methods of
// com.ulvex.qor.jni.JNI. Inputs become zero-terminated heap copies; outputs
// are written from index 0, and a too-short output array leaves the JVM's
// own exception pending for the caller.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace qor::jni {

// Result of a binding failure: a null required array, a failed copy or a
// failed allocation.
constexpr jint kBindingFailed = -2;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char[], FreeDeleter>;

// |length| bytes of |array| followed by a zero byte and |spare| more zero
// bytes, or nullptr (array null, length negative or past the array's end,
// no memory). A copy that raised an exception clears it: the method then
// answers -2 instead.
Buffer CopyIn(JNIEnv* env, jbyteArray array, jint length, size_t spare = 0);
// The whole array, as above.
Buffer CopyWhole(JNIEnv* env, jbyteArray array);

// Writes |n| bytes into |out| from index 0, and a zero byte after them when
// the array has room. Nothing for a null |out|. False when the JVM raised an
// exception (the array is too short).
bool PutText(JNIEnv* env, jbyteArray out, const char* text, size_t n);
bool PutBytes(JNIEnv* env, jbyteArray out, const void* bytes, size_t n);
// out[0] = value; nothing for a null |out|. False when an exception is pending.
bool PutInt(JNIEnv* env, jintArray out, jint value);
bool PutLong(JNIEnv* env, jlongArray out, jlong value);

// The three optional identities: all copied when |use| is 1 (each its text
// up to the first zero byte), none otherwise.
class Identities {
 public:
  // False when |use| is 1 and one of them is null or cannot be copied.
  bool Read(JNIEnv* env, jint use, jbyteArray a, jbyteArray b, jbyteArray c);
  const char* a() const { return a_.get(); }
  const char* b() const { return b_.get(); }
  const char* c() const { return c_.get(); }

 private:
  Buffer a_, b_, c_;
};

}  // namespace qor::jni
