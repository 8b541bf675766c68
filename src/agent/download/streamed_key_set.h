// A large key-set answer read into the key manager while it arrives: each
// piece is decrypted as it comes in, and each policy is read and added as soon
// as its last byte is there, so the work overlaps the agent's sealing and the
// transfer instead of following them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "agent/connection/streamed_read.h"
#include "agent/download/answer_side_work.h"
#include "agent/policy/record_check.h"
#include "qor/error.h"
#include "qor/key_mgr.h"
#include "qor/policy.h"

namespace qor::agent {

// Smaller answers are read whole: there is little transfer to overlap.
inline constexpr uint32_t kStreamedKeySetFrom = 256 * 1024;

class StreamedKeySet final : public BodySink {
 public:
  // |key| and |iv| are where the socket keeps the session key of its current
  // request; they are read when a body begins. Bodies from |streamFrom| bytes
  // on are taken, when |mgr| is empty.
  StreamedKeySet(const unsigned char* key, const unsigned char* iv, KeyMgr* mgr,
                 int32_t cryptoMode, int32_t compatibility,
                 uint32_t streamFrom = kStreamedKeySetFrom);
  ~StreamedKeySet();
  StreamedKeySet(const StreamedKeySet&) = delete;
  StreamedKeySet& operator=(const StreamedKeySet&) = delete;

  unsigned char* Begin(uint8_t opcode, uint32_t length) override;
  void Arrived(uint32_t received) override;

  // Whether the last answer went to this object (then Finish reads it) rather
  // than into the packet.
  bool taken() const { return body_ != nullptr; }
  // After the whole answer arrived: true when the key manager holds the
  // checked key set, which is then the caller's. Otherwise the reason is in
  // |error| and the log, as Packet_OpGetKeyinfo2KeyMgr reports it, and the
  // key manager may hold a part.
  // Anything but the plain layout of a record (a hash, then one SEQUENCE of
  // distinct, readable policies) is read again whole, as any record is.
  bool Finish(ErrorInfo* error);
  // The answer did not arrive whole: the key manager is emptied again. The
  // destructor does the same for a key set that Finish did not hand out.
  void Discard();

 private:
  enum class Stage { kOuter, kHash, kPolicies, kPolicy, kWhole };
  enum class Step { kDone, kMore, kWhole };

  void Reset();
  // Reads what the first |ready| plain bytes complete; |final| when no more come.
  void Advance(uint32_t ready, bool final);
  Step Next(uint32_t ready, bool final);
  Step AddPolicyAt(uint32_t end);

  const unsigned char* sessionKey_;
  const unsigned char* sessionIv_;
  KeyMgr* mgr_;
  int32_t cryptoMode_;
  int32_t compatibility_;
  uint32_t streamFrom_;
  int auditBefore_ = 0;
  bool touched_ = false;  // the key manager or the audit switch changed

  unsigned char* body_ = nullptr;
  uint32_t length_ = 0;
  uint32_t arrived_ = 0;

  Stage stage_ = Stage::kOuter;
  uint32_t at_ = 0;         // next element to read
  uint32_t outerEnd_ = 0;   // where the record says it ends
  uint32_t hashAt_ = 0;     // the hash element's value
  uint32_t policiesEnd_ = 0;
  uint32_t handedTo_ = 0;   // the policies before this went to the hash
  uint32_t budget_ = 0;     // elements the whole reader would still take
  std::vector<BerTlvNode> nodes_;
  std::vector<char> texts_;
  // The names read so far, open-addressed: a heap node per name cost more
  // than reading the policy.
  class NameSet {
   public:
    void Clear(size_t expected);
    // False when |name| is there already.
    bool Insert(std::string_view name);

   private:
    struct Slot {
      const char* name;  // nullptr: free
      uint32_t length;
      uint32_t hash;
    };
    bool Place(const Slot& slot);
    void Grow();
    std::vector<Slot> slots_;
    size_t count_ = 0;
  };
  NameSet names_;
  std::optional<AnswerSideWork> side_;
};

}  // namespace qor::agent
