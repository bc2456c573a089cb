// SPDX-License-Identifier: GPL-2.0-or-later
// The standard SCSI commands a bridge answers (those the kernel's disk
// driver sends by itself, and INQUIRY with the chip id token), and the
// chip-information reply.
#include <fmt/format.h>

#include <algorithm>

#include "controller.h"

namespace fwtool::sim {

namespace {

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kModeSense6 = 0x1A;
constexpr uint8_t kPreventAllow = 0x1E;
constexpr uint8_t kReadCapacity10 = 0x25;
constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kRead16 = 0x88;
constexpr uint8_t kWrite16 = 0x8A;
constexpr uint8_t kReadCapacity16 = 0x9E;

constexpr uint8_t kNotReady = 0x02;
constexpr uint8_t kMediumNotPresent = 0x3A;

constexpr std::string_view kVendorText = "Talve";

void PutText(std::vector<uint8_t>& data, size_t at, size_t width, std::string_view text) {
  for (size_t i = 0; i < width; ++i)
    data[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

}  // namespace

SimController::Reply SimController::Standard(const PassThroughRequest& rq, InterfaceKind iface) {
  const auto& cdb = rq.cdb;
  const bool cdrom = iface == InterfaceKind::Cdrom;
  switch (cdb[0]) {
    case kTestUnitReady:
      if (cdrom) return Check(kNotReady, kMediumNotPresent);
      return Good();
    case kRequestSense: {
      std::vector<uint8_t> sense = lastSense_;
      if (sense.empty()) {
        sense.assign(18, 0);
        sense[0] = 0x70;
        sense[7] = 10;
      }
      lastSense_.clear();
      sense.resize(std::min<size_t>(sense.size(), cdb[4]));
      return Good(std::move(sense));
    }
    case kInquiry:
      return Inquiry(rq, iface);
    case kModeSense6: {
      if (cdrom) return Check(kNotReady, kMediumNotPresent);
      // Header only: no block descriptors, not write protected.
      std::vector<uint8_t> header = {0x03, 0x00, 0x00, 0x00};
      header.resize(std::min<size_t>(header.size(), cdb[4]));
      return Good(std::move(header));
    }
    case kPreventAllow:
      return Good();
    case kReadCapacity10:
    case kReadCapacity16:
    case kRead10:
    case kWrite10:
    case kRead16:
    case kWrite16:
      return DiskBlock(rq, iface);
    default:
      return Unknown();
  }
}

SimController::Reply SimController::Inquiry(const PassThroughRequest& rq, InterfaceKind iface) {
  const auto& cdb = rq.cdb;
  const uint8_t peripheral = iface == InterfaceKind::Cdrom ? 0x05 : 0x00;
  const uint32_t allocation = (cdb[3] << 8) | cdb[4];
  std::vector<uint8_t> data;
  if (cdb[1] & 0x01) {
    // Vital product data: only the list of supported pages.
    if (cdb[2] != 0x00) return InvalidField();
    data = {peripheral, 0x00, 0x00, 0x01, 0x00};
  } else {
    if (cdb[2] != 0x00) return InvalidField();
    const bool token = !profile_.inquiryToken.empty();
    data.assign(token ? 40 : 36, 0);
    data[0] = peripheral;
    data[1] = iface == InterfaceKind::Cdrom ? 0x80 : 0x00;  // removable medium
    data[2] = 0x02;
    data[3] = 0x02;  // response data format
    data[4] = static_cast<uint8_t>(data.size() - 5);
    PutText(data, 8, 8, kVendorText);
    PutText(data, 16, 16,
            iface == InterfaceKind::Cdrom
                ? fmt::format("{} CD-ROM", profile_.ProductText().substr(0, 6))
                : profile_.ProductText());
    PutText(data, 32, 4, fmt::format("{}.{:02}", version_[0] % 10, version_[1] % 100));
    if (token) PutText(data, 36, 4, profile_.inquiryToken);
  }
  data.resize(std::min<size_t>(data.size(), allocation));
  return Good(std::move(data));
}

SimController::Reply SimController::ChipInfo(const PassThroughRequest&) {
  Reply reply;
  if (Lacks(kFamilyChipInfo, reply)) return reply;
  return Good(ChipInfoBytes());
}

std::vector<uint8_t> SimController::ChipInfoBytes() const {
  std::vector<uint8_t> data(16, 0);
  if (profile_.chipInfo == ChipInfoKind::Signed) {
    data[0] = 0xF4;
    data[1] = 0xE7;
    data[2] = static_cast<uint8_t>(profile_.usbVendorId >> 8);
    data[3] = static_cast<uint8_t>(profile_.usbVendorId);
    data[4] = static_cast<uint8_t>(profile_.usbProductId >> 8);
    data[5] = static_cast<uint8_t>(profile_.usbProductId);
    for (size_t i = 0; i < 3 && i < profile_.model.size(); ++i)
      data[8 + i] = static_cast<uint8_t>(profile_.model[i]);
    data[11] = profile_.chipInfoRevision;
    // The version of the firmware the controller runs.
    data[6] = version_[0];
    data[7] = version_[1];
    std::copy(version_.begin() + 2, version_.end(), data.begin() + 12);
  }
  data.resize(profile_.chipInfoLength);
  return data;
}

}  // namespace fwtool::sim
