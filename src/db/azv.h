// The working-time rule (Qel140Azv) of the time-model assignment (Qel329Ztg)
// that starts on a person's day.
#ifndef PIRZOL_DB_AZV_H_
#define PIRZOL_DB_AZV_H_

#include <cstdint>
#include <type_traits>

#include "base/fixtext.h"

struct AzvSatz {
  FixText<16> AzvNum;   // rule number; read, never used
  std::int32_t AzvSol;  // the six working-time values the credit is chosen from
  std::int32_t AzvSo2;
  std::int32_t AzvVhs;
  std::int32_t AzvHso;
  std::int32_t AzvHs2;
  std::int32_t AzvHtv;
};
static_assert(std::is_trivially_copyable_v<AzvSatz>);

// The rule of pnr's active assignment starting on date (YYYYMMDD), valid on
// that date, into azv. 0, END_OF_DATA or the client's or server's error.
[[nodiscard]] int Azv_Read(const char* pnr, const char* date, AzvSatz& azv);

#endif  // PIRZOL_DB_AZV_H_
