// One run at a time across a cluster: every node grants its own named lock,
// so on a cluster the run also holds the lease row of the run record, taken
// by a commit that the cluster's certification orders and written again by
// every transaction of the run that commits anything.
#ifndef PIRZOL_FOLLOWUP_LEASE_H_
#define PIRZOL_FOLLOWUP_LEASE_H_

// A lease whose heartbeat is older than this belongs to a dead run.
constexpr int kLeaseStaleSeconds = 600;
// Between days the holder renews its heartbeat at most this often.
constexpr int kLeaseBeatSeconds = 60;

// Takes the lease and commits it. 0; PZL_LEASE_HELD when a live run holds
// it, or another node's run committed first (said on stderr); or the error.
// A lease of a dead run is taken over, and the takeover logged and said: one
// whose heartbeat is stale, or one of this host, this boot, whose process
// has ended. A dry run takes none: 0 when no live run holds it.
[[nodiscard]] int Lease_Take();
// 1 while this run holds the lease.
[[nodiscard]] int Lease_Held();
// 1 once the lease was found lost: the run must commit nothing more.
[[nodiscard]] int Lease_Lost();
// Inside the transaction about to be committed: proves the lease is still
// this run's by writing its heartbeat, so that a commit after a takeover
// fails on every node. 0 (also without a lease); PZL_LEASE_LOST when it was
// taken over, now or before (said on stderr once); or the error number.
[[nodiscard]] int Lease_Hold();
// The transaction that proved the lease was committed: its heartbeat counts.
void Lease_Kept();
// 1 when the heartbeat kept last is older than kLeaseBeatSeconds: between
// days the run then commits one of its own.
[[nodiscard]] int Lease_Due();
// Workers: the run's workers prove the lease each with a row of its own,
// which a takeover writes as well. Lease_Slots gives this run the rows of
// workers 1 to count, into the open transaction (0, or the error); on a
// single server, where there is no lease, it first takes the rows from any
// earlier run, and with workers they prove that this session still holds
// the run's named lock. Lease_Slot makes this process worker worker of its
// run: it proves the lease (or the lock) with that row and leaves the
// heartbeat to the holder.
[[nodiscard]] int Lease_Slots(int count);
void Lease_Slot(int worker);
// A worker of this run found the lease lost: nothing more is committed.
void Lease_Gone();
// Frees the lease and commits; 0 (also without one, or after it was lost),
// or PZL_LEASE_LOST when another run had taken it over or it could not be
// freed (said on stderr).
[[nodiscard]] int Lease_Release();

#endif  // PIRZOL_FOLLOWUP_LEASE_H_
