// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary bytes as a firmware image: what `fwtool image info` and
// `fwtool image check` run on a file a user hands them. Every layout reader
// must stay inside the bytes it was given, every text it produces must print
// as JSON, and the tests on a file (the window's road) must say what the same
// tests on the bytes in memory (the command line's road) say.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "firmware.h"
#include "identify.h"

namespace {

void MustPrint(const std::string& text) {
  // dump() throws on bytes that are not UTF-8: the command would die.
  (void)nlohmann::json(text).dump();
}

void Require(bool condition) {
  if (!condition) std::abort();
}

// The input as a file, in memory where the system has a tmpfs.
const std::string& ScratchFile() {
  static const std::string path = [] {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir =
        fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    return (dir / ("fwtool-image-fuzz-" + std::to_string(::getpid()) + ".bin")).string();
  }();
  static const bool removeAtExit = [] {
    std::atexit([] { std::remove(path.c_str()); });
    return true;
  }();
  (void)removeAtExit;
  return path;
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fwtool;
  const std::span<const uint8_t> image(data, size);

  const ImageInfo info = DescribeImage(image);
  Require(info.size == size);
  MustPrint(PrintableChipId(info.chipIdAtZero));
  for (const auto& s : info.signatures) {
    Require(s.offset + 10 <= size);
    MustPrint(PrintableChipId(s.chipId));
  }
  for (const auto& b : info.banks) MustPrint(PrintableChipId(b.chipId));
  Require(info.endMarkerLength <= size);
  Require(info.validRecords <= info.records.size());
  MustPrint(info.fileSum.reason);
  MustPrint(info.versionText);
  Require(info.fileSum.summed <= size);

  // image check --chip TYPE.SUBREV [--checksum], for every chip type; the
  // sub-revision comes from the last byte so the revision rules are reached.
  const uint8_t subRev = size > 0 ? data[size - 1] % 8 : 0;
  if (size == 0) return 0;
  const std::string& file = ScratchFile();
  Require(WriteFile(file, data, size));
  for (int type = 0; type <= 21; ++type) {
    const uint16_t chip = MakeIdentification(static_cast<uint8_t>(type), subRev);
    const FileVerdict match = ImageMatchesChip(image, chip);
    MustPrint(match.reason);
    const FileVerdict sum = CheckImageSum(image, chip);
    MustPrint(sum.reason);
    const bool header = ImageHasHeaderArea(image, type);

    // The file road is slow (it reads piece by piece): two types an input.
    if (type != data[0] % 22 && type != (size > 1 ? data[1] : 8) % 22) continue;
    const FileVerdict fileMatch = MatchFirmwareFile(file, chip);
    Require(fileMatch.opened && fileMatch.passes == match.passes);
    const FileVerdict fileSum = CheckFileSum(file, chip);
    Require(fileSum.passes == sum.passes);
    Require(FileHasHeaderArea(file, type) == header);
  }
  return 0;
}
