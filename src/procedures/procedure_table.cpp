// The procedure behind each tag of the chip rows, and its name.
#include "procedure.h"

namespace fwtool {

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
      return &RunDiskHostedUpdate;
    case ProcedureTag::Vqs175Disk:
      return &RunVqs175DiskFirmwareUpdate;
  }
  return nullptr;
}

const char* ProcedureName(ProcedureTag tag) {
  switch (tag) {
    case ProcedureTag::None:
      return "";
    case ProcedureTag::SerialFlash:
      return "RunFlashUpdate";
    case ProcedureTag::Parallel:
      return "RunParallelFlashUpdate";
    case ProcedureTag::Ieee1394:
      return "Run1394Update";
    case ProcedureTag::Basic:
      return "RunBasicFlashUpdate";
    case ProcedureTag::HeaderHandling:
      return "RunHeaderFlashUpdate";
    case ProcedureTag::Paged:
      return "RunPagedFlashUpdate";
    case ProcedureTag::Staged:
      return "RunStagedFlashUpdate";
    case ProcedureTag::DiskHosted:
      return "RunDiskHostedUpdate";
    case ProcedureTag::Vqs175Disk:
      return "RunVqs175DiskFirmwareUpdate";
  }
  return "";
}

}  // namespace fwtool
