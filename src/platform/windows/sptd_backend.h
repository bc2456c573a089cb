// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows pass-through backend: a command opens the device by its
// interface path, sends one SCSI_PASS_THROUGH_DIRECT request and closes the
// device again, unless a session holds the device open for an operation.
#pragma once

#include "pass_through.h"

namespace fwtool::platform {

class SptdBackend final : public PassThroughBackend {
 public:
  PassThroughResult Execute(const PassThroughRequest& request) override;
};

}  // namespace fwtool::platform
