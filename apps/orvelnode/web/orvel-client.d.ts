// Types of orvel-client.js.

/** The host's error shape: data.reason is a stable word ("range", "unknownContext", ...). */
export interface OrvelErrorData {
  reason: string;
  message: string;
  [key: string]: unknown;
}

/** A refused or failed call; code 0 and data.reason "closed" when the connection ended first. */
export class OrvelError extends Error {
  constructor(error: { code?: number; message?: string; data?: unknown });
  code: number;
  data: OrvelErrorData | undefined;
}

export interface OrvelClientOptions {
  /** Added to the address as ?token=. */
  token?: string;
  /** The WebSocket constructor (in Node: the ws package); default globalThis.WebSocket. */
  WebSocket?: unknown;
  /** Delay before reconnecting after the socket closes, default 2000; 0 or false: no reconnect. */
  reconnectMs?: number | false;
}

export interface ConnectAnswer {
  client: string;
  /** The contexts heard, with their sequence numbers. */
  contexts: Record<string, number>;
}

export interface TreeAnswer<Tree = any> {
  context: string;
  seq: number;
  tree: Tree;
}

export interface SchemaAnswer {
  context: string;
  seq: number;
  schema: Record<string, unknown>;
}

export interface ViewAnswer<Tree = any> extends TreeAnswer<Tree> {
  view: string;
  /** False while something is left: a node with childCount and no children (ask with it as under), or the rest of the described node's children (ask with from). */
  complete: boolean;
}

export interface ViewPage {
  /** The id of the object to describe from (default: the tree's root). */
  under?: string;
  /** The first of its children to describe (default 0): the next slice of a wide node. */
  from?: number;
  /** The most nodes to describe, 1 to 2000 (default 2000). */
  limit?: number;
}

export interface ModelChanged {
  context: string;
  seq: number;
  object: string;
  values: Record<string, unknown>;
}

export interface ChildAdded {
  context: string;
  seq: number;
  parent: string;
  child: Record<string, unknown>;
}

export interface ChildRemoved {
  context: string;
  seq: number;
  parent: string;
  child: string;
}

export interface Resync {
  context: string;
  /** gap: a notification's seq did not follow the last one seen; reconnect: the socket was reopened. */
  reason: 'gap' | 'reconnect';
  expected?: number;
  seq?: number;
}

export interface OrvelEvents {
  'vorn.modelChanged': ModelChanged;
  'vorn.childAdded': ChildAdded;
  'vorn.childRemoved': ChildRemoved;
  'vorn.contextAdded': { context: string; namespace: string };
  'vorn.contextRemoved': { context: string };
  'vorn.event': { sender: string; event: string; data?: unknown; dataBase64?: string };
  open: { reconnected: boolean };
  close: { code: number; reason: string; willRetry: boolean };
  resync: Resync;
}

export class OrvelClient {
  constructor(url: string, options?: OrvelClientOptions);
  /** The WebSocket address, token included. */
  readonly url: string;
  reconnectMs: number;
  /** Last seq seen per context. */
  readonly seqs: Map<string, number>;
  /** What connect() asked for: names, null for all, undefined before any connect(). */
  readonly contexts: string[] | null | undefined;
  readonly isOpen: boolean;

  call<Result = any>(method: string, params?: object | unknown[]): Promise<Result>;
  notify(method: string, params?: object | unknown[]): void;

  on<E extends keyof OrvelEvents>(event: E, handler: (payload: OrvelEvents[E], event: E) => void): () => void;
  /** Every notification, with its method name. */
  on(event: '*', handler: (params: any, method: string) => void): () => void;
  on(event: string, handler: (payload: any, event: string) => void): () => void;

  connect(contexts?: string[]): Promise<ConnectAnswer>;
  disconnect(contexts?: string[]): Promise<ConnectAnswer>;
  getTree<Tree = any>(context: string): Promise<TreeAnswer<Tree>>;
  describeSchema(context: string): Promise<SchemaAnswer>;
  describeView<Tree = any>(context: string, view?: string, page?: ViewPage): Promise<ViewAnswer<Tree>>;
  close(): void;
}
