#include "chip_profile.h"

#include <algorithm>
#include <cctype>

namespace fwtool::sim {

namespace {

constexpr uint32_t kOldFlash = kFamilyFlashStatus | kFamilyFlashAt | kFamilySpi;
constexpr uint32_t kIdentify = kFamilyConfigWord | kFamilyChipInfo;

struct TypeRow {
  int type;
  const char* name;
  const char* label;
  const char* model;
  const char* inquiryToken;  // for sub-revision 0
  uint32_t families;
  uint8_t chipInfoLength;
  ImagePlace place;
};

// Chip id tokens stand in INQUIRY bytes 36..39 on the chips that carry one;
// the others are told apart by their chip information.
constexpr TypeRow kRows[] = {
    {1, "vq64771", "VQ64771 Series", "771", "v771", kIdentify | kOldFlash | kFamilyFlashMakerCode,
     12, ImagePlace::Start},
    {2, "vq64779", "VQ64779 Series", "779", "v779", kIdentify, 12, ImagePlace::Start},
    {3, "vq64773", "VQ64773 Series", "773", "v773", kIdentify | kOldFlash | kFamilyFlashMakerCode,
     12, ImagePlace::Start},
    {4, "vq64775", "VQ64775 Series", "775", "v775",
     kIdentify | kOldFlash | kFamilyFlashMakerCode | kFamilyMemory, 12, ImagePlace::Start},
    {5, "vq64765", "VQ64765 Series", "765", "v765",
     kIdentify | kFamilyControllerInfo | kFamilyMemory, 12, ImagePlace::Start},
    {6, "vqb716", "VQB716 Series", "716", "v716",
     kIdentify | kOldFlash | kFamilyFlashMakerCode | kFamilyMemory, 16, ImagePlace::HeaderOrStart},
    {7, "vqb717", "VQB717 Series", "717", "v717",
     kIdentify | kOldFlash | kFamilyDfFlash | kFamilyFlashMakerCode | kFamilyMemory |
         kFamilyHostLink,
     16, ImagePlace::Start},
    {8, "vqb719", "VQB711/719 Series", "719", "",
     kIdentify | kFamilyMemory | kFamilyDfFlash | kFamilyFlashStatus | kFamilyFlashMakerCode |
         kFamilyHostLink | kFamilyReset,
     16, ImagePlace::HeaderOrStart},
    {9, "vqb719", "VQB711/719 Series", "719", "",
     kIdentify | kFamilyMemory | kFamilyDfFlash | kFamilyFlashStatus | kFamilyFlashMakerCode |
         kFamilyHostLink | kFamilyReset,
     16, ImagePlace::HeaderOrStart},
    {10, "vqb713", "VQB713 Series", "713", "v713",
     kIdentify | kOldFlash | kFamilyFlashOpcodes | kFamilyMemory, 16, ImagePlace::At0x80},
    {11, "vqs118", "VQS118/175 Series", "118", "",
     kIdentify | kFamilyMemory | kFamilyDfFlash | kOldFlash | kFamilyFlashMakerCode |
         kFamilyFlashParams | kFamilyHostLink | kFamilyReset,
     16, ImagePlace::HeaderOrStart},
    {12, "vqs175", "VQS175 Series", "175", "",
     kIdentify | kFamilyMemory | kFamilyDfFlash | kFamilyFlashStatus | kFamilySpi |
         kFamilyFlashMakerCode | kFamilyFlashParams | kFamilyControllerInfo | kFamilyHostLink |
         kFamilyReset | kFamilyAta,
     16, ImagePlace::Banks},
    {13, "vqs713", "VQS175/713 Series", "713", "v713",
     kIdentify | kOldFlash | kFamilyFlashOpcodes | kFamilyMemory | kFamilyReset | kFamilyAta, 16,
     ImagePlace::At0x80},
    {14, "vqb185", "VQB185 Series", "185", "v185", kIdentify | kOldFlash | kFamilyMemory, 16,
     ImagePlace::At0x4000},
    {15, "vqb145", "VQB145 Series", "145", "v145",
     kIdentify | kFamilyControllerInfo | kFamilyMemory, 16, ImagePlace::Start},
    {16, "vq64775e", "VQ64775 Series", "775", "v775",
     kIdentify | kOldFlash | kFamilyFlashOpcodes | kFamilyMemory | kFamilyControllerInfo, 16,
     ImagePlace::At0x4000},
    {17, "vq64773r", "VQ64773", "773", "", kIdentify, 12, ImagePlace::Start},
    {18, "vq64772", "VQ64772", "772", "", kIdentify, 12, ImagePlace::Start},
    {19, "vq64775r", "VQ64775", "775", "", kIdentify, 12, ImagePlace::Start},
    {20, "vq64771r", "VQ64771", "771", "", kIdentify, 12, ImagePlace::Start},
    {21, "vq64779u", "VQ64779", "779", "", kIdentify, 12, ImagePlace::Start},
};

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
void ApplySubRevision(ChipProfile& p) {
  const int r = p.subRev;
  const auto tokenRevision = static_cast<uint8_t>(0x2F + r);  // "0" stands for 1
  const auto digit = static_cast<uint8_t>('0' + r);
  p.reportsType = p.type;
  p.reportsSubRev = r;
  switch (p.type) {
    case 1:
      // The C revision reports its own number; the earlier one answers
      // with a token no rule knows.
      p.idToken = r == 0 ? "v771A" : "v771C";
      p.idRevision = r == 0 ? '0' : tokenRevision;
      break;
    case 4:
      if (r != 0) {
        p.idToken = "v775C";
        p.idRevision = tokenRevision;
      }
      break;
    case 6:
      if (r != 0) {
        p.idToken = "v716";
        p.idRevision = r == 1 ? 0 : tokenRevision;
      }
      break;
    case 7:
      p.chipInfoRevision = digit;
      if (r != 1 && r != 2) {
        p.reportsSubRev = 0;
        p.identificationShowsBox = true;
      }
      break;
    case 10:
    case 13:
      if (r != 0) {
        p.idToken = "v6713";
        p.idRevision = tokenRevision;
      }
      break;
    case 14:
      if (r != 0) {
        p.idToken = "v185A";
        p.idRevision = tokenRevision;
      }
      // From revision 3 on the host detects the flash and sets the opcodes.
      if (r > 2) {
        p.families = (p.families | kFamilyFlashOpcodes);
        p.detectsFlash = false;
      } else {
        p.families |= kFamilyFlashMakerCode;
      }
      break;
    case 16:
      p.idToken = "v775E";
      p.idRevision = static_cast<uint8_t>(r - 1);
      break;
    case 8:
    case 9:
    case 11:
    case 12:
      p.chipInfoRevision = digit;
      break;
    case 2:
    case 3:
    case 5:
    case 15:
    case 18:
      // Later revisions dropped the INQUIRY token and report the revision
      // in their chip information.
      if (r != 0) {
        p.inquiryToken.clear();
        p.chipInfo = ChipInfoKind::Signed;
        p.chipInfoRevision = digit;
      }
      break;
    default:  // 17, 19, 20, 21 report no sub-revision
      p.reportsSubRev = 0;
      break;
  }
  if (p.type == 9) p.reportsType = 8;
  if (p.type == 13) p.reportsType = 10;
  if (p.type == 11) {
    p.revisionRegister = r == 5 ? 0xB4 : static_cast<uint8_t>(0xA0 + (r & 0x0F));
    p.flag505E = r >= 2;
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
  const auto* row = std::find_if(std::begin(kRows), std::end(kRows),
                                 [&](const TypeRow& r) { return r.type == type; });
  if (row == std::end(kRows)) return p;  // type 0: nothing known
  p.type = type;
  p.subRev = subRev & 0xFF;
  p.name = row->name;
  p.label = row->label;
  p.model = row->model;
  p.inquiryToken = row->inquiryToken;
  p.families = row->families;
  p.chipInfoLength = row->chipInfoLength;
  p.imagePlace = row->place;
  p.usbVendorId = kVendorId;
  p.usbProductId = ProductIdFor(p.model);
  p.configWord = {0x01, 0x00};
  if (type >= 17 && type <= 20) {
    // The oldest group tells its member by bits 5-6 of the configuration word.
    p.configWord[0] = static_cast<uint8_t>(0x01 | ((type - 17) << 5));
    p.chipInfo = ChipInfoKind::Unsigned;
  }
  if (type == 21) {
    p.usbVendorId = 0x816C;
    p.usbProductId = 0x6779;
  }
  switch (type) {
    case 8:
    case 9:
      p.romVersion = {7, 7, 0, 16, 0, 0};
      p.firmwareIds = {"719", "711"};
      p.statusWordBit = 0x04;
      p.protectsMxicAtBoot = true;
      break;
    case 11:
      p.romVersion = {9, 18, 1, 16, 0, 0};
      p.firmwareIds = {"118"};
      p.statusWordBit = 0x10;
      p.register506AReadsOne = true;
      p.protectsMxicAtBoot = true;
      break;
    case 12:
      p.romVersion = {0, 0, '1', '0', '0', '0'};
      p.firmwareIds = {"175"};
      p.statusWordAddress = 0x70F0;
      p.statusWordByte = 3;
      p.statusWordBit = 0x01;
      p.protectsMxicAtBoot = true;
      p.wideFlashParams = true;
      p.defaultFlashKB = 128;
      p.controllerInfoValue = 0x80;
      break;
    case 14:
    case 16:
      p.romVersion = {0, 0, 2, 0, 0, 0};
      p.firmwareIds = {p.model};
      break;
    case 10:
    case 13:
      p.romVersion = {0, 0, 1, 0, 0, 0};
      p.firmwareIds = {"713"};
      p.detectsFlash = false;
      break;
    case 6:
      p.romVersion = {1, 0, 1, 0, 0, 0};
      p.firmwareIds = {"716"};
      p.statusWordBit = 0x04;
      break;
    case 7:
      p.romVersion = {1, 0, 1, 0, 0, 0};
      p.firmwareIds = {"v717", "7178"};
      // Its flash write erases the 32 KB half that the block starts.
      p.smallEraseOverride = 32768;
      p.nvram1KAddress = 0x8000;
      break;
    case 1:
      p.romVersion = {2, 0, 1, 0, 0, 0};
      p.firmwareIds = {"771", std::string("\x5A\xA5\x0F\xF0", 4)};
      break;
    case 5:
    case 15:
      p.romVersion = {1, 0, 1, 0, 0, 0};
      p.firmwareIds = {p.model};
      p.controllerInfoValue = 208;
      p.firmwareOnDisk = true;
      break;
    default:
      p.romVersion = {1, 0, 1, 0, 0, 0};
      p.firmwareIds = {p.model};
      break;
  }
  if (type == 16) p.detectsFlash = false;
  // The oldest members drive a parallel part with the host's scripts.
  if (type == 2 || type == 21) p.families |= kFamilyParallelFlash;
  ApplySubRevision(p);
  return p;
}

std::optional<int> ChipTypeFromName(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == "vqb711") return 8;
  for (const auto& row : kRows) {
    if (row.type == 9) continue;  // shares its name with type 8
    if (lower == row.name) return row.type;
  }
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
  return type == 7 ? 1 : 0;
}

std::vector<std::pair<int, int>> ChipVariants() {
  return {{1, 0},  {1, 1},  {1, 3},  {2, 0},  {2, 2},  {3, 0},  {3, 4},  {4, 0},  {4, 1},
          {4, 3},  {5, 0},  {5, 1},  {6, 0},  {6, 1},  {6, 3},  {7, 0},  {7, 1},  {7, 2},
          {8, 0},  {8, 3},  {9, 0},  {9, 1},  {10, 0}, {10, 2}, {11, 0}, {11, 3}, {11, 5},
          {12, 0}, {12, 1}, {13, 0}, {13, 2}, {14, 0}, {14, 2}, {14, 3}, {15, 0}, {15, 2},
          {16, 0}, {16, 1}, {16, 4}, {17, 0}, {18, 0}, {18, 2}, {19, 0}, {20, 0}, {21, 0}};
}

std::array<uint8_t, 6> OlderFirmwareVersion(int type) {
  switch (type) {
    case 8:
    case 9:
      return {5, 3, 1, 16, 0, 0};
    case 11:
      return {6, 2, 3, 16, 0, 0};
    case 12:
      return {0, 0, '1', '0', '0', '2'};
    default:
      return {2, 1, 3, 1, 5, 0};
  }
}

}  // namespace fwtool::sim
