#pragma once

namespace pictures::worker {

// The picture worker's whole run, from the picture worker executable or from the program started
// as its own worker (platform::kPictureWorkerArgument): answers requests on standard input until
// it ends. Makes no window; returns the exit status.
int workerMain(int argc, char *argv[]);

} // namespace pictures::worker
