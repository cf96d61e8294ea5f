// The live view in a real browser: Debian's chromium, headless, driven by puppeteer-core against
// `tarvex --demo --demo-virtual-clock view` on a loopback port.
//
//   TARVEX_TOOL=build/release/tools/tarvex node --test view.test.mjs
//   VIEW_SCREENSHOT=docs/view.png  also saves the page, with the mask on, as a picture
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import puppeteer from 'puppeteer-core';

const tool = process.env.TARVEX_TOOL;
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const token = 'browser-test-token-0123456789';

let server;
let browser;
let page;
let profile;
const consoleErrors = [];

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = createServer();
    probe.once('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

// Starts the view and resolves with the URL it prints.
function startView(port) {
  const child = spawn(tool, ['--demo', '--demo-virtual-clock', 'view', '--port', String(port),
                             '--token', token], { stdio: ['ignore', 'pipe', 'pipe'] });
  child.stderrText = '';
  child.stderr.on('data', (chunk) => { child.stderrText += chunk; });
  const url = new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const line = out.split('\n').find((l) => l.startsWith('http://'));
      if (line) resolve(line.trim());
    });
    child.once('exit', (code) => reject(new Error(`tarvex view ended (${code}): ${child.stderrText}`)));
  });
  return { child, url };
}

const viewState = () => page.evaluate(() => ({
  framesDrawn: window.tarvexView.framesDrawn,
  layoutId: window.tarvexView.layoutId,
  hitTotal: window.tarvexView.hitTotal,
  header: window.tarvexView.header,
}));

async function waitFor(predicate, what, timeoutMs = 10000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const state = await viewState();
    if (predicate(state)) return state;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// The plot's pixels: how many are lit by samples, and a digest to tell two pictures apart.
const plotPixels = () => page.evaluate(() => {
  const canvas = document.getElementById('eye');
  const data = canvas.getContext('2d').getImageData(84, 72, canvas.width - 84 - 118,
                                                    canvas.height - 72 - 66).data;
  let lit = 0;
  let digest = 0;
  for (let i = 0; i < data.length; i += 4) {
    // Samples are coloured from the palette; the plot's background is black and the
    // graticule grey.
    const r = data[i], g = data[i + 1], b = data[i + 2];
    if (Math.max(r, g, b) - Math.min(r, g, b) > 40) lit += 1;
    digest = (digest * 31 + r * 7 + g * 3 + b) >>> 0;
  }
  return { lit, total: data.length / 4, digest };
});

const measurement = (name) => page.$eval(`#measurements tr[data-name="${name}"] td.value`,
                                         (cell) => cell.textContent);

before(async () => {
  assert.ok(tool, 'TARVEX_TOOL names the built tarvex tool');
  server = startView(await freePort());
  const url = await server.url;
  profile = mkdtempSync(join(tmpdir(), 'tarvex-view-chromium-'));
  browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    defaultViewport: { width: 1400, height: 960 },
  });
  page = await browser.newPage();
  page.on('console', (message) => {
    if (message.type() === 'error') consoleErrors.push(message.text());
  });
  page.on('pageerror', (error) => consoleErrors.push(error.message));
  await page.goto(url, { waitUntil: 'load' });
});

after(async () => {
  if (browser) await browser.close();
  if (server) {
    const ended = new Promise((resolve) => server.child.once('exit', (code) => resolve(code)));
    server.child.kill('SIGINT');
    assert.equal(await ended, 0, `tarvex view did not stop cleanly: ${server.child.stderrText}`);
  }
  if (profile) rmSync(profile, { recursive: true, force: true });
});

test('the page loads and draws the eye, and the eye changes from frame to frame', async () => {
  const first = await waitFor((s) => s.framesDrawn >= 1, 'the first frame');
  assert.equal(first.header.board.state, 'running');
  const before = await plotPixels();
  // A demo eye of 256 packets lights a good part of the plot.
  assert.ok(before.lit > before.total * 0.02, `only ${before.lit} of ${before.total} pixels lit`);
  await waitFor((s) => s.framesDrawn >= first.framesDrawn + 3, 'three more frames');
  const later = await plotPixels();
  assert.notEqual(later.digest, before.digest, 'the eye did not change between frames');
  assert.ok(later.lit >= before.lit, 'persistence should only add hits');
});

