// Drives the orvelnode page in headless Chromium against a real orvelnode:
// the host runs with --listen and keeps its standard input and output as a
// second client, so every check crosses between the page and the stdio side.
// The host serves the sample manifest plus one context too large for one
// answer ("many"), and is stopped and started again on the same port and
// token to see the page reconnect.
//
//   node browser_test.mjs [ORVELNODE]
//
// ORVELNODE (or $ORVELNODE): the host, default build/default/apps/orvelnode/orvelnode.
// $CHROMIUM: the browser, default /usr/bin/chromium.
// $SCREENSHOT: when set, a PNG of the page with the gallery context goes there.
import { spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import puppeteer from 'puppeteer-core';
import { CHROMIUM_ARGS, check, chromiumPath, hostPath, root, sleep, tally, withTimeout } from './support.mjs';

const sampleManifest = path.join(root, 'examples/sample/manifest.json');
const WAIT_MS = 10000;
const WHOLE_TEST_MS = 120000;



const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

// JSON-RPC over the host's standard input and output, one message per line.
class StdioClient {
  constructor(child) {
    this.child = child;
    this.nextId = 1000;
    this.pending = new Map();
    this.notifications = [];
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      let message;
      try { message = JSON.parse(line); } catch { return console.log(`(stdout not JSON: ${line})`); }
      if (message.id !== undefined && this.pending.has(message.id)) {
        this.pending.get(message.id)(message);
        this.pending.delete(message.id);
      } else if (message.method) {
        this.notifications.push(message);
      }
    });
  }

  send(message) {
    this.child.stdin.write(`${JSON.stringify(message)}\n`);
  }

  // The whole response (result or error).
  request(method, params, id = this.nextId++) {
    const answer = new Promise((resolve) => this.pending.set(id, resolve));
    const message = { jsonrpc: '2.0', id, method };
    if (params !== undefined) message.params = params;
    this.send(message);
    return withTimeout(answer, WAIT_MS, `stdio ${method}`);
  }

  // A function of a sample context (sample.<context>.<name>).
  sample(context, name, args) {
    return this.request(`sample.${context}.${name}`, args);
  }

  async modelValue(objectId, context = 'demo') {
    const response = await this.request('vorn.getTree', { context });
    const find = (node) => {
      if (!node) return undefined;
      if (node.id === objectId) return node;
      for (const child of node.children || []) {
        const found = find(child);
        if (found) return found;
      }
      return undefined;
    };
    return find(response.result?.tree)?.value;
  }

  // Polls the model until the object holds the value; the last value read.
  async waitForModel(objectId, expected, context = 'demo') {
    const deadline = Date.now() + WAIT_MS;
    let value;
    do {
      value = await this.modelValue(objectId, context);
      if (same(value, expected)) return value;
      await sleep(100);
    } while (Date.now() < deadline);
    return value;
  }
}

