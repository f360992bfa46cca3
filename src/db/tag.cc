#include "db/tag.h"

#include <cstdio>

#include "db/db.h"

namespace {

// The accounted date, or yesterday as a date: CURDATE() - 1 would be number
// arithmetic on the YYYYMMDD form and name day 00 on the first of every month.
constexpr char kTagAkt[] =
    "SELECT       TagPnr, DATE_FORMAT(TagTag,'%%Y%%m%%d'),       "
    "DATE_FORMAT(TagVon,'%%Y%%m%%d'),       DATE_FORMAT(TagUhr, '%%H%%i%%s'),       "
    "DATE_FORMAT(TagBis,'%%Y%%m%%d'),       DATE_FORMAT(TagEnd, '%%H%%i%%s'), TgbSol, "
    "TagTgb, TagTgs,       TagHtv, TagHvs, TagHtn, TagHns FROM  Qel327Tag, Qel320Tgb WHERE "
    "TagTag = %s AND   DATE_FORMAT(TagVon, "
    "'%%Y%%m%%d')=DATE_FORMAT(TagBis, '%%Y%%m%%d') AND   DATE_FORMAT(TagUhr, "
    "'%%H%%i%%s')=DATE_FORMAT(TagEnd, '%%H%%i%%s') AND   DATE_FORMAT(TagUhr, '%%H%%i%%s') = "
    "'120000' AND   TgbPnr = TagPnr AND   TgbDtm = TagTag AND   TgbZtr = 1 ";

constexpr char kTagAlt[] =
    "SELECT    TagPnr, DATE_FORMAT(TagTag,'%%Y%%m%%d'),    DATE_FORMAT(TagVon,'%%Y%%m%%d'),  "
    "  DATE_FORMAT(TagUhr, '%%H%%i%%s'),    DATE_FORMAT(TagBis,'%%Y%%m%%d'),    "
    "DATE_FORMAT(TagEnd, '%%H%%i%%s'), TgbSol, TagTgb, TagTgs,    TagHtv, TagHvs, TagHtn, "
    "TagHns FROM Qel327Tag, Qel320Tgb WHERE TagPnr = '%s' AND DATE_FORMAT(TagTag, "
    "'%%Y%%m%%d')  < '%s' AND TgbPnr = TagPnr AND TgbDtm = TagTag AND TgbZtr = 1 ORDER BY "
    "TagTag DESC ";

constexpr char kTagUpdate[] =
    "UPDATE QEL327Tag    SET TagTgb = '%s', TagTgs = %ld,        TagHtv = '%s', TagHvs = "
    "%ld,        TagHtn = '%s', TagHns = %ld  WHERE TagPnr = '%s'  AND   DATE_FORMAT(TagTag, "
    "'%%Y%%m%%d') = '%s' ";

Cursor TagAkt{nullptr, nullptr, 0};
Cursor TagAlt{nullptr, nullptr, 0};

int ReadInto(Cursor& cur, TagSatz& tag) {
  MYSQL_ROW row = nullptr;
  int rc = Cur_Read(cur, row);
  if (rc != 0) return rc;
  Col_Text(tag.TagPnr, row[0]);
  Col_Text(tag.TagTag, row[1]);
  Col_Text(tag.TagVon, row[2]);
  Col_Text(tag.TagUhr, row[3]);
  Col_Text(tag.TagBis, row[4]);
  Col_Text(tag.TagEnd, row[5]);
  Col_Long(tag.TgbSol, row[6]);
  Col_Text(tag.TagTgb, row[7]);
  Col_Long(tag.TagTgs, row[8]);
  Col_Text(tag.TagHtv, row[9]);
  Col_Long(tag.TagHvs, row[10]);
  Col_Text(tag.TagHtn, row[11]);
  Col_Long(tag.TagHns, row[12]);
  return 0;
}

}  // namespace

int TagAkt_Open(const char* date) {
  char day[32] = "CURDATE() - INTERVAL 1 DAY";
  if (date != nullptr) std::snprintf(day, sizeof day, "'%s'", SqlValue<9>(date).c_str());
  Sql_Format(kTagAkt, day);
  TagAkt.text = SqlText;
  return Cur_Open(TagAkt);
}

int TagAkt_Read(TagSatz& tag) {
  int rc = ReadInto(TagAkt, tag);
  if (rc != 0) return rc;
  unsigned long* lengths = mysql_fetch_lengths(TagAkt.result);
  if (lengths != nullptr && lengths[0] > tag.TagPnr.capacity() - 1) return TAG_PNR_TOO_LONG;
  return 0;
}
int TagAkt_Close() { return Cur_Close(TagAkt); }

int TagAlt_Open(const char* pnr, const char* date) {
  Sql_Format(kTagAlt, SqlValue<9>(pnr).c_str(), SqlValue<9>(date).c_str());
  TagAlt.text = SqlText;
  return Cur_Open(TagAlt);
}

int TagAlt_Read(TagSatz& tag) { return ReadInto(TagAlt, tag); }
int TagAlt_Close() { return Cur_Close(TagAlt); }

int Tag_Update(const TagSatz& tag) {
  Sql_Format(kTagUpdate, SqlValue(tag.TagTgb).c_str(), static_cast<long>(tag.TagTgs),
             SqlValue(tag.TagHtv).c_str(), static_cast<long>(tag.TagHvs),
             SqlValue(tag.TagHtn).c_str(), static_cast<long>(tag.TagHns),
             SqlValue(tag.TagPnr).c_str(), SqlValue(tag.TagTag).c_str());
  Cursor cur{SqlText, nullptr, 0};
  int rc = Cur_Open(cur);
  if (rc != 0) return rc;
  (void)Cur_Close(cur);  // an UPDATE stores no result set, so this answers -1
  // The server counts changed rows only: writing the stored values again counts 0.
  return Db_AffectedRows() == 0 ? DB_NO_ROW_CHANGED : 0;
}
