// SPDX-License-Identifier: GPL-2.0-or-later
#include "chip_profile.h"

#include <cctype>

namespace fwtool::sim {

namespace {

// The family's USB vendor id.
constexpr uint16_t kVendorId = 0x3A41;

uint16_t ProductIdFor(const std::string& model) {
  // The model digits as BCD: "719" -> 0x0719.
  uint16_t id = 0;
  for (char c : model) id = static_cast<uint16_t>((id << 4) | (c - '0'));
  return id;
}

std::string Lower(std::string_view text) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Puts the sub-revision where the chip reports it, and notes what the
// identification makes of the result.
void ApplySubRevision(ChipProfile& p, const TypeRow& row) {
  const int r = p.subRev;
  const auto tokenRevision = static_cast<uint8_t>(0x2F + r);  // "0" stands for 1
  const auto digit = static_cast<uint8_t>('0' + r);
  p.reportsType = row.reportsType.value_or(row.type);
  p.reportsSubRev = r;
  switch (row.revision) {
    case RevisionReport::NotReported:
      p.reportsSubRev = 0;
      break;
    case RevisionReport::TokenDropped:
      if (r != 0) {
        p.inquiryToken.clear();
        p.chipInfo = ChipInfoKind::Signed;
        p.chipInfoRevision = digit;
      }
      break;
    case RevisionReport::ChipInfoDigit:
      p.chipInfoRevision = digit;
      break;
    case RevisionReport::ChipInfoRegister:
      p.chipInfoRevision = digit;
      p.revisionRegister = r == 5 ? 0xB4 : static_cast<uint8_t>(0xA0 + (r & 0x0F));
      p.flag505E = r >= 2;
      break;
    case RevisionReport::ChipInfoOneOrTwo:
      p.chipInfoRevision = digit;
      if (r != 1 && r != 2) {
        p.reportsSubRev = 0;
        p.identificationShowsBox = true;
      }
      break;
    case RevisionReport::IdToken:
      if (r != 0) {
        p.idToken = std::string(row.revisionToken);
        p.idRevision = tokenRevision;
      }
      break;
    case RevisionReport::IdTokenFirstZero:
      if (r != 0) {
        p.idToken = std::string(row.revisionToken);
        p.idRevision = r == 1 ? 0 : tokenRevision;
      }
      break;
    case RevisionReport::IdTokenAlways:
      p.idToken = std::string(r == 0 ? row.earlyToken : row.revisionToken);
      p.idRevision = r == 0 ? '0' : tokenRevision;
      break;
    case RevisionReport::IdTokenRawByte:
      p.idToken = std::string(row.revisionToken);
      p.idRevision = static_cast<uint8_t>(r - 1);
      break;
  }
  if (row.hostDetectsFlashFrom) {
    if (r >= *row.hostDetectsFlashFrom) {
      p.families |= kFamilyFlashOpcodes;
      p.detectsFlash = false;
    } else {
      p.families |= kFamilyFlashMakerCode;
    }
  }
}

}  // namespace

std::string ChipProfile::ProductText() const {
  std::string text;
  for (char c : name) text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  text += " Bridge";
  if (text.size() > 16) text.resize(16);
  return text;
}

ChipProfile ChipProfileFor(int type, int subRev) {
  ChipProfile p;
  const TypeRow* row = TypeRowFor(type);
  if (row == nullptr) return p;  // type 0: nothing known
  p.type = type;
  p.subRev = subRev & 0xFF;
  p.name = row->name;
  p.label = row->label;
  p.model = row->model;
  p.inquiryToken = row->inquiryToken;
  p.configWord = row->configWord;
  p.chipInfo = row->chipInfo;
  p.usbVendorId = row->usbVendorId.value_or(kVendorId);
  p.usbProductId = row->usbProductId.value_or(ProductIdFor(p.model));
  p.chipInfoLength = row->chipInfoLength;
  p.families = row->families;
  p.statusWordAddress = row->statusWordAddress;
  p.statusWordByte = row->statusWordByte;
  p.statusWordBit = row->statusWordBit;
  p.register506AReadsOne = row->register506AReadsOne;
  p.controllerInfoValue = row->controllerInfoValue;
  p.romVersion = row->romVersion;
  for (std::string_view id : row->firmwareIds)
    if (!id.empty()) p.firmwareIds.emplace_back(id);
  if (p.firmwareIds.empty()) p.firmwareIds = {p.model};
  p.imagePlace = row->place;
  p.detectsFlash = row->detectsFlash;
  p.smallEraseOverride = row->smallEraseOverride;
  p.protectsMxicAtBoot = row->protectsMxicAtBoot;
  p.wideFlashParams = row->wideFlashParams;
  p.nvram1KAddress = row->nvram1KAddress;
  p.firmwareOnDisk = row->firmwareOnDisk;
  p.diskFirmwareWithoutFlash = row->diskFirmwareWithoutFlash;
  p.defaultFlashKB = row->defaultFlashKB;
  p.olderImageId = row->olderImageId;
  p.olderImageIdText = row->olderImageIdText;
  p.revisionInImageBlock = row->revisionInImageBlock;
  ApplySubRevision(p, *row);
  return p;
}

std::optional<int> ChipTypeFromName(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == "vqb711") return 8;
  // Types 8 and 9 share a name: the first row, 8, answers.
  for (const TypeRow& row : TypeRows())
    if (lower == row.name) return row.type;
  return std::nullopt;
}

std::optional<ChipProfile> ChipProfileForName(std::string_view name, int subRev) {
  const auto type = ChipTypeFromName(name);
  if (!type) return std::nullopt;
  ChipProfile profile = ChipProfileFor(*type, subRev);
  if (Lower(name) == "vqb711") {
    // The VQB711 carries "v711" in its INQUIRY data and "711" in its chip id.
    profile.name = "vqb711";
    profile.model = "711";
    profile.usbProductId = 0x0711;
    if (profile.subRev == 0) profile.inquiryToken = "v711";
  }
  return profile;
}

int DefaultSubRevision(int type) {
  const TypeRow* row = TypeRowFor(type);
  return row != nullptr ? row->defaultSubRev : 0;
}

std::vector<std::pair<int, int>> ChipVariants() {
  return {{1, 0},  {1, 1},  {1, 3},  {2, 0},  {2, 2},  {3, 0},  {3, 4},  {4, 0},  {4, 1},
          {4, 3},  {5, 0},  {5, 1},  {6, 0},  {6, 1},  {6, 3},  {7, 0},  {7, 1},  {7, 2},
          {8, 0},  {8, 3},  {9, 0},  {9, 1},  {10, 0}, {10, 2}, {11, 0}, {11, 3}, {11, 5},
          {12, 0}, {12, 1}, {13, 0}, {13, 2}, {14, 0}, {14, 2}, {14, 3}, {15, 0}, {15, 2},
          {16, 0}, {16, 1}, {16, 4}, {17, 0}, {18, 0}, {18, 2}, {19, 0}, {20, 0}, {21, 0}};
}

std::array<uint8_t, 6> OlderFirmwareVersion(int type) {
  const TypeRow* row = TypeRowFor(type);
  return row != nullptr ? row->olderVersion : TypeRow{}.olderVersion;
}

}  // namespace fwtool::sim
