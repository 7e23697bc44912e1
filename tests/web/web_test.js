// tests/web/web_test.js ENGINE SITE [SCRIPT.tw ...]: plays the key scripts of tests/transcripts/
// in a browser engine (chromium, firefox or webkit) through the game's own interpreter (TW_EXE, by
// default build-test/game/tumblewick), which checks every line heard and every file left in the
// browser's storage. In Chromium it also checks Tab, a second tab,
// installing, refused storage, a new version, the end of the game and a reload with the server
// stopped. (What a screen reader makes of the page is tests/web/orca_check.sh's.)
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const path = require('path');
// The browsers' speech synthesis would start a speech-dispatcher for the user that outlives the
// check (one was found left from a run): an address where no daemon is keeps them from it.
process.env.SPEECHD_ADDRESS = 'unix_socket:/nonexistent/tumblewick-web-check.sock';

const [engine, siteArg, ...chosen] = process.argv.slice(2);
// The game built for this machine, whose interpreter plays the key scripts.
const exe = path.resolve(process.env.TW_EXE || path.join(__dirname, '../../build-test/game/tumblewick'));
const site = path.resolve(siteArg);
const corpus = path.join(__dirname, '../transcripts');
let failures = 0;
let served = null;
function check(ok, what) {
  if (!ok) { failures++; console.error(`FAIL (${engine}): ${what}`); }
  return ok;
}

// ---- Keys: the game's virtual-key codes as the browser's own keys. A key with a modifier, or one
// no keyboard has, goes in as one key-down through the page's test entry, as the driver presses it. ----
const browserKeys = { 40: 'ArrowDown', 38: 'ArrowUp', 37: 'ArrowLeft', 39: 'ArrowRight', 13: 'Enter', 27: 'Escape',
  9: 'Tab', 33: 'PageUp', 34: 'PageDown', 192: 'Backquote', 32: 'Space', 8: 'Backspace', 188: 'Comma', 190: 'Period',
  112: 'F1' };
function browserKey(vk, mask) {
  const c = String.fromCharCode(vk);
  return mask ? null : browserKeys[vk] || (/[0-9]/.test(c) ? 'Digit' + c : /[A-Z]/.test(c) ? 'Key' + c : null);
}

