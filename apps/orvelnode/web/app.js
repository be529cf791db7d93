// The orvelnode page: one OrvelClient over the WebSocket, a form built from
// vorn.describeView, edits sent as vorn.editTweaker, model changes applied in
// place from vorn.modelChanged. A structure change re-reads only the parent's
// subtree; a large view comes in pages, and a group whose children did not
// fit is read when it is opened.
import { OrvelClient } from './orvel-client.js';

const RETRY_MS = 2000;

const ui = {
  context: document.getElementById('context'),
  connection: document.getElementById('connection'),
  form: document.getElementById('view'),
  view: document.getElementById('view-body'),
  status: document.getElementById('status'),
};

// The shown context. rows: object id -> the entries showing it, so that a
// change touches only that object's controls however large the view is.
// nodes: node id -> its element, for structure changes. waiting: node id ->
// the node of a row not built yet. toggled: the groups the user opened or
// closed, kept across re-reads. connected: the context the host tells us of.
const shown = {
  context: null,
  connected: null,
  view: undefined,
  rows: new Map(),
  nodes: new Map(),
  waiting: new Map(),
  toggled: new Map(),
};
// A control or row element -> its entry; edits are handled by delegation.
const entryOf = new WeakMap();
// Node id -> true when it must be read again once the pending answer is in.
const rereading = new Map();
let rpc = null;
let lastId = 0;
const newId = (prefix) => `${prefix}${++lastId}`;

// ---------------------------------------------------------------------------
// Controls, one builder per tweaker kind. A builder answers
//   field:    the nodes shown right of the label;
//   controls: the elements holding the value (they get data-object);
//   labelled: the one control a <label for> names, or
//   group:    the element grouping several controls that each carry an aria-label;
//   write(value, skip): shows a value, leaving `skip` (being typed in) alone;
//   read(source):       the value to send after a change (no read: read-only);
//   mirror(source):     keeps twin controls together while one is dragged;
//   refresh:            the host's description depends on the value (read it again).

const BUILDERS = new Map(Object.entries({
  number: numberControl,
  ratio: ratioControl,
  boolean: booleanControl,
  text: textControl,
  choice: choiceControl,
  color: colorControl,
  vector: vectorControl,
  matrix: matrixControl,
  summary: summaryControl,
}));

function builderOf(tweaker) {
  // Ratios are numbers, drawn as a slider with its number.
  const kind = tweaker.kind === 'number' && tweaker.type === 'ratio' ? 'ratio' : tweaker.kind;
  return BUILDERS.get(kind);
}

function isNumber(value) {
  return typeof value === 'number' && Number.isFinite(value);
}

function make(tag, className, text) {
  const element = document.createElement(tag);
  if (className) element.className = className;
  if (text !== undefined) element.textContent = text;
  return element;
}

function labelOf(tweaker) {
  return tweaker.label || tweaker.object;
}

function jsonText(value) {
  return value === undefined ? '' : JSON.stringify(value);
}

function numberText(value) {
  return isNumber(value) ? String(value) : '';
}

// Integers move by 1 unless the object says otherwise; other numbers take any value.
function stepOf(tweaker) {
  if (isNumber(tweaker.step) && tweaker.step > 0) return tweaker.step;
  return tweaker.type === 'integer' ? 1 : 'any';
}

function numberInput(tweaker) {
  const input = make('input');
  input.type = 'number';
  if (isNumber(tweaker.min)) input.min = tweaker.min;
  if (isNumber(tweaker.max)) input.max = tweaker.max;
  input.step = stepOf(tweaker);
  return input;
}

function unitOf(tweaker) {
  return tweaker.unit ? [make('span', 'unit', tweaker.unit)] : [];
}

function numberControl(tweaker) {
  const input = numberInput(tweaker);
  return {
    field: [input, ...unitOf(tweaker)],
    controls: [input],
    labelled: input,
    read: () => input.valueAsNumber,
    write: (value, skip) => { if (input !== skip) input.value = numberText(value); },
  };
}

