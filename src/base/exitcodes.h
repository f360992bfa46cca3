// Exit statuses of pirzol, for whoever schedules the batch.
#ifndef PIRZOL_BASE_EXITCODES_H_
#define PIRZOL_BASE_EXITCODES_H_

constexpr int kExitOk = 0;          // run completed, or --help or --version answered
constexpr int kExitOverflow = 1;    // a statement did not fit its buffer; nothing more was sent
constexpr int kExitNoStart = 2;     // the run could not start: bad parameters, values, connection,
                                    // a lock held, a link where the log or lock would be
constexpr int kExitIncomplete = 3;  // the run ended, but some of its work may be missing

#endif  // PIRZOL_BASE_EXITCODES_H_
