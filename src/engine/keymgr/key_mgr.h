// The key manager: every policy of the current key set, by name.
#pragma once

#include "qor/data_buffer.h"

struct KeyInfo;

// The key manager object: its data, then its operations in slot order.
struct KeyMgr {
  void* data;
  KeyInfo* (*AddKeyInfo)(KeyMgr* mgr, ...);
  int (*AppendKeyInfo)(KeyMgr* mgr, KeyInfo* info);
  KeyInfo* (*GetKeyInfo)(KeyMgr* mgr, DataBuffer* name);
  void (*SetPolicyHash)(KeyMgr* mgr, const unsigned char* hash);
  int (*CheckPolicyHash)(KeyMgr* mgr, DataBuffer* hash);
  int (*LoadKeyName)(KeyMgr* mgr, char*** names);
  int (*GetPolicyCount)(KeyMgr* mgr);
  void* (*Clear)(KeyMgr* mgr);
  void (*Destroy)(KeyMgr** mgr);
};
