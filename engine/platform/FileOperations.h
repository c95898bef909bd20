// The file operations the repairs make beside the recording, with the rules that keep it safe: new
// files are written under a hidden name, never through a link, and synced with their folder before
// a rename or a removal makes them the only copy. Each passes a fault point.
#pragma once

#include "platform/Progress.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace clipwright {

// The hidden name a new file is written under before it is renamed to `target`.
std::string PartialName(const std::string& target);

// Copies `from` to `to`, replacing a file of that name. The copy is written under a hidden name
// first and renamed into place, so `to` is never truncated in place: were it a hard or symbolic
// link to the recording, the recording would be lost. The copy takes the source's owner (where
// permitted) and mode, and is on disk, with its name, before this returns. Returns 0, or the errno
// of the failure.
int CopyFileReplacing(const std::string& from, const std::string& to);

// The first half of CopyFileReplacing: copies `from` to the new file `partial` (a hidden name that
// nobody else uses), with the source's owner and mode, synced. Removes it on failure. Returns 0,
// or the errno of the failure. `keepWritable`: its owner may write it whatever the source's mode,
// for a copy to be repaired; SetModeOf gives it the source's mode once it is. `progress` hears how
// far the copy is; a stop there removes `partial` and passes JobStopped on.
int CopyToNewFile(const std::string& from, const std::string& partial, bool keepWritable = false,
                  ProgressMeter* progress = nullptr);
// CopyToNewFile in two steps, for a copy made on another thread: its ends opened and `partial`
// created (0, or the errno, and nothing left open or created), then the bytes copied and both ends
// closed, as CopyToNewFile does.
struct CopyEnds {
    int source = -1;
    int target = -1;
};
int OpenCopy(const std::string& from, const std::string& partial, bool keepWritable, CopyEnds& ends);
int CopyBetween(CopyEnds ends, const std::string& partial, ProgressMeter* progress);
// Copies `length` bytes of `from`, starting at `start`, to the new file `partial` (a name nobody
// else uses; never replaced), synced. The copy keeps the source's read and write bits and stays
// writable by its owner. Removes it on failure, and on a stop, which passes on. Returns 0, or the
// errno of the failure (EIO when `from` ends before the range does).
int CopyRangeToNewFile(const std::string& from, uint64_t start, uint64_t length, const std::string& partial,
                       ProgressMeter* progress = nullptr);
// Gives `path` the recording's permission bits. Returns 0, or the errno.
int SetModeOf(const std::string& path, const struct stat& recording);
// The second half: the folder synced, `partial` renamed to `to` (replacing what stands there) and
// the folder synced again; on failure `partial` is removed. Returns 0, or the errno.
int PlaceNewFile(const std::string& partial, const std::string& to);
// Renames `from` to `to`, replacing what stands there (a link is replaced, never followed).
// Returns 0, or the errno of the failure.
int RenameReplacing(const std::string& from, const std::string& to);

// Renames `from` to `to` only when `to` does not exist. Returns 0, or the errno of the failure.
int MoveFileNoReplace(const std::string& from, const std::string& to);

// Removes a file; the outcome is not needed by callers.
void DeleteFileQuietly(const std::string& path);

// True when anything, a dangling link included, stands under `path`.
bool FileExists(const std::string& path);
bool IsSymbolicLink(const std::string& path);

// Creates a new file that only its owner can read until it is finished, never through a link.
// Returns the descriptor, or -1 with errno set.
int CreatePrivateFile(const std::string& path);

// Gives a new file the recording's owner, where the system permits it, and its permission bits, so
// that a repair never shows footage to more people than the recording did.
void TakeOwnerAndMode(int descriptor, const struct stat& recording);

// Durability: a file's data, and a folder's entries, on disk before a rename or a removal makes
// the new file the only copy. Both return 0, or an errno.
int SyncFile(int descriptor, const std::string& path);
int SyncDirectoryOf(const std::string& path);

// A new file written under a hidden name and closed: takes the recording's owner and mode, and is
// synced with its folder, ready to be renamed into place. Returns 0, or an errno.
int FinishNewFile(const std::string& path, const struct stat& recording);

} // namespace clipwright
