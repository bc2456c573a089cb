// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary bytes as the firmware file of an engineering run: the file
// tests of "Load File" ("Check CheckSum" included), the size rules of the
// run table and of each procedure, the header-area tests and the merges of
// the unit's own settings into the file, on a simulated unit of each
// procedure. Nothing may read outside the file's bytes or the unit's
// answers, every run ends with a result of 1 or 0, and the copy a run saves
// before it writes holds exactly what the unit held.
//
// The first byte of an input picks the unit and the run's options; the rest
// is the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "clock.h"
#include "enumeration.h"
#include "simulator.h"
#include "timer_service.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// One unit a procedure serves each: serial flash, by address, with the
// header area, paged (an SST part), parallel, IEEE 1394, the disk area,
// type 12's copy on its disk (with "VQS175 HDD FW ").
struct Unit {
  const char* description;
  bool hddFirmware;
  bool parallel;
  bool flashPart;  // the whole part is the unit's flash
};
constexpr Unit kUnits[] = {
    {"vqb719", false, false, true},
    {"vq64771:maker=mxic", false, false, true},
    {"vqb716:maker=mxic", false, false, true},
    {"vqb713:maker=sst", false, false, true},
    {"vq64779:parallel=sst", false, true, false},
    {"vqb717:bus=sbp2", false, false, true},
    {"vqb145:disk=1M", false, false, false},
    {"vqs175:disk=4M", true, false, false},
};
constexpr size_t kUnitCount = sizeof(kUnits) / sizeof(kUnits[0]);

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "procedure intake: %s\n", what);
    std::abort();
  }
}

// The operator answers nothing: every box is only shown, and a file dialog
// is never opened by a run whose files are in its request.
class SilentOperator final : public fwtool::OperatorServices {
 public:
  void MessageBox(const std::string&, const std::string&, fwtool::MessageIcon) override {}
  void SimpleMessage(const std::string&) override {}
  std::optional<std::string> OpenFileDialog(const fwtool::FileDialogRequest&) override {
    Require(false, "a run opened a file dialog");
    return std::nullopt;
  }
  void ProcessMessages() override {}
  void DebugOutput(const std::string&) override {}
};

// A scratch folder of this process, in memory where the system has a tmpfs:
// the file, and the data folder the runs' copies go to.
const fs::path& Scratch() {
  static const fs::path path = [] {
    std::error_code ec;
    const fs::path base =
        fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path dir = base / ("fwtool-intake-fuzz-" + std::to_string(::getpid()));
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(Scratch(), ignored);
    });
    return dir;
  }();
  return path;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const fs::path& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fwtool;
  if (size == 0) return 0;
  const uint8_t pick = data[0];
  const Unit& unit = kUnits[pick % kUnitCount];
  const fs::path& scratch = Scratch();
  const fs::path file = scratch / "firmware.bin";
  Require(WriteFile(file, data + 1, size - 1), "the file could not be written");
  std::error_code ec;
  fs::remove_all(scratch / "data", ec);

  ScopedClock clock(std::make_shared<VirtualClock>());
  std::string error;
  auto farm = sim::SimFarm::Create(unit.description, &error);
  Require(farm != nullptr, "the unit was refused");
  farm->SetTimeScale(0);
  sim::ScopedSimulatorBackend backend(farm);
  auto enumerator = farm->Enumerator();
  SilentOperator op;
  ClockTimerService timers;
  TV77xFwTool form(op, *enumerator, timers, nullptr,
                   FormOptions{.scope = DeviceListScope::AllControllers});
  form.RefreshBtnClick(form.RefreshBtn);
  Require(form.SelectUnit(0), "the unit is not listed");
  form.ShowEngineeringFace();

  RunRequest request;
  request.firmwareFile = file.string();
  request.includeNvram = (pick & 0x20) == 0;
  request.checkSum = (pick & 0x40) != 0;
  request.hddFirmware = unit.hddFirmware;
  if (unit.parallel) request.flashType = (pick >> 3) % 3;
  const Bytes before = farm->Controller(0).Flash().Contents();
  form.SetRunOptions(request);
  const RunOutcome run = form.Run(request);
  Require(run.result == 0 || run.result == 1, "a result other than 1 or 0");
  Require(!run.ran || run.procedure != ProcedureTag::None, "a run without a procedure");
  // The copy saved before the run is the part as it was.
  if (run.ran && unit.flashPart && !run.backupFile.empty()) {
    const Bytes copy = ReadFile(run.backupFile);
    Require(copy.size() <= before.size() && std::equal(copy.begin(), copy.end(), before.begin()),
            "the copy before the run is not what the flash held");
  }
  return 0;
}
