-- pirzol tables. Dates are DATE; times are DATETIME and are always read back
-- through DATE_FORMAT. The server must compare table names without regard to
-- case (lower_case_table_names = 1): the statements spell tables two ways.

-- Day records: one per person and day, with the period and three message slots.
CREATE TABLE Qel327Tag (
  TagPnr VARCHAR(8)  NOT NULL,
  TagTag DATE        NOT NULL,
  TagVon DATE        NULL,
  TagUhr DATETIME    NULL,
  TagBis DATE        NULL,
  TagEnd DATETIME    NULL,
  TagTgb VARCHAR(3)  NULL,
  TagTgs INT         NULL,
  TagHtv VARCHAR(3)  NULL,
  TagHvs INT         NULL,
  TagHtn VARCHAR(3)  NULL,
  TagHns INT         NULL,
  PRIMARY KEY (TagPnr, TagTag),
  KEY TagTagIdx (TagTag)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Day targets: a day takes part only with a row of TgbZtr 1.
CREATE TABLE Qel320Tgb (
  TgbPnr VARCHAR(8)  NOT NULL,
  TgbDtm DATE        NOT NULL,
  TgbZtr INT         NOT NULL DEFAULT 1,
  TgbSol INT         NULL,
  PRIMARY KEY (TgbPnr, TgbDtm, TgbZtr)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Bookings. The key on person, date, time and function makes a cancellation
-- that would duplicate an earlier cancelled booking fail with 1062.
-- BchFktIdx: the day-message reads, the counts and the cancellation name the
-- person and the function but compare the date only through DATE_FORMAT,
-- which no index serves; led by person and function they read only the
-- person's bookings of those functions (from the index alone for the counts)
-- instead of all the person's bookings of every year.
CREATE TABLE Qel321Bch (
  BchPnr VARCHAR(8)   NOT NULL,
  BchVon DATE         NOT NULL,
  BchUhr DATETIME     NOT NULL,
  BchFkt INT          NOT NULL,
  BchBis DATE         NULL DEFAULT NULL,
  BchVws DATETIME     NULL DEFAULT NULL,
  BchFcd VARCHAR(3)   NULL DEFAULT NULL,
  BchZwt INT          NULL DEFAULT 0,
  BchAbt VARCHAR(15)  NULL DEFAULT '',
  BchKst VARCHAR(30)  NULL DEFAULT '',
  BchKtr VARCHAR(6)   NULL DEFAULT '',
  BchKrt VARCHAR(4)   NULL DEFAULT '',
  BchAzt VARCHAR(5)   NULL DEFAULT '',
  BchVra VARCHAR(14)  NULL DEFAULT '',
  BchTxt VARCHAR(60)  NULL DEFAULT '',
  BchSta INT          NULL DEFAULT 0,
  BchErf VARCHAR(20)  NULL DEFAULT NULL,
  BchTrm VARCHAR(20)  NULL DEFAULT '',
  BchDat DATETIME     NULL DEFAULT CURRENT_TIMESTAMP,
  PRIMARY KEY (BchPnr, BchVon, BchUhr, BchFkt),
  KEY BchFktIdx (BchPnr, BchFkt, BchVon, BchUhr)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Message types. FcdFlg names the type that follows this one.
CREATE TABLE Qel131Fcd (
  FcdNum VARCHAR(3)  NOT NULL,
  FcdTyp INT         NULL,
  FcdZwt INT         NULL,
  FcdStd INT         NULL,
  FcdSol INT         NULL,
  FcdPri INT         NULL,
  FcdGpu INT         NULL,
  FcdFcd INT         NULL,
  FcdFlg VARCHAR(3)  NULL,
  FcdSta INT         NOT NULL DEFAULT 0,
  PRIMARY KEY (FcdNum)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Time-model assignments of persons to working-time rules.
-- ZtgAztIdx: the rule lookup compares the start date through DATE_FORMAT;
-- with the rule number second it reads, from the index alone, only the
-- person's assignments to each rule the join offers, not every day of the
-- person once per rule.
CREATE TABLE Qel329Ztg (
  ZtgPnr VARCHAR(8)   NOT NULL,
  ZtgVon DATE         NOT NULL,
  ZtgAzt VARCHAR(15)  NOT NULL,
  ZtgSta INT          NOT NULL DEFAULT 0,
  PRIMARY KEY (ZtgPnr, ZtgVon),
  KEY ZtgAztIdx (ZtgPnr, ZtgAzt, ZtgVon, ZtgSta)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Working-time rules with their validity.
CREATE TABLE Qel140Azv (
  AzvNum VARCHAR(15)  NOT NULL,
  AzvGvo DATE         NOT NULL,
  AzvGbi DATE         NULL,
  AzvSol INT          NULL,
  AzvSo2 INT          NULL,
  AzvVhs INT          NULL,
  AzvHso INT          NULL,
  AzvHs2 INT          NULL,
  AzvHtv INT          NULL,
  AzvSta INT          NOT NULL DEFAULT 0,
  PRIMARY KEY (AzvNum, AzvGvo)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- The batch's run record (also in runs.sql, for installations that add it later).
-- One row per run (a dry run leaves none).
CREATE TABLE IF NOT EXISTS Qel950Lau (
  LauId  BIGINT       NOT NULL AUTO_INCREMENT,
  LauVon DATE         NULL,                         -- first accounted date, NULL when none was due
  LauBis DATE         NULL,                         -- last accounted date
  LauFer DATE         NULL,                         -- newest date whose night this run walked to its end
  LauBeg DATETIME     NOT NULL,
  LauEnd DATETIME     NULL,
  LauHst VARCHAR(64)  NOT NULL DEFAULT '',
  LauOpt VARCHAR(255) NOT NULL DEFAULT '',
  LauSta VARCHAR(10)  NOT NULL DEFAULT 'running',   -- running, complete (ended 0), incomplete, crashed
  LauTge INT          NULL,                         -- placeholder days read
  LauGef INT          NULL,                         -- last message days found
  LauGen INT          NULL,                         -- follow-ups generated
  LauSto INT          NULL,                         -- bookings cancelled
  LauFeh INT          NULL,                         -- failures
  LauCom INT          NULL,                         -- commits
  LauWdh INT          NULL,                         -- units of work redone
  LauAuf INT          NULL,                         -- units of work given up
  LauExt INT          NULL,                         -- exit status
  PRIMARY KEY (LauId),
  KEY LauFerIdx (LauFer)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- One row per accounted day a run handled. A day is handled again only while
-- it has no row with outcome 'changed' or 'nothing'. A day not done (open,
-- failed, withdrawn by a correction) holds its person back: that person's
-- later days are recorded 'held' and wait until it is done.
CREATE TABLE IF NOT EXISTS Qel951Lat (
  LatTag DATE         NOT NULL,
  LatPnr VARCHAR(8)   NOT NULL,
  LatLau BIGINT       NOT NULL,
  LatErg VARCHAR(10)  NOT NULL,                     -- changed, nothing, open, failed, held, withdrawn
  LatPar TINYINT      NOT NULL DEFAULT 0,           -- 1: a parameter line was written
  PRIMARY KEY (LatTag, LatPnr, LatLau)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- One row: the run that holds the database. A cluster's nodes each grant
-- their own named lock, so on a cluster a run also takes this lease; the
-- certification lets one of two takers commit. A lease whose heartbeat is
-- older than ten minutes belongs to a dead run and is taken over.
CREATE TABLE IF NOT EXISTS Qel952Lea (
  LeaKey VARCHAR(8)   NOT NULL,                     -- always 'run'
  LeaTok VARCHAR(96)  NULL,                         -- the holder, NULL when free
  LeaHst VARCHAR(64)  NOT NULL DEFAULT '',
  LeaBeg DATETIME(6)  NULL,
  LeaHbt DATETIME(6)  NULL,                         -- renewed while the holder works
  PRIMARY KEY (LeaKey)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- One row per follow-up the batch booked: what it was derived from and what
-- it changed, written in the same transaction as the follow-up. A correction
-- of a message takes back exactly the follow-ups that depended on it by
-- these images, and only where the rows still hold what the batch wrote.
-- Without this table the batch runs as before but cannot follow corrections.
CREATE TABLE IF NOT EXISTS Qel953Her (
  HerId  BIGINT       NOT NULL AUTO_INCREMENT,
  HerLau BIGINT       NOT NULL DEFAULT 0,           -- the run that booked it
  HerZeit DATETIME    NOT NULL,                     -- when it was booked
  HerPnr VARCHAR(8)   NOT NULL,
  HerTag DATE         NOT NULL,                     -- the follow-up's day, booked at 00:00:00
  HerFkt INT          NOT NULL,                     -- its function
  HerFcd VARCHAR(3)   NOT NULL,                     -- its code
  HerIns TINYINT      NOT NULL,                     -- 1: the batch inserted the booking
  HerQtg DATE         NOT NULL,                     -- the last message day it was carried from
  HerQvo DATE         NULL,                         -- the source booking as read: date,
  HerQuh TIME         NULL,                         --   time of day,
  HerQfk INT          NULL,                         --   function
  HerQfc VARCHAR(3)   NULL,                         --   and code
  HerSuh TIME         NULL,                         -- the booking it cancelled (NULL: none): time,
  HerSfk INT          NULL,                         --   function, entry time and author before
  HerSdt DATETIME     NULL,
  HerSer VARCHAR(20)  NULL,
  HerDel TEXT         NULL,                         -- cancelled rows it deleted, whole, as JSON
  HerTgb0 VARCHAR(3)  NULL, HerTgs0 INT NULL,       -- the day record's slots before
  HerHtv0 VARCHAR(3)  NULL, HerHvs0 INT NULL,
  HerHtn0 VARCHAR(3)  NULL, HerHns0 INT NULL,
  HerTgb1 VARCHAR(3)  NULL, HerTgs1 INT NULL,       -- and after
  HerHtv1 VARCHAR(3)  NULL, HerHvs1 INT NULL,
  HerHtn1 VARCHAR(3)  NULL, HerHns1 INT NULL,
  PRIMARY KEY (HerId),
  KEY HerTagIdx (HerTag),
  KEY HerPnrIdx (HerPnr, HerTag)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
