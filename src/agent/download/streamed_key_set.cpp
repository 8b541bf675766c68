// Reads a key-set answer while it arrives. Only what the whole-record path
// would read the same way is read early: the plain layout, policy by policy,
// with the element budget and nesting limit the whole reader applies. Any
// other record, and any record whose hash does not match, is dropped and read
// again whole, so the outcome is always the whole-record path's.
#include "agent/download/streamed_key_set.h"

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <functional>
#include <new>

#include "agent/download/download_internal.h"
#include "agent/policy/key_mgr_parse.h"
#include "agent/policy/policy_in_place.h"
#include "agent/policy/tlv_list.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "common/secure_wipe.h"
#include "log/log.h"

namespace qor::agent {

namespace {

constexpr char kLogUnit[] = "source/QORSocket";
constexpr const char* kFunction = "Packet_OpGetKeyinfo2KeyMgr";

constexpr int kSessionRounds = 16;  // ARIA with a 32-byte key
constexpr uint32_t kBlock = 16;
// The session cipher treats plain texts of a byte or none specially; a body
// of four blocks or more never holds one.
constexpr uint32_t kSmallestStreamed = 4 * kBlock;
// An element header: the tag and at most five length bytes.
constexpr uint32_t kLongestHeader = 6;
constexpr uint32_t kHashRun = 64 * 1024;
// From here on a second core hashing the policies shortens the load.
constexpr uint32_t kHashOnAnotherCoreFrom = 512 * 1024;
// The outer SEQUENCE, the hash and the policy SEQUENCE.
constexpr uint32_t kFrameElements = 3;

struct Header {
  uint8_t tag = 0;
  uint32_t value = 0;  // offset of the value
  uint32_t end = 0;    // offset just past the element
};

enum class Read { kOk, kMore, kBad };

// The header of the element at |at| inside an element that ends at |limit|,
// as the whole reader takes it; |ready| bytes are readable so far.
Read ElementAt(const unsigned char* bytes, uint32_t at, uint32_t limit, uint32_t ready,
               Header* out) {
  if (at >= limit || limit - at < 2) return Read::kBad;
  const uint32_t need = limit - at < kLongestHeader ? limit - at : kLongestHeader;
  if (ready < at || ready - at < need) return Read::kMore;
  uint32_t length = 0;
  const unsigned char* after = tlv_parseLength(&length, bytes + at + 1, limit - at - 1);
  if (after == nullptr) return Read::kBad;
  const auto value = static_cast<uint32_t>(after - bytes);
  if (uint64_t{value} + length > limit) return Read::kBad;
  *out = Header{bytes[at], value, value + length};
  return Read::kOk;
}

}  // namespace

void StreamedKeySet::NameSet::Clear(size_t expected) {
  size_t size = 64;
  while (size < expected * 2) size *= 2;
  slots_.assign(size, std::string_view());
  count_ = 0;
}

bool StreamedKeySet::NameSet::Insert(std::string_view name) {
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  const size_t mask = slots_.size() - 1;
  // A name may be empty; its view still points into the record.
  for (size_t i = std::hash<std::string_view>{}(name) & mask;; i = (i + 1) & mask) {
    std::string_view& slot = slots_[i];
    if (slot.data() == nullptr) {
      slot = name;
      ++count_;
      return true;
    }
    if (slot == name) return false;
  }
}

void StreamedKeySet::NameSet::Grow() {
  std::vector<std::string_view> old(std::max<size_t>(64, slots_.size() * 2));
  old.swap(slots_);
  count_ = 0;
  for (const std::string_view& name : old) {
    if (name.data() != nullptr) Insert(name);
  }
}

StreamedKeySet::StreamedKeySet(const unsigned char* key, const unsigned char* iv, KeyMgr* mgr,
                               int32_t cryptoMode, int32_t compatibility, uint32_t streamFrom)
    : sessionKey_(key), sessionIv_(iv), mgr_(mgr), cryptoMode_(cryptoMode),
      compatibility_(compatibility), streamFrom_(std::max(streamFrom, kSmallestStreamed)) {}

StreamedKeySet::~StreamedKeySet() {
  hash_.reset();
  if (body_ != nullptr) {
    SecureWipe(body_, length_);
    std::free(body_);
  }
  SecureWipe(&cipher_, sizeof(cipher_));
  SecureWipe(chain_, sizeof(chain_));
}

void StreamedKeySet::Reset() {
  if (!touched_) return;
  mgr_->Clear(mgr_);
  // Back to the hash of a new key manager.
  const unsigned char none[QOR_POLICY_HASH_SIZE] = {};
  mgr_->SetPolicyHash(mgr_, none);
  // A policy of a record that is not kept must not leave auditing on.
  AuditFlag.store(auditBefore_);
  touched_ = false;
}

void StreamedKeySet::Discard() {
  Reset();
  hash_.reset();
  if (body_ != nullptr) {
    SecureWipe(body_, length_);
    std::free(body_);
    body_ = nullptr;
  }
}

unsigned char* StreamedKeySet::Begin(uint8_t /*opcode*/, uint32_t length) {
  Discard();
  if (mgr_ == nullptr || sessionKey_ == nullptr || sessionIv_ == nullptr ||
      length < streamFrom_ || length % kBlock != 0 || mgr_->GetPolicyCount(mgr_) != 0) {
    return nullptr;
  }
  body_ = static_cast<unsigned char*>(std::malloc(length));
  if (body_ == nullptr || NC_ARIA_DecKeyGen(sessionKey_, &cipher_, kSessionRounds) != 0) {
    std::free(body_);
    body_ = nullptr;
    return nullptr;
  }
  length_ = length;
  decrypted_ = 0;
  std::memcpy(chain_, sessionIv_, kBlock);
  stage_ = Stage::kOuter;
  at_ = outerEnd_ = hashAt_ = policiesEnd_ = handedTo_ = 0;
  budget_ = kMaxTlvElements - kFrameElements;
  // About one policy per 256 bytes of a record.
  names_.Clear(length / 256);
  auditBefore_ = AuditFlag.load();
  return body_;
}

void StreamedKeySet::Arrived(uint32_t received) {
  const uint32_t whole = received - received % kBlock;
  if (whole > decrypted_) {
    // In place: the chaining block for the next piece is saved first.
    unsigned char next[kBlock];
    std::memcpy(next, body_ + whole - kBlock, kBlock);
    NC_E_ARIA_CBC_Decrypt(body_ + decrypted_, body_ + decrypted_, cipher_.roundKey,
                          static_cast<int>(whole - decrypted_), chain_, cipher_.rounds);
    std::memcpy(chain_, next, kBlock);
    decrypted_ = whole;
  }
  // The last block holds the padding: only what is before it is plain text
  // for sure.
  if (decrypted_ > kBlock) Advance(decrypted_ - kBlock, false);
}

void StreamedKeySet::Advance(uint32_t ready, bool final) {
  try {
    while (stage_ != Stage::kWhole) {
      const Step step = Next(ready, final);
      if (step == Step::kMore) return;
      if (step == Step::kWhole) stage_ = Stage::kWhole;
    }
  } catch (const std::bad_alloc&) {
    stage_ = Stage::kWhole;
  }
}

StreamedKeySet::Step StreamedKeySet::Next(uint32_t ready, bool final) {
  Header h;
  const auto read = [&](uint32_t limit) {
    const Read r = ElementAt(body_, at_, limit, ready, &h);
    if (r == Read::kBad || (r == Read::kMore && final)) return Step::kWhole;
    return r == Read::kOk ? Step::kDone : Step::kMore;
  };
  switch (stage_) {
    case Stage::kOuter: {
      // Its end is checked against the plain length once that is known.
      if (const Step s = read(length_); s != Step::kDone) return s;
      if (h.tag != BER_TAG_SEQUENCE) return Step::kWhole;
      outerEnd_ = h.end;
      at_ = h.value;
      stage_ = Stage::kHash;
      return Step::kDone;
    }
    case Stage::kHash: {
      if (const Step s = read(outerEnd_); s != Step::kDone) return s;
      if (h.tag != BER_TAG_OCTET_STRING || h.end - h.value != kPolicyHashTextSize) {
        return Step::kWhole;
      }
      if (h.end > ready) return final ? Step::kWhole : Step::kMore;
      static_assert(kPolicyHashTextSize == QOR_POLICY_HASH_SIZE);
      touched_ = true;
      mgr_->SetPolicyHash(mgr_, body_ + h.value);
      hashAt_ = h.value;
      at_ = h.end;
      stage_ = Stage::kPolicies;
      return Step::kDone;
    }
    case Stage::kPolicies: {
      if (const Step s = read(outerEnd_); s != Step::kDone) return s;
      if ((h.tag & BER_CONSTRUCTED) == 0 || h.end != outerEnd_) return Step::kWhole;
      at_ = handedTo_ = h.value;
      policiesEnd_ = h.end;
      hash_.emplace(body_, h.value, length_ >= kHashOnAnotherCoreFrom);
      stage_ = Stage::kPolicy;
      return Step::kDone;
    }
    case Stage::kPolicy: {
      if (at_ == policiesEnd_) return Step::kMore;  // all read; Finish checks the rest
      if (const Step s = read(policiesEnd_); s != Step::kDone) return s;
      if (h.end > ready) return final ? Step::kWhole : Step::kMore;
      return AddPolicyAt(h.end);
    }
    case Stage::kWhole:
      break;
  }
  return Step::kWhole;
}

StreamedKeySet::Step StreamedKeySet::AddPolicyAt(uint32_t end) {
  // The nodes and depths the whole reader gives this policy; a stop there
  // would end that reader's list, so it is read whole.
  if (!ParseTlvBlockAt(body_ + at_, end - at_, 2, budget_, &nodes_) || nodes_.empty()) {
    return Step::kWhole;
  }
  budget_ -= static_cast<uint32_t>(nodes_.size());
  const BerTlv* name = Policy_getName(nodes_.data());
  // The whole reader skips a nameless policy and gives a repeated name its
  // first policy each time; neither is worth reproducing here.
  if (name == nullptr ||
      !names_.Insert({reinterpret_cast<const char*>(name->value), name->length})) {
    return Step::kWhole;
  }
  PolicyData parsed;
  if (!ReadPolicyInPlace(nodes_.data(), &parsed, &texts_)) return Step::kWhole;
  touched_ = true;
  AddParsedPolicy(mgr_, parsed, name->length, cryptoMode_, compatibility_);
  ReleasePolicyInPlace(&parsed);
  at_ = end;
  // The policies go to the hash in long runs: a call per policy costs a
  // third more.
  if (at_ - handedTo_ >= kHashRun) {
    hash_->HandOver(at_);
    handedTo_ = at_;
  }
  return Step::kDone;
}

bool StreamedKeySet::Finish(ErrorInfo* error) {
  const uint32_t n = length_;
  int pad = body_ != nullptr && decrypted_ == n ? body_[n - 1] : 0;
  if (pad != 0) {
    // As the session cipher checks it: every padding byte holds the count.
    unsigned wrong = 0;
    for (uint32_t i = n - kBlock; i < n; ++i) {
      if (n - i <= static_cast<uint32_t>(pad)) wrong |= body_[i] ^ static_cast<unsigned>(pad);
    }
    if (pad > static_cast<int>(kBlock) || wrong != 0) pad = 0;
  }
  if (pad == 0) {
    Reset();
    ErrorSet(error, err::kGeneral, "Record Decrypt Failed");
    QOR_LOG_AS(kFunction, log::kCrit, "Fail to Packet Decrypt, Packet Len : %u\n", n);
    return false;
  }
  const uint32_t plain = n - static_cast<uint32_t>(pad);
  Advance(plain, true);
  if (stage_ == Stage::kPolicy && at_ == policiesEnd_ && outerEnd_ == plain &&
      mgr_->GetPolicyCount(mgr_) > 0) {
    char expected[kPolicyHashTextSize];
    hash_->HandOver(policiesEnd_);
    if (hash_->Finish(expected) &&
        std::memcmp(expected, body_ + hashAt_, kPolicyHashTextSize) == 0) {
      return true;
    }
  }
  Reset();
  const DataBuffer record{static_cast<int32_t>(plain), body_};
  return LoadCheckedRecord(record, mgr_, cryptoMode_, compatibility_, error, kFunction,
                           "agent answer");
}

}  // namespace qor::agent
