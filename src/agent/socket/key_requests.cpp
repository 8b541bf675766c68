// The key operations of the agent socket object: the whole key set at start
// and on update, the policies a key set lacks, and one missing key version.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "agent/download/download_internal.h"
#include "agent/download/streamed_key_set.h"
#include "agent/policy/key_mgr_parse.h"
#include "agent/socket/socket_internal.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "config/shared_fields.h"
#include "engine/keymgr/policy_table.h"
#include "log/log.h"
#include "qor/config.h"
#include "qor/key_download.h"
#include "qor/policy.h"
#include "qor/qoaudit.h"

namespace qor::agent {

namespace {

constexpr char kLogUnit[] = "source/QORSocket";

enum Source : int32_t {
  kNoRequest = -1,  // a request could not be built: nothing else is tried
  kNothing = 0,
  kFirstAgent = 1,
  kSecondAgent = 2,
  kEmergencyFile = 3,
};

struct KeyMgrDeleter {
  void operator()(KeyMgr* mgr) const {
    if (mgr != nullptr) mgr->Destroy(&mgr);
  }
};
using KeyMgrPtr = std::unique_ptr<KeyMgr, KeyMgrDeleter>;

// Plain record, wiped and released however the request ends.
struct Plain {
  DataBuffer block{0, nullptr};
  ~Plain() { WipeAndFree(&block); }
};

// One request for |opcode| to the first agent, then with a new request (new
// seed) to the second. |payload| only for the single-key request; a large
// key-set answer goes to |stream| when there is one. Returns the agent that
// answered, or kNothing; the socket then holds the session key of the request
// that was answered.
Source AskAgents(QORSocket* socket, int opcode, const DataBuffer* payload, Packet* answer,
                 StreamedKeySet* stream = nullptr) {
  for (const Source which : {kFirstAgent, kSecondAgent}) {
    DataBuffer request{0, nullptr};
    const int built = payload != nullptr ? GetSendPacketInfoFromSpecfic(socket, &request, payload)
                                         : GetSendPacketInfo(socket, &request, opcode);
    if (built != 0) {
      DestroyPacket(answer);
      return kNoRequest;
    }
    Bytes owned(request.data);
    DestroyPacket(answer);
    if (GetPolicyInfoFromQORServer(socket, &request, answer, which, opcode, stream) == 0) {
      return which;
    }
    // What a broken-off answer put into the key manager goes with it.
    if (stream != nullptr) stream->Discard();
  }
  DestroyPacket(answer);
  return kNothing;
}

// A new, empty key manager; failures are logged under |function|.
bool CreateKeyMgr(SocketState* state, const char* function, KeyMgrPtr* mgr) {
  mgr->reset(KeyMgr_Create(nullptr));
  if (*mgr != nullptr) return true;
  ErrorSet(&state->error, err::kGeneral, "failed to KeyMgr_Create");
  QOR_LOG_AS(function, log::kCrit, "%s\n", "failed to KeyMgr_Create");
  return false;
}

// Reads the key-set answer into |mgr|: from |stream| when it took the answer,
// else from |answer| with the session cipher of the answered request. 1 read,
// 0 failed (recorded), as Packet_OpGetKeyinfo2KeyMgr.
int ReadKeySet(QORSocket* socket, const char* function, const Packet& answer,
               StreamedKeySet* stream, KeyMgr* mgr, const QORApiData& data) {
  SocketState* state = StateOf(socket);
  if (stream->taken()) return stream->Finish(&state->error) ? 1 : 0;
  CipherPtr cipher(CreateSessionCipher(socket));
  if (cipher == nullptr) {
    ErrorSet(&state->error, err::kGeneral, "failed to UACipherUtil_CreateEx");
    QOR_LOG_AS(function, log::kCrit, "%s\n", "failed to UACipherUtil_CreateEx");
    return 0;
  }
  return Packet_OpGetKeyinfo2KeyMgr(&answer, mgr, cipher.get(), &state->error, data.cryptoMode,
                                    data.compatibility);
}

void RecordSource(QORApiData* data, Source from) {
  config::StorePolicyInitFrom(data, from);
  QOR_LOG_AS("GetKeyMgrFromQORServer", log::kDebug, "Success to get policy %s\n",
             PolicyInitFrom[from]);
}

// Auditing switched on by any policy of the new set starts the audit files.
void StartAuditWhenAsked(const char* home) {
  if (AuditFlag.load() != 1) return;
  QOR_LOG_RESULT_AS("GetKeyMgrFromQORServer", log::kInfo,
                    "Start Record Enc / Dec Audit [path = %s] \n", home);
  QOAudit_Init(home);
}

}  // namespace

int GetKeyMgrFromQORServer(QORSocket* socket, KeyMgr** slot, QORApiConf* config) {
  SocketState* state = StateOf(socket);
  if (state == nullptr || slot == nullptr || config == nullptr || config->data == nullptr) return -1;
  QORApiData* data = config->data;
  config::StoreLoadTime(data, static_cast<int64_t>(std::time(nullptr)));

  KeyMgrPtr mgr;
  if (!CreateKeyMgr(state, __func__, &mgr)) return 1;
  StreamedKeySet stream(state->key, state->iv, mgr.get(), data->cryptoMode, data->compatibility);
  PacketGuard answer;
  Plain fileRecord;
  Source from = AskAgents(socket, kOpKeySet, nullptr, &answer.packet, &stream);
  if (from == kNoRequest) return 1;
  if (from == kNothing) {
    // The reason neither agent answered stays the last error when there is
    // no file either.
    switch (GetPolicyInfoFromFile(data->home, &fileRecord.block, &state->error)) {
      case FileRecord::kMissing:
        return 1;
      case FileRecord::kUnreadable:
        // A key set of no policies would pass for a loaded one.
        return 1;
      case FileRecord::kRead:
        from = kEmergencyFile;
        break;
    }
  }

  if (from == kEmergencyFile) {
    if (!LoadCheckedRecord(fileRecord.block, mgr.get(), data->cryptoMode, data->compatibility,
                           &state->error, "GetPolicyInfoFromFile", "emergency policy file")) {
      NoteFailedFileLoad(data->home, &state->error);
      return 1;
    }
  } else if (ReadKeySet(socket, __func__, answer.packet, &stream, mgr.get(), *data) != 1) {
    return 1;
  }
  RecordSource(data, from);
  // The old key set goes only once the new one is complete.
  if (*slot != nullptr) (*slot)->Destroy(slot);
  *slot = mgr.release();
  QOR_LOG(log::kDebug, "Set Keyinfo to KeyMgr Success\n");
  StartAuditWhenAsked(data->home);
  return 0;
}

int GetKeyMgrUpdateFromQORServer(QORSocket* socket, KeyMgr** slot, QORApiConf* config) {
  SocketState* state = StateOf(socket);
  if (state == nullptr || slot == nullptr || config == nullptr || config->data == nullptr) return -1;
  QORApiData* data = config->data;
  config::StoreLoadTime(data, static_cast<int64_t>(std::time(nullptr)));

  KeyMgrPtr mgr;
  if (!CreateKeyMgr(state, __func__, &mgr)) return 1;
  StreamedKeySet stream(state->key, state->iv, mgr.get(), data->cryptoMode, data->compatibility);
  PacketGuard answer;
  const Source from = AskAgents(socket, kOpKeySet, nullptr, &answer.packet, &stream);
  if (from == kNothing || from == kNoRequest) return 1;
  config::StorePolicyInitFrom(data, from);
  if (*slot != nullptr) {
    ErrorSet(&state->error, err::kGeneral, "KeyMgr Already exists");
    QOR_LOG(log::kCrit, "%s\n", "KeyMgr Already exists");
    return 1;
  }
  if (ReadKeySet(socket, __func__, answer.packet, &stream, mgr.get(), *data) != 1) return 1;
  *slot = mgr.release();
  QOR_LOG(log::kDebug, "Set Keyinfo to KeyMgr Success\n");
  return 0;
}

int AppendPolicyFromQORServer(QORSocket* socket, KeyMgr* target, QORApiConf* config) {
  SocketState* state = StateOf(socket);
  if (state == nullptr || target == nullptr || config == nullptr || config->data == nullptr) {
    return -1;
  }
  QORApiData* data = config->data;
  KeyMgrPtr fetched;
  if (!CreateKeyMgr(state, __func__, &fetched)) return 1;
  StreamedKeySet stream(state->key, state->iv, fetched.get(), data->cryptoMode,
                        data->compatibility);
  PacketGuard answer;
  const Source from = AskAgents(socket, kOpKeySet, nullptr, &answer.packet, &stream);
  if (from == kNothing || from == kNoRequest) return 1;
  if (ReadKeySet(socket, __func__, answer.packet, &stream, fetched.get(), *data) != 1) return 1;

  engine::AppendMissingPolicies(target, fetched.get());
  return 0;
}

int GetSpecficKeyFromQORServer(QORSocket* socket, KeyMgr* mgr, QORApiConf* config, int nameLength,
                               const char* name, int version) {
  SocketState* state = StateOf(socket);
  if (state == nullptr || config == nullptr || config->data == nullptr || name == nullptr ||
      nameLength <= 0) {
    return -1;
  }
  QORApiData* data = config->data;
  const int keyVersion = static_cast<uint16_t>(version);
  // "name:version"
  char suffix[16];
  const int suffixLength = std::snprintf(suffix, sizeof(suffix), ":%d", keyVersion);
  Bytes payloadBytes(static_cast<unsigned char*>(
      std::malloc(static_cast<size_t>(nameLength) + static_cast<size_t>(suffixLength) + 1)));
  if (payloadBytes == nullptr) return 1;
  std::memcpy(payloadBytes.get(), name, static_cast<size_t>(nameLength));
  std::memcpy(payloadBytes.get() + nameLength, suffix, static_cast<size_t>(suffixLength) + 1);
  const DataBuffer payload{nameLength + suffixLength, payloadBytes.get()};
  // The name as text for the log lines.
  const std::string nameText(name, static_cast<size_t>(nameLength));

  PacketGuard answer;
  const Source from = AskAgents(socket, kOpSingleKey, &payload, &answer.packet);
  if (from == kNothing || from == kNoRequest) return 1;
  config::StorePolicyInitFrom(data, from);

  CipherPtr cipher(CreateSessionCipher(socket));
  if (cipher == nullptr) {
    ErrorSet(&state->error, err::kGeneral, "failed to UACipherUtil_CreateEx");
    QOR_LOG(log::kCrit, "%s\n", "failed to UACipherUtil_CreateEx");
    return 1;
  }
  if (mgr == nullptr) {
    QOR_LOG_AS("Packet_OpGetSpecficKeyinfo2KeyMgr", log::kCrit, "Null Pointer Exception\n");
    return 1;
  }
  if (answer.packet.length <= 0 || answer.packet.data == nullptr) {
    ErrorSet(&state->error, err::kGeneral, "Invalid Packet");
    return 1;
  }
  Plain plain;
  if (DecryptAnswer(cipher.get(), answer.packet, &plain.block) != 0) {
    ErrorSet(&state->error, err::kGeneral, "Record Decrypt Failed");
    QOR_LOG_AS("Packet_OpGetSpecficKeyinfo2KeyMgr", log::kCrit,
               "Fail to Packet Decrypt, Packet Len : %d\n", answer.packet.length);
    QOR_LOG_AS("Packet_OpGetSpecficKeyinfo2KeyMgr", log::kCrit,
               "Fail: Added the key for [%s:%d] in KeyMgr\n", nameText.c_str(), keyVersion);
    return 1;
  }
  const DataBuffer keyName{nameLength, reinterpret_cast<unsigned char*>(const_cast<char*>(name))};
  KeyInfo* info = mgr->GetKeyInfo(mgr, &keyName);
  // A policy this key set does not hold gets nothing.
  if (info == nullptr) return 0;
  if (AddKeyRecord(plain.block, info, data->cryptoMode, nameText.c_str(), keyVersion) != 0) {
    ErrorSet(&state->error, err::kGeneral, "failed to add the key version [%s:%d]",
             nameText.c_str(), keyVersion);
    return 1;
  }
  return 0;
}

}  // namespace qor::agent

extern "C" int Packet_OpGetKeyinfo2KeyMgr(const Packet* answer, KeyMgr* mgr,
                                          UACipherUtil* sessionCipher, ErrorInfo* errorRecord,
                                          int32_t cryptoMode, int32_t compatibility) {
  using namespace qor;
  constexpr const char* kFunction = "Packet_OpGetKeyinfo2KeyMgr";
  if (mgr == nullptr) {
    QOR_LOG_UNIT_AS(log::kCrit, kFunction, "source/QORSocket", "Null Pointer Exception\n");
    return 0;
  }
  if (answer == nullptr || answer->length <= 0 || answer->data == nullptr) {
    ErrorSet(errorRecord, err::kGeneral, "Invalid Packet");
    return 0;
  }
  agent::Plain plain;
  if (sessionCipher == nullptr || agent::DecryptAnswer(sessionCipher, *answer, &plain.block) != 0) {
    ErrorSet(errorRecord, err::kGeneral, "Record Decrypt Failed");
    return 0;
  }
  return agent::LoadCheckedRecord(plain.block, mgr, cryptoMode, compatibility, errorRecord,
                                  kFunction, "agent answer")
             ? 1
             : 0;
}
