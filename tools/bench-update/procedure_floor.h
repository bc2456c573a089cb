// SPDX-License-Identifier: GPL-2.0-or-later
// Each engineering procedure programming a firmware file into a simulated
// unit of its chip type, timed on the virtual clock against the least time
// an ideal host needs for the same work (the replay floor of timed_run.h).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "chip_rows.h"
#include "procedure.h"
#include "timed_run.h"

namespace fwtool::bench {

struct ProcedureCase {
  const char* name;          // the procedure, as the table prints it
  const char* unit;          // the simulated unit's description
  ProcedureTag procedure;    // what "Run" must pick for it
  size_t fileSize;           // bytes of the firmware file programmed
  int flashTypeIndex = -1;   // "Flash Type" for a parallel part
  bool hddFirmware = false;  // "VQS175 HDD FW"
  // Identification never answers chip type 13 (the controller reports
  // 10): the request names it, as for a unit known to be one.
  uint8_t chipType = 0;
};

// One case for each of the nine procedures.
std::span<const ProcedureCase> ProcedureCases();

struct ProcedureMeasure {
  const ProcedureCase* procedureCase = nullptr;
  bool done = false;   // the procedure returned 1
  std::string status;  // the status line it left
  RunMeasure run;
};

// Builds the unit, runs the information check on it as selecting it in
// the engineering face does, and runs the procedure "Run" picks with the
// case's file and options. nullopt with a reason when the unit cannot be
// built or listed, or "Run" picks another procedure.
std::optional<ProcedureMeasure> MeasureProcedure(const ProcedureCase& procedureCase,
                                                 std::string* error);

}  // namespace fwtool::bench
