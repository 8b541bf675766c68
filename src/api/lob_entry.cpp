// The large-object entry points: an object cut into pieces of 4096 bytes,
// each encrypted as an independent value, the results joined. Text form puts
// each piece's length before it as eight decimal digits.
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "common/last_error.h"
#include "api/instance.h"
#include "api/service_call.h"
#include "common/error_codes.h"
#include "common/free_bytes.h"
#include "common/value_format.h"
#include "log/log.h"
#include "qor/key_mgr.h"
#include "service/crypto/qor_crypto.h"

namespace {

constexpr char kLogUnit[] = "../QORApi";

constexpr uint64_t kPiece = 4096;
// Room per piece: the text form of an encrypted piece and its length field.
constexpr uint64_t kTextRecordRoom = 6694;
// Room per piece in the binary form: a piece padded by one 16-byte block.
constexpr uint64_t kBinaryRecordRoom = kPiece + qor::value::kLargestBlock;
// A version prefix and a record-IV tail on top of that.
constexpr uint64_t kBinaryPieceMost =
    kBinaryRecordRoom + qor::value::kPrefixBytes + qor::value::kTailBytes;
constexpr int kLengthDigits = 8;

// A result the service handed over, released on every path.
struct Result {
  DataBuffer value;
  ~Result() { std::free(value.data); }
  int32_t length() const { return value.length; }
  // Bytes to append: none when the service produced no buffer.
  size_t size() const { return value.data != nullptr ? static_cast<size_t>(value.length) : 0; }
};

// Decrypted pieces, held until the last one is done and then copied once
// into the caller's buffer: a failed piece leaves that buffer untouched, and
// no byte is copied twice. Their total is bounded by |limit| (a piece never
// decrypts to more than it holds).
class DecryptedPieces {
 public:
  explicit DecryptedPieces(uint64_t limit) : limit_(limit) {}
  ~DecryptedPieces() { Clear(); }
  DecryptedPieces(const DecryptedPieces&) = delete;
  DecryptedPieces& operator=(const DecryptedPieces&) = delete;

  void Clear() {
    for (size_t i = 0; i < count_; ++i) std::free(held_[i].data);
    count_ = 0;
    used_ = 0;
  }
  enum class Taken { kYes, kTooLong, kNoMemory };
  // Takes over |result|'s bytes. kTooLong when they would pass the limit:
  // the caller's object was not one this library produced.
  Taken Take(Result& result) {
    const size_t n = result.size();
    if (n > limit_ - used_) return Taken::kTooLong;
    if (count_ == slots_ && !Grow()) return Taken::kNoMemory;
    held_[count_++] = DataBuffer{static_cast<int32_t>(n), result.value.data};
    result.value.data = nullptr;
    used_ += n;
    return Taken::kYes;
  }
  int64_t CopyTo(unsigned char* out) const {
    unsigned char* at = out;
    for (size_t i = 0; i < count_; ++i) {
      const size_t n = static_cast<size_t>(held_[i].length);
      if (n > 0) std::memcpy(at, held_[i].data, n);
      at += n;
    }
    *at = '\0';
    return static_cast<int64_t>(at - out);
  }

 private:
  bool Grow() {
    const size_t slots = slots_ == 0 ? 64 : 2 * slots_;
    void* grown = std::realloc(held_.get(), slots * sizeof(DataBuffer));
    if (grown == nullptr) return false;
    (void)held_.release();
    held_.reset(static_cast<DataBuffer*>(grown));
    slots_ = slots;
    return true;
  }

