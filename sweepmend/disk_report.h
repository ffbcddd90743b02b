// The disk usage report, produced by the panel's system information tool.
#pragma once

// Runs the tool's disk report with its output going straight to ours, adding no byte, and
// returns its exit code (the signal number when it was killed) to become our exit status.
// Never raises: a failure to start or wait for the tool is one line on standard error and 1.
int checkDiskSpace();
