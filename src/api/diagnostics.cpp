// Diagnostics an operator's check tool runs: agent health, policy hash,
// presence and description of a policy, key versions of stored values, and
// the instance status report.
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "agent/socket/qor_socket.h"
#include "api/diagnostics_reset.h"
#include "common/last_error.h"
#include "api/instance.h"
#include "common/error_codes.h"
#include "common/value_format.h"
#include "config/build.h"
#include "config/shared_fields.h"
#include "engine/cipher/cipher_lock.h"
#include "log/log.h"
#include "qor/config.h"
#include "qor/key_mgr.h"
#include "qor/qolog.h"
#include "qorapi.h"

namespace {

constexpr char kLogUnit[] = "../QORApi";
constexpr int kCheckTimeLimitMs = 1000;
constexpr char kProductVersion[] = "3.7.3";
constexpr char kProductRelease[] = "2.0.26.7";
constexpr size_t kAgentInfoSize = 4096;

// Policy |name| of |mgr|, or nullptr. Call inside WithKeySet.
KeyInfo* FindPolicy(KeyMgr* mgr, const char* name) {
  if (mgr == nullptr) return nullptr;
  const DataBuffer keyName{static_cast<int>(std::strlen(name)),
                           reinterpret_cast<unsigned char*>(const_cast<char*>(name))};
  return mgr->GetKeyInfo(mgr, &keyName);
}

// Printable algorithm and key size of every algorithm code.
const char* AlgorithmName(uint32_t code) {
  static const char* const kNames[QOR_ALG_COUNT] = {
      "UNKNOWN",  "SEED-128", "ARIA-128", "3DES-128", "RC4",      "AES-128",  "UNKNOWN",
      "AES-256",  "SHA-1",    "SHA-256",  "SHA-384",  "SHA-512",  "3DES-128", "UNKNOWN",
      "ARIA-256", "LEA-128",  "UNKNOWN",  "LEA-256",  "SHA3-256", "SHA3-256", "SHA3-512",
      "LSH-256",  "LSH-512",  "FPE-128",  "3DES-192", "TICN"};
  return code < QOR_ALG_COUNT ? kNames[code] : "UNKNOWN";
}

const char* LogLevelName(int level) {
  switch (level) {
    case QOR_CONF_LOG_ERROR:
      return "ERROR";
    case QOR_CONF_LOG_NONE:
      return "NONE";
    case QOR_CONF_LOG_DEBUG:
      return "DEBUG";
    default:
      return "INFO";
  }
}

// A report that never runs past its caller's buffer: extra text is cut.
class Report {
 public:
  Report(char* out, size_t size) : out_(out), size_(size) {
    if (size_ > 0) out_[0] = '\0';
  }
  Report& operator<<(const char* text) {
    if (text == nullptr || size_ == 0) return *this;
    const size_t room = size_ - 1 - used_;
    const size_t n = std::min(room, std::strlen(text));
    std::memcpy(out_ + used_, text, n);
    used_ += n;
    out_[used_] = '\0';
    return *this;
  }
  Report& operator<<(long value) { return *this << std::to_string(value).c_str(); }

