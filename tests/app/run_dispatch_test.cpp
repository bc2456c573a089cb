// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "capture_backend.h"
#include "recording_operator.h"
#include "run_table.h"
#include "temp_files.h"

namespace fwtool {
namespace {

using testing::Answered;
using testing::ScopedCaptureBackend;
using testing::TempDir;

enum class File { None, Fits, TooLarge, Missing };

struct DispatchCase {
  const char* name;
  uint8_t type;
  uint8_t subRev;
  int maker;
  uint32_t altFlashProc;
  int chipRegValue;
  const char* path;
  bool flag505E;  // the memory flag of chip type 11
  bool eraseOnly;
  bool backupOnly;
  bool hddFw;
  File file;
  int row;  // 1-based, as the table of "Run" numbers them
  ProcedureTag procedure;
  bool asksMemoryFlag;
};

// clang-format off
const DispatchCase kCases[] = {
    {"Type16WithoutFlashPartIsDiskHosted", 16, 0, 0, 0, 0, "usbsto#1", false, false, false, false, File::None, 1, ProcedureTag::DiskHosted, false},
    {"Type16WithFlashPartIsBasic", 16, 0, 5, 0, 0, "usbsto#1", false, false, false, false, File::None, 12, ProcedureTag::Basic, false},
    {"Type16WithSstPartIsPaged", 16, 0, 2, 1, 0, "usbsto#1", false, false, false, false, File::None, 11, ProcedureTag::Paged, false},
    {"Type12WithHddBoxIsItsDiskProcedure", 12, 0, 5, 0, 0, "usbsto#1", false, false, false, true, File::None, 2, ProcedureTag::Vqs175Disk, false},
    {"Type12WithoutFlashPartIsItsDiskProcedure", 12, 0, 0, 0, 0, "usbsto#1", false, false, false, false, File::None, 2, ProcedureTag::Vqs175Disk, false},
    {"Type12WithFlashIsSerial", 12, 0, 5, 0, 0, "usbsto#1", false, false, false, false, File::None, 9, ProcedureTag::SerialFlash, false},
    {"Type10FileLargerThanFlashIsRefused", 10, 0, 2, 0, 0, "usbsto#1", false, false, false, false, File::TooLarge, 3, ProcedureTag::None, false},
    {"Type10LargeFileButEraseOnlyRuns", 10, 0, 2, 0, 0, "usbsto#1", false, true, false, false, File::TooLarge, 4, ProcedureTag::Paged, false},
    {"Type10LargeFileButBackupOnlyRuns", 10, 0, 6, 0, 0, "usbsto#1", false, false, true, false, File::TooLarge, 5, ProcedureTag::HeaderHandling, false},
    {"Type10SstIsPaged", 10, 0, 2, 0, 0, "usbsto#1", false, false, false, false, File::Fits, 4, ProcedureTag::Paged, false},
    {"Type10OtherMakerIsHeaderHandling", 10, 0, 5, 0, 0, "usbsto#1", false, false, false, false, File::Fits, 5, ProcedureTag::HeaderHandling, false},
    {"Type6IsHeaderHandling", 6, 0, 0, 1, 0, "usbsto#1", false, false, false, false, File::None, 5, ProcedureTag::HeaderHandling, false},
    {"Type8IsSerial", 8, 0, 5, 0, 0, "usbsto#1", false, false, false, false, File::None, 6, ProcedureTag::SerialFlash, false},
    {"Type9WithSstIsStillSerial", 9, 0, 2, 1, 0, "usbsto#1", false, false, false, false, File::None, 6, ProcedureTag::SerialFlash, false},
    {"EarlyType11WithoutFlagIsHeaderHandling", 11, 4, 5, 0, 0, "usbsto#1", false, false, false, false, File::None, 7, ProcedureTag::HeaderHandling, true},
    {"EarlyType11WithFlagIsSerial", 11, 4, 5, 0, 0, "usbsto#1", true, false, false, false, File::None, 9, ProcedureTag::SerialFlash, true},
    {"Type11Rev5WithoutFlagIsSerial", 11, 5, 5, 0, 0, "usbsto#1", false, false, false, false, File::None, 9, ProcedureTag::SerialFlash, true},
    {"Type11WithSstIsPaged", 11, 5, 2, 1, 0, "usbsto#1", true, false, false, false, File::None, 8, ProcedureTag::Paged, true},
    {"Type7Over1394", 7, 1, 0, 0, 0, "sbp2#disk&ven_x", false, false, false, false, File::None, 10, ProcedureTag::Ieee1394, false},
    {"Type7OverUsbIsBasic", 7, 1, 0, 0, 0, "usbstor#disk", false, false, false, false, File::None, 12, ProcedureTag::Basic, false},
    {"Type14WithSstIsPaged", 14, 3, 2, 1, 0, "usbsto#1", false, false, false, false, File::None, 11, ProcedureTag::Paged, false},
    {"Type1IsBasic", 1, 0, 0, 0, 0, "usbsto#1", false, false, false, false, File::None, 12, ProcedureTag::Basic, false},
    {"Type3IsBasic", 3, 0, 0, 0, 0, "usbsto#1", false, false, false, false, File::None, 12, ProcedureTag::Basic, false},
    {"Type4IsBasic", 4, 0, 0, 0, 0, "usbsto#1", false, false, false, false, File::None, 12, ProcedureTag::Basic, false},
    {"Type2IsParallel", 2, 0, 0, 0, 0, "usbsto#1", false, false, false, false, File::None, 13, ProcedureTag::Parallel, false},
    {"Type21IsParallel", 21, 0, 0, 0, 0, "usbsto#1", false, false, false, false, File::None, 13, ProcedureTag::Parallel, false},
    {"Type13IsStaged", 13, 0, 5, 0, 0, "usbsto#1", false, false, false, false, File::None, 14, ProcedureTag::Staged, false},
    {"Type15IsDiskHosted", 15, 0, 0, 0, 0, "usbsto#1", false, false, false, false, File::None, 15, ProcedureTag::DiskHosted, false},
    {"Type5At208IsDiskHosted", 5, 0, 0, 0, 208, "usbsto#1", false, false, false, false, File::None, 15, ProcedureTag::DiskHosted, false},
    {"Type5At207RunsNothing", 5, 0, 0, 0, 207, "usbsto#1", false, false, false, false, File::None, 16, ProcedureTag::None, false},
    {"Type0RunsNothing", 0, 0, 0, 0, 0, "usbsto#1", false, false, false, false, File::None, 16, ProcedureTag::None, false},
    {"Type17RunsNothing", 17, 0, 0, 0, 0, "usbsto#1", false, false, false, false, File::None, 16, ProcedureTag::None, false},
};
// clang-format on

class RunDispatchTest : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(RunDispatchTest, FirstMatchingRowDecides) {
  const DispatchCase& c = GetParam();
  ScopedCaptureBackend backend;
  backend->responder = [&](const PassThroughRequest& rq) {
    // The 4-byte memory read at 0x505E: byte 1 = 0 and byte 2 = 1 is the flag.
    if (rq.cdb[0] == 0xDF && rq.cdb[11] == 0xFD && rq.length >= 4) {
      const uint8_t answer[4] = {0x00, 0x00, static_cast<uint8_t>(c.flag505E ? 1 : 0), 0x00};
      std::memcpy(rq.data, answer, 4);
    }
    PassThroughResult ok = Answered();
    ok.transferred = rq.length;
    return ok;
  };
  TempDir dir;
  EngineeringOptions options;
  options.eraseOnly = c.eraseOnly;
  options.backupOnly = c.backupOnly;
  options.hddFirmware = c.hddFw;
  // The unit's flash is 64 KB.
  switch (c.file) {
    case File::None:
      break;
    case File::Fits:
      options.firmwareFile = dir.Write("fits.bin", std::vector<uint8_t>(65536, 0x11));
      break;
    case File::TooLarge:
      options.firmwareFile = dir.Write("large.bin", std::vector<uint8_t>(65537, 0x11));
      break;
    case File::Missing:
      options.firmwareFile = dir.Path("missing.bin");
      break;
  }
  ChipFacts chip;
  chip.type = c.type;
  chip.subRev = c.subRev;
  chip.flashMaker = c.maker;
  chip.flashSizeKB = 64;
  chip.altFlashProc = c.altFlashProc;
  chip.chipRegValue = c.chipRegValue;
  chip.row = &ChipRowFor(c.type);
  RecordingOperator op;
  const RunDispatchInput input{chip, c.path, options, op};

