// The page: the window seam's handlers for the module (Module.page) and the
// main window's flow. The jobs and the texts they show live in the module;
// this only draws them and runs one job at a time.
import createVelkorCore from './velkor-core.js';

const $ = (id) => document.getElementById(id);

const ICONS = { 0x10: 'error', 0x20: 'question', 0x40: 'information' };
const ICON_ERROR = 0x10;
const ICON_QUESTION = 0x20;
const ICON_INFORMATION = 0x40;
const BUTTON_OK = 1;
const BUTTON_YES = 6;
const BOARD = { vendorId: 0x04d8, productId: 0xfc31 };
const POLL_MS = 1000;
// The chosen file's copy in the module's file system; it goes nowhere else.
const FILE_FOLDER = '/firmware';
// web_text()'s numbers.
const TEXT = {
  program: 0, updating: 1, updatingHint: 2, aborting: 3, version: 4,
  checking: 5, passwordIncorrect: 6, accessDenied: 7, shotCounterSet: 8, shotCounter: 9,
  disableService: 10, disableServiceCaption: 11,
};

// Where the browser lists the board but may not open it, and the system is
// not Linux (whose words come from the module).
const ACCESS_HELP = 'A board is attached but the browser may not open it: close any other program '
  + 'that uses it (VelkorUpdate.exe, velkor), then unplug the board and plug it in again';

const state = {
  boardStatus: 0,
  accessHint: '',
  file: '',
  updating: false,
  abort: false,
  drawn: null,
  pendingPos: null,
};

let core = null;
let messages = null;
// Asyncify runs one suspended call at a time: every job waits its turn.
let jobs = Promise.resolve();

// Resolves to what the call returns (0 when it threw).
function run(name, types = [], args = []) {
  jobs = jobs.then(() => core.ccall(name, 'number', types, args, { async: true }))
    .catch((error) => { console.error(name, error); return 0; })
    .then((value) => { offerLog(); return value; });
  return jobs;
}

// Nothing to save before the first job; none while an update runs, when the
// browser's save dialog could cover the abort.
function offerLog() {
  const none = core._web_log_records() === 0;
  $('save-log').disabled = none || state.updating;
  $('save-log').title = none ? 'Nothing to save yet' : '';
}

// The session's records, as velkor --log keeps them, straight from memory to
// a download: nothing goes over the network.
function saveLog() {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([core.UTF8ToString(core._web_log())], { type: 'application/jsonl' }));
  link.download = `velkor-web-${new Date().toISOString().slice(0, 19).replace(/:/g, '-')}Z.jsonl`;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// Called straight, not through ccall: while a job waits, ccall would hand
// back a promise of the job's end instead of the text.
function text(which) {
  return core.UTF8ToString(core._web_text(which));
}

// Drawn once per animation frame, however often the job moves it.
function setProgressPos(pos) {
  const first = state.pendingPos === null;
  state.pendingPos = pos;
  if (first) {
    requestAnimationFrame(() => {
      $('progress').value = state.pendingPos;
      state.pendingPos = null;
    });
  }
}

// The job's pause for the page to draw and take clicks: one turn of the
// event loop, not a whole frame (the browser draws between tasks when a frame
// is due), and not a timer, which a hidden tab's browser slows to one a
// second or less.
const turns = new MessageChannel();
function nextTurn() {
  return new Promise((resolve) => {
    turns.port1.onmessage = resolve;
    turns.port2.postMessage(null);
  });
}

// An OK box, or with yesNo a Yes/No question; resolves to the button's
// number (Escape answers a question with No).
function showMessage(textShown, caption, icon, yesNo = false) {
  const box = $('message');
  box.dataset.icon = ICONS[icon] || 'information';
  $('message-caption').textContent = caption;
  $('message-text').textContent = textShown;
  $('message-ok').hidden = yesNo;
  $('message-yes').hidden = !yesNo;
  $('message-no').hidden = !yesNo;
  box.returnValue = '';
  return new Promise((resolve) => {
    box.addEventListener('close', () => resolve(box.returnValue === 'yes' ? BUTTON_YES : BUTTON_OK), { once: true });
    box.showModal();
    $(yesNo ? 'message-yes' : 'message-ok').focus();
  });
}

function refresh() {
  if (state.updating)
    return;
  const haveFile = state.file !== '';
  $('hint').textContent = state.accessHint || core.UTF8ToString(core._web_hint(state.boardStatus, haveFile ? 1 : 0));
  $('program').disabled = !((state.boardStatus & 0xffff) && haveFile);
  // The booted board's word is about that board: the next one plugged in
  // must not seem to have said it.
  if (state.boardStatus === 0)
    $('boot-report').textContent = '';
}

// While an update runs nothing may cover the Program button, which aborts it:
// the boxes behind the menu wait for its end.
function setMenuEnabled(on) {
  for (const button of document.querySelectorAll('.menu button'))
    button.disabled = !on;
  offerLog();
}

