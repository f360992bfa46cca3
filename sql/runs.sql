-- The batch's run record: which nights ran, and which accounted days each
-- handled. A plain run catches up every night after the newest complete one,
-- and a day recorded as handled is not handled twice. An installation that
-- has the other tables applies this file on its own:
--   mariadb DATABASE < runs.sql
-- Without these tables the batch handles yesterday alone, as it always did.

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
