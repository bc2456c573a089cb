// SPDX-License-Identifier: GPL-2.0-or-later
// The program's side through the helper: the one-click update of the form,
// as the window runs it, with every command and the device list going over
// the socket to a helper that serves simulated units; the helper's bound
// and its going away as the transport's callers see them.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "byte_pattern.h"
#include "chip_rows.h"
#include "embedded_update.h"
#include "expected_update.h"
#include "fake_procedure_host.h"
#include "helper_client.h"
#include "helper_rig.h"
#include "helper_rights.h"
#include "procedures.h"
#include "recording_operator.h"
#include "temp_files.h"
#include "transport.h"

namespace fwtool::helper::testing {
namespace {

using Bytes = std::vector<uint8_t>;

// The program connected to the rig's helper: its simulated paths go to the
// helper backend, its device list comes from the helper.
class ThroughHelper : public ::testing::Test {
 protected:
  void Connect(std::string_view units) {
    rig = std::make_unique<HelperRig>(units);
    std::string why;
    connection = platform::HelperConnection::Take(rig->TakeProgramEnd(), 5000, why);
    ASSERT_TRUE(connection) << why;
    previous = SetSimulatorBackend(std::make_shared<platform::HelperBackend>(connection));
    devices = std::make_shared<platform::RoutedEnumerator>(std::make_shared<NoInterfaces>());
    devices->RouteThrough(connection);
    previousTrace = SetCommandTrace(
        [this](const CommandTraceRecord& record) { traced.push_back(record.result); });
  }
  void TearDown() override {
    if (!rig) return;
    SetCommandTrace(previousTrace);
    SetSimulatorBackend(previous);
    devices.reset();
    connection.reset();
    rig.reset();
    traced.clear();
  }
  Bytes Flash(size_t unit = 0) {
    const auto& cells = rig->farm->Controller(unit).Flash().Contents();
    return Bytes(cells.begin(), cells.begin() + kFlashImageSize);
  }

