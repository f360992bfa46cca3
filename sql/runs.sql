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
-- failed) holds its person back: that person's later days are recorded
-- 'held' and wait until it is done.
CREATE TABLE IF NOT EXISTS Qel951Lat (
  LatTag DATE         NOT NULL,
  LatPnr VARCHAR(8)   NOT NULL,
  LatLau BIGINT       NOT NULL,
  LatErg VARCHAR(10)  NOT NULL,                     -- changed, nothing, open, failed, held
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
