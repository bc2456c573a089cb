// SPDX-License-Identifier: GPL-2.0-or-later
#include "identify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "capture_backend.h"
#include "chip_rows.h"
#include "chip_tables.h"
#include "flash_commands.h"
#include "operator.h"
#include "pass_through.h"
#include "recording_operator.h"

namespace fwtool {
namespace {

using testing::ScopedCaptureBackend;
using Bytes = std::vector<uint8_t>;

constexpr const char* kPath = "/dev/test-bridge";

enum class Cmd { Inquiry, ConfigWord, ChipInfo, IdString, Memory, Other };

const char* Name(Cmd c) {
  switch (c) {
    case Cmd::Inquiry:
      return "Inquiry";
    case Cmd::ConfigWord:
      return "ReadConfigWord";
    case Cmd::ChipInfo:
      return "GetChipInfo";
    case Cmd::IdString:
      return "ReadChipIdString";
    case Cmd::Memory:
      return "ReadMemory";
    case Cmd::Other:
      return "other";
  }
  return "?";
}

Cmd KindOf(const std::array<uint8_t, 16>& cdb) {
  if (cdb[0] == 0x12) return Cmd::Inquiry;
  if (cdb[0] == 0xE0) return Cmd::ChipInfo;
  if (cdb[0] == 0xFF && cdb[1] == 0x04 && cdb[2] == 0x30) return Cmd::IdString;
  if (cdb[0] == 0xDF && cdb[11] == 0xFF) return Cmd::ConfigWord;
  if (cdb[0] == 0xDF && cdb[11] == 0xFD) return Cmd::Memory;
  return Cmd::Other;
}

// INQUIRY data with a chip id token in bytes 36..39.
Bytes InquiryWith(const std::string& token) {
  Bytes data(40, 0);
  data[0] = 0x00;
  std::copy(token.begin(), token.end(), data.begin() + 36);
  return data;
}

// A chip-information reply with the signature, USB ids and model/revision.
Bytes ChipInfo(uint8_t vendorHi, uint8_t vendorLo, uint8_t productHi, uint8_t productLo,
               const std::string& modelAndDigit) {
  Bytes data(16, 0);
  data[0] = 0xF4;
  data[1] = 0xE7;
  data[2] = vendorHi;
  data[3] = vendorLo;
  data[4] = productHi;
  data[5] = productLo;
  std::copy(modelAndDigit.begin(), modelAndDigit.end(), data.begin() + 8);
  return data;
}
Bytes ChipInfo(const std::string& modelAndDigit) {
  return ChipInfo(0x12, 0x34, 0x56, 0x78, modelAndDigit);
}

Bytes IdString(const std::string& token, uint8_t c) {
  Bytes data(40, 0);
  std::copy(token.begin(), token.end(), data.begin());
  data[5] = c;
  return data;
}

Bytes MemoryB(uint8_t byte1) {
  return {0x00, byte1, 0x00, 0x00};
}

// Commands absent from the map fail with CHECK CONDITION.
using Script = std::map<Cmd, Bytes>;

struct IdentifyRun {
  uint16_t result = 0;
  std::vector<Cmd> sent;
  std::vector<RecordingOperator::Shown> boxes;
};

IdentifyRun Identify(const Script& script) {
  ScopedCaptureBackend backend;
  backend->responder = [&script](const PassThroughRequest& rq) {
    const auto it = script.find(KindOf(rq.cdb));
    if (it == script.end()) return testing::Answered(true, 2);
    const size_t n = std::min<size_t>(it->second.size(), rq.length);
    std::copy_n(it->second.begin(), n, rq.data);
    PassThroughResult r = testing::Answered();
    r.transferred = static_cast<uint32_t>(n);
    return r;
  };
  RecordingOperator op;
  IdentifyRun run;
  run.result = IdentifyChip(op, kPath);
  for (const auto& c : backend->commands) run.sent.push_back(KindOf(c.request.cdb));
  run.boxes = op.shown;
  return run;
}

std::string Describe(const std::vector<Cmd>& cmds) {
  std::string s;
  for (Cmd c : cmds) s += std::string(s.empty() ? "" : ", ") + Name(c);
  return s;
}

struct IdentifyCase {
  const char* name;
  Script script;
  uint8_t type;
  uint8_t subRev;
  std::vector<Cmd> sent;
  bool typeSevenBox = false;
};

using C = Cmd;
const Bytes kConfig00 = {0x00, 0x00};

TEST(IdentifyChip, EdgeCases) {
  const IdentifyCase cases[] = {
      // INQUIRY token: the lowest matching row wins.
      {"v719 is row 8, not 9", {{C::Inquiry, InquiryWith("v719")}}, 8, 0, {C::Inquiry}},
      {"v713 is row 10, not 13; id string tried",
       {{C::Inquiry, InquiryWith("v713")}},
       10,
       0,
       {C::Inquiry, C::IdString}},
      {"v775 is row 4, not 16 or 19",
       {{C::Inquiry, InquiryWith("v775")}},
       4,
       0,
       {C::Inquiry, C::IdString}},
      {"v772 is 18", {{C::Inquiry, InquiryWith("v772")}}, 18, 0, {C::Inquiry}},
      {"v711 is 8 without a vendor command",
       {{C::Inquiry, InquiryWith("v711")},
        {C::ConfigWord, kConfig00},
        {C::ChipInfo, ChipInfo("7191")}},
       8,
       0,
       {C::Inquiry}},
      {"token without the letter v is not a model",
       {{C::Inquiry, InquiryWith("x719")}, {C::ConfigWord, {0x20, 0}}},
       0,
       0,
       {C::Inquiry, C::ConfigWord, C::ChipInfo, C::IdString}},
      // Chip information.
      {"USB ids 816C/6779 give 21 whatever the model",
       {{C::Inquiry, InquiryWith("")},
        {C::ConfigWord, kConfig00},
        {C::ChipInfo, ChipInfo(0x81, 0x6C, 0x67, 0x79, "7132")}},
       21,
       0,
       {C::Inquiry, C::ConfigWord, C::ChipInfo}},
      {"vendor 816C alone is not enough",
       {{C::Inquiry, InquiryWith("")},
        {C::ConfigWord, kConfig00},
        {C::ChipInfo, ChipInfo(0x81, 0x6C, 0x67, 0x78, "7192")}},
       8,
       2,
       {C::Inquiry, C::ConfigWord, C::ChipInfo}},
      {"chip-info model 719 with digit 3",
       {{C::Inquiry, InquiryWith("")}, {C::ConfigWord, kConfig00}, {C::ChipInfo, ChipInfo("7193")}},
       8,
       3,
       {C::Inquiry, C::ConfigWord, C::ChipInfo}},
      {"chip-info 711 is 8",
       {{C::Inquiry, InquiryWith("")}, {C::ConfigWord, kConfig00}, {C::ChipInfo, ChipInfo("7110")}},
       8,
       0,
       {C::Inquiry, C::ConfigWord, C::ChipInfo}},
      {"unlisted model: type 0 with R set, id string tried",
       {{C::Inquiry, InquiryWith("")}, {C::ConfigWord, kConfig00}, {C::ChipInfo, ChipInfo("1234")}},
       0,
       4,
       {C::Inquiry, C::ConfigWord, C::ChipInfo, C::IdString}},
      {"revision digit below '0' wraps modulo 256",
       {{C::Inquiry, InquiryWith("")}, {C::ConfigWord, kConfig00}, {C::ChipInfo, ChipInfo("765/")}},
       5,
       0xFF,
       {C::Inquiry, C::ConfigWord, C::ChipInfo}},
      // No signature: the oldest group from config word bits 5-6.
      {"no signature, bits 00 -> 17",
       {{C::Inquiry, InquiryWith("")}, {C::ConfigWord, {0x9F, 0xFF}}, {C::ChipInfo, Bytes(16, 0)}},
       17,
       0,
       {C::Inquiry, C::ConfigWord, C::ChipInfo}},
      {"no signature, bits 01 -> 18",
       {{C::Inquiry, InquiryWith("")}, {C::ConfigWord, {0xBF, 0x00}}, {C::ChipInfo, Bytes(16, 0)}},
       18,
       0,
       {C::Inquiry, C::ConfigWord, C::ChipInfo}},
      {"no signature, bits 10 -> 19",
       {{C::Inquiry, InquiryWith("")}, {C::ConfigWord, {0x40, 0x00}}, {C::ChipInfo, Bytes(16, 0)}},
       19,
       0,
       {C::Inquiry, C::ConfigWord, C::ChipInfo}},
      {"no signature, bits 11 -> 20; second byte ignored",
       {{C::Inquiry, InquiryWith("")}, {C::ConfigWord, {0x60, 0x60}}, {C::ChipInfo, Bytes(16, 0)}},
       20,
       0,
       {C::Inquiry, C::ConfigWord, C::ChipInfo}},
      // Command failures end the branch.
      {"INQUIRY fails: type 0, id string still asked", {}, 0, 0, {C::Inquiry, C::IdString}},
      {"config word fails: no chip info asked",
       {{C::Inquiry, InquiryWith("")}, {C::ChipInfo, ChipInfo("7191")}},
       0,
       0,
       {C::Inquiry, C::ConfigWord, C::IdString}},
      {"chip info fails",
       {{C::Inquiry, InquiryWith("")}, {C::ConfigWord, {0x60, 0}}},
       0,
       0,
       {C::Inquiry, C::ConfigWord, C::ChipInfo, C::IdString}},
      // Stage 2: id string tokens.
      {"v716 with byte 5 = 0 -> R 1",
       {{C::Inquiry, InquiryWith("v716")}, {C::IdString, IdString("v716", 0)}},
       6,
       1,
       {C::Inquiry, C::IdString}},
      {"v716 with '2' -> R 3",
       {{C::Inquiry, InquiryWith("v716")}, {C::IdString, IdString("v716", '2')}},
       6,
       3,
       {C::Inquiry, C::IdString}},
      {"type 3 with v775E becomes 16, R = raw byte + 1",
       {{C::Inquiry, InquiryWith("v773")}, {C::IdString, IdString("v775E", 4)}},
       16,
       5,
       {C::Inquiry, C::IdString}},
      {"v775E with raw byte 0 gives R 1",
       {{C::Inquiry, InquiryWith("v775")}, {C::IdString, IdString("v775E", 0)}},
       16,
       1,
       {C::Inquiry, C::IdString}},
      {"v775C -> 4 with digit",
       {{C::Inquiry, InquiryWith("v773")}, {C::IdString, IdString("v775C", '1')}},
       4,
       2,
       {C::Inquiry, C::IdString}},
      {"v185A -> 14",
       {{C::Inquiry, InquiryWith("v185")}, {C::IdString, IdString("v185A", '2')}},
       14,
       3,
       {C::Inquiry, C::IdString}},
      {"v6713 on an unrecognised device -> 10",
       {{C::IdString, IdString("v6713", '0')}},
       10,
       1,
       {C::Inquiry, C::IdString}},
      {"v771C -> 1",
       {{C::Inquiry, InquiryWith("v771")}, {C::IdString, IdString("v771C", '0')}},
       1,
       1,
       {C::Inquiry, C::IdString}},
      {"unknown token leaves type and R",
       {{C::Inquiry, InquiryWith("")},
        {C::ConfigWord, kConfig00},
        {C::ChipInfo, ChipInfo("7732")},
        {C::IdString, IdString("v999Z", '7')}},
       3,
       2,
       {C::Inquiry, C::ConfigWord, C::ChipInfo, C::IdString}},
      {"type 1 without id string gets R 1",
       {{C::Inquiry, InquiryWith("v771")}},
       1,
       1,
       {C::Inquiry, C::IdString}},
      {"type 3 without id string keeps R 0",
       {{C::Inquiry, InquiryWith("v773")}},
       3,
       0,
       {C::Inquiry, C::IdString}},
      // Stage 2: type 7.
      {"type 7 revision 2",
       {{C::Inquiry, InquiryWith("v717")}, {C::ChipInfo, ChipInfo("7172")}},
       7,
       2,
       {C::Inquiry, C::ChipInfo}},
      {"type 7 revision 1",
       {{C::Inquiry, InquiryWith("v717")}, {C::ChipInfo, ChipInfo("7171")}},
       7,
       1,
       {C::Inquiry, C::ChipInfo}},
      {"type 7 chip info fails: box",
       {{C::Inquiry, InquiryWith("v717")}},
       7,
       0,
       {C::Inquiry, C::ChipInfo},
       true},
      {"type 7 revision 3: box",
       {{C::Inquiry, InquiryWith("v717")}, {C::ChipInfo, ChipInfo("7173")}},
       7,
       0,
       {C::Inquiry, C::ChipInfo},
       true},
      {"type 7 without signature: box",
       {{C::Inquiry, InquiryWith("v717")}, {C::ChipInfo, Bytes(16, 0x31)}},
       7,
       0,
       {C::Inquiry, C::ChipInfo},
       true},
      {"type 7 from chip info keeps its digit when the box shows",
       {{C::Inquiry, InquiryWith("")}, {C::ConfigWord, kConfig00}, {C::ChipInfo, ChipInfo("7173")}},
       7,
       3,
       {C::Inquiry, C::ConfigWord, C::ChipInfo, C::ChipInfo},
       true},
      // Stage 2: type 11.
      {"type 11 at revision B4 -> R 5",
       {{C::Inquiry, InquiryWith("v118")}, {C::Memory, MemoryB(0xB4)}},
       11,
       5,
       {C::Inquiry, C::Memory}},
      {"type 11 below B4",
       {{C::Inquiry, InquiryWith("v118")}, {C::Memory, MemoryB(0xB3)}},
       11,
       0,
       {C::Inquiry, C::Memory}},
      {"type 11 memory read fails",
       {{C::Inquiry, InquiryWith("v118")}},
       11,
       0,
       {C::Inquiry, C::Memory}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const IdentifyRun run = Identify(c.script);
    EXPECT_EQ(ChipTypeOf(run.result), c.type);
    EXPECT_EQ(ChipSubRevOf(run.result), c.subRev);
    EXPECT_EQ(Describe(run.sent), Describe(c.sent));
    if (c.typeSevenBox) {
      ASSERT_EQ(run.boxes.size(), 1u);
      EXPECT_EQ(run.boxes[0].kind, RecordingOperator::Kind::Box);
      EXPECT_EQ(run.boxes[0].text, "Get chip information fail !");
      EXPECT_EQ(run.boxes[0].caption, "Error");
      EXPECT_EQ(run.boxes[0].icon, MessageIcon::Error);
    } else {
      EXPECT_TRUE(run.boxes.empty());
    }
  }
}

// The exact blocks and lengths of the identification commands.
TEST(IdentifyChip, CommandBlocksAndLengths) {
  struct Expected {
    Bytes block;
    uint32_t length;
  };
  {
    ScopedCaptureBackend backend;
    backend->responder = [](const PassThroughRequest&) { return testing::Answered(true, 2); };
    RecordingOperator op;
    EXPECT_EQ(IdentifyChip(op, kPath), 0);
    const Expected expected[] = {
        {{0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0}, 40},
        {{0xFF, 0x04, 0x30, 0x08, 0, 0, 0, 0, 0, 0, 0, 0}, 40},
    };
    ASSERT_EQ(backend->commands.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
      const auto& rq = backend->commands[i].request;
      EXPECT_EQ(Bytes(rq.cdb.begin(), rq.cdb.begin() + rq.cdbLength), expected[i].block) << i;
      EXPECT_EQ(rq.length, expected[i].length) << i;
      EXPECT_EQ(rq.direction, DataDirection::In);
    }
  }
  {
    ScopedCaptureBackend backend;
    uint8_t config[2];
    uint8_t info[16];
    uint8_t memory[4];
    EXPECT_EQ(ReadConfigWord(kPath, config), 1);
    EXPECT_EQ(GetChipInfo(kPath, info, 16), 1);
    EXPECT_EQ(GetChipInfo(kPath, info, 12), 1);
    EXPECT_EQ(ReadMemory(kPath, memory, 0xFDB0, 4), 1);
    const Expected expected[] = {
        {{0xDF, 0x10, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0xFF}, 2},
        {{0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 16},
        {{0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 12},
        {{0xDF, 0x10, 0x00, 0x00, 0x04, 0x00, 0xFD, 0xB0, 0, 0, 0, 0xFD}, 4},
    };
    ASSERT_EQ(backend->commands.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
      const auto& rq = backend->commands[i].request;
      EXPECT_EQ(Bytes(rq.cdb.begin(), rq.cdb.begin() + rq.cdbLength), expected[i].block) << i;
      EXPECT_EQ(rq.length, expected[i].length) << i;
    }
  }
}

TEST(IdentifyChip, GetChipInfoReportsTheBytesMoved) {
  ScopedCaptureBackend backend;
  backend->responder = [](const PassThroughRequest&) {
    PassThroughResult r = testing::Answered();
    r.transferred = 12;
    return r;
  };
  uint8_t info[16];
  uint32_t transferred = 0;
  EXPECT_EQ(GetChipInfo(kPath, info, 16, &transferred), 1);
  EXPECT_EQ(transferred, 12u);
}

TEST(IdentifyChipDeathTest, ChipIdStringShorterThanEightStopsBeforeSending) {
  uint8_t buffer[8] = {};
  EXPECT_DEATH(ReadChipIdString(kPath, buffer, 7), "length >= 0x08");
}

TEST(ChipTables, LookupsAndBounds) {
  EXPECT_EQ(FindChipModel("719"), 8);
  EXPECT_EQ(FindChipModel("7191"), 8);  // only three characters count
  EXPECT_EQ(FindChipModel("713"), 10);
  EXPECT_EQ(FindChipModel("775"), 4);
  EXPECT_EQ(FindChipModel("779"), 2);
  EXPECT_EQ(FindChipModel("771"), 1);
  EXPECT_EQ(FindChipModel("773"), 3);
  EXPECT_EQ(FindChipModel("711"), 0);
  EXPECT_EQ(FindChipModel("71"), 0);
  EXPECT_EQ(FindChipModel(""), 0);
  EXPECT_TRUE(ChipIdMatchesModel(9, "719B"));
  EXPECT_TRUE(ChipIdMatchesModel(13, "713"));
  EXPECT_FALSE(ChipIdMatchesModel(0, std::string_view("\0\0\0\0", 4)));
  EXPECT_FALSE(ChipIdMatchesModel(22, "719"));
  EXPECT_FALSE(ChipIdMatchesModel(8, "71"));
  EXPECT_EQ(ChipLabel(8), "VQB711/719 Series");
  EXPECT_EQ(ChipLabel(13), "VQS175/713 Series");
  EXPECT_EQ(ChipLabel(99), "Unknown Chip");
  EXPECT_EQ(ChipLabel(-1), "Unknown Chip");
  EXPECT_EQ(FlashMakerName(3), "ST/EON/MXIC");
  EXPECT_EQ(FlashMakerName(10), "SANYO");
  EXPECT_EQ(FlashMakerName(11), "Unknown");
  EXPECT_EQ(ChipModel(0), "");
  EXPECT_EQ(ChipModel(21), "779");
}

}  // namespace
}  // namespace fwtool
