// The host's token and every request the page makes with it.
//
// The token comes in the URL's fragment (#token=...), which a browser never
// sends; it is kept in this tab's session storage and taken out of the
// address bar. Every request carries it as "Authorization: Bearer"; the
// event stream is read with fetch, since EventSource cannot send headers.

const TOKEN_KEY = "nalo-host-token";

export function takeToken() {
  const fragment = new URLSearchParams(location.hash.replace(/^#/, ""));
  const token = fragment.get("token");
  if (token) {
    sessionStorage.setItem(TOKEN_KEY, token);
    history.replaceState(null, "", location.pathname + location.search);
  }
  return sessionStorage.getItem(TOKEN_KEY) || "";
}

export function setToken(token) {
  sessionStorage.setItem(TOKEN_KEY, token);
}

function headers(json) {
  const result = { Authorization: "Bearer " + (sessionStorage.getItem(TOKEN_KEY) || "") };
  if (json) {
    result["Content-Type"] = "application/json";
  }
  return result;
}

// Answers {status, reason, body} (body parsed as JSON when it is), or
// {status: 0, reason} when the host could not be reached.
export async function request(method, path, body) {
  const init = { method, headers: headers(body !== undefined), cache: "no-store" };
  if (body !== undefined) {
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, init);
  } catch (error) {
    return { status: 0, reason: "the host can't be reached", body: null };
  }
  const text = await response.text().catch(() => "");
  let parsed = null;
  try {
    parsed = text ? JSON.parse(text) : null;
  } catch {
    parsed = text;
  }
  const reason = response.headers.get("X-Status-Reason") || response.statusText;
  return { status: response.status, reason, body: parsed };
}

// Follows GET /events, calling onEvent({name, id, data}) for each event and
// onState(state, detail) with "connected", "disconnected" or "unauthorized".
// Connects again by itself after a failure, waiting longer each time (at
// most 5 s); a refused token stops it until reconnect() is called.
export function followEvents(onEvent, onState) {
  let controller = null;
  let delay = 250;
  let timer = null;
  let generation = 0;

  async function run() {
    const mine = ++generation;
    const retry = () => {
      if (mine === generation) {
        onState("disconnected");
        timer = setTimeout(run, delay);
        delay = Math.min(delay * 2, 5000);
      }
    };
    controller = new AbortController();
    let response;
    try {
      response = await fetch("/events", { headers: headers(false), signal: controller.signal, cache: "no-store" });
    } catch {
      return retry();
    }
    if (response.status === 401) {
      onState("unauthorized");
      return;
    }
    if (!response.ok || !response.body) {
      return retry();
    }
    onState("connected");
    delay = 250;
    const reader = response.body.getReader();
    const decoder = new TextDecoder();
    let pending = "";
    try {
      for (;;) {
        const { value, done } = await reader.read();
        if (done || mine !== generation) {
          break;
        }
        pending += decoder.decode(value, { stream: true });
        let end;
        while ((end = pending.indexOf("\n\n")) >= 0) {
          const block = pending.slice(0, end);
          pending = pending.slice(end + 2);
          const event = { name: "message", id: null, data: "" };
          for (const line of block.split("\n")) {
            if (line.startsWith("event: ")) event.name = line.slice(7);
            else if (line.startsWith("id: ")) event.id = line.slice(4);
            else if (line.startsWith("data: ")) event.data += line.slice(6);
          }
          if (event.data || event.name !== "message") {
            onEvent(event);
          }
        }
      }
    } catch {
      // the connection broke; connect again below
    }
    retry();
  }

  run();
  return {
    reconnect() {
      clearTimeout(timer);
      generation++;
      if (controller) controller.abort();
      delay = 250;
      run();
    },
  };
}
