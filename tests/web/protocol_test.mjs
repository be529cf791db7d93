// Checks orvelnode's protocol with tools that know nothing of it: the
// OpenRPC meta-schema, Ajv, JSON Forms, a stock JSON-RPC client, and the
// page's own client (orvel-client.js) under Node. The host runs with
// --listen 0 on the sample manifest; every client here is a WebSocket.
//
//   node protocol_test.mjs [ORVELNODE]
//
// ORVELNODE (or $ORVELNODE): the host, default build/default/apps/orvelnode/orvelnode.
import { spawn } from 'node:child_process';
import path from 'node:path';
import readline from 'node:readline';
import Ajv from 'ajv';
import Ajv2020 from 'ajv/dist/2020.js';
import addFormats from 'ajv-formats';
import { openrpcDocument } from '@open-rpc/meta-schema';
import { Generate, createAjv, generateDefaultUISchema, mapStateToAnyOfProps, resolveSchema } from '@jsonforms/core';
import { JSONRPCClient } from 'json-rpc-2.0';
import WebSocket from 'ws';
import { OrvelClient } from '../../apps/orvelnode/web/orvel-client.js';
import { check, hostPath, root, tally, withTimeout } from './support.mjs';

const manifest = path.join(root, 'examples/sample/manifest.json');
const WAIT_MS = 10000;
const WHOLE_TEST_MS = 60000;

const HOST_METHODS = ['vorn.callObject', 'vorn.callNamespace', 'vorn.callLibrary', 'vorn.connect', 'vorn.disconnect',
  'vorn.getTree', 'vorn.describeSchema', 'vorn.describeView', 'vorn.editTweaker', 'vorn.setValue',
  'vorn.listContexts', 'vorn.contextStatus', 'rpc.discover', 'shutdown'];
const SAMPLE_FUNCTIONS = ['getTree', 'setValue', 'editTweaker', 'describeView', 'render', 'echo', 'addChild', 'removeChild']
  .map((name) => `sample.demo.${name}`);
const NOTIFICATIONS = ['vorn.modelChanged', 'vorn.childAdded', 'vorn.childRemoved', 'vorn.contextAdded',
  'vorn.contextRemoved', 'vorn.event'];