// The sample manifest plus "many": blocks of 700, 700 and 2100 numbers,
// more than one vorn.describeView answer holds (2000 nodes), so the last
// block is paged, and is itself wider than one answer.
const MANY = [700, 700, 2100];
function writeManifest(dir) {
  const manifest = JSON.parse(fs.readFileSync(sampleManifest, 'utf8'));
  const block = (size, b) => ({
    id: `m${b + 1}`, name: `Block ${b + 1}`,
    children: Array.from({ length: size }, (_, i) => ({ id: `m${b + 1}-${i}`, label: `Row ${i}`, type: 'number', value: i })),
  });
  manifest.contexts.push({
    library: 'orvel_sample', class: 'SampleContext', name: 'many', namespace: 'sample',
    views: [{ library: 'vorn_basic_tweakers', class: 'VornFormView' }],
    initialData: { id: 'rows', name: 'Rows', children: MANY.map(block) },
  });
  const file = path.join(dir, 'manifest.json');
  fs.writeFileSync(file, JSON.stringify(manifest));
  return file;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// Starts orvelnode; resolves once it prints its address.
async function startHost(manifest, port, token) {
  const child = spawn(hostPath, ['--listen', String(port), '--token', token, manifest], { cwd: root, stdio: ['pipe', 'pipe', 'pipe'] });
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  const stdio = new StdioClient(child);
  const lines = readline.createInterface({ input: child.stderr });
  const url = await withTimeout(new Promise((resolve, reject) => {
    lines.on('line', (line) => {
      const match = /^orvelnode: listening on (http:\/\/\S+)/.exec(line);
      if (match) resolve(match[1]);
      else if (!/No tweaker for data type "handleSpec"/.test(line)) console.log(`(orvelnode) ${line}`);
    });
    child.once('exit', (code) => reject(new Error(`orvelnode ended (status ${code}) before listening`)));
    child.once('error', reject);
  }), WAIT_MS, 'orvelnode to print its address');
  return { child, stdio, url, exited };
}

async function stopHost(host, id) {
  const bye = await host.stdio.request('shutdown', undefined, id);
  host.child.stdin.end();
  const end = await withTimeout(host.exited, WAIT_MS, 'orvelnode to exit');
  return { bye, end };
}

// What the page shows for every control, by model object.
function readControls(page) {
  return page.evaluate(() => {
    const out = {};
    for (const element of document.querySelectorAll('[data-object]')) {
      const entry = out[element.dataset.object] ??= { controls: [] };
      entry.controls.push({
        tag: element.tagName.toLowerCase(),
        type: element.type,
        value: element.value,
        checked: element.checked,
        tweaker: element.dataset.tweaker,
        options: element.tagName === 'SELECT' ? [...element.options].map((o) => o.value) : undefined,
      });
      const row = element.closest('.tweaker');
      entry.label = row?.querySelector('.name')?.textContent;
      entry.unit = row?.querySelector('.unit')?.textContent;
    }
    out.groups = [...document.querySelectorAll('.group > summary')].map((summary) => summary.textContent);
    return out;
  });
}

// Each shown object's controls, as a short signature read from the page:
// the controls' kinds ("number×3"), the grid they form when several number
// fields show one value ("1x3"), the integer step, the unit.
function controlSignatures(page) {
  return page.evaluate(() => {
    const out = {};
    const byObject = new Map();
    for (const element of document.querySelectorAll('[data-object]')) {
      if (!byObject.has(element.dataset.object)) byObject.set(element.dataset.object, []);
      byObject.get(element.dataset.object).push(element);
    }
    for (const [id, controls] of byObject) {
      const kinds = controls.map((c) => (c.tagName === 'INPUT' ? c.type : c.tagName.toLowerCase()));
      let text = kinds.every((k) => k === kinds[0]) && kinds.length > 1 ? `${kinds[0]}×${kinds.length}` : kinds.join('+');
      if (kinds.length > 1 && kinds.every((k) => k === 'number')) {
        const rows = new Set(controls.map((c) => Math.round(c.getBoundingClientRect().top))).size;
        const columns = new Set(controls.map((c) => Math.round(c.getBoundingClientRect().left))).size;
        text += ` ${rows}x${columns}`;
      }
      if (kinds[0] === 'number' && controls[0].step === '1') text += ' step 1';
      const unit = controls[0].closest('.tweaker')?.querySelector('.unit')?.textContent;
      if (unit) text += ` ${unit}`;
      out[id] = text;
    }
    return out;
  });
}

// What each control shows: a field's value, a checkbox's state, an output's text.
function shownValues(page) {
  return page.evaluate(() => {
    const out = {};
    for (const c of document.querySelectorAll('[data-object]')) {
      const shown = c.type === 'checkbox' ? c.checked : c.tagName === 'OUTPUT' ? c.textContent : c.value;
      (out[c.dataset.object] ??= []).push(shown);
    }
    return out;
  });
}

// Sets a control's value the way a user's edit ends: input, then change.
function setControl(page, selector, value, index = 0) {
  return page.$$eval(selector, (elements, v, i) => {
    const element = elements[i];
    element.focus();
    element.value = v;
    element.dispatchEvent(new Event('input', { bubbles: true }));
    element.dispatchEvent(new Event('change', { bubbles: true }));
    element.blur();
  }, value, index);
}

async function waitFor(page, fn, ...args) {
  try {
    await page.waitForFunction(fn, { timeout: WAIT_MS }, ...args);
    return true;
  } catch {
    return false;
  }
}

// Groups of a long page are laid out as they come into view, which moves
// what lies below them: a click must wait until its target stays put, or
// it lands on whatever moved under the pointer.
async function clickSettled(page, selector) {
  await page.$eval(selector, (element) => element.scrollIntoView({ block: 'center' }));
  await page.waitForFunction((s) => new Promise((resolve) => {
    const top = () => document.querySelector(s)?.getBoundingClientRect().top;
    const before = top();
    requestAnimationFrame(() => requestAnimationFrame(() => resolve(before !== undefined && top() === before)));
  }), { timeout: WAIT_MS }, selector);
  await page.click(selector);
}

function waitForValue(page, selector, value) {
  return waitFor(page, (s, v) => document.querySelector(s)?.value === v, selector, value);
}

function waitForValues(page, objectId, values) {
  return waitFor(page, (id, v) => JSON.stringify([...document.querySelectorAll(`[data-object="${id}"]`)].map((e) => e.value)) === v,
    objectId, JSON.stringify(values));
}

// The refusal shown in an object's row, '' when none.
function refusalOf(page, objectId) {
  return page.evaluate((id) => {
    const note = document.querySelector(`[data-object="${id}"]`)?.closest('.tweaker')?.querySelector('.refusal');
    return note && !note.hidden ? note.textContent : '';
  }, objectId);
}

// The accessible name and description Chromium computes for each control,
// in document order (over CDP: one DOM walk, then each control's node).
async function accessibility(page) {
  const cdp = await page.createCDPSession();
  try {
    const { root: documentNode } = await cdp.send('DOM.getDocument', { depth: -1 });
    const controls = [];
    (function walk(node) {
      const attributes = node.attributes || [];
      for (let i = 0; i < attributes.length; i += 2) {
        if (attributes[i] === 'data-object') controls.push({ object: attributes[i + 1], backendNodeId: node.backendNodeId });
      }
      for (const child of node.children || []) walk(child);
    })(documentNode);
    return await Promise.all(controls.map(async ({ object, backendNodeId }) => {
      const { nodes } = await cdp.send('Accessibility.getPartialAXTree', { backendNodeId, fetchRelatives: false });
      const node = nodes.find((n) => n.backendDOMNodeId === backendNodeId);
      return { object, name: node?.name?.value ?? '', description: node?.description?.value ?? '' };
    }));
  } finally {
    await cdp.detach();
  }
}

async function demoChecks(page, browser, host) {
  const { stdio, url } = host;
  const stdioView = await stdio.request('vorn.describeView', { context: 'demo' });
  const stdioTweakers = {};
  (function collect(node) {
    if (node.tweaker) stdioTweakers[node.tweaker.object] = node.tweaker.tweaker;
    for (const child of node.children || []) collect(child);
  })(stdioView.result?.tree || {});

  const connected = await page.waitForSelector('#connection.open', { timeout: WAIT_MS }).then(() => true, () => false);
  check('the page connects over WebSocket', connected);
  const rendered = await page.waitForSelector('[data-object="material"]', { timeout: WAIT_MS }).then(() => true, () => false);
  check('the page renders the sample context', rendered);
  const contextOption = await page.$eval('#context', (select) => select.value);
  check('the context list holds demo', contextOption === 'demo', contextOption);

  const shown = await readControls(page);
  const one = (id) => shown[id]?.controls[0] || {};
  check('the group is named Panel', shown.groups.includes('Panel'), JSON.stringify(shown.groups));
  check('width: number input 120 in mm',
    one('width').type === 'number' && Number(one('width').value) === 120 && shown.width.unit === 'mm', JSON.stringify(shown.width));
  check('angle: number input 30 in deg',
    one('angle').type === 'number' && Number(one('angle').value) === 30 && shown.angle.unit === 'deg', JSON.stringify(shown.angle));
  const opacity = shown.opacity?.controls || [];
  check('opacity: a range slider with its number, both 0.8',
    opacity.some((c) => c.type === 'range') && opacity.some((c) => c.type === 'number') &&
    opacity.every((c) => Number(c.value) === 0.8), JSON.stringify(opacity));
  check('visible: a checked checkbox', one('visible').type === 'checkbox' && one('visible').checked === true, JSON.stringify(one('visible')));
  check('title: a text field "Front panel"', one('title').type === 'text' && one('title').value === 'Front panel', JSON.stringify(one('title')));
  check('material: a select of oak, steel, glass showing oak',
    one('material').tag === 'select' && one('material').value === 'oak' &&
    JSON.stringify(one('material').options) === '["oak","steel","glass"]', JSON.stringify(one('material')));
  check('labels come from the model', shown.width?.label === 'Width' && shown.material?.label === 'Material');
  const ids = ['width', 'angle', 'opacity', 'visible', 'title', 'material'];
  check('data-tweaker names the tweaker the host describes',
    ids.every((id) => stdioTweakers[id] && shown[id]?.controls.every((c) => c.tweaker === stdioTweakers[id])),
    JSON.stringify(stdioTweakers));

  // A page edit reaches the model and the stdio client hears of it.
  const heardBefore = stdio.notifications.length;
  await setControl(page, 'input[data-object="width"]', '300');
  check('a page edit of width reaches the model', (await stdio.waitForModel('width', 300)) === 300);
  check('the stdio client is told of the page edit', stdio.notifications.slice(heardBefore).some((n) =>
    n.method === 'vorn.modelChanged' && n.params?.object === 'width' && n.params?.values?.value === 300));

  // A stdio change shows in the page without a reload.
  await page.evaluate(() => { window.notReloaded = true; });
  const setAngle = await stdio.sample('demo', 'setValue', { id: 'angle', value: 45 });
  check('stdio setValue angle 45 is answered', setAngle.result?.value === 45, JSON.stringify(setAngle));
  check('the page shows angle 45', await waitForValue(page, 'input[data-object="angle"]', '45'));
  check('the page was updated in place', await page.evaluate(() => window.notReloaded === true));

  // An out-of-range edit is refused: the control goes back and says why, beside it.
  await setControl(page, 'input[type="number"][data-object="opacity"]', '3');
  const refused = await waitFor(page, () => document.querySelector('[data-node="opacity"] .refusal:not([hidden])'));
  check('opacity 3 is refused with its reason beside the control', refused && /range/.test(await refusalOf(page, 'opacity')),
    await refusalOf(page, 'opacity'));
  const opacityAfter = await page.$$eval('[data-object="opacity"]', (els) => els.map((e) => e.value));
  check('the opacity controls go back to 0.8', opacityAfter.length === 2 && opacityAfter.every((v) => Number(v) === 0.8),
    JSON.stringify(opacityAfter));
  check('the model keeps opacity 0.8', (await stdio.modelValue('opacity')) === 0.8);

  // The other kinds of control edit the model too.
  await page.click('input[data-object="visible"]');
  check('unchecking visible reaches the model', (await stdio.waitForModel('visible', false)) === false);
  await page.select('select[data-object="material"]', 'steel');
  check('choosing steel reaches the model', (await stdio.waitForModel('material', 'steel')) === 'steel');

  // A second page is a client of its own and sees the first page's edits.
  const second = await browser.newPage();
  await second.goto(url, { waitUntil: 'load', timeout: WAIT_MS });
  await second.waitForSelector('input[data-object="title"]', { timeout: WAIT_MS });
  check('a second page starts from the current model',
    await waitForValue(second, 'select[data-object="material"]', 'steel') &&
    await waitForValue(second, 'input[data-object="width"]', '300'));
  await setControl(page, 'input[data-object="title"]', 'Back panel');
  check('the second page shows the first page\'s title edit', await waitForValue(second, 'input[data-object="title"]', 'Back panel'));
  check('the model holds the new title', (await stdio.waitForModel('title', 'Back panel')) === 'Back panel');
  await second.close();
}

// A view larger than one answer: the last block comes closed and is read
// when opened, a slice at a time.
async function pagingChecks(page, host) {
  const rowsOf3 = () => page.evaluate(() => ({
    rows: document.querySelectorAll('[data-object^="m3-"]').length,
    more: Boolean(document.querySelector('[data-node="m3"] button.more')),
    busy: document.getElementById('view-body').hasAttribute('aria-busy'),
  }));
  await page.select('#context', 'many');
  // Rows past the first screenful are built after it (the view is aria-busy meanwhile): clicks wait for them.
  await page.waitForSelector('#view-body:not([aria-busy]) [data-object="m1-0"]', { timeout: WAIT_MS });
  const closed = await page.evaluate(() => {
    const group = document.querySelector('details.group[data-node="m3"]');
    return { open: group?.open, count: group?.querySelector('.count')?.textContent, rows: document.querySelectorAll('[data-object^="m3-"]').length };
  });
  check('a block that did not fit is a closed group with its count, not read yet',
    closed.open === false && closed.count === `${MANY[2]} items` && closed.rows === 0, JSON.stringify(closed));
  await clickSettled(page, 'details.group[data-node="m3"] > summary');
  const sliced = await waitFor(page, () => !document.getElementById('view-body').hasAttribute('aria-busy') &&
    document.querySelectorAll('[data-object^="m3-"]').length > 0 && document.querySelector('[data-node="m3"] button.more'));
  const first = await rowsOf3();
  check('opening it shows a first slice of its rows and a button for the rest',
    sliced && first.rows > 0 && first.rows < MANY[2], JSON.stringify(first));
  await clickSettled(page, '[data-node="m3"] button.more');
  check('the button brings the rest, in order',
    await waitFor(page, (n) => document.querySelectorAll('[data-object^="m3-"]').length === n &&
      !document.querySelector('[data-node="m3"] button.more') &&
      [...document.querySelectorAll('[data-object^="m3-"]')].every((e, i) => e.dataset.object === `m3-${i}`), MANY[2]),
    JSON.stringify(await rowsOf3()));
  await host.stdio.sample('many', 'setValue', { id: `m3-${MANY[2] - 5}`, value: 55 });
  check('a stdio change inside the last slice shows', await waitForValue(page, `input[data-object="m3-${MANY[2] - 5}"]`, '55'));
}

// Every data type of the gallery: its control, its value, its name, its help.
const GALLERY_CONTROLS = {
  'n-number': 'number',
  'n-integer': 'number step 1',
  'n-length': 'number mm',
  'n-angle': 'number deg',
  'n-ratio': 'range+number',
  'v-2d': 'number×2 1x2 mm',
  'v-3d': 'number×3 1x3 mm',
  'v-ratio': 'number×2 1x2',
  'v-point': 'number×3 1x3 mm',
  'v-matrix': 'number×4 2x2',
  'v-transform': 'number×16 4x4',
  't-string': 'text',
  't-literal': 'text',
  't-boolean': 'checkbox',
  't-choice': 'select',
  't-color': 'color',
  's-circle': 'output',
  's-curve': 'output',
  's-unknown': 'output',
};
const READ_ONLY = ['t-literal', 's-circle', 's-curve', 's-unknown'];

// What the host's description says each control shows.
function expectedShown(node) {
  if (node.unsupported) return [JSON.stringify(node.unsupported.value)];
  const { kind, type, value, summary } = node.tweaker;
  if (kind === 'summary') return [summary];
  if (kind === 'boolean') return [value];
  if (Array.isArray(value)) return value.map(String);
  return kind === 'number' && type === 'ratio' ? [String(value), String(value)] : [String(value)];
}

async function galleryChecks(page, host) {
  const { stdio } = host;
  await page.select('#context', 'gallery');
  await page.waitForSelector('[data-object="s-unknown"]', { timeout: WAIT_MS });
  await page.setViewport({ width: 740, height: 900 });
  if (process.env.SCREENSHOT) {
    const file = path.resolve(process.env.SCREENSHOT);
    await page.screenshot({ path: file, fullPage: true });
    console.log(`screenshot: ${file}`);
  }

  const signatures = await controlSignatures(page);
  const wrong = Object.entries(GALLERY_CONTROLS).filter(([id, want]) => signatures[id] !== want)
    .map(([id, want]) => `${id}: ${signatures[id]} (want ${want})`);
  check('every data type of the gallery gets its control', wrong.length === 0, wrong.join('; '));

  const description = await stdio.request('vorn.describeView', { context: 'gallery' });
  const nodes = [];
  (function collect(node) {
    if (node.tweaker || node.unsupported) nodes.push(node);
    for (const child of node.children || []) collect(child);
  })(description.result?.tree || {});
  const values = await shownValues(page);
  const off = nodes.filter((node) => !same(values[node.id], expectedShown(node)))
    .map((node) => `${node.id}: ${JSON.stringify(values[node.id])} (want ${JSON.stringify(expectedShown(node))})`);
  check('every gallery control shows the model\'s value', nodes.length === Object.keys(GALLERY_CONTROLS).length && off.length === 0,
    off.join('; ') || `${nodes.length} nodes`);

  // Chromium leaves a read-only <output> out of its accessibility tree while
  // its group is not rendered (content-visibility), so a row is judged once
  // it has been scrolled to.
  let named = await accessibility(page);
  let unnamed = named.filter((c) => c.object in GALLERY_CONTROLS && !c.name).map((c) => c.object);
  for (const deadline = Date.now() + WAIT_MS; unnamed.length > 0 && Date.now() < deadline;) {
    await page.$eval(`[data-object="${unnamed[0]}"]`, (element) => element.scrollIntoView({ block: 'center' }));
    await sleep(100);
    named = await accessibility(page);
    unnamed = named.filter((c) => c.object in GALLERY_CONTROLS && !c.name).map((c) => c.object);
  }
  check('every gallery control has an accessible name', unnamed.length === 0 && named.length > 0, unnamed.join(', '));
  const sizeNames = named.filter((c) => c.object === 'v-3d').map((c) => c.name);
  check('each vector component is named for its component', same(sizeNames, ['Size x', 'Size y', 'Size z']), JSON.stringify(sizeNames));
  const literal = named.find((c) => c.object === 't-literal');
  const help = await page.$eval('[data-node="t-literal"] .help', (e) => e.textContent).catch(() => '');
  check('a description is shown beside the label and describes the control',
    help === 'Given by the factory; read-only.' && literal?.description === help, `${help} / ${literal?.description}`);

  const editable = await page.evaluate((ids) => ids.flatMap((id) => [...document.querySelectorAll(`[data-object="${id}"]`)]
    .filter((c) => c.tagName !== 'OUTPUT' && !c.readOnly && !c.disabled).map(() => id)), READ_ONLY);
  const marked = await page.evaluate((ids) => ids.every((id) => document.querySelector(`[data-node="${id}"] .read-only-tag`)?.offsetParent), READ_ONLY);
  check('read-only values are shown read-only, and marked so', editable.length === 0 && marked, `editable: ${editable}`);
  await page.click('input[data-object="t-literal"]');
  await page.keyboard.type('XYZ');
  await page.keyboard.press('Tab');
  check('typing into a read-only field changes nothing',
    (await page.$eval('input[data-object="t-literal"]', (e) => e.value)) === 'CB-7' &&
    (await stdio.modelValue('t-literal', 'gallery')) === 'CB-7');

  const unsupported = await page.$eval('[data-node="s-unknown"]', (row) => row.textContent).catch(() => '');
  check('the unsupported row shows its label, its value and why it has no control',
    /Handle/.test(unsupported) && unsupported.includes('"knob-12"') && /handleSpec/.test(unsupported), unsupported);

  await setControl(page, 'input[data-object="v-3d"]', '25', 2);
  check('an edit of one vector component reaches the model',
    same(await stdio.waitForModel('v-3d', [600, 400, 25], 'gallery'), [600, 400, 25]));
  await setControl(page, 'input[data-object="t-color"]', '#ff8800');
  check('a colour edit reaches the model', (await stdio.waitForModel('t-color', '#ff8800', 'gallery')) === '#ff8800');
  await stdio.request('vorn.setValue', { context: 'gallery', object: 'v-2d', value: [5, 6] });
  check('a stdio vector write shows in every component', await waitForValues(page, 'v-2d', ['5', '6']));

  // Refusals: said beside the control with their reason and limits; the control goes back.
  await setControl(page, 'input[data-object="v-3d"]', '-5', 1);
  await waitFor(page, () => document.querySelector('[data-node="v-3d"] .refusal:not([hidden])'));
  const below = await refusalOf(page, 'v-3d');
  check('a vector component below its minimum is refused beside it, with the limit',
    /range/.test(below) && /min 0/.test(below) && await waitForValues(page, 'v-3d', ['600', '400', '25']), below);
  await setControl(page, 'input[data-object="n-angle"]', '120');
  await waitFor(page, () => document.querySelector('[data-node="n-angle"] .refusal:not([hidden])'));
  const over = await refusalOf(page, 'n-angle');
  check('an angle over its maximum is refused beside it, with its limits',
    /range/.test(over) && /min -90, max 90/.test(over) && await waitForValue(page, 'input[data-object="n-angle"]', '15'), over);
  const angle = (await accessibility(page)).find((c) => c.object === 'n-angle');
  check('the refused control is described by the refusal', /max 90/.test(angle?.description), angle?.description);
  await setControl(page, 'input[data-object="n-angle"]', '45');
  check('the next accepted edit clears the refusal',
    (await stdio.waitForModel('n-angle', 45, 'gallery')) === 45 &&
    await waitFor(page, () => !document.querySelector('[data-node="n-angle"] .refusal:not([hidden])')));

  // Children added and removed on the stdio side: only their parent is read again.
  await page.evaluate(() => { window.untouched = document.querySelector('[data-object="t-string"]'); });
  const added = await stdio.sample('gallery', 'addChild',
    { parent: 'numbers', child: { id: 'n-added', label: 'Added', type: 'length', unit: 'mm', min: 0, value: 7 } });
  check('stdio addChild is answered', added.result?.id === 'n-added', JSON.stringify(added));
  const appeared = await waitFor(page, () =>
    document.querySelector('[data-node="numbers"] input[data-object="n-added"]')?.value === '7');
  check('the added child appears in its group, other groups untouched', appeared &&
    await page.evaluate(() => window.untouched === document.querySelector('[data-object="t-string"]')));
  await stdio.sample('gallery', 'setValue', { id: 'n-added', value: 8 });
  check('the added child follows the model', await waitForValue(page, 'input[data-object="n-added"]', '8'));
  await stdio.sample('gallery', 'removeChild', { id: 'n-added' });
  check('a removed child disappears', await waitFor(page, () => !document.querySelector('[data-object="n-added"]')) &&
    await page.evaluate(() => window.untouched?.isConnected === true));
}

// The host stops: the page says so and takes no edit; the host comes back
// (same port and token, its model as its manifest has it): the page reads it again.
async function reconnectChecks(page, host, manifest, port, token, state) {
  const { bye, end } = await stopHost(host, 99);
  check('shutdown is answered', bye.result === null && bye.id === 99, JSON.stringify(bye));
  check('orvelnode exits with status 0', end.code === 0, JSON.stringify(end));
  state.host = null;
  check('the page shows it is disconnected', await waitFor(page, () => document.querySelector('#connection.closed')));
  const live = await page.$$eval('input[data-object], select[data-object]', (els) => els.filter((e) => !e.matches(':disabled')).length);
  check('every control is disabled while disconnected', live === 0, `${live} enabled`);

  const again = await startHost(manifest, port, token);
  state.host = again;
  check('orvelnode starts again on the same port', again.url === host.url, again.url);
  await again.stdio.sample('gallery', 'setValue', { id: 't-string', value: 'Rebuilt' });
  check('the page reconnects', await waitFor(page, () => document.querySelector('#connection.open')));
  check('the page shows the new host\'s state',
    await waitForValue(page, 'input[data-object="t-string"]', 'Rebuilt') &&
    await waitForValue(page, 'input[data-object="n-angle"]', '15') &&
    await waitForValue(page, 'input[data-object="t-color"]', '#3366cc'));
  check('the controls are enabled again',
    await waitFor(page, () => !document.querySelector('input[data-object="t-string"]').matches(':disabled')));
  await page.click('input[data-object="t-boolean"]');
  check('an edit after the reconnect reaches the new host', (await again.stdio.waitForModel('t-boolean', true, 'gallery')) === true);
  return again;
}

async function run(state) {
  console.log(`orvelnode: ${hostPath}`);
  state.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvel-browser-'));
  const manifest = writeManifest(state.dir);
  const port = await freePort();
  const token = crypto.randomBytes(24).toString('hex');
  const host = await startHost(manifest, port, token);
  state.host = host;
  check('orvelnode prints the address it listens on, with its token', host.url === `http://127.0.0.1:${port}/?token=${token}`, host.url);
  const withoutToken = await fetch(host.url.replace(/\?token=.*$/, '')).then((r) => r.status, (e) => String(e));
  check('the page without its token is refused', withoutToken === 401, String(withoutToken));
  // Notifications go only to clients connected to the context.
  await host.stdio.request('vorn.connect', { contexts: ['demo'] });

  const browser = await withTimeout(puppeteer.launch({
    executablePath: chromiumPath,
    headless: false,  // the flag is given below, as the plain --headless
    userDataDir: path.join(state.dir, 'chromium'),
    args: CHROMIUM_ARGS,
    protocolTimeout: WAIT_MS * 3,
  }), WAIT_MS * 3, 'Chromium to start');
  state.browser = browser;

  const page = await browser.newPage();
  const pageErrors = [];
  page.on('pageerror', (error) => pageErrors.push(error.message));
  // Failed WebSocket handshakes while the host is away are expected.
  page.on('console', (message) => {
    if (message.type() === 'error' && !/WebSocket connection to .* failed|ERR_CONNECTION_REFUSED/.test(message.text())) pageErrors.push(message.text());
  });
  await page.setViewport({ width: 720, height: 370 });
  await page.goto(host.url, { waitUntil: 'load', timeout: WAIT_MS });

  await demoChecks(page, browser, host);
  await pagingChecks(page, host);
  await galleryChecks(page, host);
  const again = await reconnectChecks(page, host, manifest, port, token, state);

  check('no script errors in the page', pageErrors.length === 0, pageErrors.join(' | '));
  await browser.close();
  state.browser = null;
  const { end } = await stopHost(again, 100);
  check('the second orvelnode exits with status 0', end.code === 0, JSON.stringify(end));
  state.host = null;
}

async function cleanUp(state) {
  if (state.browser) await state.browser.close().catch(() => {});
  if (state.host && state.host.child.exitCode === null) state.host.child.kill('SIGKILL');
  if (state.dir) fs.rmSync(state.dir, { recursive: true, force: true });
}

const state = {};
const whole = setTimeout(async () => {
  console.log(`FAIL the whole test took more than ${WHOLE_TEST_MS} ms`);
  tally.failed++;
  await cleanUp(state);
  console.log(`${tally.passed} passed, ${tally.failed} failed`);
  process.exit(1);
}, WHOLE_TEST_MS);

try {
  await run(state);
} catch (error) {
  check('the test ran to its end', false, error.stack || String(error));
}
await cleanUp(state);
clearTimeout(whole);
console.log(`${tally.passed} passed, ${tally.failed} failed`);
process.exit(tally.failed === 0 ? 0 : 1);
