#include "db/her.h"

#include <cstring>

#include "db/db.h"

namespace {

constexpr char kHerPresent[] =
    "SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() AND "
    "TABLE_NAME = 'Qel953Her'";

// The cancelled rows a cancellation deletes, whole, kept in the session until
// the follow-up's lineage row takes them: they never travel to the client.
constexpr char kHerKeepDeleted[] =
    "SELECT JSON_ARRAYAGG(JSON_OBJECT('p', BchPnr, 'v', BchVon, 'u', BchUhr, 'k', BchFkt, "
    "'b', BchBis, 'w', BchVws, 'c', BchFcd, 'z', BchZwt, 'a', BchAbt, 's', BchKst, 't', "
    "BchKtr, 'r', BchKrt, 'az', BchAzt, 'vr', BchVra, 'tx', BchTxt, 'st', BchSta, 'e', BchErf, "
    "'tr', BchTrm, 'd', BchDat)) INTO @pzher FROM Qel321Bch WHERE BchPnr = '%s' AND BchVon = "
    "'%s' AND TIME(BchUhr) = '%s' AND BchFkt = 45";

constexpr char kHerInsert[] =
    "INSERT INTO Qel953Her (HerLau, HerZeit, HerPnr, HerTag, HerFkt, HerFcd, HerIns, HerQtg, "
    "HerQvo, HerQuh, HerQfk, HerQfc, HerSuh, HerSfk, HerSdt, HerSer, HerDel, HerTgb0, HerTgs0, "
    "HerHtv0, HerHvs0, HerHtn0, HerHns0, HerTgb1, HerTgs1, HerHtv1, HerHvs1, HerHtn1, HerHns1) "
    "VALUES (%lld, NOW(), '%s', '%s', %ld, '%s', %d, '%s', NULLIF('%s', ''), NULLIF('%s', ''), "
    "%ld, '%s', %s, %s, %s, %s, %s, '%s', %ld, '%s', %ld, '%s', %ld, '%s', %ld, '%s', %ld, "
    "'%s', %ld)";

// A follow-up is stale when its source booking is gone, changed or
// cancelled, when a message a person entered since it was booked stands
// after its source day (a newer last message day, or a day message its
// weighing did not see), or when the follow-up it was carried from is
// stale. One statement over the last 31 nights; it names no person. The
// batch's own follow-ups are no person's messages, also once a person
// changed their code: that is a change of the next day's source.
constexpr char kHerStale[] =
    "WITH RECURSIVE d AS (SELECT HerId, HerPnr, HerTag, HerFkt, HerFcd, CASE "
    // The source booking, found by its key in one look: 3 as read, 2
    // cancelled, 1 changed, NULL gone.
    "(SELECT MAX(CASE WHEN b.BchFkt = h.HerQfk AND b.BchFcd <=> h.HerQfc THEN 3 WHEN b.BchFkt = "
    "45 THEN 2 ELSE 1 END) FROM Qel321Bch b WHERE b.BchPnr = h.HerPnr AND b.BchVon = h.HerQvo "
    "AND TIME(b.BchUhr) = h.HerQuh) "
    // A day message entered since on its own day, but the batch's own; a
    // message on a day between (a chain has none) only then looked for.
    "WHEN 3 THEN IF(EXISTS (SELECT 1 FROM Qel321Bch b WHERE b.BchPnr = h.HerPnr AND b.BchVon = "
    "h.HerTag AND b.BchFkt IN (1, 2, 3) AND b.BchDat >= h.HerZeit AND NOT (TIME(b.BchUhr) = "
    "'00:00:00' AND EXISTS (SELECT 1 FROM Qel953Her o WHERE o.HerPnr = b.BchPnr AND o.HerTag = "
    "b.BchVon AND o.HerFkt = b.BchFkt))) OR (h.HerTag > h.HerQtg + INTERVAL 1 DAY AND EXISTS "
    "(SELECT 1 FROM Qel321Bch b WHERE b.BchPnr = h.HerPnr AND b.BchVon > h.HerQtg AND b.BchVon < "
    "h.HerTag AND b.BchFkt IN (0, 1, 21, 22, 23, 24, 25, 29, 30) AND b.BchDat >= h.HerZeit)), "
    "'newer message', NULL) "
    "WHEN 2 THEN 'source cancelled' WHEN 1 THEN 'source changed' ELSE 'source gone' END AS why "
    "FROM Qel953Her h WHERE HerTag >= CURDATE() - INTERVAL 31 DAY), "
    // Each step from the few stale ones to their persons' lineage.
    "s AS (SELECT HerId, HerPnr, HerTag, HerFkt, HerFcd, why FROM d WHERE why IS NOT NULL "
    "UNION SELECT h.HerId, h.HerPnr, h.HerTag, h.HerFkt, h.HerFcd, 'chain' FROM s "
    "STRAIGHT_JOIN Qel953Her h ON h.HerPnr = s.HerPnr AND h.HerQvo = s.HerTag AND "
    "h.HerQuh = '00:00:00' AND h.HerQfk = s.HerFkt AND h.HerQfc = s.HerFcd WHERE h.HerTag >= CURDATE() - INTERVAL 31 DAY) "
    "SELECT HerId, HerPnr, DATE_FORMAT(HerTag, '%Y%m%d'), HerFcd, why FROM s "
    "ORDER BY HerPnr, HerTag, HerId, why = 'chain'";

constexpr char kHerPerson[] =
    "SELECT HerId, HerLau, HerPnr, DATE_FORMAT(HerTag, '%%Y%%m%%d'), HerFkt, HerFcd, HerIns, "
    "DATE_FORMAT(HerQtg, '%%Y%%m%%d'), HerSuh IS NOT NULL, DATE_FORMAT(HerSuh, '%%H%%i%%s'), "
    "HerSfk, HerDel IS NOT NULL, HerTgb0, HerTgs0, HerHtv0, HerHvs0, HerHtn0, HerHns0, HerTgb1, "
    "HerTgs1, HerHtv1, HerHvs1, HerHtn1, HerHns1 FROM Qel953Her WHERE HerPnr = '%s' AND HerTag "
    ">= '%s' ORDER BY HerTag DESC, HerId DESC FOR UPDATE";

constexpr char kHerDaySlots[] =
    "SELECT TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns FROM Qel327Tag WHERE TagPnr = '%s' "
    "AND TagTag = '%s' FOR UPDATE";

constexpr char kHerHolds[] =
    "SELECT COUNT(*) FROM Qel321Bch WHERE BchPnr = '%s' AND BchVon = '%s' AND BchUhr = "
    "'%s000000' AND BchFkt = %ld AND BchFcd = '%s' FOR UPDATE";

constexpr char kHerUnbook[] =
    "DELETE FROM Qel321Bch WHERE BchPnr = '%s' AND BchVon = '%s' AND BchUhr = '%s000000' AND "
    "BchFkt = %ld AND BchFcd = '%s'";

// Only a cancellation that still stands as the batch wrote it goes back.
constexpr char kHerUncancel[] =
    "UPDATE Qel321Bch h JOIN Qel953Her ON HerId = %lld SET h.BchFkt = HerSfk, h.BchDat = "
    "HerSdt, h.BchErf = HerSer WHERE h.BchPnr = '%s' AND h.BchVon = '%s' AND TIME(h.BchUhr) = "
    "HerSuh AND h.BchFkt = 45 AND h.BchErf = 'Korvane'";

constexpr char kHerUndelete[] =
    "INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchBis, BchVws, BchFcd, BchZwt, "
    "BchAbt, BchKst, BchKtr, BchKrt, BchAzt, BchVra, BchTxt, BchSta, BchErf, BchTrm, BchDat) "
    "SELECT j.* FROM Qel953Her, JSON_TABLE(HerDel, '$[*]' COLUMNS (p VARCHAR(8) PATH '$.p', v "
    "DATE PATH '$.v', u DATETIME PATH '$.u', k INT PATH '$.k', b DATE PATH '$.b', w DATETIME "
    "PATH '$.w', c VARCHAR(3) PATH '$.c', z INT PATH '$.z', a VARCHAR(15) PATH '$.a', s "
    "VARCHAR(30) PATH '$.s', t VARCHAR(6) PATH '$.t', r VARCHAR(4) PATH '$.r', az VARCHAR(5) "
    "PATH '$.az', vr VARCHAR(14) PATH '$.vr', tx VARCHAR(60) PATH '$.tx', st INT PATH '$.st', "
    "e VARCHAR(20) PATH '$.e', tr VARCHAR(20) PATH '$.tr', d DATETIME PATH '$.d')) j WHERE "
    "HerId = %lld";

constexpr char kHerPutSlots[] =
    "UPDATE Qel327Tag SET TagTgb = '%s', TagTgs = %ld, TagHtv = '%s', TagHvs = %ld, TagHtn = "
    "'%s', TagHns = %ld WHERE TagPnr = '%s' AND TagTag = '%s'";

constexpr char kHerForget[] = "DELETE FROM Qel953Her WHERE HerPnr = '%s' AND HerTag >= '%s'";

constexpr char kHerPurge[] = "DELETE FROM Qel953Her WHERE HerTag < CURDATE() - INTERVAL 62 DAY";

constexpr char kHerCount[] =
    "SELECT COUNT(*) FROM Qel953Her WHERE HerPnr = '%s' AND HerTag = '%s' AND HerFcd = '%s'";

bool Present = false;

long L(std::int32_t n) { return static_cast<long>(n); }

// A text column's value as a statement's literal: quoted, or NULL when empty.
std::string Literal(const char* text) {
  if (text[0] == '\0') return "NULL";
  SqlValue<21> v(text);
  return std::string("'") + v.c_str() + "'";
}

void ReadSlots(HerSlots& s, MYSQL_ROW row, int at) {
  Col_Text(s.tgb, row[at]);
  Col_Long(s.tgs, row[at + 1]);
  Col_Text(s.htv, row[at + 2]);
  Col_Long(s.hvs, row[at + 3]);
  Col_Text(s.htn, row[at + 4]);
  Col_Long(s.hns, row[at + 5]);
}

}  // namespace