// Closing the tab would end the update half way: the browser asks first.
function askBeforeLeaving(event) {
  event.preventDefault();
  event.returnValue = '';
}

function jobEnded() {
  state.updating = false;
  setMenuEnabled(true);
  removeEventListener('beforeunload', askBeforeLeaving);
  state.abort = false;
  state.pendingPos = null;
  $('progress').value = 0;
  $('firmware-file').disabled = false;
  $('connect').disabled = false;
  $('program').textContent = text(TEXT.program);
  refresh();
}

function result(message, wparam) {
  if (message === messages.check) {
    state.boardStatus = wparam;
    refresh();
  } else if (message === messages.update) {
    jobEnded();
  }
}

// On Linux the udev rule, and its commands on the hint line; in a job's error
// box both.
function accessHelp(hint, commands, inBox) {
  const linux = /Linux/.test(navigator.userAgent) && !/Android|CrOS/.test(navigator.userAgent);
  if (inBox)
    return showMessage(linux ? `${hint}\n\n${commands}` : ACCESS_HELP, 'Error', ICON_ERROR);
  $('status').textContent = linux ? hint : ACCESS_HELP;
  // Elsewhere the hint line stays empty: the status line says it all.
  state.accessHint = linux ? commands : ' ';
  return null;
}

function pageHandlers() {
  return {
    setStatus: (line) => {
      $('status').textContent = line;
      state.accessHint = '';
    },
    accessHelp,
    setProgressRange: (upper) => { $('progress').max = Math.max(upper, 1); },
    setProgressPos,
    frame: nextTurn,
    showMessage,
    result,
    fileName: () => state.file,
    takeAbort: () => {
      const asked = state.abort;
      state.abort = false;
      return asked;
    },
  };
}

async function chooseFile() {
  const file = $('firmware-file').files[0];
  const FS = core.FS;
  if (state.file !== '')
    FS.unlink(state.file);
  state.file = '';
  let failure = null;
  try {
    if (file) {
      const path = `${FILE_FOLDER}/${file.name}`;
      FS.writeFile(path, new Uint8Array(await file.arrayBuffer()));
      state.file = path;
    }
  } catch (error) {
    // Gone, changed or unreadable since it was chosen.
    failure = `${file.name} cannot be read: ${error.message}`;
    $('firmware-file').value = '';
  }
  refresh();
  if (failure)
    await showMessage(failure, 'Error', ICON_ERROR);
}

function programOrAbort() {
  const button = $('program');
  if (state.updating) {
    $('hint').textContent = text(TEXT.aborting);
    button.disabled = true;
    state.abort = true;
    return;
  }
  // The job reads the file when it starts; it must not change under it.
  $('firmware-file').disabled = true;
  $('connect').disabled = true;
  $('hint').textContent = text(TEXT.updatingHint);
  button.textContent = text(TEXT.updating);
  button.title = 'Press to abort';
  state.updating = true;
  setMenuEnabled(false);
  addEventListener('beforeunload', askBeforeLeaving);
  $('boot-report').textContent = '';
  // The job ends (jobEnded) before the booted board has had its say.
  run('web_update').then(() => { $('boot-report').textContent = core.UTF8ToString(core._web_boot_report()); });
}

async function connect() {
  try {
    await navigator.hid.requestDevice({ filters: [BOARD] });
  } catch (error) {
    console.warn('no device chosen', error);
  }
}

// Not while hidden: a background tab leaves the board to whatever program
// the user turned to, which may be updating it.
function detectNow() {
  return state.updating || document.hidden ? null : run('web_detect');
}

// Once a second while idle, a second after the last job ended.
async function detectLoop() {
  await detectNow();
  setTimeout(detectLoop, POLL_MS);
}

// Service mode: the password behind Ctrl+Alt+P, then the service menu.
const service = { on: false, checking: false, label: '' };

function openPassword() {
  $('password-label').textContent = service.label;
  const field = $('password-input');
  field.value = '';
  $('password').showModal();
  field.focus();
}

function setPasswordBusy(busy) {
  service.checking = busy;
  for (const id of ['password-input', 'password-ok', 'password-cancel'])
    $(id).disabled = busy;
}

// One attempt per opening, as in the window: a wrong one closes the box
// once its message has been seen.
async function checkPassword() {
  if (service.checking)
    return;
  const entry = $('password-input').value;
  $('password-label').textContent = text(TEXT.checking);
  setPasswordBusy(true);
  const right = await run('web_check_password', ['string'], [entry]) === 1;
  if (!right)
    await showMessage(text(TEXT.passwordIncorrect), text(TEXT.accessDenied), ICON_ERROR);
  setPasswordBusy(false);
  $('password').close();
  if (right)
    setServiceMenu(true);
}

// The menu is in the page only while service mode is on.
function setServiceMenu(on) {
  service.on = on;
  if (!on) {
    document.querySelector('.menu .service-menu')?.remove();
    return;
  }
  const menu = $('service-menu').content.firstElementChild.cloneNode(true);
  $('menu-about').before(menu);
  $('service-shot-counter').addEventListener('click', readShotCounter);
  $('service-pressure').addEventListener('click', () => { run('web_pressure_values'); });
}