  std::unique_ptr<HelperRig> rig;
  std::shared_ptr<platform::HelperConnection> connection;
  std::shared_ptr<platform::RoutedEnumerator> devices;
  std::shared_ptr<PassThroughBackend> previous;
  CommandTraceSink previousTrace;
  std::vector<PassThroughResult> traced;
};

TEST_F(ThroughHelper, TheOneClickUpdateRunsAsInTheWindow) {
  Connect("vqb717,vqb719");
  const Bytes before = Flash(1);
  fwtool::testing::TempDir dir;
  RecordingOperator op;
  ClockTimerService timers;
  TV77xFwTool form(op, *devices, timers);
  ASSERT_EQ(form.ListedCount(), 1);
  EXPECT_EQ(form.Devices[0].Path, rig->farm->Unit(1).diskPath);
  EXPECT_EQ(form.Face(), OneClickFace::Ready);

  form.SetBackupTarget(dir.Path("before.bin"));
  form.EraseButton.Click();
  EXPECT_EQ(form.Face(), OneClickFace::Done) << form.StatusEdit.Text();
  EXPECT_EQ(Flash(1), fwtool::testing::MergedImage(before));
  EXPECT_EQ(fwtool::testing::ReadFile(dir.Path("before.bin")), before);
  // Every command the unit got came through the helper.
  EXPECT_GT(rig->farm->Controller(1).Log().size(), 100u);

  // Listed again, it is up to date.
  form.RefreshBtnClick(form.RefreshBtn);
  EXPECT_EQ(form.ListedCount(), 0);
  EXPECT_EQ(form.devLable.Text(), "               The chip already updated!!");
}

TEST_F(ThroughHelper, AFailedCommandBringsBackItsStatusAndSense) {
  Connect("vqb719");
  const std::string path = rig->farm->Unit(0).diskPath;
  // The controller information over ATA PASS-THROUGH, which this chip
  // does not know.
  const uint8_t unknown[12] = {0xA1, 0x08, 0x0B, 0xE0, 0x01, 0, 0, 0, 0xB0, 0xB0, 0, 0};
  uint8_t data[512] = {9, 9, 9, 9};
  uint32_t transferred = 123;
  EXPECT_EQ(SendCommandIn(path, unknown, 12, data, 512, &transferred), 0);
  ASSERT_EQ(traced.size(), 1u);
  const PassThroughResult& result = traced[0];
  EXPECT_TRUE(result.opened);
  EXPECT_TRUE(result.callOk);
  EXPECT_EQ(result.scsiStatus, 2);  // CHECK CONDITION
  ASSERT_GE(result.sense.size(), 14u);
  EXPECT_EQ(result.sense[2] & 0x0F, 0x05);  // ILLEGAL REQUEST
  EXPECT_EQ(rig->farm->Controller(0).Log().back().sense, result.sense);
}

// The engineering face's disk-hosted procedures, through the helper: the
// area found, the image written and read back, as without it.
TEST_F(ThroughHelper, ADiskHostedRunGoesThroughTheHelper) {
  struct Case {
    const char* units;
    int (*procedure)(const ProcedureRequest&, ProcedureHost&);
    uint64_t at;  // the firmware's first sector, worked by hand
  };
  // Type 15 on a disk of 1,000,000 sectors that it shows whole: the area
  // ends at the last 256-sector boundary below sector 999,999. Type 12:
  // 2 MB below the last 1 MB boundary, 999,424 - 4,096.
  const Case cases[] = {
      {"vqb145:fw=blank:disk=1000000s", &RunDiskHostedUpdate, 999'680},
      {"vqb145:disk=1000000s", &RunDiskHostedUpdate, 999'680},
      {"vqs175:disk=1000000s", &RunVqs175DiskFirmwareUpdate, 995'328},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.units);
    Connect(c.units);
    fwtool::testing::TempDir dir;
    const Bytes file = fwtool::testing::Pattern(30'000, 5);
    ProcedureRequest request;
    request.path = rig->farm->Unit(0).diskPath;
    request.chip.type = static_cast<uint8_t>(rig->farm->Controller(0).Profile().type);
    request.chip.row = &ChipRowFor(request.chip.type);
    request.options.rdVersion = true;
    request.options.hddFirmware = true;
    request.options.firmwareFile = dir.Write("fw.bin", file);
    fwtool::testing::FakeProcedureHost host;
    EXPECT_EQ(c.procedure(request, host), 1) << host.status;
    EXPECT_EQ(host.status, "Programming Success!!");
    const Bytes disk = rig->farm->Controller(0).Disk().Bytes(c.at, file.size());
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 150, disk.begin()));
    EXPECT_TRUE(std::equal(file.begin() + 156, file.end(), disk.begin() + 156));
    TearDown();
  }
}

// A write the operator would allow over the user's data is one the helper
// does not: the procedure fails at its first block and says what the
// helper said.
TEST_F(ThroughHelper, TheUsersSectorsAreNotOverwrittenThroughTheHelper) {
  Connect("vqb145:fw=blank:disk=1000000s:partition");
  const Bytes before = rig->farm->Controller(0).Disk().Bytes(999'680, 65536);
  fwtool::testing::TempDir dir;
  ProcedureRequest request;
  request.path = rig->farm->Unit(0).diskPath;
  request.chip.type = 15;
  request.chip.row = &ChipRowFor(15);
  request.options.rdVersion = true;
  request.options.firmwareFile = dir.Write("fw.bin", fwtool::testing::Pattern(30'000, 5));
  request.options.diskData = DiskDataChoice::Overwrite;
  fwtool::testing::FakeProcedureHost host;
  EXPECT_EQ(RunDiskHostedUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Write Data To HDD FAIL!!");
  ASSERT_FALSE(traced.empty());
  EXPECT_EQ(traced.back().detail,
            "fwtool-helper refuses: WRITE(10) refused: sectors 999680..999807 hold data of the "
            "disk's user; they are overwritten only by fwtool started as root, with "
            "--overwrite-disk-data");
  EXPECT_TRUE(rig->farm->Controller(0).Disk().Writes().empty());
  EXPECT_EQ(rig->farm->Controller(0).Disk().Bytes(999'680, 65536), before);
}

TEST_F(ThroughHelper, ATransferOverTheHelpersBoundIsNotSent) {
  Connect("vqb719");
  const std::string path = rig->farm->Unit(0).diskPath;
  const uint8_t read[12] = {0xDF, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFA};
  std::vector<uint8_t> data(kMaxData + 1);
  uint32_t transferred = 123;
  EXPECT_EQ(SendCommandIn(path, read, 12, data.data(), kMaxData + 1, &transferred), 0);
  EXPECT_EQ(transferred, 123u);
  ASSERT_EQ(traced.size(), 1u);
  EXPECT_TRUE(traced[0].notSent);
  EXPECT_EQ(traced[0].detail,
            "transfer of 1048577 bytes exceeds the limit of fwtool-helper (1024 KB)");
  EXPECT_TRUE(rig->farm->Controller(0).Log().empty());
}

TEST_F(ThroughHelper, APathTheHelperDidNotListCannotBeOpened) {
  Connect("vqb719");
  const uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
  uint8_t data[36];
  uint32_t transferred = 123;
  EXPECT_EQ(SendCommandIn("sim:elsewhere", inquiry, 6, data, 36, &transferred), 0);
  EXPECT_EQ(transferred, 123u);
  ASSERT_EQ(traced.size(), 1u);
  EXPECT_FALSE(traced[0].opened);
  EXPECT_EQ(traced[0].detail,
            "cannot open sim:elsewhere: fwtool-helper refuses: sim:elsewhere is not a USB or "
            "SBP-2 storage interface the helper listed");
}

TEST_F(ThroughHelper, WhenTheHelperGoesCommandsFailAsOnAnUnopenableNode) {
  Connect("vqb719");
  const std::string path = rig->farm->Unit(0).diskPath;
  EXPECT_EQ(devices->AccessProblem(), "");
  ::shutdown(rig->helperEnd, SHUT_RDWR);  // the helper's side goes
  rig->Join();
  const uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
  uint8_t data[36];
  uint32_t transferred = 123;
  EXPECT_EQ(SendCommandIn(path, inquiry, 6, data, 36, &transferred), 0);
  EXPECT_EQ(transferred, 123u);
  ASSERT_EQ(traced.size(), 1u);
  EXPECT_FALSE(traced[0].opened);
  EXPECT_NE(traced[0].detail.find("fwtool-helper has ended"), std::string::npos)
      << traced[0].detail;
  EXPECT_TRUE(connection->Gone());
  EXPECT_TRUE(devices->DiskInterfaces().empty());
  EXPECT_EQ(devices->AccessProblem(),
            "fwtool-helper has ended, and this program has no rights of its own to the devices");
}

}  // namespace
}  // namespace fwtool::helper::testing
