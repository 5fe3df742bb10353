// The gameflow dashboard: follows the host's event stream and drives the
// host through its routes. See docs/dashboard.md.

import { followEvents, request, setToken, takeToken } from "./api.js";
import { Chart, drawChart } from "./chart.js";
import { EventLog } from "./log.js";
import { Resources, Timeline, clock } from "./panels.js";

const SESSION = "/tav-gameflow/v1/session";
const GAME_TYPE = "com.nalogames.platform.game.GameDTO";

const $ = (id) => document.getElementById(id);

function gameMessage(gameState) {
  return {
    type: GAME_TYPE,
    body: {
      id: 4200000001, gameState, queueTypeName: "RANKED_DUO_QUEUE", gameMode: "CLASSIC",
      gameType: "MATCHED_GAME", mapId: 11, maxNumPlayers: 10, gameTypeConfigId: 1,
    },
  };
}

const PUSH_TEMPLATES = {
  "ready-check": gameMessage("JOINING_CHAMP_SELECT"),
  "in-progress": gameMessage("IN_PROGRESS"),
  "end-of-game": gameMessage("TERMINATED"),
  credentials: {
    type: "com.nalogames.platform.game.PlayerCredentialsDto",
    body: { gameId: 4200000001, serverIp: "127.0.0.1", serverPort: 5100, encryptionKey: "a-key-for-this-game", summonerId: 2411 },
  },
};

const PATCHER_STATES = {
  idle: { action: "Idle", isCorrupted: false, isStopped: false, isUpToDate: true, isUpdateAvailable: false },
  update: { action: "Idle", isCorrupted: false, isStopped: false, isUpToDate: false, isUpdateAvailable: true },
  patching: { action: "Patching", isCorrupted: false, isStopped: false, isUpToDate: false, isUpdateAvailable: true },
  corrupted: { action: "Idle", isCorrupted: true, isStopped: false, isUpToDate: false, isUpdateAvailable: false },
};

const LOGIN = { summonerId: 2411, accountId: 7341 };

const view = {
  chart: null,
  mark: () => {},
  state: null,
  phase: null,
  lastEvent: null,
  lastRow: null,
};

const log = new EventLog($("log"), $("log-filter"), $("log-count"), $("log-clear"));
const resources = new Resources($("resources"));
const timeline = new Timeline($("timeline"));
window.dashboard = { log, resources, timeline, view };

function showConnection(state, detail) {
  const element = $("connection");
  element.dataset.state = state;
  element.textContent = {
    connecting: "Connecting…",
    connected: "Live",
    disconnected: "Disconnected: connecting again…",
    unauthorized: "Token refused",
  }[state] + (detail ? ` (${detail})` : "");
  const problem = $("problem");
  if (state === "unauthorized") {
    $("problem-text").textContent = sessionStorage.getItem("nalo-host-token")
      ? "The host refused this page's token. Open the dashboard URL that the host printed at start " +
        "(it ends with #token=...), or paste the token here."
      : "This page has no token. Open the dashboard URL that the host printed at start " +
        "(it ends with #token=...), or paste the token here.";
    problem.hidden = false;
  } else if (state === "connected") {
    problem.hidden = true;
  }
}

function redrawChart(unmovedEvent) {
  if (!view.chart) return;
  const lineage = view.state ? view.chart.lineage(view.state).filter((name) => name !== view.chart.root) : [];
  const unmoved = unmovedEvent ? view.chart.unmovedBy(unmovedEvent) : view.unmoved || [];
  if (unmovedEvent) view.unmoved = unmoved;
  view.mark({ lineage, row: view.lastRow && view.lastRow.id, unmoved });
  $("state").textContent = view.state || "–";
  const notes = [];
  if (view.lastRow) {
    const row = view.lastRow;
    notes.push(`Last transition: ${row.source} —${row.event.replace("GAMEFLOW_EVENT.", "")}→ ${row.target || row.source}.`);
  }
  if (view.lastEvent) {
    const name = view.lastEvent.replace("GAMEFLOW_EVENT.", "");
    notes.push(view.unmoved && view.unmoved.length
      ? `${name} has no row in ${view.unmoved.length} states (dimmed): ${view.unmoved.join(", ")}.`
      : `${name} has a row in every state.`);
  }
  $("chart-note").textContent = notes.join(" ");
}

function onSession(session) {
  const phase = session ? session.phase : "None";
  document.body.dataset.phase = phase;
  $("phase").textContent = phase;
  if (phase !== view.phase) {
    const band = timeline.phase(phase, Date.now());
    if (band) refreshStatus(band);
    if (view.chart) {
      const next = view.chart.follow(view.state, phase, view.pendingEvent);
      if (next.state !== view.state || next.row) {
        view.lastRow = next.row;
      }
      view.state = next.state;
    }
    view.phase = phase;
  }
  view.pendingEvent = null;
  redrawChart();
}

function onEvent(event) {
  if (event.name === "dropped") {
    log.add("host", "The stream fell behind and was dropped; connecting again.");
    return;
  }
  let parsed;
  try {
    parsed = JSON.parse(event.data);
  } catch {
    log.add("host", `Unreadable event ${event.name}`);
    return;
  }
  const uri = parsed.uri || event.name;
  const deleted = parsed.eventType === "Delete";
  resources.update(uri, deleted ? undefined : parsed.data, Date.now());
  const summary = deleted ? "deleted" : JSON.stringify(parsed.data);
  log.add("resource", `${parsed.eventType || "Update"} ${uri} ${summary && summary.length > 400 ? summary.slice(0, 400) + "…" : summary}`);
  if (uri === SESSION) onSession(deleted ? null : parsed.data);
}

