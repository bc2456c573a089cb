// SPDX-License-Identifier: GPL-2.0-or-later
#include "unit_firmware.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace fwtool::sim {

namespace {

constexpr std::array<uint8_t, 4> kMagic = {0x55, 0xAA, 0xAA, 0x55};
constexpr std::array<uint8_t, 4> kMagic80 = {0xE9, 0xAC, 0x67, 0x32};
constexpr std::array<uint8_t, 4> kMagic4000 = {0x55, 0xAA, 'V', 'Q'};
constexpr uint32_t kHeaderSize = 0x1000;
constexpr uint32_t kHeaderRecordsEnd = 0x400;
constexpr uint32_t kBankSize = kFlashBankSize;
constexpr uint32_t kBankSignature = 0xBFF0;
constexpr uint32_t kBankVersion = 0xBFE0;
constexpr uint32_t kBankCovered = 0xBFFC;
constexpr uint32_t kBankNvram = 0xC000;
// The sector an interrupted update leaves erased in a spoiled bank.
constexpr uint32_t kSpoiledSector = 0x8000;
constexpr uint32_t kSpoiledSectorSize = 0x1000;
// Seeds the unit's own settings bytes apart from its header bytes.
constexpr uint64_t kNvramSeed = 0x4E5652414D;
constexpr std::array<uint32_t, 9> kRecordOffsets = {0x100, 0x114, 0x140, 0x1A0, 0x200,
                                                    0x260, 0x2C0, 0x320, 0x380};
constexpr std::array<uint8_t, 9> kRecordWords = {4, 4, 4, 5, 5, 5, 5, 5, 5};

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed | 1) {}
  uint8_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<uint8_t>(state_ >> 24);
  }

 private:
  uint64_t state_;
};

uint64_t Hash(std::string_view text) {
  uint64_t h = 1469598103934665603ull;
  for (char c : text) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  return h;
}

// The chip id bytes 4..7 of the signature block for this chip.
std::array<uint8_t, 4> ChipId(const ChipProfile& p) {
  auto accepted = [&](size_t i) {
    return i < p.firmwareIds.size() ? p.firmwareIds[i] : p.firmwareIds.front();
  };
  std::string text = p.model + "0";
  switch (p.olderImageId) {
    case OlderImageId::ModelAndZero:
      break;
    case OlderImageId::ModelAndRevision:
      if (p.subRev == 1)
        text = accepted(1);
      else if (p.subRev > 1)
        text = p.model + std::string(1, static_cast<char>('0' + p.subRev - 1));
      break;
    case OlderImageId::AcceptedOfRevision:
      text = accepted(p.subRev == 2 ? 1 : 0);
      break;
    case OlderImageId::Named:
      text = p.olderImageIdText;
      break;
  }
  text.resize(4, '\0');
  std::array<uint8_t, 4> id{};
  std::memcpy(id.data(), text.data(), 4);
  return id;
}

bool IdMatches(const ChipProfile& p, std::span<const uint8_t> block) {
  for (const auto& id : p.firmwareIds) {
    if (block.size() >= 4 + id.size() &&
        std::equal(id.begin(), id.end(), block.begin() + 4,
                   [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }))
      return true;
  }
  return false;
}

bool StartsWith(std::span<const uint8_t> data, uint32_t at, std::span<const uint8_t> magic) {
  return at + magic.size() <= data.size() &&
         std::equal(magic.begin(), magic.end(), data.begin() + at);
}

void PutEndMarker(std::vector<uint8_t>& image, uint32_t at) {
  static constexpr uint8_t kEnd[] = {'E', 'N', 'D', 'S', 'T', 'R', 0x55, 0xAA};
  std::copy(std::begin(kEnd), std::end(kEnd), image.begin() + at);
}

void FillBody(std::vector<uint8_t>& image, uint32_t from, uint32_t to, uint64_t seed) {
  Random random(seed);
  for (uint32_t i = from; i < to; ++i) {
    uint8_t b = random.Next();
    if (b == 'E') b = 0x45 ^ 0x80;  // keep the end marker unique
    image[i] = b;
  }
}

