// The file methods of com.ulvex.qor.jni.JNI: a whole file by policy name, the
// result record spread over the caller's output arrays.
#include <cstdlib>
#include <cstring>

#include "com_ulvex_qor_jni_JNI.h"
#include "jni/jni_arrays.h"
#include "qor/file_entry.h"
#include "qor/qorfile.h"

namespace {

using qor::jni::kBindingFailed;

struct FileOutputs {
  jbyteArray tag;
  jbyteArray message;
  jlongArray time;
  jbyteArray address;
  jintArray reserved;
  jintArray ciphertextVerified;
  jintArray plaintextVerified;
};

// Spreads |r| over the outputs; returns its code. A too-short array stops
// the copying and leaves its exception for the caller.
jint Report(JNIEnv* env, const FileResult& r, jlong time, const FileOutputs& out) {
  const bool written =
      qor::jni::PutText(env, out.address, r.deviceAddress,
                        strnlen(r.deviceAddress, sizeof(r.deviceAddress))) &&
      qor::jni::PutLong(env, out.time, time) && qor::jni::PutInt(env, out.reserved, r.reserved) &&
      qor::jni::PutInt(env, out.ciphertextVerified, r.ciphertextVerified) &&
      qor::jni::PutInt(env, out.plaintextVerified, r.plaintextVerified);
  if (written && r.code != 0 &&
      qor::jni::PutText(env, out.tag, r.tag, strnlen(r.tag, sizeof(r.tag)))) {
    qor::jni::PutText(env, out.message, r.message, strnlen(r.message, sizeof(r.message)));
  }
  return r.code;
}

struct FileInputs {
  qor::jni::Buffer keyName, source, target;
  qor::jni::Identities ids;

  bool Read(JNIEnv* env, jbyteArray keyNameArray, jbyteArray sourceArray,
            jbyteArray targetArray, jint useIdentities, jbyteArray a, jbyteArray b,
            jbyteArray c) {
    if (!ids.Read(env, useIdentities, a, b, c)) return false;
    keyName = qor::jni::CopyWhole(env, keyNameArray);
    source = qor::jni::CopyWhole(env, sourceArray);
    target = qor::jni::CopyWhole(env, targetArray);
    return keyName != nullptr && source != nullptr && target != nullptr;
  }
  // The name's text: an array that ends with a zero byte names the same
  // policy as one without it.
  int keyNameLength() const { return static_cast<int>(std::strlen(keyName.get())); }
};

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_encryptFile(
    JNIEnv* env, jclass, jbyteArray keyName, jbyteArray sourcePath, jbyteArray targetPath,
    jbyteArray tagOut, jbyteArray messageOut, jlongArray timeOut, jbyteArray addressOut,
    jintArray reservedOut, jintArray ciphertextVerifiedOut, jintArray plaintextVerifiedOut,
    jint useIdentities, jbyteArray identityA, jbyteArray identityB, jbyteArray identityC) {
  if (timeOut == nullptr || reservedOut == nullptr) return kBindingFailed;
  FileInputs in;
  if (!in.Read(env, keyName, sourcePath, targetPath, useIdentities, identityA, identityB,
               identityC)) {
    return kBindingFailed;
  }
  FileResult* result =
      QOR_EncryptFile_JNI(in.keyNameLength(), in.keyName.get(), in.source.get(), in.target.get(),
                          in.ids.a(), in.ids.b(), in.ids.c());
  if (result == nullptr) return kBindingFailed;
  const FileResult r = *result;
  std::free(result);
  return Report(env, r, static_cast<jlong>(r.time) * 1000,
                {tagOut, messageOut, timeOut, addressOut, reservedOut, ciphertextVerifiedOut,
                 plaintextVerifiedOut});
}

JNIEXPORT jint JNICALL Java_com_ulvex_qor_jni_JNI_decryptFile(
    JNIEnv* env, jclass, jbyteArray keyName, jbyteArray sourcePath, jbyteArray targetPath,
    jbyteArray tagOut, jbyteArray messageOut, jlongArray timeOut, jbyteArray addressOut,
    jintArray reservedOut, jintArray ciphertextVerifiedOut, jintArray plaintextVerifiedOut,
    jint useIdentities, jbyteArray identityA, jbyteArray identityB, jbyteArray identityC) {
  if (timeOut == nullptr || reservedOut == nullptr) return kBindingFailed;
  FileInputs in;
  if (!in.Read(env, keyName, sourcePath, targetPath, useIdentities, identityA, identityB,
               identityC)) {
    return kBindingFailed;
  }
  const FileResult r =
      QOR_DecryptFile_JNI(in.keyNameLength(), in.keyName.get(), in.source.get(), in.target.get(),
                          in.ids.a(), in.ids.b(), in.ids.c());
  return Report(env, r, static_cast<jlong>(r.time),
                {tagOut, messageOut, timeOut, addressOut, reservedOut, ciphertextVerifiedOut,
                 plaintextVerifiedOut});
}

}  // extern "C"
