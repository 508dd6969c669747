#pragma once

// Makes the C library give freed memory back to the system at once, for the whole process.
// A batch decodes picture after picture on several threads; by default the allocator keeps the
// freed buffers of earlier pictures (and raises its threshold for mapping large blocks as it
// sees them freed), so the process grows to more than the pictures in hand. With fixed
// thresholds every block of 1 MB or more (pictures, decoder buffers) is mapped on its own and
// unmapped when freed, and free memory above 1 MB at the top of a heap is returned. Call once,
// early in main. Does nothing where the C library has no such settings.
void ReturnFreedMemoryPromptly();
