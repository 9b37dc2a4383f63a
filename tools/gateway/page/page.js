// The plant page: the gateway's plant from /api/plant, kept live by the
// events of /api/events, and the outputs switched through /api/write.
// Only the modules shown are in the document; an update touches the one
// element of its item.
'use strict';

// Beyond this many items in all, modules start collapsed and are built
// when opened.
const kOpenModulesUpTo = 1000;
// A value is stale after this many of its item's intervals between reads,
// and never sooner than kStaleAfterAtLeastMs (gated modules are read in
// bursts); before its second read, after kStaleWithoutIntervalMs.
const kStaleIntervals = 3;
const kStaleAfterAtLeastMs = 30000;
const kStaleWithoutIntervalMs = 60000;
const kFirstRetryMs = 1000;
const kLongestRetryMs = 30000;

const $ = (id) => document.getElementById(id);

let gateway = null;
const lines = new Map();    // line name -> {line, head}
const items = new Map();    // item id -> {item, module, row, cells, interval}
const modules = [];         // {module, line, summary, body, items, failing, built}
const writes = new Map();   // write id -> item id, while its outcome is awaited
let writeCount = 0;

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

// ---- Time

function ageText(ms) {
  const s = Math.max(0, Math.floor(ms / 1000));
  if (s < 120) return `${s} s`;
  if (s < 7200) return `${Math.floor(s / 60)} min`;
  if (s < 172800) return `${Math.floor(s / 3600)} h`;
  return `${Math.floor(s / 86400)} d`;
}

// A time of the gateway's in the browser's zone, as 2026-12-09 18:23:16.
function timeText(iso) {
  if (!iso) return '';
  const t = new Date(iso);
  if (isNaN(t)) return iso;
  const two = (n) => String(n).padStart(2, '0');
  return `${t.getFullYear()}-${two(t.getMonth() + 1)}-${two(t.getDate())} ` +
    `${two(t.getHours())}:${two(t.getMinutes())}:${two(t.getSeconds())}`;
}

// ---- Rendering

function stateText(item) {
  if (item.state === 'waiting') return 'waiting for its gate';
  if (item.state === 'failed') {
    const parts = [`failed: code ${item.code}`];
    if (item.error) parts.push(item.error);
    if (item.gloss) parts.push(item.gloss);
    return parts.join(' · ');
  }
  return item.state || '';
}

function renderLineHead(entry) {
  const line = entry.line;
  const head = entry.head;
  head.replaceChildren();
  head.append(element('h2', '', line.name), element('span', 'port', line.port));
  const state = element('span', `line-state ${line.state}`, line.state);
  head.append(state);
  if (line.state === 'down') {
    if (line.down_since) head.append(element('span', 'down', `down since ${timeText(line.down_since)}`));
    head.append(element('span', 'down', `${line.reopen_attempts || 0} reopen attempts`));
  }
  if (line.error) head.append(element('span', 'line-error', line.error));
}

function renderModuleHead(m) {
  const summary = m.summary;
  summary.replaceChildren(
    element('span', 'module-name', `${m.module.class} module ${m.module.module}`),
    element('span', 'count', `${m.items.length} items`),
    element('span', m.failing ? 'count bad' : 'count', `${m.failing} failing`),
    element('span', 'count', `${m.module.failures || 0} failures`));
}

function renderItemRow(entry) {
  const item = entry.item;
  const row = element('div', 'item');
  row.dataset.id = item.id;
  const name = element('span', 'name', item.name || item.address);
  const address = element('span', 'address', item.name ? item.address : '');
  const value = element('span', 'value');
  const age = element('span', 'age');
  const state = element('span', 'state');
  const control = element('span', 'control');
  row.append(name, address, value, age, state, control);
  entry.row = row;
  entry.cells = {value, age, state};
  if (item.kind === 'do' && item.writable && gateway && gateway.writes) {
    const button = element('button', 'switch');
    button.type = 'button';
    button.setAttribute('role', 'switch');
    button.addEventListener('click', () => askToSwitch(entry));
    const outcome = element('span', 'outcome');
    control.append(button);
    row.append(outcome);
    entry.cells.button = button;
    entry.cells.outcome = outcome;
  }
  updateItemRow(entry, false);
  return row;
}

function updateItemRow(entry, changed) {
  const cells = entry.cells;
  if (!cells) return;
  const item = entry.item;
  const unit = item.unit ? ` ${item.unit}` : '';
  cells.value.textContent = item.text === null || item.text === undefined || item.text === ''
    ? '—' : `${item.text}${unit}`;
  cells.state.textContent = stateText(item);
  entry.row.classList.toggle('failed', item.state === 'failed');
  entry.row.classList.toggle('waiting', item.state === 'waiting');
  if (cells.button) {
    const on = Number(item.value) === 1;
    cells.button.setAttribute('aria-checked', on ? 'true' : 'false');
    cells.button.textContent = on ? 'on' : 'off';
    cells.button.disabled = item.value === null || item.value === undefined;
  }
  if (changed) {
    // Restarts the animation when the value changes again meanwhile.
    cells.value.classList.remove('changed');
    void cells.value.offsetWidth;
    cells.value.classList.add('changed');
  }
  updateAge(entry, Date.now());
}

