// A real writer's AVI of one RIFF form, repacked as a recorder writes OpenDML: small parts, so that
// a recording of several parts is a few kilobytes and sweeps can hold it in memory.
#pragma once

#include "FilesAndCommands.h"

#include <cstdint>

namespace clipwright::test {

// The chunks of `avi`'s movi list in 'RIFF' parts of about `partBytes` each, as a recorder leaves the
// file while it records: a header list with the streams' own headers, a super index per stream (room
// for 16 parts) and an OpenDML header; key flags from its idx1, when it has one; every part but the last
// closed (its standard indexes at the end of its movi list, the first part's idx1 behind it, the super
// indexes listing it, its sizes set); the last part open, its RIFF and movi sizes and the header's counts
// still 0.
Bytes RepackAsOpenDml(const Bytes& avi, uint64_t partBytes);

} // namespace clipwright::test
