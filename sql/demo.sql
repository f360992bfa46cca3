-- Demo data, dated relative to the server's today: yesterday is the accounted
-- day of every person, the day before it their last message day.
SET @y = CURDATE() - INTERVAL 1 DAY;
SET @p = CURDATE() - INTERVAL 2 DAY;
SET @q = CURDATE() - INTERVAL 3 DAY;

-- Message types: code, slot/function, value selector, fixed value, needs a
-- target time, priority, tie rule, FcdFcd, follow-up code.
INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu, FcdFcd, FcdFlg, FcdSta) VALUES
 ('K',   1,  1,   0, 0, 5, 0, NULL, 'KF',  0),  -- sickness
 ('KF',  1,  1,   0, 0, 5, 1, NULL, 'KF',  0),  -- sickness, follow-up day
 ('UH',  2,  1,   0, 0, 6, 0, NULL, 'UHF', 0),  -- leave, morning half
 ('UHF', 2,  1,   0, 0, 6, 1, NULL, 'UHF', 0),
 ('DR',  1,  0,   0, 0, 7, 0, NULL, 'DRF', 0),  -- business trip, booked by the hour
 ('DRF', 3, 14, 120, 0, 7, 1, NULL, NULL,  0),
 ('GL',  1,  0,   0, 0, 9, 0, NULL, NULL,  0),  -- flexitime day: weaker than sickness
 ('SU',  1,  0,   0, 0, 1, 0, NULL, NULL,  0),  -- special leave: stronger than sickness
 ('KS',  1,  1,   0, 0, 5, 0, NULL, 'KSF', 0),  -- sickness in shift work
 ('KSF', 1,  1,   0, 1, 5, 1, NULL, 'KSF', 0),  --   follow-up only on days with a target time
 ('F',   1,  0,   0, 0, 2, 0, NULL, NULL,  0);  -- public holiday: nothing to carry

INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso, AzvHs2, AzvHtv, AzvSta) VALUES
 ('VZ40', '2020-01-01', NULL, 480, 240, 30, 450, 225, 15, 0);

-- Persons: the case each shows.
--  10000001 sickness carried over to a whole day (slot 1, value from the rule)
--  10000002 half-day leave carried into slot 2 with the halved value (the day is
--           found by its afternoon's hour booking, function 0)
--  10000003 an hour message (function 24) carried over into slot 3
--  10000004 a weaker flexitime day on the accounted day cancelled to 45
--  10000005 a stronger special leave on the accounted day stops the follow-up
--  10000006 follow-up refused: the accounted day has no target time
--  10000007 the search gives up at a public holiday
INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns)
SELECT pnr, @y, @y, TIMESTAMP(@y, '12:00:00'), @y, TIMESTAMP(@y, '12:00:00'), '', 0, '', 0, '', 0
  FROM (SELECT '10000001' pnr UNION SELECT '10000002' UNION SELECT '10000003' UNION SELECT '10000004'
        UNION SELECT '10000005' UNION SELECT '10000006' UNION SELECT '10000007') p;
INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns) VALUES
 ('10000001', @p, @p, TIMESTAMP(@p, '07:00:00'), @p, TIMESTAMP(@p, '15:30:00'), 'K',  480, '',   0, '', 0),
 ('10000002', @p, @p, TIMESTAMP(@p, '07:00:00'), @p, TIMESTAMP(@p, '15:30:00'), 'K',  480, '',   0, '', 0),
 ('10000003', @p, @p, TIMESTAMP(@p, '07:00:00'), @p, TIMESTAMP(@p, '15:30:00'), '',     0, '',   0, '', 0),
 ('10000004', @p, @p, TIMESTAMP(@p, '07:00:00'), @p, TIMESTAMP(@p, '15:30:00'), 'K',  480, '',   0, '', 0),
 ('10000005', @p, @p, TIMESTAMP(@p, '07:00:00'), @p, TIMESTAMP(@p, '15:30:00'), 'K',  480, '',   0, '', 0),
 ('10000006', @p, @p, TIMESTAMP(@p, '07:00:00'), @p, TIMESTAMP(@p, '15:30:00'), 'KS', 480, '',   0, '', 0),
 ('10000007', @p, @p, TIMESTAMP(@p, '07:00:00'), @p, TIMESTAMP(@p, '15:30:00'), 'F',  480, '',   0, '', 0),
 ('10000007', @q, @q, TIMESTAMP(@q, '07:00:00'), @q, TIMESTAMP(@q, '15:30:00'), 'K',  480, '',   0, '', 0);
-- The leave half-day person had the morning off: slot 2 of the last day.
UPDATE Qel327Tag SET TagTgb = '', TagTgs = 0, TagHtv = 'UH', TagHvs = 240 WHERE TagPnr = '10000002' AND TagTag = @p;

INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol)
SELECT TagPnr, TagTag, 1, IF(TagPnr = '10000006' AND TagTag = @y, 0, 480) FROM Qel327Tag;

INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta)
SELECT TagPnr, @y, 'VZ40', 0 FROM Qel327Tag WHERE TagTag = @y;

INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES
 ('10000001', @p, TIMESTAMP(@p, '00:00:00'),  1, 'K'),
 ('10000002', @p, TIMESTAMP(@p, '00:00:00'),  2, 'UH'),
 ('10000002', @p, TIMESTAMP(@p, '12:30:00'),  0, NULL),   -- came to work at noon
 ('10000003', @p, TIMESTAMP(@p, '08:00:00'), 24, 'DR'),
 ('10000004', @p, TIMESTAMP(@p, '00:00:00'),  1, 'K'),
 ('10000004', @y, TIMESTAMP(@y, '00:00:00'),  1, 'GL'),
 ('10000005', @p, TIMESTAMP(@p, '00:00:00'),  1, 'K'),
 ('10000005', @y, TIMESTAMP(@y, '00:00:00'),  1, 'SU'),
 ('10000006', @p, TIMESTAMP(@p, '00:00:00'),  1, 'KS'),
 ('10000007', @p, TIMESTAMP(@p, '00:00:00'),  1, 'F'),
 ('10000007', @q, TIMESTAMP(@q, '00:00:00'),  1, 'K');
