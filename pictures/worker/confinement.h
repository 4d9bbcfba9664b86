#pragma once

// What keeps the picture worker to its one task. It reads the bytes of any file it is given,
// hostile ones included, so it gives up everything reading and decoding do not need.
namespace pictures::worker {

// Closes every descriptor the worker was started with but its standard input, output and
// error: it keeps nothing of the program's. The first thing the worker does.
void dropInheritedFiles();

// Confines the worker for good, once it has started (Qt and its platform plugin loaded): no new
// privileges, a read-only file system where the kernel has Landlock, and a system-call filter
// that lets through what reading files and decoding pictures need and nothing else: no
// sockets, no new programs, no writes but its answers and to its error channel. A call the filter
// refuses fails as it would for any program without the right, or, when nothing the worker does
// makes it, ends the worker: it costs that one picture. Returns whether the filter is in place
// (never on systems without one).
bool confine();

} // namespace pictures::worker
