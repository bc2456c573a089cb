// SPDX-License-Identifier: GPL-2.0-or-later
// Recognising the serial flash part: which identification instruction each
// maker's parts answer, with which bytes, and how those bytes encode the
// part's size.
#include <array>
#include <span>

#include "chip_tables.h"
#include "flash_id_rules.h"

namespace fwtool {

namespace {

constexpr uint8_t kOpJedecId = 0x9F;
constexpr uint8_t kOpManufacturerDeviceId = 0x90;
constexpr uint8_t kOpElectronicSignature = 0xAB;
constexpr uint8_t kOpMakerId15 = 0x15;

constexpr int32_t kDefaultSizeKB = 64;
constexpr uint8_t kIdProbeLength = 4;
constexpr uint8_t kSizeReadCapacity = 6;

// Bytes an answer must hold at given places.
struct IdPattern {
  struct Byte {
    uint8_t at;
    uint8_t value;
  };
  std::array<Byte, 2> bytes{};
  uint8_t count = 0;

  bool Matches(std::span<const uint8_t> id) const {
    for (uint8_t i = 0; i < count; ++i)
      if (id[bytes[i].at] != bytes[i].value) return false;
    return true;
  }
};

constexpr IdPattern Starts(uint8_t first) {
  return {{{{0, first}}}, 1};
}
constexpr IdPattern Starts(uint8_t first, uint8_t second) {
  return {{{{0, first}, {1, second}}}, 2};
}
constexpr IdPattern ByteAt(uint8_t at, uint8_t value) {
  return {{{{at, value}}}, 1};
}
constexpr IdPattern BytesAt(uint8_t at, uint8_t value, uint8_t at2, uint8_t value2) {
  return {{{{at, value}, {at2, value2}}}, 2};
}

// Opcodes a maker's parts need instead of the defaults; 0 keeps the default.
struct OpcodeChange {
  uint8_t chipErase = 0;
  uint8_t blockErase = 0;
  uint8_t program = 0;
  uint8_t sectorErase = 0;
};

struct ProbeMatch {
  IdPattern pattern;
  FlashMaker maker;
  OpcodeChange opcodes{};
};

enum class ProbeRead { Id, IdShort };

struct Probe {
  ProbeRead read;
  uint8_t opcode;
  bool dummyBytes;
  std::span<const ProbeMatch> matches;  // tried in order
};

constexpr OpcodeChange kSstOpcodes = {0x60, 0x52, 0xAF, 0};
constexpr OpcodeChange kAtmelOpcodes = {0x62, 0x52, 0x02, 0};

constexpr ProbeMatch kJedecMatches[] = {
    {Starts(0x7F, 0x37), FlashMaker::Amic}, {Starts(0x37, 0x30), FlashMaker::Amic},
    {Starts(0x1F), FlashMaker::Atmel},      {Starts(0xC2), FlashMaker::Mxic},
    {Starts(0xEF), FlashMaker::Winbond},    {Starts(0x20), FlashMaker::StEonMxic},
    {Starts(0x1C), FlashMaker::Eon},        {Starts(0x8C), FlashMaker::Esmt},
    {Starts(0x7F, 0x9D), FlashMaker::Pmc},  {Starts(0x62), FlashMaker::Sanyo, {0, 0, 0, 0xD7}},
};
constexpr ProbeMatch kManufacturerMatches[] = {{ByteAt(3, 0xBF), FlashMaker::Sst, kSstOpcodes}};
constexpr ProbeMatch kSignatureMatches[] = {{ByteAt(3, 0x9D), FlashMaker::Pmc},
                                            {ByteAt(3, 0x05), FlashMaker::StEonMxic}};
constexpr ProbeMatch kMakerId15Matches[] = {{Starts(0x1F), FlashMaker::Atmel, kAtmelOpcodes}};
constexpr ProbeMatch kShortSignatureMatches[] = {{Starts(0x05), FlashMaker::StEonMxic}};

// The probes in the order they run; the short ones only where the route
// offers the controller's short form.
constexpr Probe kProbes[] = {
    {ProbeRead::Id, kOpJedecId, false, kJedecMatches},
    {ProbeRead::Id, kOpManufacturerDeviceId, false, kManufacturerMatches},
    {ProbeRead::Id, kOpElectronicSignature, false, kSignatureMatches},
    {ProbeRead::Id, kOpMakerId15, false, kMakerId15Matches},
    {ProbeRead::IdShort, kOpMakerId15, false, kMakerId15Matches},
    {ProbeRead::IdShort, kOpElectronicSignature, true, kShortSignatureMatches},
};

void Apply(const ProbeMatch& match, FlashProfile& profile) {
  profile.makerCode = static_cast<uint8_t>(MakerCode(match.maker));
  const auto& change = match.opcodes;
  if (change.chipErase != 0) profile.chipEraseOpcode = change.chipErase;
  if (change.blockErase != 0) profile.blockEraseOpcode = change.blockErase;
  if (change.program != 0) profile.programOpcode = change.program;
  if (change.sectorErase != 0) profile.sectorEraseOpcode = change.sectorErase;
}

// Sizes from the 0x9F answer. The rows of a maker are tried in order; the
// first whose pattern the answer holds gives the size from its size byte:
// a capacity code 0x10..capacityLast is 64 KB << (code - 0x10), else the
// value list; a byte that fits neither keeps 64 KB.
struct SizeValue {
  uint8_t idByte;
  uint16_t kb;
};

struct JedecSizeRule {
  FlashMaker maker;
  IdPattern pattern;
  int8_t sizeByte;                    // -1: the answer holds no size
  uint8_t capacityLast;               // 0: no capacity code
  std::array<SizeValue, 5> values{};  // kb 0 ends the list
};

constexpr int8_t kNoSizeByte = -1;

constexpr JedecSizeRule kJedecSizeRules[] = {
    {FlashMaker::Pmc,
     Starts(0x7F, 0x9D),
     2,
     0,
     {{{0x20, 64}, {0x21, 128}, {0x7C, 128}, {0x22, 256}, {0x7D, 256}}}},
    {FlashMaker::Sst, Starts(0xBF), 2, 0, {{{0x41, 2048}, {0x4A, 4096}}}},
    {FlashMaker::StEonMxic, Starts(0x20), 2, 0x16},
    {FlashMaker::Atmel, Starts(0x1F), 1, 0, {{{0x65, 64}, {0x66, 128}}}},
    {FlashMaker::Mxic, Starts(0xC2, 0x20), 2, 0x17},
    {FlashMaker::Mxic, Starts(0xC2, 0x22), 2, 0x17},
    {FlashMaker::Winbond,
     Starts(0xEF),
     2,
     0,
     {{{0x11, 128}, {0x12, 256}, {0x13, 512}, {0x14, 1024}}}},
    {FlashMaker::Amic, Starts(0x37), 2, 0x16},
    {FlashMaker::Amic,
     Starts(0x7F, 0x37),
     3,
     0,
     {{{0x20, 64}, {0x21, 128}, {0x22, 256}, {0x14, 1024}}}},
    {FlashMaker::Eon, Starts(0x1C), 2, 0x17},
    {FlashMaker::Esmt, Starts(0x8C, 0x30), 2, 0, {{{0x11, 128}}}},
    {FlashMaker::Sanyo, Starts(0x62), kNoSizeByte, 0},
};

// Sizes from a second identification instruction: when the maker's 0x9F
// rule did not hold (older parts that do not answer 0x9F), or after it held
// (parts whose 0x9F answer carries no size).
enum class SecondRead { WhenJedecMissed, AfterJedec };

struct SizeOutcome {
  IdPattern pattern;
  uint16_t kb = 0;  // 0 ends the list
};

struct SecondReadRule {
  FlashMaker maker;
  SecondRead when;
  uint8_t opcode;
  uint8_t length;
  std::array<SizeOutcome, 2> outcomes{};
};

constexpr SecondReadRule kSecondReadRules[] = {
    {FlashMaker::Pmc,
     SecondRead::WhenJedecMissed,
     kOpElectronicSignature,
     6,
     {{{BytesAt(3, 0x9D, 4, 0x7B), 64}}}},
    {FlashMaker::Sst,
     SecondRead::WhenJedecMissed,
     kOpElectronicSignature,
     6,
     {{{BytesAt(3, 0xBF, 4, 0x48), 64}, {BytesAt(3, 0xBF, 4, 0x49), 128}}}},
    {FlashMaker::StEonMxic,
     SecondRead::WhenJedecMissed,
     kOpElectronicSignature,
     4,
     {{{BytesAt(0, 0xFF, 3, 0x05), 64}}}},
    {FlashMaker::Atmel,
     SecondRead::WhenJedecMissed,
     kOpMakerId15,
     4,
     {{{Starts(0x1F, 0x60), 128}}}},
    {FlashMaker::Sanyo,
     SecondRead::AfterJedec,
     kOpElectronicSignature,
     4,
     {{{ByteAt(3, 0x44), 256}}}},
};

int32_t SizeFrom(const JedecSizeRule& rule, uint8_t idByte) {
  if (rule.capacityLast != 0 && idByte >= 0x10 && idByte <= rule.capacityLast)
    return kDefaultSizeKB << (idByte - 0x10);
  for (const auto& value : rule.values)
    if (value.kb != 0 && value.idByte == idByte) return value.kb;
  return kDefaultSizeKB;
}

FlashIdReader SpiFlashIdReader(std::string_view path) {
  return {[path](uint8_t opcode, uint8_t* buffer, uint8_t length) {
            return SpiReadId(path, opcode, buffer, length);
          },
          [path](uint8_t* buffer, uint8_t opcode, bool dummyBytes) {
            return SpiReadIdShort(path, buffer, opcode, dummyBytes);
          }};
}

}  // namespace

int DetectFlashWith(const FlashIdReader& reader, FlashProfile& profile) {
  const FlashProfile defaults;
  profile.chipEraseOpcode = defaults.chipEraseOpcode;
  profile.blockEraseOpcode = defaults.blockEraseOpcode;
  profile.programOpcode = defaults.programOpcode;
  profile.makerCode = defaults.makerCode;
  profile.sectorEraseOpcode = defaults.sectorEraseOpcode;

  bool first = true;
  for (const Probe& probe : kProbes) {
    std::array<uint8_t, kIdProbeLength> id{};
    int ok = 0;
    switch (probe.read) {
      case ProbeRead::Id:
        ok = reader.readId(probe.opcode, id.data(), kIdProbeLength);
        break;
      case ProbeRead::IdShort:
        if (!reader.readIdShort) return 0;
        ok = reader.readIdShort(id.data(), probe.opcode, probe.dummyBytes);
        break;
    }
    // A unit that cannot even be asked keeps maker 0 and counts as looked at.
    if (!ok && first) return 1;
    first = false;
    if (!ok) continue;
    for (const ProbeMatch& match : probe.matches) {
      if (match.pattern.Matches(id)) {
        Apply(match, profile);
        return 1;
      }
    }
  }
  return 0;
}

int DetectFlashSizeWith(const FlashIdReader& reader, FlashProfile& profile) {
  if (profile.makerCode == FlashMaker::Unknown) DetectFlashWith(reader, profile);
  const uint8_t maker = profile.makerCode;
  int32_t size = kDefaultSizeKB;

  std::array<uint8_t, kSizeReadCapacity> id{};
  const bool answered = reader.readId(kOpJedecId, id.data(), kIdProbeLength) == 1;
  const JedecSizeRule* held = nullptr;
  if (answered) {
    for (const auto& rule : kJedecSizeRules) {
      if (rule.maker == maker && rule.pattern.Matches(id)) {
        held = &rule;
        break;
      }
    }
  }
  if (held != nullptr && held->sizeByte != kNoSizeByte) size = SizeFrom(*held, id[held->sizeByte]);

  const SecondRead when = held != nullptr ? SecondRead::AfterJedec : SecondRead::WhenJedecMissed;
  for (const auto& rule : kSecondReadRules) {
    if (rule.maker != maker || rule.when != when) continue;
    id.fill(0);
    if (reader.readId(rule.opcode, id.data(), rule.length) == 1) {
      for (const auto& outcome : rule.outcomes) {
        if (outcome.kb != 0 && outcome.pattern.Matches(id)) {
          size = outcome.kb;
          break;
        }
      }
    }
    break;
  }
  profile.sizeKB = size;
  return 1;
}

int DetectSpiFlash(std::string_view path, FlashProfile& profile) {
  return DetectFlashWith(SpiFlashIdReader(path), profile);
}

int DetectSpiFlashSize(std::string_view path, FlashProfile& profile) {
  return DetectFlashSizeWith(SpiFlashIdReader(path), profile);
}

}  // namespace fwtool
