// SPDX-License-Identifier: GPL-2.0-or-later
#include "chip_rows.h"

namespace fwtool {

namespace {

constexpr size_t kModelLength = 3;

// What the boot code of the flash-family chips shows once it runs firmware
// from its flash, and the versions of their internal code.
constexpr RunningFirmwareRecord kRunning719 = {
    .image = RunningImageTest::FlashBlock,
    .statusBit = 0x04,
    .internalVersions = {"7.07.00.16.00", "11.19.02.16.00", "4.10.02.16.00"},
    .imageIds = {"719", "711"}};
constexpr std::array<std::string_view, 5> kUpperChipInternalVersions = {"2.00.00", "0.160.144"};

}  // namespace

const std::array<ChipRow, kChipTypeCount> ChipRows = {{
    {.type = 0,
     .model = "",
     .label = "Unknown Chip",
     .fallbackVersion = "00.00",
     .refinedByIdString = true},
    {.type = 1,
     .model = "771",
     .label = "VQ64771 Series",
     .fileIdRule = FileIdRule::PrefixAndRevision,
     .fileIdPrefix = "771",
     .fileIdsByRevision = {"\x5A\xA5\x0F\xF0"},
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .detection = FlashDetection::KindReads,
     .fallbackVersion = "02.00",
     .refinedByIdString = true},
    {.type = 2,
     .model = "779",
     .label = "VQ64779 Series",
     .fileIdRule = FileIdRule::DoesNotBeginWith,
     .fileIdPrefix = "77",
     .flash = FlashKind::Parallel,
     .detection = FlashDetection::ChosenByOperator,
     .fallbackVersion = "02.00"},
    {.type = 3,
     .model = "773",
     .label = "VQ64773 Series",
     .fileIdRule = FileIdRule::Any,
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .detection = FlashDetection::KindReads,
     .refinedByIdString = true},
    {.type = 4,
     .model = "775",
     .label = "VQ64775 Series",
     .fileIdRule = FileIdRule::PrefixAndRevision,
     .fileIdPrefix = "775",
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .flashSizeOption = true,
     .detection = FlashDetection::KindReads,
     .fallbackVersion = "02.00",
     .running = {.image = RunningImageTest::MemoryBlock, .statusBit = 0x01, .imageIds = {"775"}},
     .refinedByIdString = true},
    {.type = 5,
     .model = "765",
     .label = "VQ64765 Series",
     .fileIdRule = FileIdRule::BeginsWith,
     .fileIdPrefix = "765",
     .flash = FlashKind::DiskHosted,
     .detection = FlashDetection::ControllerInfo,
     .diskPlace = DiskFirmwarePlace::ReservedArea},
    {.type = 6,
     .model = "716",
     .label = "VQB716 Series",
     .signature = SignatureKind::ZeroOrAfterHeader,
     .headerArea = true,
     .fileIdRule = FileIdRule::RevisionByte,
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .nvramOption = true,
     .nvramWithModeBoxes = true,
     .detection = FlashDetection::KindReads,
     .running = {.image = RunningImageTest::MemoryBlock, .statusBit = 0x04, .imageIds = {"716"}},
     .refinedByIdString = true},
    {.type = 7,
     .model = "717",
     .label = "VQB717 Series",
     .fileIdRule = FileIdRule::BlockOfRevision,
     .fileIdsByRevision = {"v717", "7178"},
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .detection = FlashDetection::KindReads,
     .detectionOver1394 = FlashDetection::ControllerCode},
    {.type = 8,
     .model = "719",
     .label = "VQB711/719 Series",
     .signature = SignatureKind::ZeroOrAfterHeader,
     .headerArea = true,
     .fileIdRule = FileIdRule::BeginsWith,
     .fileIdPrefix = "719",
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .nvramOption = true,
     .detection = FlashDetection::ControllerCode,
     .version = VersionFormat::FiveNumbers,
     .running = kRunning719,
     .oneClickTarget = true},
    {.type = 9,
     .model = "719",
     .label = "VQB711/719 Series",
     .signature = SignatureKind::ZeroOrAfterHeader,
     .headerArea = true,
     .fileIdRule = FileIdRule::BeginsWith,
     .fileIdPrefix = "719",
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .nvramOption = true,
     .detection = FlashDetection::ControllerCode,
     .version = VersionFormat::FiveNumbers,
     .running = kRunning719,
     .oneClickTarget = true},
    {.type = 10,
     .model = "713",
     .label = "VQB713 Series",
     .signature = SignatureKind::Block80,
     .fileIdRule = FileIdRule::BeginsWith,
     .fileIdPrefix = "713",
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .nvramOption = true,
     .detection = FlashDetection::HostProbe,
     .version = VersionFormat::TenToFourteen,
     .refinedByIdString = true,
     .mxicSetup = MxicPageSetup::PageSize,
     .wholeFlash = WholeFlashAccess::Detected},
    {.type = 11,
     .model = "118",
     .label = "VQS118/175 Series",
     .signature = SignatureKind::ZeroOrAfterHeader,
     .headerArea = true,
     .fileIdRule = FileIdRule::BeginsWith,
     .fileIdPrefix = "118",
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .nvramOption = true,
     .detection = FlashDetection::ControllerCode,
     .version = VersionFormat::Register506A,
     .running = {.image = RunningImageTest::FlashBlock,
                 .statusBit = 0x10,
                 .internalVersions = {"9.18.01.16.00", "12.01.02.16.00", "2.05.11.16.00",
                                      "4.08.11.16.00", "5.13.11.16.00"},
                 .imageIds = {"118"}},
     .flashAccessSetup = true,
     .mxicSetup = MxicPageSetup::Params,
     .hostProbeFrom = 5,
     .headerAreaAlways = true},
    {.type = 12,
     .model = "175",
     .label = "VQS175 Series",
     .signature = SignatureKind::Bank,
     .headerArea = true,
     .fileIdRule = FileIdRule::BeginsWith,
     .fileIdPrefix = "175",
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .nvramOption = true,
     .detection = FlashDetection::ControllerCode,
     .version = VersionFormat::TwelveToFifteen,
     .running = {.image = RunningImageTest::Bank,
                 .statusWord = kBankChipStatusWordAt,
                 .statusByte = 3,
                 .statusBit = 0x01,
                 .internalVersions = {"49.48.48.48", "49.48.48.49"},
                 .imageIds = {"175"}},
     .resetsAfterFlashUpdate = true,
     .mxicSetup = MxicPageSetup::ParamsWide,
     .hostProbeFrom = 0,
     .diskFirmwareSignal = DiskFirmwareSignal::NotAsked,
     .diskPlace = DiskFirmwarePlace::BankRegion},
    {.type = 13,
     .model = "713",
     .label = "VQS175/713 Series",
     .signature = SignatureKind::Block80,
     .fileIdRule = FileIdRule::BeginsWith,
     .fileIdPrefix = "713",
     .flash = FlashKind::Ata,
     .detection = FlashDetection::AtaProbe,
     .version = VersionFormat::AtaInfo,
     .wholeFlash = WholeFlashAccess::Ata,
     // The model number "713" is also type 10's, which identification finds.
     .identifiedAs = 10},
    {.type = 14,
     .model = "185",
     .label = "VQB185 Series",
     .signature = SignatureKind::Upper,
     .fileIdRule = FileIdRule::BeginsWith,
     .fileIdPrefix = "185",
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .detection = FlashDetection::KindReads,
     .detectionFrom = 3,
     .laterDetection = FlashDetection::HostProbe,
     .running = {.image = RunningImageTest::UpperBlock,
                 .statusBit = 0x01,
                 .internalVersions = kUpperChipInternalVersions,
                 .imageIds = {"185"}},
     .refinedByIdString = true,
     .setupEcho = true},
    {.type = 15,
     .model = "145",
     .label = "VQB145 Series",
     .flash = FlashKind::DiskHosted,
     .detection = FlashDetection::ControllerInfo,
     .diskPlace = DiskFirmwarePlace::ReservedArea},
    {.type = 16,
     .model = "775",
     .label = "VQ64775 Series",
     .signature = SignatureKind::Upper,
     .fileIdRule = FileIdRule::BeginsWith,
     .fileIdPrefix = "775E",
     .flash = FlashKind::Serial,
     .flashFamily = true,
     .detection = FlashDetection::HostProbe,
     .running = {.image = RunningImageTest::UpperBlock,
                 .statusBit = 0x01,
                 .internalVersions = kUpperChipInternalVersions,
                 .imageIds = {"775"}},
     .setupEcho = true,
     .mxicSetup = MxicPageSetup::PageSize,
     .diskFirmwareSignal = DiskFirmwareSignal::ControllerInfo,
     .diskPlace = DiskFirmwarePlace::ReservedArea},
    {.type = 17, .model = "773", .label = "VQ64773", .fileIdRule = FileIdRule::Any},
    {.type = 18, .model = "772", .label = "VQ64772", .fileIdRule = FileIdRule::Any},
    {.type = 19, .model = "775", .label = "VQ64775", .fileIdRule = FileIdRule::Any},
    {.type = 20, .model = "771", .label = "VQ64771", .fileIdRule = FileIdRule::Any},
    {.type = 21,
     .model = "779",
     .label = "VQ64779",
     .fileIdRule = FileIdRule::DoesNotBeginWith,
     .fileIdPrefix = "77",
     .flash = FlashKind::Parallel,
     .detection = FlashDetection::ChosenByOperator},
}};

const ChipRow& ChipRowFor(int chipType) {
  if (chipType < 0 || chipType >= kChipTypeCount) return ChipRows[kUnrecognisedChip];
  return ChipRows[static_cast<size_t>(chipType)];
}

const ChipRow& OneClickTargetRow() {
  for (const ChipRow& row : ChipRows)
    if (row.oneClickTarget) return row;
  return ChipRows[kUnrecognisedChip];
}

int FindChipModel(std::string_view model) {
  if (model.size() < kModelLength) return 0;
  const std::string_view wanted = model.substr(0, kModelLength);
  for (int type = 1; type < kChipTypeCount; ++type) {
    if (ChipRows[static_cast<size_t>(type)].model == wanted) return type;
  }
  return 0;
}

bool ChipIdMatchesModel(int chipType, std::string_view chipId) {
  if (chipType < 1 || chipType >= kChipTypeCount) return false;
  if (chipId.size() < kModelLength) return false;
  return chipId.substr(0, kModelLength) == ChipRowFor(chipType).model;
}

std::string_view ChipModel(int chipType) {
  if (chipType < 1 || chipType >= kChipTypeCount) return {};
  return ChipRowFor(chipType).model;
}

std::string_view ChipLabel(int chipType) {
  return ChipRowFor(chipType).label;
}

FlashDetection DetectionFor(const ChipRow& row, int subRev, bool over1394) {
  if (over1394 && row.detectionOver1394 != FlashDetection::None) return row.detectionOver1394;
  if (row.detectionFrom != 0 && subRev >= row.detectionFrom) return row.laterDetection;
  return row.detection;
}

bool PathIsOn1394(std::string_view path) {
  return path.find("sbp2") != std::string_view::npos;
}

}  // namespace fwtool
