// Building configuration objects: what the exported QORGet_* functions wrap.
#pragma once

#include "qor/config.h"

namespace qor::config {

// A new configuration object with the creation defaults (also published in
// apiObject as the most recent one), or nullptr when memory cannot be had.
// Release with API_Destroy.
QORApiConf* Create();
// The builders behind QORGet_Info, QORGet_DefaultInfo and QORGet_AgentLessInfo:
// each returns the object it built (release with API_Destroy) or nullptr.
QORApiConf* Build(ErrorInfo* errorRecord, int mode);
QORApiConf* BuildDefault();
QORApiConf* BuildAgentLess();

}  // namespace qor::config
