// Drives the orvelnode page in headless Chromium against a real orvelnode:
// the host runs with --listen 0 and keeps its standard input and output as a
// second client, so every check crosses between the page and the stdio side.
//
//   node browser_test.mjs [ORVELNODE]
//
// ORVELNODE (or $ORVELNODE): the host, default build/default/apps/orvelnode/orvelnode.
// $CHROMIUM: the browser, default /usr/bin/chromium.
// $SCREENSHOT: when set, a PNG of the page with the sample context goes there.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const hostPath = path.resolve(process.argv[2] || process.env.ORVELNODE || path.join(root, 'build/default/apps/orvelnode/orvelnode'));
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
const manifest = path.join(root, 'examples/sample/manifest.json');
const WAIT_MS = 10000;
const WHOLE_TEST_MS = 120000;

let passed = 0;
let failed = 0;
function check(name, ok, detail = '') {
  if (ok) {
    passed++;
    console.log(`ok   ${name}`);
  } else {
    failed++;
    console.log(`FAIL ${name}${detail ? `: ${detail}` : ''}`);
  }
  return ok;
}

function withTimeout(promise, ms, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms: ${what}`)), ms);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

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

  async modelValue(objectId) {
    const response = await this.request('vorn.callObject', { namespace: 'sample', object: 'demo', function: 'getTree' });
    const find = (node) => {
      if (!node) return undefined;
      if (node.id === objectId) return node;
      for (const child of node.children || []) {
        const found = find(child);
        if (found) return found;
      }
      return undefined;
    };
    return find(response.result)?.value;
  }

  // Polls the model until the object holds the value; the last value read.
  async waitForModel(objectId, expected) {
    const deadline = Date.now() + WAIT_MS;
    let value;
    do {
      value = await this.modelValue(objectId);
      if (value === expected) return value;
      await sleep(100);
    } while (Date.now() < deadline);
    return value;
  }
}

function waitForListening(child) {
  const lines = readline.createInterface({ input: child.stderr });
  return withTimeout(new Promise((resolve, reject) => {
    lines.on('line', (line) => {
      const match = /^orvelnode: listening on (http:\/\/\S+)/.exec(line);
      if (match) resolve(match[1]);
      else console.log(`(orvelnode) ${line}`);
    });
    child.once('exit', (code) => reject(new Error(`orvelnode ended (status ${code}) before listening`)));
    child.once('error', reject);
  }), WAIT_MS, 'orvelnode to print its address');
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
      entry.label = row?.querySelector('label')?.textContent;
      entry.unit = row?.querySelector('.unit')?.textContent;
    }
    out.legends = [...document.querySelectorAll('legend')].map((legend) => legend.textContent);
    return out;
  });
}

// Sets a control's value the way a user's edit ends: input, then change.
function setControl(page, selector, value) {
  return page.$eval(selector, (element, v) => {
    element.focus();
    element.value = v;
    element.dispatchEvent(new Event('input', { bubbles: true }));
    element.dispatchEvent(new Event('change', { bubbles: true }));
    element.blur();
  }, value);
}

async function waitForValue(page, selector, value) {
  try {
    await page.waitForFunction((s, v) => document.querySelector(s)?.value === v, { timeout: WAIT_MS }, selector, value);
    return true;
  } catch {
    return false;
  }
}

async function run(state) {
  console.log(`orvelnode: ${hostPath}`);
  const child = spawn(hostPath, ['--listen', '0', manifest], { cwd: root, stdio: ['pipe', 'pipe', 'pipe'] });
  state.child = child;
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  const stdio = new StdioClient(child);
  const url = await waitForListening(child);
  check('orvelnode prints the address it listens on, with its token', /^http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]{48}$/.test(url), url);
  const withoutToken = await fetch(url.replace(/\?token=.*$/, '')).then((r) => r.status, (e) => String(e));
  check('the page without its token is refused', withoutToken === 401, String(withoutToken));

  // Notifications go only to clients connected to the context.
  await stdio.request('vorn.connect', { contexts: ['demo'] });
  const stdioView = await stdio.request('vorn.describeView', { context: 'demo' });
  const stdioTweakers = {};
  (function collect(node) {
    if (node.tweaker) stdioTweakers[node.tweaker.object] = node.tweaker.tweaker;
    for (const child of node.children || []) collect(child);
  })(stdioView.result?.tree || {});

  state.userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvel-chromium-'));
  const browser = await withTimeout(puppeteer.launch({
    executablePath: chromiumPath,
    headless: false,  // the flag is given below, as the plain --headless
    userDataDir: state.userDataDir,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', '--hide-scrollbars'],
    protocolTimeout: WAIT_MS * 3,
  }), WAIT_MS * 3, 'Chromium to start');
  state.browser = browser;

  const page = await browser.newPage();
  const pageErrors = [];
  page.on('pageerror', (error) => pageErrors.push(error.message));
  page.on('console', (message) => { if (message.type() === 'error') pageErrors.push(message.text()); });
  await page.setViewport({ width: 720, height: 370 });
  await page.goto(url, { waitUntil: 'load', timeout: WAIT_MS });

  const connected = await page.waitForSelector('#connection.open', { timeout: WAIT_MS }).then(() => true, () => false);
  check('the page connects over WebSocket', connected);
  const rendered = await page.waitForSelector('[data-object="material"]', { timeout: WAIT_MS }).then(() => true, () => false);
  check('the page renders the sample context', rendered);
  const contextOption = await page.$eval('#context', (select) => select.value);
  check('the context list holds demo', contextOption === 'demo', contextOption);

  const shown = await readControls(page);
  const one = (id) => shown[id]?.controls[0] || {};
  check('the group is a fieldset named Panel', shown.legends.includes('Panel'), JSON.stringify(shown.legends));
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

  if (process.env.SCREENSHOT) {
    const file = path.resolve(process.env.SCREENSHOT);
    await page.screenshot({ path: file });
    console.log(`screenshot: ${file}`);
  }

  // A page edit reaches the model and the stdio client hears of it.
  const heardBefore = stdio.notifications.length;
  await setControl(page, 'input[data-object="width"]', '300');
  check('a page edit of width reaches the model', (await stdio.waitForModel('width', 300)) === 300);
  check('the stdio client is told of the page edit', stdio.notifications.slice(heardBefore).some((n) =>
    n.method === 'vorn.modelChanged' && n.params?.object === 'width' && n.params?.values?.value === 300));

  // A stdio change shows in the page without a reload.
  await page.evaluate(() => { window.notReloaded = true; });
  const setAngle = await stdio.request('vorn.callObject',
    { namespace: 'sample', object: 'demo', function: 'setValue', arguments: { id: 'angle', value: 45 } });
  check('stdio setValue angle 45 is answered', setAngle.result?.value === 45, JSON.stringify(setAngle));
  check('the page shows angle 45', await waitForValue(page, 'input[data-object="angle"]', '45'));
  check('the page was updated in place', await page.evaluate(() => window.notReloaded === true));

  // An out-of-range edit is refused: the control goes back and says why.
  await setControl(page, 'input[type="number"][data-object="opacity"]', '3');
  const refused = await page.waitForFunction(() => {
    const status = document.getElementById('status');
    return status.classList.contains('error') && status.textContent.length > 0;
  }, { timeout: WAIT_MS }).then(() => true, () => false);
  check('opacity 3 is refused with a message', refused,
    await page.$eval('#status', (s) => `${s.className}: ${s.textContent}`));
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

  check('no script errors in the page', pageErrors.length === 0, pageErrors.join(' | '));
  await browser.close();
  state.browser = null;

  const bye = await stdio.request('shutdown', undefined, 99);
  check('shutdown is answered', bye.result === null && bye.id === 99, JSON.stringify(bye));
  child.stdin.end();
  const end = await withTimeout(exited, WAIT_MS, 'orvelnode to exit');
  check('orvelnode exits with status 0', end.code === 0, JSON.stringify(end));
  state.child = null;
}

async function cleanUp(state) {
  if (state.browser) await state.browser.close().catch(() => {});
  if (state.child && state.child.exitCode === null) state.child.kill('SIGKILL');
  if (state.userDataDir) fs.rmSync(state.userDataDir, { recursive: true, force: true });
}

const state = {};
const whole = setTimeout(async () => {
  console.log(`FAIL the whole test took more than ${WHOLE_TEST_MS} ms`);
  failed++;
  await cleanUp(state);
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(1);
}, WHOLE_TEST_MS);

try {
  await run(state);
} catch (error) {
  check('the test ran to its end', false, error.stack || String(error));
}
await cleanUp(state);
clearTimeout(whole);
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
