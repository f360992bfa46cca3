// The report of a run (--report=FILE): one JSON object a line for every
// accounted day handled, with every follow-up weighed and what became of
// it, and a last object for the run. Written to a file beside the report
// and renamed over it at the end. Without a report every call is a no-op.
#ifndef PIRZOL_FOLLOWUP_REPORT_H_
#define PIRZOL_FOLLOWUP_REPORT_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "db/bch.h"
#include "db/fcd.h"
#include "db/tag.h"
#include "base/counts.h"

// The layout of the report's objects, in the run's object as "format";
// raised when a key changes meaning or goes away, not when one is added.
constexpr int kReportFormat = 1;

// Opens the report's file; 0, or -1 when it cannot be created (said on stderr).
[[nodiscard]] int Rpt_Open(const char* path);

// A day begins: tag is the accounted day.
void Rpt_Day(const TagSatz& tag);
// The last message day the search found for it.
void Rpt_Found(const TagSatz& last);
// A follow-up of type fcd is weighed against the day (a type that could not
// be read has only its code).
void Rpt_Weigh(const FcdSatz& fcd);
// What became of the follow-up weighed last.
void Rpt_Cancelled(const BchSatz& booking);
void Rpt_Stopped(const char* reason, const char* code);
void Rpt_Credited(std::int32_t slot, std::int32_t value);
// Units of work: the follow-ups weighed since a mark are dropped when the
// unit is redone, and marked as given up when it is given up.
[[nodiscard]] std::size_t Rpt_Mark();
void Rpt_Drop(std::size_t mark);
void Rpt_GiveUp(std::size_t mark);
// The day ends: whether its parameter line was written, its retries, and
// whether work on it was left undone.
void Rpt_DayEnd(int line, int retries, int failed);

// A follow-up a correction concerns: what ("stale", "taken back", "refused"),
// whose, which day and code, and why. One object a line, before the days.
void Rpt_Correction(const char* what, const char* pnr, const char* day, const char* code,
                    const char* reason);

// The open report's stream, or nullptr without a report; Rpt_Divert sends a
// worker's objects to its own file instead (nothing when there is no report).
[[nodiscard]] std::FILE* Rpt_Stream();
void Rpt_Divert(std::FILE* to);
// A part of the report was lost (a worker's): Rpt_Close fails, and the
// report is not put in place.
void Rpt_Broken();
// 1 when the report's stream has failed since it was opened or diverted.
[[nodiscard]] int Rpt_Failed();

// Ends the report with the run's object and puts the file in place.
// 0, or -1 when it could not be written (said on stderr).
[[nodiscard]] int Rpt_Close(std::int64_t runId, const std::vector<std::string>& dates,
                            const char* options, const MldCounts& counts, int exitStatus,
                            int dryRun, int heldBack);

#endif  // PIRZOL_FOLLOWUP_REPORT_H_
