// SPDX-License-Identifier: GPL-2.0-or-later
#include "farm_description.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "chip_profile.h"
#include "flash_part.h"

namespace fwtool::sim {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

std::optional<uint64_t> Number(std::string_view text) {
  uint64_t value = 0;
  const auto* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
  return value;
}

std::optional<std::vector<uint8_t>> HexBytes(std::string_view text, size_t maxBytes) {
  if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > maxBytes) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (ec != std::errc{} || ptr != text.data() + i + 2) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}

class UnitParser {
 public:
  UnitParser(int number, std::string_view text) : number_(number), text_(text) {
    config_.text = std::string(text);
  }

  std::optional<UnitConfig> Parse(std::string* error) {
    const auto items = Split(text_, ':');
    for (size_t i = 0; i < items.size(); ++i) {
      const std::string_view item = Trim(items[i]);
      if (item.empty()) return Fail(error, "has an empty item");
      const size_t equals = item.find('=');
      const std::string key = Lower(Trim(item.substr(0, equals)));
      const std::string_view value =
          equals == std::string_view::npos ? std::string_view{} : Trim(item.substr(equals + 1));
      const bool hasValue = equals != std::string_view::npos;
      std::string reason;
      if (!hasValue && ChipTypeFromName(key)) {
        reason = SetChip(key);
      } else {
        reason = Option(key, value, hasValue, items, i);
      }
      if (!reason.empty()) return Fail(error, reason);
    }
    if (config_.chipType == 0)
      return Fail(error, "names no chip (give a name such as vqb719, or chip=1..21)");
    return config_;
  }

 private:
  std::optional<UnitConfig> Fail(std::string* error, const std::string& reason) const {
    if (error != nullptr) *error = fmt::format("unit {} (\"{}\") {}", number_, text_, reason);
    return std::nullopt;
  }

  std::string SetChip(std::string_view name) {
    if (config_.chipType != 0) return "names its chip twice";
    if (auto type = ChipTypeFromName(name)) {
      config_.chipType = *type;
      config_.chipName = Lower(name);
      return {};
    }
    if (auto number = Number(name); number && *number >= 1 && *number <= 21) {
      config_.chipType = static_cast<int>(*number);
      return {};
    }
    return fmt::format("has chip=\"{}\": give a chip type 1 to 21 or a chip name", name);
  }

  static std::string NeedsNumber(std::string_view key, std::string_view value,
                                 std::string_view range) {
    return fmt::format("has {}=\"{}\": {} needs a number {}", key, value, key, range);
  }

  std::optional<uint64_t> Counter(std::string_view key, std::string_view value,
                                  std::string& reason) {
    auto number = Number(value);
    if (!number || *number == 0) {
      reason = NeedsNumber(key, value, "from 1");
      return std::nullopt;
    }
    return number;
  }

  // Flags take no value or 0/1.
  std::optional<bool> Flag(std::string_view key, std::string_view value, bool hasValue,
                           std::string& reason) {
    if (!hasValue || value == "1") return true;
    if (value == "0") return false;
    reason = fmt::format("has {}=\"{}\": {} takes no value, 0 or 1", key, value, key);
    return std::nullopt;
  }

