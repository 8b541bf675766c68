// Tests only: the one way into the instance's private state.
#pragma once

#include <cstdint>

#include "agent/socket/qor_socket.h"

struct KeyMgr;
struct QORApiConf;

namespace qor::api::testing {

struct InstanceState {
  int32_t initialised, updateReady, configReady, clearing, userSet, logState;
  int32_t giCall, giCallEnv, giCallAdd, giInitMode;
  int32_t stampKnown;  // 1 when a stamp value was read since initialisation
  uint64_t cachedStamp;
  KeyMgr* keyMgr;
};

using SocketFactory = QORSocket* (*)(const char* firstHost, uint16_t firstPort,
                                     const char* secondHost, uint16_t secondPort,
                                     int timeLimitMs, ErrorInfo* record);

InstanceState ReadState();
// Installs |mgr| as the current key set (owned by the instance from then on)
// and |config| as the configuration (owned by the caller), and marks the
// instance initialised.
void InstallKeySet(KeyMgr* mgr, QORApiConf* config);
// How often a broken update stamp is opened again and reported (10 s by
// default); 0 makes every call retry.
void SetStampRetryInterval(int milliseconds);
// Replaces QORSocket_Create; nullptr restores it.
void SetSocketFactory(SocketFactory factory);

}  // namespace qor::api::testing
