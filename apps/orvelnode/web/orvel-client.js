// A JSON-RPC 2.0 client of orvelnode's WebSocket (/rpc), for pages and Node
// programs alike: no dependencies, no build step. It reconnects after the
// socket drops, follows each context's sequence number, and says when the
// application must re-read a context ('resync') instead of trusting the
// notifications it has seen.
//
//   import { OrvelClient } from './orvel-client.js';
//   const client = new OrvelClient('/rpc', { token });
//   client.on('resync', ({ context }) => reload(context));
//   client.on('vorn.modelChanged', ({ object, values }) => apply(object, values));
//   await client.connect(['demo']);
//   const { tree } = await client.getTree('demo');

/** Host methods whose answers carry a context's current `seq`. */
const SEQ_ANSWERS = new Set(['vorn.getTree', 'vorn.describeView', 'vorn.describeSchema']);

/**
 * A refused or failed call: the host's error ({code, message, data}), or
 * code 0 with data.reason "closed" when the connection ended first.
 */
export class OrvelError extends Error {
  /** @param {{code?: number, message?: string, data?: any}} error */
  constructor(error) {
    super(error.message || 'JSON-RPC error');
    this.name = 'OrvelError';
    /** @type {number} */
    this.code = typeof error.code === 'number' ? error.code : 0;
    /** @type {any} */
    this.data = error.data;
  }
}

function closedError(message) {
  return new OrvelError({ code: 0, message, data: { reason: 'closed', message } });
}

/**
 * One connection to an orvelnode host, kept up while reconnectMs allows.
 * Events for on(): every notification by its method name, '*' for all of
 * them, 'open', 'close', and 'resync' ({context, reason: 'gap' | 'reconnect'})
 * when notifications of a connected context may have been missed.
 */
export class OrvelClient {
  /**
   * @param {string} url ws(s)://, http(s):// or a path relative to the page, e.g. '/rpc'
   * @param {{token?: string, WebSocket?: any, reconnectMs?: number | false}} [options]
   */
  constructor(url, options = {}) {
    const address = new URL(url, globalThis.location?.href);
    address.protocol = address.protocol.replace(/^http/, 'ws');
    if (options.token) address.searchParams.set('token', options.token);
    /** The WebSocket address, token included. */
    this.url = address.href;
    this.reconnectMs = options.reconnectMs || 0;
    if (options.reconnectMs === undefined) this.reconnectMs = 2000;
    this._WebSocket = options.WebSocket || globalThis.WebSocket;
    if (!this._WebSocket) throw new TypeError('OrvelClient: no WebSocket (pass options.WebSocket, e.g. the ws package)');
    this._nextId = 1;
    this._pending = new Map();    // id -> {resolve, reject, sent}
    this._outbox = [];            // {id, text} waiting for the socket to open
    this._handlers = new Map();   // event -> Set of handlers
    /** Last seq seen per context. */
    this.seqs = new Map();
    /** @type {string[] | null | undefined} what connect() asked for: names, null = all, undefined = nothing */
    this.contexts = undefined;
    this._everOpen = false;
    this._ended = false;
    this._open();
  }

  /** Whether the socket is open now. */
  get isOpen() {
    return this._socket?.readyState === 1;
  }

  /**
   * Calls a method; resolves with its result, rejects with an OrvelError.
   * Calls made while (re)connecting are sent once the socket opens.
   * @param {string} method
   * @param {object | any[]} [params]
   * @returns {Promise<any>}
   */
  call(method, params) {
    if (this._ended) return Promise.reject(closedError('The client is closed'));
    const id = this._nextId++;
    const answer = new Promise((resolve, reject) => this._pending.set(id, { resolve, reject, method, sent: false }));
    this._send({ jsonrpc: '2.0', id, method, ...(params === undefined ? {} : { params }) });
    return answer;
  }

  /**
   * Sends a notification (no answer, even when it fails).
   * @param {string} method
   * @param {object | any[]} [params]
   */
  notify(method, params) {
    if (!this._ended) this._send({ jsonrpc: '2.0', method, ...(params === undefined ? {} : { params }) });
  }

  /**
   * Subscribes to an event; returns the function that unsubscribes.
   * @param {string} event a notification's method, '*', 'open', 'close' or 'resync'
   * @param {(payload: any, event: string) => void} handler
   * @returns {() => void}
   */
  on(event, handler) {
    if (!this._handlers.has(event)) this._handlers.set(event, new Set());
    this._handlers.get(event).add(handler);
    return () => this._handlers.get(event)?.delete(handler);
  }

  /**
   * Starts the notifications of these contexts (all, present and future,
   * without a list) and remembers them for reconnects.
   * @param {string[]} [contexts]
   * @returns {Promise<{client: string, contexts: Record<string, number>}>}
   */
  async connect(contexts) {
    const answer = await this.call('vorn.connect', contexts ? { contexts } : undefined);
    this.contexts = contexts ? [...new Set([...(this.contexts || []), ...contexts])] : null;
    return answer;
  }

  /**
   * Stops the notifications of these contexts (all without a list).
   * @param {string[]} [contexts]
   * @returns {Promise<{client: string, contexts: Record<string, number>}>}
   */
  async disconnect(contexts) {
    const answer = await this.call('vorn.disconnect', contexts ? { contexts } : undefined);
    const heard = Object.keys(answer.contexts);
    this.contexts = heard.length ? heard : undefined;
    return answer;
  }

