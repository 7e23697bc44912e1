// platform/web/page.js: the page around the game: keys in, the log the screen reader reads, the
// dialogs, speech synthesis, the award sound, the browser's storage, and the idle signal tests
// wait on. The game itself runs in tumblewick.wasm; this file keeps no game state.
'use strict';

(function () {
  const game = document.getElementById('game');
  const log = document.getElementById('log');
  const maxLines = 300;
  const params = new URLSearchParams(location.search);

  // ---- Keys: Windows virtual-key codes and shift masks, as the game's window gets them. ----
  const shiftMask = 1, ctrlMask = 2, altMask = 4;
  let ended = false;
  let dialogOpen = false;
  let keyDownAt = -1;
  let firstKey = true;
  let gameTitle = '';
  window.tumblewickLatencies = [];
  window.tumblewickSaid = [];  // every line of this page's session, for tests
  // What the player perceived, as the headless driver writes it: a said line as it is, "box: ",
  // "input: CAPTION | PROMPT" and "sound: sounds/NAME", for the key scripts the tests play.
  window.tumblewickHeard = [];
  function heard(line) { if (window.tumblewickHeard.length < 100000) window.tumblewickHeard.push(line); }

  function virtualKey(event) {
    const code = event.code || '';
    // Letters and digits by their place on the keyboard, so other layouts reach the same keys.
    if (/^Key[A-Z]$/.test(code)) return code.charCodeAt(3);
    if (/^Digit[0-9]$/.test(code)) return code.charCodeAt(5);
    return event.keyCode;  // the browser numbers the other keys as Windows does
  }
  // Keys the browser itself must keep: reloading, full screen, its developer tools.
  function browserKey(event) {
    return event.key === 'F5' || event.key === 'F11' || (event.ctrlKey && ['r', 'R', 'w', 'W', 't', 'T', 'l', 'L'].includes(event.key));
  }
  function keyIn(vk, shift) {
    if (ended || dialogOpen || !vk) return;
    keyDownAt = performance.now();
    idle = false;
    if (firstKey) { firstKey = false; voiceNote.hidden = true; if (gameTitle) document.title = gameTitle; }
    if (Module._tw_key) Module._tw_key(vk, shift);
    wake();
  }
  game.addEventListener('keydown', (event) => {
    pressedButton = null;
    if (ended || dialogOpen || browserKey(event)) return;
    event.preventDefault();
    keyIn(virtualKey(event), (event.shiftKey ? shiftMask : 0) | (event.ctrlKey ? ctrlMask : 0) | (event.altKey ? altMask : 0));
  });
  // ---- Touch: a real button for everything the keys do, grouped under headings, for a phone's
  // screen reader (swipe to a button, double-tap it). A press goes in as its key does, and the
  // focus stays on the button, so pressing again repeats. ----
  const touchGroups = [
    ['Menu', [['Previous entry', 38], ['Next entry', 40], ['Choose', 13], ['Back', 27]]],
    ['Rooms', [['1 Living room', 49], ['2 Dining room', 50], ['3 Kitchen', 51], ['4 Hallway', 52], ['5 Bathroom', 53],
      ['6 Bedroom', 54], ['7 Spare room', 55], ['8 Family room', 56], ['9 Laundry room', 57], ['0 Computer room', 48]]],
    ['Spots', [...'WERTYUI'].map((c, i) => ['spot ' + (i + 1), c.charCodeAt(0)])],
    ['Items', [...'ASDFGHJ'].map((c, i) => ['item ' + (i + 1), c.charCodeAt(0)]).concat([['Swap', 13]])],
    ['Ask', [['Task', 81], ['Where and what I carry', 90], ['Where', 88], ['What I carry', 67], ['Word changes', 86],
      ['Tasks done', 66], ['Earlier message', 188], ['Later message', 190], ['Help', 112]]],
    ['Speech', [['Next speech path', 9], ['Faster', 33], ['Slower', 34], ['Silence', 17, ctrlMask],
      ['Jump to the task\'s spot', 192, ctrlMask]]],
  ];
  const touch = document.getElementById('touch');
  const touchToggle = document.getElementById('touch-toggle');
  let pressedButton = null;  // where the focus goes back to after a dialog the button opened
  for (const [heading, keys] of touchGroups) {
    const title = document.createElement('h2');
    title.textContent = heading;
    const row = document.createElement('div');
    row.className = 'keys';
    for (const [name, vk, shift = 0] of keys) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = name;
      button.dataset.vk = vk;
      button.dataset.shift = shift;
      button.addEventListener('click', () => { pressedButton = button; keyIn(vk, shift); });
      row.append(button);
    }
    touch.append(title, row);
  }
  function showTouch(on) {
    touch.hidden = !on;
    touchToggle.setAttribute('aria-expanded', String(on));
  }
  touchToggle.addEventListener('click', () => showTouch(touch.hidden));
  if (params.has('touch') || window.matchMedia('(pointer: coarse)').matches) showTouch(true);
  window.addEventListener('touchstart', () => showTouch(true), { once: true, passive: true });

  // For tests: a key as one key-down with its modifiers, as the key scripts press a chord, where a
  // keyboard sends the modifier's own key-down first; and keys no keyboard here has.
  window.tumblewickKey = keyIn;
  // Letters typed while a key is held must not become the page's text either.
  game.addEventListener('keypress', (event) => { if (!dialogOpen) event.preventDefault(); });
  game.addEventListener('click', () => game.focus());
  window.addEventListener('load', () => game.focus());
  game.focus();

  // ---- Waiting for keys, and the idle signal. ----
  let wakeUp = null;
  let idle = false;
  let idleWaiters = [];
  let syncing = 0;
  function wake() {
    if (wakeUp) { const w = wakeUp; wakeUp = null; w(); }
  }
  // A tab that is hidden may be closed or frozen next without another event the game could
  // answer: the game is woken to keep the game in progress, and the storage is written.
  const keep = () => { Module.twKeepAsked = true; idle = false; wake(); };
  document.addEventListener('visibilitychange', () => { if (document.visibilityState === 'hidden') keep(); });
  window.addEventListener('pagehide', keep);
  function settle() {
    if ((idle || ended || dialogOpen) && syncing === 0) {
      const waiters = idleWaiters;
      idleWaiters = [];
      waiters.forEach((resolve) => resolve());
    }
  }
  // Resolves when the game waits for the player (a key, or an answer in a dialog) with no timed
  // wait under way, and its files are stored.
  window.tumblewickIdle = () => new Promise((resolve) => { idleWaiters.push(resolve); settle(); });

  // ---- Storage: the player's folder in IndexedDB, written through after every change. ----
  // The file system's changes to the browser's storage; a storage that throws is an error too.
  // A tab refused as a second copy writes nothing back, ever: its view of the files is the one it
  // read at its start, and writing it would take away what the running tab stored since.
  function syncStorage(done) {
    if (Module.twSecondCopy !== false) { done(null); return; }
    try { FS.syncfs(false, done); } catch (error) { done(error); }
  }
  let syncAgain = false;
  function persist() {
    if (syncing) { syncAgain = true; return; }
    syncing++;
    const copies = keptCount;
    syncStorage((error) => {
      if (error) storageFailed('Your games and settings could not be stored in this browser (' + describe(error) +
        ').  They are kept only until this page is closed.');
      else dropKept(copies);
      syncing--;
      if (syncAgain) { syncAgain = false; persist(); } else settle();
    });
  }

  // The automatic saves also go, as they are written, to the page's synchronous storage: a tab
  // being closed or frozen gets no later turn, and IndexedDB's write needs several (Chromium lost
  // the game kept when the tab was hidden, on a reload right after). The next start takes them
  // back where they are newer than what IndexedDB holds; a full write done after makes them
  // unneeded.
  const keptKey = 'tumblewick-kept';
  let keptCount = 0;
  function copyKept() {
    if (Module.twSecondCopy !== false) return;
    try {
      const kept = {};
      for (const name of ['.autosave', '.autosave-previous']) {
        const path = '/player/' + name;
        if (!FS.analyzePath(path).exists) continue;
        const bytes = FS.readFile(path);
        let text = '';
        for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode(...bytes.subarray(i, i + 8192));
        kept[name] = { time: new Date(FS.stat(path).mtime).getTime(), bytes: btoa(text) };
      }
      localStorage.setItem(keptKey, JSON.stringify(kept));
      keptCount++;
    } catch (error) {
      // Without that storage (a private window, too large a save) the full write is all there is.
    }
  }
  // After a full write that began after the last copy.
  function dropKept(copiesBefore) {
    if (copiesBefore && copiesBefore === keptCount) try { localStorage.removeItem(keptKey); } catch (e) { /* none */ }
  }
  function takeBackKept() {
    try {
      for (const [name, { time, bytes }] of Object.entries(JSON.parse(localStorage.getItem(keptKey) || '{}'))) {
        const path = '/player/' + name;
        if (FS.analyzePath(path).exists && new Date(FS.stat(path).mtime).getTime() >= time) continue;
        FS.writeFile(path, Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0)));
        FS.utime(path, time, time);
      }
    } catch (error) {
      // Nothing taken back: what IndexedDB holds stands.
    }
  }

  // ---- One copy per browser: a second tab is told and ends. ----
  function takeLock(tries) {
    return new Promise((resolve) => {
      if (!navigator.locks) { resolve(true); return; }
      navigator.locks.request('tumblewick-game', { ifAvailable: true }, (lock) => {
        resolve(lock !== null);
        // Held while this page lives.
        return lock ? new Promise(() => {}) : undefined;
      });
    }).then((got) => {
      // A page that was just reloaded may still be letting its lock go.
      if (got || tries <= 1) return got;
      return new Promise((r) => setTimeout(r, 300)).then(() => takeLock(tries - 1));
    });
  }

  // ---- Dialogs: the message box and the input box. ----
  const dialog = document.getElementById('dialog');
  const caption = document.getElementById('dialog-caption');
  const prompt = document.getElementById('dialog-prompt');
  const input = document.getElementById('dialog-input');
  const ok = document.getElementById('dialog-ok');
  const cancel = document.getElementById('dialog-cancel');
  function openDialog(text, title, withInput) {
    heard(withInput ? 'input: ' + title + ' | ' + text : 'box: ' + text);
    return new Promise((resolve) => {
      dialogOpen = true;
      caption.textContent = title || 'Tumblewick';
      prompt.textContent = text;
      input.hidden = !withInput;
      input.value = '';
      dialog.hidden = false;
      const close = (answer) => {
        dialog.removeEventListener('keydown', onKey, true);
        ok.removeEventListener('click', onOk);
        cancel.removeEventListener('click', onCancel);
        dialog.hidden = true;
        dialogOpen = false;
        (pressedButton && !touch.hidden ? pressedButton : game).focus();
        resolve(answer);
      };
      const onOk = () => close(withInput ? input.value : '');
      const onCancel = () => close('');
      const onKey = (event) => {
        if (event.key === 'Enter' && document.activeElement !== cancel) { event.preventDefault(); onOk(); }
        else if (event.key === 'Escape') { event.preventDefault(); onCancel(); }
        else if (event.key === 'Tab') {
          event.preventDefault();
          const order = withInput ? [input, ok, cancel] : [ok, cancel];
          order[(order.indexOf(document.activeElement) + (event.shiftKey ? order.length - 1 : 1)) % order.length].focus();
        }
      };
      dialog.addEventListener('keydown', onKey, true);
      ok.addEventListener('click', onOk);
      cancel.addEventListener('click', onCancel);
      (withInput ? input : ok).focus();
      settle();
    });
  }

  // ---- Speech and sound. ----
  function speak(text, purge, rate, volume) {
    const synth = window.speechSynthesis;
    if (!synth || typeof SpeechSynthesisUtterance === 'undefined') return;  // no voice: silent
    try {
      if (purge) synth.cancel();
      const u = new SpeechSynthesisUtterance(text);
      // SAPI's -10..10 spans a third of normal speed to three times it.
      u.rate = Math.min(10, Math.max(0.1, Math.pow(3, rate / 10)));
      u.volume = Math.min(1, Math.max(0, volume / 100));
      synth.speak(u);
    } catch (e) { /* speech that fails is dropped, as on every platform */ }
  }
  let audio = null;
  const sounds = new Map();
  function playSound(path) {
    const url = path.replace(/^\/game\//, '');
    heard('sound: ' + url);
    try {
      const Context = window.AudioContext || window.webkitAudioContext;
      if (!Context) return;
      audio = audio || new Context();
      if (audio.state === 'suspended') audio.resume();
      if (!sounds.has(url))
        sounds.set(url, fetch(url).then((r) => r.arrayBuffer()).then((b) => audio.decodeAudioData(b)).catch(() => null));
      sounds.get(url).then((buffer) => {
        if (!buffer) return;  // missing: nothing plays, nothing stops
        const source = audio.createBufferSource();
        source.buffer = buffer;
        source.connect(audio.destination);
        source.start();
      });
    } catch (e) { /* never stops the game */ }
  }

  // ---- The log, and what the screen reader is handed. ----
  // Paths 1 and 2 are the screen reader's: each line goes to it, interrupting what it says, as the
  // title and the chord interrupt on Windows. Where the browser has ariaNotify that is the way:
  // every line is spoken, the same line twice too, and nothing else announces it. On the Linux
  // desktop Orca (43, Debian's) does not speak those announcements, so there, and where the
  // browser lacks ariaNotify, the log is an assertive live region instead, and a line equal to the
  // one the log showed before it gets a no-break space at its end (so the next equal one goes
  // without it again), since a repeated addition has been seen dropped
  // (Chromium 156 with Orca 43 spoke both without it; the space is harmless). On
  // paths 0 and 3 the page's own voice speaks, so the screen reader is handed nothing and nothing
  // is heard twice.
  const linuxDesktop = /Linux/.test(navigator.userAgent) && !/Android/.test(navigator.userAgent);
  const notify = typeof game.ariaNotify === 'function' && !linuxDesktop;
  window.tumblewickAnnounces = notify ? 'ariaNotify' : 'live region';
  let lastLine = null;
  function said(text, path) {
    const reader = path === 1 || path === 2;
    const live = reader && !notify ? 'assertive' : 'off';
    if (log.getAttribute('aria-live') !== live) log.setAttribute('aria-live', live);
    const line = document.createElement('p');
    // Compared with what the log last showed, not with the game's line: so the third of three
    // equal lines goes without the space again, and every addition differs from the one before.
    line.textContent = !notify && reader && text === lastLine ? text + '\u00a0' : text;
    lastLine = line.textContent;
    log.appendChild(line);
    if (reader && notify && text) game.ariaNotify(text, { priority: 'high' });
    const mayHaveSpoken = navigator.userActivation && navigator.userActivation.hasBeenActive;
    if (path === 0 && firstKey && !noteShown && !mayHaveSpoken) {
      // Browsers let a page speak only after the player's first key: say so, once.
      noteShown = true;
      voiceNote.hidden = false;
    }
    heard(text);
    if (window.tumblewickSaid.length < 100000) window.tumblewickSaid.push(text);
    if (window.tumblewickFirstLine === undefined) window.tumblewickFirstLine = performance.now();
    while (log.childElementCount > maxLines) log.firstElementChild.remove();
    if (keyDownAt >= 0) {
      window.tumblewickLatencies.push(performance.now() - keyDownAt);
      keyDownAt = -1;
    }
  }
  const voiceNote = document.getElementById('voice-note');
  let noteShown = false;

  // A storage that fails is told once, in the log, where the screen reader hears it as it hears
  // the game; it is the page's line, not the game's.
  let storageTold = false;
  function describe(error) { return (error && (error.name || error.message)) || String(error); }
  function storageFailed(text) {
    console.error('Tumblewick: ' + text);
    if (storageTold) return;
    storageTold = true;
    const line = document.createElement('p');
    line.id = 'storage-note';
    line.textContent = text;
    log.appendChild(line);
    if (notify) game.ariaNotify(text, { priority: 'high' });
  }

  function showEnded(status, why) {
    ended = true;
    const box = document.getElementById('ended');
    document.getElementById('ended-text').textContent =
      (why ? why + '  ' : '') + 'The game has ended.' + (status ? '' : '  Your settings are kept.');
    box.hidden = false;
    game.setAttribute('aria-disabled', 'true');
    const again = document.getElementById('restart');
    again.addEventListener('click', () => location.reload());
    again.focus();
    settle();
  }

  window.Module = {
    twSeed: params.has('seed') && /^[0-9]+$/.test(params.get('seed')) ? Number(params.get('seed')) : undefined,
    twSecondCopy: false,
    // The window's title mirrors the game's from the first key on: before it, a screen reader that
    // reads the title as the page finishes loading would say the greeting a second time.
    twSetTitle: (text) => { gameTitle = text; if (!firstKey) document.title = text; },
    twSaid: said,
    twSpeak: speak,
    twPlaySound: playSound,
    twPersist: persist,
    // A save is whole only once the browser's storage holds it: what went wrong, or ''.
    twPersistNow: () => new Promise((resolve) => {
      copyKept();
      const copies = keptCount;
      syncStorage((error) => {
        if (!error) { dropKept(copies); resolve(''); return; }
        storageFailed('Your games and settings could not be stored in this browser (' + describe(error) +
          ').  They are kept only until this page is closed.');
        resolve('The browser did not store it');
      });
    }),
    twWait: (ms) => new Promise((resolve) => {
      let timer = null;
      wakeUp = () => { if (timer !== null) clearTimeout(timer); resolve(); };
      if (ms >= 0) timer = setTimeout(() => { wakeUp = null; resolve(); }, ms);
      idle = ms < 0;
      settle();
    }),
    twMessageBox: (text, title) => openDialog(text, title, false),
    twInputBox: (text, title) => openDialog(text, title, true),
    twEnded: (status, why) => { persist(); showEnded(status, why); },
    preRun: [() => {
      FS.mkdir('/player');
      FS.mount(IDBFS, {}, '/player');
      addRunDependency('tumblewick-storage');
      FS.syncfs(true, (error) => {
        if (error) storageFailed('The games and settings stored in this browser could not be read (' + describe(error) +
          ').  What you save now is kept only until this page is closed.');
        takeBackKept();
        removeRunDependency('tumblewick-storage');
      });
      addRunDependency('tumblewick-lock');
      takeLock(4).then((got) => {
        Module.twSecondCopy = !got;
        removeRunDependency('tumblewick-lock');
      });
    }],
    // Placed only once every run dependency is met: the game's own files (the word list) arrive
    // with the data package, whose download may end after the player's storage has been read.
    onRuntimeInitialized: () => placeTestFiles(),
    print: (text) => console.log(text),
    printErr: (text) => console.error(text),
  };

  // Offline: after one visit the page and the game come from the browser's cache when the network
  // is gone; a new version is fetched whenever the network answers.
  if ('serviceWorker' in navigator && location.protocol !== 'file:') {
    navigator.serviceWorker.register('sw.js').catch((error) => console.error('Tumblewick: no offline copy', error));
  }

  // For tests: files a key script places in the game's folder before the game starts, left in this
  // tab's session storage by the test before it reloads the page: base64 bytes by name, or null
  // for a file that must not be there.
  function placeTestFiles() {
    let files = null;
    try { files = JSON.parse(sessionStorage.getItem('tumblewick-test-files') || 'null'); } catch (e) { files = null; }
    if (!files) return;
    sessionStorage.removeItem('tumblewick-test-files');
    for (const [name, bytes] of Object.entries(files)) {
      for (const folder of ['/player/', '/game/']) {
        try { FS.unlink(folder + name); } catch (e) { /* not there */ }
      }
      if (bytes !== null) FS.writeFile('/player/' + name, Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0)));
    }
  }

  // For tests: the files in storage, as base64 by name.
  window.tumblewickFiles = () => {
    const out = {};
    for (const name of FS.readdir('/player')) {
      if (name === '.' || name === '..') continue;
      const path = '/player/' + name;
      if (!FS.isFile(FS.stat(path).mode)) continue;
      const bytes = FS.readFile(path);
      let text = '';
      for (let i = 0; i < bytes.length; i++) text += String.fromCharCode(bytes[i]);
      out[name] = btoa(text);
    }
    return out;
  };
})();
