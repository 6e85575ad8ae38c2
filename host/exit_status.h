// qorv-host's exit statuses, as its help, README and manual page list them.
#ifndef QORV_HOST_EXIT_STATUS_H
#define QORV_HOST_EXIT_STATUS_H

constexpr int kExitSuccess = 0;
// The plugin cannot be loaded or opened, -C or the session file cannot be
// used, or the answers cannot be printed.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// With --exit-status: a request failed.
constexpr int kExitRequestFailed = 3;

#endif  // QORV_HOST_EXIT_STATUS_H
