// The orvelnode page: one OrvelClient over the WebSocket, a form built from
// vorn.describeView, edits sent as vorn.editTweaker, model changes applied in
// place from vorn.modelChanged, structure changes and missed notifications
// answered by reading the view again.
import { OrvelClient } from './orvel-client.js';

const RETRY_MS = 2000;

const ui = {
  context: document.getElementById('context'),
  connection: document.getElementById('connection'),
  view: document.getElementById('view'),
  status: document.getElementById('status'),
};

// The shown context: its name, view name and one entry per tweaker.
const shown = { context: null, view: undefined, controls: new Map() };
let rpc = null;

function setConnection(state, text) {
  ui.connection.className = state;
  ui.connection.textContent = text;
}

function showStatus(text, kind = 'info') {
  ui.status.textContent = text;
  ui.status.className = text ? kind : '';
}

// The host's message names the object and the limit ("'angle' takes values
// from -180 to 180, not 500"); the reason is the stable word behind it.
function errorText(error) {
  if (!error) return 'unknown error';
  const reason = error.data && error.data.reason;
  return reason ? `${error.message} (${reason})` : String(error.message || error);
}

// The host prints the page's address with its token; the WebSocket needs it
// too (a page of another site cannot read it, so it cannot connect).
const token = new URLSearchParams(location.search).get('token') || '';

// Controls take no edit while the host is away; they are read again once
// it is back.
function setEnabled(enabled) {
  for (const element of ui.view.elements) element.disabled = !enabled || element.dataset.readOnly === 'true';
  ui.context.disabled = !enabled || ui.context.options.length === 0;
}

function connect() {
  setConnection('connecting', 'Connecting…');
  rpc = new OrvelClient('/rpc', { token, reconnectMs: RETRY_MS });
  rpc.on('open', async () => {
    setConnection('open', 'Connected');
    await loadContexts();
  });
  rpc.on('close', () => {
    setConnection('closed', 'Disconnected, retrying…');
    setEnabled(false);
  });
  rpc.on('vorn.modelChanged', onModelChanged);
  // A structure change, or notifications missed: read the view again.
  const reread = ({ context }) => { if (context === shown.context) showView(context); };
  rpc.on('vorn.childAdded', reread);
  rpc.on('vorn.childRemoved', reread);
  rpc.on('resync', reread);
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
  setEnabled(true);
  if (contexts.length === 0) {
    ui.view.replaceChildren();
    return showStatus('The host has no contexts.');
  }
  // A reconnection is a new client: connect the context again.
  if (!shown.context || shown.context !== ui.context.value || !rpc.contexts) {
    shown.context = null;
    await showContext(ui.context.value);
  }
}

async function showContext(name) {
  const previous = shown.context;
  shown.context = name;
  try {
    if (previous && previous !== name) await rpc.disconnect([previous]);
    await rpc.connect([name]);
  } catch (error) {
    if (shown.context === name) showStatus(`Could not connect to ${name}: ${errorText(error)}`, 'error');
    return;
  }
  await showView(name);
}

async function showView(name) {
  try {
    const description = await rpc.describeView(name);
    if (shown.context !== name) return;  // another context was picked meanwhile
    shown.view = description.view;
    shown.controls.clear();
    ui.view.replaceChildren(renderNode(description.tree, true));
    setEnabled(rpc.isOpen);
    showStatus('');
  } catch (error) {
    if (shown.context !== name) return;
    ui.view.replaceChildren();
    showStatus(`Could not show ${name}: ${errorText(error)}`, 'error');
  }
}

// Groups follow the model tree; a node with a tweaker is one control row.
function renderNode(node, isRoot) {
  if (!node.children || node.children.length === 0) {
    return node.tweaker ? renderTweaker(node.tweaker) : document.createDocumentFragment();
  }
  if (isRoot && !node.name && !node.tweaker) {
    // The model's nameless top node only holds the real groups.
    const fragment = document.createDocumentFragment();
    for (const child of node.children) fragment.append(renderNode(child, false));
    return fragment;
  }
  const fieldset = document.createElement('fieldset');
  const legend = document.createElement('legend');
  legend.textContent = node.name || node.id;
  fieldset.append(legend);
  if (node.tweaker) fieldset.append(renderTweaker(node.tweaker));
  for (const child of node.children) fieldset.append(renderNode(child, false));
  return fieldset;
}

function isNumber(value) {
  return typeof value === 'number' && Number.isFinite(value);
}

function makeInput(type, tweaker) {
  const input = document.createElement('input');
  input.type = type;
  input.dataset.object = tweaker.object;
  input.dataset.tweaker = tweaker.tweaker;
  return input;
}

