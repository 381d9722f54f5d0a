// Stamps of a directory's files remembered between the changes the system reports. A folder's
// message files are stamped at every listing; where the kernel tells of each write, rename,
// deletion or change of times in a directory, a stamp taken once stays true until such a notice
// names its file, and the next listing needs no lookup for it. Used by DirectoryStamps on POSIX.
#ifndef ORV_PLATFORM_STAMP_NOTICES_H_
#define ORV_PLATFORM_STAMP_NOTICES_H_

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace platform {
namespace notices {

// A watched directory. Lives until the process ends; its remembered stamps are dropped when
// the directory is no longer watched, is replaced, or the notices were lost.
struct Watched;

// The watch of the directory open as fd under path (as DirectoryStamps was given it),
// begun now if need be; null when the system cannot report its changes faithfully (a network
// or user-space file system, no watches left). Takes the pending notices first.
Watched* Watch(const std::string& path, int fd);

// Takes the notices pending for every watched directory: each forgets the files named.
void Take();

// The stamp of name remembered in the directory; false when there is none.
bool Recall(Watched* watched, const char* name, FileStamp* out);

// How many notices the directory has taken: read before a name is looked up, and given to
// Remember after, so a stamp a notice made old meanwhile is not kept.
uint64_t Count(Watched* watched);

// Keeps the stamp of name, looked up after count was read. Bounded for the process: the
// stamps of the directory used longest ago go first.
void Remember(Watched* watched, const char* name, const FileStamp& stamp, uint64_t count);

// The count of notices the directory has taken, plus one, while it is watched; 0 once its watch
// ended (a notice may then be missed).
uint64_t Changes(Watched* watched);

// How many stamps the directory remembers.
size_t Size(Watched* watched);

// The most stamps the process keeps (tests).
void SetBound(size_t names);

}  // namespace notices
}  // namespace platform

#endif  // ORV_PLATFORM_STAMP_NOTICES_H_