 private:
  char* out_;
  size_t size_;
  size_t used_ = 0;
};

int CountPolicies(KeyMgr* mgr, void*) { return mgr != nullptr ? mgr->GetPolicyCount(mgr) : -1; }

// Initialises on demand (or again for |mode| 1) and reports what the
// instance runs with; returns the initialisation result.
int GetALL(char* out, size_t size, int mode) {
  if (out == nullptr) return -1;
  Report report(out, size);
  report << " Product version : V " << kProductVersion << "\n Product release : "
         << kProductRelease;

  const qor::api::InstanceStatus before = qor::api::ReadStatus();
  // Mode 2 also rebuilds the configuration from its sources.
  if (mode != 0 || (!before.bypass && !before.configReady)) qor::api::ClearKeySet(mode == 2);
  const int result = QOR_GetInstanceAuto();
  // A copy: another thread's "clear-all" may release the configuration.
  QORApiData copy;
  const QORApiData* data = qor::api::CopyConfigData(&copy) ? &copy : nullptr;
  bool failed = result == qor::err::kConfigUnavailable || data == nullptr;

  if (!failed) {
    const qor::api::InstanceStatus status = qor::api::ReadStatus();
    report << "\n Agent Home : " << data->home << "\n Log path : ";
    switch (status.logState) {
      case 0:
        report << QOLog_GetPath();
        break;
      case 1:
        QOR_LOG_AS("QOR_GetALL", qor::log::kCrit,
                   "\nCan not make log file. Please check the permission\n");
        report << QOLog_GetPath();
        break;
      case 3:
        report << "Not Use";
        break;
      default:
        qor::ErrorSet(qor::LastErrorRecord(), qor::err::kNoLogLocation,
                      "Cannot Get QORAgent Location.");
        failed = true;
        break;
    }
  }
  if (!failed) {
    const qor::api::InstanceStatus status = qor::api::ReadStatus();
    const std::string home = data->home;
    struct stat st;
    report << "\n Log level : " << LogLevelName(data->logLevel) << "\n Port : "
           << static_cast<long>(data->firstPort) << "\n Second Port : "
           << static_cast<long>(data->secondPort) << "\n Key Sync : File "
           << (home + "/conf/.qorupdate.dat").c_str() << "\n Emergency use : "
           << (stat((home + "/conf/agent.dat").c_str(), &st) == 0 ? "Use" : "Not Use");
    if (result == 0) {
      const int32_t initFrom = qor::config::PolicyInitFromOf(data);
      const int from = initFrom >= 0 && initFrom <= 3 ? initFrom : 0;
      const int cipherMode = data->cryptoMode >= 0 && data->cryptoMode <= 2 ? data->cryptoMode : 0;
      report << "\n Policy Init From : " << PolicyInitFrom[from] << "\n Ctypto Mode : "
             << (status.bypass ? "BYPASS" : CryptoMode[cipherMode]);
      const int count = qor::api::WithKeySet(CountPolicies, nullptr);
      if (count >= 0) {
        const time_t loaded = static_cast<time_t>(qor::config::LoadTime(data));
        tm local{};
        localtime_r(&loaded, &local);
        char when[64];
        std::snprintf(when, sizeof(when), "%04d-%02d-%02d %02d:%02d:%02d",
                      local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec);
        report << "\n Load Policy : " << static_cast<long>(count)
               << "\n Load Policy status : OK " << when;
        return result;
      }
    }
  }
  report << "\n Load Policy : 0" << "\n Load Policy status : Fail( " << QOR_GetLastErrorMsg()
         << " ) \n";
  return result;
}

const char* TrueFalse(int flag) { return flag != 0 ? "True" : "False"; }

// The configuration the instance runs with, field by field.
void ShowConf(Report& report) {
  QORApiData copy;
  const QORApiData* data = qor::api::CopyConfigData(&copy) ? &copy : nullptr;
  if (data == nullptr) {
    report << "Property is Not Initialized";
    return;
  }
  const int cipherMode = data->cryptoMode >= 0 && data->cryptoMode <= 5 ? data->cryptoMode : 0;
  report << " Mandatory\n" << "\n Agent Home :" << data->home << "\n First IP : "
         << data->firstAgentIp << "\n First Port : " << static_cast<long>(data->firstPort)
         << "\n Second IP : " << data->secondAgentIp << "\n Second Port : "
         << static_cast<long>(data->secondPort) << "\n Log level : "
         << LogLevelName(data->logLevel) << "\n\n Optional \n" << "\n user Set : "
         << TrueFalse(qor::api::ReadStatus().userSet) << "\n Crypto Mode : "
         << CryptoMode[cipherMode] << "\n Use Compatibility : " << TrueFalse(data->compatibility)
         << "\n use Log: " << TrueFalse(data->useLog) << "\n use Log Dir : ";
  if (data->useLogDir != 0) {
    report << "True" << "\n Log Dir : " << data->logDir;
  } else {
    report << "False";
  }
  report << "\n\n Internal \n" << "\n Current Moudle Dir : "
         << (data->moduleDirKnown != 0 ? data->moduleDir : "Cannot Load")
         << "\n Process Level : " << static_cast<long>(Filter_level.load())
         << "\n Device IP : " << data->deviceIp;
}

struct DescribeRequest {
  const char* name;
  char* out;
  size_t size;
};

int Describe(KeyMgr* mgr, void* context) {
  auto* request = static_cast<DescribeRequest*>(context);
  KeyInfo* info = FindPolicy(mgr, request->name);
  if (info == nullptr || info->cipher == nullptr || info->cipher->data == nullptr) return 1;
  // A key version fetched on another thread may become the head meanwhile:
  // one acquiring read, then the published records behind it.
  const CipherUtil* head = qor::engine::HeadRecord(info->cipher->data);
  std::string text = AlgorithmName(head != nullptr ? head->algType : 0);
  text += " versions=";
  for (const CipherUtil* c = head; c != nullptr; c = qor::engine::NextRecord(c)) {
    if (c != head) text += ',';
    text += std::to_string(c->keyVersion);
  }
  if (text.size() >= request->size) return 2;
  std::memcpy(request->out, text.c_str(), text.size() + 1);
  return 0;
}

int Exists(KeyMgr* mgr, void* context) {
  if (mgr == nullptr) return -1;
  return FindPolicy(mgr, static_cast<const char*>(context)) != nullptr ? 0 : 1;
}

struct PolicyCheck {
  QORSocket* socket;
};

int CheckHash(KeyMgr* mgr, void* context) {
  if (mgr == nullptr) return 1;
  QORSocket* socket = static_cast<PolicyCheck*>(context)->socket;
  return socket->CheckPolicy(socket, mgr) != 0 ? 1 : 0;
}

}  // namespace