async function send(method, path, body, what) {
  const answer = await request(method, path, body);
  const detail = answer.body && answer.body.message ? `: ${answer.body.message}` : "";
  const line = `${method} ${path} → ${answer.status || "no answer"} ${answer.reason || ""}${detail}`;
  log.add("request", line + (body !== undefined ? ` ${JSON.stringify(body)}` : ""));
  const ok = answer.status >= 200 && answer.status < 300;
  $("control-result").textContent = `${what}: ${ok ? "done" : "refused"} (${answer.status || "no answer"} ${answer.reason || ""})${ok ? "" : detail}`;
  $("control-result").dataset.ok = String(ok);
  if (answer.status === 401) showConnection("unauthorized");
  return answer;
}

function setUpControls() {
  const select = $("event-name");
  for (const name of view.chart ? view.chart.events : []) {
    const option = document.createElement("option");
    option.value = name;
    option.textContent = name.replace("GAMEFLOW_EVENT.", "");
    select.append(option);
  }
  $("event-form").addEventListener("submit", async (submitted) => {
    submitted.preventDefault();
    const name = select.value;
    view.lastEvent = name;
    view.pendingEvent = name;
    log.add("event", name);
    redrawChart(name);
    const answer = await send("POST", "/tav-gameflow/v1/session/event", name, `Event ${name.replace("GAMEFLOW_EVENT.", "")}`);
    // A state that publishes no phase is seen only here: the row taken from
    // the current state leads to it.
    const row = answer.status < 300 && view.chart && view.state ? view.chart.rowFor(view.state, name) : null;
    if (row && row.target && view.pendingEvent === name) {
      const leaf = view.chart.leaf(row.target);
      if (view.chart.states.get(leaf).phase === null) {
        view.state = leaf;
        view.lastRow = row;
        view.pendingEvent = null;
        redrawChart();
      }
    }
  });

  const template = $("push-template");
  const body = $("push-body");
  const fill = () => { body.value = JSON.stringify(PUSH_TEMPLATES[template.value], null, 1); };
  template.addEventListener("change", fill);
  fill();
  $("push-form").addEventListener("submit", async (submitted) => {
    submitted.preventDefault();
    let message;
    try {
      message = JSON.parse(body.value);
    } catch (error) {
      $("control-result").textContent = `The message is not JSON: ${error.message}`;
      $("control-result").dataset.ok = "false";
      return;
    }
    await send("POST", "/host/v1/lcds/push", message, `Message ${template.selectedOptions[0].textContent}`);
  });

  $("patcher-form").addEventListener("submit", async (submitted) => {
    submitted.preventDefault();
    const state = $("patcher-state");
    await send("PUT", "/patcher/v1/products/tavora/state", PATCHER_STATES[state.value], `Patcher ${state.selectedOptions[0].textContent}`);
  });

  $("login-form").addEventListener("submit", async (submitted) => {
    submitted.preventDefault();
    const state = $("login-state").value;
    await send("PUT", "/tav-login/v1/session", { state, ...LOGIN, connected: state === "SUCCEEDED" }, `Login ${state}`);
  });

  $("advance-form").addEventListener("submit", async (submitted) => {
    submitted.preventDefault();
    const seconds = Number($("advance-seconds").value);
    await send("POST", "/host/v1/advance", { seconds }, `Advance ${seconds} s`);
    refreshStatus();
  });

  $("token-form").addEventListener("submit", (submitted) => {
    submitted.preventDefault();
    const token = $("token-input").value.trim();
    if (token) {
      setToken(token);
      $("token-input").value = "";
      showConnection("connecting");
      stream.reconnect();
      refreshStatus();
    }
  });
}

async function refreshStatus(band = null) {
  if ($("connection").dataset.state === "unauthorized") return;
  const answer = await request("GET", "/host/v1/status");
  if (answer.status !== 200 || !answer.body) return;
  const status = answer.body;
  if (typeof status.wallClock === "number") {
    timeline.hostClock(status.wallClock, status.clock === "virtual", band);
  }
  const virtual = status.clock === "virtual";
  $("advance").disabled = !virtual;
  $("advance-seconds").disabled = !virtual;
  const time = typeof status.wallClock === "number" ? clock(status.wallClock) : "–";
  $("clock").textContent = `${time} (${virtual ? "virtual" : "real"})`;
}

async function loadChart() {
  const [table, svg] = await Promise.all([
    fetch("/ui/chart.json", { cache: "no-store" }).then((r) => (r.ok ? r.json() : null)).catch(() => null),
    fetch("/ui/chart.svg", { cache: "no-store" }).then((r) => (r.ok ? r.text() : null)).catch(() => null),
  ]);
  if (table) view.chart = new Chart(table);
  if (svg) view.mark = drawChart($("chart"), svg);
  else $("chart").textContent = "The chart was not built (Graphviz missing at build time).";
}

takeToken();
await loadChart();
setUpControls();
let stream = null;
stream = followEvents(onEvent, (state, detail) => {
  showConnection(state, detail);
  if (state === "connected") {
    // The stream starts again with the current values: follow the chart
    // afresh from them (a restarted host starts in None).
    view.state = null;
    view.phase = null;
    view.lastRow = null;
    view.lastEvent = null;
    view.unmoved = [];
    log.add("host", "Connected to the event stream.");
    refreshStatus();
  } else if (state === "disconnected" && $("connection").dataset.was !== "disconnected") {
    log.add("host", "Disconnected from the event stream.");
  }
  $("connection").dataset.was = state;
});
setInterval(refreshStatus, 5000);
document.body.dataset.ready = "true";
