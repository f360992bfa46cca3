-- Benchmark data for one night of pirzol: P persons, each with a placeholder
-- day yesterday and H days of history before it. Run in an empty database
-- that holds sql/schema.sql, after setting @P, @H and @seed:
--
--   { echo "SET @P=1000, @H=400, @seed=1;"; cat bench/gen.sql; } | mariadb DB
--
-- Every choice is a CRC32 of the seed and the person (and day), never RAND(),
-- so one seed always gives the same rows. Dates count back from the server's
-- CURDATE(); "weekends" are fixed by the day's distance from yesterday, not by
-- the calendar, so the rows do not depend on the weekday the run falls on.
-- Rows go in by INSERT ... SELECT over the server's sequence tables, a few
-- hundred thousand per statement, one commit per chunk of persons.

DROP TABLE IF EXISTS bench_param, bench_person;
DROP VIEW IF EXISTS bench_day;

CREATE TABLE bench_param (P INT NOT NULL, H INT NOT NULL, seed INT NOT NULL, y DATE NOT NULL)
  ENGINE=InnoDB;
INSERT INTO bench_param VALUES (@P, @H, @seed, CURDATE() - INTERVAL 1 DAY);

-- Message types. Priority (smaller ranks higher), tie rule and follow-up as
-- the demo has them, plus whole-day leave, an errand hour message and a
-- tail of types no follow-up ever meets, so the table has a real size.
INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu, FcdFcd, FcdFlg, FcdSta) VALUES
 ('K',   1,  1,   0, 0, 5, 0, NULL, 'KF',  0),  -- sickness
 ('KF',  1,  1,   0, 0, 5, 1, NULL, 'KF',  0),  --   its follow-up day, followed by itself
 ('KS',  1,  1,   0, 0, 5, 0, NULL, 'KSF', 0),  -- sickness in shift work
 ('KSF', 1,  1,   0, 1, 5, 1, NULL, 'KSF', 0),  --   only on days with a target time
 ('U',   1, 15,   0, 0, 6, 0, NULL, 'UF',  0),  -- whole-day leave
 ('UF',  1, 15,   0, 0, 6, 1, NULL, 'UF',  0),
 ('UH',  2,  1,   0, 0, 6, 0, NULL, 'UHF', 0),  -- leave, morning half
 ('UHF', 2,  1,   0, 0, 6, 1, NULL, 'UHF', 0),
 ('DR',  1,  0,   0, 0, 7, 0, NULL, 'DRF', 0),  -- business trip, booked by the hour
 ('DRF', 3, 14, 120, 0, 7, 1, NULL, NULL,  0),
 ('BG',  0,  0,   0, 0, 8, 0, NULL, NULL,  0),  -- errand, an hour message without follow-up
 ('GL',  1,  0,   0, 0, 9, 0, NULL, NULL,  0),  -- flexitime day: weaker than sickness
 ('SU',  1,  0,   0, 0, 1, 0, NULL, NULL,  0),  -- special leave: stronger than sickness
 ('F',   1,  0,   0, 0, 2, 0, NULL, NULL,  0);  -- public holiday: ends the search
INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu, FcdFcd, FcdFlg, FcdSta)
SELECT CONCAT('X', LPAD(seq, 2, '0')), 1 + seq % 3, seq % 19, 60 * (seq % 8), seq % 2,
       1 + seq % 9, seq % 3, IF(seq % 7 = 0, 24, NULL), NULL, IF(seq % 5 = 0, 4, 0)
  FROM seq_1_to_60;

-- Working-time rules; full time changed its values at the start of 2020 and
-- one retired rule is inactive.
INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso, AzvHs2, AzvHtv, AzvSta) VALUES
 ('VZ40',  '2000-01-01', '2019-12-31', 492, 246, 30, 462, 231, 15, 0),
 ('VZ40',  '2020-01-01', NULL,         480, 240, 30, 450, 225, 15, 0),
 ('TZ20',  '2000-01-01', NULL,         240, 120, 15, 225, 112,  8, 0),
 ('SCH38', '2000-01-01', NULL,         456, 228, 30, 426, 213, 15, 0),
 ('ALT42', '2000-01-01', NULL,         504, 252, 30, 474, 237, 15, 4);

