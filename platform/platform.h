// platform.h — the few things of ours that talk to the operating system
// directly rather than through a library.
#pragma once

// Large worlds are hundreds of thousands of small records; on machines
// where first touching a page is dear, the heap should come in huge pages.
// glibc does that only when told before the process starts, so this sets
// the tunable and starts the program again, once. Answers only when the
// program goes on in this process.
void zvPlatformTuneMemory(char** argv);
