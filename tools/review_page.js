// The review page's script: draws the report held in the JSON block #data.
// Report text reaches the page only through textContent and attribute
// values, never as markup. Runs once, at the end of the body.
(function () {
'use strict';
var $ = function (id) { return document.getElementById(id); };
function el(tag, cls, text) {
  var e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined && text !== null) e.textContent = String(text);
  return e;
}
var D = JSON.parse($('data').textContent);
// The SVG namespace as the parser gave it to the inline chart: the page
// names no address at all.
var NS = $('chart-codes').namespaceURI;
var PAGE = 250;
var FAIL = {'failed after its retries': 1, 'could not be checked': 1,
  'type could not be read': 1};
var MAIN = [['days_read', 'Days read'], ['generated', 'Follow-ups booked'],
  ['cancelled', 'Bookings cancelled'], ['days_failed', 'Days failed'],
  ['persons_held_back', 'Persons held back'], ['corrections_pending', 'Corrections pending']];
var MINOR = {days_found: 'Last message days found', failures: 'Failures', retries: 'Retries',
  given_up: 'Units given up'};
var dates = D.dates, nights = D.nights, rows = [];
function show(v) {
  if (v === null || v === undefined) return '';
  return typeof v === 'object' ? JSON.stringify(v) : String(v);
}
function extraText(x) {
  if (!x || typeof x !== 'object') return '';
  return Object.keys(x).map(function (k) { return k + ': ' + show(x[k]); }).join(', ');
}

// A day is [person, date, last message day, line, retries, follow-ups,
// other keys], a follow-up [code, slot, function, value, cancelled, stopped,
// stopped_by, other keys]; dates are indexes into D.dates. Rank: failed days
// first, then days with a follow-up weighed, then the rest.
var perCode = {}, perDate = {};
nights.forEach(function (n, ni) {
  var derived = n.derived = {days_read: 0, generated: 0, cancelled: 0};
  for (var i = n.first; i < n.first + n.count; i++) {
    var d = D.days[i], fus = d[5] || [], x = d[6] || null, reasons = {}, codes = {};
    var failed = !!(x && (x.failed === true || x.status === 'failed'));
    derived.days_read++;
    fus.forEach(function (f) {
      codes[f[0]] = 1;
      if (f[5] === null || f[5] === undefined) {
        reasons['#booked'] = 1;
        perCode[f[0]] = (perCode[f[0]] || 0) + 1;
        perDate[dates[d[1]]] = (perDate[dates[d[1]]] || 0) + 1;
        derived.generated++;
      } else {
        reasons[f[5]] = 1;
        if (FAIL[f[5]]) failed = true;
      }
      if (f[4]) { reasons['#cancelled'] = 1; derived.cancelled++; }
    });
    if (!fus.length) reasons['#none'] = 1;
    if (failed) reasons['#failed'] = 1;
    rows.push({d: d, n: ni, i: i, rank: failed ? 0 : fus.length ? 1 : 2, reasons: reasons,
      codes: codes, person: String(d[0]).toLowerCase(), date: dates[d[1]] || ''});
  }
});

function banner(cls, text) { $('banners').appendChild(el('p', 'banner ' + cls, text)); }
var dry = nights.filter(function (n) { return n.run && n.run.dry_run === true; });
if (dry.length) {
  banner('dry', (dry.length === nights.length ? 'Dry run' : dry.length + ' of the ' +
    nights.length + ' nights were dry runs') + ': nothing of it was kept. It shows what a ' +
    'run would have done with the data as they were.');
}
nights.forEach(function (n) {
  if (n.cut) {
    banner('cut', n.file + (n.cut.line ? ' was cut off: it is shown up to its last whole ' +
      'object (line ' + n.cut.line + ')' : ' holds no whole object') +
      (n.cut.rest ? ', ' + n.cut.rest + ' bytes after it are not shown' : '') +
      '. The run\u2019s own figures are missing; its tiles count the days shown.');
  } else if (n.run && n.run.exit !== 0) {
    banner('bad', 'The run of ' + show((n.run.dates || []).join(', ')) +
      ' ended with exit status ' + show(n.run.exit) + '.');
  }
});

// The runs' dates, exit statuses and whatever else their objects hold.
var all = [];
nights.forEach(function (n) { if (n.run && n.run.dates) all = all.concat(n.run.dates); });
all = all.length ? all : Object.keys(perDate);
all.sort();
$('summary').textContent = (all.length ? 'Accounted days ' + all[0] + (all.length > 1 ?
  ' to ' + all[all.length - 1] + ' (' + all.length + ' nights)' : '') : 'No accounted day') +
  ' \u00b7 exit status ' +
  nights.map(function (n) { return n.run ? show(n.run.exit) : 'unknown'; }).join(', ');
var KNOWN_RUN = {format: 1, run: 1, dates: 1, options: 1, counts: 1, exit: 1, dry_run: 1};
nights.forEach(function (n) {
  var tr = el('tr'), r = n.run || {}, other = {}, own = {};
  Object.keys(r).forEach(function (k) { if (!KNOWN_RUN[k]) other[k] = r[k]; });
  // A night cut off has no run object: its dates are those of its days.
  for (var i = n.first; !n.run && i < n.first + n.count; i++) own[dates[D.days[i][1]]] = 1;
  [n.file, (r.dates || Object.keys(own).sort()).join(', '), show(r.run),
    n.run ? show(r.exit) : 'cut off', r.dry_run === true ? 'yes' : n.run ? 'no' : '',
    show(r.options), n.count, extraText(other)]
    .forEach(function (v) { tr.appendChild(el('td', null, v)); });
  $('nights').tBodies[0].appendChild(tr);
});

// Tiles, summed over the nights: a key shows when a night's report has it,
// in its counts or beside them (a list counts its items).
function total(key) {
  var sum = 0, found = false, guessed = false;
  nights.forEach(function (n) {
    if (!n.run) {
      if (key in n.derived) { sum += n.derived[key]; found = guessed = true; }
      return;
    }
    var c = n.run.counts || {}, v = key in c ? c[key] : n.run[key];
    if (Array.isArray(v)) v = v.length;
    if (typeof v === 'number') { sum += v; found = true; }
  });
  return found ? {v: sum, guessed: guessed} : null;
}
function tile(key, label, minor) {
  var t = total(key);
  if (!t) return;
  var alarm = t.v > 0 && /fail|given_up|held|pending/.test(key);
  var e = el('div', 'tile' + (minor ? ' minor' : '') + (alarm ? ' alarm' : ''));
  e.setAttribute('data-key', key);
  e.appendChild(el('b', null, t.v));
  e.appendChild(el('span', null, label + (t.guessed ? ' *' : '')));
  $('tiles').appendChild(e);
}
MAIN.forEach(function (m) { tile(m[0], m[1], false); });
if (nights.some(function (n) { return !n.run; })) {
  $('tiles').appendChild(el('p', 'note', '* counted from the days shown: a report was cut ' +
    'off before the run\u2019s own figures.'));
}
var seen = {};
MAIN.forEach(function (m) { seen[m[0]] = 1; });
nights.forEach(function (n) {
  Object.keys(n.run && n.run.counts || {}).forEach(function (k) {
    if (!seen[k]) { seen[k] = 1; tile(k, MINOR[k] || k.replace(/_/g, ' '), true); }
  });
});

// Bars: follow-ups booked per code, and per date when there are several.
function svgText(svg, x, y, text) {
  var t = document.createElementNS(NS, 'text');
  t.setAttribute('x', x);
  t.setAttribute('y', y);
  t.textContent = text;
  svg.appendChild(t);
}
function bars(id, counts) {
  var svg = $(id), keys = Object.keys(counts).sort(), max = 1, h = 22;
  keys.forEach(function (k) { max = Math.max(max, counts[k]); });
  svg.setAttribute('width', 460);
  svg.setAttribute('height', Math.max(h, keys.length * h));
  if (!keys.length) svgText(svg, 0, 15, 'none booked');
  keys.forEach(function (k, i) {
    var y = i * h, bar = document.createElementNS(NS, 'rect');
    var w = Math.max(1, Math.round(280 * counts[k] / max));
    svgText(svg, 0, y + 15, k);
    bar.setAttribute('x', 110);
    bar.setAttribute('y', y + 3);
    bar.setAttribute('height', h - 6);
    bar.setAttribute('width', w);
    svg.appendChild(bar);
    svgText(svg, 116 + w, y + 15, counts[k]);
  });
}
bars('chart-codes', perCode);
if (Object.keys(perDate).length > 1) {
  $('fig-dates').hidden = false;
  bars('chart-dates', perDate);
}

// The table: filtered, sorted, and drawn a page at a time, so that 100,000
// days cost no more to show than 250.
var allCodes = {}, allReasons = {};
rows.forEach(function (r) {
  Object.keys(r.codes).forEach(function (c) { allCodes[c] = 1; });
  Object.keys(r.reasons).forEach(function (c) { if (c.charAt(0) !== '#') allReasons[c] = 1; });
});
function options(sel, list) {
  list.forEach(function (o) {
    var e = el('option', null, o[1]);
    e.value = o[0];
    sel.appendChild(e);
  });
}
options($('f-code'), Object.keys(allCodes).sort().map(function (c) { return [c, c]; }));
options($('f-reason'),
  Object.keys(allReasons).sort().map(function (c) { return [c, 'stopped: ' + c]; }));
var view = rows, page = 0;
function cmp(a, b) { return a < b ? -1 : a > b ? 1 : 0; }
var SORTS = {
  rank: function (a, b) {
    return a.rank - b.rank || cmp(a.date, b.date) || cmp(a.person, b.person) || a.i - b.i;
  },
  person: function (a, b) { return cmp(a.person, b.person) || cmp(a.date, b.date) || a.i - b.i; },
  date: function (a, b) {
    return cmp(a.date, b.date) || a.rank - b.rank || cmp(a.person, b.person) || a.i - b.i;
  },
  retries: function (a, b) { return (b.d[4] || 0) - (a.d[4] || 0) || a.rank - b.rank || a.i - b.i; }
};
function refilter() {
  var p = $('f-person').value.trim().toLowerCase(), c = $('f-code').value;
  var why = $('f-reason').value;
  view = rows.filter(function (r) {
    return (!p || r.person.indexOf(p) >= 0) && (!c || r.codes[c]) && (!why || r.reasons[why]);
  });
  view.sort(SORTS[$('f-sort').value] || SORTS.rank);
  page = 0;
  draw();
}
function followUp(f) {
  var stopped = f[5] !== null && f[5] !== undefined;
  var text = show(f[0]) + ' \u00b7 slot ' + show(f[1]) + ' \u00b7 function ' + show(f[2]) +
    (f[3] !== null && f[3] !== undefined ? ' \u00b7 value ' + show(f[3]) : '');
  if (Array.isArray(f[4])) {
    text += ' \u00b7 cancelled ' + show(f[4][0]) + ' (function ' + show(f[4][1]) + ', ' +
      show(f[4][2]).replace(/^(\d\d)(\d\d)(\d\d)$/, '$1:$2:$3') + ')';
  } else if (f[4]) {
    text += ' \u00b7 cancelled ' + show(f[4]);
  }
  if (stopped) text += ' \u00b7 stopped: ' + show(f[5]) + (f[6] ? ' (by ' + show(f[6]) + ')' : '');
  if (f[7]) text += ' \u00b7 ' + extraText(f[7]);
  return el('div', 'fu' + (stopped ? (FAIL[f[5]] ? ' fail' : ' stop') : ''), text);
}
function draw() {
  var body = $('rows'), pages = Math.max(1, Math.ceil(view.length / PAGE));
  var frag = document.createDocumentFragment();
  body.textContent = '';
  view.slice(page * PAGE, page * PAGE + PAGE).forEach(function (r) {
    var d = r.d, tr = el('tr', r.rank === 0 ? 'failed' : null), fus = el('td');
    tr.appendChild(el('td', 'nw', d[0]));
    tr.appendChild(el('td', 'nw', r.date));
    tr.appendChild(el('td', 'nw', d[2] >= 0 ? dates[d[2]] : 'none found'));
    (d[5] || []).forEach(function (f) { fus.appendChild(followUp(f)); });
    tr.appendChild(fus);
    tr.appendChild(el('td', null, d[3] === 1 ? 'written' : d[3] === 0 ? 'no' : ''));
    tr.appendChild(el('td', null, show(d[4])));
    tr.appendChild(el('td', null, extraText(d[6])));
    frag.appendChild(tr);
  });
  body.appendChild(frag);
  $('count').textContent = view.length + ' of ' + rows.length + ' days';
  $('count').setAttribute('data-rows', view.length);
  $('page').textContent = 'page ' + (page + 1) + ' of ' + pages;
  $('prev').disabled = page === 0;
  $('next').disabled = page + 1 >= pages;
}
var timer = 0;
$('f-person').addEventListener('input', function () {
  clearTimeout(timer);
  timer = setTimeout(refilter, 200);
});
['f-code', 'f-reason', 'f-sort'].forEach(function (id) {
  $(id).addEventListener('change', refilter);
});
$('prev').addEventListener('click', function () { page--; draw(); });
$('next').addEventListener('click', function () { page++; draw(); });
refilter();
$('made').textContent = 'Made by pirzol-review ' + D.version + ' from ' +
  nights.map(function (n) { return n.file; }).join(', ') + '.';
// From navigation to the first table drawn, for the benchmark.
var ms = Math.round(performance.now());
$('drawn').textContent = 'Drawn in ' + ms + ' ms.';
$('drawn').setAttribute('data-ms', ms);
})();
