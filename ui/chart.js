// The chart: the table the build wrote (chart.json) and its drawing
// (chart.svg, each state's node and cluster carrying the state's name as its
// id, each row's edge the class "row-N").
//
// The host publishes the session's phase, not the chart's state, so the state
// is followed from the phases: a phase names the states whose entry publishes
// it, and the row that leads there from the previous state picks among them.

export class Chart {
  constructor(table) {
    this.states = new Map(table.states.map((state) => [state.name, state]));
    this.rows = table.rows;
    this.events = table.events;
    this.root = table.states.find((state) => state.parent === null).name;
    this.composites = new Set(table.states.map((state) => state.parent).filter(Boolean));
  }

  // The state and its ancestors, innermost first.
  lineage(name) {
    const result = [];
    for (let state = this.states.get(name); state; state = this.states.get(state.parent)) {
      result.push(state.name);
    }
    return result;
  }

  // The leaf a transition into `name` ends in.
  leaf(name) {
    let state = this.states.get(name);
    while (state && state.initial) {
      state = this.states.get(state.initial);
    }
    return state ? state.name : name;
  }

  // The row that `event` takes in `state` (the innermost one wins), or null.
  rowFor(state, event) {
    for (const name of this.lineage(state)) {
      const row = this.rows.find((candidate) => candidate.source === name && candidate.event === event);
      if (row) {
        return row;
      }
    }
    return null;
  }

  // The states where `event` has no row at all: there it changes nothing.
  unmovedBy(event) {
    return [...this.states.keys()].filter(
      (name) => !this.composites.has(name) && !this.rowFor(name, event));
  }

  // Where the chart is once `phase` is published, coming from `previous`
  // after `event` (either may be null): {state, row}.
  follow(previous, phase, event) {
    const publishes = (name) => {
      const state = this.states.get(name);
      return state.phase === phase || (name === "None" && phase === "CheckedIntoTournament");
    };
    if (previous && event) {
      const row = this.rowFor(previous, event);
      if (row && row.target && this.lineage(this.leaf(row.target)).some(publishes)) {
        return { state: this.leaf(row.target), row };
      }
    }
    if (previous && this.lineage(previous).some(publishes)) {
      return { state: previous, row: null };
    }
    if (previous) {
      for (const name of this.lineage(previous)) {
        for (const row of this.rows) {
          if (row.source === name && row.target && this.lineage(this.leaf(row.target)).some(publishes)) {
            return { state: this.leaf(row.target), row };
          }
        }
      }
    }
    const candidates = [...this.states.keys()].filter((name) => publishes(name));
    if (candidates.length === 0) {
      return { state: previous, row: null };
    }
    // With nothing to go by, the state named after the phase, if any.
    return { state: this.leaf(candidates.find((name) => name === phase) || candidates[0]), row: null };
  }
}

// Draws the SVG into `container` and answers a function that marks the
// current state (and its ancestors), the last row taken and the unmoved states.
export function drawChart(container, svgText) {
  const parsed = new DOMParser().parseFromString(svgText, "image/svg+xml");
  const svg = parsed.documentElement;
  if (svg.nodeName !== "svg") {
    container.textContent = "The chart could not be read.";
    return () => {};
  }
  svg.removeAttribute("width");
  svg.removeAttribute("height");
  svg.setAttribute("role", "img");
  svg.setAttribute("aria-label", "The gameflow state chart");
  container.replaceChildren(document.importNode(svg, true));
  const drawn = container.querySelector("svg");
  const byId = (id) => drawn.querySelector(`[id="${CSS.escape(id)}"]`);
  let marked = [];
  return ({ lineage, row, unmoved }) => {
    for (const [element, name] of marked) {
      element.classList.remove(name);
    }
    marked = [];
    const mark = (id, name) => {
      const element = id && byId(id);
      if (element) {
        element.classList.add(name);
        marked.push([element, name]);
      }
    };
    (lineage || []).forEach((name, depth) => mark(name, depth === 0 ? "current" : "parent"));
    const edge = row && drawn.querySelector(`g.edge.${CSS.escape(row)}`);
    if (edge) {
      edge.classList.add("last");
      marked.push([edge, "last"]);
    }
    for (const name of unmoved || []) {
      mark(name, "unmoved");
    }
    // In a narrow window the chart scrolls sideways: keep the current state in view.
    const current = lineage && lineage.length ? byId(lineage[0]) : null;
    if (current && container.scrollWidth > container.clientWidth) {
      const box = current.getBoundingClientRect();
      const frame = container.getBoundingClientRect();
      container.scrollLeft += box.left + box.width / 2 - (frame.left + frame.width / 2);
    }
  };
}