// ---- The engines: puppeteer for Chromium and Firefox, WebKitGTK's own WebDriver for WebKit. ----
async function puppeteerEngine(name) {
  const puppeteer = require('puppeteer-core');
  const browser = await puppeteer.launch(name === 'firefox'
    ? { browser: 'firefox', executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr', headless: true }
    : { executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required'] });
  return {
    browser,
    async session(touch = false) {
      const context = await browser.createBrowserContext();
      const page = await context.newPage();
      // A phone: a touch screen of 390 x 844 CSS pixels, whose main pointer is coarse.
      if (touch) await page.emulate(require('puppeteer-core').KnownDevices['iPhone 13']);
      return {
        page, touch, goto: (url) => page.goto(url), reload: () => page.reload(),
        run: (expression) => page.evaluate(expression),
        press: (code) => page.keyboard.press(code),
        type: async (text) => { if (text) await page.keyboard.type(text); await page.keyboard.press('Enter'); },
        close: () => context.close(),
      };
    },
    close: () => browser.close(),
  };
}

async function webkitEngine() {
  const port = 4444 + (process.pid % 1000);
  const driver = spawn('WebKitWebDriver', [`--port=${port}`], { stdio: 'ignore' });
  const call = async (method, url, body) => {
    for (let tries = 0; ; tries++) {
      try {
        const r = await fetch(`http://127.0.0.1:${port}${url}`, { method, body: body && JSON.stringify(body),
          headers: { 'Content-Type': 'application/json' } });
        const answer = await r.json();
        if (!r.ok) throw new Error(`${method} ${url}: ${JSON.stringify(answer.value)}`);
        return answer.value;
      } catch (error) {
        if (tries > 50 || !/ECONNREFUSED|fetch failed/.test(String(error.cause || error))) throw error;
        await new Promise((r) => setTimeout(r, 100));
      }
    }
  };
  const wdKeys = { ArrowDown: '\uE015', ArrowUp: '\uE013', ArrowLeft: '\uE012', ArrowRight: '\uE014', Enter: '\uE007',
    Escape: '\uE00C', Tab: '\uE004', PageUp: '\uE00E', PageDown: '\uE00F', Backspace: '\uE003', F1: '\uE031',
    Space: ' ', Backquote: '`', Comma: ',', Period: '.' };
  const asText = (code) => wdKeys[code] || code.slice(-1).toLowerCase();
  return {
    async session() {
      const { sessionId } = await call('POST', '/session', { capabilities: { alwaysMatch: { 'webkitgtk:browserOptions': {
        binary: '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser', args: ['--automation'] } } } });
      const at = `/session/${sessionId}`;
      const sendKeys = (texts) => call('POST', `${at}/actions`, { actions: [{ type: 'key', id: 'keyboard',
        actions: texts.flatMap((t) => [{ type: 'keyDown', value: t }, { type: 'keyUp', value: t }]) }] });
      return {
        at, goto: (url) => call('POST', `${at}/url`, { url }), reload: () => call('POST', `${at}/refresh`, {}),
        run: (expression) => call('POST', `${at}/execute/async`, { script:
          `const done = arguments[0]; Promise.resolve(${expression}).then(done, (e) => done('error: ' + e));`, args: [] }),
        press: (code) => sendKeys([asText(code)]),
        type: (text) => sendKeys([...text.split(''), wdKeys.Enter]),
        close: () => call('DELETE', at),
      };
    },
    call,
    close: async () => driver.kill(),
  };
}

// ---- Playing a script. ----
const idle = (s) => s.run('window.tumblewickIdle ? window.tumblewickIdle().then(() => true) : false');
async function waitForGame(s) {
  for (let i = 0; i < 200 && !(await idle(s)); i++) await new Promise((r) => setTimeout(r, 50));
}
async function press(s, vk, mask) {
  if (s.touch) return tap(s, vk, mask);
  const code = browserKey(vk, mask);
  if (code) await s.press(code);
  else await s.run(`window.tumblewickKey(${vk}, ${mask})`);
}

// By touch: the button that stands for the key is tapped, and keeps the focus.
async function tap(s, vk, mask) {
  const button = await s.page.$(`#touch button[data-vk="${vk}"][data-shift="${mask}"]`);
  if (!check(button !== null, `no button stands for key ${vk} with ${mask}`)) return;
  await button.tap();
  await waitForGame(s);
  // (A dialog takes the focus while it is open, and the end of the game gives it to its button.)
  check(await s.page.evaluate((b) => document.activeElement === b || !document.getElementById('dialog').hidden ||
    !document.getElementById('ended').hidden, button),
    `the focus left the button ${await s.page.evaluate((b) => b.textContent, button)}`);
}

// The tab hidden, as before it is closed or frozen: the page then gets only the events' own
// microtasks, so the game must keep itself within them; its waits never end after.
async function hide(s) {
  await s.run(`(async () => {
    Object.defineProperty(document, 'visibilityState', { value: 'hidden', configurable: true });
    document.dispatchEvent(new Event('visibilitychange'));
    window.dispatchEvent(new PageTransitionEvent('pagehide', { persisted: false }));
    for (let i = 0; i < 100; i++) await Promise.resolve();
    Module.twWait = () => new Promise(() => {});
    return true;
  })()`);
  s.closed = true;
}

// The player's files as the browser's storage holds them, once its writes have settled.
async function stored(s) {
  await new Promise((r) => setTimeout(r, 500));
  return s.run(`new Promise((resolve, reject) => {
    const open = indexedDB.open('/player');
    open.onerror = () => reject(open.error);
    open.onsuccess = () => {
      const files = {}, cursor = open.result.transaction(['FILE_DATA']).objectStore('FILE_DATA').openCursor();
      cursor.onsuccess = () => {
        const c = cursor.result;
        if (!c) { open.result.close(); resolve(files); return; }
        if (c.value.contents) {
          let text = '';  // in pieces: a whole file's bytes as arguments would overflow the stack
          for (let i = 0; i < c.value.contents.length; i += 8192) text += String.fromCharCode(...c.value.contents.subarray(i, i + 8192));
          files[String(c.key).slice(8)] = btoa(text);
        }
        c.continue();
      };
    };
  })`);
}

// A key script, played by the game's own interpreter (tumblewick --script FILE --adapter), which
// asks this page for each step and compares what it answers; see platform/headless/key_script.cpp.
async function play(eng, url, file, touch = false) {
  const started = Date.now();
  const game = spawn(exe, ['--headless', '--script', file, '--adapter'], { cwd: served });
  let report = '';
  game.stderr.on('data', (d) => { report += d; });
  const ended = new Promise((resolve) => game.on('close', resolve));
  const answer = (lines) => game.stdin.write(lines.map((l) => l + '\n').join('') + '.\n');
  let s = null, from = 0, held = [];
  const placed = {};
  const heard = async () => { if (!s.closed) await waitForGame(s); const all = await s.run('window.tumblewickHeard'); const got = all.slice(from); from = all.length; return got; };
  for await (const line of require('readline').createInterface({ input: game.stdout })) {
    const [word, ...rest] = line.split(' ');
    if (word === 'needs') answer(rest.length ? [`skip it needs ${rest.join(', ')}`] : []);
    if (word === 'place') { placed[rest[0]] = rest[1] === '-' ? null : Buffer.from(rest[1], 'hex').toString('base64'); answer([]); }
    if (word === 'start') {
      s = await eng.session(touch);
      await s.goto(`${url}?seed=${rest[0]}`);
      await waitForGame(s);
      if (Object.keys(placed).length) {
        await s.run(`sessionStorage.setItem('tumblewick-test-files', ${JSON.stringify(JSON.stringify(placed))})`);
        await s.reload();
      }
      from = 0;
      await heard();
      answer([]);
    }
    if (word === 'held') { held.push(rest[1] === 'close' ? [Number(rest[0]), 'close'] : rest.map(Number)); answer([]); }
    // A browser has no end of input: the page's end is the tab closed.
    if (word === 'close' || word === 'end') { await hide(s); answer(await heard()); }
    if (word === 'key') {
      // Keys held for the waits are pressed on time, not after the waits.
      const first = Date.now();
      await press(s, Number(rest[0]), Number(rest[1]));
      for (const [ms, vk, mask] of held.sort((x, y) => x[0] - y[0])) {
        await new Promise((r) => setTimeout(r, Math.max(0, first + ms - Date.now())));
        await (vk === 'close' ? hide(s) : press(s, vk, mask));
      }
      held = [];
      answer(await heard());
    }
    if (word === 'type' && touch) {
      // The phone's own keyboard in the box, then its OK button; the focus goes back to the button.
      await s.page.type('#dialog-input', rest.join(' '));
      await s.page.tap('#dialog-ok');
      answer(await heard());
    } else if (word === 'type') { await s.type(rest.join(' ')); answer(await heard()); }
    if (word === 'restart') { s.closed = false; await s.reload(); from = 0; answer(await heard()); }
    if (word === 'file') {
      const files = await (s.closed ? stored(s) : s.run('window.tumblewickFiles()'));
      answer([rest[0] in files ? Buffer.from(files[rest[0]], 'base64').toString('hex') : '-']);
    }
  }
  const status = await ended;
  if (s) await s.close();
  const name = path.basename(file);
  if (/left out/.test(report)) console.log(`${engine}: ${name} ${report.trim().replace(/^.*?: /, '')}`);
  else if (check(status === 0, `${name}${touch ? ' by touch' : ''}: ${report}`)) {
    console.log(`${engine}: ${name}${touch ? ' by touch' : ''} (${((Date.now() - started) / 1000).toFixed(1)} s)`);
  }
}

// ---- The touch layout, on a phone's screen: it fits, every button is big enough, nothing moves
// when a line is said, and an audit finds nothing in either layout. ----
async function touchLayout(eng, url) {
  const s = await eng.session(true);
  const page = s.page;
  await s.goto(`${url}?seed=3`);
  await waitForGame(s);
  check(await s.run("!document.getElementById('touch').hidden"), 'a phone did not get the touch layout');
  await page.setViewport({ width: 360, height: 640, isMobile: true, hasTouch: true });
  const sizes = () => s.run(`[...document.querySelectorAll('#touch button, #touch-toggle')].map((b) => {
    const r = b.getBoundingClientRect(); return [b.textContent, r.width, r.height, r.top + scrollY]; })`);
  const before = await sizes();
  const small = before.filter(([, w, h]) => w < 44 || h < 44).map(([name]) => name);
  check(small.length === 0, `buttons smaller than 44 x 44: ${small.join(', ')}`);
  check(await s.run('document.documentElement.scrollWidth <= innerWidth'), 'the touch layout scrolls sideways at 360 pixels');
  for (const name of ['Next entry', 'Choose', 'Task', 'Where']) {
    await (await page.$(`xpath///button[text()="${name}"]`)).tap();
    await waitForGame(s);
  }
  check(JSON.stringify(await sizes()) === JSON.stringify(before), 'buttons moved when lines were said');
  await page.addScriptTag({ content: fs.readFileSync(require.resolve('axe-core'), 'utf8') });
  for (const layout of ['touch', 'keyboard']) {
    const found = await s.run('axe.run(document).then((r) => r.violations.map((v) => v.id + ": " + v.nodes.length))');
    check(found.length === 0, `the audit found in the ${layout} layout: ${found.join('; ')}`);
    await page.tap('#touch-toggle');
  }
  await s.close();
}

// ---- What only Chromium checks: Tab, a second tab, installing, storage, the end, offline. ----
async function chromiumOnly(eng, url, server) {
  const s = await eng.session();
  const page = s.page;
  await s.goto(`${url}?seed=3`);
  await waitForGame(s);
  await page.keyboard.press('Tab');
  await idle(s);
  check(await s.run("document.activeElement.id === 'game'"), 'Tab moved the focus out of the game');
  // A second tab: told, and it ends; the first plays on, and what it saves meanwhile stays stored.
  const second = await page.browserContext().newPage();
  await second.goto(`${url}?seed=3`);
  await second.evaluate(() => window.tumblewickIdle());
  const prompt = await second.$eval('#dialog', (d) => (d.hidden ? '' : d.querySelector('#dialog-prompt').textContent));
  check(prompt === 'This game is already running.', `the second tab showed ${JSON.stringify(prompt)}`);
  for (const key of ['ArrowDown', 'ArrowDown', 'Enter', 'Escape', 'ArrowDown', 'ArrowDown', 'ArrowDown', 'Enter']) {
    await page.keyboard.press(key);
    await idle(s);
  }
  await page.keyboard.type('second');
  await page.keyboard.press('Enter');
  await idle(s);
  await second.keyboard.press('Enter');
  await second.evaluate(() => window.tumblewickIdle());
  check(await second.$eval('#ended', (e) => !e.hidden), 'the second tab did not end');
  await second.close();
  const kept = Object.keys(await stored(s));
  check(kept.includes('second') && kept.includes('.autosave'), `after the second tab ended the storage held ${kept}`);
  // The browser offers to install the site: its manifest and worker leave nothing in the way.
  const cdp = await page.createCDPSession();
  // (The test's own browser context is a private one, which Chromium names among the errors.)
  const installabilityErrors = (await cdp.send('Page.getInstallabilityErrors')).installabilityErrors
    .filter((e) => e.errorId !== 'in-incognito');
  check(installabilityErrors.length === 0, `the site cannot be installed: ${JSON.stringify(installabilityErrors)}`);
  // Storage the browser refuses (a private window, a full disk) is told in the log, once.
  const refused = await (await eng.browser.createBrowserContext()).newPage();
  await refused.evaluateOnNewDocument(() => Object.defineProperty(window, 'indexedDB', { get() { throw new Error('refused'); } }));
  await refused.goto(`${url}?seed=3`);
  await refused.evaluate(() => window.tumblewickIdle());
  const told = await refused.$eval('#log', (l) => [...l.children].map((p) => p.textContent).join('|'));
  check(/could not be read .*kept only until this page is closed/.test(told), `unavailable storage was told as ${JSON.stringify(told)}`);
  // A save there is told as failed, as a save that cannot be written is on every platform.
  for (const key of ['ArrowDown', 'ArrowDown', 'Enter', 'Escape', 'ArrowDown', 'ArrowDown', 'ArrowDown', 'Enter']) {
    await refused.keyboard.press(key);
    await refused.evaluate(() => window.tumblewickIdle());
  }
  await refused.keyboard.type('x');
  await refused.keyboard.press('Enter');
  await refused.evaluate(() => window.tumblewickIdle());
  const saved = (await refused.evaluate(() => window.tumblewickSaid)).pop();
  check(saved === 'The game could not be saved as x.  The file cannot be written: The browser did not store it.  ' +
    'Nothing was written.',
    `a save the browser did not store was answered ${JSON.stringify(saved)}`);
  await refused.browserContext().close();
  // A new version of the site is taken at the next visit, the offline copy notwithstanding.
  await s.run('navigator.serviceWorker.ready.then(() => true)');
  const index = path.join(served, 'index.html');
  fs.writeFileSync(index, fs.readFileSync(index, 'utf8').replace('</body>', '<p id="new-version" hidden></p></body>'));
  await s.reload();
  await waitForGame(s);
  check(await s.run("document.getElementById('new-version') !== null"), 'a new version of the site was not taken');
  // With the server stopped, the page comes back from its offline copy and plays.
  await s.run('navigator.serviceWorker.ready.then(() => true)');
  await new Promise((resolve) => { server.on('exit', resolve); server.kill(); });
  await s.reload();
  await waitForGame(s);
  await page.keyboard.press('ArrowDown');
  await idle(s);
  const said = await s.run('window.tumblewickSaid');
  check(said.length === 2 && said[1] === 'How to play', `offline the page said ${JSON.stringify(said)}`);
  await page.keyboard.press('ArrowUp');
  await page.keyboard.press('Enter');
  await idle(s);
  check(/The game has ended\./.test(await s.run("document.getElementById('ended').textContent")),
    'after Exit the game the page does not say the game has ended');
  const wasm = fs.statSync(path.join(site, 'tumblewick.wasm')).size;
  const l = (await s.run('window.tumblewickLatencies')).sort((a, b) => a - b);
  console.log(`figures: key to log line median ${(l[l.length >> 1] || 0).toFixed(1)} ms over ${l.length} keys; ` +
    `tumblewick.wasm ${wasm} bytes`);
  check(wasm < 1024 * 1024, 'the .wasm is not under 1 MB');
}

(async () => {
  // The site is served from a copy, which the check of a new version changes.
  served = fs.mkdtempSync(path.join(require('os').tmpdir(), 'tw-site-'));
  fs.cpSync(site, served, { recursive: true });
  // The word list's package comes late, as on a slow network, so that files a script places are
  // checked to win over it whatever the order.
  const server = spawn(process.execPath, [path.join(__dirname, '../../platform/web/serve.js'), served, '0', '300'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const url = await new Promise((resolve, reject) => {
    server.stdout.on('data', (d) => { const m = /(http:\/\/\S+)/.exec(String(d)); if (m) resolve(m[1]); });
    server.on('exit', () => reject(new Error('the server did not start')));
  });
  const eng = engine === 'webkit' ? await webkitEngine() : await puppeteerEngine(engine);
  try {
    // The whole game waits through forty completions in real time (four minutes): one engine plays
    // it, by touch.
    const files = chosen.length ? chosen : fs.readdirSync(corpus).filter((f) => f.endsWith('.tw') && f !== 'whole-game.tw')
      .sort();
    for (const file of files) await play(eng, url, path.resolve(corpus, file));
    // Scripts named on the command line are played alone.
    if (engine === 'chromium' && !chosen.length) {
      await touchLayout(eng, url);
      for (const file of ['screen-reader.tw', 'whole-game.tw']) await play(eng, url, path.resolve(corpus, file), true);
      await chromiumOnly(eng, url, server);
    }
  } finally {
    await eng.close();
    server.kill();
    fs.rmSync(served, { recursive: true, force: true });
  }
  if (failures) { console.error(`${engine}: ${failures} failures`); process.exit(1); }
  console.log(`${engine}: all in order`);
})().catch((error) => { console.error(error); process.exit(1); });