-- One row per person: what the night finds for it.
--   kind S sickness continuing (55 %), L whole-day leave continuing (20 %),
--   H half-day leave (8 %), R hour message on the last day (7 %),
--   N worked on the last day, nothing to carry (5 %), F public holiday (5 %).
--   streak: days of the running sickness or leave, 1 to 10.
--   acc: a day message already booked yesterday, for the priority check:
--   G weaker (cancelled), U stronger (stops the follow-up), X weaker with an
--   earlier cancelled twin (the duplicate-key path), '' none.
CREATE TABLE bench_person (
  p INT NOT NULL PRIMARY KEY,
  pnr VARCHAR(8) NOT NULL,
  kind CHAR(1) NOT NULL,
  streak INT NOT NULL,
  c1 VARCHAR(3) NOT NULL,
  c2 VARCHAR(3) NOT NULL,
  acc CHAR(1) NOT NULL,
  offshift INT NOT NULL,
  rule VARCHAR(15) NOT NULL
) ENGINE=InnoDB;

INSERT INTO bench_person
SELECT p, pnr, kind, streak,
       CASE WHEN kind = 'S' AND shift THEN 'KS' WHEN kind = 'S' THEN 'K' WHEN kind = 'L' THEN 'U' ELSE '' END,
       CASE WHEN kind = 'S' AND shift THEN 'KSF' WHEN kind = 'S' THEN 'KF' WHEN kind = 'L' THEN 'UF' ELSE '' END,
       CASE WHEN kind NOT IN ('S', 'L') THEN '' WHEN a < 8 THEN 'G' WHEN a < 12 THEN 'U'
            WHEN a < 13 THEN 'X' ELSE '' END,
       IF(kind = 'S' AND shift AND a % 2 = 0, 1, 0),
       CASE WHEN r < 7 THEN 'VZ40' WHEN r < 9 THEN 'TZ20' ELSE 'SCH38' END
  FROM (SELECT seq AS p, LPAD(seq, 8, '0') AS pnr,
               CASE WHEN k < 55 THEN 'S' WHEN k < 75 THEN 'L' WHEN k < 83 THEN 'H'
                    WHEN k < 90 THEN 'R' WHEN k < 95 THEN 'N' ELSE 'F' END AS kind,
               1 + CRC32(CONCAT(prm.seed, '|s|', seq)) % 10 AS streak,
               k % 5 = 0 AS shift,
               CRC32(CONCAT(prm.seed, '|a|', seq)) % 100 AS a,
               CRC32(CONCAT(prm.seed, '|r|', seq)) % 10 AS r
          FROM (SELECT seq, CRC32(CONCAT((SELECT seed FROM bench_param), '|k|', seq)) % 100 AS k
                  FROM seq_1_to_10000000 WHERE seq <= @P) s, bench_param prm) x;

-- Every (person, day) with the day's class:
--   P placeholder (yesterday), S first day and C later day of the running
--   sickness or leave, H half-day leave, R hour message, F public holiday,
--   W weekend, K an old sickness day, E a workday with an errand, N a workday.
CREATE VIEW bench_day AS
SELECT bp.p, bp.pnr, bp.kind, bp.c1, bp.c2, bp.acc, bp.offshift, bp.rule, s.seq AS d,
       prm.y - INTERVAL s.seq DAY AS day,
       s.seq % 7 IN (3, 4) AS wk,
       CASE WHEN s.seq = 0 THEN 'P'
            WHEN bp.kind IN ('S', 'L') AND s.seq <= bp.streak THEN IF(s.seq = bp.streak, 'S', 'C')
            WHEN s.seq = 1 AND bp.kind IN ('H', 'R', 'F') THEN bp.kind
            WHEN s.seq % 7 IN (3, 4) THEN 'W'
            WHEN CRC32(CONCAT(prm.seed, '|h|', bp.p, '|', s.seq)) % 40 = 0 THEN 'K'
            WHEN CRC32(CONCAT(prm.seed, '|e|', bp.p, '|', s.seq)) % 10 = 0 THEN 'E'
            ELSE 'N' END AS cls,
       CRC32(CONCAT(prm.seed, '|j|', bp.p, '|', s.seq)) % 10 AS j
  FROM bench_person bp JOIN bench_param prm JOIN seq_0_to_99999 s ON s.seq <= prm.H;

