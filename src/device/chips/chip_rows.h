// SPDX-License-Identifier: GPL-2.0-or-later
// One row per chip type code (0..21) with everything the program knows about
// that type: its model number and label, where its firmware image carries its
// signature and which chip id a firmware file of the type must carry, whether
// the image starts with the unit's 4 KB settings area, what kind of flash
// holds the firmware, how the information check finds the flash part, how
// the running version is printed and how the controller shows that it runs
// firmware from its flash.
//
// Behaviour keyed by one of the tags below goes through a `switch` with no
// `default`, so that a new tag value is a compiler warning wherever it is
// not handled yet. Which procedure "Run" starts is not a row fact: the Run
// dispatch rows decide it, in their order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace fwtool {

inline constexpr int kChipTypeCount = 22;  // codes 0..21
// The chip type code of a controller identification did not recognise.
inline constexpr int kUnrecognisedChip = 0;

// Where a firmware image of the type carries its signature block.
enum class SignatureKind : uint8_t {
  AtZero,             // a block at 0 without a magic test
  ZeroOrAfterHeader,  // 55 AA AA 55 at 0, or at 0x1000 behind the settings area
  Block80,            // E9 AC 67 32 block at 0x80
  Upper,              // 55 AA "VQ" block at 0x4000
  Bank,               // 64 KB banks with the signature at 0xBFF0
};

// Which chip id, read where the signature lies, makes a firmware file one
// for the type; `fileIdPrefix` and `fileIdsByRevision` of the row give the ids.
enum class FileIdRule : uint8_t {
  Never,              // no file is meant for the type
  Any,                // every file is taken
  BeginsWith,         // the id begins with the prefix
  DoesNotBeginWith,   // the id does not begin with the prefix
  PrefixAndRevision,  // the id is the prefix and the digit of sub-revision - 1, unless
                      // the sub-revision has an id of its own
  RevisionByte,       // byte 8 of the block, less '0' when not zero, is sub-revision - 1
  BlockOfRevision,    // the block is 55 AA AA 55 and the id of sub-revision 1 or 2
};

// What holds the controller's firmware.
enum class FlashKind : uint8_t {
  None,        // no firmware update for this type
  Serial,      // SPI flash reached through the controller's flash commands
  Parallel,    // 64 KB parallel flash of the kind the operator chooses
  DiskHosted,  // reserved sectors of the attached disk
  Ata,         // SPI flash reached through ATA PASS-THROUGH
};

// How the information check finds the flash part.
enum class FlashDetection : uint8_t {
  None,              // nothing to detect
  HostProbe,         // the host probes the part with the SPI identification instructions
  ControllerCode,    // the controller reports the maker code it detected at boot
  KindReads,         // AMIC and Atmel kind reads, then the controller's code
  AtaProbe,          // the host probes over ATA PASS-THROUGH
  ControllerInfo,    // the controller information tells whether firmware can be updated
  ChosenByOperator,  // parallel flash: the operator picks the part
};

// How the running firmware version is printed from the chip information.
enum class VersionFormat : uint8_t {
  Default,          // "%d.%.2d.%.2d" of bytes 12..14, or "%d.%.2d" of 6, 7 for short replies
  FiveNumbers,      // bytes 6, 7, 12, 13, 14
  Register506A,     // as FiveNumbers, byte 14 adjusted by register 0x506A and printed signed
  TenToFourteen,    // "%.2d" of bytes 10..14
  TwelveToFifteen,  // "%.2d" of bytes 12..15
  AtaInfo,          // asked again over ATA PASS-THROUGH, bytes 10..14
};

// Where a controller that runs firmware from its flash shows that firmware's
// signature block.
enum class RunningImageTest : uint8_t {
  NotTold,      // the type does not tell: it counts as running firmware from its flash
  MemoryBlock,  // the running image's block at memory 0xC000
  FlashBlock,   // a block at flash 0x1000, behind the settings area
  UpperBlock,   // 55 AA "VQ" at flash 0x4000, read by address
  Bank,         // the controller's own word, else bank 0's block
};

// Where the controller keeps the status word with its update-capable bit; the
// dual-bank chip keeps it elsewhere.
inline constexpr uint16_t kStatusWordAt = 0x7038;
inline constexpr uint16_t kBankChipStatusWordAt = 0x70F0;

// How a controller tells whether it runs firmware from its flash or only
// its internal code: the bit its boot code sets in the status word, the
// versions its internal code reports, and the chip ids (first characters)
// the running image's signature block carries.
struct RunningFirmwareRecord {
  RunningImageTest image = RunningImageTest::NotTold;
  uint16_t statusWord = kStatusWordAt;
  uint8_t statusByte = 2;
  uint8_t statusBit = 0;
  std::array<std::string_view, 5> internalVersions{};
  std::array<std::string_view, 2> imageIds{};
};

// What the controller is told once the information check has found an MXIC
// part that programs in 32-byte pages.
enum class MxicPageSetup : uint8_t {
  None,        // nothing: the controller's own opcodes stay
  PageSize,    // FF 04 25 with the page size
  Params,      // FF 04 0F with the opcodes and the page size / 4
  ParamsWide,  // FF 04 0F with the opcodes and a 16-bit page size
};

// How the erase-only and backup steps of the address-based procedures reach
// the whole flash (erase only always checks the size picked in the
// engineering face).
enum class WholeFlashAccess : uint8_t {
  Selected,  // the size picked in the engineering face, one read command
  Detected,  // the detected size, read block by block; erase only erases the chip first
  Ata,       // the detected size over ATA PASS-THROUGH
};

