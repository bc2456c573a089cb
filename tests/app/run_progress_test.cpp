// SPDX-License-Identifier: GPL-2.0-or-later
// "Run" on the engineering face, every procedure in every mode on a healthy
// simulated unit: the progress its declared steps give climbs from 0 to
// 100 % without a step back, and a long write moves it many times on the
// way. The one-click update and a restore the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "byte_pattern.h"
#include "procedures.h"
#include "sim_form_fixture.h"
#include "temp_files.h"

namespace fwtool {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Pattern;
using testing::SimFormTest;

enum class Mode { Program, EraseOnly, BackupOnly };

struct RunCase {
  const char* name;
  const char* unit;
  // The procedure "Run" picks for the unit as identification finds it (and
  // as the operator says, below).
  ProcedureTag procedure;
  Mode mode;
  size_t fileSize = 65536;
  int flashType = -1;   // "Flash Type" item of a parallel part
  bool hddFw = false;   // "VQS175 HDD FW"
  size_t distinct = 3;  // percentages seen at least
  int chipType = 0;     // the operator's word on a unit identification cannot tell
};

// clang-format off
const RunCase kCases[] = {
    {"SerialProgram", "vqs175", ProcedureTag::SerialFlash, Mode::Program},
    {"SerialErase", "vqs175", ProcedureTag::SerialFlash, Mode::EraseOnly},
    {"SerialBackup", "vqs175", ProcedureTag::SerialFlash, Mode::BackupOnly, 0, -1, false, 10},
    {"BasicProgram", "vq64771:maker=mxic", ProcedureTag::Basic, Mode::Program},
    {"BasicErase", "vq64771:maker=mxic", ProcedureTag::Basic, Mode::EraseOnly},
    {"BasicBackup", "vq64771:maker=mxic", ProcedureTag::Basic, Mode::BackupOnly, 0, -1, false, 2},
    {"HeaderProgram", "vqb716:maker=mxic", ProcedureTag::HeaderHandling, Mode::Program, 61440},
    {"HeaderErase", "vqb716:maker=mxic", ProcedureTag::HeaderHandling, Mode::EraseOnly},
    {"HeaderBackup", "vqb716:maker=mxic", ProcedureTag::HeaderHandling, Mode::BackupOnly},
    // One 16 KB page byte by byte over the serial-flash sequence: some
    // 16,000 commands, the bar moving with each run of 512 bytes.
    {"PagedProgram", "vqb713:maker=sst", ProcedureTag::Paged, Mode::Program, 16384, -1, false, 30},
    {"PagedErase", "vqb713:maker=sst", ProcedureTag::Paged, Mode::EraseOnly},
    {"ParallelProgram", "vq64779:parallel=sst", ProcedureTag::Parallel, Mode::Program, 65536, 2},
    {"ParallelErase", "vq64779:parallel=sst", ProcedureTag::Parallel, Mode::EraseOnly, 0, 2},
    {"ParallelBackup", "vq64779:parallel=sst", ProcedureTag::Parallel, Mode::BackupOnly, 0, 2, false, 2},
    {"Ieee1394Program", "vqb717:bus=sbp2", ProcedureTag::Ieee1394, Mode::Program, 65536, -1, false, 50},
    {"Ieee1394Erase", "vqb717:bus=sbp2", ProcedureTag::Ieee1394, Mode::EraseOnly},
    {"DiskHostedProgram", "vqb145:disk=64M", ProcedureTag::DiskHosted, Mode::Program},
    {"DiskHostedErase", "vqb145:disk=64M", ProcedureTag::DiskHosted, Mode::EraseOnly},
    {"DiskHostedBackup", "vqb145:disk=64M", ProcedureTag::DiskHosted, Mode::BackupOnly},
    {"Vqs175DiskProgram", "vqs175:disk=500G", ProcedureTag::Vqs175Disk, Mode::Program, 65536, -1, true},
    {"Vqs175DiskErase", "vqs175:disk=500G", ProcedureTag::Vqs175Disk, Mode::EraseOnly, 0, -1, true},
    {"Vqs175DiskBackup", "vqs175:disk=500G", ProcedureTag::Vqs175Disk, Mode::BackupOnly, 0, -1, true},
    // Identified as type 10, run as the type 13 the operator says it is.
    {"StagedProgram", "vqs713:maker=mxic", ProcedureTag::Staged, Mode::Program, 65536, -1, false, 3, 13},
    {"StagedErase", "vqs713:maker=mxic", ProcedureTag::Staged, Mode::EraseOnly, 0, -1, false, 1, 13},
};
// clang-format on

// Every percentage the form's progress went through while an operation ran.
class ProgressSeen {
 public:
  explicit ProgressSeen(ProcedureProgress& progress) : progress_(progress) {
    id_ = progress_.Subscribe([this](const ProgressState& state) {
      if (state.running) percents.push_back(state.percent);
      ended = !state.running;
    });
  }
  ~ProgressSeen() { progress_.Unsubscribe(id_); }
  ProgressSeen(const ProgressSeen&) = delete;
  ProgressSeen& operator=(const ProgressSeen&) = delete;

