// SPDX-License-Identifier: GPL-2.0-or-later
// The procedure behind each tag the Run dispatch rows name, and its name.
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

WholePart WholePartFor(ProcedureTag tag) {
  switch (tag) {
    case ProcedureTag::None:
      return WholePart::None;
    case ProcedureTag::SerialFlash:
      return WholePart::FlashRange;
    case ProcedureTag::Parallel:
      return WholePart::Parallel;
    case ProcedureTag::Ieee1394:
      return WholePart::Flash1394;
    case ProcedureTag::Basic:
    case ProcedureTag::HeaderHandling:
      return WholePart::FlashAt;
    case ProcedureTag::Paged:
      return WholePart::FlashPages;
    case ProcedureTag::Staged:
      return WholePart::AtaFlash;
    case ProcedureTag::DiskHosted:
      return WholePart::DiskArea;
    case ProcedureTag::Vqs175Disk:
      return WholePart::DiskRegion;
  }
  return WholePart::None;
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
