// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorded_run.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <span>

#include "host_services.h"

namespace fwtool {

namespace {

using nlohmann::json;

constexpr const char* kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// The host status of a replayed command that differs from the recording.
constexpr uint16_t kReplayDiffers = 0x07;

std::string Base64(const uint8_t* data, size_t length) {
  std::string text;
  text.reserve((length + 2) / 3 * 4);
  for (size_t i = 0; i < length; i += 3) {
    const uint32_t chunk = static_cast<uint32_t>(data[i]) << 16 |
                           (i + 1 < length ? static_cast<uint32_t>(data[i + 1]) << 8 : 0) |
                           (i + 2 < length ? data[i + 2] : 0);
    text += kBase64[chunk >> 18 & 0x3F];
    text += kBase64[chunk >> 12 & 0x3F];
    text += i + 1 < length ? kBase64[chunk >> 6 & 0x3F] : '=';
    text += i + 2 < length ? kBase64[chunk & 0x3F] : '=';
  }
  return text;
}

// The data phase without the zero bytes at its end (a failed or short
// transfer leaves much of a buffer zero).
std::string PhaseText(const std::vector<uint8_t>& data) {
  size_t used = data.size();
  while (used > 0 && data[used - 1] == 0) --used;
  return Base64(data.data(), used);
}

double Ms(Duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Texts from outside (paths, arguments, a system's error text) need not be
// valid UTF-8; JSON text must be.
std::string JsonText(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// In the order a reader wants: which command, then what came back.
nlohmann::ordered_json CommandJson(const RecordedCommand& c) {
  const auto& r = c.result;
  nlohmann::ordered_json result = {{"opened", r.opened},
                                   {"callOk", r.callOk},
                                   {"scsiStatus", r.scsiStatus},
                                   {"transferred", r.transferred}};
  if (r.notSent) result["notSent"] = true;
  if (r.errorCode != 0) result["errorCode"] = r.errorCode;
  if (r.hostStatus != 0) result["hostStatus"] = r.hostStatus;
  if (r.driverStatus != 0) result["driverStatus"] = r.driverStatus;
  if (!r.sense.empty()) result["sense"] = HexBytes(r.sense.data(), r.sense.size());
  if (!r.detail.empty()) result["detail"] = r.detail;
  const bool in = c.direction == DataDirection::In;
  nlohmann::ordered_json out = {{"index", c.index},
                                {"path", c.path},
                                {"cdb", HexBytes(c.cdb.data(), c.cdb.size())},
                                {"direction", in ? "in" : "out"},
                                {"length", c.length},
                                {"timeout", c.timeoutSeconds}};
  out[in ? "dataIn" : "dataOut"] = PhaseText(c.data);
  out["result"] = result;
  out["atMs"] = std::round(c.atMs * 1000) / 1000;
  out["durationMs"] = std::round(c.durationMs * 1000) / 1000;
  return out;
}

std::string Describe(const RecordedCommand& c) {
  return fmt::format("{} {} [{}] len={}", c.path, c.direction == DataDirection::In ? "IN" : "OUT",
                     HexBytes(c.cdb.data(), c.cdb.size()), c.length);
}

// What differs between the command sent and the one recorded, or empty.
std::string Difference(const PassThroughRequest& sent, const RecordedCommand& recorded) {
  const std::string sentBlock = HexBytes(sent.cdb.data(), sent.cdbLength);
  const std::string recordedBlock = HexBytes(recorded.cdb.data(), recorded.cdb.size());
  if (sentBlock != recordedBlock)
    return fmt::format("block [{}] sent, [{}] recorded", sentBlock, recordedBlock);
  if (sent.direction != recorded.direction)
    return fmt::format("data-{} sent, data-{} recorded",
                       sent.direction == DataDirection::In ? "in" : "out",
                       recorded.direction == DataDirection::In ? "in" : "out");
  if (sent.length != recorded.length)
    return fmt::format("length {} sent, {} recorded", sent.length, recorded.length);
  if (sent.timeoutSeconds != recorded.timeoutSeconds)
    return fmt::format("time-out {} s sent, {} s recorded", sent.timeoutSeconds,
                       recorded.timeoutSeconds);
  if (sent.direction == DataDirection::Out && sent.length != 0) {
    for (uint32_t i = 0; i < sent.length; ++i) {
      const uint8_t byte = sent.data != nullptr ? sent.data[i] : 0;
      const uint8_t kept = recorded.DataByte(i);
      if (byte != kept)
        return fmt::format("data-out byte {} is 0x{:02X}, 0x{:02X} recorded", i, byte, kept);
    }
  }
  return {};
}

}  // namespace

std::string RecordedRunJson(const RecordedRun& run) {
  nlohmann::ordered_json interfaces = nlohmann::ordered_json::array();
  for (const auto& list : run.interfaces)
    interfaces.push_back(nlohmann::ordered_json{
        {"disk", list.disk}, {"cdrom", list.cdrom}, {"accessProblem", list.accessProblem}});
  // One command a line: a maintainer reads the file with a pager and grep.
  std::string text = fmt::format(
      "{{\n\"format\": {},\n\"version\": {},\n\"program\": {},\n\"arguments\": {},\n"
      "\"interfaces\": {},\n\"commands\": [",
      JsonText(kRecordFormat), kRecordVersion, JsonText(run.program), JsonText(run.arguments),
      JsonText(interfaces));
  for (size_t i = 0; i < run.commands.size(); ++i)
    text += (i == 0 ? "\n" : ",\n") + JsonText(CommandJson(run.commands[i]));
  text += "\n]\n}\n";
  return text;
}

RunRecorder::RunRecorder(std::string program, std::vector<std::string> arguments)
    : start_(GetClock().Now()) {
  run_.program = std::move(program);
  run_.arguments = std::move(arguments);
}

void RunRecorder::AddCommand(const PassThroughRequest& request, const PassThroughResult& result,
                             Duration sentAt, Duration took) {
  RecordedCommand c;
  c.path = request.path;
  c.cdb.assign(request.cdb.begin(), request.cdb.begin() + request.cdbLength);
  c.direction = request.direction;
  c.length = request.length;
  c.timeoutSeconds = request.timeoutSeconds;
  if (request.data != nullptr) c.data.assign(request.data, request.data + request.length);
  c.data.resize(request.length, 0);
  c.result = result;
  c.durationMs = Ms(took);
  std::lock_guard lock(mutex_);
  c.atMs = Ms(sentAt - start_);
  c.index = run_.commands.size() + 1;
  run_.commands.push_back(std::move(c));
}

void RunRecorder::AddDiskInterfaces(const std::vector<std::string>& paths) {
  std::lock_guard lock(mutex_);
  run_.interfaces.push_back({paths, {}, {}});
}

void RunRecorder::AddCdromInterfaces(const std::vector<std::string>& paths) {
  std::lock_guard lock(mutex_);
  if (run_.interfaces.empty()) run_.interfaces.emplace_back();
  run_.interfaces.back().cdrom = paths;
}

void RunRecorder::AddAccessProblem(const std::string& problem) {
  std::lock_guard lock(mutex_);
  if (run_.interfaces.empty()) run_.interfaces.emplace_back();
  run_.interfaces.back().accessProblem = problem;
}

RecordedRun RunRecorder::Run() const {
  std::lock_guard lock(mutex_);
  return run_;
}

bool RunRecorder::Save(const std::string& path, std::string* error) const {
  const std::string text = RecordedRunJson(Run());
  std::string why;
  const auto bytes = std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (host::WriteNewFile(path, bytes, host::TakenName::Refuse, nullptr, &why)) return true;
  if (error != nullptr) *error = "cannot write " + path + ": " + why;
  return false;
}

PassThroughResult RecordingBackend::Execute(const PassThroughRequest& request) {
  const Duration sentAt = GetClock().Now();
  PassThroughResult result = inner_->Execute(request);
  recorder_->AddCommand(request, result, sentAt, GetClock().Now() - sentAt);
  return result;
}

std::vector<std::string> RecordingEnumerator::DiskInterfaces() {
  auto paths = inner_->DiskInterfaces();
  recorder_->AddDiskInterfaces(paths);
  return paths;
}

std::vector<std::string> RecordingEnumerator::CdromInterfaces() {
  auto paths = inner_->CdromInterfaces();
  recorder_->AddCdromInterfaces(paths);
  return paths;
}

std::string RecordingEnumerator::AccessProblem() {
  auto problem = inner_->AccessProblem();
  recorder_->AddAccessProblem(problem);
  return problem;
}

ReplayBackend::ReplayBackend(RecordedRun run)
    : run_(std::move(run)), played_(run_.commands.size(), false) {}

PassThroughResult ReplayBackend::Execute(const PassThroughRequest& request) {
  PassThroughResult result;
  Duration took{0};
  {
    std::lock_guard lock(mutex_);
    auto differs = [&](const std::string& why) {
      if (mismatch_.empty()) mismatch_ = why;
      result.opened = true;
      result.callOk = true;
      result.hostStatus = kReplayDiffers;
      result.detail = "replay: " + mismatch_;
      return result;
    };
    if (!mismatch_.empty()) return differs(mismatch_);
    // The next command recorded for this path.
    size_t& from = cursor_[request.path];
    size_t next = run_.commands.size();
    for (size_t i = from; i < run_.commands.size(); ++i) {
      if (!played_[i] && run_.commands[i].path == request.path) {
        next = i;
        break;
      }
    }
    if (next == run_.commands.size())
      return differs(fmt::format("a command to {} after the last one the recording holds for it",
                                 request.path));
    const RecordedCommand& recorded = run_.commands[next];
    const std::string why = Difference(request, recorded);
    if (!why.empty())
      return differs(fmt::format("command {} differs from the recording: {}", recorded.index, why));
    played_[next] = true;
    from = next + 1;
    if (request.direction == DataDirection::In && request.data != nullptr) {
      const size_t kept = std::min<size_t>(recorded.data.size(), request.length);
      std::copy_n(recorded.data.begin(), kept, request.data);
      std::fill(request.data + kept, request.data + request.length, 0);
    }
    result = recorded.result;
    took = std::chrono::duration_cast<Duration>(
        std::chrono::duration<double, std::milli>(recorded.durationMs));
  }
  // The command takes the time it took then (free on a virtual clock).
  GetClock().Sleep(took);
  return result;
}

std::string ReplayBackend::Mismatch() const {
  std::lock_guard lock(mutex_);
  return mismatch_;
}

size_t ReplayBackend::Unplayed() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count(played_.begin(), played_.end(), false));
}

std::string ReplayBackend::FirstUnplayed() const {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < played_.size(); ++i)
    if (!played_[i])
      return fmt::format("command {} ({})", run_.commands[i].index, Describe(run_.commands[i]));
  return {};
}

const RecordedInterfaces* ReplayEnumerator::Current() {
  return lists_.empty() ? nullptr : &lists_[current_];
}

std::vector<std::string> ReplayEnumerator::DiskInterfaces() {
  std::lock_guard lock(mutex_);
  if (next_ < lists_.size()) current_ = next_++;
  const auto* list = Current();
  return list != nullptr ? list->disk : std::vector<std::string>{};
}

std::vector<std::string> ReplayEnumerator::CdromInterfaces() {
  std::lock_guard lock(mutex_);
  const auto* list = Current();
  return list != nullptr ? list->cdrom : std::vector<std::string>{};
}

std::string ReplayEnumerator::AccessProblem() {
  std::lock_guard lock(mutex_);
  const auto* list = Current();
  return list != nullptr ? list->accessProblem : std::string();
}

}  // namespace fwtool
