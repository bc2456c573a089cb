// SPDX-License-Identifier: GPL-2.0-or-later
// The short text that describes a farm of simulated units, for tests, demos
// and `fwtool --simulate`:
//
//   description := unit ("," unit)*
//   unit        := item (":" item)*
//   item        := chip-name | key | key "=" value
//
// e.g. "vqb719", "vqb719:maker=winbond:fw=embedded",
// "chip=11:rev=5,vqb717:bus=sbp2:cdrom", "vqb719:bit-error:vanish=40",
// "vqs175:bank=bad1" (a dual-bank unit whose second bank was left half
// written), "vq64765:reg=207", "vq64779:parallel=pmc:a1",
// "vqb145:disk=500G:sector=4096" (firmware kept on a 500 GB disk),
// "vqb145:fw=blank:disk=1000000s:partition" (a disk with the user's data),
// "vqb145:disk=3T:capacity=fail",
// "vqb719:size=512:slow:status-lost=12:read-flip=30:power-loss=4".
// docs/simulator.md ("Grammar") lists every key.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "faults.h"
#include "parallel_flash.h"

namespace fwtool::sim {

enum class FirmwareSource {
  Older,     // an older firmware of the chip with the unit's own settings
  Embedded,  // exactly the bundled image file
  Blank,     // erased flash: the controller runs its internal code
  File,      // the bytes of a file
};

enum class BusKind { Usb, Sbp2 };

struct UnitConfig {
  std::string text;      // the unit's part of the description
  std::string chipName;  // "vqb719", "vqb711", ... (empty: by number)
  int chipType = 0;
  std::optional<int> subRev;        // the chip's usual revision when unset
  std::optional<uint8_t> maker;     // flash maker code; the chip's default when unset
  std::optional<uint32_t> flashKB;  // flash size; the chip's default when unset
  std::vector<uint8_t> jedecId;     // 0x9F answer instead of the part's own
  FirmwareSource firmware = FirmwareSource::Older;
  std::string firmwareFile;
  std::optional<std::array<uint8_t, 6>> olderVersion;
  std::string serial;  // empty: one derived from the unit's number
  BusKind bus = BusKind::Usb;
  bool cdrom = false;
  std::optional<bool> protect;  // the part's block protection at power-up
  // Banks of a dual-bank flash (type 12) whose image is spoiled: bank=bad0,
  // bank=bad1, bank=bad (both).
  std::array<bool, 2> badBanks{};
  // Byte 8 of the controller information (FF 04 A0): the register value
  // from which a disk-hosted chip takes firmware; the chip's own when unset.
  std::optional<uint8_t> regValue;
  // Units with a parallel flash (types 2 and 21): the part fitted
  // (parallel=atmel|pmc|sst; sst when unset), and the A1 member (a1).
  std::optional<ParallelPartKind> parallelPart;
  bool a1Chip = false;
  // The disk behind the bridge: disk=SIZE (bytes with K, M, G or T, powers
  // of 1024, or sectors with "s"), sector=BYTES (512 when unset),
  // visible=SECTORS (what the host is shown while the unit runs firmware
  // from the disk; by default everything before the reserved stretch), and
  // flag17 (the controller starts the stretch one sector later).
  std::optional<uint64_t> diskBytes;
  std::optional<uint64_t> diskSectors;
  uint32_t sectorSize = 512;
  std::optional<uint64_t> visibleSectors;
  bool flag17 = false;
  // partition: the disk carries a user's data, an MBR partition table with
  // one partition from sector 2048 to the last sector the host is shown,
  // whose sectors hold a pattern made from their numbers.
  bool partition = false;
  FaultPlan faults;
};

// Parses a description; nullopt with a reason in `error` (which names the
// unit and the item at fault).
std::optional<std::vector<UnitConfig>> ParseFarmDescription(std::string_view text,
                                                            std::string* error);

}  // namespace fwtool::sim
