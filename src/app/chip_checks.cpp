// What the device list asks of each controller.
// Interim: identification is not linked into this build yet, so no device
// counts as a target chip.
#include "Fwupdate.h"

namespace fwtool {

uint16_t TV77xFwTool::Identify(const std::string&) {
  return 0;
}

std::string TV77xFwTool::InquiryName(const std::string&) {
  return {};
}

bool TV77xFwTool::IsTargetChip(const std::string& path) {
  const uint8_t type = static_cast<uint8_t>(Identify(path) & 0xFF);
  return type == 8 || type == 9;
}

bool TV77xFwTool::IsAlreadyUpdated(const std::string&) {
  return false;
}

}  // namespace fwtool
