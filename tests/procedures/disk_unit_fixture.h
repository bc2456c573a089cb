// SPDX-License-Identifier: GPL-2.0-or-later
// A simulated unit with a disk behind it, for the tests of the disk-hosted
// procedures: the request the engineering face would make, the sectors the
// unit wrote, and the bytes of its disk.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "procedures.h"
#include "sim_unit_fixture.h"
#include "temp_files.h"

namespace fwtool::testing {

class DiskUnitTest : public SimUnitTest {
 protected:
  ProcedureRequest Request(const std::string& file = {}) {
    ProcedureRequest request;
    request.path = farm->Unit(0).diskPath;
    request.chip.type = static_cast<uint8_t>(Unit().Profile().type);
    request.chip.row = &ChipRowFor(request.chip.type);
    request.options.rdVersion = true;
    request.options.firmwareFile = file;
    request.options.backupFile = dir.Path("backup.bin");
    return request;
  }

  const std::vector<sim::SimDisk::WriteRecord>& Writes() { return Unit().Disk().Writes(); }
  std::vector<uint8_t> DiskBytes(uint64_t lba, size_t length) {
    return Unit().Disk().Bytes(lba, length);
  }

  // Opcodes of the blocks the unit received, in order.
  std::vector<uint8_t> Opcodes() {
    std::vector<uint8_t> ops;
    for (const auto& entry : Unit().Log()) ops.push_back(entry.cdb[0]);
    return ops;
  }
  bool Sent(uint8_t opcode) {
    const auto ops = Opcodes();
    return std::find(ops.begin(), ops.end(), opcode) != ops.end();
  }
};

}  // namespace fwtool::testing
