// The "clear-all" report.
#include "api/diagnostics_reset.h"

#include "api/instance.h"
#include "api/report_text.h"
#include "qor/qoaudit.h"
#include "qor/qolog.h"

namespace qor::api {
namespace {

void Paths(ReportText& report) {
  report << "\nLog Path : " << QOLog_GetPath() << "\nAudit Path : " << QOAudit_GetPath()
         << "\nKey Init : " << (ReadStatus().initialised ? "TRUE" : "FALSE");
}

}  // namespace

int ClearAllReport(char* out, size_t size) {
  ReportText report(out, size);
  report << "Before";
  Paths(report);
  ClearKeySet(/*dropConfig=*/true);
  report << "\nAfter";
  Paths(report);
  return 0;
}

}  // namespace qor::api
