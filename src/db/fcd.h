// Message types of Qel131Fcd: the follow-up code of an active type, and a
// whole type by its code.
#ifndef PIRZOL_DB_FCD_H_
#define PIRZOL_DB_FCD_H_

#include <cstdint>
#include <type_traits>

#include "base/fixtext.h"

struct FcdSatz {
  FixText<4> FcdNum;    // message code; set by the caller before Fcd_Read
  std::int32_t FcdTyp;  // 1 whole day, 2 and 3 half day: slot and follow-up function
  std::int32_t FcdZwt;  // selects the credited value
  std::int32_t FcdStd;  // fixed value credited under FcdZwt 14
  std::int32_t FcdSol;  // 1: a follow-up needs a day with a target time
  std::int32_t FcdPri;  // priority, smaller ranks higher; 0 when not set
  std::int32_t FcdGpu;  // tie rule between equal priorities; 0 when not set
  std::int32_t FcdFcd;  // -9 when not set; 24 lets the search pass a day
  FixText<4> FcdFlg;    // follow-up code, empty for none
};
static_assert(std::is_trivially_copyable_v<FcdSatz>);

// The follow-up code of the active type (status below 4) with code into flg;
// a NULL follow-up code leaves flg alone. 0, END_OF_DATA or the
// client's or server's error.
[[nodiscard]] int Fcd_ReadFlg(const char* code, FixText<4>& flg);
// The type whose code is fcd.FcdNum, whatever its status, into fcd.
[[nodiscard]] int Fcd_Read(FcdSatz& fcd);

#endif  // PIRZOL_DB_FCD_H_
