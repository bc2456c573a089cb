// SPDX-License-Identifier: GPL-2.0-or-later
// The parallel flash procedure of chip types 2 and 21: a 64 KB part of the
// kind the operator chose in "Flash Type", whose unlock sequences the host
// hands to the controller. Erase only, backup only, or program from a file.
#include <algorithm>
#include <string>
#include <vector>

#include "backup_file.h"
#include "firmware.h"
#include "flash_commands.h"
#include "operator.h"
#include "parallel_flash_commands.h"
#include "parallel_flash_steps.h"
#include "procedure_texts.h"
#include "progress.h"
#include "transport.h"

namespace fwtool {

namespace {

constexpr int32_t kFlashSize = static_cast<int32_t>(kParallelFlashSize);
// The part erases itself (read back blank after), takes the whole image in
// one command, and is read back.
constexpr WeightedStep kParallelProgramSteps[] = {
    {ProgressStep::Erase, 10}, {ProgressStep::Program, 87}, {ProgressStep::Verify, 3}};
constexpr WeightedStep kParallelEraseSteps[] = {{ProgressStep::Erase, 75},
                                                {ProgressStep::Verify, 25}};

bool IsBlank(const AlignedBuffer& flash) {
  return std::all_of(flash.data(), flash.data() + kFlashSize, [](uint8_t b) { return b == 0xFF; });
}

bool KnownKind(int kind) {
  return kind >= 0 && kind < kParallelFlashKinds;
}

// The firmware file, read in full before the part is touched. Null status
// text on success.
const char* ReadParallelImage(const std::string& fileName, std::vector<uint8_t>& file) {
  auto opened = ImageFile::Open(fileName);
  if (!opened || !opened->ReadAll(file) || file.empty()) return texts::kOpenNewRomFileError;
  if (file.size() > kParallelFlashSize) return texts::kFileBiggerThanFlash;
  return nullptr;
}

}  // namespace

int WaitParallelFlashReady(std::string_view path) {
  for (int round = 0; round < kParallelReadyRounds; ++round)
    for (int poll = 0; poll < kParallelReadyPollsPerRound; ++poll)
      if (!ParallelFlashBusy(path)) return 1;
  return 0;
}

int EraseParallelFlash(const ProcedureRequest& request, ProcedureHost& host) {
  const int kind = request.options.flashTypeIndex;
  ProgressSteps steps(host.Progress(), kParallelEraseSteps);
  host.SetStatusText(texts::kEraseOnlyStep);
  AlignedBuffer readBack(kParallelFlashSize);
  if (!readBack) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return 0;
  }
  if (!LoadParallelEraseScript(request.path, kind)) {
    host.SetStatusText(texts::kPreEraseCommandError);
    return 0;
  }
  // Only a part that was seen blank is erased.
  if (!ParallelFlashEraseStart(request.path)) {
    host.SetStatusText(texts::kEraseCommandFail);
    return 0;
  }
  if (!WaitParallelFlashReady(request.path)) {
    host.SetStatusText(texts::kEraseStatusFail);
    return 0;
  }
  host.SetStatusText(texts::kEraseCommandOk);
  steps.Begin(ProgressStep::Verify);
  if (!ReadParallelFlash(request.path, 0, readBack.data(), kParallelFlashSize)) {
    host.SetStatusText(texts::kParallelReadBackAfterEraseFail);
    return 0;
  }
  if (!IsBlank(readBack)) {
    host.SetStatusText(texts::kNotErasedCorrectly);
    return 0;
  }
  steps.Finish();
  host.SetStatusText(texts::kEraseAllSuccess);
  host.MessageBox(texts::kPowerCycleBox, kCaptionMessage);
  return 1;
}

int BackupParallelFlash(const ProcedureRequest& request, ProcedureHost& host) {
  const BackupTarget file =
      EngineeringBackupTarget(request.options.backupFile, texts::kDefaultParallelBackupFile);
  if (!file.named) host.MessageBox(texts::kDefaultBackupBox, kCaptionMessage);
  const ProgressSteps steps(host.Progress(), {{ProgressStep::Backup, 1}});
  host.SetStatusText(texts::kBackupStep);
  AlignedBuffer flash(kParallelFlashSize);
  if (!flash) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return 0;
  }
  if (!ReadParallelFlash(request.path, 0, flash.data(), kParallelFlashSize)) {
    host.SetStatusText(texts::kReadRomFail);
    return 0;
  }
  host.Progress().Advance(1, 1);
  std::string written;
  if (!SaveBackupFile(file.path, flash.data(), kParallelFlashSize, nullptr, file.existing,
                      &written)) {
    host.SetStatusText(texts::kSaveRomFail);
    return 0;
  }
  host.BackupSaved(written);
  host.SetStatusText(texts::kBackupSuccess);
  return 1;
}

