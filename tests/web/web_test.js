// tests/web/web_test.js SITE NATIVE_TUMBLEWICK: plays the browser version in headless Chromium
// and the native headless driver on the same seeds and key scripts: the page's log must hold the
// native driver's spoken lines, and the browser's storage its files. Also checks the page for a
// screen reader (the focused application, the log, Tab kept), a second tab, the end of the game,
// and prints how fast and how big it is.
'use strict';
const { spawn, execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const puppeteer = require('puppeteer-core');

const site = path.resolve(process.argv[2]);
const native = path.resolve(process.argv[3]);
const botScript = process.argv[4];  // the commands of tests/transcripts/whole-game.tw (seed 27), optional
let failures = 0;
function check(ok, what) {
  if (!ok) { failures++; console.error('FAIL: ' + what); }
  return ok;
}

const keyNames = { 9: 'Tab', 13: 'Enter', 27: 'Escape', 32: 'Space', 33: 'PageUp', 34: 'PageDown',
  37: 'ArrowLeft', 38: 'ArrowUp', 39: 'ArrowRight', 40: 'ArrowDown', 112: 'F1', 188: 'Comma', 190: 'Period' };
function keyName(code) {
  if (keyNames[code]) return keyNames[code];
  if (code >= 65 && code <= 90) return 'Key' + String.fromCharCode(code);
  if (code >= 48 && code <= 57) return 'Digit' + String.fromCharCode(code);
  throw new Error('no key name for ' + code);
}

// The native driver: each session a process in the same folder; the spoken lines of all.
function runNative(seed, sessions) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'tw-web-native-'));
  fs.copyFileSync(path.join(site, 'words.txt'), path.join(home, 'words.txt'));
  const said = [];
  for (const lines of sessions) {
    const out = execFileSync(native, ['--headless', '--seed', String(seed), '--home', home],
      { cwd: home, input: lines.join('\n') + '\n', encoding: 'utf8' });
    said.push(out.split('\n').filter((l) => l.startsWith('say: ') && l.length > 5).map((l) => l.slice(5)));
  }
  const files = {};
  for (const name of fs.readdirSync(home)) {
    if (name === 'words.txt' || !fs.statSync(path.join(home, name)).isFile()) continue;
    files[name] = fs.readFileSync(path.join(home, name)).toString('base64');
  }
  fs.rmSync(home, { recursive: true, force: true });
  return { said, files };
}

async function idle(page) { await page.evaluate(() => window.tumblewickIdle()); }

async function press(page, code, shift) {
  if (shift & 1) await page.keyboard.down('Shift');
  await page.keyboard.press(keyName(code));
  if (shift & 1) await page.keyboard.up('Shift');
}

// The driver's commands, typed into the page: "key CODE [SHIFT]"; "held MS CODE [SHIFT]", a key
// pressed MS milliseconds after the next key, into the waits it starts; "type TEXT" for a box.
async function play(page, lines) {
  let held = [];
  for (const line of lines) {
    if (line.startsWith('held ')) {
      const [, ms, code, shift] = line.split(' ').map(Number);
      held.push({ ms, code, shift: shift || 0 });
      continue;
    }
    if (line.startsWith('key ')) {
      const [, code, shift] = line.split(' ').map(Number);
      await press(page, code, shift);
      const pressedAt = Date.now();
      for (const key of held.sort((a, b) => a.ms - b.ms)) {
        const wait = pressedAt + key.ms - Date.now();
        if (wait > 0) await new Promise((resolve) => setTimeout(resolve, wait));
        await press(page, key.code, key.shift);
      }
      held = [];
    } else if (line.startsWith('type')) {
      const text = line.slice(5);
      if (text) await page.keyboard.type(text);
      await page.keyboard.press('Enter');
    }
    await idle(page);
  }
}

async function runBrowser(browser, url, seed, sessions) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  const said = [];
  for (let i = 0; i < sessions.length; i++) {
    if (i === 0) await page.goto(`${url}?seed=${seed}`); else await page.reload();
    await idle(page);
    await play(page, sessions[i]);
    said.push((await page.evaluate(() => window.tumblewickSaid)).filter((t) => t.length > 0));
  }
  const files = await page.evaluate(() => window.tumblewickFiles());
  const latencies = await page.evaluate(() => window.tumblewickLatencies);
  return { context, page, said, files, latencies };
}

