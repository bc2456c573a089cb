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
#include "embedded_update.h"
#include "expected_update.h"
#include "helper_client.h"
#include "helper_rig.h"
#include "helper_rights.h"
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
    SetCommandTrace(previousTrace);
    SetSimulatorBackend(previous);
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
  const uint8_t unknown[12] = {0xDF, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x77};
  uint8_t data[4] = {9, 9, 9, 9};
  uint32_t transferred = 123;
  EXPECT_EQ(SendCommandIn(path, unknown, 12, data, 4, &transferred), 0);
  ASSERT_EQ(traced.size(), 1u);
  const PassThroughResult& result = traced[0];
  EXPECT_TRUE(result.opened);
  EXPECT_TRUE(result.callOk);
  EXPECT_EQ(result.scsiStatus, 2);  // CHECK CONDITION
  ASSERT_GE(result.sense.size(), 14u);
  EXPECT_EQ(result.sense[2] & 0x0F, 0x05);  // ILLEGAL REQUEST
  EXPECT_EQ(rig->farm->Controller(0).Log().back().sense, result.sense);
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