function updateAge(entry, now) {
  const item = entry.item;
  const at = item.time ? Date.parse(item.time) : NaN;
  const age = isNaN(at) ? null : now - at;
  entry.cells.age.textContent = age === null ? '' : ageText(age);
  const limit = entry.interval
    ? Math.max(kStaleIntervals * entry.interval, kStaleAfterAtLeastMs) : kStaleWithoutIntervalMs;
  const stale = item.state === 'failed' || (age !== null && age > limit);
  entry.row.classList.toggle('stale', stale);
}

function buildModuleBody(m) {
  if (m.built) return;
  m.built = true;
  const fragment = document.createDocumentFragment();
  for (const entry of m.items) fragment.append(renderItemRow(entry));
  m.body.append(fragment);
}

const moduleKey = (line, module) => `${line}\n${module.class}\n${module.module}`;

function render(plant) {
  // Modules open before (the page read the plant again) stay open.
  const wasOpen = modules.length ? new Set(
    modules.filter((m) => m.body.parentElement.open).map((m) => moduleKey(m.line, m.module))) : null;
  gateway = plant.gateway;
  renderGateway();
  lines.clear();
  items.clear();
  modules.length = 0;
  const main = $('plant');
  main.replaceChildren();
  const total = plant.lines.reduce(
    (n, line) => n + line.modules.reduce((k, m) => k + m.items.length, 0), 0);
  const open = total <= kOpenModulesUpTo;
  for (const line of plant.lines) {
    const section = element('section', 'line');
    const head = element('div', 'line-head');
    section.append(head);
    const lineEntry = {line, head};
    lines.set(line.name, lineEntry);
    renderLineHead(lineEntry);
    for (const module of line.modules) {
      const details = element('details', 'module');
      const summary = element('summary');
      const body = element('div', 'items');
      details.append(summary, body);
      const m = {module, line: line.name, summary, body, items: [], failing: 0, built: false};
      for (const item of module.items) {
        const entry = {item, module: m, row: null, cells: null, interval: 0};
        m.items.push(entry);
        items.set(item.id, entry);
        if (item.state === 'failed') ++m.failing;
      }
      renderModuleHead(m);
      details.addEventListener('toggle', () => { if (details.open) buildModuleBody(m); });
      if (wasOpen ? wasOpen.has(moduleKey(line.name, module)) : open) {
        details.open = true;
        buildModuleBody(m);
      }
      modules.push(m);
      section.append(details);
    }
    main.append(section);
  }
  if (!plant.lines.length) main.append(element('p', 'note', 'The plant has no lines.'));
}

function renderGateway() {
  const broker = $('broker');
  broker.textContent = gateway.broker === 'none' ? 'none configured' : gateway.broker;
  broker.className = `broker ${gateway.broker}`;
  const about = [];
  if (gateway.version) about.push(`version ${gateway.version}`);
  if (gateway.started) about.push(`started ${timeText(gateway.started)}`);
  about.push(gateway.writes ? 'writes enabled' : 'read-only');
  $('about').textContent = about.join(' · ');
  $('token-form').hidden = !(gateway.writes && gateway.auth === 'token');
}

// ---- Events

function applyItem(item) {
  const entry = items.get(item.id);
  if (!entry) return;
  const before = entry.item;
  const beforeAt = before.time ? Date.parse(before.time) : NaN;
  const at = item.time ? Date.parse(item.time) : NaN;
  if (!isNaN(beforeAt) && !isNaN(at)) {
    if (at < beforeAt) return;  // older than what is shown
    if (at > beforeAt) {
      // A longer gap counts at once, shorter ones bring it down slowly.
      const interval = at - beforeAt;
      entry.interval = Math.max(interval, (entry.interval * 3 + interval) / 4);
    }
  }
  entry.item = item;
  // A failed read on an open line is one more of the module's failures (the
  // gateway's count, read again with the plant after a reconnect); a line
  // that goes down fails its items without reading them.
  const m = entry.module;
  const lineEntry = lines.get(m.line);
  const counted = item.state === 'failed' && !(lineEntry && lineEntry.line.state === 'down');
  if (counted) m.module.failures = (m.module.failures || 0) + 1;
  const changed = before.text !== item.text && before.text !== null && before.text !== undefined;
  updateItemRow(entry, changed);
  const failing = (item.state === 'failed') - (before.state === 'failed');
  m.failing += failing;
  if (failing || counted) renderModuleHead(m);
}

