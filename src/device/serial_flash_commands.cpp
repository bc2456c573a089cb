#include "serial_flash_commands.h"

#include "command_block.h"
#include "transport.h"

namespace fwtool {

int GetFlashMakerCode(std::string_view path, uint8_t* buffer) {
  CommandBlock block = Ff04Block(0x23);
  block[3] = 0x04;
  uint32_t transferred = 0;
  return SendCommandIn(path, block.data(), block.length, buffer, 4, &transferred);
}

int FlashAccessSetup(std::string_view path) {
  const CommandBlock block = Ff04Block(0x25);
  uint32_t transferred = 0;
  return SendCommandOut(path, block.data(), block.length, nullptr, 0, &transferred);
}

}  // namespace fwtool
