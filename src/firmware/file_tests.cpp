// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_tests.h"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "checksums.h"
#include "chip_rows.h"
#include "flash_commands.h"
#include "image_file.h"
#include "operator.h"

namespace fwtool {

namespace {

constexpr size_t kFileLengthAt = 12;  // big-endian, "775" ids from revision 3 on

bool BeginsWith(std::string_view id, std::string_view prefix) {
  return id.size() >= prefix.size() && id.substr(0, prefix.size()) == prefix;
}

char Digit(int value) {
  return static_cast<char>('0' + value);
}

FileVerdict Verdict(bool passes, std::string reason) {
  FileVerdict v;
  v.opened = true;
  v.passes = passes;
  v.reason = std::move(reason);
  return v;
}

FileVerdict NotOpened(const std::string& path, const std::string& why) {
  FileVerdict v;
  v.reason = fmt::format("{} cannot be opened: {}.", path, why);
  return v;
}

BlockReader FileBlockReader(ImageFile& file) {
  return [&file](uint32_t offset) { return file.BlockAt(offset); };
}

bool IsHeaderAreaType(int type) {
  return ChipRowFor(type).headerArea;
}

// The chip id and "the block read last" after the place tests.
struct Examined {
  std::string chipId;
  uint32_t idPlace = 0;
  SignatureBlock last;
  uint32_t lastPlace = 0;
};

// The chip id of the sub-revision when it has one of its own.
std::string_view IdOfRevision(const ChipRow& row, int subRev) {
  if (subRev < 1 || subRev > static_cast<int>(row.fileIdsByRevision.size())) return {};
  return row.fileIdsByRevision[static_cast<size_t>(subRev - 1)];
}

FileVerdict Decide(int type, int subRev, const Examined& e) {
  const ChipRow& row = ChipRowFor(type);
  const std::string id = e.chipId;
  const std::string where = fmt::format("chip id \"{}\" at 0x{:X}", PrintableChipId(id), e.idPlace);
  const std::string_view prefix = row.fileIdPrefix;
  auto equals = [&](const std::string& wanted) {
    const bool ok = id == wanted;
    return Verdict(ok, fmt::format("{} {} \"{}\" (sub-revision {}).", where, ok ? "is" : "is not",
                                   PrintableChipId(wanted), subRev));
  };
  switch (row.fileIdRule) {
    case FileIdRule::Never:
      return Verdict(false, fmt::format("no firmware file matches chip type {}.", type));
    case FileIdRule::Any:
      return Verdict(true, fmt::format("any file is taken for chip type {}.", type));
    case FileIdRule::BeginsWith: {
      const bool ok = BeginsWith(id, prefix);
      return Verdict(
          ok, fmt::format("{} {} with \"{}\".", where, ok ? "begins" : "does not begin", prefix));
    }
    case FileIdRule::DoesNotBeginWith: {
      const bool ok = !BeginsWith(id, prefix);
      return Verdict(
          ok, fmt::format("{} {} with \"{}\".", where, ok ? "does not begin" : "begins", prefix));
    }
    case FileIdRule::PrefixAndRevision: {
      const std::string_view own = IdOfRevision(row, subRev);
      if (!own.empty()) return equals(std::string(own));
      return equals(std::string(prefix) + Digit(subRev - 1));
    }
    case FileIdRule::RevisionByte: {
      if (!e.last.complete)
        return Verdict(false,
                       fmt::format("the file is too short for the block at 0x{:X}.", e.lastPlace));
      uint8_t value = e.last.bytes[kSubRevisionAt];
      if (value != 0) value = static_cast<uint8_t>(value - '0');
      const bool ok = value == static_cast<uint8_t>(subRev - 1);
      return Verdict(ok, fmt::format("byte 8 of the block at 0x{:X} gives sub-revision {}, the "
                                     "chip has {}.",
                                     e.lastPlace, (value + 1) & 0xFF, subRev));
    }
    case FileIdRule::BlockOfRevision: {
      const std::string_view tail = IdOfRevision(row, subRev);
      if (tail.empty())
        return Verdict(false,
                       fmt::format("no file matches chip type {} sub-revision {}.", type, subRev));
      std::array<uint8_t, 8> wanted{0x55, 0xAA, 0xAA, 0x55};
      // The id fills the last four bytes of the block, never more.
      for (size_t i = 0; i < tail.size() && 4 + i < wanted.size(); ++i)
        wanted[4 + i] = static_cast<uint8_t>(tail[i]);
      const bool ok = std::equal(wanted.begin(), wanted.end(), e.last.bytes.begin());
      return Verdict(ok, fmt::format("the block at 0x{:X} {} 55 AA AA 55 \"{}\".", e.lastPlace,
                                     ok ? "is" : "is not", tail));
    }
  }
  return Verdict(false, fmt::format("no firmware file matches chip type {}.", type));
}

}  // namespace

BlockReader BlockReaderFor(std::span<const uint8_t> image) {
  return [image](uint32_t offset) { return SignatureBlock::At(image, offset); };
}

// ---- Header area -----------------------------------------------------------

bool HeaderAreaPresent(const BlockReader& read, int chipType) {
  bool present = false;
  if (!read(0).HasMagic()) {
    const SignatureBlock block = read(kHeaderedSignatureOffset);
    present = block.HasMagic() && ChipIdMatchesModel(chipType, block.ChipId());
  }
  if (!present && ChipRowFor(chipType).signature == SignatureKind::Block80) {
    const SignatureBlock block = read(kBlock80Offset);
    present = block.StartsWith(kBlock80HeaderMagic) && ChipIdMatchesModel(chipType, block.ChipId());
  }
  return present;
}

bool ImageHasHeaderArea(std::span<const uint8_t> image, int chipType) {
  return HeaderAreaPresent(BlockReaderFor(image), chipType);
}

bool FileHasHeaderArea(const std::string& path, int chipType) {
  auto file = ImageFile::Open(path);
  if (!file) return false;
  return HeaderAreaPresent(FileBlockReader(*file), chipType);
}

// ---- 8-bit file sum --------------------------------------------------------

FileSumCheck CheckFileSumBytes(std::span<const uint8_t> file) {
  FileSumCheck check;
  if (file.size() < kFileSumMinimumSize) {
    check.reason = fmt::format("the file has {} bytes, fewer than the {} a summed image holds.",
                               file.size(), kFileSumMinimumSize);
    return check;
  }
  check.position = file.size() == kFileSumFullSize ? 0xFFFF : 0x7FFF;
  size_t n = file.size() - 1;

  const std::string id = SignatureBlock::At(file, 0).ChipId();
  if (BeginsWith(id, "775") && id[3] >= '3' && id[3] <= '9') {
    check.lengthFromFile = true;
    n = static_cast<size_t>(file[kFileLengthAt] << 8 | file[kFileLengthAt + 1]);
    if (n > file.size()) {
      check.reason =
          fmt::format("the length in bytes 12-13 ({}) reaches past the end of the file ({} bytes).",
                      n, file.size());
      return check;
    }
    n = FindEndMarker(file.data(), n);
  }
  check.summed = n;
  check.sum = ByteSum(file.data(), n);
  check.stored = file[check.position];
  check.passes = check.sum == check.stored;
  check.reason =
      fmt::format("the sum of bytes 0..{} is 0x{:02X}, the byte at 0x{:X} is 0x{:02X}.",
                  static_cast<long long>(n) - 1, check.sum, check.position, check.stored);
  return check;
}

namespace {
FileVerdict HeaderAreaKeepsNoSum(int type) {
  return Verdict(true, fmt::format("the image carries its own header area for chip type {}; "
                                   "such images keep no file sum.",
                                   type));
}
}  // namespace

FileVerdict CheckFileSum(const std::string& path, uint16_t chip) {
  const int type = chip & 0xFF;
  if (FileHasHeaderArea(path, type)) return HeaderAreaKeepsNoSum(type);
  std::string why;
  auto file = ImageFile::Open(path, &why);
  if (!file) return NotOpened(path, why);
  std::vector<uint8_t> data;
  if (!file->ReadAll(data, &why)) return Verdict(false, fmt::format("{}: {}.", path, why));
  const FileSumCheck check = CheckFileSumBytes(data);
  return Verdict(check.passes, check.reason);
}

FileVerdict CheckImageSum(std::span<const uint8_t> image, uint16_t chip) {
  const int type = chip & 0xFF;
  if (ImageHasHeaderArea(image, type)) return HeaderAreaKeepsNoSum(type);
  const FileSumCheck check = CheckFileSumBytes(image);
  return Verdict(check.passes, check.reason);
}

bool VerifyFileSum(const std::string& path, uint16_t chip) {
  return CheckFileSum(path, chip).passes;
}

// ---- File-to-chip match ----------------------------------------------------

FileVerdict MatchImage(const BlockReader& read, uint16_t chip) {
  const int type = chip & 0xFF;
  const int subRev = chip >> 8;

  const SignatureKind kind = ChipRowFor(type).signature;
  uint32_t place = 0;
  if (kind == SignatureKind::Upper) place = kUpperSignatureOffset;
  if (kind == SignatureKind::Bank) place = kBankSignatureOffset;
  const SignatureBlock block = read(place);
  if (!block.complete)
    return Verdict(false,
                   fmt::format("the file is too short for the signature block at 0x{:X}.", place));
  if (place != 0 && !block.StartsWith(kShortSignatureMagic))
    return Verdict(false, fmt::format("no 55 AA signature at 0x{:X}.", place));

  Examined e{block.ChipId(), place, block, place};
  if (kind == SignatureKind::Block80) {
    e.last = read(kBlock80Offset);
    e.lastPlace = kBlock80Offset;
    if (!e.last.StartsWith(kBlock80Magic))
      return Verdict(false, fmt::format("no E9 AC 67 block at 0x{:X}.", kBlock80Offset));
    e.chipId = e.last.ChipId();
    e.idPlace = kBlock80Offset;
  } else if (IsHeaderAreaType(type)) {
    const std::string_view model = ChipModel(type);
    if (block.HasMagic()) {
      if (!ChipIdMatchesModel(type, e.chipId))
        return Verdict(false, fmt::format("chip id \"{}\" at 0x{:X} does not name model {}.",
                                          PrintableChipId(e.chipId), place, model));
    } else {
      e.last = read(kHeaderedSignatureOffset);
      e.lastPlace = kHeaderedSignatureOffset;
      if (e.last.HasMagic()) {
        e.chipId = e.last.ChipId();
        e.idPlace = kHeaderedSignatureOffset;
        if (!ChipIdMatchesModel(type, e.chipId))
          return Verdict(false, fmt::format("chip id \"{}\" at 0x{:X} does not name model {}.",
                                            PrintableChipId(e.chipId), e.idPlace, model));
      }
    }
  }
  return Decide(type, subRev, e);
}

FileVerdict ImageMatchesChip(std::span<const uint8_t> image, uint16_t chip) {
  return MatchImage(BlockReaderFor(image), chip);
}

FileVerdict MatchFirmwareFile(const std::string& path, uint16_t chip) {
  std::string why;
  auto file = ImageFile::Open(path, &why);
  if (!file) return NotOpened(path, why);
  return MatchImage(FileBlockReader(*file), chip);
}

bool FirmwareFileMatchesChip(OperatorServices& op, const std::string& path, uint16_t chip) {
  const FileVerdict verdict = MatchFirmwareFile(path, chip);
  if (!verdict.opened) op.MessageBox(kOpenFirmwareFileError, kCaptionError, MessageIcon::None);
  return verdict.passes;
}

// ---- File size -------------------------------------------------------------

long FileSizeOf(std::FILE* file) {
  const long position = std::ftell(file);
  if (position < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(file);
  std::fseek(file, position, SEEK_SET);
  return size;
}

int FirmwareFitsFlash(OperatorServices& op, const std::string& fileName, uint32_t flashSizeKB) {
  std::error_code ec;
  const bool isDirectory = std::filesystem::is_directory(fileName, ec);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
      isDirectory ? nullptr : std::fopen(fileName.c_str(), "rb"), &std::fclose);
  if (!file) {
    op.MessageBox(kOpenFirmwareFileError, kCaptionError, MessageIcon::None);
    return 0;
  }
  const long size = FileSizeOf(file.get());
  if (size < 0) return 0;
  return static_cast<uint32_t>(size) <= flashSizeKB * 1024u ? 1 : 0;
}

}  // namespace fwtool