function applyLine(line) {
  const entry = lines.get(line.name);
  if (!entry) return;
  entry.line = Object.assign({}, entry.line, line);
  renderLineHead(entry);
}

function applyWrite(write) {
  const itemId = writes.get(write.id) || write.item;
  const entry = items.get(itemId);
  if (!entry) return;
  showOutcome(entry, write);
  if (write.state !== 'pending') writes.delete(write.id);
}

function showOutcome(entry, write) {
  const outcome = entry.cells && entry.cells.outcome;
  if (!outcome) return;
  let text = write.state;
  if (write.state === 'refused') {
    const reason = [write.error, write.gloss].filter(Boolean).join(': ');
    text = reason ? `refused: ${reason}` : 'refused';
  } else if (write.state === 'pending') {
    text = 'pending…';
  }
  outcome.textContent = text;
  outcome.className = `outcome ${write.state}`;
}

// The stream: events that come while the plant is fetched are applied after it.
let stream = null;
let retryMs = kFirstRetryMs;
let pending = null;

function setStream(text, ok) {
  const e = $('stream');
  e.textContent = text;
  e.className = ok ? 'stream live' : 'stream';
}

function onEvent(kind, apply) {
  stream.addEventListener(kind, (event) => {
    let data;
    try {
      data = JSON.parse(event.data);
    } catch {
      return;
    }
    if (pending) pending.push(() => apply(data));
    else apply(data);
  });
}

function connect() {
  stream = new EventSource('api/events');
  stream.addEventListener('hello', () => {
    retryMs = kFirstRetryMs;
    setStream('live', true);
    loadPlant();
  });
  onEvent('item', applyItem);
  onEvent('line', applyLine);
  onEvent('broker', (data) => {
    if (!gateway) return;
    gateway.broker = data.broker;
    renderGateway();
  });
  onEvent('write', applyWrite);
  stream.onerror = () => {
    stream.close();
    setStream(`disconnected; trying again in ${Math.round(retryMs / 1000)} s`, false);
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, kLongestRetryMs);
  };
}

async function loadPlant() {
  pending = [];
  try {
    const response = await fetch('api/plant', {cache: 'no-store'});
    if (!response.ok) throw new Error(`${response.status} ${response.statusText}`);
    render(await response.json());
  } catch (e) {
    setStream(`cannot read the plant: ${e.message}`, false);
  }
  const queued = pending;
  pending = null;
  for (const apply of queued) apply();
}

// ---- Writes

function askToSwitch(entry) {
  const item = entry.item;
  const value = Number(item.value) === 1 ? 0 : 1;
  const dialog = $('confirm');
  $('confirm-text').textContent =
    `Switch ${item.name || item.address} (${item.id}) ${value ? 'on' : 'off'}?`;
  $('confirm-ok').textContent = value ? 'Switch on' : 'Switch off';
  dialog.returnValue = '';
  dialog.onclose = () => {
    if (dialog.returnValue === 'ok') write(entry, value);
  };
  dialog.showModal();
}

async function write(entry, value) {
  const id = `page-${Date.now().toString(36)}-${++writeCount}`;
  writes.set(id, entry.item.id);
  showOutcome(entry, {state: 'pending'});
  const headers = {'Content-Type': 'application/json'};
  const token = sessionStorage.getItem('token');
  if (token) headers.Authorization = `Bearer ${token}`;
  try {
    const response = await fetch('api/write', {
      method: 'POST',
      headers,
      body: JSON.stringify({item: entry.item.id, value, id}),
    });
    let answer = {};
    try {
      answer = await response.json();
    } catch {
      answer = {};
    }
    if (response.status === 202) return;  // the outcome comes as an event
    // An outcome (written, or refused by the item, the line or the module);
    // else a refusal of the request itself.
    if (answer.state) {
      applyWrite(Object.assign({id, item: entry.item.id}, answer));
      return;
    }
    writes.delete(id);
    showOutcome(entry, {state: 'refused', error: answer.error || `HTTP ${response.status}`});
  } catch (e) {
    writes.delete(id);
    showOutcome(entry, {state: 'refused', error: `no answer from the gateway (${e.message})`});
  }
}

// ---- Start

function start() {
  const token = $('token');
  token.value = sessionStorage.getItem('token') || '';
  token.addEventListener('input', () => {
    const value = token.value.trim();
    if (value) sessionStorage.setItem('token', value);
    else sessionStorage.removeItem('token');
  });
  $('token-form').addEventListener('submit', (event) => event.preventDefault());
  setInterval(() => {
    const now = Date.now();
    for (const m of modules) {
      if (!m.built || !m.body.parentElement.open) continue;
      for (const entry of m.items) updateAge(entry, now);
    }
  }, 1000);
  connect();
}

start();