async function onServiceKey() {
  // Like the window's accelerators, not while a box is up; and the password
  // box would cover the abort.
  if (state.updating || document.querySelector('dialog[open]'))
    return;
  if (!service.on) {
    openPassword();
    return;
  }
  const answer = await showMessage(text(TEXT.disableService), text(TEXT.disableServiceCaption), ICON_QUESTION, true);
  if (answer === BUTTON_YES)
    setServiceMenu(false);
}

// The count comes from the job's outcome; a failed job has shown its box.
async function readShotCounter() {
  if (await run('web_read_shot_counter') !== 1)
    return;
  const count = core._web_service_result() >>> 0;
  $('shot-current').textContent = String(count);
  const field = $('shot-new');
  field.value = String(count);
  $('shot-counter').showModal();
  field.select();
}

// Taken as it stands, as the window's number field does: empty gives 0.
async function setShotCounter() {
  const typed = Number($('shot-new').value || '0');
  $('shot-counter').close();
  const count = typed <= 0xffffffff ? typed : 0;
  if (await run('web_set_shot_counter', ['number'], [count]) === 1)
    await showMessage(text(TEXT.shotCounterSet), text(TEXT.shotCounter), ICON_INFORMATION);
}

function wireServiceMode() {
  service.label = $('password-label').textContent;
  $('password-input').maxLength = core._web_password_max_chars();
  $('password').querySelector('form').addEventListener('submit', (event) => {
    event.preventDefault();
    checkPassword();
  });
  $('password-cancel').addEventListener('click', () => $('password').close());
  // No way out while the check pauses, as the window does not respond then.
  $('password').addEventListener('cancel', (event) => { if (service.checking) event.preventDefault(); });
  $('shot-new').addEventListener('input', (event) => {
    event.target.value = event.target.value.replace(/\D/g, '');
  });
  $('shot-counter').querySelector('form').addEventListener('submit', (event) => {
    event.preventDefault();
    setShotCounter();
  });
  $('shot-cancel').addEventListener('click', () => $('shot-counter').close());
  document.addEventListener('keydown', (event) => {
    if (event.ctrlKey && event.altKey && event.code === 'KeyP' && !event.repeat) {
      event.preventDefault();
      onServiceKey();
    }
  });
}

function wireControls(demo) {
  $('firmware-file').addEventListener('change', () => { chooseFile(); });
  $('program').addEventListener('click', programOrAbort);
  $('message-ok').addEventListener('click', () => $('message').close());
  $('message-yes').addEventListener('click', () => $('message').close('yes'));
  $('message-no').addEventListener('click', () => $('message').close('no'));
  $('menu-about').addEventListener('click', () => $('about').showModal());
  $('save-log').addEventListener('click', saveLog);
  $('about-ok').addEventListener('click', () => $('about').close());
  $('about-version').textContent = text(TEXT.version);
  wireServiceMode();
  if (demo) {
    $('connect').hidden = true;
    $('demo-badge').hidden = false;
  } else {
    $('connect').addEventListener('click', connect);
  }
}

// Registered only once the page's own files have all arrived: a newer build's
// worker, taking over, then has nothing of its own to hand this tab.
function keepForOffline() {
  navigator.serviceWorker?.register('sw.js').catch((error) => console.warn('no offline copy:', error.message));
}

async function start() {
  // Inside another page, a click meant for that page could land on Program
  // (hosts also forbid framing, docs/web.md). WebHID is not even looked at.
  if (window.top !== window.self) {
    $('framed-link').href = location.href;
    $('framed').hidden = false;
    return;
  }
  const params = new URLSearchParams(location.search);
  const demo = params.has('demo') ? params.get('demo') : null;
  // Without WebHID only the demo's own board could answer.
  if (demo === null && !navigator.hid) {
    $('no-webhid').hidden = false;
    return;
  }
  core = await createVelkorCore();
  keepForOffline();
  core.page = pageHandlers();
  core.FS.mkdir(FILE_FOLDER);
  messages = {
    check: core.ccall('web_check_message', 'number', [], []),
    update: core.ccall('web_update_message', 'number', [], []),
  };
  wireControls(demo !== null);
  offerLog();
  $('app').hidden = false;
  const error = core.ccall('web_start', 'string', ['number', 'string'], [demo !== null ? 1 : 0, demo || '']);
  if (error) {
    await showMessage(error, 'Error', ICON_ERROR);
    return;
  }
  if (demo !== null) {
    window.velkorDemo = { dump: () => core.UTF8ToString(core._web_dump()) };
  } else {
    // A board plugged in or pulled out shows at once, not at the next poll.
    for (const type of ['connect', 'disconnect'])
      navigator.hid.addEventListener(type, detectNow);
  }
  document.addEventListener('visibilitychange', detectNow);
  detectLoop();
}

start();
