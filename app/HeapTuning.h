#pragma once
// Process-wide allocator settings for the viewer.

// Every replot of a plot allocates frame-sized buffers (the canvas backing
// store, a few MB). By default glibc hands such blocks back to the system and
// takes fresh pages for the next one, and page faults then cost as much as
// drawing the curves. Keeping blocks below a bound in the heap avoids that;
// the bound keeps memory returned to the system when large data blocks go.
// Call once, before the application object exists.
void keepFrameBuffersInHeap();