// The 4 KB header area of a unit: its settings with the marker, and the
// nine parameter records.
void BuildHeader(std::vector<uint8_t>& image, const ChipProfile& p, std::string_view serial) {
  Random unit(Hash(serial));
  Random older(0x0DDBA11 + static_cast<uint64_t>(p.type));
  for (uint32_t i = 0; i < 256; ++i) image[i] = unit.Next();
  // Settings owned by the firmware image carry the older image's values.
  for (uint8_t position : kImageOwnedHeaderBytes) image[position] = older.Next();
  std::string serialText = "SN=" + std::string(serial);
  serialText.resize(kHeaderSerialLength, '\0');
  std::copy(serialText.begin(), serialText.end(), image.begin() + kHeaderSerialOffset);
  std::string usbText = "Talve " + p.ProductText();
  usbText.resize(kHeaderUsbTextLength, '\0');
  std::copy(usbText.begin(), usbText.end(), image.begin() + kHeaderUsbTextOffset);
  image[kHeaderMarkerOffset] = 'V';
  image[kHeaderMarkerOffset + 1] = 'Q';
  for (uint32_t i = 128; i < 256; ++i) image[i] = older.Next();
  // Parameter records: the words belong to the image except the unit's own
  // calibration words, which an update keeps.
  auto unitOwned = [](uint32_t offset) {
    if (offset >= 268 && offset <= 275) return true;
    if (offset >= 320 && offset <= 351) return true;
    for (uint32_t j = 0; j < 6; ++j)
      if (offset >= 416 + 96 * j && offset <= 447 + 96 * j) return true;
    return false;
  };
  std::fill(image.begin() + 0x100, image.begin() + 0x400, 0x00);
  for (size_t r = 0; r < kRecordOffsets.size(); ++r) {
    const uint32_t at = kRecordOffsets[r];
    image[at + 2] = kRecordWords[r];
    for (uint32_t k = 0; k < 4u * kRecordWords[r]; ++k) {
      const uint32_t offset = at + 4 + k;
      image[offset] = unitOwned(offset) ? unit.Next() : older.Next();
    }
  }
  for (size_t r = 0; r < kRecordOffsets.size(); ++r) {
    const uint32_t at = kRecordOffsets[r];
    const uint16_t crc =
        Crc16OverWords(std::span<const uint8_t>(image).subspan(at + 4, 4u * image[at + 2]));
    image[at] = static_cast<uint8_t>(crc);
    image[at + 1] = static_cast<uint8_t>(crc >> 8);
  }
}

// Bytes of the unit's own in [from, to) of its settings area at `area`:
// random from the serial, with "SN=" and the serial at the area's serial
// offset when that lies in the range.
void FillUnitSettings(std::vector<uint8_t>& image, uint32_t area, uint32_t from, uint32_t to,
                      std::string_view serial) {
  Random unit(Hash(serial) ^ kNvramSeed);
  for (uint32_t i = area; i < area + kNvramSize; ++i) {
    const uint8_t b = unit.Next();
    if (i >= from && i < to) image[i] = b;
  }
  if (area + kHeaderSerialOffset < from || area + kHeaderSerialOffset >= to) return;
  std::string serialText = "SN=" + std::string(serial);
  serialText.resize(kHeaderSerialLength, '\0');
  std::copy(serialText.begin(), serialText.end(), image.begin() + area + kHeaderSerialOffset);
}

void PutVersion(std::vector<uint8_t>& image, uint32_t at, const std::array<uint8_t, 6>& version) {
  std::copy(version.begin(), version.end(), image.begin() + at);
}

void BuildBank(std::vector<uint8_t>& image, uint32_t base, const ChipProfile& p,
               const std::array<uint8_t, 6>& version, std::string_view serial) {
  FillBody(image, base, base + kBankVersion, 0xBA4C + base);
  PutVersion(image, base + kBankVersion, version);
  std::copy(kMagic.begin(), kMagic.end(), image.begin() + base + kBankSignature);
  const auto id = ChipId(p);
  std::copy(id.begin(), id.end(), image.begin() + base + kBankSignature + 4);
  image[base + kBankSignature + 8] = 0;
  image[base + kBankSignature + 9] = 0;
  image[base + kBankCovered] = 0xFF;
  image[base + kBankCovered + 1] = 0xFF;
  const uint16_t crc = Crc16OverWords(std::span<const uint8_t>(image).subspan(base, kBankCovered));
  image[base + 0xBFFE] = static_cast<uint8_t>(crc >> 8);
  image[base + 0xBFFF] = static_cast<uint8_t>(crc);
  // The unit's settings lie behind the firmware, outside the checksum; every
  // update writes them into both banks.
  const uint32_t nvram = base + kBankNvram;
  FillUnitSettings(image, nvram, nvram, nvram + kNvramSize, serial);
}

bool BankValid(const ChipProfile& p, std::span<const uint8_t> flash, uint32_t base) {
  if (base + kBankSize > flash.size()) return false;
  auto bank = flash.subspan(base, kBankSize);
  if (!StartsWith(bank, kBankSignature, kMagic) || !IdMatches(p, bank.subspan(kBankSignature)))
    return false;
  const uint16_t crc = Crc16OverWords(bank.subspan(0, kBankCovered));
  return crc == ((bank[0xBFFE] << 8) | bank[0xBFFF]);
}

}  // namespace

std::optional<uint32_t> NvramAddress(const ChipProfile& p) {
  switch (p.imagePlace) {
    case ImagePlace::HeaderOrStart:
      return 0;
    case ImagePlace::Banks:
      return kBankNvram;
    case ImagePlace::Start:
    case ImagePlace::At0x80:
    case ImagePlace::At0x4000:
      return std::nullopt;
  }
  return std::nullopt;
}

