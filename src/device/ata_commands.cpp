// ATA PASS-THROUGH command family: see ata_commands.h.
#include "ata_commands.h"

namespace fwtool {}  // namespace fwtool