function renderTweaker(tweaker) {
  const row = document.createElement('div');
  row.className = `tweaker kind-${tweaker.kind}`;
  const label = document.createElement('label');
  label.textContent = tweaker.label || tweaker.object;
  const field = document.createElement('span');
  field.className = 'field';
  row.append(label, field);

  const inputId = `tweaker-${tweaker.tweaker}`;
  label.htmlFor = inputId;
  // elements: the controls showing the value; read: the value to send.
  let elements;
  let read;
  let write;

  if (tweaker.kind === 'number' && tweaker.type === 'ratio') {
    const slider = makeInput('range', tweaker);
    const box = makeInput('number', tweaker);
    for (const input of [slider, box]) {
      input.min = isNumber(tweaker.min) ? tweaker.min : 0;
      input.max = isNumber(tweaker.max) ? tweaker.max : 1;
      input.step = isNumber(tweaker.step) ? tweaker.step : 'any';
    }
    slider.id = inputId;
    box.className = 'ratio-number';
    box.setAttribute('aria-label', `${label.textContent} value`);
    // The slider moves the number while dragging; the edit is sent on release.
    slider.addEventListener('input', () => { box.value = slider.value; });
    elements = [slider, box];
    read = (source) => source.valueAsNumber;
    write = (value) => { slider.value = value; box.value = value; };
    field.append(slider, box);
  } else if (tweaker.kind === 'number') {
    const input = makeInput('number', tweaker);
    input.id = inputId;
    if (isNumber(tweaker.min)) input.min = tweaker.min;
    if (isNumber(tweaker.max)) input.max = tweaker.max;
    input.step = isNumber(tweaker.step) ? tweaker.step : 'any';
    elements = [input];
    read = () => input.valueAsNumber;
    write = (value) => { input.value = value ?? ''; };
    field.append(input);
    if (tweaker.unit) {
      const unit = document.createElement('span');
      unit.className = 'unit';
      unit.textContent = tweaker.unit;
      field.append(unit);
    }
  } else if (tweaker.kind === 'boolean') {
    const input = makeInput('checkbox', tweaker);
    input.id = inputId;
    elements = [input];
    read = () => input.checked;
    write = (value) => { input.checked = Boolean(value); };
    field.append(input);
  } else if (tweaker.kind === 'choice') {
    const select = document.createElement('select');
    select.id = inputId;
    select.dataset.object = tweaker.object;
    select.dataset.tweaker = tweaker.tweaker;
    const choices = Array.isArray(tweaker.possibleValues) ? tweaker.possibleValues : [];
    select.append(...choices.map((choice) => new Option(String(choice), String(choice))));
    elements = [select];
    // By position, so that choices that are not strings keep their type.
    read = () => choices[select.selectedIndex];
    write = (value) => { select.selectedIndex = choices.findIndex((choice) => choice === value); };
    field.append(select);
  } else {
    // Text, and any kind this page does not know, edited as text.
    const input = makeInput('text', tweaker);
    input.id = inputId;
    const plain = tweaker.kind === 'text' || typeof tweaker.value === 'string' || tweaker.value === null;
    if (!plain) input.readOnly = true;
    elements = [input];
    read = () => input.value;
    write = (value) => {
      input.value = value === null || value === undefined ? '' : typeof value === 'string' ? value : JSON.stringify(value);
    };
    field.append(input);
  }

  // A read-only value is shown, never edited (the host refuses it anyway).
  if (tweaker.readOnly) for (const element of elements) element.dataset.readOnly = 'true';
  const entry = { tweaker, elements, write, confirmed: tweaker.value, editing: false };
  write(tweaker.value);
  shown.controls.set(tweaker.tweaker, entry);

  for (const element of elements) {
    element.addEventListener('input', () => { entry.editing = true; });
    element.addEventListener('change', () => {
      entry.editing = false;
      edit(entry, read(element));
    });
    element.addEventListener('blur', () => {
      // Left without a change: show what the model holds now.
      if (entry.editing) { entry.editing = false; write(entry.confirmed); }
    });
  }
  return row;
}

async function edit(entry, value) {
  const label = entry.tweaker.label || entry.tweaker.object;
  if (typeof value === 'number' && !Number.isFinite(value)) {
    entry.write(entry.confirmed);
    return showStatus(`${label}: not a number`, 'error');
  }
  const context = shown.context;
  const params = { context, tweaker: entry.tweaker.tweaker, value };
  if (shown.view) params.view = shown.view;
  try {
    const description = await rpc.call('vorn.editTweaker', params);
    if (shown.context !== context) return;
    if (description && 'value' in description) entry.confirmed = description.value;
    entry.write(entry.confirmed);
    const unit = entry.tweaker.unit ? ` ${entry.tweaker.unit}` : '';
    showStatus(`${label} set to ${formatValue(entry.confirmed)}${unit}`);
  } catch (error) {
    if (shown.context !== context) return;
    entry.write(entry.confirmed);
    showStatus(`${label}: ${errorText(error)} (${formatValue(value)}); kept ${formatValue(entry.confirmed)}`, 'error');
  }
}

function formatValue(value) {
  return typeof value === 'string' ? `"${value}"` : JSON.stringify(value);
}

function onModelChanged(params) {
  if (params.context !== shown.context) return;
  const values = params.values || {};
  if (!('value' in values)) return;
  for (const entry of shown.controls.values()) {
    if (entry.tweaker.object !== params.object) continue;
    entry.confirmed = values.value;
    // Someone typing in this control keeps their text; blur restores the model's value.
    const focused = entry.elements.includes(document.activeElement);
    if (!(focused && entry.editing)) entry.write(values.value);
  }
}

ui.context.addEventListener('change', () => {
  location.hash = encodeURIComponent(ui.context.value);
  showContext(ui.context.value);
});

connect();
