// The single library instance: current key set, configuration, last error,
// key-update watch, and the flags that coordinate initialising threads.
#pragma once

#include <atomic>
#include <cstdint>

#include "qorapi.h"

struct KeyInfo;
struct KeyMgr;
struct QORApiData;
struct QORSocket;

// Host kind set by QOR_Filter_set: configuration source order and log name.
extern std::atomic<int32_t> Filter_level;

// Initialises the instance when needed: 0 initialised, else -1 or 7011.
int QOR_GetInstanceAuto();

// The three callbacks below are handed to the crypto service and run inside
// an entry point's CallGuard, so the instance read lock is already held.
// Policy lookup: 0 found, 1 not found.
int FindKeyInfo(DataBuffer* keyName, KeyInfo** out);
// Refresh of the key set after a lookup miss: 0 initialised afterwards, else -1.
int QOR_GetUpdate(const char* address, uint16_t port);
// Fetches one missing key version: 0 ok, 1 failed or nothing loaded, -1 busy.
int QOR_AddKey(int nameLength, const char* name, int version);
int AddSpecficKey(const char* address, uint16_t port, int nameLength, const char* name,
                  int version);

// Downloads and swaps in a new key set: 0 swapped, 1 or -1 failed.
int Update_KeyMgr();
// Maps the update-stamp file: 0 mapped, 1 failed (stamp then never changes).
int updateDateInit(QORApiData* configData);
// 0 use the existing configuration, -1 give up, 1 the caller now holds the
// configuration build and must build it.
int checkConfInitialize();
// Opens the API log: 0 configured place, 1 "/tmp", 2 nowhere.
int LogInit(QORApiData* configData);

namespace qor::api {

// The per-call prologue of every entry point: initialise or swap as needed,
// wait out a pending swap or clear, then hold the instance read lock until
// the guard goes out of scope.
class CallGuard {
 public:
  CallGuard();
  ~CallGuard();
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;
  bool ok() const { return held_ != 0; }

 private:
  int held_ = 0;  // how the instance lock is held (Instance::Held)
};

// What the status reports read of the instance.
struct InstanceStatus {
  bool initialised;
  bool configReady;
  bool bypass;
  bool userSet;      // a setter changed the configuration
  int32_t logState;  // 0 configured place, 1 fallback, 2 nowhere, 3 logging off
};
InstanceStatus ReadStatus();

// The configuration data, or nullptr before one was built. It lives as long
// as the instance's configuration; the caller does not own it.
QORApiData* CurrentConfigData();

// Runs |visit| on the current key set (nullptr when none is loaded) while no
// clear or swap can free it, and returns what |visit| returns.
int WithKeySet(int (*visit)(KeyMgr* mgr, void* context), void* context);

// Agent socket object for |data|'s first agent, and its second one when
// |secondAgent|, chained to the last-error record; nullptr when it cannot be
// made. The caller destroys it.
QORSocket* CreateAgentSocket(const QORApiData* data, bool secondAgent, int timeLimitMs);

// Settings and the reports that reset the instance (settings.cpp,
// diagnostics_*.cpp).
// Copies the configuration data into |out| while nothing can release it:
// false when there is no configuration.
bool CopyConfigData(QORApiData* out);
// Runs |change| on the configuration while no entry point, download or
// build uses it, building the configuration (or the built-in defaults) first
// when there is none, and marks it changed by a setter: 0, or -1 with the
// reason in the last error.
int ChangeConfig(void (*change)(QORApiData* data, void* context), void* context);
// Clears the key set; with |dropConfig| also releases the configuration, in
// the same step, so that the next initialisation builds it from its sources.
void ClearKeySet(bool dropConfig);
// Fetches key |version| of policy |name| from the first agent into the
// loaded key set: 0 fetched, 1 failed or nothing loaded, -1 busy.
int FetchKeyVersion(const char* name, int version);

// Fork handlers: the instance lock (read) and the stamp lock before a fork,
// its signal lock last of all the library's locks; released after the fork in
// both processes.
void LockInstanceForFork();
void UnlockInstanceAfterFork();
// In the child: also lets go of what the parent's other threads held.
void UnlockInstanceInForkedChild();
void LockInstanceSignalsForFork();
void UnlockInstanceSignalsAfterFork();

}  // namespace qor::api
