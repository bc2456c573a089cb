// The procedure behind each tag of the chip rows.
#include "procedure.h"
#include "procedure_texts.h"

namespace fwtool {

namespace {

// Chip types whose procedure this build does not carry: say so instead of
// doing nothing.
int NotBuilt(const ProcedureRequest&, ProcedureHost& host) {
  host.SetStatusText(texts::kProcedureNotBuilt);
  return 0;
}

}  // namespace

Procedure ProcedureFor(ProcedureTag tag) {
  switch (tag) {
    case ProcedureTag::None:
      return nullptr;
    case ProcedureTag::SerialFlash:
      return &RunFlashUpdate;
    case ProcedureTag::Parallel:
      return &RunParallelFlashUpdate;
    case ProcedureTag::Ieee1394:
      return &Run1394Update;
    case ProcedureTag::Basic:
      return &RunBasicFlashUpdate;
    case ProcedureTag::HeaderHandling:
      return &RunHeaderFlashUpdate;
    case ProcedureTag::Paged:
      return &RunPagedFlashUpdate;
    case ProcedureTag::Staged:
      return &RunStagedFlashUpdate;
    case ProcedureTag::DiskHosted:
    case ProcedureTag::Vqs175Disk:
      return &NotBuilt;
  }
  return nullptr;
}

}  // namespace fwtool