  std::unique_ptr<DataBuffer[], qor::FreeBytes> held_;
  uint64_t limit_;
  size_t slots_ = 0;
  size_t count_ = 0;
  size_t used_ = 0;
};

// Encrypted pieces, held until the last one is done and then copied once
// into the caller's buffer: a failed piece leaves that buffer untouched, and
// no byte is copied twice. The room per piece bounds the total as a work
// buffer of that size would.
class EncryptedPieces {
 public:
  EncryptedPieces(uint64_t pieces, uint64_t room, bool text) : text_(text) {
    if (pieces == 0 || pieces > SIZE_MAX / room) return;
    capacity_ = static_cast<size_t>(pieces * room);
    slots_ = static_cast<size_t>(pieces);
    held_.reset(static_cast<DataBuffer*>(std::calloc(slots_, sizeof(DataBuffer))));
  }
  ~EncryptedPieces() {
    for (size_t i = 0; i < count_; ++i) std::free(held_[i].data);
  }
  EncryptedPieces(const EncryptedPieces&) = delete;
  EncryptedPieces& operator=(const EncryptedPieces&) = delete;

  bool ok() const { return held_ != nullptr; }
  // Takes over |result|'s bytes; false when they (with the length field of
  // the text form) would not fit: the caller's object was not one this
  // library produced.
  bool Take(Result& result) {
    const size_t n = result.size() + (text_ ? kLengthDigits : 0);
    if (count_ == slots_ || n > capacity_ - used_) return false;
    held_[count_++] = DataBuffer{static_cast<int32_t>(result.size()), result.value.data};
    result.value.data = nullptr;
    used_ += n;
    return true;
  }
  int64_t CopyTo(unsigned char* out) const;

 private:
  std::unique_ptr<DataBuffer[], qor::FreeBytes> held_;
  bool text_;
  size_t slots_ = 0;
  size_t count_ = 0;
  size_t capacity_ = 0;
  size_t used_ = 0;
};

// Runs the prologue; |failure| is what the entry returns when it fails:
// -1 when initialisation failed, 0 when a key-set swap did.
bool Enter(std::optional<qor::api::CallGuard>* guard, int64_t* failure) {
  const bool wasInitialised = QOR_IsInit() == 0;
  guard->emplace();
  if ((*guard)->ok()) return true;
  *failure = wasInitialised ? 0 : -1;
  return false;
}

bool ArgumentsPresent(const unsigned char* data, uint64_t length, const unsigned char* out) {
  if (out != nullptr && (data != nullptr || length == 0)) return true;
  qor::ErrorSet(qor::LastErrorRecord(), qor::err::kNullArgument, "argument value cannot be null");
  return false;
}

// The identities a kind carries: kinds 1, 4 and 5 pass three after it.
qor::api::Identities IdentitiesOfKind(int kind, va_list args) {
  if (kind == 1 || kind == 4 || kind == 5) return qor::api::ReadIdentities(args);
  return qor::api::Identities{};
}

// What both conversions of an object run before their first piece: the call
// guard, then the arguments. |failure| is what the entry returns otherwise.
struct LobCall {
  std::optional<qor::api::CallGuard> guard;
  int64_t failure = 0;

