// SPDX-License-Identifier: GPL-2.0-or-later
// What the history says of an operation: the unit as the form knows it, the
// file that went in, how it ended.
#include "operation_record.h"

#include <filesystem>
#include <system_error>

#include "Fwupdate.h"
#include "chip_rows.h"
#include "form_texts.h"
#include "image_info.h"
#include "printable_text.h"
#include "sha256.h"

namespace fwtool {

namespace {

// INQUIRY names: vendor in the first 8 characters, product in the next 16.
constexpr size_t kVendorLength = 8;

std::string TrimmedText(std::string text) {
  const auto last = text.find_last_not_of(' ');
  text.erase(last == std::string::npos ? 0 : last + 1);
  const auto first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

// Whether the unit reports its running version in the form the image
// carries after its signature block, so that the image tells what the unit
// will report once it runs it.
bool ReportsImageVersion(VersionFormat format) {
  switch (format) {
    case VersionFormat::FiveNumbers:
      return true;
    case VersionFormat::Default:
    case VersionFormat::Register506A:
    case VersionFormat::TenToFourteen:
    case VersionFormat::TwelveToFifteen:
    case VersionFormat::AtaInfo:
      return false;
  }
  return false;
}

}  // namespace

std::vector<HistoryOption> HistoryOptions(const EngineeringOptions& options,
                                          const FlashSettings& settings,
                                          const std::string& flashType) {
  std::vector<HistoryOption> list = {
      {"eraseOnly", options.eraseOnly},
      {"includeNvram", options.includeNvram},
      {"hddFirmware", options.hddFirmware},
      {"a1Chip", options.a1Chip},
      {"flashSize", int64_t{settings.SelectedFlashSize}},
      {"blockSize", int64_t{settings.TransferBlockSize}},
  };
  if (!flashType.empty()) list.push_back({"flashType", flashType});
  // The operator allowed the disk's own sectors to be overwritten.
  if (options.diskData == DiskDataChoice::Overwrite) list.push_back({"overwriteDiskData", true});
  return list;
}

HistoryUnit TV77xFwTool::UnitForHistory(const std::string& path) const {
  HistoryUnit unit;
  unit.path = path;
  for (const DeviceSurveyEntry& entry : survey_) {
    if (entry.path != path) continue;
    unit.vendor = TrimmedText(entry.name.substr(0, kVendorLength));
    unit.product = TrimmedText(entry.name.size() > kVendorLength ? entry.name.substr(kVendorLength)
                                                                 : std::string());
    break;
  }
  const DeviceRecord* selected = SelectedDevice();
  if (selected != nullptr && selected->Path == path) {
    unit.chipType = ChipType;
    unit.subRevision = ChipSubRev;
    unit.chipLabel = std::string(ChipRowFor(ChipType).label);
  }
  unit.serial = EscapeControls(enumerator_.SerialNumber(path));
  return unit;
}

std::string TV77xFwTool::RunningVersion(const std::string& path) const {
  const DeviceRecord* selected = SelectedDevice();
  if (selected == nullptr || selected->Path != path) return {};
  return FwVerLableEdit.Text();
}

void TV77xFwTool::AddToHistory(const HistoryRecord& record) {
  historyError_.clear();
  if (historyFile_.empty()) return;
  if (!AppendHistory(historyFile_, record, historyError_))
    SetNotice(notice_ + (notice_.empty() ? "" : "; ") + texts::kHistoryFailedNotice +
              historyError_);
}

OperationRecord::OperationRecord(TV77xFwTool& form, const std::string& path, std::string procedure)
    : form_(form), failures_(path) {
  record_.time = HistoryTimeNow();
  record_.fwtoolVersion = FWTOOL_VERSION;
  record_.unit = form.UnitForHistory(path);
  record_.versionBefore = form.RunningVersion(path);
  record_.procedure = std::move(procedure);
}

void OperationRecord::SetFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  SetImage(ec ? path : absolute.string(), bytes);
}

void OperationRecord::SetImage(const std::string& name, std::span<const uint8_t> bytes) {
  record_.file = HistoryFile{name, Sha256Hex(bytes)};
  const ImageInfo image = DescribeImage(bytes);
  if (image.versionBytes && ReportsImageVersion(ChipRowFor(record_.unit.chipType).version))
    writtenVersion_ = image.versionText;
}

void OperationRecord::Finish(int result, const std::string& backup) {
  record_.succeeded = result == 1;
  record_.status = form_.StatusEdit.Text();
  // A written and verified image is what the unit runs after its power cycle.
  if (record_.succeeded) record_.versionAfter = writtenVersion_;
  if (!record_.succeeded) record_.lastFailedCommand = failures_.Last();
  record_.backup = backup;
  form_.AddToHistory(record_);
}

}  // namespace fwtool
