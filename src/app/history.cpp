// SPDX-License-Identifier: GPL-2.0-or-later
#include "history.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "host_services.h"

namespace fwtool {

namespace {

using json = nlohmann::ordered_json;

constexpr const char* kHistoryFileName = "history.jsonl";
constexpr const char* kSucceeded = "success";
constexpr const char* kFailed = "failure";

json TextOrNull(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

json ToJson(const HistoryRecord& r) {
  json options = json::object();
  for (const HistoryOption& option : r.options)
    std::visit([&](const auto& value) { options[option.name] = value; }, option.value);
  return {
      {"time", r.time},
      {"fwtool", r.fwtoolVersion},
      {"unit",
       {{"path", r.unit.path},
        {"vendor", r.unit.vendor},
        {"product", r.unit.product},
        {"chipType", r.unit.chipType},
        {"chipLabel", r.unit.chipLabel},
        {"subRevision", r.unit.subRevision},
        {"serial", TextOrNull(r.unit.serial)}}},
      {"versionBefore", TextOrNull(r.versionBefore)},
      {"versionAfter", TextOrNull(r.versionAfter)},
      {"procedure", r.procedure},
      {"options", options},
      {"file", r.file ? json{{"name", r.file->name}, {"sha256", TextOrNull(r.file->sha256)}}
                      : json(nullptr)},
      {"result", r.succeeded ? kSucceeded : kFailed},
      {"status", r.status},
      {"lastFailedCommand", TextOrNull(r.lastFailedCommand)},
      {"backup", TextOrNull(r.backup)},
  };
}

// A text field that may be null or left out; anything else is a damaged record.
std::string OptionalText(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return {};
  return it->get<std::string>();
}

HistoryRecord FromJson(const json& j) {
  HistoryRecord r;
  r.time = j.at("time").get<std::string>();
  r.fwtoolVersion = OptionalText(j, "fwtool");
  const json& unit = j.at("unit");
  r.unit.path = unit.at("path").get<std::string>();
  r.unit.vendor = OptionalText(unit, "vendor");
  r.unit.product = OptionalText(unit, "product");
  r.unit.chipType = unit.value("chipType", 0);
  r.unit.chipLabel = OptionalText(unit, "chipLabel");
  r.unit.subRevision = unit.value("subRevision", 0);
  r.unit.serial = OptionalText(unit, "serial");
  r.versionBefore = OptionalText(j, "versionBefore");
  r.versionAfter = OptionalText(j, "versionAfter");
  r.procedure = j.at("procedure").get<std::string>();
  if (const auto options = j.find("options"); options != j.end() && !options->is_null()) {
    for (const auto& [name, value] : options->items()) {
      if (value.is_boolean())
        r.options.push_back({name, value.get<bool>()});
      else if (value.is_number_integer())
        r.options.push_back({name, value.get<int64_t>()});
      else
        r.options.push_back({name, value.get<std::string>()});
    }
  }
  if (const auto file = j.find("file"); file != j.end() && !file->is_null())
    r.file = HistoryFile{file->at("name").get<std::string>(), OptionalText(*file, "sha256")};
  const std::string result = j.at("result").get<std::string>();
  if (result != kSucceeded && result != kFailed) throw std::invalid_argument("result");
  r.succeeded = result == kSucceeded;
  r.status = OptionalText(j, "status");
  r.lastFailedCommand = OptionalText(j, "lastFailedCommand");
  r.backup = OptionalText(j, "backup");
  return r;
}

}  // namespace

std::string DefaultHistoryPath() {
  const std::string data = host::UserDataFolder();
  if (data.empty()) return {};
  return (std::filesystem::path(data) / kHistoryFileName).string();
}

std::string HistoryTimeNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string EncodeHistoryLine(const HistoryRecord& record) {
  // Bytes that are not UTF-8 (a device's names) are replaced, never a
  // reason to lose the record.
  return ToJson(record).dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<HistoryRecord> DecodeHistoryLine(std::string_view line) {
  const json j = json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  try {
    return FromJson(j);
  } catch (const std::exception&) {
    // A field missing or of the wrong kind: not a record.
    return std::nullopt;
  }
}

std::string EncodeHistoryJson(const std::vector<HistoryRecord>& records) {
  json list = json::array();
  for (const HistoryRecord& record : records) list.push_back(ToJson(record));
  return list.dump(2, ' ', false, json::error_handler_t::replace);
}

bool AppendHistory(const std::string& path, const HistoryRecord& record, std::string& error) {
  if (path.empty()) {
    error = "no folder for the history";
    return false;
  }
  return host::AppendLine(path, EncodeHistoryLine(record) + "\n", error);
}

HistoryReading ReadHistory(const std::string& path) {
  HistoryReading reading;
  host::OwnFile file = host::ReadOwnFile(path, kMaxHistoryBytes);
  if (file.missing) {
    reading.missing = true;
    return reading;
  }
  if (!file.error.empty()) {
    reading.error = file.error;
    return reading;
  }
  auto damaged = [&](size_t number, const char* why) {
    if (++reading.damaged <= kHistoryWarningsShown)
      reading.warnings.push_back("line " + std::to_string(number) + ": " + why);
  };
  std::string_view rest(file.bytes);
  for (size_t number = 1; !rest.empty(); ++number) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    if (line.size() > kMaxHistoryLine) {
      damaged(number, "longer than any history record");
    } else if (auto record = DecodeHistoryLine(line)) {
      reading.records.push_back(std::move(*record));
    } else {
      damaged(number, "not a history record");
    }
  }
  return reading;
}

}  // namespace fwtool
