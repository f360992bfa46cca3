// One run at a time across a cluster: every node grants its own named lock,
// so on a cluster the run also holds the lease row of the run record, taken
// and renewed by commits that the cluster's certification orders.
#ifndef PIRZOL_FOLLOWUP_LEASE_H_
#define PIRZOL_FOLLOWUP_LEASE_H_

// A lease whose heartbeat is older than this belongs to a dead run.
constexpr int kLeaseStaleSeconds = 600;
// The holder renews its heartbeat at most this often.
constexpr int kLeaseBeatSeconds = 60;

// Takes the lease and commits it. 0; PZL_LEASE_HELD when a live run holds
// it, or another node's run committed first (said on stderr); or the error.
// A lease of a dead run is taken over, and the takeover logged and said: one
// whose heartbeat is stale, or one of this host whose process has ended.
[[nodiscard]] int Lease_Take();
// Renews the heartbeat, with a COMMIT, when it is older than
// kLeaseBeatSeconds; nothing without a lease. 0, or PZL_LEASE_LOST when the
// lease was taken over or cannot be renewed (said on stderr).
[[nodiscard]] int Lease_Tick();
// Frees the lease and commits; nothing without one.
void Lease_Release();

#endif  // PIRZOL_FOLLOWUP_LEASE_H_
