# Sums the server's slow query log (long_query_time 0) per statement of the
# batch: how often it ran, the server time it took in all and on average, and
# the rows it examined. The statements are told apart by their text; the
# two day-message reads differ only in a final blank, which the log drops,
# so they are summed as one.
#   awk -f bench/slowlog.awk slow.log
function label(q) {
  # Spacing is left open, so a statement set out anew keeps its label; the two
  # day reads differ in the column their WHERE begins with.
  if (q ~ /FROM +Qel327Tag *, *Qel320Tgb +WHERE +TagTag/) return "TagAkt";
  if (q ~ /FROM +Qel327Tag *, *Qel320Tgb +WHERE +TagPnr/) return "TagAlt";
  if (q ~ /Qel95[0-9]|information_schema/) return "Lau+Lat";
  if (q ~ /^UPDATE QEL327Tag/) return "Tag_Update";
  if (q ~ /FROM Qel321Bch, Qel327Tag/) return "BchStdMld";
  if (q ~ /FROM Qel321Bch WHERE .*BchFkt = 3\)/) return "BchVortag+AbrTag";
  if (q ~ /^UPDATE QEL321Bch/) return "Bch_Update";
  if (q ~ /^DELETE FROM QEL321Bch/) return "Bch_Delete";
  if (q ~ /^INSERT INTO Qel321Bch/) return "Bch_Insert";
  if (q ~ /COUNT\(\*\).*CONCAT/) return "Bch_CountStdMld";
  if (q ~ /COUNT\(\*\)/) return "Bch_CountTagMld";
  if (q ~ /^SELECT FcdFlg/) return "Fcd_ReadFlg";
  if (q ~ /FcdNum, FcdTyp/) return "Fcd_Read";
  if (q ~ /Qel329Ztg/) return "Azv_Read";
  if (q ~ /^COMMIT/) return "Db_Commit";
  return "other";
}
/^# Query_time:/ { qt = $3; ex = $NF; want = 1; next }
/^#/ || /^use / || /^SET timestamp=/ { next }
want {
  l = label($0);
  n[l]++; t[l] += qt; r[l] += ex; total += qt; want = 0
}
END {
  printf "%-17s %8s %10s %9s %12s %6s\n", "statement", "count", "server_s", "avg_us",
         "rows_exam", "share";
  for (l in n)
    printf "%-17s %8d %10.3f %9.1f %12d %5.1f%%\n", l, n[l], t[l], 1e6 * t[l] / n[l], r[l],
           (total > 0 ? 100 * t[l] / total : 0) | "sort -k3 -nr";
  close("sort -k3 -nr");
  printf "%-17s %8s %10.3f\n", "all", "", total;
}
