// The live eye of `tarvex view`.  The server captures, folds, measures and counts the hits into
// a grid; this page adds the grids up (persistence), colours them as the tool's PNG does (the
// palette, theme and axes come from the server) and offers the settings the server takes.
'use strict';

const token = new URLSearchParams(location.search).get('token') || '';
const $ = (id) => document.getElementById(id);

// What the browser test reads: frames drawn, the rate, the newest header.
const stats = { framesDrawn: 0, fps: 0, header: null, hitTotal: 0, layoutId: 0, drawMs: 0 };
window.tarvexView = stats;

let config = null;
let settings = null;
const grid = {
  layout: null,     // the server's layout the cells belong to
  hits: null,       // Float64Array: summed hits per cell
  fails: null,      // the hits of samples inside the mask
  ring: [],         // the frames still counted, when decaying
};
let lastSeq = 0;
let lastFrame = null;  // {header, hits, fails}
const drawTimes = [];

// ---- talking to the server ----------------------------------------------------------------------

function api(path, options = {}) {
  const headers = Object.assign({ 'X-Tarvex-Token': token }, options.headers || {});
  return fetch(path, Object.assign({}, options, { headers, cache: 'no-store' }));
}

async function post(path, body) {
  const response = await api(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
  const text = await response.text();
  if (!response.ok) {
    showError(text.trim());
    return null;
  }
  showError('');
  return JSON.parse(text);
}

function showError(text) {
  $('error').textContent = text;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ---- frames ------------------------------------------------------------------------------------

// Unsigned LEB128 numbers: [value, next position].
function leb128(bytes, at) {
  let value = 0;
  let scale = 1;
  for (;;) {
    const byte = bytes[at++];
    value += (byte & 0x7f) * scale;
    if ((byte & 0x80) === 0) return [value, at];
    scale *= 128;
  }
}

// The packed cells (view_frame.h): pairs of (empty cells skipped, hits).
function unpackCells(bytes) {
  const cells = [];
  let cell = -1;
  for (let at = 0; at < bytes.length;) {
    let skipped;
    let hits;
    [skipped, at] = leb128(bytes, at);
    [hits, at] = leb128(bytes, at);
    cell += skipped + 1;
    cells.push(cell, hits);
  }
  return cells;
}

function decodeFrame(buffer) {
  const bytes = new Uint8Array(buffer);
  const view = new DataView(buffer);
  if (bytes.length < 16 || String.fromCharCode(...bytes.subarray(0, 4)) !== 'TVX1')
    throw new Error('not a frame');
  const jsonBytes = view.getUint32(4, true);
  const hitBytes = view.getUint32(8, true);
  const failBytes = view.getUint32(12, true);
  let at = 16;
  const header = JSON.parse(new TextDecoder().decode(bytes.subarray(at, at + jsonBytes)));
  at += jsonBytes;
  const hits = unpackCells(bytes.subarray(at, at + hitBytes));
  at += hitBytes;
  const fails = unpackCells(bytes.subarray(at, at + failBytes));
  return { header, hits, fails };
}

function clearGrid() {
  if (!grid.layout) return;
  const cells = grid.layout.columns * grid.layout.rows;
  grid.hits = new Float64Array(cells);
  grid.fails = new Float64Array(cells);
  grid.ring = [];
}

function addCells(target, cells, sign) {
  for (let i = 0; i < cells.length; i += 2) target[cells[i]] += sign * cells[i + 1];
}

function persist(frame) {
  const layout = frame.header.layout;
  if (!grid.layout || grid.layout.id !== layout.id) {
    grid.layout = layout;
    clearGrid();
  }
  addCells(grid.hits, frame.hits, 1);
  addCells(grid.fails, frame.fails, 1);
  if ($('persistence').value === 'decay') {
    grid.ring.push(frame);
    const keep = Math.max(1, Math.min(1000, parseInt($('decay-frames').value, 10) || 1));
    while (grid.ring.length > keep) {
      const old = grid.ring.shift();
      addCells(grid.hits, old.hits, -1);
      addCells(grid.fails, old.fails, -1);
    }
  } else {
    grid.ring = [];
  }
}

// Frames one after the other; the request for the next goes out before this one is drawn, so
// the wait for it and the drawing overlap.
async function pump() {
  const ask = () => api(`/api/frame?after=${lastSeq}`);
  let pending = ask();
  for (;;) {
    try {
      const response = await pending;
      if (response.status === 204) {
        // The server may have been started anew and count from 1 again.
        const state = await (await api('/api/state')).json();
        if (state.seq < lastSeq) lastSeq = 0;
        pending = ask();
        continue;
      }
      if (!response.ok) {
        showError((await response.text()).trim());
        await sleep(1000);
        pending = ask();
        continue;
      }
      const frame = decodeFrame(await response.arrayBuffer());
      lastSeq = frame.header.seq;
      pending = ask();
      onFrame(frame);
    } catch (error) {
      setState('gone', 'the server does not answer: is tarvex view still running?');
      await sleep(1000);
      pending = ask();
    }
  }
}

function onFrame(frame) {
  const header = frame.header;
  stats.header = header;
  if (header.settings) showSettings(header.settings, false);
  if (header.board) showBoard(header.board);
  if (header.error) showError(header.error);
  if (!header.layout) return;  // a state without an eye
  if (settings && settings.run) {
    persist(frame);
    lastFrame = frame;
    draw();
    showMeasurements(header.measurements);
    showMask(header.mask);
  }
}

// ---- drawing -----------------------------------------------------------------------------------

const canvas = $('eye');
const context = canvas.getContext('2d');
const plot = { left: 84, top: 72, width: 0, height: 0 };
let palette = [];  // [r, g, b] per step of the shade
let insideColour = [255, 38, 191];  // the samples inside the mask (the theme's)
let image = null;
let imageCanvas = null;

function sizePlot() {
  plot.width = canvas.width - 84 - 118;
  plot.height = canvas.height - 72 - 66;
  imageCanvas = document.createElement('canvas');
}

const uiToX = (ui) => plot.left + (ui - config.uiStart) / (config.uiEnd - config.uiStart) * plot.width;
const codeToY = (code, layout) =>
  plot.top + (layout.yHigh - code) / (layout.yHigh - layout.yLow) * plot.height;

// The tool's log scale (eye_style.h, shade()): a single stray hit and the thick of the levels
// both show.
function shadeIndex(hits, maxHits) {
  const shade = maxHits <= 1 ? 1 : Math.log1p(hits) / Math.log1p(maxHits);
  return Math.max(0, Math.min(palette.length - 1, Math.round(shade * (palette.length - 1))));
}

function text(string, x, y, align = 'left', font = '12px "DejaVu Sans", sans-serif', colour) {
  context.font = font;
  context.textAlign = align;
  context.fillStyle = colour || config.theme.dimText;
  context.fillText(string, x, y);
}

function draw() {
  const began = performance.now();
  const layout = grid.layout;
  const theme = config.theme;
  context.fillStyle = theme.background;
  context.fillRect(0, 0, canvas.width, canvas.height);
  context.fillStyle = theme.plot;
  context.fillRect(plot.left, plot.top, plot.width, plot.height);

  // The graticule, under the samples.
  context.save();
  context.strokeStyle = theme.grid;
  context.lineWidth = 1;
  context.setLineDash([3, 3]);
  context.beginPath();
  const perUi = config.gridLinesPerUi;
  for (let q = Math.ceil(config.uiStart * perUi); q <= Math.floor(config.uiEnd * perUi); ++q) {
    const x = Math.round(uiToX(q / perUi)) + 0.5;
    context.moveTo(x, plot.top);
    context.lineTo(x, plot.top + plot.height);
  }
  for (const code of layout.yTicks) {
    const y = Math.round(codeToY(code, layout)) + 0.5;
    context.moveTo(plot.left, y);
    context.lineTo(plot.left + plot.width, y);
  }
  context.stroke();
  context.restore();

  // The hits: each pixel takes its cell's colour; empty cells stay clear.
  let maxHits = 0;
  let total = 0;
  for (let i = 0; i < grid.hits.length; ++i) {
    const h = grid.hits[i];
    total += h;
    if (h > maxHits) maxHits = h;
  }
  stats.hitTotal = total;
  stats.layoutId = layout.id;
  // The window's cells as a small picture, a pixel a cell, scaled onto the plot without
  // smoothing: the columns from the one holding the window's left edge to the one holding its
  // right edge (column j starts at originPhase - crossingPhase + j / columns UI).
  const columns = layout.columns;
  const start = layout.originPhase - layout.crossingPhase;
  const first = Math.floor((config.uiStart - start) * columns);
  const last = Math.ceil((config.uiEnd - start) * columns);
  const width = last - first;
  if (!image || image.width !== width || image.height !== layout.rows) {
    image = context.createImageData(width, layout.rows);
    imageCanvas.width = width;
    imageCanvas.height = layout.rows;
  }
  const data = image.data;
  data.fill(0);
  for (let x = 0; x < width; ++x) {
    const column = (((first + x) % columns) + columns) % columns;
    for (let row = 0, at = x * 4; row < layout.rows; ++row, at += width * 4) {
      const cell = row * columns + column;
      const h = grid.hits[cell];
      if (h <= 0) continue;  // empty cells stay clear: the graticule shows through
      const c = grid.fails[cell] > 0 ? insideColour : palette[shadeIndex(h, maxHits)];
      data[at] = c[0];
      data[at + 1] = c[1];
      data[at + 2] = c[2];
      data[at + 3] = 255;
    }
  }
  imageCanvas.getContext('2d').putImageData(image, 0, 0);
  context.save();
  context.beginPath();
  context.rect(plot.left, plot.top, plot.width, plot.height);
  context.clip();
  context.imageSmoothingEnabled = false;
  const left = uiToX(start + first / columns);
  context.drawImage(imageCanvas, left, plot.top, uiToX(start + last / columns) - left, plot.height);
  context.restore();

  drawMask(layout);
  drawAxes(layout);
  drawColourBar(maxHits);
  drawTitle(layout);
  countDrawn();
  stats.drawMs = 0.9 * stats.drawMs + 0.1 * (performance.now() - began);
}

function drawMask(layout) {
  const mask = lastFrame && lastFrame.header.mask;
  if (!mask || !mask.regions) return;
  context.save();
  context.beginPath();
  context.rect(plot.left, plot.top, plot.width, plot.height);
  context.clip();
  context.lineWidth = 1.5;
  for (const region of mask.regions) {
    const xs = region.outline.map(([ui]) => ui);
    const left = Math.min(...xs);
    const right = Math.max(...xs);
    // The mask repeats with the eye, a copy in each unit interval shown; a region as wide as the
    // view (the bars) is drawn once, without its copies' seams.
    const spansView = left <= config.uiStart && right >= config.uiEnd;
    context.beginPath();
    for (let k = -2; k <= 2; ++k) {
      if ((spansView && k !== 0) || right + k < config.uiStart || left + k > config.uiEnd) continue;
      region.outline.forEach(([ui, code], i) => {
        const x = uiToX(ui + k);
        const y = codeToY(code, layout);
        if (i === 0) context.moveTo(x, y);
        else context.lineTo(x, y);
      });
      context.closePath();
    }
    context.globalAlpha = 0.28;
    context.fillStyle = config.theme.maskFill;
    context.fill();
    context.globalAlpha = 0.9;
    context.strokeStyle = config.theme.maskEdge;
    context.stroke();
    context.globalAlpha = 1;
  }
  context.restore();
}

function drawAxes(layout) {
  const theme = config.theme;
  context.strokeStyle = theme.frame;
  context.lineWidth = 1;
  context.strokeRect(plot.left - 0.5, plot.top - 0.5, plot.width + 1, plot.height + 1);
  context.beginPath();
  const perUi = config.labelsPerUi;
  for (let h = Math.ceil(config.uiStart * perUi); h <= Math.floor(config.uiEnd * perUi); ++h) {
    const x = uiToX(h / perUi);
    context.moveTo(x, plot.top + plot.height);
    context.lineTo(x, plot.top + plot.height + 5);
    text(String(h / perUi), x, plot.top + plot.height + 20, 'center');
  }
  for (const code of layout.yTicks) {
    const y = codeToY(code, layout);
    context.moveTo(plot.left - 5, y);
    context.lineTo(plot.left, y);
    text(String(code), plot.left - 8, y + 4, 'right');
  }
  context.stroke();
  const font = '13px "DejaVu Sans", sans-serif';
  text(layout.timeTitle, plot.left + plot.width / 2, plot.top + plot.height + 44, 'center', font,
       theme.text);
  context.save();
  context.translate(plot.left - 58, plot.top + plot.height / 2);
  context.rotate(-Math.PI / 2);
  text(layout.codeTitle, 0, 0, 'center', font, theme.text);
  context.restore();
}

function drawColourBar(maxHits) {
  const bar = { left: plot.left + plot.width + 28, top: plot.top + 22, width: 16,
                height: plot.height - 22 };
  const gradient = context.createLinearGradient(0, bar.top + bar.height, 0, bar.top);
  config.palette.forEach((colour, i) => gradient.addColorStop(i / (config.palette.length - 1), colour));
  context.fillStyle = gradient;
  context.fillRect(bar.left, bar.top, bar.width, bar.height);
  context.strokeStyle = config.theme.frame;
  context.strokeRect(bar.left - 0.5, bar.top - 0.5, bar.width + 1, bar.height + 1);
  text('hits', bar.left + bar.width / 2, plot.top + 10, 'center', undefined, config.theme.text);
  const max = Math.round(maxHits);
  text(String(max), bar.left + bar.width + 6, bar.top + 10);
  const middle = Math.round(Math.sqrt(Math.max(maxHits, 1)));
  if (middle > 1 && middle < max) {
    const shade = Math.log1p(middle) / Math.log1p(maxHits);
    text(String(middle), bar.left + bar.width + 6, bar.top + bar.height * (1 - shade) + 5);
  }
  text('1', bar.left + bar.width + 6, bar.top + bar.height);
}

function drawTitle(layout) {
  text(layout.title, canvas.width / 2, 32, 'center', 'bold 20px "DejaVu Sans", sans-serif',
       config.theme.text);
  const capture = lastFrame.header.capture;
  const shown = grid.ring.length > 0 ? `, the last ${grid.ring.length} frames shown` : '';
  text(`${capture.samples} samples from ${capture.packets} packets: ${capture.ok} ok, ` +
       `${capture.short} short, ${capture.failed} failed${shown}`,
       canvas.width / 2, 54, 'center', '13px "DejaVu Sans", sans-serif');
}

function countDrawn() {
  const now = performance.now();
  drawTimes.push(now);
  while (drawTimes.length > 2 && now - drawTimes[0] > 2000) drawTimes.shift();
  stats.framesDrawn += 1;
  stats.fps = drawTimes.length > 1 ? (drawTimes.length - 1) * 1000 / (now - drawTimes[0]) : 0;
}

// ---- the panel ---------------------------------------------------------------------------------

function formatRate(rate, unit) {
  for (const [factor, prefix] of [[1e12, 'T'], [1e9, 'G'], [1e6, 'M'], [1e3, 'k']])
    if (rate >= factor) return `${+(rate / factor).toPrecision(6)}${prefix}`;
  return `${rate}`;
}

function showSettings(next, force) {
  const changed = !settings || JSON.stringify(settings) !== JSON.stringify(next);
  settings = next;
  $('run').textContent = settings.run ? 'Pause' : 'Run';
  if (!changed && !force) return;
  // A field being typed in keeps what is typed.
  const fields = { 'data-rate': formatRate(settings.dataRate), 'sample-rate': formatRate(settings.sampleRate),
                   packets: settings.packets, 'x-scale': settings.xScale };
  for (const [id, value] of Object.entries(fields))
    if (document.activeElement !== $(id)) $(id).value = value;
}

function setState(state, message) {
  const pill = $('state');
  pill.textContent = state;
  pill.className = `pill ${state}`;
  const banner = $('banner');
  banner.hidden = state === 'running' || !message;
  if (!banner.hidden) {
    banner.textContent = state === 'gone'
      ? `No board: ${message}. Looking for it again every half second.` : message;
  }
}

function showBoard(board) {
  setState(board.state, board.message);
  const flags = $('flags');
  flags.textContent = '';
  if (board.flags) {
    for (const flag of config.statusFlags) {
      const span = document.createElement('span');
      span.className = `flag ${board.flags[flag.key] ? 'on' : 'off'}`;
      span.textContent = flag.key;
      span.title = flag.meaning;
      flags.appendChild(span);
    }
  }
  $('temperature').textContent = board.temperature === null ? '' : `${board.temperature} °C`;
  $('rate').textContent = `${stats.fps.toFixed(1)} fps drawn, ${board.framesPerSecond.toFixed(1)} captured`;
  const select = $('board');
  const options = board.boards.map((b) => String(b.index));
  if (options.join() !== [...select.options].map((o) => o.value).join()) {
    select.textContent = '';
    for (const b of board.boards) select.add(new Option(`${b.index}`, String(b.index)));
  }
  if (document.activeElement !== select) select.value = String(board.index);
  $('board-row').hidden = board.boards.length < 2;
}

function formatMeasurement(item) {
  const v = item.value;
  switch (item.unit) {
    case 's': return Math.abs(v) < 1e-9 ? `${(v * 1e12).toPrecision(3)} ps` : `${(v * 1e9).toPrecision(3)} ns`;
    case 'codes': return `${v.toFixed(1)} codes`;
    case '%': return `${v.toFixed(1)} %`;
    default: return v.toFixed(2);
  }
}

function showMeasurements(items) {
  const body = $('measurements').tBodies[0];
  if (body.rows.length !== config.measurements.length) {
    body.textContent = '';
    for (const m of config.measurements) {
      const row = body.insertRow();
      row.dataset.name = m.name;
      row.insertCell().textContent = m.label;
      row.insertCell().className = 'value';
    }
  }
  config.measurements.forEach((m, i) => {
    const item = items[m.name];
    const cell = body.rows[i].cells[1];
    if (item.measurable) {
      cell.textContent = formatMeasurement(item);
      cell.className = 'value';
      cell.title = `from ${item.samples} samples`;
    } else {
      cell.textContent = 'not measurable';
      cell.className = 'value not-measurable';
      cell.title = item.reason;
    }
  });
}

function showMask(mask) {
  const result = $('mask-result');
  if (!mask) {
    result.textContent = '';
    result.className = 'result';
  } else if (mask.error) {
    result.textContent = mask.error;
    result.className = 'result';
  } else {
    const margin = `margin ${mask.marginPercent.toFixed(1)} %`;
    result.textContent = mask.passed
      ? `pass: none of ${mask.testedSamples} samples in the mask, ${margin}`
      : `fail: ${mask.failedSamples} of ${mask.testedSamples} samples in the mask, ${margin}`;
    result.className = `result ${mask.passed ? 'pass' : 'fail'}`;
  }
}

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

function wire() {
  $('apply').addEventListener('click', async () => {
    const answer = await post('/api/settings', {
      dataRate: $('data-rate').value.trim(),
      sampleRate: $('sample-rate').value.trim(),
      packets: Number($('packets').value),
      xScale: Number($('x-scale').value),
    });
    if (answer) showSettings(answer.settings, true);
  });
  for (const id of ['data-rate', 'sample-rate', 'packets', 'x-scale'])
    $(id).addEventListener('keydown', (event) => { if (event.key === 'Enter') $('apply').click(); });
  $('run').addEventListener('click', async () => {
    const answer = await post('/api/settings', { run: !settings.run });
    if (answer) showSettings(answer.settings, true);
  });
  $('board').addEventListener('change', () => post('/api/settings', { board: Number($('board').value) }));
  $('clear').addEventListener('click', () => { clearGrid(); if (lastFrame) draw(); });
  $('persistence').addEventListener('change', clearGrid);
  $('mask-kind').addEventListener('change', () => {
    $('hexagon-fields').hidden = $('mask-kind').value !== 'hexagon';
    $('mask-file-row').hidden = $('mask-kind').value !== 'file';
  });
  $('mask-apply').addEventListener('click', async () => {
    const kind = $('mask-kind').value;
    let request = { kind };
    if (kind === 'hexagon') {
      for (const key of ['x1', 'x2', 'y1', 'y2']) request[key] = Number($(`mask-${key}`).value);
    } else if (kind === 'file') {
      const file = $('mask-file').files[0];
      if (!file) return showError('choose a mask file first');
      request = { kind, name: file.name, text: await file.text() };
    }
    await post('/api/mask', request);
  });
  $('save-png').addEventListener('click', () => {
    canvas.toBlob((blob) => download(blob, `eye-${lastSeq}.png`), 'image/png');
  });
  $('save-csv').addEventListener('click', async () => {
    const response = await api('/api/points.csv');
    if (!response.ok) return showError((await response.text()).trim());
    download(await response.blob(), `eye-${lastSeq}.csv`);
  });
}

async function start() {
  config = await (await api('/api/config')).json();
  const rgb = (hex) => [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16));
  palette = config.palette.map(rgb);
  insideColour = rgb(config.theme.inside);
  const root = document.documentElement.style;
  root.setProperty('--background', config.theme.background);
  root.setProperty('--text', config.theme.text);
  root.setProperty('--dim-text', config.theme.dimText);
  root.setProperty('--grid', config.theme.grid);
  root.setProperty('--frame', config.theme.frame);
  $('packets').max = config.limits.maxPackets;
  $('x-scale').max = config.limits.maxXScale;
  sizePlot();
  wire();
  const state = await (await api('/api/state')).json();
  showSettings(state.settings, true);
  showBoard(state.board);
  if (state.mask) $('mask-kind').value = state.mask.spec.startsWith('hexagon:') ? 'hexagon' : 'file';
  $('mask-kind').dispatchEvent(new Event('change'));
  pump();
}

start().catch((error) => showError(`the page could not start: ${error.message}`));
