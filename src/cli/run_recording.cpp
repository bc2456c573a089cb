// SPDX-License-Identifier: GPL-2.0-or-later
#include "run_recording.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "recorded_run.h"

namespace fwtool::cli {

namespace {
std::shared_ptr<RunRecorder>& TheRecorder() {
  static std::shared_ptr<RunRecorder> recorder;
  return recorder;
}

std::shared_ptr<PassThroughBackend> Recorded(std::shared_ptr<PassThroughBackend> backend) {
  if (!backend) return nullptr;  // nothing can be sent there: the registry says so itself
  return std::make_shared<RecordingBackend>(std::move(backend), TheRecorder());
}
}  // namespace

void StartRecording(const CliContext& ctx, std::vector<std::string> arguments) {
  if (ctx.record.empty()) return;
  // The file is made new at the end; a name that is taken now would only
  // throw the run's recording away then.
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(ctx.record, ec)))
    throw CLI::ValidationError("--record", ctx.record + " exists already; name a new file");
  TheRecorder() =
      std::make_shared<RunRecorder>(std::string("fwtool ") + FWTOOL_VERSION, std::move(arguments));
  SetPlatformBackend(Recorded(SetPlatformBackend(nullptr)));
  SetSimulatorBackend(Recorded(SetSimulatorBackend(nullptr)));
}

std::shared_ptr<InterfaceEnumerator> RecordedDevices(std::shared_ptr<InterfaceEnumerator> devices) {
  if (!TheRecorder()) return devices;
  return std::make_shared<RecordingEnumerator>(std::move(devices), TheRecorder());
}

bool FinishRecording(const CliContext& ctx) {
  if (!TheRecorder()) return true;
  std::string error;
  if (!TheRecorder()->Save(ctx.record, &error)) {
    std::fprintf(stderr, "fwtool: --record: %s\n", error.c_str());
    return false;
  }
  return true;
}

}  // namespace fwtool::cli
