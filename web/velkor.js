// The page: the window seam's handlers for the module (Module.page) and the
// main window's flow. The jobs and the texts they show live in the module;
// this only draws them and runs one job at a time.
import createVelkorCore from './velkor-core.js';

const $ = (id) => document.getElementById(id);

const ICONS = { 0x10: 'error', 0x20: 'question', 0x40: 'information' };
const BUTTON_OK = 1;
const BOARD = { vendorId: 0x04d8, productId: 0xfc31 };
const POLL_MS = 1000;
// The chosen file's copy in the module's file system; it goes nowhere else.
const FILE_FOLDER = '/firmware';
// web_text()'s numbers.
const TEXT = { program: 0, updating: 1, updatingHint: 2, aborting: 3, version: 4 };

const state = {
  boardStatus: 0,
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

function run(name) {
  jobs = jobs.then(() => core.ccall(name, null, [], [], { async: true }))
    .catch((error) => console.error(name, error));
  return jobs;
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

// A hidden tab gets no animation frames; the job must go on all the same.
function nextFrame() {
  return new Promise((resolve) => {
    const timer = setTimeout(resolve, 50);
    requestAnimationFrame(() => { clearTimeout(timer); resolve(); });
  });
}

function showMessage(textShown, caption, icon) {
  const box = $('message');
  box.dataset.icon = ICONS[icon] || 'information';
  $('message-caption').textContent = caption;
  $('message-text').textContent = textShown;
  return new Promise((resolve) => {
    box.addEventListener('close', () => resolve(BUTTON_OK), { once: true });
    box.showModal();
    $('message-ok').focus();
  });
}

function refresh() {
  if (state.updating)
    return;
  const haveFile = state.file !== '';
  $('hint').textContent = core.UTF8ToString(core._web_hint(state.boardStatus, haveFile ? 1 : 0));
  $('program').disabled = !((state.boardStatus & 0xffff) && haveFile);
}

function jobEnded() {
  state.updating = false;
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

function pageHandlers() {
  return {
    setStatus: (line) => { $('status').textContent = line; },
    setProgressRange: (upper) => { $('progress').max = Math.max(upper, 1); },
    setProgressPos,
    frame: nextFrame,
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
  if (file) {
    const bytes = new Uint8Array(await file.arrayBuffer());
    const path = `${FILE_FOLDER}/${file.name}`;
    FS.writeFile(path, bytes);
    state.file = path;
  }
  refresh();
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
  run('web_update');
}

async function connect() {
  try {
    await navigator.hid.requestDevice({ filters: [BOARD] });
  } catch (error) {
    console.warn('no device chosen', error);
  }
}

// Once a second while idle, a second after the last job ended.
async function detectLoop() {
  if (!state.updating)
    await run('web_detect');
  setTimeout(detectLoop, POLL_MS);
}

function wireControls(demo) {
  $('firmware-file').addEventListener('change', () => { chooseFile(); });
  $('program').addEventListener('click', programOrAbort);
  $('message-ok').addEventListener('click', () => $('message').close());
  $('menu-about').addEventListener('click', () => $('about').showModal());
  $('about-ok').addEventListener('click', () => $('about').close());
  $('about-version').textContent = text(TEXT.version);
  if (demo) {
    $('connect').hidden = true;
    $('demo-badge').hidden = false;
  } else {
    $('connect').addEventListener('click', connect);
  }
}

async function start() {
  const params = new URLSearchParams(location.search);
  const demo = params.has('demo') ? params.get('demo') : null;
  // Without WebHID only the demo's own board could answer.
  if (demo === null && !navigator.hid) {
    $('no-webhid').hidden = false;
    return;
  }
  core = await createVelkorCore();
  core.page = pageHandlers();
  core.FS.mkdir(FILE_FOLDER);
  messages = {
    check: core.ccall('web_check_message', 'number', [], []),
    update: core.ccall('web_update_message', 'number', [], []),
  };
  wireControls(demo !== null);
  $('app').hidden = false;
  const error = core.ccall('web_start', 'string', ['number', 'string'], [demo !== null ? 1 : 0, demo || '']);
  if (error) {
    await showMessage(error, 'Error', 0x10);
    return;
  }
  if (demo !== null)
    window.velkorDemo = { dump: () => core.UTF8ToString(core._web_dump()) };
  detectLoop();
}

start();
