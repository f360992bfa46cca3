// Standard error as the journal reads it. Run as a service, the batch's
// stderr is a stream into the journal, which takes a leading "<N>" on a line
// as the line's priority; with it, "journalctl -p warning" shows a night's
// problems without its summary and, under a rate limit, keeps them first.
// Every stderr line of the program gets its prefix here, in one place, so
// the many places that write "pirzol: ..." stay as they are.
#ifndef PIRZOL_BASE_JOURNAL_H_
#define PIRZOL_BASE_JOURNAL_H_

// Priorities as the journal numbers them.
constexpr int kPrioError = 3;    // every line not marked otherwise
constexpr int kPrioWarning = 4;  // lines that begin "pirzol: warning:"
constexpr int kPrioInfo = 6;     // lines marked so, such as the run's summary

// When stderr is the journal's stream (JOURNAL_STREAM names the device and
// inode of descriptor 2), puts a stream in stderr's place that writes to
// descriptor 2 with a prefix at each line's start, and answers 1; otherwise
// changes nothing and answers 0. To be called before anything is written to
// stderr; a second call changes nothing.
int Jrn_Attach();

// The priority of the next line begun on stderr, in place of the one read
// from its text. Without the journal it has no effect.
void Jrn_NextLine(int priority);

#endif  // PIRZOL_BASE_JOURNAL_H_
