// The query methods of com.ulvex.qor.jni.JNI: last error, status report,
// policy names, health and policy checks, initialisation.
#include <cstdlib>
#include <cstring>
#include <new>

#include "api/instance.h"
#include "com_ulvex_qor_jni_JNI.h"
#include "jni/jni_arrays.h"
#include "log/log.h"
#include "qor/key_mgr.h"
#include "qorapi.h"

namespace {

constexpr char kLogUnit[] = "source/QORAPI_JNI";
constexpr size_t kReportSize = 2048;
constexpr size_t kKeyNamesSize = 2048;
// The code the library gives a request it cannot serve.
constexpr int kNotSupported = 7011;

using qor::jni::kBindingFailed;

struct KeyNames {
  char text[kKeyNamesSize];
  size_t length = 0;
};

// Joins the loaded names while the key set is held, so a concurrent swap
// cannot free a name between listing and copying it.
int JoinKeyNames(KeyMgr* mgr, void* context) {
  auto* names = static_cast<KeyNames*>(context);
  if (mgr == nullptr) return 0;
  char** list = nullptr;
  const int count = mgr->LoadKeyName(mgr, &list);
  for (int i = 0; i < count && list != nullptr; ++i) {
    if (list[i] == nullptr) continue;
    const size_t n = std::strlen(list[i]);
    const size_t separator = names->length > 0 ? 1 : 0;
    if (names->length + separator + n > kKeyNamesSize) break;
    if (separator != 0) names->text[names->length++] = ':';
    std::memcpy(names->text + names->length, list[i], n);
    names->length += n;
  }
  std::free(list);
  return 0;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_getLastErrorMsg(JNIEnv* env, jclass,
                                                                  jbyteArray out) {
  char message[QOR_ERROR_MESSAGE_SIZE + 1] = {};
  QOR_GetLastErrorMsgEx(message);
  if (std::strcmp(message, "OK") == 0) return 0;
  const size_t n = std::strlen(message);
  qor::jni::PutBytes(env, out, message, n);
  return static_cast<jint>(n);
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_checkAgent(JNIEnv* env, jclass,
                                                             jbyteArray command, jbyteArray out) {
  const qor::jni::Buffer text = qor::jni::CopyWhole(env, command);
  if (text == nullptr) return kBindingFailed;
  auto* report = static_cast<char*>(std::calloc(kReportSize, 1));
  if (report == nullptr) return kBindingFailed;
  QOR_AgentChecker_GetInfo(text.get(), report, static_cast<int>(kReportSize));
  const size_t n = strnlen(report, kReportSize);
  if (n > 1) qor::jni::PutBytes(env, out, report, n);
  std::free(report);
  return static_cast<jint>(n);
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_loadKeyName(JNIEnv* env, jclass,
                                                              jbyteArray out) {
  auto* names = new (std::nothrow) KeyNames;
  if (names == nullptr) return kBindingFailed;
  qor::api::WithKeySet(JoinKeyNames, names);
  qor::jni::PutBytes(env, out, names->text, names->length);
  const jint length = static_cast<jint>(names->length);
  delete names;
  return length;
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_checkHealthAgent(JNIEnv*, jclass) {
  return QOR_HealthCheckAgent() == 0 ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_checkHealthServer__(JNIEnv*, jclass) {
  return QOR_HealthCheckServer() == 0 ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_checkHealthServer__I(JNIEnv*, jclass, jint) {
  QOR_LOG(qor::log::kCrit, "the function is not yet supported.\n");
  QOR_ERR_Set(kNotSupported, "the function is not yet supported.");
  return -1;
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_checkPolicy(JNIEnv*, jclass) {
  return QOR_CheckPolicy() == 0 ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_existPolicy(JNIEnv* env, jclass,
                                                              jbyteArray name, jint length) {
  const qor::jni::Buffer text = qor::jni::CopyIn(env, name, length);
  if (text == nullptr) return kBindingFailed;
  return QOR_ExistPolicy(text.get()) == 0 ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_checkCryptoModule(JNIEnv*, jclass) {
  return QOR_CheckCryptoModule() == 0 ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_init(JNIEnv*, jclass) {
  return QOR_Init() == 0 ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_isInit(JNIEnv*, jclass) {
  return QOR_IsInit() == 0 ? 1 : 0;
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_initResult(JNIEnv* env, jclass,
                                                             jbyteArray out) {
  const char* text = QOR_InitResult();
  const size_t n = text != nullptr ? std::strlen(text) : 0;
  qor::jni::PutBytes(env, out, text, n);
  return static_cast<jint>(n);
}

}  // extern "C"
