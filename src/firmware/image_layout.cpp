// SPDX-License-Identifier: GPL-2.0-or-later
#include "image_layout.h"

#include <algorithm>
#include <cstring>

#include "checksums.h"
#include "chip_rows.h"

namespace fwtool {

// ---- Signature block -------------------------------------------------------

SignatureBlock SignatureBlock::At(std::span<const uint8_t> data, size_t offset) {
  SignatureBlock block;
  if (offset > data.size() || data.size() - offset < kSignatureBlockSize) return block;
  std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), kSignatureBlockSize,
              block.bytes.begin());
  block.complete = true;
  return block;
}

bool SignatureBlock::StartsWith(std::span<const uint8_t> magic) const {
  if (!complete || magic.empty() || magic.size() > bytes.size()) return false;
  return std::equal(magic.begin(), magic.end(), bytes.begin());
}

std::string SignatureBlock::ChipId() const {
  if (!complete) return {};
  return std::string(reinterpret_cast<const char*>(bytes.data()) + kChipIdAt, kChipIdLength);
}

std::string PrintableChipId(std::string_view chipId) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : chipId) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
      text += c;
    } else {
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 0xF];
    }
  }
  return text;
}

namespace {

constexpr SignaturePlace kAtZeroPlain[] = {{0, MagicKind::None}};
constexpr SignaturePlace kZeroOrAfterHeader[] = {{0, MagicKind::Full},
                                                 {kHeaderedSignatureOffset, MagicKind::Full}};
constexpr SignaturePlace kBlock80[] = {{kBlock80Offset, MagicKind::Block80}};
constexpr SignaturePlace kUpper[] = {{kUpperSignatureOffset, MagicKind::Short}};
constexpr SignaturePlace kBank[] = {{kBankSignatureOffset, MagicKind::Short}};

}  // namespace

std::span<const SignaturePlace> SignaturePlacesFor(int chipType) {
  switch (ChipRowFor(chipType).signature) {
    case SignatureKind::ZeroOrAfterHeader:
      return kZeroOrAfterHeader;
    case SignatureKind::Block80:
      return kBlock80;
    case SignatureKind::Upper:
      return kUpper;
    case SignatureKind::Bank:
      return kBank;
    case SignatureKind::AtZero:
      break;
  }
  return kAtZeroPlain;
}

std::span<const uint8_t> MagicBytes(MagicKind kind) {
  switch (kind) {
    case MagicKind::Full:
      return kSignatureMagic;
    case MagicKind::Short:
      return kShortSignatureMagic;
    case MagicKind::Block80:
      return kBlock80Magic;
    case MagicKind::None:
      break;
  }
  return {};
}

std::string_view MagicName(MagicKind kind) {
  switch (kind) {
    case MagicKind::Full:
      return "55 AA AA 55";
    case MagicKind::Short:
      return "55 AA";
    case MagicKind::Block80:
      return "E9 AC 67";
    case MagicKind::None:
      break;
  }
  return "none";
}

// ---- Header area -----------------------------------------------------------

bool HasHeaderMarker(std::span<const uint8_t> data, size_t end) {
  if (end < 2 || end > data.size()) return false;
  return data[end - 2] == 'V' && data[end - 1] == 'Q';
}

namespace {

constexpr size_t kRecordHeadSize = 4;

// `coveredUpTo`: where the words a record covers must end.
ParameterRecordState RecordState(std::span<const uint8_t> header, uint32_t offset,
                                 size_t coveredUpTo = kHeaderRecordArea) {
  ParameterRecordState state;
  state.offset = offset;
  const size_t area = std::min(header.size(), coveredUpTo);
  if (offset + kRecordHeadSize > std::min(header.size(), kHeaderRecordArea)) return state;
  if (offset + kRecordHeadSize > area) return state;
  state.present = true;
  state.words = header[offset + 2];
  const size_t wordsInside = (area - offset - kRecordHeadSize) / 4;
  state.coveredWords = static_cast<uint32_t>(std::min<size_t>(state.words, wordsInside));
  state.stored = static_cast<uint16_t>(header[offset] | header[offset + 1] << 8);
  state.computed =
      Crc16OverWords(header.data() + offset + kRecordHeadSize, state.coveredWords * 4u, 0);
  return state;
}

}  // namespace

