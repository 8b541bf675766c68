// The settings of com.ulvex.qor.jni.JNI: environment values the library reads
// when it builds its configuration. putenv keeps the given buffer in the
// environment, so each setting owns a static one for the life of the process.
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "com_ulvex_qor_jni_JNI.h"
#include "jni/jni_arrays.h"
#include "qorapi.h"

namespace {

using qor::jni::kBindingFailed;

// One environment entry "NAME=value" in a buffer that stays referenced.
template <size_t N>
struct EnvSlot {
  const char* name;
  char text[N];
};

EnvSlot<1024> gHome{"QOR_HOME", {}};
EnvSlot<256> gFirstPort{"QOR_FIRST_PORT", {}};
EnvSlot<256> gSecondPort{"QOR_SECOND_PORT", {}};
EnvSlot<256> gLogLevel{"QOR_LOG_LEVEL", {}};
EnvSlot<256> gBmt{"QOR_BMT", {}};

// Two threads setting at once would write one buffer together.
std::mutex& SlotLock() {
  static std::mutex lock;
  return lock;
}

// 1 set, 0 refused. A value that does not fit its buffer is refused rather
// than cut, so a truncated home or port never takes effect.
template <size_t N>
jint Put(EnvSlot<N>& slot, const char* value) {
  std::lock_guard lock(SlotLock());
  const int n = std::snprintf(nullptr, 0, "%s=%s", slot.name, value);
  if (n < 0 || static_cast<size_t>(n) >= N) return 0;
  std::snprintf(slot.text, N, "%s=%s", slot.name, value);
  return putenv(slot.text) == 0 ? 1 : 0;
}

template <size_t N>
jint Set(JNIEnv* env, EnvSlot<N>& slot, jbyteArray value, jint length) {
  const qor::jni::Buffer text = qor::jni::CopyIn(env, value, length);
  if (text == nullptr) return kBindingFailed;
  return Put(slot, text.get());
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_setHome(JNIEnv* env, jclass, jbyteArray value,
                                                          jint length) {
  return Set(env, gHome, value, length);
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_setFirstPort(JNIEnv* env, jclass,
                                                               jbyteArray value, jint length) {
  return Set(env, gFirstPort, value, length);
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_setSecondPort(JNIEnv* env, jclass,
                                                                jbyteArray value, jint length) {
  return Set(env, gSecondPort, value, length);
}

// The bytes are read but the level is always the most detailed one.
JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_setLogLevel(JNIEnv* env, jclass,
                                                              jbyteArray value, jint length) {
  if (qor::jni::CopyIn(env, value, length) == nullptr) return kBindingFailed;
  return Put(gLogLevel, "DEBUG");
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_setBMT(JNIEnv* env, jclass, jbyteArray value,
                                                         jint length) {
  const jint set = Set(env, gBmt, value, length);
  if (set != 1) return set == kBindingFailed ? kBindingFailed : -1;
  return QOR_Init() == 0 ? 1 : -1;
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_setFilter(JNIEnv*, jclass, jint level) {
  QOR_Filter_set(level);
  return 0;
}

}  // extern "C"