function ratioControl(tweaker) {
  const slider = make('input');
  slider.type = 'range';
  const box = numberInput(tweaker);
  box.className = 'ratio-number';
  box.setAttribute('aria-label', `${labelOf(tweaker)} value`);
  for (const input of [slider, box]) {
    input.min = isNumber(tweaker.min) ? tweaker.min : 0;
    input.max = isNumber(tweaker.max) ? tweaker.max : 1;
    input.step = stepOf(tweaker);
  }
  const both = [slider, box];
  return {
    field: [slider, box, ...unitOf(tweaker)],
    controls: both,
    labelled: slider,
    read: (source) => source.valueAsNumber,
    write: (value, skip) => { for (const input of both) if (input !== skip) input.value = numberText(value); },
    // The slider moves the number while dragging; the edit is sent on release.
    mirror: (source) => { for (const input of both) if (input !== source) input.value = source.value; },
  };
}

function booleanControl() {
  const input = make('input');
  input.type = 'checkbox';
  return {
    field: [input],
    controls: [input],
    labelled: input,
    read: () => input.checked,
    write: (value) => { input.checked = value === true; },
  };
}

function textControl() {
  const input = make('input');
  input.type = 'text';
  return {
    field: [input],
    controls: [input],
    labelled: input,
    read: () => input.value,
    write: (value, skip) => {
      if (input !== skip) input.value = typeof value === 'string' ? value : value == null ? '' : JSON.stringify(value);
    },
  };
}

function choiceControl(tweaker) {
  const select = make('select');
  const choices = Array.isArray(tweaker.possibleValues) ? tweaker.possibleValues : [];
  select.append(...choices.map((choice) => new Option(String(choice), String(choice))));
  return {
    field: [select],
    controls: [select],
    labelled: select,
    // By position, so that choices that are not strings keep their type.
    read: () => choices[select.selectedIndex],
    write: (value) => { select.selectedIndex = choices.findIndex((choice) => choice === value); },
  };
}