// Resolves once `test` holds, polled; false after WAIT_MS.
async function until(test) {
  const deadline = Date.now() + WAIT_MS;
  while (!test()) {
    if (Date.now() > deadline) return false;
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  return true;
}

function waitForListening(child) {
  const lines = readline.createInterface({ input: child.stderr });
  return withTimeout(new Promise((resolve, reject) => {
    lines.on('line', (line) => {
      const match = /^orvelnode: listening on (http:\/\/\S+)/.exec(line);
      if (match) resolve(new URL(match[1]));
      else console.log(`(orvelnode) ${line}`);
    });
    child.once('exit', (code) => reject(new Error(`orvelnode ended (status ${code}) before listening`)));
    child.once('error', reject);
  }), WAIT_MS, 'orvelnode to print its address');
}

// The json-rpc-2.0 package's client over a ws socket: it takes responses,
// the notifications are ignored.
async function stockClient(url) {
  const socket = new WebSocket(url);
  await withTimeout(new Promise((resolve, reject) => { socket.once('open', resolve); socket.once('error', reject); }),
    WAIT_MS, 'a WebSocket to open');
  const client = new JSONRPCClient((request) => socket.send(JSON.stringify(request)));
  socket.on('message', (data) => {
    const message = JSON.parse(String(data));
    for (const one of [].concat(message)) if (one.id !== undefined) client.receive(one);
  });
  socket.on('close', () => client.rejectAllPendingRequests('the socket closed'));
  return { client: client.timeout(WAIT_MS), socket };
}

// The OpenRPC meta-schema is draft-07 but names its own meta-schema
// ("https://meta.json-schema.tools/"), which Ajv does not know, and points
// there for every embedded schema and for a reference's "$ref". It is
// compiled with Ajv's draft-07 class without that $schema, with an embedded
// schema as "an object or a boolean" and a "$ref" as a string, non-strict (it
// uses additionalItems beside items); the embedded schemas are checked
// against draft 2020-12's meta-schema instead.
function checkDiscovery(doc) {
  const metaSchema = structuredClone(openrpcDocument);
  delete metaSchema.$schema;
  metaSchema.definitions.JSONSchema = { type: ['object', 'boolean'] };
  metaSchema.definitions.referenceObject.properties.$ref = { type: 'string' };
  const ajv = addFormats(new Ajv({ strict: false, allErrors: true }));
  const valid = ajv.validate(metaSchema, doc);
  check('rpc.discover: an OpenRPC document by the meta-schema', valid, ajv.errorsText(ajv.errors));
  const ajv2020 = new Ajv2020();
  const schemas = [...doc.methods.flatMap((m) => [...m.params.map((p) => p.schema), m.result.schema]),
    ...doc['x-notifications'].map((n) => n.params)];
  const bad = schemas.filter((s) => !ajv2020.validateSchema(s));
  check('rpc.discover: every param, result and notification schema is draft 2020-12', bad.length === 0 && schemas.length > 0,
    JSON.stringify(bad));
  const names = new Set(doc.methods.map((m) => m.name));
  const notifications = new Set(doc['x-notifications'].map((n) => n.name));
  for (const [what, expected, listed] of [['host method', HOST_METHODS, names],
    ['sample function', SAMPLE_FUNCTIONS, names], ['notification', NOTIFICATIONS, notifications]]) {
    const missing = expected.filter((name) => !listed.has(name));
    check(`rpc.discover lists every ${what}`, missing.length === 0, `missing ${missing.join(', ')}`);
  }
}

// Every record of a tree, depth first.
const records = (node) => [node, ...(node.children || []).flatMap(records)];

async function checkSchema(rpc, context) {
  const { schema } = await rpc.request('vorn.describeSchema', { context });
  const validate = new Ajv2020({ strict: true, allErrors: true }).compile(schema);
  const tree = async () => (await rpc.request('vorn.getTree', { context })).tree;
  const first = await tree();
  check('vorn.getTree\'s tree satisfies vorn.describeSchema\'s schema', validate(first), JSON.stringify(validate.errors));

  const refused = await rpc.request('vorn.setValue', { context, object: 'angle', value: 500 }).then(() => null, (e) => e);
  const accepted = await rpc.request('vorn.setValue', { context, object: 'angle', value: 45 });
  const after = await tree();
  check('after a refused and an accepted write the tree still satisfies the schema',
    refused?.data?.reason === 'range' && accepted.value === 45 && validate(after) &&
    records(after).find((r) => r.id === 'angle').value === 45, JSON.stringify(validate.errors));

  const tampered = {
    'a string for a number': (t) => { records(t).find((r) => r.id === 'width').value = 'wide'; },
    'a property the schema has not': (t) => { records(t).find((r) => r.id === 'panel').colour = 'red'; },
    'a value beyond its maximum': (t) => { records(t).find((r) => r.id === 'angle').value = 500; },
    'a child missing': (t) => { records(t).find((r) => r.id === 'panel').children.pop(); },
  };
  const stillValid = Object.entries(tampered).filter(([, change]) => {
    const copy = structuredClone(after);
    change(copy);
    return validate(copy);
  }).map(([what]) => what);
  check('tampered trees fail the schema', stillValid.length === 0, `accepted: ${stillValid.join(', ')}`);
  return { schema, tree: after };
}

// What JSON Forms draws from the schema alone: generateDefaultUISchema for
// the root, then what its renderers do below a Control: an array's items
// laid out with Generate.uiSchema, an anyOf shown as one tab per
// alternative, each laid out the same way.
//
// Our tree-shaped schema gives JSON Forms a list ("children") of lists; the
// leaves are anyOf alternatives, one per child, told apart by their "id"
// const. It reaches a control for every value, among read-only controls for
// the metadata (label, type, unit, min, max).
function checkJsonForms(schema, tree) {
  const controls = [];
  (function walk(uischema, at) {
    for (const element of uischema.elements || []) walk(element, at);
    if (uischema.type !== 'Control') return;
    const resolved = resolveSchema(at, uischema.scope, schema);
    controls.push({ scope: uischema.scope, resolved, within: at });
    if (resolved?.type === 'array' && resolved.items) walk(Generate.uiSchema(resolved.items, 'VerticalLayout', undefined, schema), resolved.items);
    for (const alternative of resolved?.anyOf || []) walk(Generate.uiSchema(alternative, 'VerticalLayout', undefined, schema), alternative);
  })(generateDefaultUISchema(schema), schema);
  const unresolved = controls.filter((c) => !c.resolved).map((c) => c.scope);
  check('JSON Forms: every Control scope resolves in the schema', controls.length > 0 && unresolved.length === 0,
    unresolved.join(', '));
  const values = controls.filter((c) => c.scope === '#/properties/value');
  const withValue = records(tree).filter((r) => 'value' in r).map((r) => r.id);
  const reached = values.map((c) => c.within.properties.id.const);
  check('JSON Forms: a control for every value of the tree', JSON.stringify(reached) === JSON.stringify(withValue),
    `${reached} vs ${withValue}`);

  // What the value controls show: the label, limits, choices and read-only
  // flag the schema gives each value, none lost on the way.
  const dropped = values.map((c) => {
    const given = c.within.properties.value;
    const lost = Object.keys(given).filter((k) => JSON.stringify(c.resolved[k]) !== JSON.stringify(given[k]));
    return lost.length ? `${c.within.properties.id.const} (${lost.join(', ')})` : '';
  }).filter(Boolean);
  const serial = values.find((c) => c.within.properties.id.const === 'serial');
  check('JSON Forms: each value control keeps its title, limits, choices and read-only flag',
    dropped.length === 0 && serial?.resolved.readOnly === true, dropped.join('; '));
  // Which tab the anyOf renderer opens for each child: the alternative the
  // child's data fits, found by compiling each alternative alone.
  const panel = schema.properties.children.items;
  const state = { jsonforms: { core: { data: tree, schema, uischema: {}, ajv: createAjv(), errors: [] },
    i18n: { locale: 'en', translate: (key, fallback) => fallback, translateError: (e) => e.message } } };
  const debug = console.debug;
  console.debug = () => {};  // JSON Forms logs each alternative it cannot compile alone
  const tabs = panel.properties.children.items.anyOf && tree.children[0].children.map((child, i) =>
    mapStateToAnyOfProps(state, { uischema: { type: 'Control', scope: '#' }, schema: panel.properties.children.items,
      path: `children.0.children.${i}` }).indexOfFittingSchema);
  console.debug = debug;
  const misplaced = (tabs || []).filter((tab, i) => tab !== i).length;
  check('JSON Forms: the anyOf renderer opens each child\'s own alternative (it compiles each alone)',
    tabs && tabs.length > 0 && misplaced === 0, `${misplaced} of ${tabs?.length} children misplaced`);
}

// A stock client that knows only what rpc.discover says: the remote
// functions are the methods outside the host's own prefixes.
async function checkStockClient(rpc, doc) {
  const remote = doc.methods.filter((m) => !/^(vorn|rpc)\.|^shutdown$/.test(m.name));
  const method = (suffix) => remote.find((m) => m.name.endsWith(`.${suffix}`));
  const getTree = method('getTree'), setValue = method('setValue');
  if (!check('rpc.discover names a getTree and a setValue function', getTree && setValue)) return;
  const [target, value] = setValue.params.map((p) => p.name);
  const tree = await rpc.request(getTree.name, {});
  check(`${getTree.name} reads the tree`, records(tree).some((r) => r.id === 'width'), JSON.stringify(tree));
  const written = await rpc.request(setValue.name, { [target]: 'width', [value]: 250 });
  const reread = records(await rpc.request(getTree.name, [])).find((r) => r.id === 'width');
  check(`${setValue.name} {${target}, ${value}} writes, and a read shows it`, written.value === 250 && reread.value === 250,
    JSON.stringify({ written, reread }));
  const error = await rpc.request(setValue.name, ['angle', 500]).then(() => null, (e) => e);
  check(`${setValue.name} out of range: error -32602, reason range`, error?.code === -32602 && error.data?.reason === 'range',
    JSON.stringify(error));
}

// orvel-client.js under Node: notifications in sequence, then missed ones
// two ways (one lost on a live socket; the socket dropped), each answered
// by a resync and a re-read.
async function checkOrvelClient(url, writer) {
  // The client's sockets, kept to cut one; dropNext loses the next
  // notification on arrival.
  const sockets = [];
  let dropNext = false;
  class Lossy extends WebSocket {
    constructor(...args) { super(...args); sockets.push(this); }
    addEventListener(type, listener, options) {
      super.addEventListener(type, type !== 'message' ? listener : (event) => {
        if (dropNext && JSON.parse(event.data).method) dropNext = false;
        else listener(event);
      }, options);
    }
  }
  const client = new OrvelClient(`ws://${url.host}/rpc`, { token: url.searchParams.get('token'), WebSocket: Lossy, reconnectMs: 500 });
  const heard = [], resyncs = [];
  client.on('vorn.modelChanged', (params) => heard.push(params));
  client.on('resync', (event) => resyncs.push(event));
  const write = (width) => writer.request('vorn.setValue', { context: 'demo', object: 'width', value: width });
  const width = async () => records((await client.getTree('demo')).tree).find((r) => r.id === 'width').value;
  try {
    const start = (await client.connect(['demo'])).contexts.demo;
    await write(301);
    await write(302);
    check('orvel-client: two writes of another client are heard with consecutive seq',
      await until(() => heard.length === 2) && heard[0].seq === start + 1 && heard[1].seq === start + 2 && resyncs.length === 0,
      JSON.stringify({ start, heard, resyncs }));

    dropNext = true;
    await write(303);
    await write(304);
    check('orvel-client: a notification after a lost one asks for a resync',
      await until(() => resyncs.length === 1) && resyncs[0].context === 'demo' && resyncs[0].reason === 'gap' &&
      await width() === 304 && client.seqs.get('demo') === heard.at(-1).seq, JSON.stringify(resyncs));

    const closed = new Promise((resolve) => client.on('close', resolve));
    const pending = client.call('vorn.listContexts').then(() => null, (e) => e);
    sockets.at(-1).terminate();
    await closed;
    await write(305);
    const lost = await withTimeout(pending, WAIT_MS, 'the waiting call to end').catch((e) => e);
    check('orvel-client: a call waiting when the socket drops is rejected', lost?.data?.reason === 'closed', String(lost));
    check('orvel-client: after reconnecting it asks for a resync and a re-read shows the write made meanwhile',
      await until(() => resyncs.length === 2) && resyncs[1].reason === 'reconnect' && sockets.length === 2 &&
      await width() === 305, JSON.stringify(resyncs));
    const refused = await client.call('vorn.setValue', { context: 'demo', object: 'angle', value: 500 }).then(() => null, (e) => e);
    check('orvel-client: a refusal rejects with the host\'s code and data', refused?.code === -32602 &&
      refused.data?.reason === 'range' && typeof refused.message === 'string', String(refused));
  } finally {
    client.close();
  }
}

async function run(state) {
  console.log(`orvelnode: ${hostPath}`);
  const child = spawn(hostPath, ['--listen', '0', manifest], { cwd: root, stdio: ['pipe', 'ignore', 'pipe'] });
  state.child = child;
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  const url = await waitForListening(child);
  const wsUrl = `ws://${url.host}/rpc${url.search}`;
  const { client: rpc, socket } = await stockClient(wsUrl);
  state.socket = socket;

  const doc = await rpc.request('rpc.discover');
  checkDiscovery(doc);
  const { schema, tree } = await checkSchema(rpc, 'demo');
  checkJsonForms(schema, tree);
  await checkStockClient(rpc, doc);
  await checkOrvelClient(url, rpc);

  const bye = await rpc.request('shutdown');
  const end = await withTimeout(exited, WAIT_MS, 'orvelnode to exit');
  check('shutdown ends orvelnode with status 0', bye === null && end.code === 0, JSON.stringify(end));
  state.child = null;
}

const state = {};
function cleanUp() {
  state.socket?.terminate();
  if (state.child && state.child.exitCode === null) state.child.kill('SIGKILL');
}
const whole = setTimeout(() => {
  console.log(`FAIL the whole test took more than ${WHOLE_TEST_MS} ms`);
  tally.failed++;
  cleanUp();
  console.log(`${tally.passed} passed, ${tally.failed} failed`);
  process.exit(1);
}, WHOLE_TEST_MS);

try {
  await run(state);
} catch (error) {
  check('the test ran to its end', false, error.stack || String(error));
}
cleanUp();
clearTimeout(whole);
console.log(`${tally.passed} passed, ${tally.failed} failed`);
process.exit(tally.failed === 0 ? 0 : 1);
