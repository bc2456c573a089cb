// What a face asks of the form: one typed request per thing the operator
// does, and what came of it. The windows build them from their controls in
// the click handlers; the command line builds them from its arguments. Each
// goes to the entry of the same name on TV77xFwTool, which sets the controls
// as the operator's clicks would.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "chip_rows.h"

namespace fwtool {

// The sizes behind the items of "Firmware size" (FwSizeCheck) and
// "Flash PgSz" (FwPgSizeCheck), in bytes.
inline constexpr std::array<int32_t, 6> kFlashSizeTable = {32768,  65536,  131072,
                                                           262144, 524288, 1048576};
inline constexpr std::array<int32_t, 5> kBlockSizeTable = {32768, 16384, 8192, 4096, 2048};

// "Run" with its options, as the operator sets them in the engineering face
// before pressing it. A field left unset leaves its control as it is.
struct RunRequest {
  // "Erase All Flash Only " and "Backup Old Firmware Only": at most one.
  enum class Mode { Program, EraseOnly, BackupOnly };

  std::optional<int32_t> flashSize;          // "Firmware size": one of kFlashSizeTable
  std::optional<int32_t> transferBlockSize;  // "Flash PgSz": one of kBlockSizeTable
  std::optional<int> flashType;              // "Flash Type": the item of the parallel part
  bool a1Chip = false;                       // "A1 Chip"
  bool hddFirmware = false;                  // "VQS175 HDD FW "
  std::optional<bool> includeNvram;          // "Include 4K NVRAM"
  Mode mode = Mode::Program;
  bool checkSum = false;     // "Check CheckSum": the file's sum is tested as it is loaded
  std::string backupFile;    // chosen with "Browse"; empty: the field as it is
  std::string firmwareFile;  // chosen with "Load File"; empty: the field as it is
};

// What the last "Run" did.
struct RunOutcome {
  int row = -1;  // the dispatch row that decided, -1 when nothing was selected
  ProcedureTag procedure = ProcedureTag::None;
  bool ran = false;        // a procedure ran
  int result = 0;          // its result: 1 success, 0 failure
  std::string backupFile;  // the backup the procedure saved, empty when none
};

// "YES": the one-click update of the selected unit with the embedded image.
struct UpdateRequest {
  // Where the unit's flash is saved before anything is written; empty: a
  // new file in the default backup folder.
  std::string backupFile;
};

// A backup of the whole flash written back into the selected unit.
struct RestoreRequest {
  std::span<const uint8_t> backup;
};

}  // namespace fwtool
