#include "recorded_run.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

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

std::optional<std::vector<uint8_t>> FromBase64(const std::string& text) {
  std::vector<uint8_t> bytes;
  uint32_t chunk = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    const char* at = std::strchr(kBase64, c);
    if (at == nullptr || c == '\0') return std::nullopt;
    chunk = chunk << 6 | static_cast<uint32_t>(at - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<uint8_t>(chunk >> bits & 0xFF));
    }
  }
  return bytes;
}

std::optional<std::vector<uint8_t>> FromHex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    if (word.size() != 2 || !std::isxdigit(static_cast<unsigned char>(word[0])) ||
        !std::isxdigit(static_cast<unsigned char>(word[1])))
      return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
  }
  return bytes;
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

// Reads one command; throws json errors or std::runtime_error with a reason.
RecordedCommand CommandFromJson(const json& j) {
  RecordedCommand c;
  c.index = j.at("index").get<uint64_t>();
  c.path = j.at("path").get<std::string>();
  auto cdb = FromHex(j.at("cdb").get<std::string>());
  if (!cdb || cdb->empty() || cdb->size() > 16) throw std::runtime_error("a bad \"cdb\"");
  c.cdb = *cdb;
  const std::string direction = j.at("direction").get<std::string>();
  if (direction != "in" && direction != "out") throw std::runtime_error("a bad \"direction\"");
  c.direction = direction == "in" ? DataDirection::In : DataDirection::Out;
  c.length = j.at("length").get<uint32_t>();
  c.timeoutSeconds = j.at("timeout").get<uint32_t>();
  const char* phase = c.direction == DataDirection::In ? "dataIn" : "dataOut";
  auto data = FromBase64(j.value(phase, std::string()));
  if (!data || data->size() > c.length)
    throw std::runtime_error(fmt::format("a bad \"{}\"", phase));
  c.data = std::move(*data);
  c.data.resize(c.length, 0);
  const json& r = j.at("result");
  c.result.opened = r.at("opened").get<bool>();
  c.result.callOk = r.at("callOk").get<bool>();
  c.result.scsiStatus = r.at("scsiStatus").get<uint8_t>();
  c.result.transferred = r.at("transferred").get<uint32_t>();
  c.result.notSent = r.value("notSent", false);
  c.result.errorCode = r.value("errorCode", 0);
  c.result.hostStatus = r.value("hostStatus", uint16_t{0});
  c.result.driverStatus = r.value("driverStatus", uint16_t{0});
  auto sense = FromHex(r.value("sense", std::string()));
  if (!sense) throw std::runtime_error("a bad \"sense\"");
  c.result.sense = *sense;
  c.result.detail = r.value("detail", std::string());
  c.atMs = j.value("atMs", 0.0);
  c.durationMs = j.value("durationMs", 0.0);
  return c;
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
      if (byte != recorded.data[i])
        return fmt::format("data-out byte {} is 0x{:02X}, 0x{:02X} recorded", i, byte,
                           recorded.data[i]);
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
      json(kRecordFormat).dump(), kRecordVersion, json(run.program).dump(),
      json(run.arguments).dump(), interfaces.dump());
  for (size_t i = 0; i < run.commands.size(); ++i)
    text += (i == 0 ? "\n" : ",\n") + CommandJson(run.commands[i]).dump();
  text += "\n]\n}\n";
  return text;
}

std::optional<RecordedRun> ParseRecordedRun(const std::string& text, std::string* error) {
  auto fail = [&](const std::string& reason) -> std::optional<RecordedRun> {
    if (error != nullptr) *error = reason;
    return std::nullopt;
  };
  const json j = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded() || !j.is_object()) return fail("not a JSON object");
  if (j.value("format", std::string()) != kRecordFormat)
    return fail(fmt::format("not a recorded run (no \"format\": \"{}\")", kRecordFormat));
  if (j.value("version", 0) != kRecordVersion)
    return fail(fmt::format("version {} of the format; this program reads version {}",
                            j.value("version", 0), kRecordVersion));
  RecordedRun run;
  size_t at = 0;
  try {
    run.program = j.value("program", std::string());
    run.arguments = j.value("arguments", std::vector<std::string>{});
    for (const auto& list : j.value("interfaces", json::array()))
      run.interfaces.push_back({list.at("disk").get<std::vector<std::string>>(),
                                list.at("cdrom").get<std::vector<std::string>>(),
                                list.value("accessProblem", std::string())});
    for (const auto& command : j.at("commands")) {
      ++at;
      run.commands.push_back(CommandFromJson(command));
    }
  } catch (const std::exception& e) {
    if (at == 0) return fail(std::string("the run's header: ") + e.what());
    return fail(fmt::format("entry {} of \"commands\": {}", at, e.what()));
  }
  return run;
}

std::optional<RecordedRun> LoadRecordedRun(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = "cannot open " + path;
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  auto run = ParseRecordedRun(text.str(), error);
  if (!run && error != nullptr) *error = path + ": " + *error;
  return run;
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
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out << text;
  out.close();
  if (!out) {
    if (error != nullptr) *error = "cannot write " + path;
    return false;
  }
  return true;
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
    if (request.direction == DataDirection::In && request.data != nullptr)
      std::copy_n(recorded.data.begin(), request.length, request.data);
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
