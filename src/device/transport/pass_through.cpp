// SPDX-License-Identifier: GPL-2.0-or-later
#include "pass_through.h"

#include <fmt/format.h>

#include <algorithm>
#include <mutex>
#include <utility>

namespace fwtool {

namespace {

class UnavailableBackend final : public PassThroughBackend {
 public:
  explicit UnavailableBackend(std::string why) : why_(std::move(why)) {}
  PassThroughResult Execute(const PassThroughRequest&) override {
    PassThroughResult result;
    result.detail = why_;
    return result;
  }

 private:
  std::string why_;
};

struct Registry {
  std::shared_ptr<PassThroughBackend> simulator;
  std::shared_ptr<PassThroughBackend> platform;
  CommandTraceSink trace;
  // The watches of failed commands, and the last failure each one saw.
  std::mutex watchesMutex;
  std::vector<FailedCommandWatch*> watches;
  UnavailableBackend noSimulator{"no simulated devices in this run"};
  UnavailableBackend noPlatform{"no SCSI pass-through on this platform"};
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

const char* SenseKeyName(uint8_t key) {
  static constexpr const char* kNames[16] = {
      "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
      "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
      "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
      "EQUAL",          "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};
  return kNames[key & 0x0F];
}

const char* AdditionalSenseText(uint8_t asc, uint8_t ascq) {
  struct Row {
    uint8_t asc, ascq;
    const char* text;
  };
  static constexpr Row kRows[] = {
      {0x00, 0x00, "no additional sense information"},
      {0x04, 0x00, "logical unit not ready"},
      {0x0C, 0x00, "write error"},
      {0x11, 0x00, "unrecovered read error"},
      {0x1A, 0x00, "parameter list length error"},
      {0x20, 0x00, "invalid command operation code"},
      {0x21, 0x00, "logical block address out of range"},
      {0x24, 0x00, "invalid field in cdb"},
      {0x25, 0x00, "logical unit not supported"},
      {0x26, 0x00, "invalid field in parameter list"},
      {0x27, 0x00, "write protected"},
      {0x28, 0x00, "not ready to ready change, medium may have changed"},
      {0x29, 0x00, "power on, reset, or bus device reset occurred"},
      {0x3A, 0x00, "medium not present"},
      {0x44, 0x00, "internal target failure"},
  };
  for (const auto& row : kRows)
    if (row.asc == asc && row.ascq == ascq) return row.text;
  return nullptr;
}

}  // namespace

std::shared_ptr<PassThroughBackend> SetSimulatorBackend(std::shared_ptr<PassThroughBackend> b) {
  return std::exchange(TheRegistry().simulator, std::move(b));
}

std::shared_ptr<PassThroughBackend> SetPlatformBackend(std::shared_ptr<PassThroughBackend> b) {
  return std::exchange(TheRegistry().platform, std::move(b));
}

PassThroughBackend& BackendForPath(std::string_view path) {
  auto& registry = TheRegistry();
  if (path.starts_with(kSimPathPrefix)) {
    if (registry.simulator) return *registry.simulator;
    return registry.noSimulator;
  }
  if (registry.platform) return *registry.platform;
  return registry.noPlatform;
}

CommandTraceSink SetCommandTrace(CommandTraceSink sink) {
  return std::exchange(TheRegistry().trace, std::move(sink));
}

namespace detail {
void ReportCommand(const PassThroughRequest& request, const PassThroughResult& result,
                   uint32_t callerLength, int returned) {
  auto& registry = TheRegistry();
  if (registry.trace) registry.trace(CommandTraceRecord{request, result, callerLength, returned});
  if (returned != 0) return;
  std::lock_guard lock(registry.watchesMutex);
  for (FailedCommandWatch* watch : registry.watches) {
    if (watch->path_ != request.path) continue;
    watch->last_ = HexBytes(request.cdb.data(), request.cdbLength) + ": " + DescribeResult(result);
  }
}
}  // namespace detail

FailedCommandWatch::FailedCommandWatch(std::string path) : path_(std::move(path)) {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.watchesMutex);
  registry.watches.push_back(this);
}

FailedCommandWatch::~FailedCommandWatch() {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.watchesMutex);
  std::erase(registry.watches, this);
}

std::string FailedCommandWatch::Last() const {
  std::lock_guard lock(TheRegistry().watchesMutex);
  return last_;
}

std::string HexBytes(const uint8_t* data, size_t length) {
  std::string text;
  text.reserve(length * 3);
  for (size_t i = 0; i < length; ++i) {
    if (i != 0) text += ' ';
    text += fmt::format("{:02X}", data[i]);
  }
  return text;
}

std::string DescribeSense(const std::vector<uint8_t>& sense) {
  if (sense.empty()) return {};
  const uint8_t responseCode = sense[0] & 0x7F;
  uint8_t key = 0, asc = 0, ascq = 0;
  if ((responseCode == 0x70 || responseCode == 0x71) && sense.size() >= 14) {
    key = sense[2] & 0x0F;
    asc = sense[12];
    ascq = sense[13];
  } else if ((responseCode == 0x72 || responseCode == 0x73) && sense.size() >= 4) {
    key = sense[1] & 0x0F;
    asc = sense[2];
    ascq = sense[3];
  } else {
    return fmt::format("sense {}", HexBytes(sense.data(), sense.size()));
  }
  std::string text = fmt::format("{}, asc 0x{:02X} ascq 0x{:02X}", SenseKeyName(key), asc, ascq);
  if (const char* meaning = AdditionalSenseText(asc, ascq)) text += fmt::format(" ({})", meaning);
  return text;
}

namespace {

constexpr uint8_t kCheckCondition = 0x02;
// The driver status bit that only says sense data came back.
constexpr uint16_t kDriverSense = 0x08;

}  // namespace

const char* ScsiStatusName(uint8_t status) {
  switch (status) {
    case 0x02:
      return "CHECK CONDITION";
    case 0x04:
      return "CONDITION MET";
    case 0x08:
      return "BUSY";
    case 0x18:
      return "RESERVATION CONFLICT";
    case 0x28:
      return "TASK SET FULL";
    case 0x30:
      return "ACA ACTIVE";
    case 0x40:
      return "TASK ABORTED";
    default:
      return "unexpected status";
  }
}

ResultCategory CategoryOf(const PassThroughResult& result) {
  if (result.notSent) return ResultCategory::NotSent;
  if (!result.opened) return ResultCategory::CannotOpen;
  if (!result.callOk || result.errorCode != 0) return ResultCategory::OsError;
  if (result.hostStatus != 0) return ResultCategory::Transport;
  if (result.scsiStatus == kCheckCondition && !result.sense.empty()) return ResultCategory::Sense;
  if (result.scsiStatus != 0) return ResultCategory::Status;
  if ((result.driverStatus & ~kDriverSense) != 0) return ResultCategory::Transport;
  return ResultCategory::Good;
}

const char* CategoryName(ResultCategory category) {
  switch (category) {
    case ResultCategory::Good:
      return "good";
    case ResultCategory::Status:
      return "status";
    case ResultCategory::Sense:
      return "sense";
    case ResultCategory::Transport:
      return "transport";
    case ResultCategory::OsError:
      return "OS error";
    case ResultCategory::CannotOpen:
      return "cannot open";
    case ResultCategory::NotSent:
      return "not sent";
  }
  return "?";
}

std::string DescribeResult(const PassThroughResult& result) {
  const ResultCategory category = CategoryOf(result);
  switch (category) {
    case ResultCategory::Good:
      return "good";
    case ResultCategory::Sense: {
      // The sense key and what the additional sense code means, when known.
      const std::string full = DescribeSense(result.sense);
      const auto open = full.find(" (");
      const auto comma = full.find(", asc ");
      if (open != std::string::npos && comma != std::string::npos && full.back() == ')')
        return full.substr(0, comma) + ", " + full.substr(open + 2, full.size() - open - 3);
      return full;
    }
    case ResultCategory::Status:
      return fmt::format("SCSI status 0x{:02X} ({})", result.scsiStatus,
                         ScsiStatusName(result.scsiStatus));
    case ResultCategory::Transport:
      if (!result.detail.empty()) return "transport error: " + result.detail;
      return fmt::format("transport error: host status 0x{:02X}, driver status 0x{:02X}",
                         result.hostStatus, result.driverStatus);
    case ResultCategory::OsError:
      if (!result.detail.empty()) return result.detail;
      return fmt::format("the pass-through call failed (error {})", result.errorCode);
    case ResultCategory::CannotOpen:
      return result.detail.empty() ? "the device cannot be opened" : result.detail;
    case ResultCategory::NotSent:
      return result.detail.empty() ? "the command was not sent" : result.detail;
  }
  return {};
}

std::string FormatTraceRecord(const CommandTraceRecord& record) {
  const auto& rq = record.request;
  const auto& rs = record.result;
  std::string line = fmt::format(
      "{} {:<3} [{}] len={} t/o={}s -> ", rq.path, rq.direction == DataDirection::In ? "IN" : "OUT",
      HexBytes(rq.cdb.data(), rq.cdbLength), record.callerLength, rq.timeoutSeconds);
  if (!rs.opened) {
    line += CategoryName(CategoryOf(rs));
    if (!rs.detail.empty()) line += ": " + rs.detail;
    return line;
  }
  line += record.returned ? "ok" : fmt::format("FAIL [{}]", CategoryName(CategoryOf(rs)));
  line += fmt::format(" moved={} status=0x{:02X}", rs.transferred, rs.scsiStatus);
  if (rs.errorCode != 0) line += fmt::format(" error={}", rs.errorCode);
  if (rs.hostStatus != 0 || rs.driverStatus != 0)
    line += fmt::format(" host=0x{:02X} driver=0x{:02X}", rs.hostStatus, rs.driverStatus);
  if (!rs.sense.empty()) line += " sense: " + DescribeSense(rs.sense);
  if (!record.returned && !rs.detail.empty()) line += " (" + rs.detail + ")";
  return line;
}

}  // namespace fwtool
