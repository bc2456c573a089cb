// The device command layer: transport, backends, clock and every command
// block the program sends.
#pragma once

#include "ata_commands.h"
#include "chip_rows.h"
#include "chip_tables.h"
#include "clock.h"
#include "command_block.h"
#include "disk_commands.h"
#include "enumeration.h"
#include "firmware_version_place.h"
#include "flash_commands.h"
#include "identify.h"
#include "operator.h"
#include "parallel_flash_commands.h"
#include "pass_through.h"
#include "serial_flash_commands.h"
#include "transport.h"
