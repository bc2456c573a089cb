// The shape every engineering procedure shares: one request in (the device,
// what the information check learnt about its chip, the options of the
// engineering face), the host it reports through, a result out (1 success,
// 0 failure). A procedure never reaches into the form for more.
#pragma once

#include <cstdint>
#include <string>

#include "chip_rows.h"
#include "procedure_host.h"

namespace fwtool {

// What the information check found out about the selected unit.
struct ChipFacts {
  uint8_t type = 0;
  uint8_t subRev = 0;
  int32_t flashMaker = 0;   // flash maker code 0..10
  int32_t flashSizeKB = 0;  // detected flash size, 0 when not detected
  uint32_t altFlashProc = 0;
  int32_t chipRegValue = 0;
  int32_t amicFlashKind = -1;
  int32_t atmelFlashKind = -1;
  const ChipRow* row = &ChipRows[0];

  const ChipRow& Row() const { return *row; }
};

// The options of the engineering face, as the operator left them when
// "Run" was pressed.
struct EngineeringOptions {
  bool rdVersion = false;    // "RD Version"
  bool eraseOnly = false;    // "Erase All Flash Only "
  bool backupOnly = false;   // "Backup Old Firmware Only"
  bool includeNvram = true;  // "Include 4K NVRAM"
  bool hddFirmware = false;  // "VQS175 HDD FW "
  bool a1Chip = false;       // "A1 Chip"
  int flashTypeIndex = -1;   // "Flash Type": the parallel flash part, -1 = none chosen
  std::string firmwareFile;  // FwFilenameEdit
  std::string backupFile;    // BackupFileEdit
};

struct ProcedureRequest {
  std::string path;  // the selected device
  ChipFacts chip;
  EngineeringOptions options;
};

// Every procedure has this signature.
using Procedure = int (*)(const ProcedureRequest& request, ProcedureHost& host);

// The procedure behind a tag; null for ProcedureTag::None.
Procedure ProcedureFor(ProcedureTag tag);
// Its name ("RunFlashUpdate"); empty for ProcedureTag::None.
const char* ProcedureName(ProcedureTag tag);

// The procedures.
int RunFlashUpdate(const ProcedureRequest& request, ProcedureHost& host);
int RunBasicFlashUpdate(const ProcedureRequest& request, ProcedureHost& host);
int RunHeaderFlashUpdate(const ProcedureRequest& request, ProcedureHost& host);
int RunPagedFlashUpdate(const ProcedureRequest& request, ProcedureHost& host);
int RunStagedFlashUpdate(const ProcedureRequest& request, ProcedureHost& host);
int RunParallelFlashUpdate(const ProcedureRequest& request, ProcedureHost& host);
int Run1394Update(const ProcedureRequest& request, ProcedureHost& host);
int RunDiskHostedUpdate(const ProcedureRequest& request, ProcedureHost& host);
int RunVqs175DiskFirmwareUpdate(const ProcedureRequest& request, ProcedureHost& host);

}  // namespace fwtool
