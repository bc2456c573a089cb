// Arbitrary bytes as a firmware image: what `fwtool image info` and
// `fwtool image check` run on a file a user hands them. Every layout reader
// must stay inside the bytes it was given, and every text it produces must
// print as JSON.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <span>

#include "IDEAccess.h"
#include "firmware.h"

namespace {

void MustPrint(const std::string& text) {
  // dump() throws on bytes that are not UTF-8: the command would die.
  (void)nlohmann::json(text).dump();
}

void Require(bool condition) {
  if (!condition) std::abort();
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
  for (int type = 0; type <= 21; ++type) {
    const uint16_t chip = MakeIdentification(static_cast<uint8_t>(type), subRev);
    const FileVerdict match = ImageMatchesChip(image, chip);
    MustPrint(match.reason);
    const FileVerdict sum = CheckImageSum(image, chip);
    MustPrint(sum.reason);
    (void)ImageHasHeaderArea(image, type);
  }
  return 0;
}
