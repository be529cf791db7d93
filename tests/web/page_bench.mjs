// How the orvelnode page copes with a large model, in headless Chromium
// against a real orvelnode: a benchmark to read, not a test (it always
// exits 0 once it has measured; the targets are printed beside the medians).
//
//   node tests/web/page_bench.mjs [ORVELNODE]
//
// For a context of 10,000 objects (a root, 100 groups of 99 values of mixed
// data types) and one of 100,000 (1,000 groups of 99), each in a manifest
// of its own with one sample context, it measures
//   - the time from navigation to the first controls visible (painted), on a
//     fresh browser context each run;
//   - the time from a write on orvelnode's standard input
//     (sample.<context>.setValue) to the page's control holding the value.
//
// $RUNS (default 5) page loads and $EDITS (default 20) writes per size;
// $SIZES (default "10000,100000") the sizes; $CHROMIUM the browser.
import { spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import readline from 'node:readline';
import puppeteer from 'puppeteer-core';
import { CHROMIUM_ARGS, chromiumPath, hostPath, withTimeout } from './support.mjs';

const RUNS = Number(process.env.RUNS || 5);
const EDITS = Number(process.env.EDITS || 20);
const SIZES = (process.env.SIZES || '10000,100000').split(',').map(Number);
const PER_GROUP = 99;
const CONTEXT = 'bench';
const TARGET_FIRST_MS = 1000;
const TARGET_EDIT_MS = 50;
const START_MS = 600000;  // 100,000 objects take a while to load on a slow machine
const WAIT_MS = 60000;

const now = () => performance.timeOrigin + performance.now();

// One value of each kind the page draws, in turn.
const KINDS = [
  (i) => ({ type: 'number', value: i / 4 }),
  (i) => ({ type: 'integer', min: 0, max: 100000, step: 1, value: i }),
  (i) => ({ type: 'length', unit: 'mm', min: 0, value: i }),
  (i) => ({ type: 'angle', unit: 'deg', min: -180, max: 180, value: i % 180 }),
  (i) => ({ type: 'ratio', min: 0, max: 1, step: 0.01, value: (i % 100) / 100 }),
  (i) => ({ type: 'boolean', value: i % 2 === 0 }),
  (i) => ({ type: 'string', value: `text ${i}` }),
  (i) => ({ type: 'choice', possibleValues: ['oak', 'steel', 'glass'], value: 'steel' }),
  () => ({ type: 'color', value: '#3366cc' }),
  (i) => ({ type: '3DLengthVector', unit: 'mm', min: 0, value: [i, i + 1, i + 2] }),
];
const LENGTH_KIND = 2;

function writeManifest(dir, groups) {
  const children = [];
  for (let g = 0; g < groups; g++) {
    const values = [];
    for (let i = 0; i < PER_GROUP; i++) {
      values.push({ id: `g${g}-v${i}`, label: `Value ${i}`, ...KINDS[i % KINDS.length](i) });
    }
    children.push({ id: `g${g}`, name: `Group ${g}`, children: values });
  }
  const manifest = {
    plugins: ['vorn_basic_tweakers', 'orvel_sample'],
    dataTypes: ['VornBasicDataTypes'],
    contexts: [{
      library: 'orvel_sample', class: 'SampleContext', name: CONTEXT, namespace: 'sample',
      views: [{ library: 'vorn_basic_tweakers', class: 'VornFormView' }],
      initialData: { id: 'all', name: 'All groups', children },
    }],
  };
  const file = path.join(dir, `manifest-${groups}.json`);
  fs.writeFileSync(file, JSON.stringify(manifest));
  return file;
}


async function startHost(manifest) {
  const token = crypto.randomBytes(24).toString('hex');
  const child = spawn(hostPath, ['--listen', '0', '--token', token, manifest], { stdio: ['pipe', 'pipe', 'pipe'] });
  const pending = new Map();
  let nextId = 1;
  readline.createInterface({ input: child.stdout }).on('line', (line) => {
    const message = JSON.parse(line);
    if (message.id !== undefined) pending.get(message.id)?.(message);
  });
  const request = (method, params) => {
    const id = nextId++;
    const answer = new Promise((resolve) => pending.set(id, resolve));
    child.stdin.write(`${JSON.stringify({ jsonrpc: '2.0', id, method, params })}\n`);
    return withTimeout(answer, WAIT_MS, method);
  };
  const url = await withTimeout(new Promise((resolve, reject) => {
    readline.createInterface({ input: child.stderr }).on('line', (line) => {
      const match = /^orvelnode: listening on (http:\/\/\S+)/.exec(line);
      if (match) resolve(match[1]);
    });
    child.once('exit', (code) => reject(new Error(`orvelnode ended (status ${code}) before listening`)));
  }), START_MS, 'orvelnode to load the manifest');
  const stop = async () => {
    const exited = new Promise((resolve) => child.once('exit', resolve));
    child.stdin.end();
    await withTimeout(exited, WAIT_MS, 'orvelnode to exit').catch(() => child.kill('SIGKILL'));
  };
  return { child, request, url, stop };
}

// In the page, before its own scripts: the time (from navigation) at which
// a control is first in the viewport, the frame that shows it, and the
// frame after the page has built every row of its first answer (it builds
// them in slices after the first screenful, marking the view aria-busy).
function watchFirstControls() {
  const whole = () => {
    if (document.getElementById('view-body').hasAttribute('aria-busy')) requestAnimationFrame(whole);
    else window.wholeAnswer = performance.now();
  };
  const visible = () => {
    const control = document.querySelector('[data-object]');
    if (!control) return false;
    const box = control.getBoundingClientRect();
    return box.width > 0 && box.height > 0 && box.top < innerHeight;
  };
  new MutationObserver((_, observer) => {
    if (!visible()) return;
    observer.disconnect();
    const inDocument = performance.now();
    requestAnimationFrame(() => setTimeout(() => {
      window.firstControls = { inDocument, painted: performance.now() };
      whole();
    }));
  }).observe(document, { childList: true, subtree: true });
}

// In the page: resolves with the time a control first holds the value,
// checked on every turn of the event loop (a MessageChannel ping).
function watchValue(id, expected) {
  const control = document.querySelector(`[data-object="${id}"]`);
  const channel = new MessageChannel();
  window.valueSeen = new Promise((resolve) => {
    channel.port1.onmessage = () => {
      if (control.value === expected) resolve(performance.timeOrigin + performance.now());
      else channel.port2.postMessage(0);
    };
    channel.port2.postMessage(0);
  });
}

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
};
const percentile = (values, p) => [...values].sort((a, b) => a - b)[Math.min(values.length - 1, Math.floor(values.length * p))];
const ms = (value) => `${value.toFixed(value < 10 ? 1 : 0)} ms`;
const verdict = (value, target) => (value < target ? 'met' : 'MISSED');

