// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool image: inspect a firmware image and test it against a chip type.
//
//   fwtool image info FILE [--json]          what the image's layout says
//   fwtool image info --embedded [--json]    the same for the image built in
//   fwtool image check FILE --chip TYPE[.SUBREV] [--checksum] [--json]
//
// check exits 0 when the image passes, 1 when it does not, 2 on a usage error
// or a file that cannot be opened; it always says why.
#include <fmt/format.h>

#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "chip_rows.h"
#include "cli_context.h"
#include "firmware.h"
#include "firmware_version_place.h"
#include "identify.h"

namespace fwtool::cli {

namespace {

using nlohmann::json;

struct ImageOptions {
  std::string file;
  bool embedded = false;
  std::string chip;
  bool checksum = false;
};

// The image to work on: a file read whole, or the embedded image.
struct LoadedImage {
  std::string name;
  std::vector<uint8_t> bytes;
};

std::optional<LoadedImage> LoadImage(const ImageOptions& options) {
  if (options.embedded == !options.file.empty()) {
    std::fprintf(stderr, "fwtool image: give either a FILE or --embedded.\n");
    return std::nullopt;
  }
  if (options.embedded) {
    const auto image = EmbeddedImage();
    if (image.empty()) {
      std::fprintf(stderr, "fwtool image: this build carries no embedded image.\n");
      return std::nullopt;
    }
    return LoadedImage{std::string(kEmbeddedImageName), {image.begin(), image.end()}};
  }
  std::string why;
  auto file = ImageFile::Open(options.file, &why);
  if (!file) {
    std::fprintf(stderr, "fwtool image: %s cannot be opened: %s.\n", options.file.c_str(),
                 why.c_str());
    return std::nullopt;
  }
  LoadedImage loaded{options.file, {}};
  if (!file->ReadAll(loaded.bytes, &why)) {
    std::fprintf(stderr, "fwtool image: %s cannot be read: %s.\n", options.file.c_str(),
                 why.c_str());
    return std::nullopt;
  }
  return loaded;
}

// "8" or "8.1": chip type and sub-revision, each 0..255.
std::optional<uint16_t> ParseChip(const std::string& text) {
  auto number = [](std::string_view s) -> std::optional<unsigned> {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value > 255)
      return std::nullopt;
    return value;
  };
  const std::string_view all(text);
  const size_t dot = all.find('.');
  const auto type = number(all.substr(0, dot));
  const auto subRev =
      dot == std::string_view::npos ? std::optional<unsigned>(0) : number(all.substr(dot + 1));
  if (!type || !subRev) return std::nullopt;
  return MakeIdentification(static_cast<uint8_t>(*type), static_cast<uint8_t>(*subRev));
}

std::string Hex(uint32_t value, int digits) {
  return fmt::format("0x{:0{}X}", value, digits);
}

std::string ChipText(int chipType) {
  return fmt::format("chip type {}, {}", chipType, ChipLabel(chipType));
}

// ---- info ------------------------------------------------------------------

json InfoJson(const LoadedImage& image, const ImageInfo& info) {
  json j;
  j["file"] = image.name;
  j["size"] = info.size;
  j["chipIdAtZero"] = PrintableChipId(info.chipIdAtZero);
  j["signatures"] = json::array();
  for (const auto& s : info.signatures) {
    j["signatures"].push_back({{"offset", s.offset},
                               {"magic", MagicName(s.magic)},
                               {"chipId", PrintableChipId(s.chipId)},
                               {"chipType", s.chipType},
                               {"label", ChipLabel(s.chipType)}});
  }
  json header;
  header["present"] = info.headerArea;
  if (info.headerArea) {
    header["signatureOffset"] = info.headerSignatureOffset;
    header["chipType"] = info.headerChipType;
    header["marker"] = info.headerMarker;
    header["validRecords"] = info.validRecords;
    header["records"] = json::array();
    for (const auto& r : info.records) {
      header["records"].push_back({{"offset", r.offset},
                                   {"words", r.words},
                                   {"coveredWords", r.coveredWords},
                                   {"stored", r.stored},
                                   {"computed", r.computed},
                                   {"valid", r.Valid()}});
    }
  }
  j["headerArea"] = header;
  if (info.versionBytes) {
    j["firmwareVersion"] = {{"offset", kFirmwareVersionOffset},
                            {"bytes", *info.versionBytes},
                            {"text", info.versionText}};
  }
  j["endMarker"] = {{"found", info.endMarkerFound}, {"length", info.endMarkerLength}};
  j["banks"] = json::array();
  for (const auto& b : info.banks) {
    j["banks"].push_back({{"offset", b.offset},
                          {"chipId", PrintableChipId(b.chipId)},
                          {"crc16Stored", b.storedCrc16},
                          {"crc16Computed", b.computedCrc16},
                          {"crc16Valid", b.storedCrc16 == b.computedCrc16},
                          {"crc32Stored", b.storedCrc32},
                          {"crc32Computed", b.computedCrc32},
                          {"crc32Valid", b.storedCrc32 == b.computedCrc32}});
  }
  const FileSumCheck& sum = info.fileSum;
  j["fileSum"] = {{"passes", sum.passes}, {"position", sum.position},
                  {"summed", sum.summed}, {"sum", sum.sum},
                  {"stored", sum.stored}, {"lengthFromFile", sum.lengthFromFile},
                  {"reason", sum.reason}};
  return j;
}

void PrintInfo(const LoadedImage& image, const ImageInfo& info) {
  fmt::print("File:              {}\n", image.name);
  fmt::print("Size:              {} bytes\n", info.size);
  if (info.signatures.empty()) {
    if (info.chipIdAtZero.empty())
      fmt::print("Signature block:   none; the file is too short for one\n");
    else
      fmt::print(
          "Signature block:   no magic at 0, 0x80, 0x1000, 0x4000 or 0xBFF0; chip id at 0 "
          "reads \"{}\"\n",
          PrintableChipId(info.chipIdAtZero));
  }
  for (const auto& s : info.signatures) {
    fmt::print("Signature block:   at {}, magic {}, chip id \"{}\" ({})\n", Hex(s.offset, 4),
               MagicName(s.magic), PrintableChipId(s.chipId),
               s.chipType != kUnrecognisedChip
                   ? fmt::format("model {}, {}", ChipModel(s.chipType), ChipText(s.chipType))
                   : std::string("not a known model"));
  }
  if (!info.headerArea) {
    fmt::print("Header area:       none (the firmware starts at 0)\n");
  } else {
    fmt::print("Header area:       4096 bytes before the signature block at {} ({})\n",
               Hex(info.headerSignatureOffset, 4), ChipText(info.headerChipType));
    fmt::print("Header marker:     {}\n", info.headerMarker ? "\"VQ\" at 126..127"
                                                            : "missing (bytes 126..127 are not "
                                                              "\"VQ\")");
    fmt::print("Parameter records: {} of {} checksums valid\n", info.validRecords,
               info.records.size());
    for (const auto& r : info.records) {
      fmt::print("  at {}  N = {:3}  CRC-16 stored {} computed {}  {}{}\n", Hex(r.offset, 3),
                 r.words, Hex(r.stored, 4), Hex(r.computed, 4), r.Valid() ? "valid" : "INVALID",
                 r.coveredWords != r.words
                     ? fmt::format(" (only {} words lie inside the area)", r.coveredWords)
                     : std::string());
    }
  }
  if (info.versionBytes) {
    const auto& v = *info.versionBytes;
    fmt::print("Firmware version:  {} (bytes {:02X} {:02X} {:02X} {:02X} {:02X} {:02X} at {})\n",
               info.versionText, v[0], v[1], v[2], v[3], v[4], v[5],
               Hex(kFirmwareVersionOffset, 4));
  }
  if (info.endMarkerFound) {
    fmt::print("End marker:        \"ENDSTR\" 55 AA ends at byte {}{}\n", info.endMarkerLength,
               info.endMarkerLength == info.size ? " (the last eight bytes)" : "");
  } else {
    fmt::print("End marker:        none\n");
  }
  for (const auto& b : info.banks) {
    fmt::print(
        "Bank at {}:     chip id \"{}\"; CRC-16 stored {} computed {} ({}); CRC-32 "
        "stored {} computed {} ({})\n",
        Hex(b.offset, 5), PrintableChipId(b.chipId), Hex(b.storedCrc16, 4), Hex(b.computedCrc16, 4),
        b.storedCrc16 == b.computedCrc16 ? "valid" : "invalid", Hex(b.storedCrc32, 8),
        Hex(b.computedCrc32, 8), b.storedCrc32 == b.computedCrc32 ? "valid" : "invalid");
  }
  if (info.banks.empty())
    fmt::print("CRC-16/CRC-32:     not in this layout (no 55 AA block at 0xBFF0)\n");
  fmt::print("File sum:          {}: {}\n", info.fileSum.passes ? "passes" : "fails",
             info.fileSum.reason);
}

int RunInfo(const ImageOptions& options, bool asJson) {
  const auto image = LoadImage(options);
  if (!image) return kExitUsage;
  const ImageInfo info = DescribeImage(image->bytes);
  if (asJson)
    fmt::print("{}\n", InfoJson(*image, info).dump(2));
  else
    PrintInfo(*image, info);
  return kExitOk;
}

// ---- check -----------------------------------------------------------------

int RunCheck(const ImageOptions& options, bool asJson) {
  const auto chip = ParseChip(options.chip);
  if (!chip) {
    std::fprintf(stderr,
                 "fwtool image check: --chip wants TYPE or TYPE.SUBREV (numbers 0..255), not "
                 "\"%s\".\n",
                 options.chip.c_str());
    return kExitUsage;
  }
  const auto image = LoadImage(options);
  if (!image) return kExitUsage;
  const int type = ChipTypeOf(*chip);
  const int subRev = ChipSubRevOf(*chip);

  const FileVerdict match = ImageMatchesChip(image->bytes, *chip);
  bool passes = match.passes;
  std::optional<FileVerdict> sum;
  if (options.checksum) {
    // As "Check CheckSum" runs it: an image with its own header area keeps no sum.
    sum = CheckImageSum(image->bytes, *chip);
    passes = passes && sum->passes;
  }

  if (asJson) {
    json j;
    j["file"] = image->name;
    j["chip"] = {{"type", type}, {"subRevision", subRev}, {"label", ChipLabel(type)}};
    j["matches"] = match.passes;
    j["matchReason"] = match.reason;
    if (sum) j["fileSum"] = {{"passes", sum->passes}, {"reason", sum->reason}};
    j["passes"] = passes;
    fmt::print("{}\n", j.dump(2));
    return passes ? kExitOk : kExitFailed;
  }

  const std::string chipText = fmt::format("{}, sub-revision {}", ChipText(type), subRev);
  if (match.passes)
    fmt::print("{} is meant for {}: {}\n", image->name, chipText, match.reason);
  else
    fmt::print("{} {} is not meant for {}: {}\n", kFileNotMatchChip, image->name, chipText,
               match.reason);
  if (sum) {
    if (sum->passes)
      fmt::print("The file sum test passes: {}\n", sum->reason);
    else
      fmt::print("{} The file sum test fails: {}\n", kCheckFileWithChecksum, sum->reason);
  }
  return passes ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterImageCommands(CLI::App& app, CliContext& ctx) {
  auto options = std::make_shared<ImageOptions>();
  CLI::App* image = app.add_subcommand("image", "Inspect firmware images and test them");
  image->require_subcommand(1);
  image->footer(Examples({"fwtool image info new.bin", "fwtool image check new.bin --chip 8"}));

  CLI::App* info = image->add_subcommand(
      "info", "Show an image's layout: signature blocks, header area, checksums, end marker");
  info->add_option("FILE", options->file, "Firmware image file")->type_name("");
  info->add_flag("--embedded", options->embedded, "Describe the image built into fwtool");
  info->add_flag("--json", ctx.json, "Print JSON");
  info->footer(Examples({"fwtool image info VQB719FW.bin", "fwtool image info --embedded --json"}));
  info->callback([options, &ctx] { ctx.exitCode = RunInfo(*options, ctx.json); });

  CLI::App* check = image->add_subcommand(
      "check", "Test whether an image is meant for a chip type (exit 0 yes, 1 no, 2 error)");
  check->add_option("FILE", options->file, "Firmware image file")->type_name("");
  check->add_flag("--embedded", options->embedded, "Test the image built into fwtool");
  check->add_option("--chip", options->chip, "Chip type and sub-revision, e.g. 8 or 7.2")
      ->type_name("TYPE")
      ->required();
  check->add_flag("--checksum", options->checksum,
                  "Also run the 8-bit file sum test (\"Check CheckSum\")");
  check->add_flag("--json", ctx.json, "Print JSON");
  check->footer(
      Examples({"fwtool image check new.bin --chip 8", "fwtool image check --embedded --chip 9"}));
  check->callback([options, &ctx] { ctx.exitCode = RunCheck(*options, ctx.json); });
}

}  // namespace fwtool::cli
