// Reads a key-set answer while it arrives. Only what the whole-record path
// would read the same way is read early: the plain layout, policy by policy,
// with the element budget and nesting limit the whole reader applies. Any
// other record, and any record whose hash does not match, is dropped and read
// again whole, so the outcome is always the whole-record path's.
#include "agent/download/streamed_key_set.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "agent/download/download_internal.h"
#include "agent/policy/key_mgr_parse.h"
#include "agent/policy/policy_in_place.h"
#include "agent/policy/tlv_list.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "common/secure_wipe.h"
#include "engine/adapters/padding.h"
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
// From here on a second core decrypting and hashing shortens the load.
constexpr uint32_t kSideWorkFrom = 512 * 1024;
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
  slots_.assign(size, Slot{nullptr, 0, 0});
  count_ = 0;
}

bool StreamedKeySet::NameSet::Insert(std::string_view name) {
  // FNV-1a: names are short, and the table only needs them spread.
  uint32_t hash = 2166136261u;
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  // A name may be empty; its pointer still points into the record.
  return Place(Slot{name.data(), static_cast<uint32_t>(name.size()), hash});
}

bool StreamedKeySet::NameSet::Place(const Slot& slot) {
  const size_t mask = slots_.size() - 1;
  for (size_t i = slot.hash & mask;; i = (i + 1) & mask) {
    Slot& at = slots_[i];
    if (at.name == nullptr) {
      at = slot;
      ++count_;
      return true;
    }
    if (at.hash == slot.hash && at.length == slot.length &&
        std::memcmp(at.name, slot.name, slot.length) == 0) {
      return false;
    }
  }
}

void StreamedKeySet::NameSet::Grow() {
  std::vector<Slot> old(std::max<size_t>(64, slots_.size() * 2), Slot{nullptr, 0, 0});
  old.swap(slots_);
  count_ = 0;
  for (const Slot& slot : old) {
    if (slot.name != nullptr) Place(slot);
  }
}

StreamedKeySet::StreamedKeySet(const unsigned char* key, const unsigned char* iv, KeyMgr* mgr,
                               int32_t cryptoMode, int32_t compatibility, uint32_t streamFrom)
    : sessionKey_(key), sessionIv_(iv), mgr_(mgr), cryptoMode_(cryptoMode),
      compatibility_(compatibility), streamFrom_(std::max(streamFrom, kSmallestStreamed)) {}

StreamedKeySet::~StreamedKeySet() {
  // A key set that was not handed out leaves nothing behind, the audit
  // switch included, whichever way its caller gave up on it.
  Discard();
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
  side_.reset();
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
  NC_ARIA_CTX cipher{};
  body_ = static_cast<unsigned char*>(std::malloc(length));
  if (body_ == nullptr || NC_ARIA_DecKeyGen(sessionKey_, &cipher, kSessionRounds) != 0) {
    std::free(body_);
    body_ = nullptr;
    return nullptr;
  }
  side_.emplace(body_, cipher, sessionIv_, length >= kSideWorkFrom);
  SecureWipe(&cipher, sizeof(cipher));
  length_ = length;
  arrived_ = 0;
  stage_ = Stage::kOuter;
  at_ = outerEnd_ = hashAt_ = policiesEnd_ = handedTo_ = 0;
  budget_ = kMaxTlvElements - kFrameElements;
  // About one policy per 256 bytes of a record.
  names_.Clear(length / 256);
  auditBefore_ = AuditFlag.load();
  return body_;
}

void StreamedKeySet::Arrived(uint32_t received) {
  arrived_ = received;
  const uint32_t decrypted = side_->Arrived(received);
  // The last block holds the padding: only what is before it is plain text
  // for sure.
  if (decrypted > kBlock) Advance(decrypted - kBlock, false);
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
      side_->StartHash(h.value);
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
  // fifth more.
  if (at_ - handedTo_ >= kHashRun) {
    side_->HandOver(at_);
    handedTo_ = at_;
  }
  return Step::kDone;
}

bool StreamedKeySet::Finish(ErrorInfo* error) {
  const uint32_t n = length_;
  const bool whole = body_ != nullptr && arrived_ == n;
  if (whole) side_->WaitDecrypted(n);
  // As the session cipher checks it.
  const int pad = whole ? engine::adapters::PaddingCount<kBlock>(body_ + n - kBlock) : 0;
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
    side_->HandOver(policiesEnd_);
    if (side_->FinishHash(expected) &&
        std::memcmp(expected, body_ + hashAt_, kPolicyHashTextSize) == 0) {
      touched_ = false;  // the key set is the caller's now
      return true;
    }
  }
  Reset();
  const DataBuffer record{static_cast<int32_t>(plain), body_};
  return LoadCheckedRecord(record, mgr_, cryptoMode_, compatibility_, error, kFunction,
                           "agent answer");
}

}  // namespace qor::agent
