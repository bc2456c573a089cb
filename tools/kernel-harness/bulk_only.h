// SPDX-License-Identifier: GPL-2.0-or-later
// The USB mass-storage Bulk-Only Transport as a device sees it: command
// block wrappers in, command status wrappers out, and between them the SCSI
// command of one logical unit answered by a pass-through backend. Nothing
// here touches a USB endpoint, so the protocol rules can be tried without a
// kernel.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pass_through.h"

namespace fwtool::harness {

inline constexpr uint32_t kCbwSignature = 0x43425355;  // "USBC"
inline constexpr uint32_t kCswSignature = 0x53425355;  // "USBS"
inline constexpr size_t kCbwLength = 31;
inline constexpr size_t kCswLength = 13;

inline constexpr uint8_t kCswPassed = 0;
inline constexpr uint8_t kCswFailed = 1;

// Class requests on ep0 (interface recipient).
inline constexpr uint8_t kGetMaxLunRequest = 0xFE;
inline constexpr uint8_t kBulkOnlyResetRequest = 0xFF;

struct CommandBlockWrapper {
  uint32_t tag = 0;
  uint32_t dataTransferLength = 0;
  bool dataIn = false;  // bit 7 of bmCBWFlags
  uint8_t lun = 0;
  uint8_t cbLength = 0;
  std::array<uint8_t, 16> cb{};
};

// A wrapper is meaningful only when it is exactly 31 bytes, carries the
// signature, and names a LUN below 16 and a block of 1 to 16 bytes. Anything
// else is answered by stalling both bulk pipes until the host resets.
std::optional<CommandBlockWrapper> ParseCommandBlockWrapper(std::span<const uint8_t> bytes);

std::array<uint8_t, kCswLength> BuildCommandStatusWrapper(uint32_t tag, uint32_t residue,
                                                          uint8_t status);

// What the device does after the command: send `dataIn` on the bulk IN pipe
// (data-in commands only), stall that pipe when it sent less than the host
// asked for and the short packet would not end the transfer, then send the
// status wrapper.
struct CommandOutcome {
  std::vector<uint8_t> dataIn;
  uint32_t residue = 0;
  uint8_t status = kCswPassed;
};

// One logical unit: the device path handed to the backend, and the backend
// that answers for it.
struct LogicalUnit {
  std::string path;
  PassThroughBackend* backend = nullptr;
};

// The logical units of one storage function. A failed command leaves its
// sense data with the unit until the host asks for it with REQUEST SENSE, as
// a bridge keeps it for the next command.
class StorageTarget {
 public:
  explicit StorageTarget(std::vector<LogicalUnit> units);

  // The answer to Get Max LUN: the highest LUN number.
  uint8_t MaxLun() const { return static_cast<uint8_t>(units_.size() - 1); }

  CommandOutcome Execute(const CommandBlockWrapper& cbw, std::span<const uint8_t> dataOut);

 private:
  bool HasUnit(uint8_t lun) const;
  CommandOutcome AnswerRequestSense(const CommandBlockWrapper& cbw);
  CommandOutcome Fail(const CommandBlockWrapper& cbw, std::vector<uint8_t> sense);

  std::vector<LogicalUnit> units_;
  // Indexed by LUN number; empty means no sense pending.
  std::array<std::vector<uint8_t>, 16> keptSense_;
};

// 18 bytes of fixed-format sense data, current error.
std::vector<uint8_t> FixedSense(uint8_t key, uint8_t asc, uint8_t ascq);

// Whether a data-in transfer of `sent` bytes, shorter than the `expected`
// the host asked for, needs the IN pipe stalled to end it: a short packet
// ends it by itself, a transfer that is a whole number of packets does not.
bool NeedsStallAfterDataIn(uint32_t sent, uint32_t expected, uint32_t maxPacket);

}  // namespace fwtool::harness
