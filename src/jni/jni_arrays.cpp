#include "jni/jni_arrays.h"

namespace qor::jni {

Buffer CopyIn(JNIEnv* env, jbyteArray array, jint length, size_t spare) {
  if (array == nullptr || length < 0) return nullptr;
  Buffer copy(static_cast<char*>(std::calloc(static_cast<size_t>(length) + 1 + spare, 1)));
  if (copy == nullptr) return nullptr;
  if (length > 0) env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(copy.get()));
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return nullptr;
  }
  return copy;
}

Buffer CopyWhole(JNIEnv* env, jbyteArray array) {
  if (array == nullptr) return nullptr;
  return CopyIn(env, array, env->GetArrayLength(array));
}

bool PutBytes(JNIEnv* env, jbyteArray out, const void* bytes, size_t n) {
  if (out == nullptr) return true;
  env->SetByteArrayRegion(out, 0, static_cast<jsize>(n), static_cast<const jbyte*>(bytes));
  return !env->ExceptionCheck();
}

bool PutText(JNIEnv* env, jbyteArray out, const char* text, size_t n) {
  if (out == nullptr) return true;
  if (!PutBytes(env, out, text, n)) return false;
  if (static_cast<size_t>(env->GetArrayLength(out)) > n) {
    const jbyte zero = 0;
    env->SetByteArrayRegion(out, static_cast<jsize>(n), 1, &zero);
  }
  return !env->ExceptionCheck();
}

bool PutInt(JNIEnv* env, jintArray out, jint value) {
  if (out == nullptr) return true;
  env->SetIntArrayRegion(out, 0, 1, &value);
  return !env->ExceptionCheck();
}

bool PutLong(JNIEnv* env, jlongArray out, jlong value) {
  if (out == nullptr) return true;
  env->SetLongArrayRegion(out, 0, 1, &value);
  return !env->ExceptionCheck();
}

bool Identities::Read(JNIEnv* env, jint use, jbyteArray a, jbyteArray b, jbyteArray c) {
  if (use != 1) return true;
  if (a == nullptr || b == nullptr || c == nullptr) return false;
  // Copied rather than handed over as they are: an array without a closing
  // zero byte would otherwise be read past its end.
  a_ = CopyWhole(env, a);
  b_ = CopyWhole(env, b);
  c_ = CopyWhole(env, c);
  return a_ != nullptr && b_ != nullptr && c_ != nullptr;
}

}  // namespace qor::jni
