// platform.h — the few things of ours that talk to the operating system
// directly rather than through a library.
#pragma once

// Large worlds are hundreds of thousands of small records; on machines
// where first touching a page is dear, the heap should come in huge pages.
// This grows the heap once and asks for huge pages on it, in this process;
// argv is no longer used.
void zvPlatformTuneMemory(char** argv);

#include <cstddef>

// The bytes the process has taken from malloc and not given back (the
// sanitizer's allocator when it stands in for malloc).
size_t zvPlatformHeapBytesInUse(void);