bool operator==(const HerSlots& a, const HerSlots& b) {
  return std::strcmp(a.tgb.c_str(), b.tgb.c_str()) == 0 && a.tgs == b.tgs &&
         std::strcmp(a.htv.c_str(), b.htv.c_str()) == 0 && a.hvs == b.hvs &&
         std::strcmp(a.htn.c_str(), b.htn.c_str()) == 0 && a.hns == b.hns;
}

HerSlots Her_SlotsOf(const TagSatz& tag) {
  HerSlots s{};
  s.tgb.assign(tag.TagTgb.c_str());
  s.tgs = tag.TagTgs;
  s.htv.assign(tag.TagHtv.c_str());
  s.hvs = tag.TagHvs;
  s.htn.assign(tag.TagHtn.c_str());
  s.hns = tag.TagHns;
  return s;
}

int Her_Present() {
  std::int32_t count = 0;
  Sql_Format(kHerPresent);
  int rc = Db_ReadRow([&](MYSQL_ROW row) { Col_Long(count, row[0]); });
  if (rc != 0) return rc;
  Present = count == 1;
  return Present ? 1 : 0;
}

int Her_On() { return Present ? 1 : 0; }

int Her_KeepDeleted(const BchSatz& bch) {
  Sql_Format(kHerKeepDeleted, SqlValue(bch.BchPnr).c_str(), SqlValue(bch.BchVon).c_str(),
             SqlValue(bch.BchUhr).c_str());
  return Db_Aside();
}