namespace {

void StoreChecksums(std::span<uint8_t> data, size_t coveredUpTo) {
  for (const uint32_t offset : kParameterRecordOffsets) {
    const ParameterRecordState state = RecordState(data, offset, coveredUpTo);
    if (!state.present) continue;
    data[offset] = static_cast<uint8_t>(state.computed);
    data[offset + 1] = static_cast<uint8_t>(state.computed >> 8);
  }
}

}  // namespace

void UpdateHeaderChecksums(std::span<uint8_t> header) {
  StoreChecksums(header, kHeaderRecordArea);
}

void UpdateWrittenHeaderChecksums(std::span<uint8_t> image) {
  StoreChecksums(image, image.size());
}

std::array<ParameterRecordState, kParameterRecordCount> CheckHeaderChecksums(
    std::span<const uint8_t> header) {
  std::array<ParameterRecordState, kParameterRecordCount> states;
  for (size_t i = 0; i < kParameterRecordCount; ++i)
    states[i] = RecordState(header, kParameterRecordOffsets[i]);
  return states;
}

// ---- End marker ------------------------------------------------------------

size_t FindEndMarker(const uint8_t* data, size_t length) {
  constexpr size_t kWindow = kEndMarker.size();
  constexpr size_t kText = 6;  // "ENDSTR"
  std::array<uint8_t, kWindow> window{};
  size_t filled = 0;  // 0 = idle, waiting for an 'E'

  for (size_t i = 0; i < length; ++i) {
    const uint8_t byte = data[i];
    if (filled == 0) {
      if (byte == 'E') {
        window.fill(0);
        window[0] = byte;
        filled = 1;
      }
      continue;
    }
    window[filled++] = byte;
    if (filled < kWindow) continue;

    const bool text = std::equal(kEndMarker.begin(), kEndMarker.begin() + kText, window.begin());
    if (text && window[6] == kEndMarker[6] && window[7] == kEndMarker[7]) return i + 1;
    if (text) {
      filled = 0;
      continue;
    }
    // Re-synchronise on the next 'E' after the first byte, up to a zero byte,
    // and keep the bytes from there up to the next zero byte.
    size_t from = 0;
    for (size_t j = 1; j < kWindow && window[j] != 0; ++j) {
      if (window[j] == 'E') {
        from = j;
        break;
      }
    }
    if (from == 0) {
      filled = 0;
      continue;
    }
    size_t to = from;
    while (to < kWindow && window[to] != 0) ++to;
    std::array<uint8_t, kWindow> kept{};
    std::copy(window.begin() + from, window.begin() + to, kept.begin());
    window = kept;
    filled = to - from;
  }
  return length;
}

// ---- Chip type 12 bank -----------------------------------------------------

namespace {
constexpr size_t kBankMinimum = kBankCrcLowAt + 1;  // 0xC000
}  // namespace

uint16_t StoredBankCrc16(std::span<const uint8_t> bank) {
  if (bank.size() < kBankMinimum) return 0;
  return static_cast<uint16_t>(bank[kBankCrcHighAt] << 8 | bank[kBankCrcLowAt]);
}

uint16_t ComputedBankCrc16(std::span<const uint8_t> bank) {
  if (bank.size() < kBankMinimum) return 0;
  return Crc16OverWords(bank.data(), kBankCrcCoveredLength, 0);
}

uint32_t StoredDiskImageCrc32(std::span<const uint8_t> image) {
  if (image.size() < kBankMinimum) return 0;
  const uint8_t* p = image.data() + kDiskImageCrc32At;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t ComputedDiskImageCrc32(std::span<const uint8_t> image) {
  if (image.size() < kBankMinimum) return 0;
  uint32_t crc = 0;
  Crc32OverWords(image.data(), kBankCrcCoveredLength, false, crc);
  return crc;
}

bool BankImageIsValid(std::span<const uint8_t> bank, int chipType) {
  if (ChipRowFor(chipType).signature != SignatureKind::Bank || bank.size() < kBankMinimum)
    return false;
  const SignatureBlock block = SignatureBlock::At(bank, kBankSignatureOffset);
  if (!block.HasMagic() || block.ChipId().substr(0, 3) != kBankChipModel) return false;
  return ComputedBankCrc16(bank) == StoredBankCrc16(bank);
}

}  // namespace fwtool
