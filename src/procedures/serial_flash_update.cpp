// The serial flash procedure of chip types 8, 9, 11 and 12.
#include "procedure.h"
#include "procedure_texts.h"

namespace fwtool {

int RunFlashUpdate(const ProcedureRequest&, ProcedureHost& host) {
  host.SetStatusText(texts::kProcedureNotBuilt);
  return 0;
}

}  // namespace fwtool