extern "C" {

QOR_API int QOR_HealthCheckAgent(void) {
  // A configuration built here is not the instance's: a later
  // initialisation builds its own, so this one is released again.
  QORApiConf* own = nullptr;
  QORApiData copy;
  const QORApiData* data = qor::api::CopyConfigData(&copy) ? &copy : nullptr;
  if (data == nullptr) {
    own = qor::config::Build(qor::LastErrorRecord(), Filter_level.load());
    if (own == nullptr) return 1;
    data = own->data;
  }
  QORSocket* socket = qor::api::CreateAgentSocket(data, false, kCheckTimeLimitMs);
  int result = 1;
  if (socket != nullptr) {
    result = socket->HealthCheckAgent(socket) != 0 ? 1 : 0;
    socket->Destroy(&socket);
  }
  if (own != nullptr) API_Destroy(own);
  return result;
}

QOR_API int QOR_CheckPolicy(void) {
  QORApiData copy;
  const QORApiData* data = qor::api::CopyConfigData(&copy) ? &copy : nullptr;
  if (!qor::api::ReadStatus().initialised || data == nullptr) return 1;
  PolicyCheck check{qor::api::CreateAgentSocket(data, true, kCheckTimeLimitMs)};
  if (check.socket == nullptr) return 1;
  // The key set's hash is compared while no clear or swap can free it.
  const int result = qor::api::WithKeySet(CheckHash, &check);
  check.socket->Destroy(&check.socket);
  return result;
}

QOR_API int QOR_ExistPolicy(const char* keyName) {
  if (keyName == nullptr || !qor::api::ReadStatus().initialised) return 1;
  // The read lock only keeps a concurrent clear from freeing the set mid-lookup.
  const int found = qor::api::WithKeySet(Exists, const_cast<char*>(keyName));
  if (found < 0) return 1;
  if (found == 0) return 0;
  qor::ErrorSet(qor::LastErrorRecord(), qor::err::kPolicyNotFound,
                "The policy id [%s] could not be found.", keyName);
  return 1;
}

QOR_API int QOR_DescribePolicy(const char* keyName, char* out, int size) {
  if (keyName == nullptr || out == nullptr || size <= 0) {
    qor::ErrorSet(qor::LastErrorRecord(), qor::err::kNullArgument,
                  "argument value cannot be null");
    return -1;
  }
  out[0] = '\0';
  if (QOR_GetInstanceAuto() != 0) return -1;
  DescribeRequest request{keyName, out, static_cast<size_t>(size)};
  switch (qor::api::WithKeySet(Describe, &request)) {
    case 0:
      return 0;
    case 2:
      qor::ErrorSet(qor::LastErrorRecord(), qor::err::kInternal,
                    "The description of policy [%s] does not fit in %d bytes.", keyName, size);
      return -1;
    default:
      qor::ErrorSet(qor::LastErrorRecord(), qor::err::kPolicyNotFound,
                    "The policy id [%s] could not be found.", keyName);
      return 1;
  }
}

QOR_API int QOR_GetKeyVersion(const char* text) {
  if (text == nullptr) return -1;
  // Stored text values may carry the two-character prefix; it is not Base64.
  const bool prefixed =
      std::strncmp(text, qor::value::kTextPrefix, qor::value::kTextPrefixChars) == 0;
  unsigned char* bytes = nullptr;
  const int n = QOR_Base64Decode(text, static_cast<int>(std::strlen(text)), &bytes,
                                 prefixed ? 0 : 1);
  const int version = n >= 2 ? (bytes[0] << 8) | bytes[1] : -1;
  std::free(bytes);
  return version;
}

QOR_API char* QOR_EncodeKeyVersion(int version) {
  const unsigned char bytes[qor::value::kPrefixBytes] = {
      static_cast<unsigned char>((version >> 8) & 0xFF), static_cast<unsigned char>(version & 0xFF),
      qor::value::kVersionMarker};
  char* text = nullptr;
  if (QOR_Base64Encode(bytes, qor::value::kPrefixBytes, &text, 1) < 0) return nullptr;
  return text;
}

QOR_API int QOR_AgentChecker_GetInfo(const char* command, char* out, int size) {
  const size_t room = size > 0 ? static_cast<size_t>(size) : 0;
  if (command != nullptr && strcasecmp(command, "all") == 0) return GetALL(out, room, 0);
  if (command != nullptr && strcasecmp(command, "key-update") == 0) return GetALL(out, room, 1);
  if (command != nullptr && strcasecmp(command, "reinit") == 0) return GetALL(out, room, 2);
  if (command != nullptr && strcasecmp(command, "clear-all") == 0) {
    return qor::api::ClearAllReport(out, room);
  }
  if (out == nullptr) return -1;
  Report report(out, room);
  if (command != nullptr && strcasecmp(command, "show-conf") == 0) {
    ShowConf(report);
    return 0;
  }
  if (command != nullptr && strcasecmp(command, "data type size") == 0) {
    char text[160];
    std::snprintf(text, sizeof(text),
                  "char : %lu/ short : %lu/ int : %lu/ float : %lu/ long : %lu/ double : %lu/ "
                  "pointer : %lu\n",
                  sizeof(char), sizeof(short), sizeof(int), sizeof(float), sizeof(long),
                  sizeof(double), sizeof(void*));
    report << text;
    return 0;
  }
  report << "all : Initializes the key if not already initialized, If initialized, simply "
            "outputs the state.\n"
         << "key-update : (WARNNING!) Always reinitializes the key. option is NOT THREAD-SAFE "
            "and is NOT RECOMMENDED! use with caution.";
  return 0;
}

QOR_API char* QOR_checkAgent(const char* command) {
  static char agentInfo[kAgentInfoSize];
  std::memset(agentInfo, 0, sizeof(agentInfo));
  QOR_AgentChecker_GetInfo(command, agentInfo, sizeof(agentInfo));
  return agentInfo;
}

}  // extern "C"