  /** @param {string} context @returns {Promise<{context: string, seq: number, tree: any}>} */
  getTree(context) {
    return this.call('vorn.getTree', { context });
  }

  /** @param {string} context @returns {Promise<{context: string, seq: number, schema: any}>} */
  describeSchema(context) {
    return this.call('vorn.describeSchema', { context });
  }

  /**
   * @param {string} context
   * @param {string} [view] the context's first view without one
   * @param {{under?: string, from?: number, limit?: number}} [page] describe from the object `under`
   *   (its children from the `from`th), at most `limit` nodes
   * @returns {Promise<{context: string, view: string, seq: number, tree: any, complete: boolean}>}
   */
  describeView(context, view, page = {}) {
    const params = { context };
    if (view !== undefined) params.view = view;
    if (page.under !== undefined) params.under = page.under;
    if (page.from !== undefined) params.from = page.from;
    if (page.limit !== undefined) params.limit = page.limit;
    return this.call('vorn.describeView', params);
  }

  /** Closes the connection for good: no reconnect, waiting calls rejected. */
  close() {
    this._ended = true;
    clearTimeout(this._retry);
    this._socket?.close(1000);
    this._failAll('The client is closed');
  }

  _open() {
    const socket = new this._WebSocket(this.url);
    this._socket = socket;
    socket.addEventListener('open', () => this._opened());
    socket.addEventListener('message', (event) => this._received(event.data));
    socket.addEventListener('error', () => {});  // a 'close' follows
    socket.addEventListener('close', (event) => this._closed(event));
  }

  _opened() {
    const again = this._everOpen;
    this._everOpen = true;
    for (const { id, text } of this._outbox.splice(0)) this._transmit(id, text);
    this._emit('open', { reconnected: again });
    // What happened while away is unknown: connect again and have every
    // context re-read.
    if (again && this.contexts !== undefined) {
      this.connect(this.contexts || undefined).then(
        (answer) => { for (const context of Object.keys(answer.contexts)) this._emit('resync', { context, reason: 'reconnect' }); },
        () => {});  // the socket closed again: the next open retries
    }
  }

  _closed(event) {
    this._socket = null;
    this.seqs.clear();
    const willRetry = !this._ended && this.reconnectMs > 0;
    // Sent calls will never be answered; unsent ones wait for the next socket.
    this._failPending('The connection closed before the answer');
    if (!willRetry) this._failAll('The connection closed');
    this._emit('close', { code: event.code, reason: event.reason, willRetry });
    if (willRetry) this._retry = setTimeout(() => this._open(), this.reconnectMs);
  }

  _send(message) {
    const text = JSON.stringify(message);
    if (this.isOpen) this._transmit(message.id, text);
    else this._outbox.push({ id: message.id, text });
  }

  _transmit(id, text) {
    this._socket.send(text);
    const entry = this._pending.get(id);
    if (entry) entry.sent = true;
  }

  _received(text) {
    let message;
    try { message = JSON.parse(String(text)); } catch { return; }
    for (const one of Array.isArray(message) ? message : [message]) {
      if (typeof one?.method === 'string') {
        const params = one.params || {};
        this._seen(params.context, params.seq, true);
        this._emit(one.method, params);
        this._emit('*', params, one.method);
      } else if (this._pending.has(one?.id)) {
        const { resolve, reject, method } = this._pending.get(one.id);
        this._pending.delete(one.id);
        if (one.error) {
          reject(new OrvelError(one.error));
        } else {
          this._answered(method, one.result);
          resolve(one.result);
        }
      }
    }
  }

  // The seq numbers an answer carries, taken as it arrives: a promise's
  // callbacks run only after the other messages of the same read, and seq
  // numbers must be compared in the order the host sent them.
  _answered(method, result) {
    if (SEQ_ANSWERS.has(method)) this._seen(result?.context, result?.seq);
    if ((method !== 'vorn.connect' && method !== 'vorn.disconnect') || !result?.contexts) return;
    for (const name of [...this.seqs.keys()]) if (!(name in result.contexts)) this.seqs.delete(name);
    for (const [name, seq] of Object.entries(result.contexts)) this.seqs.set(name, seq);
  }

  // Records a context's seq; a notification that does not follow the last
  // one seen means some were missed.
  _seen(context, seq, notification = false) {
    if (typeof context !== 'string' || typeof seq !== 'number') return;
    const last = this.seqs.get(context);
    this.seqs.set(context, seq);
    if (notification && last !== undefined && seq !== last + 1) this._emit('resync', { context, reason: 'gap', expected: last + 1, seq });
  }

  _emit(event, payload, name = event) {
    for (const handler of [...(this._handlers.get(event) || [])]) {
      try { handler(payload, name); } catch (error) { console.error(error); }
    }
  }

  _failPending(message, all = false) {
    for (const [id, entry] of [...this._pending]) {
      if (!all && !entry.sent) continue;
      this._pending.delete(id);
      entry.reject(closedError(message));
    }
  }

  _failAll(message) {
    this._outbox.length = 0;
    this._failPending(message, true);
  }
}