int SelectParallelFlash(const ProcedureRequest& request, ProcedureHost& host) {
  if (request.options.a1Chip || ParallelFlashSelect(request.path)) return 1;
  host.SetStatusText(texts::kCantSwitchToInternalRom);
  return 0;
}

int RunParallelFlashUpdate(const ProcedureRequest& request, ProcedureHost& host) {
  const EngineeringOptions& options = request.options;
  const bool backupOnly = !options.eraseOnly && options.backupOnly;
  // The scripts decide what the part does: without a known part nothing is
  // sent that could erase or program it.
  if (!backupOnly && !KnownKind(options.flashTypeIndex)) {
    host.SetStatusText(texts::kChooseFlashType);
    return 0;
  }
  // The whole file is had before the part is erased.
  std::vector<uint8_t> file;
  if (!options.eraseOnly && !backupOnly) {
    if (const char* failure = ReadParallelImage(options.firmwareFile, file)) {
      host.SetStatusText(failure);
      return 0;
    }
  }
  if (!SelectParallelFlash(request, host)) return 0;
  if (options.eraseOnly) return EraseParallelFlash(request, host);
  if (backupOnly) return BackupParallelFlash(request, host);
  return ProgramParallelFlashFromFile(request, host, file);
}

int ProgramParallelFlashFromFile(const ProcedureRequest& request, ProcedureHost& host,
                                 const std::vector<uint8_t>& file) {
  if (file.empty() || file.size() > kParallelFlashSize) {
    host.SetStatusText(texts::kOpenNewRomFileError);
    return 0;
  }
  // Past the file's end the part keeps its erased state.
  std::vector<uint8_t> image(kParallelFlashSize, 0xFF);
  std::copy(file.begin(), file.end(), image.begin());
  if (!WriteParallelImage(request, host, image.data())) return 0;
  host.SetStatusText(texts::kProgrammingAndCompareSuccess);
  host.MessageBox(texts::kPowerCycleBox, kCaptionMessage);
  return 1;
}

int WriteParallelImage(const ProcedureRequest& request, ProcedureHost& host,
                       const uint8_t* source) {
  const int kind = request.options.flashTypeIndex;
  AlignedBuffer image(kParallelFlashSize);
  AlignedBuffer readBack(kParallelFlashSize);
  if (!image || !readBack) {
    host.SetStatusText(texts::kAllocateBuffersError);
    return 0;
  }
  std::copy_n(source, kParallelFlashSize, image.data());

  ProgressSteps steps(host.Progress(), kParallelProgramSteps);
  if (!LoadParallelEraseScript(request.path, kind)) {
    host.SetStatusText(texts::kPreEraseCommandError);
    return 0;
  }
  // A failed erase start, wait or read shows in the compare after
  // programming; only a part read back not blank stops here.
  if (ParallelFlashEraseStart(request.path)) {
    if (!WaitParallelFlashReady(request.path)) {
      host.SetStatusText(texts::kEraseStatusFail);
    } else {
      host.SetStatusText(texts::kEraseCommandOk);
      if (ReadParallelFlash(request.path, 0, readBack.data(), kParallelFlashSize) &&
          !IsBlank(readBack)) {
        host.SetStatusText(texts::kNotErasedCorrectly);
        return 0;
      }
    }
  }

  WaitParallelFlashReady(request.path);
  // The part takes the image in one command and then programs it on its
  // own: the wait for it is the programming.
  steps.Begin(ProgressStep::Program);
  if (!ProgramParallelFlash(request.path, image.data(), kParallelFlashSize, kind)) {
    host.SetStatusText(texts::kParallelProgrammingFail);
    return 0;
  }
  host.SetStatusText(texts::kProgrammingSuccess);
  WaitParallelFlashReady(request.path);
  steps.Begin(ProgressStep::Verify);
  if (!ReadParallelFlash(request.path, 0, readBack.data(), kParallelFlashSize)) {
    host.SetStatusText(texts::kParallelReadFail);
    return 0;
  }
  if (!std::equal(image.data(), image.data() + kFlashSize, readBack.data())) {
    host.SetStatusText(texts::kParallelCompareFail);
    return 0;
  }
  steps.Finish();
  return 1;
}

}  // namespace fwtool