  std::string Option(const std::string& key, std::string_view value, bool hasValue,
                     const std::vector<std::string_view>& items, size_t& index) {
    static const std::vector<std::string> kFlags = {"cdrom", "protect", "stuck-busy", "bit-error",
                                                    "a1",    "flag17",  "slow",       "partition"};
    const bool isFlag = std::find(kFlags.begin(), kFlags.end(), key) != kFlags.end();
    if (!hasValue && !isFlag) {
      static const std::vector<std::string> kKeys = {
          "chip",       "rev",      "maker",    "size",         "jedec",      "fw",
          "version",    "serial",   "bus",      "fail-command", "fail-match", "vanish",
          "power-loss", "bank",     "reg",      "parallel",     "disk",       "sector",
          "visible",    "capacity", "identify", "status-lost",  "read-flip",  "power-loss-write"};
      if (std::find(kKeys.begin(), kKeys.end(), key) != kKeys.end())
        return fmt::format("has \"{}\" without a value ({}=...)", key, key);
      return fmt::format("has \"{}\", which is neither a chip name nor an option", key);
    }
    std::string reason;
    if (key == "chip") return SetChip(value);
    if (key == "rev") {
      auto number = Number(value);
      if (!number || *number > 255) return NeedsNumber(key, value, "0 to 255");
      config_.subRev = static_cast<int>(*number);
    } else if (key == "maker") {
      auto maker = MakerCodeFromName(value);
      if (!maker)
        return fmt::format(
            "has maker=\"{}\": give pmc, sst, st, atmel, mxic, winbond, amic, eon, esmt, sanyo, "
            "unknown or a code 0 to 10",
            value);
      config_.maker = *maker;
    } else if (key == "size") {
      auto kb = Number(value);
      if (!kb || *kb < 64 || *kb > 16384 || (*kb & (*kb - 1)) != 0)
        return NeedsNumber(key, value, "of KB, a power of two from 64 to 16384");
      config_.flashKB = static_cast<uint32_t>(*kb);
    } else if (key == "jedec") {
      auto bytes = HexBytes(value, 6);
      if (!bytes)
        return fmt::format("has jedec=\"{}\": give 1 to 6 bytes in hex, such as c22010", value);
      config_.jedecId = *bytes;
    } else if (key == "fw") {
      const std::string lower = Lower(value);
      if (lower == "old" || lower == "older") {
        config_.firmware = FirmwareSource::Older;
      } else if (lower == "embedded") {
        config_.firmware = FirmwareSource::Embedded;
      } else if (lower == "blank") {
        config_.firmware = FirmwareSource::Blank;
      } else {
        // A file path; a drive letter ("C:\...") continues past the colon.
        std::string path(value);
        if (path.size() == 1 && std::isalpha(static_cast<unsigned char>(path[0])) &&
            index + 1 < items.size()) {
          path += ":" + std::string(items[++index]);
        }
        if (path.empty()) return "has fw= without a value: give old, embedded, blank or a file";
        config_.firmware = FirmwareSource::File;
        config_.firmwareFile = path;
      }
    } else if (key == "version") {
      const auto parts = Split(value, '.');
      if (parts.empty() || parts.size() > 6)
        return fmt::format(
            "has version=\"{}\": give up to six numbers 0 to 255, such as "
            "5.3.1.16.0.0",
            value);
      std::array<uint8_t, 6> version{};
      for (size_t k = 0; k < parts.size(); ++k) {
        auto number = Number(parts[k]);
        if (!number || *number > 255)
          return fmt::format(
              "has version=\"{}\": give up to six numbers 0 to 255, such as "
              "5.3.1.16.0.0",
              value);
        version[k] = static_cast<uint8_t>(*number);
      }
      config_.olderVersion = version;
    } else if (key == "serial") {
      if (value.empty() || value.size() > 26)
        return "has a serial that is empty or over 26 characters";
      config_.serial = std::string(value);
    } else if (key == "bus") {
      const std::string lower = Lower(value);
      if (lower == "usb")
        config_.bus = BusKind::Usb;
      else if (lower == "sbp2" || lower == "1394")
        config_.bus = BusKind::Sbp2;
      else
        return fmt::format("has bus=\"{}\": give usb or sbp2", value);
    } else if (key == "bank") {
      const std::string lower = Lower(value);
      if (lower == "good") {
        config_.badBanks = {false, false};
      } else if (lower == "bad0") {
        config_.badBanks = {true, false};
      } else if (lower == "bad1") {
        config_.badBanks = {false, true};
      } else if (lower == "bad") {
        config_.badBanks = {true, true};
      } else {
        return fmt::format("has bank=\"{}\": give good, bad0, bad1 or bad (both)", value);
      }
    } else if (key == "reg") {
      auto number = Number(value);
      if (!number || *number > 255) return NeedsNumber(key, value, "0 to 255");
      config_.regValue = static_cast<uint8_t>(*number);
    } else if (key == "parallel") {
      const std::string lower = Lower(value);
      if (lower == "atmel")
        config_.parallelPart = ParallelPartKind::Atmel;
      else if (lower == "pmc")
        config_.parallelPart = ParallelPartKind::Pmc;
      else if (lower == "sst")
        config_.parallelPart = ParallelPartKind::Sst;
      else
        return fmt::format("has parallel=\"{}\": give atmel, pmc or sst", value);
    } else if (key == "disk" || key == "sector" || key == "visible" || key == "capacity" ||
               key == "identify" || key == "flag17" || key == "partition") {
      return DiskOption(key, value, hasValue);
    } else if (key == "a1") {
      auto flag = Flag(key, value, hasValue, reason);
      if (!flag) return reason;
      config_.a1Chip = *flag;
    } else if (key == "cdrom") {
      auto flag = Flag(key, value, hasValue, reason);
      if (!flag) return reason;
      config_.cdrom = *flag;
    } else if (key == "protect") {
      auto flag = Flag(key, value, hasValue, reason);
      if (!flag) return reason;
      config_.protect = *flag;
    } else if (key == "fail-command") {
      auto n = Counter(key, value, reason);
      if (!n) return reason;
      config_.faults.failCommand = *n;
    } else if (key == "fail-match") {
      const size_t slash = value.find('/');
      auto bytes = HexBytes(value.substr(0, slash), 16);
      std::optional<std::vector<uint8_t>> mask;
      if (slash != std::string_view::npos) mask = HexBytes(value.substr(slash + 1), 16);
      if (!bytes || (slash != std::string_view::npos && (!mask || mask->size() > bytes->size())))
        return fmt::format(
            "has fail-match=\"{}\": give the block's first bytes in hex with an optional "
            "/mask, such as ff0430 or df00000000000000000000fa/ff00000000000000000000ff",
            value);
      BlockPattern pattern;
      pattern.length = static_cast<int>(bytes->size());
      std::copy(bytes->begin(), bytes->end(), pattern.bytes.begin());
      std::fill_n(pattern.mask.begin(), pattern.length, 0xFF);
      if (mask) {
        std::fill_n(pattern.mask.begin(), pattern.length, 0x00);
        std::copy(mask->begin(), mask->end(), pattern.mask.begin());
      }
      config_.faults.failMatching.push_back(pattern);
    } else if (key == "stuck-busy") {
      if (!hasValue) {
        config_.faults.stuckBusyFrom = 1;
      } else {
        auto n = Counter(key, value, reason);
        if (!n) return reason;
        config_.faults.stuckBusyFrom = *n;
      }
    } else if (key == "bit-error") {
      if (!hasValue || Lower(value) == "all") {
        config_.faults.programBitErrors = -1;
      } else {
        auto n = Counter(key, value, reason);
        if (!n) return reason;
        config_.faults.programBitErrors = static_cast<int64_t>(*n);
      }
    } else if (key == "vanish") {
      auto n = Counter(key, value, reason);
      if (!n) return reason;
      config_.faults.vanishAtCommand = *n;
    } else if (key == "power-loss") {
      auto n = Counter(key, value, reason);
      if (!n) return reason;
      config_.faults.powerLossAtOperation = *n;
    } else if (key == "power-loss-write") {
      auto n = Counter(key, value, reason);
      if (!n) return reason;
      config_.faults.powerLossAtDiskWrite = *n;
    } else if (key == "status-lost") {
      auto n = Counter(key, value, reason);
      if (!n) return reason;
      config_.faults.statusLostAtCommand = *n;
    } else if (key == "read-flip") {
      auto n = Counter(key, value, reason);
      if (!n) return reason;
      config_.faults.flipReadBitFrom = *n;
    } else if (key == "slow") {
      auto flag = Flag(key, value, hasValue, reason);
      if (!flag) return reason;
      config_.faults.slowFlash = *flag;
    } else {
      return fmt::format("has \"{}\", which is neither a chip name nor an option", key);
    }
    return {};
  }