int Her_Insert(const HerSatz& h) {
  const BchSatz& q = h.source;
  const BchSatz& c = h.cancel;
  std::string cancelTime = h.cancelled != 0 ? Literal(c.BchUhr.c_str()) : "NULL";
  std::string cancelFkt = h.cancelled != 0 ? std::to_string(c.BchFkt) : "NULL";
  std::string cancelDat = h.cancelled != 0 ? Literal(c.BchDat.c_str()) : "NULL";
  std::string cancelErf = h.cancelled != 0 ? Literal(c.BchErf.c_str()) : "NULL";
  const HerSlots& b = h.before;
  const HerSlots& a = h.after;
  Sql_Format(kHerInsert, static_cast<long long>(h.run), SqlValue(h.pnr).c_str(),
             SqlValue(h.day).c_str(), L(h.fkt), SqlValue(h.fcd).c_str(), h.inserted != 0 ? 1 : 0,
             SqlValue(h.last).c_str(), SqlValue(q.BchVon).c_str(), SqlValue(q.BchUhr).c_str(),
             L(q.BchFkt), SqlValue(q.BchFcd).c_str(), cancelTime.c_str(), cancelFkt.c_str(),
             cancelDat.c_str(), cancelErf.c_str(), h.deleted != 0 ? "@pzher" : "NULL",
             SqlValue(b.tgb).c_str(), L(b.tgs), SqlValue(b.htv).c_str(), L(b.hvs),
             SqlValue(b.htn).c_str(), L(b.hns), SqlValue(a.tgb).c_str(), L(a.tgs),
             SqlValue(a.htv).c_str(), L(a.hvs), SqlValue(a.htn).c_str(), L(a.hns));
  return Db_Aside();
}

int Her_Stale(std::vector<HerStale>& stale) {
  stale.clear();
  // A fixed statement without values: it needs no formatting, and is longer
  // than the formatting buffer.
  Cursor cur{kHerStale, nullptr, 0};
  int rc = Cur_Open(cur);
  if (rc != 0) return rc;
  MYSQL_ROW row = nullptr;
  while ((rc = Cur_Read(cur, row)) == 0) {
    std::int64_t id = row[0] != nullptr ? std::strtoll(row[0], nullptr, 10) : 0;
    // The first reason of a follow-up counts: its own before the chain.
    if (!stale.empty() && stale.back().id == id) continue;
    stale.push_back(HerStale{id, row[1] != nullptr ? row[1] : "", row[2] != nullptr ? row[2] : "",
                             row[3] != nullptr ? row[3] : "", row[4] != nullptr ? row[4] : ""});
  }
  (void)Cur_Close(cur);
  return rc == END_OF_DATA ? 0 : rc;
}

