// SPDX-License-Identifier: GPL-2.0-or-later
// Everything the simulator knows about one chip type of the family, in one
// row: its names, how it answers identification and where it reports its
// sub-revision, the command families it knows, its registers, what its boot
// code looks for in flash and the firmware a unit leaves the factory with.
// These rows are the simulator's own: the program keeps its facts apart, so
// that a test that runs the program against the simulator compares two
// independent accounts of the same chips.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace fwtool::sim {

// Command families; a controller rejects blocks of a family it lacks as an
// unknown command.
enum Family : uint32_t {
  kFamilyConfigWord = 1u << 0,       // DF .. FF: configuration word
  kFamilyChipInfo = 1u << 1,         // E0 F4 E7: chip information
  kFamilyChipIdString = 1u << 2,     // FF 04 30: chip id string
  kFamilyMemory = 1u << 3,           // DF .. FD / FE: controller memory
  kFamilyDfFlash = 1u << 4,          // DF .. FA / FB: flash read and write
  kFamilyFlashStatus = 1u << 5,      // FF 04 12
  kFamilyFlashAt = 1u << 6,          // FF 04 10 / 11 / 13 / 14
  kFamilySpi = 1u << 7,              // FF 04 20 / 21 / 22 / 15: SPI pass-through
  kFamilyFlashMakerCode = 1u << 8,   // FF 04 23
  kFamilyFlashOpcodes = 1u << 9,     // FF 04 24, FF 04 25 (data-in)
  kFamilyFlashParams = 1u << 10,     // FF 04 0F, FF 04 25 (data-out)
  kFamilyControllerInfo = 1u << 11,  // FF 04 A0
  kFamilyHostLink = 1u << 12,        // FF 04 56
  kFamilyReset = 1u << 13,           // FF 04 26
  kFamilyAta = 1u << 14,             // A1 / 85: ATA PASS-THROUGH, vendor features under B0
  kFamilyParallelFlash = 1u << 15,   // FF 04 00..05: parallel flash driven by host scripts
};

enum class ChipInfoKind {
  None,      // E0 blocks are unknown commands
  Signed,    // the reply opens with F4 E7
  Unsigned,  // the oldest chips answer E0 blocks with data that carries no signature
};

// Where the boot code looks for the firmware in flash.
enum class ImagePlace {
  Start,          // signature block at 0
  HeaderOrStart,  // at 0, or at 0x1000 behind a 4 KB header area
  At0x80,         // E9 AC 67 32 block at 0x80
  At0x4000,       // 55 AA "VQ" block at 0x4000
  Banks,          // 64 KB banks with the signature at 0xBFF0 and a CRC-16
};

// Where a controller reports its sub-revision (0 when the unit has none).
enum class RevisionReport : uint8_t {
  NotReported,       // nowhere: identification finds none
  TokenDropped,      // later revisions carry no INQUIRY token and give their digit in byte
                     // 11 of the chip information, which then opens with F4 E7
  ChipInfoDigit,     // the digit in byte 11 of the chip information
  ChipInfoRegister,  // as ChipInfoDigit; the revision register at 0xFDB0 follows (B4 for
                     // revision 5) and memory 0x505E holds its flag from revision 2
  ChipInfoOneOrTwo,  // the digit of the 12-byte chip information; a revision other than 1
                     // or 2 makes identification show its box and find none
  IdToken,           // later revisions answer FF 04 30 with `revisionToken` and "0" for 1,
                     // "1" for 2, ...
  IdTokenFirstZero,  // as IdToken, revision 1 answering 0
  IdTokenAlways,     // as IdToken; revision 0 answers `earlyToken` with "0"
  IdTokenRawByte,    // `revisionToken` with the revision less one as a number
};

// The chip id in the signature block of a unit's older firmware.
enum class OlderImageId : uint8_t {
  ModelAndZero,        // the model number and "0"
  ModelAndRevision,    // revision 1 the second accepted id; later ones the model number and
                       // the digit of revision - 1; revision 0 the model number and "0"
  AcceptedOfRevision,  // the second accepted id for revision 2, else the first
  Named,               // `olderImageIdText`
};

struct TypeRow {
  int type = 0;
  std::string_view name;   // short lower-case name: "vqb719"
  std::string_view label;  // "VQB711/719 Series"
  std::string_view model;  // three digits: "719"

  // Identification.
  std::string_view inquiryToken{};  // INQUIRY bytes 36..39 of revision 0; "" for none
  uint32_t families = 0;
  uint8_t chipInfoLength = 16;
  ChipInfoKind chipInfo = ChipInfoKind::Signed;
  std::array<uint8_t, 2> configWord = {0x01, 0x00};
  std::optional<uint16_t> usbVendorId{};   // unset: the family's vendor id
  std::optional<uint16_t> usbProductId{};  // unset: the model digits as BCD
  RevisionReport revision = RevisionReport::NotReported;
  std::string_view revisionToken{};
  std::string_view earlyToken{};
  int defaultSubRev = 0;  // of a unit whose description names none
  // The type identification makes of this chip when not its own.
  std::optional<int> reportsType{};
  // From this revision on the host detects the flash and sets the opcodes;
  // before it the controller reports its maker code. Unset: the families
  // above say.
  std::optional<int> hostDetectsFlashFrom{};

  // Registers and boot code.
  uint16_t statusWordAddress = 0x7038;
  int statusWordByte = 2;
  uint8_t statusWordBit = 0x01;
  bool register506AReadsOne = false;
  uint8_t controllerInfoValue = 0x40;  // FF 04 A0 reply byte 8
  std::array<uint8_t, 6> romVersion = {1, 0, 1, 0, 0, 0};
  // Chip ids the boot code accepts at the image place; "" entries unused,
  // none at all: the model number.
  std::array<std::string_view, 2> firmwareIds{};
  ImagePlace place = ImagePlace::Start;
  bool detectsFlash = true;
  uint32_t smallEraseOverride = 0;
  bool protectsMxicAtBoot = false;
  bool wideFlashParams = false;
  uint32_t nvram1KAddress = 0;
  bool firmwareOnDisk = false;
  // A unit without a flash part keeps its firmware on its disk.
  bool diskFirmwareWithoutFlash = false;
  uint32_t defaultFlashKB = 64;

  // The older firmware a unit leaves the factory with.
  std::array<uint8_t, 6> olderVersion = {2, 1, 3, 1, 5, 0};
  OlderImageId olderImageId = OlderImageId::ModelAndZero;
  std::string_view olderImageIdText{};
  // Byte 8 of its signature block carries '0' + revision - 1.
  bool revisionInImageBlock = false;
};

// The rows of types 1..21, in order of type.
std::span<const TypeRow> TypeRows();
// The row of a type; null for 0 and codes outside 1..21.
const TypeRow* TypeRowFor(int type);

}  // namespace fwtool::sim
