// kestro view's page. Every number it shows comes from the server's analysis: the page only
// keeps the user's edits (in the edits file's own form), sends them, and draws what comes back.
'use strict';

const token = new URLSearchParams(location.search).get('token') || '';
const SVG = 'http://www.w3.org/2000/svg';
const TILE = 512;
const $ = (id) => document.getElementById(id);

const state = {
  gels: [], gel: null, index: 0,
  edits: null, ladder: [], sizes: '', fit: 'spline',
  analysis: null, history: [],
  lane: -1, band: -1,
  view: { s: 1, x: 0, y: 0 },
  adding: false, pending: 0, loadStart: 0, firstShown: false,
};

// ---- talking to the server -------------------------------------------------------------------

function api(path, body) {
  const init = { headers: { 'X-Kestro-Token': token } };
  if (body !== undefined) {
    init.method = 'POST';
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  busy(1);
  return fetch(path, init).then(async (r) => {
    const j = await r.json().catch(() => ({ error: 'the server answered ' + r.status }));
    if (!r.ok) throw new Error(j.error || ('the server answered ' + r.status));
    return j;
  }).finally(() => busy(-1));
}

function busy(d) {
  state.pending += d;
  document.body.dataset.state = state.pending > 0 ? 'busy' : 'ready';
}

function status(text, error) {
  const s = $('status');
  s.textContent = text;
  s.className = error ? 'error' : '';
}

function displayQuery() {
  const g = Number($('gamma').value);
  const gamma = Math.pow(2, g / 10);
  return 'palette=' + $('palette').value + '&brightness=' + $('brightness').value + '&contrast=' +
    $('contrast').value + '&gamma=' + gamma.toFixed(4) + '&saturated=' + ($('saturated').checked ? 1 : 0);
}

function imageUrl(query) {
  return 'api/gels/' + state.index + '/image?' + query + '&' + displayQuery() + '&token=' + encodeURIComponent(token);
}

// ---- gels ------------------------------------------------------------------------------------

async function start() {
  try {
    const list = await api('api/gels');
    state.gels = list.gels;
    const sel = $('gel');
    list.gels.forEach((g) => {
      const o = document.createElement('option');
      o.value = g.index;
      o.textContent = (g.index + 1) + ' / ' + list.gels.length + ': ' + g.name;
      sel.appendChild(o);
    });
    await openGel(0);
  } catch (e) {
    status(e.message, true);
  }
}

async function openGel(index) {
  state.index = index;
  $('gel').value = index;
  state.loadStart = performance.now();
  state.firstShown = false;
  state.analysis = null;
  state.gel = null;
  state.lane = state.band = -1;
  state.history = [];
  $('overlay').replaceChildren();
  $('tiles').replaceChildren();
  $('preview').removeAttribute('src');
  showMessage('');
  drawPanel();
  status('Loading ' + state.gels[index].name);
  try {
    const g = await api('api/gels/' + index);
    if (state.index !== index) return;
    state.gel = g;
    state.edits = g.edits;
    state.ladder = g.ladder.slice();
    state.sizes = g.sizes.join(',');
    state.fit = g.fit;
    $('sizes').value = state.sizes;
    $('fit-kind').value = state.fit;
    for (const el of [$('world'), $('preview'), $('overlay')]) {
      el.style.width = g.width + 'px';
      el.style.height = g.height + 'px';
    }
    $('overlay').setAttribute('viewBox', '0 0 ' + g.width + ' ' + g.height);
    fitView();
    loadPreview();
    await analyse(null);
    if (g.note) status(g.note);
  } catch (e) {
    if (state.index !== index) return;
    showMessage(state.gels[index].name + ' could not be shown:\n' + e.message);
    status('This gel failed; the others can still be opened', true);
  }
}

function showMessage(text) {
  $('message').hidden = !text;
  $('message').textContent = text;
}

function loadPreview() {
  const g = state.gel;
  const img = $('preview');
  busy(1);
  img.onload = img.onerror = () => {
    busy(-1);
    shownIfReady();
  };
  img.src = imageUrl('step=' + g.previewStep);
  updateTiles(true);
}

function shownIfReady() {
  if (state.firstShown || !state.analysis || !$('preview').complete) return;
  state.firstShown = true;
  const ms = performance.now() - state.loadStart;
  window.kestroTimes = Object.assign(window.kestroTimes || {}, { firstView: ms });
  $('timing').textContent = 'first view ' + Math.round(ms) + ' ms';
}

// ---- analysis --------------------------------------------------------------------------------

function request() {
  const sizes = state.sizes.split(/[ ,;]+/).filter((s) => s !== '').map(Number);
  const body = { edits: state.edits, fit: state.fit };
  body.ladder = sizes.length >= 2 ? state.ladder : [];
  body.sizes = sizes.length >= 2 && state.ladder.length ? sizes : [];
  return body;
}

// Sends the edits; on a refusal the edits go back to what they were.
async function analyse(previous) {
  const t0 = performance.now();
  const index = state.index;
  try {
    const a = await api('api/gels/' + index + '/analyse', request());
    if (state.index !== index) return;
    state.analysis = a;
    if (state.lane >= a.lanes.length) state.lane = -1;
    state.band = -1;
    drawOverlay();
    drawPanel();
    const ms = performance.now() - t0;
    window.kestroTimes = Object.assign(window.kestroTimes || {}, { lastEdit: ms });
    if (previous) $('timing').textContent = 'edit shown in ' + Math.round(ms) + ' ms';
    status(a.laneCount + ' lanes, ' + a.bandCount + ' bands' + (previous ? '' : ' — ' + state.gel.name));
    shownIfReady();
  } catch (e) {
    if (previous) {
      state.edits = previous.edits;
      state.ladder = previous.ladder;
      state.history.pop();
      drawOverlay();
    }
    status(e.message, true);
  }
  $('undo').disabled = state.history.length === 0;
}

function edit(change) {
  const previous = { edits: JSON.parse(JSON.stringify(state.edits)), ladder: state.ladder.slice() };
  state.history.push(previous);
  change();
  return analyse(previous);
}

function laneRef(l) { return l.tier + ':' + l.laneInTier; }
// A ladder from the command line may name a lane of every tier by its number alone.
function isLadder(l) { return state.ladder.includes(laneRef(l)) || state.ladder.includes(String(l.laneInTier)); }

// The lanes as the edits file gives them, with lanes changed, added or dropped; band edits and
// ladder lanes follow their lane to its new number in the tier.
function setLanes(list) {
  const lanes = state.analysis.lanes;
  const order = list.map((l, k) => ({ ...l, k }));
  order.sort((a, b) => a.tier - b.tier || (a.left + a.right) - (b.left + b.right));
  const newNumber = {};
  const count = {};
  for (const l of order) {
    count[l.tier] = (count[l.tier] || 0) + 1;
    if (l.from !== undefined) newNumber[l.from] = count[l.tier];
  }
  const renumber = (tier, lane) => {
    const old = lanes.findIndex((l) => l.tier === tier && l.laneInTier === lane);
    return old >= 0 ? newNumber[old] : undefined;
  };
  const moveBands = (entries) => (entries || []).map((b) => ({ ...b, lane: renumber(b.tier, b.lane) }))
    .filter((b) => b.lane !== undefined);
  const e = state.edits;
  e.addedBands = moveBands(e.addedBands);
  e.removedBands = moveBands(e.removedBands);
  if (e.bands) e.bands = moveBands(e.bands);
  e.removedLanes = [];
  e.lanes = order.map((l) => (l.path ? { tier: l.tier, left: l.left, right: l.right, path: l.path }
    : { tier: l.tier, left: l.left, right: l.right }));
  state.ladder = state.ladder.map((r) => {
    if (!r.includes(':')) return r;
    const [t, n] = r.split(':').map(Number);
    const m = renumber(t, n);
    return m === undefined ? null : t + ':' + m;
  }).filter((r) => r);
}

// A lane left where the analysis put it keeps its path (a bent lane stays bent); one the user
// moves runs straight between its new edges.
function currentLanes() {
  return state.analysis.lanes.map((l, k) => ({ tier: l.tier, left: l.left, right: l.right, from: k,
    path: { centre: l.centre, tilt: l.tilt, bow: l.bow, top: l.pathRows[0], bottom: l.pathRows[1] } }));
}

function moveLane(k, left, right) {
  edit(() => {
    const list = currentLanes();
    list[k].left = left;
    list[k].right = right;
    delete list[k].path;
    setLanes(list);
  });
}

function addLaneAt(x, y) {
  const a = state.analysis;
  // A turned gel's tiers slant: their rows hold at their column and fall by their slope.
  const row = (t) => y - (t.slope || 0) * (x - (t.column || 0));
  const tier = a.tiers.find((t) => row(t) >= t.top && row(t) < t.bottom) || a.tiers[0];
  if (!tier) return;
  const widths = a.lanes.map((l) => l.right - l.left).sort((p, q) => p - q);
  const w = widths.length ? widths[widths.length >> 1] : Math.max(8, state.gel.width / 20);
  edit(() => {
    const list = currentLanes();
    list.push({ tier: tier.tier, left: Math.round(x - w / 2), right: Math.round(x - w / 2) + Math.round(w) });
    setLanes(list);
  });
}

function deleteLane() {
  const k = state.lane;
  if (k < 0) return;
  state.lane = -1;
  edit(() => setLanes(currentLanes().filter((l) => l.from !== k)));
}

function deleteBand() {
  const l = state.analysis.lanes[state.lane];
  const b = l && l.bands[state.band];
  if (!b) return;
  edit(() => {
    const e = state.edits;
    const added = (e.addedBands || []).findIndex((x) => x.tier === l.tier && x.lane === l.laneInTier &&
      x.top === b.top && x.bottom === b.bottom + 1);
    if (added >= 0) e.addedBands.splice(added, 1);
    else (e.removedBands = e.removedBands || []).push({ tier: l.tier, lane: l.laneInTier, row: b.peakY });
  });
}

function addBand(top, bottom) {
  const l = state.analysis.lanes[state.lane];
  if (!l || bottom <= top) return;
  edit(() => {
    (state.edits.addedBands = state.edits.addedBands || []).push({ tier: l.tier, lane: l.laneInTier, top, bottom });
  });
}

async function save() {
  try {
    status('Saving');
    const r = await api('api/gels/' + state.index + '/save', request());
    status('Saved ' + r.written.length + ' files; the same from the command line: ' +
      r.commandLine.map((w) => (/^[\w.\/:,=-]+$/.test(w) ? w : "'" + w.replace(/'/g, "'\\''") + "'")).join(' '));
    document.body.dataset.saved = String(Number(document.body.dataset.saved || 0) + 1);
  } catch (e) {
    status('Not saved: ' + e.message, true);
  }
}

// ---- the gel, zoom and pan -------------------------------------------------------------------

function applyView() {
  const v = state.view;
  $('world').style.transform = 'translate(' + v.x + 'px,' + v.y + 'px) scale(' + v.s + ')';
  $('world').classList.toggle('sharp', v.s > 2);
  scheduleTiles();
}

function fitView() {
  const g = state.gel;
  if (!g) return;
  const r = $('stage').getBoundingClientRect();
  const s = Math.min(r.width / g.width, r.height / g.height) * 0.98;
  state.view = { s, x: (r.width - g.width * s) / 2, y: (r.height - g.height * s) / 2 };
  applyView();
}

let tileTimer = 0;
function scheduleTiles() {
  clearTimeout(tileTimer);
  tileTimer = setTimeout(() => updateTiles(false), 120);
}

// Past the preview's resolution the gel is drawn from full-resolution tiles of what is in sight.
function updateTiles(reset) {
  const g = state.gel;
  const layer = $('tiles');
  if (reset) layer.replaceChildren();
  if (!g) return;
  const v = state.view;
  if (v.s * g.previewStep <= 1.25) return;
  const r = $('stage').getBoundingClientRect();
  const x0 = Math.max(0, Math.floor(-v.x / v.s / TILE)), y0 = Math.max(0, Math.floor(-v.y / v.s / TILE));
  const x1 = Math.min(Math.ceil(g.width / TILE), Math.ceil((r.width - v.x) / v.s / TILE));
  const y1 = Math.min(Math.ceil(g.height / TILE), Math.ceil((r.height - v.y) / v.s / TILE));
  const query = displayQuery();
  for (let ty = y0; ty < y1; ++ty)
    for (let tx = x0; tx < x1; ++tx) {
      const key = tx + ',' + ty + ',' + query;
      if (layer.querySelector('img[data-key="' + CSS.escape(key) + '"]')) continue;
      const img = document.createElement('img');
      img.dataset.key = key;
      const w = Math.min(TILE, g.width - tx * TILE), h = Math.min(TILE, g.height - ty * TILE);
      img.style.left = tx * TILE + 'px';
      img.style.top = ty * TILE + 'px';
      img.style.width = w + 'px';
      img.style.height = h + 'px';
      img.src = imageUrl('step=1&x=' + tx * TILE + '&y=' + ty * TILE + '&w=' + w + '&h=' + h);
      layer.appendChild(img);
    }
}

function toImage(ev) {
  const r = $('stage').getBoundingClientRect();
  const v = state.view;
  return { x: (ev.clientX - r.left - v.x) / v.s, y: (ev.clientY - r.top - v.y) / v.s };
}

function setupStage() {
  const stage = $('stage');
  stage.addEventListener('wheel', (ev) => {
    ev.preventDefault();
    const r = stage.getBoundingClientRect();
    const v = state.view;
    const f = Math.exp(-ev.deltaY * 0.0015);
    const s = Math.min(40, Math.max(0.02, v.s * f));
    const px = ev.clientX - r.left, py = ev.clientY - r.top;
    v.x = px - (px - v.x) * (s / v.s);
    v.y = py - (py - v.y) * (s / v.s);
    v.s = s;
    applyView();
  }, { passive: false });

  let drag = null;
  stage.addEventListener('pointerdown', (ev) => {
    if (!state.gel || !state.analysis) return;
    const t = ev.target;
    if (state.adding) {
      const p = toImage(ev);
      setAdding(false);
      addLaneAt(p.x, p.y);
      return;
    }
    if (t.dataset && t.dataset.edge !== undefined) {
      const k = Number(t.dataset.lane);
      const l = state.analysis.lanes[k];
      drag = { kind: 'edge', edge: t.dataset.edge, k, start: toImage(ev), left: l.left, right: l.right, moved: false };
      selectLane(k);
    } else if (t.dataset && t.dataset.band !== undefined) {
      selectLane(Number(t.dataset.lane));
      selectBand(Number(t.dataset.band));
      return;
    } else {
      drag = { kind: 'pan', x: ev.clientX, y: ev.clientY, vx: state.view.x, vy: state.view.y, moved: false };
    }
    stage.setPointerCapture(ev.pointerId);
  });
  stage.addEventListener('pointermove', (ev) => {
    if (!drag) return;
    if (drag.kind === 'pan') {
      state.view.x = drag.vx + ev.clientX - drag.x;
      state.view.y = drag.vy + ev.clientY - drag.y;
      drag.moved = drag.moved || Math.abs(ev.clientX - drag.x) + Math.abs(ev.clientY - drag.y) > 3;
      applyView();
    } else {
      const dx = toImage(ev).x - drag.start.x;
      let left = drag.left, right = drag.right;
      if (drag.edge === 'left') left = Math.min(right - 2, left + dx);
      else if (drag.edge === 'right') right = Math.max(left + 2, right + dx);
      else { left += dx; right += dx; }
      drag.newLeft = Math.round(left * 2) / 2;
      drag.newRight = Math.round(right * 2) / 2;
      drag.moved = drag.moved || Math.abs(dx) >= 0.5;
      drawLane(drag.k, drag.newLeft, drag.newRight);
    }
  });
  const end = (ev) => {
    if (!drag) return;
    const d = drag;
    drag = null;
    if (stage.hasPointerCapture(ev.pointerId)) stage.releasePointerCapture(ev.pointerId);
    if (d.kind === 'edge' && d.moved) moveLane(d.k, d.newLeft, d.newRight);
    else if (d.kind === 'edge') pickBandAt(d.k, toImage(ev)); // a click on a handle that crosses a band
    else if (d.kind === 'pan' && !d.moved) pickLaneAt(toImage(ev));
  };
  stage.addEventListener('pointerup', end);
  stage.addEventListener('pointercancel', end);
}

function pickLaneAt(p) {
  const lanes = state.analysis ? state.analysis.lanes : [];
  const k = lanes.findIndex((l) => p.y >= l.box[1] && p.y < l.box[3] && p.x >= l.box[0] && p.x < l.box[2]);
  selectLane(k);
}

function pickBandAt(k, p) {
  const j = state.analysis.lanes[k].bands.findIndex((b) => p.y >= b.box[1] && p.y < b.box[3]);
  if (j >= 0) selectBand(j);
}

function setAdding(on) {
  state.adding = on;
  $('stage').classList.toggle('adding', on);
  $('add-lane').classList.toggle('active', on);
}

// ---- drawing ---------------------------------------------------------------------------------

function el(name, attrs, parent) {
  const e = document.createElementNS(SVG, name);
  for (const k in attrs) e.setAttribute(k, attrs[k]);
  if (parent) parent.appendChild(e);
  return e;
}

function edgePoints(l, x) {
  return l.path.map(([row, d]) => (x + d) + ',' + row).join(' ');
}

function drawLane(k, left, right) {
  const a = state.analysis;
  const l = a.lanes[k];
  const svg = $('overlay');
  let g = svg.querySelector('g[data-lane-group="' + k + '"]');
  const fresh = el('g', { 'data-lane-group': k });
  if (g) svg.replaceChild(fresh, g);
  else svg.appendChild(fresh);
  g = fresh;
  const ladder = isLadder(l);
  const cls = 'lane' + (k === state.lane ? ' chosen' : '') + (ladder ? ' ladder' : '');
  const centre = (left + right) / 2;
  // Bands under the edges' handles, which stay within reach where a band's box passes them.
  if (left === l.left && right === l.right)
    l.bands.forEach((b, j) => {
      el('rect', { class: 'band' + (b.diffuse ? ' diffuse' : '') + (k === state.lane && j === state.band ? ' chosen' : ''),
        x: b.box[0], y: b.box[1], width: b.box[2] - b.box[0], height: b.box[3] - b.box[1], 'data-lane': k, 'data-band': j }, g);
      el('line', { class: 'peak', x1: b.box[0], x2: b.box[2], y1: b.peakY + 0.5, y2: b.peakY + 0.5 }, g);
    });
  for (const [x, edge] of [[left, 'left'], [right, 'right'], [centre, 'centre']])
    el('polyline', { class: cls + (edge === 'centre' ? ' centre' : ''), points: edgePoints(l, x) }, g);
  for (const [x, edge] of [[left, 'left'], [right, 'right'], [centre, 'centre']])
    el('polyline', { class: 'handle', points: edgePoints(l, x), 'data-lane': k, 'data-edge': edge }, g);
  const label = el('text', { x: centre, y: l.box[1] + 4, 'text-anchor': 'middle', 'dominant-baseline': 'hanging',
    'font-size': Math.max(10, (l.right - l.left) * 0.45) }, g);
  label.textContent = (a.tiers.length > 1 ? l.tier + ':' : '') + l.laneInTier;
}

function drawOverlay() {
  const svg = $('overlay');
  svg.replaceChildren();
  const a = state.analysis;
  if (!a) return;
  a.tiers.slice(1).forEach((t) => {
    const at = (x) => t.top + (t.slope || 0) * (x - (t.column || 0));
    el('line', { class: 'tier', x1: 0, x2: state.gel.width, y1: at(0), y2: at(state.gel.width) }, svg);
  });
  a.lanes.forEach((l, k) => drawLane(k, l.left, l.right));
}

function selectLane(k) {
  state.lane = k;
  state.band = -1;
  drawOverlay();
  drawPanel();
}

function selectBand(j) {
  state.band = j;
  drawOverlay();
  drawPanel();
}

const fmt = (v, digits) => (v === null || v === undefined || v === '' ? '' :
  typeof v === 'number' ? (Math.abs(v) >= 1000 ? Math.round(v).toString() : v.toPrecision(digits || 4)) : String(v));

function table(node, head, rows, chosen, onPick) {
  node.replaceChildren();
  const thead = node.createTHead().insertRow();
  head.forEach((h) => { const th = document.createElement('th'); th.textContent = h; thead.appendChild(th); });
  const body = node.createTBody();
  rows.forEach((r, i) => {
    const tr = body.insertRow();
    if (i === chosen) tr.className = 'chosen';
    r.forEach((c) => { tr.insertCell().textContent = c; });
    if (onPick) tr.addEventListener('click', () => onPick(i));
  });
}

function drawPanel() {
  const a = state.analysis;
  const l = a && state.lane >= 0 ? a.lanes[state.lane] : null;
  $('delete-lane').disabled = !l;
  $('delete-band').disabled = !l || state.band < 0;
  $('is-ladder').disabled = !l;
  $('is-ladder').checked = !!l && isLadder(l);
  $('lane-title').textContent = l ? 'Lane ' + l.laneInTier + (a.tiers.length > 1 ? ' of tier ' + l.tier : '') +
    ' (' + l.bands.length + ' bands)' : 'No lane chosen';
  drawProfile(l);
  const sized = a && a.calibrations;
  table($('band-table'), ['band', 'peak', 'rows', 'volume', 'relative', sized ? 'size' : '', 'flags'],
    l ? l.bands.map((b) => [b.band, fmt(b.peakY), b.top + '-' + b.bottom, fmt(b.correctedVolume, 6),
      fmt(b.relativeVolume, 3), sized && b.size ? fmt(b.size, 4) + (b.extrapolated ? '*' : '') : '',
      [b.volumeIsLowerBound ? 'saturated' : '', b.diffuse ? 'diffuse' : '', b.shoulder ? 'shoulder' : ''].filter((x) => x).join(' ')]) : [],
    state.band, (j) => selectBand(j));
  table($('lane-table'), ['tier', 'lane', 'centre', 'width', 'bands'],
    a ? a.lanes.map((x) => [x.tier, x.laneInTier, fmt(x.centre), fmt(x.right - x.left), x.bands.length]) : [],
    state.lane, (k) => selectLane(k));
  const w = $('warnings');
  w.replaceChildren();
  (a ? a.warnings : []).forEach((x) => { const li = document.createElement('li'); li.textContent = x.text; w.appendChild(li); });
}

// The profile runs down the lane's rows from left to right; bands are shaded where their rows lie.
function drawProfile(l) {
  const svg = $('profile');
  svg.replaceChildren();
  if (!l) return;
  const p = l.profile;
  const n = p.values.length;
  if (!n) return;
  const lo = Math.min(...p.values), hi = Math.max(...p.values);
  const H = 100, span = hi > lo ? hi - lo : 1;
  svg.setAttribute('viewBox', p.top + ' 0 ' + n + ' ' + H);
  svg.setAttribute('preserveAspectRatio', 'none');
  l.bands.forEach((b, j) => {
    el('rect', { class: 'band' + (j === state.band ? ' chosen' : ''), x: b.top, y: 0, width: b.bottom + 1 - b.top,
      height: H, 'data-band': j }, svg);
  });
  el('polyline', { class: 'line', points: p.values.map((v, i) => (p.top + i + 0.5) + ',' + (H - 4 - (v - lo) / span * (H - 8))).join(' ') }, svg);
}

function setupProfile() {
  const svg = $('profile');
  let drag = null;
  const rowAt = (ev) => {
    const l = state.analysis.lanes[state.lane];
    const r = svg.getBoundingClientRect();
    const n = l.profile.values.length;
    return Math.max(l.profile.top, Math.min(l.profile.top + n, Math.round(l.profile.top + (ev.clientX - r.left) / r.width * n)));
  };
  svg.addEventListener('pointerdown', (ev) => {
    if (!state.analysis || state.lane < 0) return;
    if (ev.target.dataset.band !== undefined) {
      selectBand(Number(ev.target.dataset.band));
      return;
    }
    drag = { from: rowAt(ev), to: rowAt(ev), rect: el('rect', { class: 'drag', y: 0, height: 100 }, svg) };
    svg.setPointerCapture(ev.pointerId);
  });
  svg.addEventListener('pointermove', (ev) => {
    if (!drag) return;
    drag.to = rowAt(ev);
    drag.rect.setAttribute('x', Math.min(drag.from, drag.to));
    drag.rect.setAttribute('width', Math.abs(drag.to - drag.from));
  });
  svg.addEventListener('pointerup', () => {
    if (!drag) return;
    const d = drag;
    drag = null;
    d.rect.remove();
    if (Math.abs(d.to - d.from) >= 2) addBand(Math.min(d.from, d.to), Math.max(d.from, d.to));
  });
}

// ---- controls --------------------------------------------------------------------------------

function setup() {
  setupStage();
  setupProfile();
  $('gel').addEventListener('change', () => openGel(Number($('gel').value)));
  $('prev').addEventListener('click', () => state.index > 0 && openGel(state.index - 1));
  $('next').addEventListener('click', () => state.index + 1 < state.gels.length && openGel(state.index + 1));
  for (const id of ['palette', 'brightness', 'contrast', 'gamma', 'saturated'])
    $(id).addEventListener('change', () => { if (state.gel) loadPreview(); });
  $('fit').addEventListener('click', fitView);
  $('add-lane').addEventListener('click', () => setAdding(!state.adding));
  $('delete-lane').addEventListener('click', deleteLane);
  $('delete-band').addEventListener('click', deleteBand);
  $('undo').addEventListener('click', () => {
    const previous = state.history.pop();
    if (!previous) return;
    state.edits = previous.edits;
    state.ladder = previous.ladder;
    analyse(null);
  });
  $('is-ladder').addEventListener('change', () => {
    const l = state.analysis.lanes[state.lane];
    const ref = laneRef(l);
    const on = $('is-ladder').checked;
    edit(() => {
      state.ladder = on ? state.ladder.concat([ref]) : state.ladder.filter((r) => r !== ref && r !== String(l.laneInTier));
    });
  });
  $('sizes').addEventListener('change', () => edit(() => { state.sizes = $('sizes').value; }));
  $('fit-kind').addEventListener('change', () => edit(() => { state.fit = $('fit-kind').value; }));
  $('save').addEventListener('click', save);
  document.addEventListener('keydown', (ev) => {
    if (ev.target.tagName === 'INPUT') return;
    if (ev.key === 'Delete' || ev.key === 'Backspace') {
      if (state.band >= 0) deleteBand();
      else deleteLane();
    } else if (ev.key === 'Escape') {
      setAdding(false);
    }
  });
  window.addEventListener('resize', scheduleTiles);
  start();
}

setup();
