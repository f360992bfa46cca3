// Corrections flow forward. Every follow-up the batch books is recorded with
// what it was carried from and what it changed (its lineage); every plain
// run finds the follow-ups whose source was corrected since, and with
// --correct takes back exactly those and every later follow-up of the same
// persons, so that their days are derived again as consecutive nights would.
#ifndef PIRZOL_FOLLOWUP_CORRECT_H_
#define PIRZOL_FOLLOWUP_CORRECT_H_

#include "db/bch.h"
#include "db/tag.h"
#include "followup/nights.h"

// The lineage of the follow-ups being weighed: the last message day they
// are carried from (Mld_PrevDay, Mld_HourMsg).
void Cor_Last(const TagSatz& last);
// A weighing begins: a cancellation of a try before it is forgotten.
void Cor_Weigh();
// Before a cancellation deletes earlier cancelled rows of bch's key: keeps
// them for the lineage. 0 or the error.
[[nodiscard]] int Cor_Deleting(const BchSatz& bch);
// The weighing cancelled booking, which held what it holds (before the change).
void Cor_Cancelled(const BchSatz& booking);
// Mld_Generate booked a follow-up: source as read, booked as written
// (inserted 0 when the insert was refused), the day's slots before and after.
// Writes its lineage into the unit; a refusal is counted as a failure.
void Cor_Booked(const BchSatz& source, const BchSatz& booked, int inserted,
                const TagSatz& before, const TagSatz& after);

// Before the nights: finds the stale follow-ups of the last 31 nights and
// reports them (stderr, report, the pending count); with opts.correct takes
// them back, one unit of work per person, and withdraws the persons' days
// from the first taken back on, so this run handles them again in date
// order; only a plain run corrects (a run of chosen nights would not handle
// the days before them). Without the lineage table says once that
// corrections cannot be followed. The persons whose follow-ups were taken
// back, or -1 when the run must stop (a lost transaction or lease).
[[nodiscard]] int Mld_Correct(const RunOptions& opts, const NightPlan& plan);

#endif  // PIRZOL_FOLLOWUP_CORRECT_H_
