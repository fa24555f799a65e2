// Who may read the shared-memory blocks. They are created for their owner
// only (0600): the display processes on the Pi run as root and open them
// read-write. Display processes that run as another user may read them once
// they join the group that the package creates: when that group exists, the
// daemon hands its blocks to it, readable (0640), never writable.
#pragma once

inline constexpr char kShmReaderGroup[] = "pelquarinthos";

// Gives the object behind fd (named `name` in the message) to `group_name` with
// mode 0640 when the group exists and this process owns the object; else
// leaves it as it is. True when the group may now read it.
bool shm_share_with_group(int fd, const char* name, const char* group_name);
