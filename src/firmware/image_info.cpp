// SPDX-License-Identifier: GPL-2.0-or-later
#include "image_info.h"

#include <fmt/format.h>

#include <algorithm>

#include "chip_rows.h"
#include "firmware_version_place.h"

namespace fwtool {

namespace {

constexpr SignaturePlace kPlacesToScan[] = {
    {0, MagicKind::Full},
    {kBlock80Offset, MagicKind::Block80},
    {kHeaderedSignatureOffset, MagicKind::Full},
    {kUpperSignatureOffset, MagicKind::Short},
    {kBankSignatureOffset, MagicKind::Short},
    {kBankSize + kBankSignatureOffset, MagicKind::Short},
};

constexpr size_t kBankMinimum = kBankCrcLowAt + 1;

}  // namespace

ImageInfo DescribeImage(std::span<const uint8_t> image) {
  ImageInfo info;
  info.size = image.size();

  const SignatureBlock atZero = SignatureBlock::At(image, 0);
  info.chipIdAtZero = atZero.ChipId();
  for (const SignaturePlace& place : kPlacesToScan) {
    const SignatureBlock block = SignatureBlock::At(image, place.offset);
    if (!block.StartsWith(MagicBytes(place.magic))) continue;
    SignatureFinding finding;
    finding.offset = place.offset;
    finding.magic = block.HasMagic() ? MagicKind::Full : place.magic;
    finding.chipId = block.ChipId();
    finding.chipType = FindChipModel(finding.chipId);
    info.signatures.push_back(finding);
  }

  const SignatureBlock after = SignatureBlock::At(image, kHeaderedSignatureOffset);
  const SignatureBlock block80 = SignatureBlock::At(image, kBlock80Offset);
  if (!atZero.HasMagic() && after.HasMagic() && FindChipModel(after.ChipId()) != 0) {
    info.headerArea = true;
    info.headerSignatureOffset = kHeaderedSignatureOffset;
    info.headerChipType = FindChipModel(after.ChipId());
  } else if (block80.StartsWith(kBlock80HeaderMagic) && FindChipModel(block80.ChipId()) != 0) {
    info.headerArea = true;
    info.headerSignatureOffset = kBlock80Offset;
    info.headerChipType = FindChipModel(block80.ChipId());
  }
  if (info.headerArea) {
    info.headerMarker = HasHeaderMarker(image, kHeaderMarkerEnd);
    const auto records = CheckHeaderChecksums(image);
    info.records.assign(records.begin(), records.end());
    info.validRecords = static_cast<size_t>(
        std::count_if(records.begin(), records.end(), [](const auto& r) { return r.Valid(); }));
  }

  if (after.HasMagic() && image.size() >= kFirmwareVersionOffset + kFirmwareVersionLength) {
    std::array<uint8_t, kFirmwareVersionLength> v{};
    std::copy_n(image.begin() + kFirmwareVersionOffset, v.size(), v.begin());
    info.versionBytes = v;
    // As a type 8/9 controller shows it: reply bytes 6, 7, 12, 13, 14.
    info.versionText = fmt::format("{}.{:02}.{:02}.{:02}.{:02}", v[0], v[1], v[2], v[3], v[4]);
  }

  info.endMarkerLength = FindEndMarker(image.data(), image.size());
  info.endMarkerFound =
      info.endMarkerLength >= kEndMarker.size() &&
      std::equal(
          kEndMarker.begin(), kEndMarker.end(),
          image.begin() + static_cast<std::ptrdiff_t>(info.endMarkerLength - kEndMarker.size()));

  for (const size_t start : {size_t{0}, kBankSize}) {
    if (image.size() < start + kBankMinimum) break;
    const auto bank = image.subspan(start);
    const SignatureBlock block = SignatureBlock::At(bank, kBankSignatureOffset);
    if (!block.StartsWith(kShortSignatureMagic)) continue;
    BankChecksums b;
    b.offset = static_cast<uint32_t>(start);
    b.chipId = block.ChipId();
    b.storedCrc16 = StoredBankCrc16(bank);
    b.computedCrc16 = ComputedBankCrc16(bank);
    b.storedCrc32 = StoredDiskImageCrc32(bank);
    b.computedCrc32 = ComputedDiskImageCrc32(bank);
    info.banks.push_back(b);
  }

  info.fileSum = CheckFileSumBytes(image);
  return info;
}

}  // namespace fwtool
