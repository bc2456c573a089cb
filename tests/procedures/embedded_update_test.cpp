// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "capture_backend.h"
#include "clock.h"
#include "fake_procedure_host.h"
#include "firmware.h"
#include "pass_through.h"
#include "procedures.h"

namespace fwtool {
namespace {

namespace fs = std::filesystem;
using testing::FakeProcedureHost;
using testing::ScopedCaptureBackend;

TEST(HeaderMerge, TableMarksTwentyEightImageBytes) {
  int fromImage = 0;
  int kept = 0;
  for (uint32_t entry : HeaderMergeTable) {
    if (entry < 256) ++fromImage;
    if (entry == 4095) ++kept;
  }
  EXPECT_EQ(fromImage, 28);
  EXPECT_EQ(kept, 100);
  EXPECT_LT(HeaderMergeTable[126], 256u);  // the marker comes from the image
  EXPECT_EQ(HeaderMergeTable[0], 4095u);
}

class EmbeddedUpdate : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock{clock};
  ScopedCaptureBackend backend;
  FakeProcedureHost host;
  fs::path dir = fs::temp_directory_path() / ("fwtool-eu-" + std::to_string(::getpid()));
  std::vector<uint8_t> image = std::vector<uint8_t>(EmbeddedImage().begin(), EmbeddedImage().end());

  void SetUp() override { fs::create_directories(dir); }
  void TearDown() override { fs::remove_all(dir); }
  EmbeddedUpdateOptions Options(const char* name = "backup.bin") {
    return EmbeddedUpdateOptions{image, (dir / name).string()};
  }
  static bool IsRead(const PassThroughRequest& rq) {
    return rq.cdb[0] == 0xDF && rq.cdb[11] == 0xFA;
  }
  static bool IsWrite(const PassThroughRequest& rq) {
    return rq.cdb[0] == 0xDF && rq.cdb[11] == 0xFB;
  }
  size_t Writes() {
    size_t n = 0;
    for (const auto& c : backend->commands) n += IsWrite(c.request) ? 1 : 0;
    return n;
  }
};

// Read-backs that fail prove nothing: the failure is reported as such, not
// as a compare failure against bytes that were never read.
TEST_F(EmbeddedUpdate, FailedReadBackIsNotCompared) {
  bool written = false;
  backend->responder = [&](const PassThroughRequest& rq) {
    if (IsWrite(rq)) written = true;
    if (IsRead(rq) && written) return testing::Answered(true, 2);
    return testing::Answered();
  };
  EmbeddedUpdateReport report;
  EXPECT_EQ(UpdateEmbeddedImage(host, "/dev/x", Options(), &report), 0);
  EXPECT_EQ(host.status, "Read command fail!");
  EXPECT_EQ(report.attempts, 3);
  EXPECT_EQ(report.lastMode, 3);
  EXPECT_TRUE(std::find(host.statusHistory.begin(), host.statusHistory.end(),
                        "Data compare fail !!") == host.statusHistory.end());
}

TEST_F(EmbeddedUpdate, NoBackupNoWrite) {
  std::ofstream(dir / "taken.bin") << "an earlier backup";
  EmbeddedUpdateReport report;
  EXPECT_EQ(UpdateEmbeddedImage(host, "/dev/x", Options("taken.bin"), &report), 0);
  EXPECT_EQ(Writes(), 0u);
  EXPECT_FALSE(report.backupWritten);
  EXPECT_EQ(host.status, kFlashBackupFail);
  std::ifstream in(dir / "taken.bin");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "an earlier backup");

  // A flash that cannot be read for the copy.
  int reads = 0;
  backend->responder = [&](const PassThroughRequest& rq) {
    if (IsRead(rq) && ++reads == 4) return testing::Answered(false);
    return testing::Answered();
  };
  EXPECT_EQ(UpdateEmbeddedImage(host, "/dev/x", Options("second.bin"), &report), 0);
  EXPECT_EQ(Writes(), 0u);
  EXPECT_FALSE(fs::exists(dir / "second.bin"));
  EXPECT_FALSE(fs::exists(dir / "second.bin.part"));
}

TEST_F(EmbeddedUpdate, HeadThatCannotBeReadStopsBeforeTheBackup) {
  backend->responder = [](const PassThroughRequest& rq) { return testing::Answered(!IsRead(rq)); };
  EXPECT_EQ(UpdateEmbeddedImage(host, "/dev/x", Options()), 0);
  EXPECT_EQ(host.status, "Backup NVRAM command fail!");
  EXPECT_EQ(Writes(), 0u);
  EXPECT_FALSE(fs::exists(dir / "backup.bin"));
}

TEST(BackupFile, DefaultPlaceAndName) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string before = saved != nullptr ? saved : "";
  setenv("XDG_DATA_HOME", "/var/tmp/xdg", 1);
  EXPECT_EQ(DefaultBackupFolder(), "/var/tmp/xdg/fwtool/backups");
  const std::string path = DefaultBackupPath("sim:usbsto#disk&ven_talve&prod_vqb719#0");
  EXPECT_EQ(path.rfind("/var/tmp/xdg/fwtool/backups/sim_usbsto_disk_ven_talve_prod_vqb719_0-", 0),
            0u);
  EXPECT_EQ(path.substr(path.size() - 4), ".bin");
  setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
  EXPECT_NE(DefaultBackupFolder().rfind("relative", 0), 0u);
  if (saved != nullptr) {
    setenv("XDG_DATA_HOME", before.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

}  // namespace
}  // namespace fwtool