int Her_Person(const char* pnr, const char* day, std::vector<HerSatz>& rows) {
  rows.clear();
  Sql_Format(kHerPerson, SqlValue<9>(pnr).c_str(), SqlValue<9>(day).c_str());
  Cursor cur{nullptr, nullptr, 0};
  int rc = Cur_OpenFormatted(cur);
  if (rc != 0) return rc;
  MYSQL_ROW row = nullptr;
  while ((rc = Cur_Read(cur, row)) == 0) {
    HerSatz h{};
    h.id = row[0] != nullptr ? std::strtoll(row[0], nullptr, 10) : 0;
    h.run = row[1] != nullptr ? std::strtoll(row[1], nullptr, 10) : 0;
    Col_Text(h.pnr, row[2]);
    Col_Text(h.day, row[3]);
    Col_Long(h.fkt, row[4]);
    Col_Text(h.fcd, row[5]);
    Col_Long(h.inserted, row[6]);
    Col_Text(h.last, row[7]);
    Col_Long(h.cancelled, row[8]);
    Col_Text(h.cancel.BchUhr, row[9]);
    Col_Long(h.cancel.BchFkt, row[10]);
    Col_Long(h.deleted, row[11]);
    ReadSlots(h.before, row, 12);
    ReadSlots(h.after, row, 18);
    rows.push_back(h);
  }
  (void)Cur_Close(cur);
  return rc == END_OF_DATA ? 0 : rc;
}

int Her_DaySlots(const char* pnr, const char* day, HerSlots& slots) {
  slots = HerSlots{};
  Sql_Format(kHerDaySlots, SqlValue<9>(pnr).c_str(), SqlValue<9>(day).c_str());
  return Db_ReadRow([&](MYSQL_ROW row) { ReadSlots(slots, row, 0); });
}

int Her_Holds(const HerSatz& h, int& holds) {
  std::int32_t count = 0;
  Sql_Format(kHerHolds, SqlValue(h.pnr).c_str(), SqlValue(h.day).c_str(), SqlValue(h.day).c_str(),
             L(h.fkt), SqlValue(h.fcd).c_str());
  int rc = Db_ReadRow([&](MYSQL_ROW row) { Col_Long(count, row[0]); });
  holds = count > 0 ? 1 : 0;
  return rc;
}

int Her_TakeBack(const HerSatz& h, int& restored) {
  restored = 1;
  int rc = 0;
  if (h.inserted != 0) {
    Sql_Format(kHerUnbook, SqlValue(h.pnr).c_str(), SqlValue(h.day).c_str(),
               SqlValue(h.day).c_str(), L(h.fkt), SqlValue(h.fcd).c_str());
    rc = Db_Exec();
    if (rc != 0) return rc;
  }
  if (h.cancelled != 0) {
    Sql_Format(kHerUncancel, static_cast<long long>(h.id), SqlValue(h.pnr).c_str(),
               SqlValue(h.day).c_str());
    rc = Db_Change();
    if (rc == DB_NO_ROW_CHANGED) restored = 0;
    else if (rc != 0) return rc;
  }
  if (h.deleted != 0) {
    Sql_Format(kHerUndelete, static_cast<long long>(h.id));
    rc = Db_Exec();
  }
  return rc;
}

int Her_PutSlots(const char* pnr, const char* day, const HerSlots& s) {
  Sql_Format(kHerPutSlots, SqlValue(s.tgb).c_str(), L(s.tgs), SqlValue(s.htv).c_str(), L(s.hvs),
             SqlValue(s.htn).c_str(), L(s.hns), SqlValue<9>(pnr).c_str(), SqlValue<9>(day).c_str());
  return Db_Exec();
}

int Her_Forget(const char* pnr, const char* day) {
  Sql_Format(kHerForget, SqlValue<9>(pnr).c_str(), SqlValue<9>(day).c_str());
  return Db_Aside();
}

int Her_Purge() {
  Sql_Format(kHerPurge);
  return Db_Aside();
}

int Her_CountBooked(const TagSatz& tag, const char* code, std::int32_t& count) {
  Sql_Format(kHerCount, SqlValue(tag.TagPnr).c_str(), SqlValue(tag.TagTag).c_str(),
             SqlValue<6>(code).c_str());
  return Db_ReadRow([&](MYSQL_ROW row) { Col_Long(count, row[0]); });
}
