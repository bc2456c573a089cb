// SPDX-License-Identifier: GPL-2.0-or-later
// Recorded runs: every command a run sends (block, direction, lengths, both
// data phases, status, sense, time) and every device list it asks for, kept
// in a JSON file that a maintainer can read and that answers a later run in
// place of the devices.
//
// Recording is a decorator over any pass-through backend (and over the
// interface enumerator): it forwards every call unchanged and notes what
// came back. Replaying is a backend of its own that answers from the file
// and stops at the first command that differs from the recording.
//
// The file (version 1):
//   { "format": "fwtool recorded run", "version": 1,
//     "program": "fwtool 0.2.0", "arguments": ["update", "--yes"],
//     "interfaces": [ { "disk": [PATH...], "cdrom": [PATH...],
//                       "accessProblem": TEXT } ... ],   every enumeration, in order
//     "commands": [ {
//         "index": 1,                       order in which the commands ended
//         "path": "usbsto:/dev/sg0",
//         "cdb": "12 00 00 00 28 00",       the block, hex
//         "direction": "in" | "out",
//         "length": 40,                     the data phase's length
//         "timeout": 10,                    seconds
//         "dataOut": BASE64 | "dataIn": BASE64,   the data phase; trailing
//                                           zero bytes up to `length` left out
//         "result": { "opened", "callOk", "scsiStatus", "transferred",
//                     and where not zero or empty: "notSent", "errorCode",
//                     "hostStatus", "driverStatus", "sense" (hex), "detail" },
//         "atMs": 12.5,                     when it was sent, from the start
//         "durationMs": 0.6 } ... ] }
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "enumeration.h"
#include "pass_through.h"

namespace fwtool {

inline constexpr const char* kRecordFormat = "fwtool recorded run";
inline constexpr int kRecordVersion = 1;
// What a file that comes from elsewhere may hold: a recording of an update
// of the largest flash part is a few tens of megabytes, and no command moves
// more than the largest part holds.
inline constexpr size_t kMaxRecordFileSize = size_t{256} << 20;
inline constexpr uint32_t kMaxRecordedLength = uint32_t{16} << 20;

struct RecordedCommand {
  uint64_t index = 0;
  std::string path;
  std::vector<uint8_t> cdb;
  DataDirection direction = DataDirection::In;
  uint32_t length = 0;
  uint32_t timeoutSeconds = 0;
  // The data phase: `length` bytes, of which a command read from a file
  // keeps only those before the zero bytes at its end.
  std::vector<uint8_t> data;
  PassThroughResult result;
  double atMs = 0;
  double durationMs = 0;

  uint8_t DataByte(size_t i) const { return i < data.size() ? data[i] : 0; }
};

struct RecordedInterfaces {
  std::vector<std::string> disk;
  std::vector<std::string> cdrom;
  std::string accessProblem;
};

struct RecordedRun {
  std::string program;
  std::vector<std::string> arguments;
  std::vector<RecordedInterfaces> interfaces;
  std::vector<RecordedCommand> commands;
};

// The file's text for a run, and a run from a file's text (nullopt with the
// reason in `error`: the entry and field that are wrong). Loading reads a
// regular file of at most kMaxRecordFileSize bytes. Neither throws.
std::string RecordedRunJson(const RecordedRun& run);
std::optional<RecordedRun> ParseRecordedRun(const std::string& text, std::string* error);
std::optional<RecordedRun> LoadRecordedRun(const std::string& path, std::string* error);

// Collects what the decorators see, from any number of threads.
class RunRecorder {
 public:
  RunRecorder(std::string program, std::vector<std::string> arguments);

  void AddCommand(const PassThroughRequest& request, const PassThroughResult& result,
                  Duration sentAt, Duration took);
  void AddDiskInterfaces(const std::vector<std::string>& paths);
  void AddCdromInterfaces(const std::vector<std::string>& paths);
  void AddAccessProblem(const std::string& problem);

  // Everything so far.
  RecordedRun Run() const;
  // Writes the file (a new one: an existing file is never replaced); false
  // with the reason in `error`.
  bool Save(const std::string& path, std::string* error) const;

 private:
  mutable std::mutex mutex_;
  Duration start_;
  RecordedRun run_;
};

// Forwards every command to `inner` and records it with its answer.
class RecordingBackend final : public PassThroughBackend {
 public:
  RecordingBackend(std::shared_ptr<PassThroughBackend> inner, std::shared_ptr<RunRecorder> recorder)
      : inner_(std::move(inner)), recorder_(std::move(recorder)) {}
  PassThroughResult Execute(const PassThroughRequest& request) override;

 private:
  std::shared_ptr<PassThroughBackend> inner_;
  std::shared_ptr<RunRecorder> recorder_;
};

// Forwards every question to `inner` and records the answer.
class RecordingEnumerator final : public InterfaceEnumerator {
 public:
  RecordingEnumerator(std::shared_ptr<InterfaceEnumerator> inner,
                      std::shared_ptr<RunRecorder> recorder)
      : inner_(std::move(inner)), recorder_(std::move(recorder)) {}
  std::vector<std::string> DiskInterfaces() override;
  std::vector<std::string> CdromInterfaces() override;
  std::string AccessProblem() override;
  // Not part of the recording: a replay has no serial numbers.
  std::string SerialNumber(const std::string& path) override { return inner_->SerialNumber(path); }

 private:
  std::shared_ptr<InterfaceEnumerator> inner_;
  std::shared_ptr<RunRecorder> recorder_;
};

// Answers a run from a recording. Each path answers its own commands in
// their recorded order (a device sees only its own commands; units updated
// side by side interleave differently every time). The first command that
// differs from the recording, or that the recording does not hold, fails as
// a transport failure whose detail names the command and what differed, and
// so does every command after it.
class ReplayBackend final : public PassThroughBackend {
 public:
  explicit ReplayBackend(RecordedRun run);
  PassThroughResult Execute(const PassThroughRequest& request) override;

  // Why the replay stopped, empty while the run follows the recording.
  std::string Mismatch() const;
  // The recorded commands that no command of the run has answered yet.
  size_t Unplayed() const;
  // One line for a person: the first recorded command not played, or empty.
  std::string FirstUnplayed() const;

 private:
  mutable std::mutex mutex_;
  RecordedRun run_;
  std::vector<bool> played_;              // per recorded command
  std::map<std::string, size_t> cursor_;  // per path: where its next command is looked for
  std::string mismatch_;
};

// The device lists of a recording, in their order; the last one stays.
class ReplayEnumerator final : public InterfaceEnumerator {
 public:
  explicit ReplayEnumerator(std::vector<RecordedInterfaces> lists) : lists_(std::move(lists)) {}
  std::vector<std::string> DiskInterfaces() override;
  std::vector<std::string> CdromInterfaces() override;
  std::string AccessProblem() override;

 private:
  std::mutex mutex_;
  std::vector<RecordedInterfaces> lists_;
  size_t current_ = 0;  // the list answered now
  size_t next_ = 0;     // the list the next enumeration takes
  const RecordedInterfaces* Current();
};

}  // namespace fwtool
