// SPDX-License-Identifier: GPL-2.0-or-later
// The unit's whole part as one piece (its flash, or the stretch of its disk
// that holds its firmware), reached through the family of commands of the
// procedure that works on it: read in full, and written back in full with
// read-back and compare. A run saves it before it writes; a restore puts
// such a copy back.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "procedure.h"
#include "progress.h"

namespace fwtool {

// The smallest flash part the controllers carry, and the most their 24-bit
// flash addresses reach.
inline constexpr uint32_t kSmallestFlashSize = 65536;
inline constexpr uint32_t kLargestFlashSize = 1u << 24;
// Bytes compared at each place where the addresses may have wrapped.
inline constexpr uint32_t kWrapProbeSize = 4096;
// The parts whose size is fixed: the parallel part, the 1394 bridge's
// flash, type 12's region on its disk.
inline constexpr uint32_t kFixedPartSize = 65536;

// Reads [start, start + length) of a part: 1 when every byte was read.
using PartReader = std::function<int(uint32_t start, uint8_t* data, uint32_t length)>;

// A flash part whose size nobody told: the first 64 KB, then on in 64 KB
// steps until the bytes read at a power of two equal those at 0 (a part
// decodes only the address bits it needs, so its addresses wrap round to the
// start at its size), at most 16 MB. A part whose first 64 KB hold one
// value throughout (erased) cannot show its size that way and is read up to
// `sizeIfErased` (a power of two from 64 KB to 16 MB; else 64 KB). The
// running progress step moves by the bytes kept against `sizeIfErased` (at
// least 64 KB), the size the caller expects.
int ReadWrappingPart(ProcedureProgress& progress, const PartReader& read,
                     std::vector<uint8_t>& part, uint32_t sizeIfErased = kSmallestFlashSize);

// Reads the whole part of the request's unit into `bytes`: the detected
// flash size when the information check found one, else as far as the
// addresses reach (above); 64 KB for the parallel and 1394 parts; the
// 256-sector firmware area or type 12's 64 KB region on the disk. The
// operator's transfer size is left as it was. 1 when everything was read.
int ReadWholePart(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
                  std::vector<uint8_t>& bytes, uint32_t sizeIfErased = kSmallestFlashSize);

// The same, read twice: 1 only when both reads agree on the size and byte
// for byte, so that a bit the bus turned on the way never ends up in a copy.
int ReadWholePartTwice(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
                       std::vector<uint8_t>& bytes);

// Writes `bytes` (the whole part, as ReadWholePart gives it) back through the
// part's own commands: erased first where the part needs it, then written,
// read back and compared. 1 when the part holds the bytes; the status line
// names what failed.
int WriteWholePart(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
                   std::span<const uint8_t> bytes);

}  // namespace fwtool
