// SPDX-License-Identifier: GPL-2.0-or-later
// The unit's own settings, which a procedure reads before it erases and
// writes back afterwards, exist nowhere else while it works: a bit the bus
// turns in any read the procedure makes before it first writes must never
// end up in the flash as the unit's settings. Each procedure that keeps
// them runs on a simulated unit (its facts as identification finds them)
// with one bit flipped in each such read in turn; whenever it reports
// success, the settings are what they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "byte_pattern.h"
#include "procedures.h"
#include "sim_form_fixture.h"

namespace fwtool {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::SimFormTest;

struct KeptCase {
  const char* name;
  const char* unit;
  ProcedureTag procedure;
  bool eraseOnly;
  size_t fileSize;  // programs a file of this size; 0 with an erase
  // Where the unit keeps its settings, and how many bytes (by hand, from
  // the chips' layouts).
  size_t at;
  size_t length;
  bool type13 = false;  // identifies as type 10; the request names 13
};

// clang-format off
const KeptCase kCases[] = {
    // The settings area at 0 of a single-bank part, behind the first
    // bank's firmware on the dual-bank one.
    {"SerialProgram", "vqb719", ProcedureTag::SerialFlash, false, 65536, 0, 4096},
    {"SerialEraseDualBank", "vqs175", ProcedureTag::SerialFlash, true, 0, 0xC000, 4096},
    // 512 bytes at 0x8000, outside a file of up to 32 KB.
    {"BasicShortFile", "vq64773:maker=winbond:size=128", ProcedureTag::Basic, false, 20000, 0x8000, 512},
    // The 4 KB header area.
    {"HeaderProgram", "vqb716", ProcedureTag::HeaderHandling, false, 20000, 0, 4096},
    {"HeaderErase", "vqb716:maker=mxic", ProcedureTag::HeaderHandling, true, 0, 0, 4096},
    // The 1394 bridge's 1 KB at 0x8000.
    {"Ieee1394Erase", "vqb717:bus=sbp2", ProcedureTag::Ieee1394, true, 0, 0x8000, 1024},
    {"StagedProgram", "vqs713:maker=mxic", ProcedureTag::Staged, false, 20000, 0, 4096, true},
};
// clang-format on

void PrintTo(const KeptCase& c, std::ostream* os) {
  *os << c.unit;
}

class SettingsKept : public SimFormTest, public ::testing::WithParamInterface<KeptCase> {
 protected:
  std::string file;
  uint64_t operationsBefore = 0;  // the unit's erases and programs before the run

  Bytes Settled() {
    auto& flash = farm->Controller(0).Flash();
    return flash.ContentsAt(std::max(clock->Now(), flash.ReadyAt()));
  }

  // The procedure on a fresh unit with the faults (none: a clean run). The
  // unit's flash before, and the result.
  int RunWith(const sim::FaultPlan& faults, Bytes& before) {
    const KeptCase& c = GetParam();
    Build(c.unit);
    auto& f = Open();
    f.ShowEngineeringFace();
    f.SelectUnit(0);
    ProcedureRequest request = f.ProcedureRequestFor(f.Devices[0].Path);
    if (c.type13) {
      request.chip.type = 13;
      request.chip.row = &ChipRowFor(13);
    }
    request.options.rdVersion = true;
    request.options.eraseOnly = c.eraseOnly;
    request.options.includeNvram = false;
    request.options.firmwareFile = c.eraseOnly ? std::string() : file;
    f.Settings.SelectedFlashSize = static_cast<int32_t>(Flash().size());
    before = Settled();
    auto& unit = farm->Controller(0);
    unit.SetFaults(faults);
    unit.ClearLog();
    operationsBefore = unit.Flash().Statistics().operations;
    return ProcedureFor(c.procedure)(request, f.Host());
  }

  void SetUp() override {
    SimFormTest::SetUp();
    const KeptCase& c = GetParam();
    if (c.fileSize == 0) return;
    const Bytes bytes = testing::Pattern(c.fileSize, 0xF11E);
    file = (dir / "firmware.bin").string();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  Bytes Settings(const Bytes& flash) const {
    const KeptCase& c = GetParam();
    return Bytes(flash.begin() + static_cast<std::ptrdiff_t>(c.at),
                 flash.begin() + static_cast<std::ptrdiff_t>(c.at + c.length));
  }

  // A clean run, which keeps the settings.
  void CleanRun(Bytes& before) {
    ASSERT_EQ(RunWith({}, before), 1) << form->StatusEdit.Text();
    ASSERT_EQ(Settings(Settled()), Settings(before)) << "a clean run does not keep them";
  }
};

TEST_P(SettingsKept, ABitTurnedInTheirReadNeverReachesTheFlash) {
  Bytes before;
  CleanRun(before);
  if (HasFatalFailure()) return;

  // Every read before the first block that carries data to the unit.
  std::vector<uint64_t> reads;
  for (const auto& command : Log()) {
    if (command.direction == DataDirection::Out) break;
    if (command.transferred > 0) reads.push_back(command.number);
  }
  ASSERT_FALSE(reads.empty());
  size_t succeeded = 0;
  for (uint64_t n : reads) {
    SCOPED_TRACE("read-flip=" + std::to_string(n));
    sim::FaultPlan faults;
    faults.flipReadBitFrom = n;
    const int result = RunWith(faults, before);
    // Each run met its turned bit.
    EXPECT_TRUE(farm->Controller(0).ReadBitFlipped());
    if (result == 1) {
      ++succeeded;
      EXPECT_EQ(Settings(Settled()), Settings(before)) << "success, but the settings changed";
    }
  }
  // Some turned bits are harmless (a status read, a part the run reads
  // again), so some runs succeed and their settings are checked; none at
  // all would mean the check above never ran.
  EXPECT_GT(succeeded, 0u);
}

// Written back, they count only once the flash shows them: a power loss in
// any of the run's last erases and programs (the write-back among them) is
// never taken for success unless the settings are there.
TEST_P(SettingsKept, APowerLossInTheirWriteBackIsNoSuccess) {
  Bytes before;
  CleanRun(before);
  if (HasFatalFailure()) return;
  const uint64_t first = operationsBefore;
  const uint64_t last = farm->Controller(0).Flash().Statistics().operations;
  ASSERT_GT(last, first);
  for (uint64_t n = std::max(first + 1, last > 8 ? last - 8 : 1); n <= last; ++n) {
    SCOPED_TRACE("power-loss=" + std::to_string(n));
    sim::FaultPlan faults;
    faults.powerLossAtOperation = n;
    const int result = RunWith(faults, before);
    // The power went in that operation: the unit is gone until it is
    // power-cycled, so the run cannot have finished its work.
    EXPECT_FALSE(farm->Controller(0).Present()) << "the power loss never came";
    EXPECT_EQ(result, 0) << "success after the power went";
    if (result == 1) {
      EXPECT_EQ(Settings(Settled()), Settings(before)) << "success, but the settings changed";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Procedures, SettingsKept, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fwtool
