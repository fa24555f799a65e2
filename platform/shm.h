// POSIX shared memory, mapped the one way every block of the daemon, its
// tools and its tests is mapped.
#pragma once

#include <cstddef>

enum class ShmError { none, open, size, map };

// Maps name read-write, creating it with mode 0600 when missing. A block
// shorter than size (another process made it with another layout) is grown
// before mapping, never shrunk: touching a page past its end would raise
// SIGBUS. With reader_group, a block this process owns is handed to that
// group, readable (see shm_group.h). Null on failure, with the step that
// failed in *error.
void* shm_map_rw(const char* name, size_t size, ShmError* error = nullptr,
                 const char* reader_group = nullptr);

// Maps an existing block read-only; null when it is missing or shorter
// than size.
const void* shm_map_ro(const char* name, size_t size);