function sameLines(name, browserSaid, nativeSaid) {
  for (let s = 0; s < nativeSaid.length; s++) {
    const a = browserSaid[s] || [], b = nativeSaid[s];
    const at = a.findIndex((t, i) => t !== b[i]);
    if (!check(a.length === b.length && at < 0,
      `${name}, session ${s + 1}: the log differs from the native driver at line ${at < 0 ? a.length : at + 1}: ` +
      `${JSON.stringify(a[at])} against ${JSON.stringify(b[at < 0 ? a.length : at])}; heard first: ` +
      JSON.stringify(a.slice(0, 12)) + ' native: ' + JSON.stringify(b.slice(0, 12)))) return;
  }
}

function sameFiles(name, browserFiles, nativeFiles) {
  const a = Object.keys(browserFiles).sort(), b = Object.keys(nativeFiles).sort();
  if (!check(JSON.stringify(a) === JSON.stringify(b), `${name}: the stored files ${a} are not the native ${b}`)) return;
  for (const f of a) check(browserFiles[f] === nativeFiles[f], `${name}: ${f} differs from the native file`);
}

const median = (v) => { const s = [...v].sort((x, y) => x - y); return s[Math.floor(s.length / 2)]; };
const p95 = (v) => { const s = [...v].sort((x, y) => x - y); return s[Math.min(s.length - 1, Math.floor(s.length * 0.95))]; };

