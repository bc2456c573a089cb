// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a recorded run from a file someone sent: nothing in it is trusted.
// The file is read up to a bound, every field is checked for its type and
// range before it is used, every length is bounded before anything is
// allocated for it, and every fault ends in one sentence that names the
// field, never in an exception that leaves the reader.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "recorded_run.h"

namespace fwtool {

namespace {

using nlohmann::json;

// A fault in the file: the sentence says which field and why.
class BadField : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr const char* kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// The longest sense data a device can return.
constexpr size_t kMaxSenseLength = 252;
// A command that took longer than an hour was not answered.
constexpr double kMaxDurationMs = 3600.0 * 1000;
// Ten years of a run.
constexpr double kMaxAtMs = 3.2e11;

const json& Field(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) throw BadField(fmt::format("no \"{}\"", key));
  return *it;
}

// A whole number from `low` to `high` (both within T).
template <typename T>
T Whole(const json& object, const char* key, int64_t low, uint64_t high) {
  const json& value = Field(object, key);
  bool fits = false;
  if (value.is_number_unsigned()) {
    const auto n = value.get<uint64_t>();
    fits = n <= high && (low <= 0 || n >= static_cast<uint64_t>(low));
  } else if (value.is_number_integer()) {
    fits = value.get<int64_t>() >= low;  // negative, so below every `high`
  }
  if (!fits)
    throw BadField(fmt::format("\"{}\" is not a whole number from {} to {}", key, low, high));
  return value.is_number_unsigned() ? static_cast<T>(value.get<uint64_t>())
                                    : static_cast<T>(value.get<int64_t>());
}

template <typename T>
T WholeOr(const json& object, const char* key, int64_t low, uint64_t high, T otherwise) {
  return object.contains(key) ? Whole<T>(object, key, low, high) : otherwise;
}

bool Flag(const json& object, const char* key) {
  const json& value = Field(object, key);
  if (!value.is_boolean()) throw BadField(fmt::format("\"{}\" is not true or false", key));
  return value.get<bool>();
}

bool FlagOr(const json& object, const char* key, bool otherwise) {
  return object.contains(key) ? Flag(object, key) : otherwise;
}

std::string Text(const json& object, const char* key) {
  const json& value = Field(object, key);
  if (!value.is_string()) throw BadField(fmt::format("\"{}\" is not a text", key));
  return value.get<std::string>();
}

std::string TextOr(const json& object, const char* key) {
  return object.contains(key) ? Text(object, key) : std::string();
}

std::vector<std::string> Texts(const json& object, const char* key) {
  const json& value = Field(object, key);
  if (!value.is_array()) throw BadField(fmt::format("\"{}\" is not a list of texts", key));
  std::vector<std::string> texts;
  for (const json& item : value) {
    if (!item.is_string()) throw BadField(fmt::format("\"{}\" is not a list of texts", key));
    texts.push_back(item.get<std::string>());
  }
  return texts;
}

double Milliseconds(const json& object, const char* key, double high) {
  if (!object.contains(key)) return 0;
  const json& value = object[key];
  if (!value.is_number() || !(value.get<double>() >= 0 && value.get<double>() <= high))
    throw BadField(fmt::format("\"{}\" is not a time from 0 to {} ms", key, high));
  return value.get<double>();
}

// Hex bytes separated by blanks ("12 00 00"), at most `most` of them.
std::vector<uint8_t> HexField(const json& object, const char* key, size_t most, bool needed) {
  const std::string text = needed ? Text(object, key) : TextOr(object, key);
  std::vector<uint8_t> bytes;
  size_t i = 0;
  auto digit = [](char c) {
    return std::isdigit(static_cast<unsigned char>(c))
               ? c - '0'
               : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
  };
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    const bool pair = i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])) &&
                      std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                      (i + 2 == text.size() || text[i + 2] == ' ');
    if (!pair || bytes.size() == most) throw BadField(fmt::format("a bad \"{}\"", key));
    bytes.push_back(static_cast<uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
    i += 2;
  }
  return bytes;
}

// The data phase: base64 of at most `length` bytes (the zero bytes at its
// end left out).
std::vector<uint8_t> DataField(const json& object, const char* key, uint32_t length) {
  const std::string text = TextOr(object, key);
  const auto fail = [key] { return BadField(fmt::format("a bad \"{}\"", key)); };
  if (text.size() / 4 > static_cast<size_t>(length) / 3 + 1) throw fail();
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  uint32_t chunk = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    const char* at = c != '\0' ? std::strchr(kBase64, c) : nullptr;
    if (at == nullptr) throw fail();
    chunk = chunk << 6 | static_cast<uint32_t>(at - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<uint8_t>(chunk >> bits & 0xFF));
    }
  }
  if (bytes.size() > length) throw fail();
  return bytes;
}

