// SPDX-License-Identifier: GPL-2.0-or-later
#include "identify.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "chip_rows.h"
#include "command_block.h"
#include "flash_commands.h"
#include "operator.h"
#include "transport.h"

namespace fwtool {

namespace {

// Stops the program on a broken caller contract, whatever the build type:
// sending the command with a shorter buffer would let the device write past it.
[[noreturn]] void ContractViolated(const char* expression, const char* file, int line) {
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, file, line);
  std::abort();
}
#define FWTOOL_REQUIRE(expression, text) \
  ((expression) ? static_cast<void>(0) : ContractViolated(text, __FILE__, __LINE__))

int In(std::string_view path, const CommandBlock& block, void* buffer, uint32_t length,
       uint32_t* transferred = nullptr) {
  uint32_t moved = 0;
  const int ok = SendCommandIn(path, block.data(), block.length, buffer, length, &moved);
  if (transferred != nullptr) *transferred = moved;
  return ok;
}

constexpr uint8_t kInquiryOpcode = codes::kInquiry;
constexpr uint8_t kChipInfoOpcode = codes::kChipInfo;
constexpr uint8_t kChipIdStringCommand = codes::kSubChipIdString;
constexpr uint16_t kRevisionAddress = 0xFDB0;
constexpr uint8_t kRevisionB4 = 0xB4;

// INQUIRY bytes 36..39 carry the chip id token: 'v' and a model number.
constexpr size_t kInquiryTokenAt = 36;
constexpr char kTokenLetter = 'v';

// USB ids that mark the parallel-flash member answering with another model.
constexpr std::string_view kVendor816C = "816C";
constexpr std::string_view kProduct6779 = "6779";

constexpr int kTypeFromConfigBase = 17;  // 17 + config word bits 5-6

struct IdToken {
  std::string_view token;  // characters compared
  uint8_t type;
  enum class Rev { Digit, RawPlusOne, Digit716 } rev;
};

// Searched in this order; the first match decides.
constexpr std::array<IdToken, 6> kIdTokens = {{
    {"v771C", 1, IdToken::Rev::Digit},
    {"v775C", 4, IdToken::Rev::Digit},
    {"v775E", 16, IdToken::Rev::RawPlusOne},
    {"v185A", 14, IdToken::Rev::Digit},
    {"v716", 6, IdToken::Rev::Digit716},
    {"v6713", 10, IdToken::Rev::Digit},
}};

bool IsRefinedByIdString(uint8_t type) {
  return ChipRowFor(type).refinedByIdString;
}

std::string_view Chars(const uint8_t* bytes, size_t count) {
  return {reinterpret_cast<const char*>(bytes), count};
}

bool HasChipInfoSignature(const uint8_t* reply) {
  return reply[0] == kChipInfoSignature0 && reply[1] == kChipInfoSignature1;
}

// Upper-case hexadecimal of two bytes, each without leading zeros.
std::string UsbIdText(uint8_t high, uint8_t low) {
  char text[8];
  std::snprintf(text, sizeof text, "%X%X", high, low);
  return text;
}

// Stage 1: the type from INQUIRY, or from the configuration word and the
// chip information. Sets `subRev` only from the chip-information digit.
uint8_t FindChipType(std::string_view path, uint8_t& subRev) {
  std::array<uint8_t, kInquiryLength> inquiry{};
  if (!Inquiry(path, inquiry.data(), kInquiryLength)) return 0;

  const uint8_t* token = inquiry.data() + kInquiryTokenAt;
  if (token[0] == kTokenLetter) {
    if (const int row = FindChipModel(Chars(token + 1, 3)); row != 0)
      return static_cast<uint8_t>(row);
  }
  if (Chars(token, 4) == "v711") return 8;

  std::array<uint8_t, 2> config{};
  if (!ReadConfigWord(path, config.data())) return 0;
  std::array<uint8_t, kChipInfoLength> info{};
  if (!GetChipInfo(path, info.data(), kChipInfoLength)) return 0;

  if (!HasChipInfoSignature(info.data()))
    return static_cast<uint8_t>(kTypeFromConfigBase + ((config[0] >> 5) & 3));

  const std::string vendor = UsbIdText(info[2], info[3]);
  const std::string product = UsbIdText(info[4], info[5]);
  if (vendor.find(kVendor816C) != std::string::npos &&
      product.find(kProduct6779) != std::string::npos)
    return 21;

  const std::string_view model = Chars(info.data() + 8, 3);
  uint8_t type = static_cast<uint8_t>(FindChipModel(model));
  if (type == 0 && model == "711") type = 8;
  // The revision digit counts even when the model is not one of ours.
  subRev = static_cast<uint8_t>(info[11] - '0');
  return type;
}

// Stage 2 for the types whose members tell themselves apart by id string.
void RefineByIdString(std::string_view path, uint8_t& type, uint8_t& subRev) {
  std::array<uint8_t, kChipIdStringLength> id{};
  if (!ReadChipIdString(path, id.data(), kChipIdStringLength)) {
    if (type == 1) subRev = 1;
    return;
  }
  const uint8_t c = id[5];
  for (const IdToken& t : kIdTokens) {
    if (Chars(id.data(), t.token.size()) != t.token) continue;
    type = t.type;
    switch (t.rev) {
      case IdToken::Rev::Digit:
        subRev = static_cast<uint8_t>(c - 0x2F);
        break;
      case IdToken::Rev::RawPlusOne:
        subRev = static_cast<uint8_t>(c + 1);
        break;
      case IdToken::Rev::Digit716:
        subRev = c == 0 ? 1 : static_cast<uint8_t>(c - 0x2F);
        break;
    }
    return;
  }
}

// Stage 2 for type 7: the revision digit of a 12-byte chip information.
void RefineType7(OperatorServices& op, std::string_view path, uint8_t& subRev) {
  std::array<uint8_t, kChipInfoShortLength> info{};
  const bool ok = GetChipInfo(path, info.data(), kChipInfoShortLength) != 0;
  if (ok && HasChipInfoSignature(info.data()) && (info[11] == '1' || info[11] == '2')) {
    subRev = static_cast<uint8_t>(info[11] - '0');
    return;
  }
  op.MessageBox(kGetChipInfoFail, kCaptionError, MessageIcon::Error);
}

}  // namespace

