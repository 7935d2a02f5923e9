#pragma once
// The record players of the two metafile families, walking the records of a file that TMetafile
// has already checked the header of. Each plays at most `budget` records; a record whose size is
// impossible ends the playing, an unknown record is skipped by its size.

#include <cstddef>
#include <cstdint>

#include "classlib/GdiDevice.h"

namespace muralo::gdi {

// [MS-WMF]: records start at recordsStart (after the META_HEADER).
void PlayWmf(const uint8_t* data, size_t size, size_t recordsStart, Device& device, uint32_t budget);
// The window a plain WMF's records set before they first draw (origin and extent; false if none).
bool FindWmfWindow(const uint8_t* data, size_t size, size_t recordsStart, double& x, double& y, double& w, double& h);
// [MS-EMF]: records start at 0 with EMR_HEADER.
void PlayEmf(const uint8_t* data, size_t size, Device& device, uint32_t budget);

}  // namespace muralo::gdi
