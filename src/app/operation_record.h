// SPDX-License-Identifier: GPL-2.0-or-later
// The history record of one operation that writes to a unit: begun before
// the first write (the unit as the form knows it, the version it runs, and
// from then on a watch on the commands sent to it), added to the form's
// history file when the operation ends, whatever its result.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "flash_settings.h"
#include "history.h"
#include "pass_through.h"
#include "procedure.h"

namespace fwtool {

class TV77xFwTool;

// The options of an engineering run as a record keeps them.
std::vector<HistoryOption> HistoryOptions(const EngineeringOptions& options,
                                          const FlashSettings& settings,
                                          const std::string& flashType);

class OperationRecord {
 public:
  OperationRecord(TV77xFwTool& form, const std::string& path, std::string procedure);
  OperationRecord(const OperationRecord&) = delete;
  OperationRecord& operator=(const OperationRecord&) = delete;

  HistoryRecord& Record() { return record_; }
  // The image whose bytes go into the unit: its name, their digest and,
  // where the unit reports its version as the image carries it, that
  // version.
  void SetImage(const std::string& name, std::span<const uint8_t> bytes);
  // The same for a file, named by its absolute path.
  void SetFile(const std::string& path, std::span<const uint8_t> bytes);
  // Completes the record (result, status line, the last command that failed
  // when the operation failed, the backup file) and adds it to the history.
  void Finish(int result, const std::string& backup);

 private:
  TV77xFwTool& form_;
  HistoryRecord record_;
  std::string writtenVersion_;
  FailedCommandWatch failures_;
};

}  // namespace fwtool
