// The dashboard in a real browser: Debian's Chromium, headless, driven by
// playwright-core (which never downloads a browser of its own). It starts the
// host on the virtual clock, opens the page with the token in the fragment,
// plays a whole match through the page's own controls and checks after each
// step that the chart, the session panel and the timeline follow; then a
// wrong token, a host restart, 10,000 log entries, the keyboard and a narrow
// window.
//
//   BUILD=build/default node --test tests/browser/   (make test-browser)
//
// Writes BUILD/dashboard.png (the end of the game) and BUILD/dashboard-narrow.png;
// with DASHBOARD_SCREENSHOT=path also a copy there (docs/dashboard.png).

import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { copyFileSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { chromium } from "playwright-core";

const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), "../..");
const build = path.resolve(root, process.env.BUILD || "build/default");
const hostProgram = path.join(build, "host/host");
const plugin = path.join(build, "gameflow/libtav_gameflow.so");
const TOKEN = "d4a1b0c5e6f70819aa2bb3cc4dd5ee6ff708192a3b4c5d6e7f8091a2b3c4d5e6";
const STEP_TIMEOUT = 5000;

const scratch = mkdtempSync(path.join(tmpdir(), "dashboard-test-"));
let host = null;
let port = 0;
let context = null;
const problems = [];