DELIMITER //
CREATE PROCEDURE bench_fill()
BEGIN
  DECLARE np INT DEFAULT (SELECT P FROM bench_param);
  DECLARE step INT DEFAULT GREATEST(1, 200000 DIV ((SELECT H FROM bench_param) + 1));
  DECLARE lo INT DEFAULT 1;
  WHILE lo <= np DO
    INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd,
                           TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns)
    SELECT pnr, day, day,
           TIMESTAMP(day, IF(cls = 'P', '12:00:00', '07:00:00')), day,
           TIMESTAMP(day, IF(cls = 'P', '12:00:00', '15:30:00')),
           CASE cls WHEN 'S' THEN c1 WHEN 'C' THEN c2 WHEN 'K' THEN 'K' WHEN 'F' THEN 'F' ELSE '' END,
           IF(cls IN ('S', 'C', 'K', 'F'), 480, 0),
           IF(cls = 'H', 'UH', ''), IF(cls = 'H', 240, 0), '', 0
      FROM bench_day WHERE p BETWEEN lo AND lo + step - 1;

    INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol)
    SELECT pnr, day, 1, IF(wk OR (cls = 'P' AND offshift = 1), 0, 480)
      FROM bench_day WHERE p BETWEEN lo AND lo + step - 1;

    -- One a day: the system writes each day's time model for the day.
    INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta)
    SELECT pnr, day, rule, 0 FROM bench_day WHERE p BETWEEN lo AND lo + step - 1;

    -- Up to three bookings a day; n numbers them within the day.
    INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchErf, BchTrm)
    SELECT pnr, day, TIMESTAMP(day, tm), fkt, fcd, 'Terminal', CONCAT('T0', 1 + j % 4)
      FROM (SELECT pnr, day, j,
                   CASE WHEN cls IN ('N', 'E') AND n.seq < 3 THEN 0
                        WHEN cls = 'E' THEN 21
                        WHEN cls IN ('S', 'C', 'K', 'F') AND n.seq = 1 THEN 1
                        WHEN cls = 'H' THEN IF(n.seq = 1, 2, 0)
                        WHEN cls = 'R' AND n.seq < 3 THEN IF(n.seq = 1, 0, 24)
                        WHEN cls = 'P' AND acc <> '' AND n.seq = 1 THEN 1
                        WHEN cls = 'P' AND acc = 'X' AND n.seq = 2 THEN 45
                        ELSE NULL END AS fkt,
                   CASE WHEN cls IN ('N', 'E', 'R') AND n.seq = 1 THEN MAKETIME(7, j, 0)
                        WHEN cls IN ('N', 'E') AND n.seq = 2 THEN MAKETIME(15, 20 + j, 0)
                        WHEN cls = 'E' THEN '11:00:00'
                        WHEN cls = 'R' THEN '10:00:00'
                        WHEN cls = 'H' AND n.seq = 2 THEN '12:30:00'
                        WHEN cls = 'H' AND n.seq = 3 THEN MAKETIME(15, 20 + j, 0)
                        ELSE '00:00:00' END AS tm,
                   CASE WHEN cls = 'S' THEN c1 WHEN cls = 'C' THEN c2 WHEN cls = 'K' THEN 'K'
                        WHEN cls = 'F' THEN 'F' WHEN cls = 'E' THEN 'BG'
                        WHEN cls = 'H' AND n.seq = 1 THEN 'UH' WHEN cls = 'R' AND n.seq = 2 THEN 'DR'
                        WHEN cls = 'P' THEN IF(acc = 'U', 'SU', 'GL')
                        ELSE NULL END AS fcd
              FROM bench_day JOIN seq_1_to_3 n
             WHERE p BETWEEN lo AND lo + step - 1) b
     WHERE fkt IS NOT NULL;
    COMMIT;
    SET lo = lo + step;
  END WHILE;
END //
DELIMITER ;

CALL bench_fill();
DROP PROCEDURE bench_fill;
DROP VIEW bench_day;
DROP TABLE bench_person, bench_param;
-- Fresh statistics, as a nightly maintenance job would leave them.
ANALYZE TABLE Qel327Tag, Qel320Tgb, Qel321Bch, Qel329Ztg, Qel131Fcd, Qel140Azv;