void SpoilBank(std::vector<uint8_t>& flash, int bank) {
  const size_t from = static_cast<size_t>(bank) * kBankSize + kSpoiledSector;
  if (bank < 0 || from + kSpoiledSectorSize > flash.size()) return;
  std::fill_n(flash.begin() + static_cast<std::ptrdiff_t>(from), kSpoiledSectorSize, 0xFF);
}

uint16_t Crc16OverWords(std::span<const uint8_t> data, uint16_t crc) {
  for (size_t i = 0; i + 4 <= data.size(); i += 4) {
    const uint32_t word = data[i] | (data[i + 1] << 8) | (data[i + 2] << 16) |
                          (static_cast<uint32_t>(data[i + 3]) << 24);
    for (int shift = 28; shift >= 0; shift -= 4) {
      const uint32_t t = ((crc >> 12) ^ (word >> shift)) & 0xF;
      crc = static_cast<uint16_t>((crc << 4) ^ (t << 12) ^ (t << 5) ^ t);
    }
  }
  return crc;
}

std::vector<uint8_t> BuildOlderFirmware(const ChipProfile& p, uint32_t flashSize,
                                        std::string_view serial,
                                        const std::array<uint8_t, 6>& version) {
  std::vector<uint8_t> image(flashSize, 0xFF);
  if (flashSize < kBankSize) return image;
  const auto id = ChipId(p);
  auto putBlock = [&](uint32_t at, std::span<const uint8_t> magic) {
    std::copy(magic.begin(), magic.end(), image.begin() + at);
    std::copy(id.begin(), id.end(), image.begin() + at + 4);
    image[at + 8] =
        p.revisionInImageBlock && p.subRev > 0 ? static_cast<uint8_t>('0' + p.subRev - 1) : 0;
    image[at + 9] = 0;
    PutVersion(image, at + 10, version);
  };
  const uint32_t end = 0xE800;  // the older firmware is a little shorter than 64 KB
  switch (p.imagePlace) {
    case ImagePlace::HeaderOrStart:
      BuildHeader(image, p, serial);
      FillUnitSettings(image, 0, kHeaderRecordsEnd, kHeaderSize, serial);
      putBlock(kHeaderSize, kMagic);
      FillBody(image, kHeaderSize + 16, end, 0xF1A5 + static_cast<uint64_t>(p.type));
      PutEndMarker(image, end);
      break;
    case ImagePlace::At0x80:
      FillBody(image, 0, end, 0x713);
      putBlock(0x80, kMagic80);
      PutEndMarker(image, end);
      break;
    case ImagePlace::At0x4000:
      FillBody(image, 0, end, 0x4000 + static_cast<uint64_t>(p.type));
      putBlock(0x4000, kMagic4000);
      PutEndMarker(image, end);
      break;
    case ImagePlace::Banks:
      BuildBank(image, 0, p, version, serial);
      if (flashSize >= 2 * kBankSize) BuildBank(image, kBankSize, p, version, serial);
      break;
    case ImagePlace::Start:
      putBlock(0, kMagic);
      FillBody(image, 16, end, 0x5747 + static_cast<uint64_t>(p.type));
      PutEndMarker(image, end);
      if (p.nvram1KAddress != 0 && p.nvram1KAddress + kNvram1KSize <= flashSize)
        FillUnitSettings(image, p.nvram1KAddress, p.nvram1KAddress, p.nvram1KAddress + kNvram1KSize,
                         serial);
      break;
  }
  return image;
}

std::optional<BootImage> FindBootImage(const ChipProfile& p, std::span<const uint8_t> flash) {
  auto blockAt = [&](uint32_t at, std::span<const uint8_t> magic) -> std::optional<BootImage> {
    if (at + 16 > flash.size()) return std::nullopt;
    if (!StartsWith(flash, at, magic) || !IdMatches(p, flash.subspan(at))) return std::nullopt;
    return BootImage{at, at + 10};
  };
  switch (p.imagePlace) {
    case ImagePlace::HeaderOrStart:
      if (auto image = blockAt(0, kMagic)) return image;
      return blockAt(kHeaderSize, kMagic);
    case ImagePlace::At0x80:
      return blockAt(0x80, kMagic80);
    case ImagePlace::At0x4000:
      return blockAt(0x4000, kMagic4000);
    case ImagePlace::Banks:
      for (uint32_t base = 0; base + kBankSize <= flash.size() && base <= kBankSize;
           base += kBankSize)
        if (BankValid(p, flash, base)) return BootImage{base + kBankSignature, base + kBankVersion};
      return std::nullopt;
    case ImagePlace::Start:
      return blockAt(0, kMagic);
  }
  return std::nullopt;
}

}  // namespace fwtool::sim