function startHost() {
  return new Promise((resolve, reject) => {
    const child = spawn(hostProgram, ["--plugin", plugin, "--http", `127.0.0.1:${port}`, "--virtual-clock",
      "--token", TOKEN, "--state", path.join(scratch, "state")], { stdio: ["ignore", "pipe", "pipe"] });
    let output = "";
    const timer = setTimeout(() => reject(new Error("the host did not start:\n" + output)), 20000);
    child.stdout.on("data", (chunk) => {
      output += chunk;
      const dashboard = output.match(/Dashboard: (http:\/\/127\.0\.0\.1:(\d+)\/#token=\S+)/);
      if (dashboard) {
        clearTimeout(timer);
        port = Number(dashboard[2]);
        resolve({ child, url: dashboard[1] });
      }
    });
    child.stderr.on("data", (chunk) => { output += chunk; });
    child.on("exit", (code) => reject(new Error(`the host exited with ${code}:\n${output}`)));
  });
}

function stopHost() {
  return new Promise((resolve) => {
    if (!host || host.child.exitCode !== null) return resolve();
    host.child.removeAllListeners("exit");
    host.child.on("exit", () => resolve());
    host.child.kill("SIGTERM");
  });
}

before(async () => {
  host = await startHost();
  context = await chromium.launchPersistentContext(path.join(scratch, "profile"), {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
    viewport: { width: 1280, height: 800 },
  });
});

after(async () => {
  if (context) await context.close();
  await stopHost();
  rmSync(scratch, { recursive: true, force: true });
});

// A page whose console errors and uncaught exceptions are collected; errors
// of failed loads are allowed only while `expectFailures` says so.
async function openPage(url, allowFailedLoads = false) {
  const page = await context.newPage();
  page.allowFailedLoads = allowFailedLoads;
  page.on("console", (message) => {
    if (message.type() !== "error") return;
    if (page.allowFailedLoads && message.text().startsWith("Failed to load resource")) return;
    problems.push(`console: ${message.text()} (${page.url()} ${message.location().url})`);
  });
  page.on("pageerror", (error) => problems.push(`page error: ${error.message}`));
  await page.goto(url);
  return page;
}

const phase = (page) => page.locator("#phase");
const connection = (page) => page.locator("#connection");

async function expectStep(page, expected) {
  await assert.doesNotReject(page.waitForFunction(([phaseName, state]) =>
    document.querySelector("#phase").textContent === phaseName &&
    document.querySelector("#state").textContent === state,
  [expected.phase, expected.state], { timeout: STEP_TIMEOUT }),
  `expected phase ${expected.phase} in state ${expected.state}, the page shows ` +
    `${await phase(page).textContent()} in ${await page.locator("#state").textContent()}`);
  const current = await page.locator("#chart svg .node.current").getAttribute("id");
  assert.equal(current, expected.state, "the highlighted state");
  if (expected.parent) {
    assert.equal(await page.locator("#chart svg .cluster.parent").getAttribute("id"), expected.parent);
  } else {
    assert.equal(await page.locator("#chart svg .cluster.parent").count(), 0);
  }
  if (expected.row) {
    assert.equal(await page.locator("#chart svg .edge.last").count(), 1, "the last transition is marked");
  }
  const session = await page.locator("#panel-session dd").first().textContent();
  assert.equal(session, expected.phase, "the session panel's phase");
  const band = page.locator("#timeline .band.current");
  assert.equal(await band.getAttribute("data-phase"), expected.phase, "the timeline's current band");
}

async function postEvent(page, name) {
  await page.selectOption("#event-name", "GAMEFLOW_EVENT." + name);
  await page.click("#post-event");
}

async function pushMessage(page, template) {
  await page.selectOption("#push-template", template);
  await page.click("#push-message");
}

async function advance(page, seconds) {
  await page.fill("#advance-seconds", String(seconds));
  await page.evaluate(() => { document.querySelector("#control-result").textContent = ""; });
  await page.click("#advance");
  await page.waitForFunction((text) => document.querySelector("#control-result").textContent.startsWith(text),
    `Advance ${seconds} s: done`, { timeout: STEP_TIMEOUT });
}

test("a wrong token gets a clear message", async () => {
  const page = await openPage(host.url.replace(/#token=.*/, "#token=not-the-token"), true);
  await page.waitForSelector("#problem:not([hidden])", { timeout: STEP_TIMEOUT });
  assert.match(await page.locator("#problem-text").textContent(), /refused this page's token/);
  assert.equal(await connection(page).textContent(), "Token refused");
  assert.ok(!page.url().includes("token"), "the token left the address bar");
  await page.close();
});

test("a whole match played through the page", async (t) => {
  const started = Date.now();
  const page = await openPage(host.url);
  await page.waitForSelector('#connection[data-state="connected"]', { timeout: STEP_TIMEOUT });
  const loaded = await page.evaluate(() => performance.now());
  assert.ok(!page.url().includes("token"), "the token left the address bar");
  assert.equal(await page.locator("#problem").isHidden(), true);
  await expectStep(page, { phase: "None", state: "None" });

  // The peers as a user would set them first.
  await page.selectOption("#patcher-state", "idle");
  await page.click("#set-patcher");
  await page.waitForSelector('#control-result[data-ok="true"]');
  await page.selectOption("#login-state", "SUCCEEDED");
  await page.click("#set-login");
  await page.waitForFunction(() => document.querySelector("#control-result").textContent.startsWith("Login"));
  assert.equal(await page.locator("#control-result").getAttribute("data-ok"), "true");

  const match = [
    [() => postEvent(page, "REQUESTED_LOBBY"), { phase: "None", state: "LobbyRequested", row: true }],
    [() => postEvent(page, "ENTERED_LOBBY"), { phase: "Lobby", state: "Lobby", row: true }],
    [() => postEvent(page, "ENTERED_QUEUE"), { phase: "Matchmaking", state: "Matchmaking", row: true }],
    [() => pushMessage(page, "ready-check"), { phase: "ReadyCheck", state: "ReadyCheck", row: true }],
    [() => postEvent(page, "ENTERED_CHAMP_SELECT"), { phase: "ChampSelect", state: "ChampSelect", row: true }],
    [() => postEvent(page, "GAME_STARTED"), { phase: "GameStart", state: "GameStart", row: true }],
    [() => postEvent(page, "GAME_LAUNCHED"), { phase: "InProgress", state: "InProgress", row: true }],
    [() => pushMessage(page, "end-of-game"), { phase: "WaitingForStats", state: "WaitingForStats", parent: "PostGame", row: true }],
    [() => postEvent(page, "STATS_RECEIVED"), { phase: "PreEndOfGame", state: "PreEndOfGame", parent: "PostGame", row: true }],
    [() => postEvent(page, "PRE_END_OF_GAME_COMPLETED"), { phase: "EndOfGame", state: "EndOfGame", parent: "PostGame", row: true }],
  ];
  // Virtual seconds spent in each phase, through the page's clock control,
  // so that the timeline reads like a match.
  const spent = { Lobby: 20, Matchmaking: 45, ReadyCheck: 8, ChampSelect: 90, GameStart: 12, InProgress: 1500,
    WaitingForStats: 6, PreEndOfGame: 3 };
  for (const [act, expected] of match) {
    await t.test(`${expected.state}`, async () => {
      await act();
      await expectStep(page, expected);
      if (spent[expected.phase]) await advance(page, spent[expected.phase]);
    });
  }

  // An event with no row in the current state moves nothing, and the page
  // shows where it would have.
  await postEvent(page, "ENTERED_QUEUE");
  await page.waitForFunction(() => document.querySelectorAll("#chart svg .node.unmoved").length > 0);
  assert.ok(await page.locator('#chart svg .node.unmoved[id="EndOfGame"]').count() === 1);
  await expectStep(page, { phase: "EndOfGame", state: "EndOfGame", parent: "PostGame" });

  // The virtual clock moves through the page.
  const before = await page.locator("#clock").textContent();
  await advance(page, 90);
  await page.waitForFunction((previous) => document.querySelector("#clock").textContent !== previous, before);
  // The timeline runs on the host's clock: EndOfGame has now lasted 90 s.
  await page.waitForFunction(() => document.querySelector("#timeline .band.current .band-time").textContent.includes("1 min 30 s"),
    null, { timeout: STEP_TIMEOUT });

  await page.screenshot({ path: path.join(build, "dashboard.png"), fullPage: true });
  if (process.env.DASHBOARD_SCREENSHOT) copyFileSync(path.join(build, "dashboard.png"), process.env.DASHBOARD_SCREENSHOT);

  await t.test("None", async () => {
    await postEvent(page, "STATS_DISMISSED");
    await expectStep(page, { phase: "None", state: "None", row: true });
  });
  assert.equal(await page.locator("#timeline .band").count(), 11, "one band per phase of the match");

  const cdp = await context.newCDPSession(page);
  await cdp.send("Performance.enable");
  const metrics = await cdp.send("Performance.getMetrics")
    .then(({ metrics: list }) => Object.fromEntries(list.map(({ name, value }) => [name, value])))
    .catch(() => ({}));
  const elements = await page.evaluate(() => document.getElementsByTagName("*").length);
  console.log(`# page live after ${loaded.toFixed(0)} ms; JS heap ${(metrics.JSHeapUsedSize / 1048576).toFixed(1)} MiB; ` +
    `${elements} elements in the page; match played in ${Date.now() - started} ms`);

  await t.test("the log keeps the last entries and stays quick with 10,000", async () => {
    const took = await page.evaluate(async () => {
      const start = performance.now();
      for (let i = 0; i < 10000; i++) window.dashboard.log.add("resource", `Update /test/v1/entry-${i} {"n":${i}}`);
      await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
      const added = performance.now() - start;
      const input = document.querySelector("#log-filter");
      const filtering = performance.now();
      input.value = "entry-9999";
      input.dispatchEvent(new Event("input"));
      await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
      return { added, filtered: performance.now() - filtering };
    });
    console.log(`# 10,000 log entries added in ${took.added.toFixed(0)} ms, filtered in ${took.filtered.toFixed(0)} ms`);
    assert.equal(await page.locator("#log .entry").count(), 1);
    assert.match(await page.locator("#log-count").textContent(), /keeps the last 5,000/);
    assert.ok(took.filtered < 1000, `filtering took ${took.filtered} ms`);
    await page.fill("#log-filter", "");
  });

  await t.test("every control is reachable by keyboard", async () => {
    const wanted = ["event-name", "post-event", "push-template", "push-message", "push-body", "patcher-state",
      "set-patcher", "login-state", "set-login", "advance-seconds", "advance", "log-filter", "log-clear", "log"];
    await page.locator("body").focus();
    const reached = new Set();
    for (let i = 0; i < 40 && reached.size < wanted.length; i++) {
      await page.keyboard.press("Tab");
      const id = await page.evaluate(() => document.activeElement && document.activeElement.id);
      if (wanted.includes(id)) reached.add(id);
    }
    assert.deepEqual([...reached].sort(), [...wanted].sort());
    // And a control works from the keyboard: post an event with Enter.
    await page.focus("#event-name");
    await page.selectOption("#event-name", "GAMEFLOW_EVENT.REQUESTED_LOBBY");
    await page.focus("#post-event");
    await page.keyboard.press("Enter");
    await expectStep(page, { phase: "None", state: "LobbyRequested", row: true });
  });

  await t.test("a host restart is survived", async () => {
    page.allowFailedLoads = true;
    await stopHost();
    await page.waitForSelector('#connection[data-state="disconnected"]', { timeout: STEP_TIMEOUT });
    assert.match(await connection(page).textContent(), /Disconnected/);
    host = await startHost();
    await page.waitForSelector('#connection[data-state="connected"]', { timeout: 10000 });
    await expectStep(page, { phase: "None", state: "None" });
    page.allowFailedLoads = false;
  });

  await t.test("narrow window: the panels stack", async () => {
    await page.setViewportSize({ width: 420, height: 900 });
    const chart = await page.locator(".chart-panel").boundingBox();
    const controls = await page.locator(".controls").boundingBox();
    const resources = await page.locator(".resources").boundingBox();
    assert.ok(Math.abs(chart.x - controls.x) < 2 && controls.y > chart.y && resources.y > controls.y);
    assert.ok(controls.width <= 420);
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0, `the page is ${overflow} px wider than the window`);
    await page.screenshot({ path: path.join(build, "dashboard-narrow.png"), fullPage: false });
  });
  await page.close();
});

test("no console errors", () => {
  assert.deepEqual(problems, []);
});
