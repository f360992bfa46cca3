// The last message day search over one person's earlier days.
#ifndef PIRZOL_FOLLOWUP_SEARCH_H_
#define PIRZOL_FOLLOWUP_SEARCH_H_

#include "db/tag.h"

// Searches pnr's day records before date, newest first, for the last day
// whose message is to be carried over. 1 with the day in last, or 0 (last
// then holds whatever was read and must not be used).
[[nodiscard]] int Mld_FindLastDay(const char* pnr, const char* date, TagSatz& last);

#endif  // PIRZOL_FOLLOWUP_SEARCH_H_
