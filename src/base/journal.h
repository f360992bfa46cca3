// Standard error as the journal reads it. Run as a service, the batch's
// stderr is a stream into the journal, which takes a leading "<N>" on a line
// as the line's priority; with it, "journalctl -p warning" shows a night's
// problems without its summary and, under a rate limit, keeps them first.
// The level is said by the code that writes the line (Log_Stderr of
// base/log.h), never read from its words.
#ifndef PIRZOL_BASE_JOURNAL_H_
#define PIRZOL_BASE_JOURNAL_H_

// Levels as the journal numbers them.
constexpr int kPrioError = 3;    // the run or a part of it failed
constexpr int kPrioWarning = 4;  // it went on, but somebody should look
constexpr int kPrioNotice = 5;   // normal, yet worth a word: no night due, a dry run's limits
constexpr int kPrioInfo = 6;     // the summary of a run that did all it should

// When stderr is the journal's stream (JOURNAL_STREAM names the device and
// inode of descriptor 2), puts a stream in stderr's place that writes to
// descriptor 2 with a prefix at each line's start, and answers 1; otherwise
// changes nothing and answers 0. To be called before anything is written to
// stderr; a second call changes nothing.
int Jrn_Attach();

// The level of the lines begun on stderr from now on, until the next call;
// -1 for lines nobody gave a level (a library's, the usage text), which go
// out as errors. Without the journal it has no effect.
void Jrn_Level(int priority);

#endif  // PIRZOL_BASE_JOURNAL_H_