int Inquiry(std::string_view path, uint8_t* buffer, uint8_t length) {
  CommandBlock block;
  block[0] = kInquiryOpcode;
  block[4] = length;
  return In(path, block, buffer, length);
}

int ReadConfigWord(std::string_view path, uint8_t* buffer) {
  return In(path, DfBlock(kDfRead, 2, kCodeConfigWord), buffer, 2);
}

int GetChipInfo(std::string_view path, uint8_t* buffer, uint32_t length, uint32_t* transferred) {
  CommandBlock block;
  block[0] = kChipInfoOpcode;
  block[1] = kChipInfoSignature0;
  block[2] = kChipInfoSignature1;
  return In(path, block, buffer, length, transferred);
}

int ReadChipIdString(std::string_view path, uint8_t* buffer, uint32_t length) {
  FWTOOL_REQUIRE(length >= kChipIdStringMinLength, "length >= 0x08");
  CommandBlock block = Ff04Block(kChipIdStringCommand);
  block[3] = 0x08;
  return In(path, block, buffer, length);
}

bool RevisionAtLeastB4(std::string_view path) {
  std::array<uint8_t, 4> data{};
  if (!ReadMemory(path, data.data(), kRevisionAddress, 4)) return false;
  return data[1] >= kRevisionB4;
}

uint16_t IdentifyChip(OperatorServices& op, std::string_view path) {
  uint8_t subRev = 0;
  uint8_t type = FindChipType(path, subRev);

  if (IsRefinedByIdString(type)) {
    RefineByIdString(path, type, subRev);
  } else if (type == 7) {
    RefineType7(op, path, subRev);
  } else if (type == 11 && RevisionAtLeastB4(path)) {
    subRev = 5;
  }
  return MakeIdentification(type, subRev);
}

}  // namespace fwtool
