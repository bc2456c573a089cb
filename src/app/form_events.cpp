// SPDX-License-Identifier: GPL-2.0-or-later
// The window messages the form handles besides clicks: device arrival and
// removal, the deferred-refresh timer and dropped files.
#include "Fwupdate.h"
#include "form_texts.h"

namespace fwtool {

void TV77xFwTool::OnDeviceChange(uint32_t event, uint32_t deviceType) {
  if (event != kDeviceArrival && event != kDeviceRemoveComplete) return;
  if (deviceType != kDeviceTypeInterface) return;
  // A burst of arrivals and removals ends in one refresh: every message
  // pushes the refresh out again. A new disk needs longer to settle than a
  // removal needs to be noticed.
  timers_.KillTimer(kRefreshTimerId);
  timers_.SetTimer(kRefreshTimerId,
                   event == kDeviceArrival ? kArrivalRefreshDelayMs : kRemovalRefreshDelayMs);
}

void TV77xFwTool::OnTimer(int id) {
  if (id != kRefreshTimerId) return;
  timers_.KillTimer(kRefreshTimerId);
  Refresh();
}

void TV77xFwTool::OnDropFiles(const std::vector<std::string>& files) {
  // A file dropped while the flash is being written must not start a check
  // of the device in the middle of the transfer.
  if (!acceptsDrops_ || Busy()) return;
  if (files.size() == 1) {
    FwFilenameEdit.SetText(files.front());  // fires UpdateBtnCheck
  } else {
    op_.SimpleMessage(texts::kDropOneFileOnly);
  }
}

}  // namespace fwtool