test('at least 20 frames of 256 packets a second reach the page and are drawn', async () => {
  const start = await viewState();
  const startedAt = Date.now();
  await new Promise((resolve) => setTimeout(resolve, 3000));
  const end = await viewState();
  const seconds = (Date.now() - startedAt) / 1000;
  const rate = (end.framesDrawn - start.framesDrawn) / seconds;
  assert.equal(end.header.capture.packets, 256);
  console.log(`# frames drawn: ${rate.toFixed(1)} per second; captured: ${end.header.board.framesPerSecond.toFixed(1)}`);
  assert.ok(rate >= 20, `${rate.toFixed(1)} frames per second drawn`);
});

test('the measurements show plausible values for the demo signal', async () => {
  // A frame of 256 packets now and then has too few edges for the jitter (the page says "not
  // measurable" then): the values are read from one that has them.
  await page.waitForFunction(() => {
    const cell = document.querySelector('#measurements tr[data-name="jitterRms"] td.value');
    return cell && / ps$/.test(cell.textContent);
  }, { timeout: 10000 });
  const number = (text) => parseFloat(text);
  // The demo board's levels are codes 800 and 3300, its noise 18 codes and jitter 8 ps rms.
  const one = number(await measurement('oneLevel'));
  const zero = number(await measurement('zeroLevel'));
  assert.ok(Math.abs(one - 3300) < 60, `one level ${one}`);
  assert.ok(Math.abs(zero - 800) < 60, `zero level ${zero}`);
  const noise = number(await measurement('oneNoise'));
  assert.ok(noise > 10 && noise < 30, `one noise ${noise}`);
  const jitter = await measurement('jitterRms');
  assert.match(jitter, / ps$/);
  assert.ok(number(jitter) > 3 && number(jitter) < 20, `jitter ${jitter}`);
  assert.match(await measurement('crossingPercent'), /^(4[5-9]|5[0-5])\.\d %$/);
});

test('the mask is drawn with its margin and result', async () => {
  await page.select('#mask-kind', 'hexagon');
  await page.click('#mask-apply');
  await page.waitForFunction(
    () => /margin -?\d+\.\d %/.test(document.getElementById('mask-result').textContent),
    { timeout: 10000 });
  const text = await page.$eval('#mask-result', (p) => p.textContent);
  // The demo eye is wide open: the default hexagon passes with room to spare.
  assert.match(text, /^pass: none of \d+ samples in the mask, margin \d+\.\d %$/);
  await waitFor((s) => s.header.mask && s.header.mask.regions[0].outline.length === 6,
                'a frame tested against the hexagon');
  if (process.env.VIEW_SCREENSHOT) {
    await new Promise((resolve) => setTimeout(resolve, 1500));  // some persistence
    await page.screenshot({ path: process.env.VIEW_SCREENSHOT });
  }
});

test('changing the data rate reaches the server and changes the eye', async () => {
  const before = await viewState();
  const pixels = await plotPixels();
  await page.$eval('#data-rate', (input) => { input.value = ''; });
  await page.type('#data-rate', '1.2G');
  await page.click('#apply');
  const after = await waitFor((s) => s.header.settings && s.header.settings.dataRate === 1.2e9 &&
                                     s.header.layout && s.layoutId !== before.layoutId,
                              'a frame folded at 1.2 Gb/s');
  assert.match(after.header.layout.title, /1\.2 Gb\/s data/);
  assert.notEqual((await plotPixels()).digest, pixels.digest);
  const state = await page.evaluate(async (t) => (await fetch('/api/state',
    { headers: { 'X-Tarvex-Token': t } })).json(), token);
  assert.equal(state.settings.dataRate, 1.2e9);
});

test('a wrong value is refused with the server\'s sentence and changes nothing', async () => {
  const errorsBefore = consoleErrors.length;
  await page.$eval('#data-rate', (input) => { input.value = 'fast'; });
  await page.click('#apply');
  await page.waitForFunction(() => document.getElementById('error').textContent !== '');
  assert.match(await page.$eval('#error', (p) => p.textContent), /^dataRate must be a rate/);
  const state = await viewState();
  assert.equal(state.header.settings.dataRate, 1.2e9);
  // The browser reports the refused request itself as a failed load: that one is expected.
  consoleErrors.splice(errorsBefore).forEach((text) => assert.match(text, /400/));
});

test('the page logged no errors', () => {
  assert.deepEqual(consoleErrors, []);
});
