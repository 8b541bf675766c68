// The agent socket object: connections to the first and second agent and the
// requests that download keys and policies.
#pragma once

#include <cstdint>

#include "qor/error.h"

struct KeyMgr;
struct QORApiConf;

// Every slot takes the object itself. Results: 0 success; the checks return
// -1 for an absent argument and another non-zero value for a failure, with the
// reason at the end of the error chain set by SetErrorVariable.
struct QORSocket {
  void* state;
  // which: 1 first agent, 2 second agent (other values: first, not logged). 0 or 1.
  int (*Connect)(QORSocket* socket, int which);
  void (*Disconnect)(QORSocket* socket);
  const char* (*GetLastErrorMsg)(QORSocket* socket);
  void (*SetErrorVariable)(QORSocket* socket, ErrorInfo* record);
  int (*GetKeyMgrFromQORServer)(QORSocket* socket, KeyMgr** slot, QORApiConf* config);
  int (*GetSpecficKeyFromQORServer)(QORSocket* socket, KeyMgr* mgr, QORApiConf* config,
                                    int nameLength, const char* name, int version);
  int (*GetKeyMgrUpdateFromQORServer)(QORSocket* socket, KeyMgr** slot, QORApiConf* config);
  // 0 when the first agent's policy hash equals |mgr|'s.
  int (*CheckPolicy)(QORSocket* socket, KeyMgr* mgr);
  // 0 when the first agent reports the server (agent) healthy.
  int (*HealthCheckServer)(QORSocket* socket);
  int (*HealthCheckAgent)(QORSocket* socket);
  int (*AppendPolicyFromQORServer)(QORSocket* socket, KeyMgr* mgr, QORApiConf* config);
  void (*Destroy)(QORSocket** socket);
};

// New socket object for the two agents, or nullptr with the reason in
// |record|'s chain (the caller's record: there is no object to hold it).
QORSocket* QORSocket_Create(const char* firstHost, uint16_t firstPort, const char* secondHost,
                            uint16_t secondPort, int timeLimitMs, ErrorInfo* record);
