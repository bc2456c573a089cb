// SPDX-License-Identifier: GPL-2.0-or-later
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

#include "procedure.h"

namespace fwtool {

// The sizes behind the items of "Firmware size" (FwSizeCheck) and
// "Flash PgSz" (FwPgSizeCheck), in bytes.
inline constexpr std::array<int32_t, 6> kFlashSizeTable = {32768,  65536,  131072,
                                                           262144, 524288, 1048576};
inline constexpr std::array<int32_t, 5> kBlockSizeTable = {32768, 16384, 8192, 4096, 2048};

// The operator's word on what a unit is, where identification cannot tell:
// a type-13 controller identifies as type 10, whose model number it shares.
// While a type is said, every unit that identifies as the type it is taken
// for (its chip row's `identifiedAs`) is checked and run as the type said;
// other units as they identify. Unset: every unit as it identifies.
struct ChipTypeRequest {
  std::optional<int> chipType = std::nullopt;
};

// "Run" with its options, as the operator sets them in the engineering face
// before pressing it. A field left unset leaves its control as it is.
struct RunRequest {
  // "Erase All Flash Only " and "Backup Old Firmware Only": at most one.
  enum class Mode { Program, EraseOnly, BackupOnly };

  // "Firmware size" and "Flash PgSz": sizes of kFlashSizeTable and
  // kBlockSizeTable, picked as their items.
  std::optional<int32_t> flashSize = std::nullopt;
  std::optional<int32_t> transferBlockSize = std::nullopt;
  // "Flash Type": the item of the parallel flash part.
  std::optional<int> flashType = std::nullopt;
  bool a1Chip = false;                              // "A1 Chip"
  bool hddFirmware = false;                         // "VQS175 HDD FW "
  std::optional<bool> includeNvram = std::nullopt;  // "Include 4K NVRAM"
  Mode mode = Mode::Program;
  // "Check CheckSum": the file's sum is tested as it is loaded.
  bool checkSum = false;
  // The files as chosen with "Browse" and "Load File"; empty: the field as
  // it is.
  std::string backupFile = {};
  std::string firmwareFile = {};
  // Sectors of the disk's user that a disk-hosted procedure would write
  // (inside the capacity the host is shown, holding neither zeros nor a
  // firmware copy): true overwrites them, false keeps them and writes
  // nothing; unset asks the operator in a Yes/No box that names them.
  std::optional<bool> overwriteDiskData = std::nullopt;
  // A firmware file that does not match the unit's chip: true programs it
  // all the same, false refuses the run; unset asks the operator in a
  // Yes/No box (No by default) that names the file and the chip.
  std::optional<bool> otherChipFile = std::nullopt;
};

// What the last "Run" did.
struct RunOutcome {
  int row = -1;  // the dispatch row that decided, -1 when nothing was selected
  ProcedureTag procedure = ProcedureTag::None;
  bool ran = false;  // a procedure ran
  int result = 0;    // its result: 1 success, 0 failure
  // The file does not match the chip and the operator did not want it
  // written: nothing ran.
  bool otherChipFileRefused = false;
  // The procedure stopped before it wrote anything to the unit.
  bool nothingWritten = false;
  // The backup of this run: the copy of the unit's whole part taken before
  // a run that writes, or the file a backup-only run saved; empty when none
  // (a run that writes and has none did not run its procedure).
  std::string backupFile = {};
};

// "YES": the one-click update of the selected unit with the embedded image.
struct UpdateRequest {
  // Where the unit's flash is saved before anything is written; empty: a
  // new file in the default backup folder.
  std::string backupFile = {};
};

// A backup of the selected unit's whole part written back into it, with
// what the unit's part needs besides: the parallel part's kind (an item of
// "Flash Type"), the A1 member, type 12's copy on its disk.
struct RestoreRequest {
  std::span<const uint8_t> backup = {};
  std::optional<int> flashType = {};
  bool a1Chip = false;
  bool hddFirmware = false;
  std::string fileName = {};  // where the backup was read from, for the history
};

}  // namespace fwtool