async function firstControls(browser, url) {
  const context = await browser.createBrowserContext();
  try {
    const page = await context.newPage();
    await page.setViewport({ width: 1024, height: 768 });
    await page.evaluateOnNewDocument(watchFirstControls);
    await page.goto(`${url}#${CONTEXT}`, { waitUntil: 'domcontentloaded', timeout: WAIT_MS });
    await page.waitForFunction(() => window.wholeAnswer, { timeout: WAIT_MS });
    const times = await page.evaluate(() => ({ ...window.firstControls, wholeAnswer: window.wholeAnswer }));
    const shown = await page.evaluate(() => ({
      controls: document.querySelectorAll('.tweaker').length,
      closed: document.querySelectorAll('details.group.paged').length,
    }));
    return { ...times, ...shown };
  } finally {
    await context.close();
  }
}

async function editLatencies(browser, host) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1024, height: 768 });
  await page.goto(`${host.url}#${CONTEXT}`, { waitUntil: 'load', timeout: WAIT_MS });
  await page.waitForSelector('#view-body:not([aria-busy]) [data-object]', { timeout: WAIT_MS });
  // Lengths of the groups the first answer held, spread over them.
  const targets = await page.$$eval('.kind-number input[data-object]', (inputs, kind, count) => {
    const ids = inputs.map((input) => input.dataset.object).filter((id) => Number(id.split('-v')[1]) % 10 === kind);
    return Array.from({ length: count }, (_, i) => ids[Math.floor((i * ids.length) / count)]);
  }, LENGTH_KIND, EDITS);
  const latencies = [];
  for (const [n, id] of targets.entries()) {
    const value = 50000 + n;
    await page.evaluate(watchValue, id, String(value));
    const sent = now();
    const answer = await host.request(`sample.${CONTEXT}.setValue`, { id, value });
    if (answer.error) throw new Error(`setValue ${id}: ${answer.error.message}`);
    const seen = await page.evaluate(() => window.valueSeen);
    latencies.push(seen - sent);
  }
  await page.close();
  return latencies;
}

async function measure(browser, dir, objects) {
  const groups = Math.max(1, Math.round(objects / (PER_GROUP + 1)));  // a group and its values
  const total = 1 + groups * (PER_GROUP + 1);
  console.log(`\n${total.toLocaleString('en')} objects: a root, ${groups.toLocaleString('en')} groups of ${PER_GROUP} values`);
  const manifest = writeManifest(dir, groups);
  const started = now();
  const host = await startHost(manifest);
  console.log(`  orvelnode loaded it in ${((now() - started) / 1000).toFixed(1)} s (not measured against a target)`);
  try {
    const loads = [];
    for (let run = 0; run < RUNS; run++) loads.push(await firstControls(browser, host.url));
    const painted = loads.map((l) => l.painted);
    console.log(`  first answer: ${loads[0].controls} controls and ${loads[0].closed} closed groups (read when opened), ` +
      `all drawn after ${ms(median(loads.map((l) => l.wholeAnswer)))} (median)`);
    console.log(`  first controls visible: median ${ms(median(painted))} (in the document ${ms(median(loads.map((l) => l.inDocument)))}), ` +
      `runs ${painted.map((t) => Math.round(t)).join(', ')}; target < ${TARGET_FIRST_MS} ms: ${verdict(median(painted), TARGET_FIRST_MS)}`);
    const latencies = await editLatencies(browser, host);
    console.log(`  stdio setValue -> control shows it: median ${ms(median(latencies))}, 90th percentile ${ms(percentile(latencies, 0.9))}, ` +
      `${latencies.length} writes; target < ${TARGET_EDIT_MS} ms: ${verdict(median(latencies), TARGET_EDIT_MS)}`);
  } finally {
    await host.stop();
  }
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvel-page-bench-'));
let browser;
try {
  console.log(`page_bench: ${hostPath}; ${chromiumPath}; ${RUNS} page loads and ${EDITS} writes per size`);
  browser = await puppeteer.launch({
    executablePath: chromiumPath,
    headless: false,  // the flag is given below, as the plain --headless
    userDataDir: path.join(dir, 'chromium'),
    args: CHROMIUM_ARGS,
    protocolTimeout: WAIT_MS * 2,
  });
  for (const size of SIZES) await measure(browser, dir, size);
} catch (error) {
  console.error(error.stack || String(error));
  process.exitCode = 1;
} finally {
  await browser?.close().catch(() => {});
  fs.rmSync(dir, { recursive: true, force: true });
}