RecordedCommand CommandFromJson(const json& j) {
  if (!j.is_object()) throw BadField("not an object");
  RecordedCommand c;
  c.index = Whole<uint64_t>(j, "index", 0, std::numeric_limits<uint64_t>::max());
  c.path = Text(j, "path");
  c.cdb = HexField(j, "cdb", 16, true);
  if (c.cdb.empty()) throw BadField("a bad \"cdb\"");
  const std::string direction = Text(j, "direction");
  if (direction != "in" && direction != "out") throw BadField("a bad \"direction\"");
  c.direction = direction == "in" ? DataDirection::In : DataDirection::Out;
  c.length = Whole<uint32_t>(j, "length", 0, kMaxRecordedLength);
  c.timeoutSeconds = Whole<uint32_t>(j, "timeout", 0, std::numeric_limits<uint32_t>::max());
  c.data = DataField(j, c.direction == DataDirection::In ? "dataIn" : "dataOut", c.length);
  const json& r = Field(j, "result");
  if (!r.is_object()) throw BadField("\"result\" is not an object");
  c.result.opened = Flag(r, "opened");
  c.result.callOk = Flag(r, "callOk");
  c.result.scsiStatus = Whole<uint8_t>(r, "scsiStatus", 0, 0xFF);
  c.result.transferred = Whole<uint32_t>(r, "transferred", 0, std::numeric_limits<uint32_t>::max());
  c.result.notSent = FlagOr(r, "notSent", false);
  c.result.errorCode = WholeOr<int>(r, "errorCode", std::numeric_limits<int>::min(),
                                    std::numeric_limits<int>::max(), 0);
  c.result.hostStatus = WholeOr<uint16_t>(r, "hostStatus", 0, 0xFFFF, 0);
  c.result.driverStatus = WholeOr<uint16_t>(r, "driverStatus", 0, 0xFFFF, 0);
  c.result.sense = HexField(r, "sense", kMaxSenseLength, false);
  c.result.detail = TextOr(r, "detail");
  c.atMs = Milliseconds(j, "atMs", kMaxAtMs);
  c.durationMs = Milliseconds(j, "durationMs", kMaxDurationMs);
  return c;
}

RecordedRun RunFromJson(const json& j) {
  RecordedRun run;
  run.program = TextOr(j, "program");
  if (j.contains("arguments")) run.arguments = Texts(j, "arguments");
  if (j.contains("interfaces")) {
    const json& lists = j["interfaces"];
    if (!lists.is_array()) throw BadField("\"interfaces\" is not a list");
    for (const json& list : lists) {
      if (!list.is_object()) throw BadField("an entry of \"interfaces\" is not an object");
      run.interfaces.push_back(
          {Texts(list, "disk"), Texts(list, "cdrom"), TextOr(list, "accessProblem")});
    }
  }
  const json& commands = Field(j, "commands");
  if (!commands.is_array()) throw BadField("\"commands\" is not a list");
  return run;
}

}  // namespace

std::optional<RecordedRun> ParseRecordedRun(const std::string& text, std::string* error) {
  auto fail = [&](const std::string& reason) -> std::optional<RecordedRun> {
    if (error != nullptr) *error = reason;
    return std::nullopt;
  };
  size_t at = 0;
  try {
    const json j = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (j.is_discarded() || !j.is_object()) return fail("not a JSON object");
    const auto format = j.find("format");
    if (format == j.end() || !format->is_string() || format->get<std::string>() != kRecordFormat)
      return fail(fmt::format("not a recorded run (no \"format\": \"{}\")", kRecordFormat));
    const auto version = j.find("version");
    if (version == j.end() || !version->is_number_integer())
      return fail(fmt::format("\"version\" is not a whole number; this program reads version {}",
                              kRecordVersion));
    if (version->get<int64_t>() != kRecordVersion)
      return fail(fmt::format("version {} of the format; this program reads version {}",
                              version->dump(), kRecordVersion));
    RecordedRun run;
    try {
      run = RunFromJson(j);
    } catch (const BadField& e) {
      return fail(std::string("the run's header: ") + e.what());
    }
    for (const json& command : j["commands"]) {
      ++at;
      run.commands.push_back(CommandFromJson(command));
    }
    return run;
  } catch (const BadField& e) {
    return fail(fmt::format("entry {} of \"commands\": {}", at, e.what()));
  } catch (const std::bad_alloc&) {
    return fail("too large to be read");
  } catch (const std::exception& e) {
    return fail(std::string("cannot be read: ") + e.what());
  }
}

std::optional<RecordedRun> LoadRecordedRun(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& reason) -> std::optional<RecordedRun> {
    if (error != nullptr) *error = path + ": " + reason;
    return std::nullopt;
  };
  // Only a regular file, and only as much of it as a recording may hold: a
  // device or a pipe could be read for ever.
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) return fail("no such file");
  if (!std::filesystem::is_regular_file(status)) return fail("not a regular file");
  const auto tooLarge = [&] {
    return fail(fmt::format("larger than a recording may be ({} MB)", kMaxRecordFileSize >> 20));
  };
  if (std::filesystem::file_size(path, ec) > kMaxRecordFileSize && !ec) return tooLarge();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return fail(std::strerror(errno));
  std::string text;
  try {
    std::vector<char> chunk(1 << 16);
    while (text.size() <= kMaxRecordFileSize) {
      const size_t want = std::min(chunk.size(), kMaxRecordFileSize + 1 - text.size());
      const size_t got = std::fread(chunk.data(), 1, want, file.get());
      text.append(chunk.data(), got);
      if (got < want) break;
    }
  } catch (const std::bad_alloc&) {
    return fail("too large to be read");
  }
  if (std::ferror(file.get())) return fail("cannot be read");
  // It may have grown since: what was read decides.
  if (text.size() > kMaxRecordFileSize) return tooLarge();
  auto run = ParseRecordedRun(text, error);
  if (!run && error != nullptr) *error = path + ": " + *error;
  return run;
}

}  // namespace fwtool
