// SPDX-License-Identifier: GPL-2.0-or-later
// What one simulated controller answers: identification data, the command
// families it knows, its registers and what its boot code looks for in
// flash. A profile is its type's row (type_rows.h) with the sub-revision put
// where the chip reports it, chosen so that the program's identification
// arrives at that type and sub-revision.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parallel_flash.h"
#include "type_rows.h"

namespace fwtool::sim {

struct ChipProfile {
  int type = 0;
  int subRev = 0;
  std::string name;   // short lower-case name: "vqb719"
  std::string label;  // "VQB711/719 Series"
  std::string model;  // three digits: "719"

  // INQUIRY bytes 36..39; empty when the chip carries no token.
  std::string inquiryToken;
  std::array<uint8_t, 2> configWord{};
  ChipInfoKind chipInfo = ChipInfoKind::Signed;
  uint16_t usbVendorId = 0;
  uint16_t usbProductId = 0;
  uint8_t chipInfoRevision = '0';  // reply byte 11
  uint8_t chipInfoLength = 16;     // bytes the reply carries
  // FF 04 30 reply bytes 0..4 (4 or 5 characters) and byte 5; empty when the
  // chip does not know the command.
  std::string idToken;
  uint8_t idRevision = 0;

  uint32_t families = 0;
  bool Has(Family family) const { return (families & family) != 0; }

  uint8_t revisionRegister = 0xA0;  // memory 0xFDB0 byte 1
  bool flag505E = false;            // memory 0x505E reads xx 00 01 xx
  bool register506AReadsOne = false;
  // The update-capability bit the boot code sets when it runs the firmware
  // from flash.
  uint16_t statusWordAddress = 0x7038;
  int statusWordByte = 2;
  uint8_t statusWordBit = 0x01;
  uint8_t controllerInfoValue = 0x40;  // FF 04 A0 reply byte 8

  // Version the internal code reports when the flash holds no firmware of
  // this chip (reply bytes 6, 7, 12..15).
  std::array<uint8_t, 6> romVersion{};
  // Chip ids the boot code accepts at the image place (compared from byte 4
  // of the signature block, over each id's length).
  std::vector<std::string> firmwareIds;
  ImagePlace imagePlace = ImagePlace::Start;

  // The controller finds its flash part and opcodes by itself at boot; the
  // others use the default opcodes until the host sets them.
  bool detectsFlash = true;
  // Small-unit erase size of the flash write, when it is not the maker's.
  uint32_t smallEraseOverride = 0;
  // The controller write-protects an MXIC part at every boot; bit 7 of the
  // flash-write mode lifts the protection.
  bool protectsMxicAtBoot = false;
  bool wideFlashParams = false;  // FF 04 0F with a 16-bit page size
  // Units with a parallel flash: the part fitted, and whether the controller
  // is the A1 member, which has no internal code to switch to (it refuses
  // FF 04 05).
  ParallelPartKind parallelPart = ParallelPartKind::Sst;
  bool refusesRomSwitch = false;
  // A 1 KB settings area of the unit's own at this flash address (0: none).
  uint32_t nvram1KAddress = 0;

  // The controller boots its firmware from the reserved stretch of its disk.
  bool firmwareOnDisk = false;
  // A unit without a flash part keeps its firmware on its disk.
  bool diskFirmwareWithoutFlash = false;

  // The chip id in the signature block of the older firmware, and whether
  // byte 8 of that block carries the sub-revision.
  OlderImageId olderImageId = OlderImageId::ModelAndZero;
  std::string olderImageIdText;
  bool revisionInImageBlock = false;

  uint32_t defaultFlashKB = 64;
  uint8_t defaultMaker = 5;

  // What the program's identification concludes for this controller.
  int reportsType = 0;
  int reportsSubRev = 0;
  // Identification shows its "Get chip information fail !" box (type 7
  // without a revision "1" or "2").
  bool identificationShowsBox = false;

  // INQUIRY product text (16 characters at most).
  std::string ProductText() const;
};

// The profile of a chip type 1..21 with a sub-revision 0..255. Types 9 and
// 13, which identification never returns, report like 8 and like 10.
ChipProfile ChipProfileFor(int type, int subRev = 0);
// By short name ("vqb719", "vqs118", ...; "vqb711" is the type-8 member that
// carries the INQUIRY token "v711"); nullopt for an unknown name.
std::optional<ChipProfile> ChipProfileForName(std::string_view name, int subRev = 0);
// The chip type a short name stands for.
std::optional<int> ChipTypeFromName(std::string_view name);
// The sub-revision a unit of the type has when its description names none
// (1 for type 7, whose identification needs "1" or "2"; else 0).
int DefaultSubRevision(int type);
// Type and sub-revision pairs that between them exercise every
// identification rule.
std::vector<std::pair<int, int>> ChipVariants();

// Version bytes of the older firmware a unit carries when its description
// does not name one.
std::array<uint8_t, 6> OlderFirmwareVersion(int type);

}  // namespace fwtool::sim
