// SPDX-License-Identifier: GPL-2.0-or-later
// The boundary between the command layer and whatever carries a SCSI command
// block to a device: the platform's pass-through (SG_IO, SPTD) or the
// simulator. A command is data: one request in, one result out.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fwtool {

enum class DataDirection { In, Out };

class HeldNode;  // held_node.h

struct PassThroughRequest {
  std::string path;
  std::array<uint8_t, 16> cdb{};  // bytes past cdbLength are zero
  uint8_t cdbLength = 0;
  DataDirection direction = DataDirection::In;
  // Effective transfer length: what the device is told and what `data` holds.
  uint32_t length = 0;
  // Aligned, zero-filled buffer of `length` bytes; null when length is 0.
  uint8_t* data = nullptr;
  uint32_t timeoutSeconds = 10;
  uint8_t pathId = 0;
  uint8_t targetId = 1;
  uint8_t lun = 0;
  // Data-out commands ask for the device to themselves.
  bool exclusive = false;
  // The node a session keeps open for this path (device_session.h); null:
  // the backend opens and closes the device around this one command.
  std::shared_ptr<HeldNode> held;
};

// Keeps the kinds of failure apart; SendCommandIn/Out reduce it to 1/0.
struct PassThroughResult {
  // The command never reached the device: no buffer, or a transfer the
  // device's queue cannot take. `opened` stays false.
  bool notSent = false;
  bool opened = false;      // the path could be opened
  bool callOk = false;      // the pass-through call itself succeeded
  int errorCode = 0;        // errno / GetLastError of this call, 0 when none
  uint8_t scsiStatus = 0;   // 2 = CHECK CONDITION
  uint16_t hostStatus = 0;  // transport-level status where the platform has one
  uint16_t driverStatus = 0;
  uint32_t transferred = 0;    // bytes the driver reports as moved
  std::vector<uint8_t> sense;  // sense data when the platform gives it
  std::string detail;          // human-readable reason for a failure

  bool Succeeded() const {
    return opened && callOk && errorCode == 0 && scsiStatus == 0 && hostStatus == 0 &&
           driverStatus == 0;
  }
};

// What kind of outcome a command had, from the most basic failure on.
enum class ResultCategory {
  Good,        // status GOOD, nothing wrong on the way
  Status,      // a SCSI status other than GOOD without sense data
  Sense,       // CHECK CONDITION with sense data
  Transport,   // the host adapter or driver reports a transport problem
  OsError,     // the pass-through call itself failed (errno / GetLastError)
  CannotOpen,  // the device path could not be opened
  NotSent,     // refused before it was sent (no buffer, transfer too large)
};
ResultCategory CategoryOf(const PassThroughResult& result);
// "CHECK CONDITION", "BUSY", ... for a SCSI status byte.
const char* ScsiStatusName(uint8_t status);
// "sense", "cannot open", ...
const char* CategoryName(ResultCategory category);
// One line for a person: "ILLEGAL REQUEST, invalid command operation code",
// "transfer of 65536 bytes exceeds the device's limit of 32 KB", ...
std::string DescribeResult(const PassThroughResult& result);

class PassThroughBackend {
 public:
  virtual ~PassThroughBackend() = default;
  virtual PassThroughResult Execute(const PassThroughRequest& request) = 0;
};

// Paths starting with this prefix go to the simulator backend.
inline constexpr std::string_view kSimPathPrefix = "sim:";

// The backend registry: set once at start (tests replace entries).
// Returns the previous backend.
std::shared_ptr<PassThroughBackend> SetSimulatorBackend(std::shared_ptr<PassThroughBackend> b);
std::shared_ptr<PassThroughBackend> SetPlatformBackend(std::shared_ptr<PassThroughBackend> b);
// The backend that serves a path; never null (an unavailable backend answers
// "cannot open" when nothing is registered).
PassThroughBackend& BackendForPath(std::string_view path);

// Command trace: when a sink is set, every command reports here.
struct CommandTraceRecord {
  const PassThroughRequest& request;
  const PassThroughResult& result;
  uint32_t callerLength;  // what the caller asked for (before 1 -> 2)
  int returned;           // the 1/0 given to the caller
};
using CommandTraceSink = std::function<void(const CommandTraceRecord&)>;
CommandTraceSink SetCommandTrace(CommandTraceSink sink);

// One line: path, direction, block in hex, length, time-out, result, SCSI
// status, sense (decoded where it is fixed-format sense data).
std::string FormatTraceRecord(const CommandTraceRecord& record);
// "ILLEGAL REQUEST, asc 0x20 ascq 0x00 (invalid command operation code)".
std::string DescribeSense(const std::vector<uint8_t>& sense);
std::string HexBytes(const uint8_t* data, size_t length);

namespace detail {
// Called by the transport after every command; forwards to the trace sink.
void ReportCommand(const PassThroughRequest& request, const PassThroughResult& result,
                   uint32_t callerLength, int returned);
}  // namespace detail

// While it lives, keeps the last command to `path` that failed (sent from
// any thread), as one line: its block in hex and what went wrong. The record
// of an operation names it.
class FailedCommandWatch {
 public:
  explicit FailedCommandWatch(std::string path);
  ~FailedCommandWatch();
  FailedCommandWatch(const FailedCommandWatch&) = delete;
  FailedCommandWatch& operator=(const FailedCommandWatch&) = delete;
  // Empty while no command to the path has failed.
  std::string Last() const;

 private:
  friend void detail::ReportCommand(const PassThroughRequest&, const PassThroughResult&, uint32_t,
                                    int);
  std::string path_;
  std::string last_;  // guarded by the registry's lock of the watches
};

}  // namespace fwtool
