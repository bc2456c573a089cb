// One row per chip type code (0..21) with everything the program knows about
// that type: its model number and label, the bus it is reached over, where
// its firmware image carries its signature, whether the image starts with
// the unit's 4 KB settings area, what kind of flash holds the firmware, how
// the information check finds the flash part, how the running version is
// printed, and which update procedure serves it.
//
// Behaviour keyed by one of the tags below goes through a `switch` with no
// `default`, so that a new tag value is a compiler warning wherever it is
// not handled yet.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace fwtool {

// How the host reaches the controller.
enum class ChipBus : uint8_t {
  None,       // type 0: not recognised
  Usb,        // USB mass storage
  UsbOr1394,  // the same chip behind USB or IEEE 1394 (SBP-2)
};

// Where a firmware image of the type carries its signature block.
enum class SignatureKind : uint8_t {
  AtZero,             // a block at 0 without a magic test
  ZeroOrAfterHeader,  // 55 AA AA 55 at 0, or at 0x1000 behind the settings area
  Block80,            // E9 AC 67 32 block at 0x80
  Upper,              // 55 AA "VQ" block at 0x4000
  Bank,               // 64 KB banks with the signature at 0xBFF0
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

// The update procedure that "Run" normally chooses for the type (the Run
// dispatch rows refine it by flash maker, options and path).
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

struct ChipRow {
  uint8_t type = 0;
  std::string_view model;  // three-digit chip model number, "" for type 0
  std::string_view label;  // text of the "Chip" field
  ChipBus bus = ChipBus::None;
  SignatureKind signature = SignatureKind::AtZero;
  // Firmware images of the type start with the unit's 4 KB settings area.
  bool headerArea = false;
  FlashKind flash = FlashKind::None;
  // The type can also keep its firmware on the attached disk (chosen when no
  // flash part is found, or by the operator for type 12).
  bool diskHostedToo = false;
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
  // The chip-id string command (FF 04 30) refines the identification.
  bool refinedByIdString = false;
  // A target of the one-click update with the embedded image.
  bool oneClickTarget = false;
  ProcedureTag procedure = ProcedureTag::None;
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
};

inline constexpr int kChipRowCount = 22;

// Row n describes chip type n.
extern const std::array<ChipRow, kChipRowCount> ChipRows;

// The row of a chip type; row 0 (not recognised) for codes outside 0..21.
const ChipRow& ChipRowFor(int chipType);

// The detection that applies to a unit of the row's type with this
// sub-revision, reached over IEEE 1394 or not.
FlashDetection DetectionFor(const ChipRow& row, int subRev, bool over1394);

// True when a device path names a device behind IEEE 1394 (SBP-2).
bool PathIsOn1394(std::string_view path);

}  // namespace fwtool