// How the controller tells that it runs firmware kept on its disk.
enum class DiskFirmwareSignal : uint8_t {
  RunningSignature,  // 55 AA in memory at 0xC000, where it shows the firmware it runs
  ControllerInfo,    // byte 16 of the controller information
  NotAsked,          // the disk copy is found without asking (type 12)
};

// Where on its disk a controller may keep its firmware: the sectors the
// disk-side procedures write, and the only ones.
enum class DiskFirmwarePlace : uint8_t {
  None,          // the controller keeps nothing on its disk
  ReservedArea,  // 256 sectors below the anchor the controller names
  BankRegion,    // 64 KB, 2 MB below the last 1 MB boundary of the disk
};

struct ChipRow {
  uint8_t type = 0;
  std::string_view model;  // three-digit chip model number, "" for type 0
  std::string_view label;  // text of the "Chip" field
  SignatureKind signature = SignatureKind::AtZero;
  // Firmware images of the type start with the unit's 4 KB settings area.
  bool headerArea = false;
  // The chip id a firmware file of the type carries; `fileIdsByRevision`
  // holds the ids of sub-revisions 1 and 2 where they have their own.
  FileIdRule fileIdRule = FileIdRule::Never;
  std::string_view fileIdPrefix{};
  std::array<std::string_view, 2> fileIdsByRevision{};
  FlashKind flash = FlashKind::None;
  // Member of the flash family that the Run dispatch treats together
  // (1, 3, 4, 6, 7, 8, 9, 10, 11, 12, 14, 16).
  bool flashFamily = false;
  // The engineering face offers "Include 4K NVRAM".
  bool nvramOption = false;
  // A tick in "Erase All Flash Only " or "VQS175 HDD FW " shows "Include 4K
  // NVRAM" again.
  bool nvramWithModeBoxes = false;
  // Erase-only and backup-only offer the "Firmware size" box: they work on
  // the flash size the operator picks.
  bool flashSizeOption = false;
  // Flash detection; `detectionFrom` (not 0) switches to `laterDetection`
  // from that sub-revision on; `detectionOver1394` applies when the
  // controller is reached over IEEE 1394.
  FlashDetection detection = FlashDetection::None;
  uint8_t detectionFrom = 0;
  FlashDetection laterDetection = FlashDetection::None;
  FlashDetection detectionOver1394 = FlashDetection::None;
  VersionFormat version = VersionFormat::Default;
  // Version text shown when the chip information cannot be read.
  std::string_view fallbackVersion = "01.00";
  RunningFirmwareRecord running{};
  // The chip-id string command (FF 04 30) refines the identification.
  bool refinedByIdString = false;
  // A target of the one-click update with the embedded image.
  bool oneClickTarget = false;
  // The controller wants the flash access set-up (FF 04 25) before the host
  // erases or programs its flash.
  bool flashAccessSetup = false;
  // After its flash was erased or rewritten the controller is restarted with
  // ResetDevice and attaches again by itself; the others wait for the
  // operator to power-cycle them.
  bool resetsAfterFlashUpdate = false;
  // The controller answers the flash opcode and page-size commands with two
  // bytes (the host's own flash probe).
  bool setupEcho = false;
  // What an MXIC part with 32-byte pages makes the information check tell
  // the controller.
  MxicPageSetup mxicSetup = MxicPageSetup::None;
  // From this sub-revision on, a controller that reports its flash maker
  // code is also probed by the host when it reports none, and is told the
  // parameters of MXIC parts; unset: never.
  std::optional<uint8_t> hostProbeFrom = std::nullopt;
  WholeFlashAccess wholeFlash = WholeFlashAccess::Selected;
  // Every firmware file of the type brings its own header area; the
  // procedures need not look for it.
  bool headerAreaAlways = false;
  DiskFirmwareSignal diskFirmwareSignal = DiskFirmwareSignal::RunningSignature;
  DiskFirmwarePlace diskPlace = DiskFirmwarePlace::None;
  // Identification never tells this type: its controller identifies as the
  // type named here, and only the operator can say which of the two it is
  // (unset: identification tells the type).
  std::optional<uint8_t> identifiedAs = std::nullopt;
};

// Row n describes chip type n.
extern const std::array<ChipRow, kChipTypeCount> ChipRows;

// The row of a chip type; row 0 (not recognised) for codes outside 0..21.
const ChipRow& ChipRowFor(int chipType);
// The row of the chip types the one-click update serves (the first of them).
const ChipRow& OneClickTargetRow();

// The lowest chip type 1..21 whose model number equals the first three
// characters of `model`; 0 when none does (or `model` is shorter than 3).
// Several model numbers repeat, so types 9, 13, 16, 17, 19, 20 and 21 are
// never found by number.
int FindChipModel(std::string_view model);
// True when chip type `chipType` (1..21) has a model number equal to the first
// three characters of `chipId`. Types outside 1..21 have no model number and
// never match.
bool ChipIdMatchesModel(int chipType, std::string_view chipId);
// The model number of a chip type; empty outside 1..21.
std::string_view ChipModel(int chipType);
// The label of a chip type; "Unknown Chip" outside 0..21.
std::string_view ChipLabel(int chipType);

// The detection that applies to a unit of the row's type with this
// sub-revision, reached over IEEE 1394 or not.
FlashDetection DetectionFor(const ChipRow& row, int subRev, bool over1394);

// True when a device path names a device behind IEEE 1394 (SBP-2).
bool PathIsOn1394(std::string_view path);

}  // namespace fwtool
