// SPDX-License-Identifier: GPL-2.0-or-later
// Flash update procedures: block transfer with the erase-on-write rule, and
// the procedures built on it.
#pragma once

#include "address_flash_steps.h"
#include "backup_file.h"
#include "block_transfer.h"
#include "disk_hosted_steps.h"
#include "embedded_update.h"
#include "flash_programming.h"
#include "flash_restore.h"
#include "flash_settings.h"
#include "ieee1394_steps.h"
#include "parallel_flash_steps.h"
#include "procedure.h"
#include "procedure_host.h"
#include "procedure_texts.h"
#include "run_backup.h"
#include "serial_flash_steps.h"
#include "whole_part.h"