  bool Begin(const unsigned char* data, uint64_t length, const unsigned char* out) {
    if (!Enter(&guard, &failure)) return false;
    if (ArgumentsPresent(data, length, out)) return true;
    failure = -1;
    return false;
  }
};

int KeyNameLength(const char* keyName) {
  return keyName != nullptr ? static_cast<int>(strlen(keyName)) : 0;
}

// Refuses an object that does not have the layout this library writes, or
// a piece whose result breaks the bounds the layout guarantees.
int64_t Refuse(const char* function, const char* what, uint64_t offset) {
  qor::ErrorSet(qor::LastErrorRecord(), qor::err::kCheckFailed,
                "Invalid large object: %s at offset %llu", what,
                static_cast<unsigned long long>(offset));
  QOR_LOG_AS(function, qor::log::kError, "Invalid large object: %s at offset %llu\n", what,
             static_cast<unsigned long long>(offset));
  return -1;
}

// The eight-digit length field at |text|, or -1 when it is not one.
int64_t ReadLengthField(const unsigned char* text) {
  int64_t n = 0;
  for (int i = 0; i < kLengthDigits; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    n = n * 10 + (text[i] - '0');
  }
  return n;
}

// The length of one whole encrypted piece in binary form under the policy's
// newest key: 4096 bytes padded by one block, with the version prefix and
// record-IV tail that key writes. Cutting at a fixed 4112 bytes would split
// every piece that carries a prefix or a tail, or an 8-byte block, and the
// object could never be decrypted again. 4112 when the policy is not held
// (the service then reports it).
// |alsoVersionZero| is set when the policy also holds version 0, whose pieces
// carry no prefix and are 3 bytes shorter.
uint64_t BinaryPieceLength(const char* keyName, int keyNameLength, bool* alsoVersionZero) {
  *alsoVersionZero = false;
  if (keyName == nullptr || keyNameLength <= 0) return kBinaryRecordRoom;
  DataBuffer name{keyNameLength, reinterpret_cast<unsigned char*>(const_cast<char*>(keyName))};
  KeyInfo* info = nullptr;
  if (FindKeyInfo(&name, &info) != 0 || info == nullptr || info->cipher == nullptr) {
    return kBinaryRecordRoom;
  }
  UACipherUtil* cipher = info->cipher;
  const CipherUtil* head = cipher->GetCipher(&cipher, cipher->GetLatestKeyVersion(&cipher));
  if (head == nullptr || head->oneWay) return kBinaryRecordRoom;
  const bool desBlock = head->algType == QOR_ALG_DES3_2KEY ||
                        head->algType == QOR_ALG_DES3_2KEY_B || head->algType == QOR_ALG_DES3_3KEY;
  const bool tail = __atomic_load_n(&head->useRecordIV, __ATOMIC_RELAXED) != 0;
  *alsoVersionZero = head->keyVersion != 0 && cipher->GetCipher(&cipher, 0) != nullptr;
  return static_cast<uint64_t>(qor::value::EncryptedBinaryLength(
      kPiece, desBlock ? 8 : 16, false, head->keyVersion != 0, tail));
}

// Bytes one piece of |n| input bytes becomes under |head| in binary form, at
// most: the value with its compatibility blank, padded by the block (a whole
// block when it is already a multiple), the version prefix and the record-IV
// tail; a digest is its fixed size, a digit string keeps its length.
uint64_t BinaryPieceMost(const CipherUtil* head, int compatibility, int nullProcess, uint64_t n) {
  const uint32_t alg = head->algType;
  if (alg == QOR_ALG_FPE) return n;
  if (head->oneWay) {
    switch (alg) {
      case QOR_ALG_SHA1: return 20;
      case QOR_ALG_SHA256: case QOR_ALG_SHA3_256: case QOR_ALG_SHA3_256_B:
      case QOR_ALG_LSH512_256: return 32;
      case QOR_ALG_SHA384: return 48;
      default: return 64;
    }
  }
  const bool blank = qor::value::WritesBlank(compatibility, nullProcess != 0);
  const bool desBlock =
      alg == QOR_ALG_DES3_2KEY || alg == QOR_ALG_DES3_2KEY_B || alg == QOR_ALG_DES3_3KEY;
  const bool tail = __atomic_load_n(&head->useRecordIV, __ATOMIC_RELAXED) != 0;
  return static_cast<uint64_t>(qor::value::EncryptedBinaryLength(
      static_cast<int64_t>(n), desBlock ? 8 : 16, blank, head->keyVersion != 0, tail));
}

// The same piece in text form: its length field and the Base64 text ("$."
// first under compatibility 0); a digit string as it is.
uint64_t TextPieceMost(const CipherUtil* head, int compatibility, uint64_t binary) {
  if (head->algType == QOR_ALG_FPE) return kLengthDigits + binary;
  return kLengthDigits + static_cast<uint64_t>(qor::value::EncryptedTextLength(
                             static_cast<int64_t>(binary), compatibility == 0));
}

// DecryptPieces ran out of memory: the entry returns 0, as it does when
// it cannot have its first buffer.
constexpr int64_t kNoMemory = INT64_MIN;

// Decrypts every piece of |data| into |pieces|: 0, kNoMemory, or the failure
// to return.
int64_t DecryptPieces(unsigned char* data, uint64_t length, bool text, uint64_t binaryPiece,
                      const char* keyName, int keyNameLength, const qor::api::Identities& ids,
                      int mode, DecryptedPieces* pieces) {
  uint64_t offset = 0;
  while (offset < length) {
    uint64_t piece = 0;
    unsigned char* at = nullptr;
    if (text) {
      if (length - offset < kLengthDigits) {
        return Refuse("QOR_DecryptLobEx", "truncated length field", offset);
      }
      const int64_t n = ReadLengthField(data + offset);
      if (n < 0) return Refuse("QOR_DecryptLobEx", "length field is not eight digits", offset);
      if (static_cast<uint64_t>(n) > length - offset - kLengthDigits) {
        return Refuse("QOR_DecryptLobEx", "piece runs past the end", offset);
      }
      piece = static_cast<uint64_t>(n);
      at = data + offset + kLengthDigits;
      offset += kLengthDigits + piece;
    } else {
      piece = length - offset < binaryPiece ? length - offset : binaryPiece;
      at = data + offset;
      offset += piece;
    }
    Result result{
        qor::api::ServiceDecrypt(static_cast<int>(piece), at, keyNameLength, keyName, ids, mode)};
    if (result.length() < 0) return result.length();
    switch (pieces->Take(result)) {
      case DecryptedPieces::Taken::kYes:
        break;
      case DecryptedPieces::Taken::kTooLong:
        return Refuse("QOR_DecryptLobEx", "piece decrypts to more than it holds", offset);
      case DecryptedPieces::Taken::kNoMemory:
        return kNoMemory;
    }
  }
  return 0;
}

// "%08d" of |n|, which the work buffer's room per piece keeps far below 10^8.
void WriteLengthField(size_t n, char* field) {
  for (int i = kLengthDigits - 1; i >= 0; --i, n /= 10) field[i] = static_cast<char>('0' + n % 10);
}

int64_t EncryptedPieces::CopyTo(unsigned char* out) const {
  unsigned char* at = out;
  for (size_t i = 0; i < count_; ++i) {
    const size_t n = static_cast<size_t>(held_[i].length);
    if (text_) {
      WriteLengthField(n, reinterpret_cast<char*>(at));
      at += kLengthDigits;
    }
    if (n > 0) std::memcpy(at, held_[i].data, n);
    at += n;
  }
  *at = '\0';
  return static_cast<int64_t>(at - out);
}

}  // namespace