(async () => {
  const server = spawn(process.execPath, [path.join(__dirname, '../../platform/web/serve.js'), site, '0'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const url = await new Promise((resolve, reject) => {
    server.stdout.on('data', (d) => { const m = /(http:\/\/\S+)/.exec(String(d)); if (m) resolve(m[1]); });
    server.on('exit', () => reject(new Error('the server did not start')));
  });
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required'],
  });
  const allLatencies = [];
  try {
    const down = (n) => Array(n).fill('key 40');
    const scripts = [
      // The menus and the how-to pages, Tab through the speech paths, the rate, and Exit.
      { name: 'menus', seed: 5, sessions: [[...down(1), 'key 13', ...down(14), 'key 13', 'key 27', 'key 9 0', 'key 9 0',
        'key 9 0', 'key 9 0', 'key 33', 'key 33', 'key 34', ...down(2), 'key 13', 'key 81', 'key 90', 'key 27', ...down(5),
        'key 13']] },
      // Play, hear the task, save under two names; reload the page; load one and look around.
      { name: 'save-reload-load', seed: 9, sessions: [
        [...down(2), 'key 13', 'key 81', 'key 51', 'key 87', 'key 65', 'key 27', ...down(3), 'key 13', 'type first try',
          ...down(3), 'key 13', 'type Café w'],
        [...down(3), 'key 13', 'type first try', 'key 27', 'key 90', 'key 88', 'key 67', 'key 66', 'key 81']] },
      // The first task done (the eggs to the Dining room's shelf), with B and Z pressed during the
      // waits of its completion: they are answered after the completion message, in order.
      { name: 'keys-in-waits', seed: 9, sessions: [[...down(2), 'key 13', 'key 81', 'key 51', 'key 87', 'key 83',
        'key 13', 'key 50', 'key 82', 'key 65', 'held 500 66', 'held 1500 90', 'key 13', 'key 86']] },
      // The key help and the history keys, back past the oldest message and forward past the newest;
      // then "Play the game" again, which keeps the game for the load list's "your last game".
      { name: 'help-and-history', seed: 7, sessions: [[...down(2), 'key 13', 'key 81', 'key 112',
        ...Array(8).fill('key 188'), ...Array(9).fill('key 190'), 'key 27', ...down(2), 'key 13', 'key 27', ...down(4),
        'key 13', 'type']] },
    ];
    if (botScript && fs.existsSync(botScript)) {
      // A few completed tasks with their word swaps: the first keys of the game by ear (seed 27), named
      // as key scripts name them: Down, Enter, Escape, Up, a letter or a digit.
      const codes = { Down: 40, Up: 38, Enter: 13, Escape: 27 };
      const lines = fs.readFileSync(botScript, 'utf8').split('\n').filter((l) => l.startsWith('key ')).slice(0, 700)
        .map((l) => { const k = l.slice(4); return 'key ' + (codes[k] || k.charCodeAt(0)); });
      scripts.push({ name: 'tasks', seed: 27, sessions: [lines] });
    }
    for (const s of scripts) {
      const started = Date.now();
      const expected = runNative(s.seed, s.sessions);
      const got = await runBrowser(browser, url, s.seed, s.sessions);
      sameLines(s.name, got.said, expected.said);
      sameFiles(s.name, got.files, expected.files);
      allLatencies.push(...got.latencies);
      const lines = got.said.reduce((n, x) => n + x.length, 0);
      if (s.name === 'tasks') {
        const swaps = got.said[0].filter((t) => /will now be replaced with/.test(t)).length;
        check(swaps >= 2, `tasks: only ${swaps} completed tasks with word swaps`);
      }
      if (s.name === 'keys-in-waits') {
        const heard = expected.said[0], done = heard.findIndex((t) => t.startsWith('You have completed your first task.'));
        check(done > 0 && heard[done + 1] === 'You have completed 1 task.' && heard[done + 2].startsWith('You are in the '),
          'keys-in-waits: the native driver did not answer the held keys after the completion: ' +
          JSON.stringify(heard.slice(done)));
      }
      if (s.name === 'menus') {
        const text = await got.page.$eval('#ended', (e) => (e.hidden ? '' : e.textContent));
        check(/The game has ended\./.test(text), 'menus: after Exit the game the page does not say the game has ended');
      }
      console.log(`${s.name}: ${lines} lines and ${Object.keys(got.files).length} files as the native driver's ` +
        `(${((Date.now() - started) / 1000).toFixed(1)} s)`);
      await got.context.close();
    }

    // The page for a screen reader, and the time to the greeting.
    const context = await browser.createBrowserContext();
    const page = await context.newPage();
    await page.goto(`${url}?seed=3`);
    await idle(page);
    const greeting = await page.evaluate(() => window.tumblewickFirstLine);
    const tree = await page.accessibility.snapshot({ interestingOnly: false });
    const nodes = [];
    (function walk(n) { if (!n) return; nodes.push(n); (n.children || []).forEach(walk); })(tree);
    const app = nodes.find((n) => n.role === 'application' && n.name === 'Tumblewick');
    check(app && app.focused, 'the application element named Tumblewick is not focused: ' +
      JSON.stringify(nodes.filter((n) => n.focused).map((n) => [n.role, n.name])));
    check(nodes.some((n) => n.role === 'log'), 'the accessibility tree has no log');
    await page.keyboard.press('Tab');
    await idle(page);
    check(await page.evaluate(() => document.activeElement.id === 'game'), 'Tab moved the focus out of the game');
    check(await page.evaluate(() => document.getElementById('log').getAttribute('aria-live') === 'assertive'),
      'on path 1 the log is not an assertive live region');
    // The page shows the window title as its own.
    check((await page.title()).length > 0, 'the page has no title');

    // A second tab: told, and it ends; the first plays on.
    const second = await context.newPage();
    await second.goto(`${url}?seed=3`);
    await idle(second);
    const prompt = await second.$eval('#dialog', (d) => (d.hidden ? '' : d.querySelector('#dialog-prompt').textContent));
    check(prompt === 'This game is already running.', `the second tab showed ${JSON.stringify(prompt)}`);
    await second.keyboard.press('Enter');
    await idle(second);
    check(await second.$eval('#ended', (e) => !e.hidden), 'the second tab did not end');
    const before = (await page.evaluate(() => window.tumblewickSaid.length));
    await page.bringToFront();
    await page.focus('#game');
    await page.keyboard.press('ArrowDown');
    await idle(page);
    check((await page.evaluate(() => window.tumblewickSaid.length)) === before + 1, 'the first tab stopped playing');
    await context.close();

    const wasm = fs.statSync(path.join(site, 'tumblewick.wasm')).size;
    console.log(`figures: greeting ${greeting.toFixed(0)} ms after the page began loading; key to log line median ` +
      `${median(allLatencies).toFixed(1)} ms, p95 ${p95(allLatencies).toFixed(1)} ms over ${allLatencies.length} keys; ` +
      `tumblewick.wasm ${wasm} bytes`);
    check(wasm < 1024 * 1024, 'the .wasm is not under 1 MB');
  } finally {
    await browser.close();
    server.kill();
  }
  if (failures) { console.error(`${failures} failures`); process.exit(1); }
  console.log('browser: all in order');
})().catch((error) => { console.error(error); process.exit(1); });
