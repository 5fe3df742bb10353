// The event log: every event, request and resource change with its time,
// filterable by text. It keeps the last LIMIT entries and draws only the
// newest SHOWN of those that match, so that it stays quick with many
// thousands of entries.

import { clock } from "./panels.js";

export const LIMIT = 5000;
const SHOWN = 300;

export class EventLog {
  constructor(list, filter, count, clear) {
    this.list = list;
    this.filter = filter;
    this.count = count;
    this.entries = [];
    this.total = 0;
    this.pending = false;
    filter.addEventListener("input", () => this.schedule());
    clear.addEventListener("click", () => {
      this.entries = [];
      this.schedule();
    });
  }

  // kind: "event" (a gameflow event posted), "request", "resource", "host".
  add(kind, text, time = Date.now()) {
    this.entries.push({ kind, text, time, search: (kind + " " + text).toLowerCase() });
    this.total++;
    if (this.entries.length > LIMIT + LIMIT / 10) {
      this.entries.splice(0, this.entries.length - LIMIT);
    }
    this.schedule();
  }

  schedule() {
    if (!this.pending) {
      this.pending = true;
      requestAnimationFrame(() => {
        this.pending = false;
        this.render();
      });
    }
  }

  render() {
    if (this.entries.length > LIMIT) {
      this.entries.splice(0, this.entries.length - LIMIT);
    }
    const needle = this.filter.value.trim().toLowerCase();
    const shown = [];
    let matching = 0;
    for (let i = this.entries.length - 1; i >= 0; i--) {
      const entry = this.entries[i];
      if (needle && !entry.search.includes(needle)) continue;
      matching++;
      if (shown.length < SHOWN) shown.push(entry);
    }
    const items = shown.map((entry) => {
      const item = document.createElement("li");
      item.className = "entry kind-" + entry.kind;
      const time = document.createElement("time");
      time.textContent = clock(entry.time);
      const kind = document.createElement("span");
      kind.className = "kind";
      kind.textContent = entry.kind;
      const text = document.createElement("span");
      text.className = "text";
      text.textContent = entry.text;
      item.append(time, kind, text);
      return item;
    });
    this.list.replaceChildren(...items);
    const kept = this.entries.length;
    this.count.textContent =
      `${matching.toLocaleString("en")} of ${kept.toLocaleString("en")} kept entries match` +
      (shown.length < matching ? `, newest ${shown.length} shown` : "") +
      ` · keeps the last ${LIMIT.toLocaleString("en")}` +
      (this.total > kept ? ` (${(this.total - kept).toLocaleString("en")} older dropped)` : "");
  }
}
