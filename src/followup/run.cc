#include "followup/run.h"

#include <cstdio>

#include "db/db.h"
#include "followup/hourmsg.h"
#include "followup/prevday.h"
#include "followup/search.h"
#include "run/counts.h"
#include "run/log.h"
#include "run/runflags.h"

namespace {

constexpr char kParamFile[] = "pirzoltgb";

constexpr char kTxtFopenTgb[] = "Fehler: fopen(pirzoltgb)!\n";
constexpr char kTxtCurOpenTag[] = "Fehler(Cur_open): Tagsatz(+TgbSol) lesen! ";
constexpr char kTxtCurReadTag[] = "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! ";
constexpr char kValRc[] = "RC:%d\n";
constexpr char kTxtPnrLang[] = "Fehler(TagAkt_Read): Personalnummer zu lang! ";
constexpr char kValPnrTag[] = "Pnr:%s Tag:%s\n";

constexpr char kTrcLesen[] = "\nLesen TagSatz!\n";
constexpr char kTrcAktuell[] = "aktueller Tagsatz!!!\n";
constexpr char kTrcLetzter[] = "letzter Tagsatz!!!\n";
constexpr char kTrcGefunden[] = "Tag mit letzter Meldung gefungen! Pnr: %s Datum: %s!\n";
constexpr char kTrcBeginn[] = "\nBeginn Meldungsverarbeitung!\n";
constexpr char kTrcEnde[] = "\nEnde Meldungsverarbeitung!\n";
constexpr char kTrcParam[] = "Parametersatz in Datei schreiben: %s!\n";

constexpr char kTagPrint[] =
    "\nTagPnr: %s\nTagTag: %s\nTagVon: %s\nTagUhr: %s\nTagBis: %s\nTagEnd: %s\nTagSol: %ld\n"
    "TagTgb: %s\nTagTgs: %ld\nTagHtv: %s\nTagHvs: %ld\nTagHtn: %s\nTagHns: %ld\n\n";

void PrintPair(const TagSatz& tag, const TagSatz& last) {
  Trace(kTrcAktuell);
  Tag_Print(tag);
  Trace(kTrcLetzter);
  Tag_Print(last);
}

}  // namespace

void Tag_Print(const TagSatz& tag) {
  Trace(kTagPrint, tag.TagPnr.c_str(), tag.TagTag.c_str(), tag.TagVon.c_str(),
        tag.TagUhr.c_str(), tag.TagBis.c_str(), tag.TagEnd.c_str(),
        static_cast<long>(tag.TgbSol), tag.TagTgb.c_str(), static_cast<long>(tag.TagTgs),
        tag.TagHtv.c_str(), static_cast<long>(tag.TagHvs), tag.TagHtn.c_str(),
        static_cast<long>(tag.TagHns));
}

void Param_Line(const TagSatz& tag, const char* database, char* line, std::size_t size) {
  // TagTag is YYYYMMDD; the next step reads the day as DD.MM.YYYY.
  const char* d = tag.TagTag.c_str();
  char date[11] = {};
  std::snprintf(date, sizeof date, "%.2s.%.2s.%.4s", tag.TagTag.size() >= 8 ? d + 6 : "",
                tag.TagTag.size() >= 6 ? d + 4 : "", d);
  if (KonsolMode != 0) {
    std::snprintf(line, size, "%-20s,%-8s,%-10s\n", database, tag.TagPnr.c_str(), date);
  } else {
    std::snprintf(line, size, "%-8s,%-10s\n", tag.TagPnr.c_str(), date);
  }
}

int Mld_Run(const char* database) {
  int complete = 1;
  std::FILE* param = std::fopen(kParamFile, "w");
  if (param == nullptr) {
    Log_Line(kTxtFopenTgb);
    std::fprintf(stderr, "pirzol: cannot create the parameter file %s; its lines are lost\n",
                 kParamFile);
    complete = 0;
  }

  TagSatz tag{};
  int rc = TagAkt_Open();
  const bool opened = rc == 0;
  if (!opened) {
    Log_Entry(kTxtCurOpenTag, kValRc, rc);
    std::fprintf(stderr, "pirzol: reading yesterday's day records failed (%d): %s\n", rc,
                 Db_ErrText());
    complete = 0;
  }

  rc = TagAkt_Read(tag);
  while (rc == 0 || rc == TAG_PNR_TOO_LONG) {
    if (rc == TAG_PNR_TOO_LONG) {
      // The cut number may be somebody else's: booking for it would credit
      // the wrong person, so the day waits for its data to be mended.
      Log_Entry(kTxtPnrLang, kValPnrTag, tag.TagPnr.c_str(), tag.TagTag.c_str());
      std::fprintf(stderr, "pirzol: a personnel number starting %s on %s is longer than 8 "
                   "characters; that day was not handled\n", tag.TagPnr.c_str(),
                   tag.TagTag.c_str());
      complete = 0;
      tag = TagSatz{};
      rc = TagAkt_Read(tag);
      continue;
    }
    ++MldCount.daysRead;
    TagSatz last{};
    Trace(kTrcLesen);
    Trace(kTrcAktuell);
    Tag_Print(tag);
    if (Mld_FindLastDay(tag.TagPnr.c_str(), tag.TagTag.c_str(), last) != 0) {
      ++MldCount.daysFound;
      Trace(kTrcGefunden, last.TagPnr.c_str(), last.TagTag.c_str());
      Trace(kTrcBeginn);
      PrintPair(tag, last);
      int prev = Mld_PrevDay(tag, last);
      int hour = Mld_HourMsg(tag, last);
      Trace(kTrcEnde);
      PrintPair(tag, last);
      if (prev != 0 || hour != 0) {
        char line[100] = {};
        Param_Line(tag, database, line, sizeof line);
        Trace(kTrcParam, line);
        if (param != nullptr && std::fputs(line, param) < 0) complete = 0;
      }
    }
    tag = TagSatz{};
    rc = TagAkt_Read(tag);
  }
  if (rc != END_OF_DATA) {
    Log_Entry(kTxtCurReadTag, kValRc, rc);
    // After a failed open the read can only answer -1; that was told above.
    if (opened) {
      std::fprintf(stderr,
                   "pirzol: reading the day records stopped (%d) after %d days; the rest were "
                   "not handled\n",
                   rc, static_cast<int>(MldCount.daysRead));
    }
    complete = 0;
  }
  (void)TagAkt_Close();  // answers -1 after a failed open; nothing was held
  if (param != nullptr && std::fclose(param) != 0) {
    std::fprintf(stderr, "pirzol: writing the parameter file %s failed\n", kParamFile);
    complete = 0;
  }
  return complete != 0 ? 0 : -1;
}