  // "500G", "64M", "2T", "4096s": bytes or sectors.
  std::string DiskOption(const std::string& key, std::string_view value, bool hasValue) {
    std::string reason;
    if (key == "flag17" || key == "partition") {
      auto flag = Flag(key, value, hasValue, reason);
      if (!flag) return reason;
      (key == "flag17" ? config_.flag17 : config_.partition) = *flag;
    } else if (key == "disk") {
      const char unit = value.empty() ? '\0' : static_cast<char>(std::tolower(value.back()));
      const std::string_view digits = std::isdigit(static_cast<unsigned char>(unit))
                                          ? value
                                          : value.substr(0, value.size() - 1);
      const auto number = Number(digits);
      int shift = -1;
      if (std::isdigit(static_cast<unsigned char>(unit))) shift = 0;
      if (unit == 'k') shift = 10;
      if (unit == 'm') shift = 20;
      if (unit == 'g') shift = 30;
      if (unit == 't') shift = 40;
      const bool sectors = unit == 's';
      if (!number || *number == 0 || (shift < 0 && !sectors) ||
          (shift > 0 && *number > (uint64_t{1} << (63 - shift))))
        return fmt::format(
            "has disk=\"{}\": give a size such as 500G, 64M, 3T (bytes, K/M/G/T) or a number of "
            "sectors such as 5000s",
            value);
      if (sectors) {
        config_.diskSectors = *number;
        config_.diskBytes.reset();
      } else {
        config_.diskBytes = *number << shift;
        config_.diskSectors.reset();
      }
    } else if (key == "sector") {
      const auto bytes = Number(value);
      if (!bytes || *bytes < 512 || *bytes > 65536 || (*bytes & (*bytes - 1)) != 0)
        return NeedsNumber(key, value, "of bytes, a power of two from 512 to 65536");
      config_.sectorSize = static_cast<uint32_t>(*bytes);
    } else if (key == "visible") {
      auto n = Counter(key, value, reason);
      if (!n) return reason;
      config_.visibleSectors = *n;
    } else if (key == "capacity") {
      const std::string lower = Lower(value);
      if (lower == "fail") {
        config_.faults.capacity = CapacityAnswer::Fail;
      } else if (lower == "ff") {
        config_.faults.capacity = CapacityAnswer::AllOnes;
      } else if (auto n = Number(value); n && *n > 0) {
        config_.faults.capacity = CapacityAnswer::Lie;
        config_.faults.capacityLie = *n;
      } else {
        return fmt::format("has capacity=\"{}\": give fail, ff or the number of sectors to report",
                           value);
      }
    } else if (key == "identify") {
      if (Lower(value) != "fail") return fmt::format("has identify=\"{}\": give fail", value);
      config_.faults.identifyFails = true;
    }
    return {};
  }

  int number_;
  std::string_view text_;
  UnitConfig config_;
};

}  // namespace

std::optional<std::vector<UnitConfig>> ParseFarmDescription(std::string_view text,
                                                            std::string* error) {
  text = Trim(text);
  if (text.empty()) {
    if (error != nullptr) *error = "the description names no unit";
    return std::nullopt;
  }
  std::vector<UnitConfig> units;
  int number = 0;
  for (std::string_view unitText : Split(text, ',')) {
    ++number;
    unitText = Trim(unitText);
    if (unitText.empty()) {
      if (error != nullptr) *error = fmt::format("unit {} is empty", number);
      return std::nullopt;
    }
    auto unit = UnitParser(number, unitText).Parse(error);
    if (!unit) return std::nullopt;
    units.push_back(std::move(*unit));
  }
  return units;
}

}  // namespace fwtool::sim