  void ExpectClimbedToTheEnd(size_t distinct) const {
    ASSERT_FALSE(percents.empty()) << "no steps were declared";
    EXPECT_EQ(percents.front(), 0);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << "the bar moved back";
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(ended) << "the operation did not end";
    EXPECT_GE(std::set<int>(percents.begin(), percents.end()).size(), distinct);
  }

  std::vector<int> percents;
  bool ended = false;

 private:
  ProcedureProgress& progress_;
  int id_ = 0;
};

class RunProgress : public SimFormTest, public ::testing::WithParamInterface<RunCase> {
 protected:
  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    return testing::WriteFile(dir / name, bytes);
  }
};

TEST_P(RunProgress, ClimbsToTheEnd) {
  const RunCase& c = GetParam();
  Build(c.unit);
  auto& f = Open();
  f.ShowEngineeringFace();
  if (c.chipType != 0) {
    ASSERT_TRUE(f.SayChipType({.chipType = c.chipType}));
  }
  RunRequest request;
  request.hddFirmware = c.hddFw;
  if (c.flashType >= 0) request.flashType = c.flashType;
  switch (c.mode) {
    case Mode::Program:
      request.firmwareFile = WriteFile("firmware.bin", Pattern(c.fileSize, 1));
      request.otherChipFile = true;  // a pattern, made for no chip in particular
      break;
    case Mode::EraseOnly:
      request.mode = RunRequest::Mode::EraseOnly;
      break;
    case Mode::BackupOnly:
      request.mode = RunRequest::Mode::BackupOnly;
      request.backupFile = (dir / "backup.bin").string();
      break;
  }
  const ProgressSeen seen(f.Progress());
  const RunOutcome run = f.Run(request);
  EXPECT_EQ(run.procedure, c.procedure);
  ASSERT_TRUE(run.ran);
  ASSERT_EQ(run.result, 1) << f.StatusEdit.Text();
  seen.ExpectClimbedToTheEnd(c.distinct);
}

INSTANTIATE_TEST_SUITE_P(Procedures, RunProgress, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RunCase>& info) {
                           return std::string(info.param.name);
                         });

class OperationProgress : public SimFormTest {};

// Chip type 13 identifies as 10: the operator's word makes the form's
// request name the type.
TEST_F(OperationProgress, StagedProcedureClimbsToTheEnd) {
  Build("vqs713:maker=mxic");
  auto& f = Open();
  ASSERT_TRUE(f.SayChipType({.chipType = 13}));
  const std::string file = testing::WriteFile(dir / "firmware.bin", Pattern(65536, 13));
  ProcedureRequest request = f.ProcedureRequestFor(f.Devices[0].Path);
  ASSERT_EQ(request.chip.type, 13);
  request.options.rdVersion = true;
  request.options.firmwareFile = file;
  const ProgressSeen seen(f.Progress());
  ASSERT_EQ(RunStagedFlashUpdate(request, f.Host()), 1) << f.StatusEdit.Text();
  seen.ExpectClimbedToTheEnd(4);
}

// The one-click update and a restore of its backup, on a 128 KB part.
TEST_F(OperationProgress, UpdateAndRestoreClimbToTheEnd) {
  Build("vqb719:size=128");
  enumerator = farm->Enumerator();
  form = std::make_unique<TV77xFwTool>(op, *enumerator, timers);
  auto& f = *form;
  ASSERT_EQ(f.ListedCount(), 1);
  {
    const ProgressSeen seen(f.Progress());
    ASSERT_EQ(f.OneClickUpdate({(dir / "before.bin").string()}), 1);
    seen.ExpectClimbedToTheEnd(20);
  }
  const Bytes backup = ReadFile(dir / "before.bin");
  ASSERT_EQ(backup.size(), 131072u);
  const ProgressSeen seen(f.Progress());
  ASSERT_EQ(f.RestoreBackup({backup}), 1);
  seen.ExpectClimbedToTheEnd(20);
}

}  // namespace
}  // namespace fwtool
