#pragma once

namespace vokar::operatord {

// Makes buffers of 64 KiB and more separate mappings that go back to the
// system when freed. The allocator's adaptive default moves them onto the
// heap after the first frees, where a burst of clients leaves memory the
// process keeps. Call once at start-up.
void tune_allocator();

// Gives free heap memory back to the system, after many connections closed.
void return_free_memory();

} // namespace vokar::operatord
