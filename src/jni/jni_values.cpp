// The value methods of com.ulvex.qor.jni.JNI: one value by policy name, the
// result copied into the caller's array.
#include <cstdlib>

#include "com_ulvex_qor_jni_JNI.h"
#include "jni/jni_arrays.h"
#include "qorapi.h"

namespace {

using qor::jni::kBindingFailed;

// Encryption pads and may append a blank in place after the value.
constexpr size_t kValueSpare = 32;

enum class Direction { kEncrypt, kDecrypt };

jint ValueCall(JNIEnv* env, Direction direction, int mode, jbyteArray keyName,
               jint keyNameLength, jbyteArray data, jint dataLength, jbyteArray out,
               jint useIdentities, jbyteArray identityA, jbyteArray identityB,
               jbyteArray identityC) {
  qor::jni::Identities ids;
  if (!ids.Read(env, useIdentities, identityA, identityB, identityC)) return kBindingFailed;
  const qor::jni::Buffer name = qor::jni::CopyIn(env, keyName, keyNameLength);
  if (name == nullptr) return kBindingFailed;
  qor::jni::Buffer value;
  if (direction == Direction::kEncrypt && dataLength < 0) {
    // A null value: nothing is read, the negative length goes through.
    value.reset(static_cast<char*>(std::calloc(1 + kValueSpare, 1)));
  } else {
    value = qor::jni::CopyIn(env, data, dataLength, kValueSpare);
  }
  if (value == nullptr) return kBindingFailed;

  auto* bytes = reinterpret_cast<unsigned char*>(value.get());
  // The value methods have always passed their first two identities swapped.
  const DataBuffer result =
      direction == Direction::kEncrypt
          ? QOR_EncryptExUdf(name.get(), bytes, dataLength, ids.b(), ids.a(), ids.c(), mode)
          : QOR_DecryptExUdf(name.get(), bytes, dataLength, ids.b(), ids.a(), ids.c(), mode);
  if (result.length > 0 && result.data != nullptr) {
    qor::jni::PutBytes(env, out, result.data, static_cast<size_t>(result.length));
  }
  std::free(result.data);
  return result.length;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_encryptStr(
    JNIEnv* env, jclass, jbyteArray keyName, jint keyNameLength, jbyteArray data,
    jint dataLength, jbyteArray out, jint useIdentities, jbyteArray identityA,
    jbyteArray identityB, jbyteArray identityC) {
  return ValueCall(env, Direction::kEncrypt, 0, keyName, keyNameLength, data, dataLength, out,
                   useIdentities, identityA, identityB, identityC);
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_decryptStr(
    JNIEnv* env, jclass, jbyteArray keyName, jint keyNameLength, jbyteArray data,
    jint dataLength, jbyteArray out, jint useIdentities, jbyteArray identityA,
    jbyteArray identityB, jbyteArray identityC) {
  return ValueCall(env, Direction::kDecrypt, 0, keyName, keyNameLength, data, dataLength, out,
                   useIdentities, identityA, identityB, identityC);
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_encryptBin(
    JNIEnv* env, jclass, jbyteArray keyName, jint keyNameLength, jbyteArray data,
    jint dataLength, jbyteArray out, jint useIdentities, jbyteArray identityA,
    jbyteArray identityB, jbyteArray identityC) {
  return ValueCall(env, Direction::kEncrypt, 1, keyName, keyNameLength, data, dataLength, out,
                   useIdentities, identityA, identityB, identityC);
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_decryptBin(
    JNIEnv* env, jclass, jbyteArray keyName, jint keyNameLength, jbyteArray data,
    jint dataLength, jbyteArray out, jint useIdentities, jbyteArray identityA,
    jbyteArray identityB, jbyteArray identityC) {
  return ValueCall(env, Direction::kDecrypt, 1, keyName, keyNameLength, data, dataLength, out,
                   useIdentities, identityA, identityB, identityC);
}

}  // extern "C"
