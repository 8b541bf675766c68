// The agent socket object: connections to the first and second agent and the
// requests that download keys and policies.
#pragma once

#include <cstdint>

#include "qor/error.h"

struct KeyMgr;
struct QORApiConf;

struct QORSocket {
  void* state;
  int (*Connect)(QORSocket* socket, int which);
  void (*Disconnect)(QORSocket* socket);
  const char* (*GetLastErrorMsg)(QORSocket* socket);
  void (*SetErrorVariable)(QORSocket* socket, ErrorInfo* record);
  int (*GetKeyMgrFromQORServer)(QORSocket* socket, KeyMgr** slot, QORApiConf* config);
  int (*GetSpecficKeyFromQORServer)(QORSocket* socket, KeyMgr* mgr, QORApiConf* config,
                                    int nameLength, const char* name, int version);
  int (*GetKeyMgrUpdateFromQORServer)(QORSocket* socket, KeyMgr** slot, QORApiConf* config);
  int (*CheckPolicy)(QORSocket* socket, KeyMgr* mgr);
  int (*HealthCheckServer)(QORSocket* socket);
  int (*HealthCheckAgent)(QORSocket* socket);
  int (*AppendPolicyFromQORServer)(QORSocket* socket, KeyMgr* mgr, QORApiConf* config);
  void (*Destroy)(QORSocket** socket);
};

// New socket object for the two agents, or nullptr with the reason in
// |record|'s chain (the caller's record: there is no object to hold it).
QORSocket* QORSocket_Create(const char* firstHost, uint16_t firstPort, const char* secondHost,
                            uint16_t secondPort, int timeLimitMs, ErrorInfo* record);