extern "C" {

QOR_API int64_t QOR_EncryptLobEx(const char* keyName, unsigned char* data, uint64_t length,
                                 unsigned char* out, int binary, int kind, ...) {
  va_list args;
  va_start(args, kind);
  const qor::api::Identities ids = IdentitiesOfKind(kind, args);
  va_end(args);
  LobCall call;
  if (!call.Begin(data, length, out)) return call.failure;

  const bool text = binary == 0;
  EncryptedPieces pieces(length / kPiece + 1, text ? kTextRecordRoom : kBinaryPieceMost, text);
  if (!pieces.ok()) return 0;
  if (length == 0 && (kind == 0 || kind == 1)) {
    out[0] = '\0';
    return 0;
  }
  const int keyNameLength = KeyNameLength(keyName);
  const int mode = text ? qor::crypto::kText : qor::crypto::kBinary;
  uint64_t offset = 0;
  do {
    const uint64_t piece = length - offset < kPiece ? length - offset : kPiece;
    // Kinds 2 and up make the first piece an empty (-1) or null value.
    const int valueLength = offset == 0 && kind >= 2 ? 1 - kind : static_cast<int>(piece);
    Result result{qor::api::ServiceEncrypt(valueLength, data + offset, keyNameLength, keyName,
                                           ids, mode)};
    if (result.length() < 0) return result.length();
    if (!pieces.Take(result)) return Refuse(__func__, "piece too long", offset);
    offset += piece;
  } while (offset < length);
  return pieces.CopyTo(out);
}

QOR_API int64_t QOR_LobEncryptedSize(const char* keyName, uint64_t length, int binary,
                                     int kind) {
  std::optional<qor::api::CallGuard> guard;
  int64_t failure = 0;
  if (!Enter(&guard, &failure)) return -1;
  const int keyNameLength = KeyNameLength(keyName);
  DataBuffer name{keyNameLength, reinterpret_cast<unsigned char*>(const_cast<char*>(keyName))};
  KeyInfo* info = nullptr;
  if (keyName == nullptr || FindKeyInfo(&name, &info) != 0 || info == nullptr ||
      info->cipher == nullptr) {
    qor::ErrorSet(qor::LastErrorRecord(), qor::err::kPolicyNotFound,
                  "The policy id [%.*s] could not be found.", keyNameLength > 128 ? 128 : keyNameLength,
                  keyName != nullptr ? keyName : "");
    return -1;
  }
  UACipherUtil* cipher = info->cipher;
  const CipherUtil* head = cipher->GetCipher(&cipher, cipher->GetLatestKeyVersion(&cipher));
  if (head == nullptr) return -1;
  const int compatibility = cipher->GetCompatibility(&cipher);
  const int nullProcess = cipher->Getnull_process(&cipher);
  auto piece = [&](uint64_t n) {
    const uint64_t bytes = BinaryPieceMost(head, compatibility, nullProcess, n);
    return binary != 0 ? bytes : TextPieceMost(head, compatibility, bytes);
  };
  // As QOR_EncryptLobEx cuts the object: whole pieces, the rest, and for
  // kinds 2 and up a first piece that is a one-byte empty or null marker.
  uint64_t total = 1;  // the terminating zero byte
  if (length == 0 && (kind == 0 || kind == 1)) return 1;
  const uint64_t whole = length / kPiece;
  const uint64_t rest = length % kPiece;
  const uint64_t pieces = whole + (rest != 0 || length == 0 ? 1 : 0);
  if (pieces > (uint64_t{1} << 40)) return -1;
  total += whole * piece(kPiece);
  if (rest != 0 || length == 0) total += piece(rest);
  if (kind >= 2) {
    // The first piece's bytes are replaced by the marker.
    total -= piece(length < kPiece ? length : kPiece);
    total += piece(1);
  }
  return total > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<int64_t>(total);
}

QOR_API int64_t QOR_DecryptLobEx(const char* keyName, unsigned char* data, uint64_t length,
                                 unsigned char* out, int binary, int kind, ...) {
  va_list args;
  va_start(args, kind);
  const qor::api::Identities ids = IdentitiesOfKind(kind, args);
  va_end(args);
  LobCall call;
  if (!call.Begin(data, length, out)) return call.failure;

  // Decrypted pieces are never longer than their encrypted form.
  DecryptedPieces pieces(length);
  if (length == 0) {
    out[0] = '\0';
    return 0;
  }
  const bool text = binary == 0;
  const int keyNameLength = KeyNameLength(keyName);
  const int mode = text ? qor::crypto::kText : qor::crypto::kBinary;
  bool alsoVersionZero = false;
  const uint64_t prefixed = text ? 0 : BinaryPieceLength(keyName, keyNameLength, &alsoVersionZero);
  // A binary object written under version 0 has pieces without a prefix;
  // the first piece's marker says which layout to try first.
  std::vector<uint64_t> layouts{prefixed};
  if (alsoVersionZero) {
    constexpr uint64_t kPrefix = qor::value::kPrefixBytes;
    const bool marked = length > qor::value::kVersionMarkerAt &&
                        data[qor::value::kVersionMarkerAt] == qor::value::kVersionMarker;
    layouts = marked ? std::vector<uint64_t>{prefixed, prefixed - kPrefix}
                     : std::vector<uint64_t>{prefixed - kPrefix, prefixed};
  }
  int64_t failed = 0;
  for (const uint64_t binaryPiece : layouts) {
    pieces.Clear();
    failed = DecryptPieces(data, length, text, binaryPiece, keyName, keyNameLength, ids, mode,
                           &pieces);
    if (failed == 0) break;
  }
  if (failed == kNoMemory) return 0;
  if (failed != 0) return failed;
  return pieces.CopyTo(out);
}

}  // extern "C"
