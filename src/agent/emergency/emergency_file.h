// The emergency policy file as the key download and the agent use it: loading
// it from the agent home with the installation's secret, and writing one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qor/data_buffer.h"
#include "qor/error.h"

namespace qor::agent {

inline constexpr char kEmergencyFileName[] = "agent.dat";
inline constexpr size_t kFileSaltSize = 32;

// "<home>/conf/agent.dat".
std::string EmergencyFilePath(const std::string& home);

enum class EmergencyLoad {
  kOk = 0,
  kNoFile,      // the file cannot be opened: the load fails
  kNoSecret,    // conf/agent.key missing or unreadable: the load fails
  kUnreadable,  // too short, wrong secret or damaged: "failed to ReadPolicyFile"
};

// Reads "<home>/conf/agent.dat": its salt, the installation's secret, then the
// record (ReadPolicyFile). On kOk |record| holds a new buffer the caller frees.
// Every other result stores code 1 and a message naming the cause in |error|
// (when given) and logs it; |record| is left as it was.
EmergencyLoad LoadEmergencyPolicy(const std::string& home, DataBuffer* record, ErrorInfo* error);

// Writes |record| as an emergency policy file at |path| (mode 0600) under a
// fresh random salt and |fileSecret|; replaces an existing file only once the
// new one is complete. 0 or -1.
int WriteEmergencyPolicyFile(const std::string& path, const std::vector<uint8_t>& record,
                             const unsigned char* fileSecret);

// Brings the text WritePolicyFile stored into the form ReadPolicyKeyInfo
// reads (the "$." prefix dropped, Base64 decoded). Empty for a text that does
// not decode.
std::vector<uint8_t> DecodePolicyKeyInfoText(const std::string& text);

// SHA-384(secret || salt): the first 32 bytes are the key, the last 16 the IV.
void DeriveFileKey(const unsigned char* fileSecret, const unsigned char* fileSalt,
                   unsigned char (&key)[32], unsigned char (&iv)[16]);
// True when |bytes| start with a SEQUENCE whose whole value lies within them.
bool LooksLikeRecord(const unsigned char* bytes, size_t length);

}  // namespace qor::agent
