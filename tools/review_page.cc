#include "review_page.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char kStyle[] = R"CSS(
body{font:14px/1.4 system-ui,sans-serif;margin:0 1.5em 2em;color:#1d232b;background:#fff}
h1{font-size:1.5em;margin:.8em 0 .2em}h2{font-size:1.15em;margin:1.4em 0 .4em}
.banner{padding:.6em 1em;margin:.5em 0;border-radius:4px;font-weight:600}
.dry{background:#fff3c4;border:1px solid #d9b200}.cut,.bad{background:#fde2e1;border:1px solid #c62828}
.tiles{display:flex;flex-wrap:wrap;gap:.6em;margin:1em 0}
.tile{border:1px solid #c9d1da;border-radius:6px;padding:.5em .9em;min-width:8.5em;background:#f5f8fb}
.tile b{display:block;font-size:1.7em}.tile.minor b{font-size:1.2em}.tile.alarm{background:#fde2e1}
.charts{display:flex;flex-wrap:wrap;gap:2em}figure{margin:0}figcaption{font-weight:600}
svg text{font-size:12px;fill:#1d232b}svg rect{fill:#3a78b5}
table{border-collapse:collapse;margin:.4em 0}th,td{border-bottom:1px solid #dde3ea;padding:.25em .6em;
text-align:left;vertical-align:top}th{background:#eef2f6;position:sticky;top:0}
tr.failed td{background:#fdeceb}.fu,.nw{white-space:nowrap}.fu.stop{color:#8a4b00}.fu.fail{color:#b71c1c;font-weight:600}
.filters label{margin-right:1em}.note{flex-basis:100%;margin:0;color:#5b6672}.pager{margin:.6em 0}footer{margin-top:2em;color:#5b6672;font-size:.9em}
)CSS";

constexpr char kScript[] = R"JS(
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
var NS = $('chart-codes').namespaceURI;
var PAGE = 250;
var FAIL = {'failed after its retries': 1, 'could not be checked': 1, 'type could not be read': 1};
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
// Rows: failed days first, then days with a follow-up weighed, then the rest.
var perCode = {}, perDate = {};
nights.forEach(function (n, ni) {
  var derived = n.derived = {days_read: 0, generated: 0, cancelled: 0};
  for (var i = n.first; i < n.first + n.count; i++) {
    var d = D.days[i], fus = d[5] || [], x = d[6] || null, failed = !!(x && (x.failed === true ||
      x.status === 'failed')), reasons = {}, codes = {};
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
    banner('cut', n.file + (n.cut.line ? ' was cut off: it is shown up to its last whole object (line ' +
      n.cut.line + ')' : ' holds no whole object') + (n.cut.rest ? ', ' + n.cut.rest + ' bytes after it are not shown' : '') +
      '. The run\u2019s own figures are missing; its tiles count the days shown.');
  } else if (n.run && n.run.exit !== 0) {
    banner('bad', 'The run of ' + show((n.run.dates || []).join(', ')) + ' ended with exit status ' +
      show(n.run.exit) + '.');
  }
});

// The run's dates, exit status and what else its object holds.
var all = [];
nights.forEach(function (n) { if (n.run && n.run.dates) all = all.concat(n.run.dates); });
all = all.length ? all : Object.keys(perDate);
all.sort();
$('summary').textContent = (all.length ? 'Accounted days ' + all[0] +
  (all.length > 1 ? ' to ' + all[all.length - 1] + ' (' + all.length + ' nights)' : '') : 'No accounted day') +
  ' \u00b7 exit status ' + nights.map(function (n) { return n.run ? show(n.run.exit) : 'unknown'; }).join(', ');
var KNOWN_RUN = {format: 1, run: 1, dates: 1, options: 1, counts: 1, exit: 1, dry_run: 1};
nights.forEach(function (n) {
  var tr = el('tr'), r = n.run || {}, other = {}, own = {};
  Object.keys(r).forEach(function (k) { if (!KNOWN_RUN[k]) other[k] = r[k]; });
  // A night cut off has no run object: its dates are those of its days.
  for (var i = n.first; !n.run && i < n.first + n.count; i++) own[dates[D.days[i][1]]] = 1;
  [n.file, (r.dates || Object.keys(own).sort()).join(', '), show(r.run), n.run ? show(r.exit) : 'cut off',
    r.dry_run === true ? 'yes' : n.run ? 'no' : '', show(r.options), n.count, extraText(other)]
    .forEach(function (v) { tr.appendChild(el('td', null, v)); });
  $('nights').tBodies[0].appendChild(tr);
});

// Tiles: summed over the nights; a key shows when a night's report has it.
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
  var e = el('div', 'tile' + (minor ? ' minor' : '') + (t.v > 0 && /fail|given_up|held|pending/.test(key) ? ' alarm' : ''));
  e.setAttribute('data-key', key);
  e.appendChild(el('b', null, t.v));
  e.appendChild(el('span', null, label + (t.guessed ? ' *' : '')));
  $('tiles').appendChild(e);
}
MAIN.forEach(function (m) { tile(m[0], m[1], false); });
if (nights.some(function (n) { return !n.run; })) {
  $('tiles').appendChild(el('p', 'note', '* counted from the days shown: a report was cut off ' +
    'before the run\u2019s own figures.'));
}
var seen = {};
MAIN.forEach(function (m) { seen[m[0]] = 1; });
nights.forEach(function (n) {
  Object.keys(n.run && n.run.counts || {}).forEach(function (k) {
    if (!seen[k]) { seen[k] = 1; tile(k, MINOR[k] || k.replace(/_/g, ' '), true); }
  });
});

// Bars: follow-ups booked per code, and per date when more than one.
function bars(id, counts) {
  var svg = $(id), keys = Object.keys(counts).sort(), max = 1, h = 22;
  keys.forEach(function (k) { max = Math.max(max, counts[k]); });
  svg.setAttribute('width', 460);
  svg.setAttribute('height', Math.max(h, keys.length * h));
  if (!keys.length) {
    var none = document.createElementNS(NS, 'text');
    none.setAttribute('y', 15);
    none.textContent = 'none booked';
    svg.appendChild(none);
  }
  keys.forEach(function (k, i) {
    var y = i * h, label = document.createElementNS(NS, 'text'), bar = document.createElementNS(NS, 'rect'),
      num = document.createElementNS(NS, 'text'), w = Math.max(1, Math.round(280 * counts[k] / max));
    label.setAttribute('x', 0); label.setAttribute('y', y + 15); label.textContent = k;
    bar.setAttribute('x', 110); bar.setAttribute('y', y + 3); bar.setAttribute('height', h - 6);
    bar.setAttribute('width', w);
    num.setAttribute('x', 116 + w); num.setAttribute('y', y + 15); num.textContent = counts[k];
    svg.appendChild(label); svg.appendChild(bar); svg.appendChild(num);
  });
}
bars('chart-codes', perCode);
if (Object.keys(perDate).length > 1) { $('fig-dates').hidden = false; bars('chart-dates', perDate); }

// The table: filtered, sorted, drawn a page at a time.
var allCodes = {}, allReasons = {};
rows.forEach(function (r) {
  Object.keys(r.codes).forEach(function (c) { allCodes[c] = 1; });
  Object.keys(r.reasons).forEach(function (c) { if (c.charAt(0) !== '#') allReasons[c] = 1; });
});
function options(sel, list) {
  list.forEach(function (o) { var e = el('option', null, o[1]); e.value = o[0]; sel.appendChild(e); });
}
options($('f-code'), Object.keys(allCodes).sort().map(function (c) { return [c, c]; }));
options($('f-reason'), Object.keys(allReasons).sort().map(function (c) { return [c, 'stopped: ' + c]; }));
var view = rows, page = 0;
var SORTS = {
  rank: function (a, b) { return a.rank - b.rank || cmp(a.date, b.date) || cmp(a.person, b.person) || a.i - b.i; },
  person: function (a, b) { return cmp(a.person, b.person) || cmp(a.date, b.date) || a.i - b.i; },
  date: function (a, b) { return cmp(a.date, b.date) || a.rank - b.rank || cmp(a.person, b.person) || a.i - b.i; },
  retries: function (a, b) { return (b.d[4] || 0) - (a.d[4] || 0) || a.rank - b.rank || a.i - b.i; }
};
function cmp(a, b) { return a < b ? -1 : a > b ? 1 : 0; }
function refilter() {
  var p = $('f-person').value.trim().toLowerCase(), c = $('f-code').value, why = $('f-reason').value;
  view = rows.filter(function (r) {
    return (!p || r.person.indexOf(p) >= 0) && (!c || r.codes[c]) && (!why || r.reasons[why]);
  });
  view.sort(SORTS[$('f-sort').value] || SORTS.rank);
  page = 0;
  draw();
}
function followUp(f) {
  var stopped = f[5] !== null && f[5] !== undefined, text = show(f[0]) + ' \u00b7 slot ' + show(f[1]) +
    ' \u00b7 function ' + show(f[2]) + (f[3] !== null && f[3] !== undefined ? ' \u00b7 value ' + show(f[3]) : '');
  if (f[4]) text += ' \u00b7 cancelled ' + (Array.isArray(f[4]) ? show(f[4][0]) + ' (function ' +
    show(f[4][1]) + ', ' + show(f[4][2]).replace(/^(\d\d)(\d\d)(\d\d)$/, '$1:$2:$3') + ')' : show(f[4]));
  if (stopped) text += ' \u00b7 stopped: ' + show(f[5]) + (f[6] ? ' (by ' + show(f[6]) + ')' : '');
  if (f[7]) text += ' \u00b7 ' + extraText(f[7]);
  return el('div', 'fu' + (stopped ? (FAIL[f[5]] ? ' fail' : ' stop') : ''), text);
}
function draw() {
  var body = $('rows'), pages = Math.max(1, Math.ceil(view.length / PAGE)), frag = document.createDocumentFragment();
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
$('f-person').addEventListener('input', function () { clearTimeout(timer); timer = setTimeout(refilter, 200); });
['f-code', 'f-reason', 'f-sort'].forEach(function (id) { $(id).addEventListener('change', refilter); });
$('prev').addEventListener('click', function () { page--; draw(); });
$('next').addEventListener('click', function () { page++; draw(); });
refilter();
$('made').textContent = 'Made by pirzol-review ' + D.version + ' from ' +
  nights.map(function (n) { return n.file; }).join(', ') + '.';
var ms = Math.round(performance.now());
$('drawn').textContent = 'Drawn in ' + ms + ' ms.';
$('drawn').setAttribute('data-ms', ms);
})();
)JS";

constexpr char kHead[] =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
    "style-src 'sha256-%STYLE%'; script-src 'sha256-%SCRIPT%'; base-uri 'none'; "
    "form-action 'none'\">\n"
    "<meta name=\"referrer\" content=\"no-referrer\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<title>pirzol: review of a night</title>\n<style>";

constexpr char kBody[] =
    "</style></head>\n<body>\n"
    "<h1>Review of the night</h1>\n<p id=\"summary\"></p>\n<div id=\"banners\"></div>\n"
    "<noscript><p class=\"banner bad\">This page needs JavaScript to show the report.</p>"
    "</noscript>\n"
    "<div id=\"tiles\" class=\"tiles\"></div>\n"
    "<div class=\"charts\"><figure><figcaption>Follow-ups booked per code</figcaption>"
    "<svg id=\"chart-codes\" role=\"img\"></svg></figure>\n"
    "<figure id=\"fig-dates\" hidden><figcaption>Follow-ups booked per date</figcaption>"
    "<svg id=\"chart-dates\" role=\"img\"></svg></figure></div>\n"
    "<h2>Nights</h2>\n<table id=\"nights\"><thead><tr><th>Report</th><th>Accounted days</th>"
    "<th>Run</th><th>Exit status</th><th>Dry run</th><th>Options</th><th>Days shown</th>"
    "<th>Other</th></tr></thead><tbody></tbody></table>\n"
    "<h2>Accounted days</h2>\n<div class=\"filters\">"
    "<label>Person <input id=\"f-person\" type=\"search\"></label>"
    "<label>Code <select id=\"f-code\"><option value=\"\">any</option></select></label>"
    "<label>Reason <select id=\"f-reason\"><option value=\"\">any</option>"
    "<option value=\"#failed\">failed days</option><option value=\"#booked\">booked</option>"
    "<option value=\"#cancelled\">cancelled a booking</option>"
    "<option value=\"#none\">no follow-up</option></select></label>"
    "<label>Sort <select id=\"f-sort\"><option value=\"rank\">failed, then follow-ups</option>"
    "<option value=\"person\">person</option><option value=\"date\">date</option>"
    "<option value=\"retries\">retries</option></select></label></div>\n"
    "<p id=\"count\"></p>\n"
    "<table id=\"days\"><thead><tr><th>Person</th><th>Date</th><th>Last message day</th>"
    "<th>Follow-ups weighed</th><th>Line</th><th>Retries</th><th>Other</th></tr></thead>"
    "<tbody id=\"rows\"></tbody></table>\n"
    "<div class=\"pager\"><button id=\"prev\" type=\"button\">Previous</button> "
    "<span id=\"page\"></span> <button id=\"next\" type=\"button\">Next</button></div>\n"
    "<footer><span id=\"made\"></span> <span id=\"drawn\"></span></footer>\n"
    "<script type=\"application/json\" id=\"data\">";

constexpr char kScriptOpen[] = "</script>\n<script>";
constexpr char kTail[] = "</script>\n</body></html>\n";

// SHA-256, for the hashes by which the policy names the page's own script
// and style: nothing else inline may run, should anything slip in.
std::string Sha256(const char* text) {
  static const std::uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::string msg(text);
  const std::uint64_t bits = static_cast<std::uint64_t>(msg.size()) * 8;
  msg += static_cast<char>(0x80);
  while (msg.size() % 64 != 56) msg += '\0';
  for (int i = 7; i >= 0; --i) msg += static_cast<char>(bits >> (8 * i));
  auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (std::size_t at = 0; at < msg.size(); at += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = 0;
      for (int b = 0; b < 4; ++b) w[i] = (w[i] << 8) | static_cast<unsigned char>(msg[at + 4 * i + b]);
    }
    for (int i = 16; i < 64; ++i) {
      std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t v[8];
    std::memcpy(v, h, sizeof v);
    for (int i = 0; i < 64; ++i) {
      std::uint32_t t1 = v[7] + (rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25)) +
                         ((v[4] & v[5]) ^ (~v[4] & v[6])) + k[i] + w[i];
      std::uint32_t t2 = (rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22)) +
                         ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
      std::memmove(v + 1, v, 7 * sizeof v[0]);
      v[4] += t1;
      v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i) h[i] += v[i];
  }
  std::string digest;
  for (std::uint32_t x : h) {
    for (int b = 3; b >= 0; --b) digest += static_cast<char>(x >> (8 * b));
  }
  return digest;
}

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

std::string Head() {
  std::string head = kHead;
  head.replace(head.find("%STYLE%"), 7, Base64(Sha256(kStyle)));
  head.replace(head.find("%SCRIPT%"), 8, Base64(Sha256(kScript)));
  return head;
}

}  // namespace

std::string Page_Build(const std::string& data) {
  return Head() + kStyle + kBody + data + kScriptOpen + kScript + kTail;
}
