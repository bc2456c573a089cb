// SPDX-License-Identifier: GPL-2.0-or-later
// The rows "Run" chooses a procedure by: the first row whose condition holds
// decides. Conditions look at the chip facts the information check found,
// the device path and the options of the engineering face; two of them ask
// the device or the file (the memory flag of chip type 11, the file size of
// chip type 10) and run only when the rows above did not match.
#pragma once

#include <span>
#include <string_view>

#include "operator.h"
#include "procedure.h"

namespace fwtool {

struct RunDispatchInput {
  const ChipFacts& chip;
  std::string_view path;
  const EngineeringOptions& options;
  OperatorServices& op;  // the file-size test speaks when it cannot open the file
};

enum class RunAction {
  RunProcedure,
  RefuseLargeFile,  // "The firmware file size is bigger than the flash size!"; Run stays disabled
  Nothing,
};

struct RunDispatchRow {
  bool (*when)(const RunDispatchInput& in);
  RunAction action;
  ProcedureTag procedure;
};

// The rows in the order they are tried.
std::span<const RunDispatchRow> RunDispatchRows();
// Index of the first row whose condition holds (the last row always does).
size_t SelectRunRow(const RunDispatchInput& in);

}  // namespace fwtool