  const size_t row = SelectRunRow(input);
  EXPECT_EQ(row + 1, static_cast<size_t>(c.row));
  const RunDispatchRow& chosen = RunDispatchRows()[row];
  EXPECT_EQ(chosen.procedure, c.procedure);
  EXPECT_EQ(chosen.action, c.row == 3    ? RunAction::RefuseLargeFile
                           : c.row == 16 ? RunAction::Nothing
                                         : RunAction::RunProcedure);
  // Only a type-11 unit that reaches its row is asked for the memory flag.
  EXPECT_EQ(!backend->commands.empty(), c.asksMemoryFlag);
  EXPECT_TRUE(op.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, RunDispatchTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RunDispatch, AFileThatCannotBeOpenedSaysSoAndIsRefused) {
  ScopedCaptureBackend backend;
  TempDir dir;
  EngineeringOptions options;
  options.firmwareFile = dir.Path("missing.bin");
  ChipFacts chip;
  chip.type = 10;
  chip.flashMaker = 5;
  chip.flashSizeKB = 64;
  chip.row = &ChipRowFor(10);
  RecordingOperator op;
  const RunDispatchInput input{chip, "usbsto#1", options, op};
  EXPECT_EQ(SelectRunRow(input) + 1, 3u);
  ASSERT_EQ(op.shown.size(), 1u);
  EXPECT_EQ(op.shown[0].text, "Open Firmware File Error!!");
  EXPECT_EQ(op.shown[0].caption, "Error");
}

}  // namespace
}  // namespace fwtool
