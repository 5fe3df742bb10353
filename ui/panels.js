// The resource panels and the timeline of phases.

const SESSION = "/tav-gameflow/v1/session";
const PROCESS_INFO = "/data-store/v1/install-settings/gameflow-process-info";

// Each panel shows the latest values of its resources; `pick` chooses the
// fields worth a glance (the whole value stays in the event log).
export const PANELS = [
  { id: "session", title: "Session", uris: [SESSION], pick: (values) => {
    const session = values[SESSION];
    if (!session) return null;
    const game = session.gameData || {};
    const queue = game.queue || {};
    return {
      phase: session.phase,
      "game id": game.gameId || "–",
      queue: queue.type || queue.description || queue.id || "–",
      map: (session.map && (session.map.name || session.map.id)) || "–",
      "custom game": game.isCustomGame,
      dodge: session.gameDodge && session.gameDodge.state !== "Invalid" ? session.gameDodge.state : "–",
    };
  } },
  { id: "availability", title: "Availability", uris: ["/tav-gameflow/v1/availability"] },
  { id: "patcher-lock", title: "Patcher lock", uris: ["/tav-gameflow/v1/active-patcher-lock"] },
  { id: "player-status", title: "Player status", uris: ["/tav-gameflow/v1/gameflow-metadata/player-status"] },
  { id: "spectate", title: "Spectate", uris: ["/tav-gameflow/v1/spectate"] },
  { id: "watch", title: "Watch", uris: ["/tav-gameflow/v1/watch"] },
  { id: "tutorials", title: "Tutorials", uris: ["/tav-gameflow/v1/basic-tutorial", "/tav-gameflow/v1/battle-training"] },
  { id: "game-client", title: "Game client process", uris: [SESSION, PROCESS_INFO], pick: (values) => {
    const client = (values[SESSION] && values[SESSION].gameClient) || null;
    const info = values[PROCESS_INFO];
    if (!client && !info) return null;
    const result = {
      running: client ? client.running : "–",
      visible: client ? client.visible : "–",
      pid: info && typeof info === "object" && "pid" in info ? info.pid : "–",
    };
    if (client && client.serverIp) result.server = `${client.serverIp}:${client.serverPort}`;
    return result;
  } },
];

function text(value) {
  if (value === null || value === undefined) return "–";
  if (typeof value === "object") return JSON.stringify(value);
  return String(value);
}

export class Resources {
  constructor(container) {
    this.values = {};
    this.changed = {};
    this.cards = new Map();
    for (const panel of PANELS) {
      const card = document.createElement("article");
      card.className = "resource";
      card.id = "panel-" + panel.id;
      card.setAttribute("aria-labelledby", card.id + "-title");
      const title = document.createElement("h3");
      title.id = card.id + "-title";
      title.textContent = panel.title;
      const body = document.createElement("dl");
      const when = document.createElement("p");
      when.className = "when";
      card.append(title, body, when);
      container.append(card);
      this.cards.set(panel, { body, when });
      this.render(panel);
    }
  }

  // A resource event: `value` undefined when the resource was deleted.
  update(uri, value, time) {
    if (value === undefined) delete this.values[uri];
    else this.values[uri] = value;
    this.changed[uri] = time;
    for (const panel of PANELS) {
      if (panel.uris.includes(uri)) this.render(panel);
    }
  }

  render(panel) {
    const { body, when } = this.cards.get(panel);
    let shown;
    if (panel.pick) {
      shown = panel.pick(this.values);
    } else {
      const present = panel.uris.filter((uri) => uri in this.values);
      if (present.length === 0) shown = null;
      else if (panel.uris.length === 1) {
        const value = this.values[panel.uris[0]];
        shown = value !== null && typeof value === "object" && !Array.isArray(value) ? value : { value };
      } else {
        shown = Object.fromEntries(present.map((uri) => [uri.split("/").pop(), this.values[uri]]));
      }
    }
    const rows = [];
    if (shown === null) {
      const empty = document.createElement("p");
      empty.className = "empty";
      empty.textContent = "not published";
      rows.push(empty);
    } else {
      for (const [key, value] of Object.entries(shown)) {
        const term = document.createElement("dt");
        term.textContent = key;
        const detail = document.createElement("dd");
        detail.textContent = text(value);
        detail.title = text(value);
        rows.push(term, detail);
      }
    }
    body.replaceChildren(...rows);
    const times = panel.uris.map((uri) => this.changed[uri]).filter(Boolean);
    when.textContent = times.length ? "changed " + clock(Math.max(...times)) : "";
  }
}

export function clock(time) {
  const date = new Date(time);
  const pad = (n, width = 2) => String(n).padStart(width, "0");
  return `${pad(date.getHours())}:${pad(date.getMinutes())}:${pad(date.getSeconds())}.${pad(date.getMilliseconds(), 3)}`;
}

// The phases over time: one band per phase, as wide as it lasted (at least
// wide enough for its name), with the time it began. Times are the host's
// (its virtual clock moves only when advanced) once the host has told them,
// the page's until then.
export class Timeline {
  constructor(list, limit = 200) {
    this.list = list;
    this.limit = limit;
    this.bands = [];
    this.hostNow = null;  // {host, page, virtual}: the host's clock read at a page time
    this.timer = setInterval(() => this.render(), 1000);
  }

  // Starts a band and answers it (hostStart may be set on it later).
  phase(name, time) {
    const last = this.bands[this.bands.length - 1];
    if (last && last.phase === name) return null;
    if (last) last.end = time;
    const band = { phase: name, start: time, end: null, hostStart: null };
    this.bands.push(band);
    if (this.bands.length > this.limit) this.bands.shift();
    this.render();
    return band;
  }

  // The host's clock (milliseconds) as read now.
  hostClock(milliseconds, virtual, band = null) {
    this.hostNow = { host: milliseconds, page: Date.now(), virtual };
    if (band && band.hostStart === null) band.hostStart = milliseconds;
    this.render();
  }

  render() {
    const now = Date.now();
    const items = this.bands.map((band, index) => {
      const next = this.bands[index + 1];
      let seconds;
      let start = band.start;
      if (band.hostStart !== null && (next ? next.hostStart !== null : this.hostNow)) {
        const end = next ? next.hostStart
          : this.hostNow.host + (this.hostNow.virtual ? 0 : now - this.hostNow.page);
        seconds = Math.max(0, end - band.hostStart) / 1000;
        start = band.hostStart;
      } else {
        seconds = ((band.end || now) - band.start) / 1000;
      }
      const item = document.createElement("li");
      item.className = "band phase-" + band.phase + (band.end ? "" : " current");
      item.style.flexGrow = String(Math.max(1, Math.min(seconds, 600)));
      item.dataset.phase = band.phase;
      const name = document.createElement("span");
      name.className = "band-phase";
      name.textContent = band.phase;
      const time = document.createElement("span");
      time.className = "band-time";
      time.textContent = clock(start) + (band.end ? ` · ${duration(seconds)}` : ` · ${duration(seconds)}, now`);
      item.append(name, time);
      item.title = `${index + 1}. ${band.phase} from ${clock(start)} for ${duration(seconds)}`;
      return item;
    });
    this.list.replaceChildren(...items);
  }
}

function duration(seconds) {
  if (seconds < 60) return `${seconds.toFixed(1)} s`;
  const minutes = Math.floor(seconds / 60);
  return `${minutes} min ${Math.round(seconds - minutes * 60)} s`;
}
