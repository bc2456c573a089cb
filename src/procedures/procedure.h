// SPDX-License-Identifier: GPL-2.0-or-later
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

// The update procedures, as the Run dispatch rows name them.
enum class ProcedureTag : uint8_t {
  None,
  Basic,           // flash commands by address, family types
  HeaderHandling,  // 16 KB pages, 32 KB units, the settings area kept
  Parallel,        // 64 KB parallel flash
  SerialFlash,     // types 8, 9, 11, 12
  Ieee1394,        // type 7 over SBP-2
  DiskHosted,      // firmware on the attached disk (5, 15, 16)
  Paged,           // explicit erases, page programming over SPI
  Vqs175Disk,      // type 12's copy on its disk
  Staged,          // type 13 over ATA PASS-THROUGH
};

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

// What a disk-hosted step does when the sectors it would write hold data
// of the disk's user: asks the operator in a Yes/No box that names them,
// overwrites them (the operator said so before the run), or keeps them.
enum class DiskDataChoice : uint8_t { Ask, Overwrite, Keep };

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
  DiskDataChoice diskData = DiskDataChoice::Ask;
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

// What a procedure may destroy, taken as one piece: the whole part, reached
// through the procedure's own family of commands. A run saves it before it
// writes, and `fwtool restore` puts such a copy back the same way.
enum class WholePart : uint8_t {
  None,        // no procedure: nothing is written
  FlashRange,  // serial flash through the controller's flash commands (DF FA/FB)
  FlashAt,     // serial flash by address (FF 04 10, 11, 13, 14)
  FlashPages,  // by address, programmed through the serial-flash sequence
  Flash1394,   // 64 KB in 256-byte blocks over IEEE 1394
  Parallel,    // the 64 KB parallel part, written with the chosen kind's scripts
  AtaFlash,    // serial flash over ATA PASS-THROUGH
  DiskArea,    // the 256-sector firmware area on the attached disk
  DiskRegion,  // type 12's 64 KB region on its disk
};
WholePart WholePartFor(ProcedureTag tag);

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
