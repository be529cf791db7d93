// What the Node programs of tests/web share: the checks' tally, time-outs,
// the host under test and the browser's flags.
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
// The host: the first argument, $ORVELNODE, or the default build's.
export const hostPath = path.resolve(process.argv[2] || process.env.ORVELNODE || path.join(root, 'build/default/apps/orvelnode/orvelnode'));
export const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
// Without the background-networking flags Chromium keeps dialling out, and
// this machine refuses every such connection.
export const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync', '--hide-scrollbars'];

// "ok name" or "FAIL name: detail" per check; `tally` counts them.
export const tally = { passed: 0, failed: 0 };
export function check(name, ok, detail = '') {
  if (ok) {
    tally.passed++;
    console.log(`ok   ${name}`);
  } else {
    tally.failed++;
    console.log(`FAIL ${name}${detail ? `: ${detail}` : ''}`);
  }
  return ok;
}

export function withTimeout(promise, ms, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms: ${what}`)), ms);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