function colorControl() {
  const input = make('input');
  input.type = 'color';
  const code = make('code', 'color-code');
  return {
    field: [input, code],
    controls: [input],
    labelled: input,
    read: () => input.value,
    write: (value) => {
      if (typeof value === 'string' && /^#[0-9a-f]{6}$/i.test(value)) input.value = value.toLowerCase();
      code.textContent = typeof value === 'string' ? value : jsonText(value);
    },
  };
}

// Number fields, one per entry of an array value, each with its own accessible name.
function numberFields(tweaker, names) {
  return names.map((name) => {
    const input = numberInput(tweaker);
    input.className = 'component';
    input.setAttribute('aria-label', `${labelOf(tweaker)} ${name}`);
    return input;
  });
}

function arrayReadWrite(inputs) {
  return {
    read: () => inputs.map((input) => input.valueAsNumber),
    write: (value, skip) => {
      inputs.forEach((input, i) => { if (input !== skip) input.value = numberText(Array.isArray(value) ? value[i] : undefined); });
    },
  };
}

function vectorControl(tweaker) {
  const count = Number.isInteger(tweaker.components) ? tweaker.components
    : Array.isArray(tweaker.value) ? tweaker.value.length : 0;
  const labels = Array.isArray(tweaker.componentLabels) ? tweaker.componentLabels : [];
  const names = Array.from({ length: count }, (_, i) => String(labels[i] ?? i + 1));
  const inputs = numberFields(tweaker, names);
  const group = make('span', 'components');
  inputs.forEach((input, i) => {
    const pair = make('span', 'component-pair');
    // The visible letter; the field's own aria-label already says it.
    const letter = make('span', 'component-name', names[i]);
    letter.setAttribute('aria-hidden', 'true');
    pair.append(letter, input);
    group.append(pair);
  });
  return { field: [group, ...unitOf(tweaker)], controls: inputs, group, ...arrayReadWrite(inputs) };
}

function matrixControl(tweaker) {
  const length = Array.isArray(tweaker.value) ? tweaker.value.length : 0;
  const columns = Number.isInteger(tweaker.columns) && tweaker.columns > 0 ? tweaker.columns : Math.max(1, length);
  const rows = Number.isInteger(tweaker.rows) && tweaker.rows > 0 ? tweaker.rows : Math.ceil(length / columns);
  const names = [];
  for (let r = 1; r <= rows; r++) for (let c = 1; c <= columns; c++) names.push(`row ${r} column ${c}`);
  const inputs = numberFields(tweaker, names);
  const group = make('span', 'matrix');
  group.style.gridTemplateColumns = `repeat(${columns}, auto)`;  // CSSOM: allowed by the page's CSP
  group.append(...inputs);
  return { field: [group, ...unitOf(tweaker)], controls: inputs, group, ...arrayReadWrite(inputs) };
}

// Geometries: the host's short text; the numbers are in the tooltip.
function summaryControl(tweaker) {
  const output = make('output', 'summary');
  return {
    field: [output],
    controls: [output],
    labelled: output,
    write: (value) => {
      output.textContent = typeof tweaker.summary === 'string' ? tweaker.summary : jsonText(value);
      output.title = jsonText(value);
    },
    refresh: true,
  };
}

// A value no control of this page shows: read-only, as JSON.
function jsonControl() {
  const output = make('output', 'json');
  return {
    field: [output],
    controls: [output],
    labelled: output,
    write: (value) => { output.textContent = jsonText(value); },
  };
}

// Text and number fields stay focusable and copyable; the others cannot be read-only, only disabled.
function makeReadOnly(control) {
  if (control.tagName === 'OUTPUT') return;
  if (control.tagName === 'INPUT' && (control.type === 'text' || control.type === 'number')) control.readOnly = true;
  else control.disabled = true;
}

// One row: the label (with its help text), the controls, and room for a refusal.
function renderRow(node, tweaker, made, note) {
  const readOnly = tweaker.readOnly === true || !made.read;
  const row = make('div', `tweaker kind-${tweaker.kind || 'unsupported'}${readOnly ? ' read-only' : ''}`);
  row.dataset.node = node.id;
  const head = make('div', 'head');
  const name = make(made.labelled ? 'label' : 'span', 'name', labelOf(tweaker));
  name.id = newId('n');
  if (made.labelled) {
    made.labelled.id = newId('c');
    name.htmlFor = made.labelled.id;
  }
  if (made.group) {
    made.group.setAttribute('role', 'group');
    made.group.setAttribute('aria-labelledby', name.id);
  }
  head.append(name);
  let helpId = '';
  if (tweaker.description) {
    const help = make('small', 'help', tweaker.description);
    help.id = helpId = newId('h');
    head.append(help);
  }
  const field = make('div', 'field');
  field.append(...made.field);
  if (readOnly) field.append(make('span', 'read-only-tag', 'read-only'));
  row.append(head, field);
  if (note) row.append(make('p', 'note', note));

  for (const control of made.controls) {
    control.dataset.object = tweaker.object;
    if (tweaker.tweaker) control.dataset.tweaker = tweaker.tweaker;
    if (helpId) control.setAttribute('aria-describedby', helpId);
    if (readOnly) makeReadOnly(control);
  }
  const entry = {
    id: node.id, tweaker, row, helpId, readOnly,
    controls: made.controls, read: made.read, write: made.write, mirror: made.mirror, refresh: made.refresh,
    confirmed: tweaker.value, editing: false, refusal: null,
  };
  made.write(tweaker.value, null);
  entryOf.set(row, entry);
  for (const control of made.controls) entryOf.set(control, entry);
  const list = shown.rows.get(tweaker.object);
  if (list) list.push(entry);
  else shown.rows.set(tweaker.object, [entry]);
  return row;
}

function renderLeaf(node) {
  rowBudget--;
  if (shown.waiting.get(node.id) === node) shown.waiting.delete(node.id);
  // Changed while waiting to be built: the host describes it anew.
  if (node.stale) queueMicrotask(() => rereadNode(node.id));
  if (node.tweaker) {
    const build = builderOf(node.tweaker);
    if (build) return renderRow(node, node.tweaker, build(node.tweaker));
    return renderRow(node, node.tweaker, jsonControl(),
      `This page has no control for "${node.tweaker.kind}" tweakers; the value is shown read-only.`);
  }
  const about = node.unsupported || {};
  const shownAs = {
    object: node.id, label: about.label, description: about.description, value: about.value, readOnly: true,
  };
  return renderRow(node, shownAs, jsonControl(),
    `No control shows the data type "${about.type ?? 'unknown'}"; its value is shown read-only, as JSON.`);
}

// Groups follow the model tree. A group whose children did not fit in the
// answer (childCount) starts closed and is read when opened; a group wider
// than one answer shows a slice of its children and a button for the next.
function renderGroup(node, fetched) {
  const group = make('details', 'group');
  group.dataset.node = node.id;
  const summary = make('summary', null, node.name || node.tweaker?.label || node.id);
  summary.id = newId('g');
  const body = make('div', 'group-body');
  body.setAttribute('role', 'group');
  body.setAttribute('aria-labelledby', summary.id);
  group.append(summary, body);
  if (node.tweaker || node.unsupported) body.append(renderLeaf(node));
  if (Array.isArray(node.children)) {
    group.open = shown.toggled.get(node.id) ?? true;
    if (isNumber(node.childCount) && node.childCount > node.children.length) {
      summary.append(make('span', 'count', countText(node.childCount)));
      group.dataset.childCount = node.childCount;
      body.append(sliceOf(node.children), moreButton(node.children.length, node.childCount));
    } else {
      fill(body, node.children, 0);
    }
  } else if (isNumber(node.childCount)) {
    group.classList.add('paged');
    group.dataset.childCount = node.childCount;
    summary.append(make('span', 'count', countText(node.childCount)));
    if (fetched) {
      // Asked for this node itself and still no children: asking again would not help.
      group.dataset.tooLarge = 'true';
      body.append(make('p', 'note', `${countText(node.childCount)}, none described by the host.`));
    } else if (shown.toggled.get(node.id)) {
      group.open = true;
      queueMicrotask(() => loadGroup(group));
    }
  }
  return group;
}

// A slice of a wide group's children has a box of its own, so that rows
// built later land in it, before the group's button.
function sliceOf(children) {
  const slice = make('div', 'slice');
  fill(slice, children, 0);
  return slice;
}

function moreButton(shownCount, total) {
  const button = make('button', 'more', `Show more (${shownCount} of ${total} shown)`);
  button.type = 'button';
  button.dataset.from = shownCount;
  return button;
}

// The next slice of a wide group's children, put before its button.
async function showMore(button) {
  const group = button.closest('details.group');
  const id = group.dataset.node;
  const from = Number(button.dataset.from);
  const context = shown.context;
  button.disabled = true;
  try {
    const { tree } = await rpc.describeView(context, shown.view, { under: id, from });
    if (shown.context !== context || !button.isConnected) return;
    const children = Array.isArray(tree.children) ? tree.children : [];
    button.before(renderAnswer(() => sliceOf(children)));
    const total = isNumber(tree.childCount) ? tree.childCount : from + children.length;
    if (children.length > 0 && from + children.length < total) button.replaceWith(moreButton(from + children.length, total));
    else button.remove();
  } catch (error) {
    if (button.isConnected) button.disabled = false;
    if (shown.context === context && error?.data?.reason !== 'closed') showStatus(`Could not read ${id}: ${errorText(error)}`, 'error');
  }
}

function countText(count) {
  return count === 1 ? '1 item' : `${count} items`;
}

function renderNode(node, fetched = false) {
  if (!node.tweaker && !node.unsupported && shown.waiting.get(node.id) === node) {
    shown.waiting.delete(node.id);
    if (node.stale) queueMicrotask(() => rereadNode(node.id));
  }
  const isGroup = node.children?.length > 0 || isNumber(node.childCount) || !(node.tweaker || node.unsupported);
  const element = isGroup ? renderGroup(node, fetched) : renderLeaf(node);
  shown.nodes.set(node.id, element);
  return element;
}

// Rows past the first screenful are built in slices between other tasks, so
// that the first controls show at once however large the answer is.
const FIRST_ROWS = 100;
const SLICE_ROWS = 25;
const SLICE_MS = 10;
let rowBudget = Infinity;
const unbuilt = [];  // {body, nodes, at}: group bodies still to fill
let slicing = false;
let inSlice = false;  // building nodes that already wait (their subtrees too)

function fill(body, nodes, from) {
  let at = from;
  while (at < nodes.length && rowBudget > 0) body.append(renderNode(nodes[at++]));
  if (at === nodes.length) return;
  unbuilt.push({ body, nodes, at });
  // Until built, a change of these nodes is kept in their description.
  const wait = (node) => {
    shown.waiting.set(node.id, node);
    for (const child of node.children || []) wait(child);
  };
  if (!inSlice) for (let i = at; i < nodes.length; i++) wait(nodes[i]);
  if (!slicing) {
    slicing = true;
    ui.view.setAttribute('aria-busy', 'true');
    setTimeout(buildSlice);
  }
}

function buildSlice() {
  const end = performance.now() + SLICE_MS;
  inSlice = true;
  while (unbuilt.length > 0 && performance.now() < end) {
    const task = unbuilt.shift();
    if (!task.body.isConnected) continue;  // replaced meanwhile by a newer answer
    rowBudget = SLICE_ROWS;
    fill(task.body, task.nodes, task.at);
  }
  inSlice = false;
  rowBudget = Infinity;
  if (unbuilt.length > 0) {
    setTimeout(buildSlice);
  } else {
    slicing = false;
    ui.view.removeAttribute('aria-busy');
  }
}

// Renders an answer's tree with a first screenful of rows built at once.
function renderAnswer(render) {
  rowBudget = FIRST_ROWS;
  try {
    return render();
  } finally {
    rowBudget = Infinity;
  }
}

// Drops the entries of an element's subtree (it is being removed or replaced).
function forget(element) {
  for (const each of [element, ...element.querySelectorAll('[data-node]')]) {
    const id = each.dataset.node;
    if (shown.nodes.get(id) === each) shown.nodes.delete(id);
    const entry = entryOf.get(each);
    if (!entry) continue;
    const list = shown.rows.get(entry.tweaker.object);
    const at = list ? list.indexOf(entry) : -1;
    if (at >= 0) list.splice(at, 1);
    if (list && list.length === 0) shown.rows.delete(entry.tweaker.object);
  }
}

// ---------------------------------------------------------------------------
// Edits and refusals

// Shows the model's value; a field being typed in keeps its text until it is left.
function show(entry, value) {
  entry.confirmed = value;
  const active = document.activeElement;
  const typing = entry.editing && entry.controls.includes(active);
  entry.write(value, typing ? active : null);
}

function sendable(value) {
  if (typeof value === 'number') return Number.isFinite(value);
  if (Array.isArray(value)) return value.every(sendable);
  return true;
}

function limitsOf(data = {}) {
  const limits = [];
  if ('min' in data) limits.push(`min ${data.min}`);
  if ('max' in data) limits.push(`max ${data.max}`);
  if ('step' in data) limits.push(`step ${data.step}`);
  if (Array.isArray(data.possibleValues)) limits.push(`one of ${data.possibleValues.map(String).join(', ')}`);
  if (data.expected) limits.push(`expects ${data.expected}`);
  return limits;
}

// The refusal goes beside the control that was edited and describes it.
function refuse(entry, reason, message, limits = []) {
  if (!entry.refusal) {
    entry.refusal = make('p', 'refusal');
    entry.refusal.id = newId('r');
    entry.refusal.setAttribute('role', 'alert');
    entry.row.append(entry.refusal);
    const describedBy = [entry.helpId, entry.refusal.id].filter(Boolean).join(' ');
    for (const control of entry.controls) control.setAttribute('aria-describedby', describedBy);
  }
  const pieces = [make('span', 'reason', reason), document.createTextNode(` ${message}`)];
  if (limits.length) pieces.push(make('span', 'limits', ` (${limits.join(', ')})`));
  entry.refusal.replaceChildren(...pieces);
  entry.refusal.hidden = false;
  for (const control of entry.controls) control.setAttribute('aria-invalid', 'true');
}

function clearRefusal(entry) {
  if (!entry.refusal || entry.refusal.hidden) return;
  entry.refusal.hidden = true;
  entry.refusal.replaceChildren();
  for (const control of entry.controls) control.removeAttribute('aria-invalid');
}

async function edit(entry, source) {
  const value = entry.read(source);
  if (!sendable(value)) {
    show(entry, entry.confirmed);
    return refuse(entry, 'number', 'Not a number: the value was not sent.');
  }
  const context = shown.context;
  const params = { context, tweaker: entry.tweaker.tweaker, value };
  if (shown.view) params.view = shown.view;
  try {
    const answer = await rpc.call('vorn.editTweaker', params);
    if (shown.context !== context) return;
    clearRefusal(entry);
    show(entry, answer && 'value' in answer ? answer.value : value);
    showStatus(`${labelOf(entry.tweaker)} set to ${formatValue(entry.confirmed)}${entry.tweaker.unit ? ` ${entry.tweaker.unit}` : ''}`);
  } catch (error) {
    if (shown.context !== context) return;
    show(entry, entry.confirmed);
    const data = error?.data || {};
    if (data.reason === 'closed') refuse(entry, 'not sent', 'The connection closed before the host answered.');
    else refuse(entry, data.reason || 'error', error?.message || String(error), limitsOf(data));
  }
}

function formatValue(value) {
  return typeof value === 'string' ? `"${value}"` : JSON.stringify(value);
}

ui.view.addEventListener('input', (event) => {
  const entry = entryOf.get(event.target);
  if (!entry) return;
  entry.editing = true;
  entry.mirror?.(event.target);
});
ui.view.addEventListener('change', (event) => {
  const entry = entryOf.get(event.target);
  if (!entry?.read || entry.readOnly) return;
  entry.editing = false;
  edit(entry, event.target);
});
ui.view.addEventListener('focusout', (event) => {
  const entry = entryOf.get(event.target);
  // Left without a change: show what the model holds now.
  if (entry?.editing) {
    entry.editing = false;
    entry.write(entry.confirmed, null);
  }
});
// Groups: remember what the user opened or closed; read a paged group when opened.
ui.view.addEventListener('toggle', (event) => {
  const group = event.target;
  if (!(group instanceof HTMLDetailsElement) || !group.classList.contains('group')) return;
  shown.toggled.set(group.dataset.node, group.open);
  if (group.open) loadGroup(group);
}, true);
ui.view.addEventListener('click', (event) => {
  if (event.target instanceof HTMLButtonElement && event.target.classList.contains('more')) showMore(event.target);
});
ui.form.addEventListener('submit', (event) => event.preventDefault());

// ---------------------------------------------------------------------------
// The host's side

function setConnection(state, text) {
  ui.connection.className = state;
  ui.connection.textContent = text;
}

function showStatus(text, kind = 'info') {
  ui.status.textContent = text;
  ui.status.className = text ? kind : '';
}

function errorText(error) {
  if (!error) return 'unknown error';
  const reason = error.data && error.data.reason;
  return reason ? `${error.message} (${reason})` : String(error.message || error);
}

// The host prints the page's address with its token; the WebSocket needs it
// too (a page of another site cannot read it, so it cannot connect).
const token = new URLSearchParams(location.search).get('token') || '';

// Controls take no edit while the host is away, nor before the view is read again.
function setEnabled(enabled) {
  ui.view.disabled = !enabled;
  ui.form.classList.toggle('offline', !enabled);
  ui.context.disabled = !enabled || ui.context.options.length === 0;
}

function connect() {
  setConnection('connecting', 'Connecting…');
  rpc = new OrvelClient('/rpc', { token, reconnectMs: RETRY_MS });
  rpc.on('open', () => {
    setConnection('open', 'Connected');
    // The context to show is asked for along with the list: the first
    // controls come one round trip after the socket opens. After a
    // reconnect the client connects it again itself and asks for a re-read.
    const wanted = shown.context || decodeURIComponent(location.hash.slice(1));
    if (wanted && shown.connected === null) showContext(wanted);
    loadContexts();
  });
  rpc.on('close', () => {
    setConnection('closed', 'Disconnected, retrying…');
    setEnabled(false);
  });
  rpc.on('vorn.modelChanged', onModelChanged);
  rpc.on('vorn.childAdded', onChildAdded);
  rpc.on('vorn.childRemoved', onChildRemoved);
  // After a reconnect or missed notifications nothing shown can be trusted.
  rpc.on('resync', ({ context }) => { if (context === shown.context) showView(context); });
  rpc.on('vorn.contextAdded', () => loadContexts());
  rpc.on('vorn.contextRemoved', () => loadContexts());
}

async function loadContexts() {
  let contexts;
  try {
    contexts = await rpc.call('vorn.listContexts');
  } catch (error) {
    return showStatus(`Could not list the contexts: ${errorText(error)}`, 'error');
  }
  const wanted = shown.context || decodeURIComponent(location.hash.slice(1));
  ui.context.replaceChildren(...contexts.map(({ name, namespace }) => {
    const option = new Option(namespace ? `${name} (${namespace})` : name, name);
    option.selected = name === wanted;
    return option;
  }));
  ui.context.disabled = contexts.length === 0;
  if (contexts.length === 0) {
    shown.context = null;
    clearView();
    return showStatus('The host has no contexts.');
  }
  // None shown yet, or the shown one is gone: show the first.
  if (!contexts.some(({ name }) => name === shown.context)) await showContext(ui.context.value);
}

function clearView() {
  ui.view.replaceChildren();
  shown.rows.clear();
  shown.nodes.clear();
  shown.waiting.clear();
  unbuilt.length = 0;
}

// The three requests go out together; the host answers them in order, so
// the view read is already the connected one's.
async function showContext(name) {
  const previous = shown.connected;
  shown.context = name;
  shown.toggled.clear();
  const leaving = previous && previous !== name ? rpc.disconnect([previous]).catch(() => {}) : null;
  if (leaving) shown.connected = null;
  const joining = rpc.connect([name]).then(
    () => { if (shown.context === name) shown.connected = name; },
    (error) => { if (shown.context === name) showStatus(`Could not connect to ${name}: ${errorText(error)}`, 'error'); });
  const showing = showView(name);
  await Promise.all([leaving, joining, showing]);
}

async function showView(name) {
  try {
    const description = await rpc.describeView(name);
    if (shown.context !== name) return;  // another context was picked meanwhile
    shown.view = description.view;
    clearView();
    const root = description.tree;
    const fragment = document.createDocumentFragment();
    renderAnswer(() => {
      // The view's root (the context) only holds the model's top objects.
      if (root.children) fill(fragment, root.children, 0);
      else if (root.childCount !== undefined || root.tweaker || root.unsupported) fragment.append(renderNode(root, true));
    });
    ui.view.replaceChildren(fragment);
    for (const task of unbuilt) if (task.body === fragment) task.body = ui.view;
    setEnabled(rpc.isOpen);
    showStatus(description.complete === false ? 'Large view: closed groups are read when opened.' : '');
  } catch (error) {
    if (shown.context !== name) return;
    clearView();
    showStatus(`Could not show ${name}: ${errorText(error)}`, 'error');
  }
}

// Reads one node's subtree again and puts it in place of the one shown.
// Answers come in the order asked, after the notifications sent before them,
// so the newest answer always wins.
function rereadNode(id) {
  if (rereading.has(id)) {
    rereading.set(id, true);
    return;
  }
  rereading.set(id, false);
  const context = shown.context;
  rpc.describeView(context, shown.view, { under: id }).then((description) => {
    const old = shown.nodes.get(id);
    if (shown.context !== context || !old?.isConnected) return;
    const fresh = renderAnswer(() => renderNode(description.tree, true));
    forget(old);
    shown.nodes.set(id, fresh);
    old.replaceWith(fresh);
  }, (error) => {
    if (shown.context === context && error?.data?.reason !== 'closed') showStatus(`Could not read ${id}: ${errorText(error)}`, 'error');
  }).finally(() => {
    const again = rereading.get(id);
    rereading.delete(id);
    if (again && shown.context === context) rereadNode(id);
  });
}

function loadGroup(group) {
  if (!group.classList.contains('paged') || group.dataset.tooLarge || group.dataset.loading) return;
  if (shown.nodes.get(group.dataset.node) !== group) return;
  group.dataset.loading = 'true';
  group.querySelector('.group-body').replaceChildren(make('p', 'note', 'Loading…'));
  rereadNode(group.dataset.node);
}

function onModelChanged({ context, object, values }) {
  if (context !== shown.context || !values) return;
  const entries = shown.rows.get(object);
  if (!entries) return keepForLater(object, values);
  const otherThanValue = Object.keys(values).some((key) => key !== 'value');
  for (const entry of [...entries]) {
    if ('value' in values) show(entry, values.value);
    // A label, a limit or a summary changed: the host describes it anew.
    if (otherThanValue || entry.refresh) rereadNode(entry.id);
  }
}

// A row not built yet is built from its description: keep the change there.
// (Not shown at all: in a group not read yet, which is read when opened.)
function keepForLater(object, values, restructured = false) {
  const node = shown.waiting.get(object);
  if (!node) return;
  const about = node.tweaker || node.unsupported;
  if (about && 'value' in values) about.value = values.value;
  if (restructured || node.tweaker?.kind === 'summary' || Object.keys(values).some((key) => key !== 'value')) node.stale = true;
}

// A group not read yet only counts its children; a shown one reads its subtree again.
function onChildAdded({ context, parent }) {
  if (context !== shown.context) return;
  const element = shown.nodes.get(parent);
  if (!element) return keepForLater(parent, {}, true);
  if (isUnread(element)) return recount(element, 1);
  rereadNode(parent);
}

function onChildRemoved({ context, parent, child }) {
  if (context !== shown.context) return;
  const parentElement = shown.nodes.get(parent);
  if (!parentElement) return keepForLater(parent, {}, true);
  if (isUnread(parentElement)) return recount(parentElement, -1);
  const element = shown.nodes.get(child);
  if (element && element !== parentElement && parentElement.contains(element)) {
    forget(element);
    element.remove();
    if (parentElement.dataset.childCount) recount(parentElement, -1);  // a wide group shown a slice at a time
  } else {
    rereadNode(parent);  // another object of the same id: the parent's subtree says what is left
  }
}

function isUnread(element) {
  return element.classList.contains('paged') && !element.dataset.loading && !element.dataset.tooLarge;
}

function recount(group, delta) {
  const count = Math.max(0, Number(group.dataset.childCount) + delta);
  group.dataset.childCount = count;
  group.querySelector(':scope > summary > .count').textContent = countText(count);
}

ui.context.addEventListener('change', () => {
  location.hash = encodeURIComponent(ui.context.value);
  showContext(ui.context.value);
});

connect();
