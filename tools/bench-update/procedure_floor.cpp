// SPDX-License-Identifier: GPL-2.0-or-later
#include "procedure_floor.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <vector>

#include "Fwupdate.h"
#include "byte_pattern.h"
#include "device_session.h"
#include "form_requests.h"
#include "recording_operator.h"
#include "run_table.h"

namespace fwtool::bench {

namespace {

namespace fs = std::filesystem;

// clang-format off
constexpr std::array<ProcedureCase, 9> kCases = {{
    {"serial flash", "vqs175", ProcedureTag::SerialFlash, 65536},
    {"basic", "vq64771:maker=mxic", ProcedureTag::Basic, 65536},
    // The unit's 4 KB area goes in front of the file: 60 KB fill the part.
    {"header handling", "vqb716:maker=mxic", ProcedureTag::HeaderHandling, 61440},
    {"paged", "vqb713:maker=sst", ProcedureTag::Paged, 65536},
    {"staged", "vqs713:maker=mxic", ProcedureTag::Staged, 65536, -1, false, 13},
    {"parallel", "vq64779:parallel=sst", ProcedureTag::Parallel, 65536, 2},
    {"IEEE 1394", "vqb717:bus=sbp2", ProcedureTag::Ieee1394, 65536},
    {"disk-hosted", "vqb145:disk=64M", ProcedureTag::DiskHosted, 65536},
    {"VQS175 disk", "vqs175:disk=500G", ProcedureTag::Vqs175Disk, 65536, -1, true},
}};
// clang-format on

// A scratch folder of its own, gone with the object.
class ScratchFolder {
 public:
  ScratchFolder()
      : path_(fs::temp_directory_path() /
              ("fwtool-bench-" + std::to_string(reinterpret_cast<uintptr_t>(this)))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

}  // namespace

std::span<const ProcedureCase> ProcedureCases() {
  return kCases;
}

std::optional<ProcedureMeasure> MeasureProcedure(const ProcedureCase& procedureCase,
                                                 std::string* error) {
  auto run = TimedRun::Create(procedureCase.unit, error);
  if (!run) return std::nullopt;
  RecordingOperator op;
  ClockTimerService timers;
  auto enumerator = run->Farm().Enumerator();
  TV77xFwTool form(op, *enumerator, timers, nullptr, {.scope = DeviceListScope::AllControllers});
  if (form.ListedCount() == 0) {
    if (error != nullptr) *error = "no unit listed";
    return std::nullopt;
  }
  // Selecting the entry runs the information check: the chip facts the
  // procedure gets are the ones the engineering face would give it.
  form.SelectUnit(0);
  form.ShowEngineeringFace();
  const std::string path = form.Devices[0].Path;

  const ScratchFolder folder;
  RunRequest options;
  options.firmwareFile = folder.File("firmware.bin");
  options.backupFile = folder.File("backup.bin");
  if (procedureCase.flashTypeIndex >= 0) options.flashType = procedureCase.flashTypeIndex;
  options.hddFirmware = procedureCase.hddFirmware;
  {
    const auto bytes = testing::Pattern(procedureCase.fileSize, 0x2468ACE);
    std::ofstream out(options.firmwareFile, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  // The options set as "Run" sets them; the procedure then runs as "Run"
  // runs it, and only the procedure is measured.
  form.SetRunOptions(options);
  ProcedureRequest request = form.ProcedureRequestFor(path);
  if (procedureCase.chipType != 0) {
    request.chip.type = procedureCase.chipType;
    request.chip.row = &ChipRowFor(procedureCase.chipType);
  }

  const RunDispatchInput input{request.chip, request.path, request.options, op};
  const RunDispatchRow& row = RunDispatchRows()[SelectRunRow(input)];
  const Procedure procedure =
      row.action == RunAction::RunProcedure ? ProcedureFor(row.procedure) : nullptr;
  if (procedure == nullptr || row.procedure != procedureCase.procedure) {
    if (error != nullptr) *error = "\"Run\" picks another procedure for this unit";
    return std::nullopt;
  }

  ProcedureMeasure m;
  m.procedureCase = &procedureCase;
  m.run = run->Measure(
      path,
      [&] {
        // As "Run" does: one open of the device for the whole procedure.
        const DeviceSession session(path, SessionAccess::Exclusive);
        m.done = procedure(request, form.Host()) == 1;
      },
      &form.Progress());
  m.status = form.StatusEdit.Text();
  return m;
}

}  // namespace fwtool::bench
