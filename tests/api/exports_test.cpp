// The shared library exports its C interface and nothing else.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

class SharedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(QOR_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
  }
  void* handle_ = nullptr;
};

TEST_F(SharedLibrary, ExportsTheCInterface) {
  const char* names[] = {
      "QOR_Init",         "QOR_IsInit",          "QOR_InitResult",    "QOR_ClearKeys",
      "QOR_loadKeyName",  "QOR_ReconnectFile",   "sync_env",          "QOR_GetLastErrorCode",
      "QOR_GetLastErrorMsg", "QOR_GetLastErrorMsgEx", "QOR_ERR_Set",  "QOR_Base64Encode",
      "QOR_Base64Decod",  "Hashtable_Create",    "x_strcpy",          "QOString_Trim",
      "QOUtil_Copy",      "FileStreamReader_ReadLineEx", "QORGet_Info", "API_Destroy",
      "lwl_write_log",    "QOLog_Init",          "make_unique",
      "QOAudit_Init",     "lwl_audit_write",     "QOLog_Audit_IsEnable", "build_name",
      "QOR_EncryptExUdf", "QOR_DecryptExUdf",    "QOR_Encrypt",       "QOR_Decrypt",
      "QOR_EncryptExMsSql", "QOR_DecryptExMsSql", "QOR_EncryptLobEx", "QOR_DecryptLobEx",
      "Connection_Create", "AcceptConnection_Create", "GenPacket",     "RecordAdd",
      "DestroyPacket",    "Packet_OpGetKeyinfo2KeyMgr", "readFileData", "Packet_writeFile",
      "isWhitespace",     "QOR_HealthCheckAgent", "QOR_CheckPolicy",  "QOR_ExistPolicy",
      "QOR_DescribePolicy", "QOR_GetKeyVersion", "QOR_EncodeKeyVersion",
      "QOR_AgentChecker_GetInfo", "QOR_checkAgent",
      "QOR_checkAgentFilter", "QOR_checkAgentEx", "QOR_HealthCheckServer",
      "QOR_CheckCryptoModule", "QOR_Connect_test", "Test_QOR_AddKey", "test",
      "QOR_GetVersionEx", "QOR_GetHostName", "QOR_GetHostIP", "QOR_SetAgentHome",
      "QOR_SetFirstPort", "QOR_SetSecondPort", "QOR_SetLogLevel", "QOR_SetLogDir",
      "QOR_SetFirstIp", "QOR_SetSecondIp", "QOR_SetUseLog", "QOR_Filter_set",
  };
  for (const char* name : names) EXPECT_NE(dlsym(handle_, name), nullptr) << name;
}

TEST_F(SharedLibrary, KeepsInternalsHidden) {
  const char* names[] = {"QOR_GetInstanceAuto", "FindKeyInfo",  "Update_KeyMgr",
                         "updateDateInit",      "LogInit",      "checkConfInitialize",
                         "ErrorInfo_Set",       "QORSocket_Create", "gData"};
  for (const char* name : names) EXPECT_EQ(dlsym(handle_, name), nullptr) << name;

  const std::string command = std::string("nm -D --defined-only ") + QOR_SHARED_LIBRARY;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[512];
  int symbols = 0;
  while (fgets(line, sizeof(line), pipe) != nullptr) {
    ++symbols;
    EXPECT_EQ(std::string(line).find(" _Z"), std::string::npos) << "C++ symbol exported: " << line;
  }
  pclose(pipe);
  EXPECT_GT(symbols, 20);
}

}  // namespace
