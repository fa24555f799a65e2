'use strict';
// The console page: live state from /api/events, controls through
// /api/command, settings through /api/settings. Only this host is asked.
// Everything shown is either live or marked with its age; a tap that cannot
// reach the camera says so instead of pretending it was sent.
const $ = (id) => document.getElementById(id);
let snap = null;        // the latest snapshot
let snapAt = 0;         // when it arrived (Date.now())
let streamUp = false;   // the event stream is open and talking
let vocab = null;
let events = null;
let retryMs = 500;      // event stream back-off
let retryTimer = 0;
let started = false;

// --- messages -----------------------------------------------------------

let msgTimer = 0;
function say(text, bad) {
  const m = $('msg');
  m.textContent = text;
  m.className = bad ? 'bad' : '';
  m.hidden = false;
  clearTimeout(msgTimer);
  msgTimer = setTimeout(() => { m.hidden = true; }, bad ? 6000 : 2500);
}

// --- talking to pqw-web -------------------------------------------------

// Why a command cannot do anything now, or '' when it can. Camera commands
// need the camera link; daemon commands (settings, restart) the daemon.
function blocked(needCamera) {
  if (!streamUp) return 'the console is not reachable';
  if (!snap || !snap.daemon.reachable) return 'the daemon is not reachable';
  if (needCamera && !snap.link.connected) return 'the camera is not connected';
  return '';
}

// force: try even when the page believes it cannot arrive (a stop).
async function post(url, body, what, needCamera, force) {
  const why = blocked(needCamera);
  if (why && !force) { say(what + ' not sent: ' + why, true); return false; }
  let r, j;
  try {
    r = await fetch(url, {
      method: 'POST', credentials: 'same-origin',
      headers: {'Content-Type': 'application/json'}, body: JSON.stringify(body)});
    j = await r.json().catch(() => ({}));
  } catch (e) {
    say(what + ' not sent: the console is not reachable', true);
    return false;
  }
  if (r.status === 401) {
    showLogin(what + ' was not sent: the session ended. Enter the PIN, then tap again.');
    return false;
  }
  if (!r.ok) { say(what + ' not sent: ' + (j.error || 'error ' + r.status), true); return false; }
  say(what + ' sent');
  return true;
}
const CAMERA = true;
const command = (o, what, daemonOnly) => post('/api/command', o, what || o.cmd, !daemonOnly);
const setting = (o, what) => post('/api/settings', o, what || o.name, false);

// --- showing values -----------------------------------------------------

function show(id, text) { $(id).textContent = text === null || text === undefined ? '-' : text; }
function mmss(s) { return Math.floor(s / 60) + ':' + String(s % 60).padStart(2, '0'); }
function hms(s) { return s >= 3600 ? Math.floor(s / 3600) + ' h ' + Math.floor(s % 3600 / 60) + ' min' : mmss(s); }
// Shutter as the camera shows it: "30s" stays, "500" is 1/500 s.
const shutterText = (v) => /s$/.test(v) ? v : '1/' + v;
const evText = (t) => (Number(t) > 0 ? '+' : '') + Number(t).toFixed(1);

// A picker shows the camera's value unless the operator is using it; a
// value outside its options is shown as itself, not as a blank.
function reflect(el, value, label) {
  if (document.activeElement === el) return;
  if (value === null || value === undefined) value = '';
  value = String(value);
  if (![...el.options].some((o) => o.value === value)) {
    const o = document.createElement('option');
    o.value = value;
    o.textContent = value === '' ? '-' : (label || value) + ' (reported)';
    o.dataset.extra = '1';
    el.append(o);
  }
  el.value = value;
}

function fill(el, values, label) {
  el.textContent = '';
  for (const v of values) {
    const o = document.createElement('option');
    o.value = v;
    o.textContent = label ? label(v) : v;
    el.append(o);
  }
}

// Live: the event stream talks and the camera link is up. Otherwise every
// value is dimmed and the header says how old it is.
function ageText() {
  if (!snap) return '';
  const c = snap.camera;
  if (streamUp && snap.link.connected) return '';
  if (c.age_s === null || c.age_s === undefined) return 'no values yet';
  const s = Math.round(c.age_s + (Date.now() - snapAt) / 1000);
  return 'last seen ' + (s < 120 ? s + ' s' : Math.round(s / 60) + ' min') + ' ago';
}

let locked = false;  // the PIN screen is up: it owns the header
let wasLive = false;
function paintStatus() {
  if (locked) return;
  const st = $('status');
  if (!streamUp) {
    st.textContent = refused || 'console not reachable';
    st.className = 'pill bad';
  } else if (snap) {
    st.textContent = snap.link.status;
    st.className = 'pill ' + (snap.link.connected ? 'ok' : snap.daemon.reachable ? 'warn' : 'bad');
  }
  const age = ageText();
  $('age').textContent = age;
  $('age').hidden = !age;
  const live = age === '';
  // A refusal for a loss that is over is no longer true.
  if (live && !wasLive && $('msg').className === 'bad') $('msg').hidden = true;
  wasLive = live;
  for (const id of ['live', 'controls', 'bar']) $(id).classList.toggle('stale', !live);
}
setInterval(paintStatus, 1000);

function render(s) {
  snap = s;
  snapAt = Date.now();
  streamUp = true;
  retryMs = 500;
  const c = s.camera;
  const recording = c.recording;
  const rs = $('rec-state');
  rs.textContent = recording ? 'REC ' + mmss(c.record_seconds) : c.known ? 'ready, ' + c.mode : '-';
  rs.classList.toggle('on', recording);
  const rec = $('rec');
  rec.textContent = recording ? 'Stop' : 'Record';
  rec.classList.toggle('on', recording);
  const have = c.age_s !== null && c.age_s !== undefined;
  const left = !have ? null : c.mode === 'video' ? hms(c.record_left) + ' left' : c.shots_left + ' shots left';
  show('left', left);
  show('v-left', left && left.replace(' left', ''));
  $('m-photo').setAttribute('aria-pressed', String(have && c.mode === 'photo'));
  $('m-video').setAttribute('aria-pressed', String(have && c.mode === 'video'));
  show('v-mode', have ? c.mode : null);
  show('v-iso', c.iso);
  show('v-shutter', c.shutter === null ? null : shutterText(c.shutter));
  show('v-aperture', c.aperture === null ? null : 'f/' + c.aperture.toFixed(1));
  show('v-ev', c.ev === null ? null : evText(c.ev));
  show('v-wb', c.wb === 'custom' ? c.wb_kelvin + ' K' : c.wb);
  show('v-exposure', c.exposure);
  show('v-focus', s.focus.known ? s.focus.percent + ' %' : null);
  show('v-zoom', s.zoom + ' %');
  const g = s.gimbal;
  show('v-gimbal', g.known ? [g.pan, g.tilt, g.dutch].map((x) => x.toFixed(1)).join(' / ') : null);
  show('v-viewers', s.viewers);
  $('t-video').hidden = s.link.video === null;
  show('v-video', s.link.video ? 'yes' : 'no');
  show('v-rig', s.link.device_mode);
  $('t-file').hidden = !c.files_readable;
  show('v-file', c.newest_file);
  const h = $('v-health');
  h.hidden = !s.health;
  if (s.health) h.textContent = 'Health ' + JSON.stringify(s.health, null, 1);
  if (vocab) {
    reflect($('p-iso'), c.iso);
    reflect($('p-shutter'), c.shutter, c.shutter && shutterText(c.shutter));
    reflect($('p-aperture'), c.aperture === null ? null : c.aperture.toFixed(1));
    reflect($('p-ev'), c.ev === null ? null : c.ev.toFixed(1), c.ev !== null && evText(c.ev));
    reflect($('p-wb'), c.wb);
    $('wb-k-box').hidden = c.wb !== 'custom' && $('p-wb').value !== 'custom';
    if (c.wb_kelvin) reflect($('p-wb-k'), c.wb_kelvin);
    reflect($('p-exposure'), c.exposure);
  }
  paintStatus();
  if (stopOwed && !moving && s.daemon.reachable) sendStop();
  if (s.settings_version !== settingsVersion) {
    settingsVersion = s.settings_version;
    loadSettings();
  }
}

// --- the event stream, reopened after any loss --------------------------

function lost() {
  streamUp = false;
  paintStatus();
  if (events) { events.close(); events = null; }
  clearTimeout(retryTimer);
  retryTimer = setTimeout(reopen, retryMs);
  retryMs = Math.min(retryMs * 2, 2000);
}

// Before reopening, ask whether a PIN is now needed: a restarted pqw-web
// has forgotten our session and the stream would only be refused.
// /api/auth, or null when pqw-web cannot be reached. A refusal (e.g. a
// host name it does not serve) is shown as it says, and asked again later.
async function askAuth() {
  let r, j;
  try {
    r = await fetch('/api/auth', {credentials: 'same-origin'});
    j = await r.json().catch(() => ({}));
  } catch (e) { return null; }
  if (r.ok) return j;
  refused = 'console refused: ' + (j.error || 'error ' + r.status);
  return null;
}
let refused = '';

async function reopen() {
  refused = '';
  const auth = await askAuth();
  if (!auth) return lost();
  if (auth.pin && !auth.session) return showLogin('The console restarted: enter the PIN again.');
  listen();
}

function listen() {
  if (events) events.close();
  events = new EventSource('/api/events');
  events.onmessage = (e) => {
    let s;
    try { s = JSON.parse(e.data); } catch (x) { return; }
    render(s);
  };
  events.onerror = lost;
}

// --- controls -----------------------------------------------------------

function pickers() {
  fill($('p-iso'), vocab.iso);
  fill($('p-shutter'), vocab.shutter, shutterText);
  fill($('p-aperture'), vocab.aperture, (v) => 'f/' + v);
  fill($('p-ev'), vocab.ev, evText);
  fill($('p-wb'), vocab.wb.concat(['custom']));
  fill($('p-exposure'), vocab.video_mode);
  const kelvins = [];
  const w = vocab.wb_custom;
  for (let k = w.min; k <= w.max; k += w.step) kelvins.push(String(k));
  fill($('p-wb-k'), kelvins, (k) => k + ' K');
  $('p-wb-k').value = '5600';
  const send = (id, cmd, what) => {
    const el = $(id);
    el.onchange = () => {
      const o = el.selectedOptions[0];
      // An option added to show a reported value is not one to send.
      if (el.value && !(o && o.dataset.extra)) command({cmd, param: el.value}, what + ' ' + o.textContent);
      el.blur();
    };
  };
  send('p-iso', 'iso', 'ISO');
  send('p-shutter', 'shutter', 'Shutter');
  send('p-aperture', 'aperture', 'Aperture');
  send('p-ev', 'ev', 'EV');
  send('p-exposure', 'video_mode', 'Exposure');
  $('p-wb').onchange = () => {
    const v = $('p-wb').value;
    $('wb-k-box').hidden = v !== 'custom';
    if (v === 'custom') command({cmd: 'wb', param: 'custom', value1: $('p-wb-k').value}, 'WB ' + $('p-wb-k').value + ' K');
    else if (v) command({cmd: 'wb', param: v}, 'WB ' + v);
  };
  $('p-wb-k').onchange = (e) => command({cmd: 'wb', param: 'custom', value1: e.target.value}, 'WB ' + e.target.value + ' K');
}

// Press and hold: the gimbal turns at the chosen speed until release.
// Up means the tilt reading grows, as the readout shows it.
// A stop that could not be delivered is owed, and sent again as soon as
// the page hears the daemon: the gimbal must not turn on unattended.
let moving = null;
let stopOwed = false;
let stopping = false;
async function sendStop() {
  stopOwed = true;
  if (stopping) return;
  stopping = true;
  const ok = await post('/api/command', {cmd: 'position', param: 'moverel', value1: '0', value2: '0'},
                        'Gimbal stop', true, true);
  stopping = false;
  if (ok) stopOwed = false;
}
function gimbalStop() {
  if (!moving) return;
  moving.classList.remove('held');
  moving = null;
  sendStop();
}
function gimbalPad() {
  for (const b of document.querySelectorAll('[data-move]')) {
    b.onpointerdown = (e) => {
      e.preventDefault();
      if (blocked(CAMERA)) return say('Gimbal not moved: ' + blocked(CAMERA), true);
      b.setPointerCapture(e.pointerId);
      moving = b;
      b.classList.add('held');
      const speed = Number($('p-speed').value);
      const [p, t] = b.dataset.move.split(',').map(Number);
      // The daemon's tilt speed runs against its tilt reading.
      command({cmd: 'position', param: 'moverel', value1: String(p * speed), value2: String(-t * speed)}, 'Gimbal move');
    };
    b.onpointerup = b.onpointercancel = b.onlostpointercapture = gimbalStop;
    b.oncontextmenu = (e) => e.preventDefault();
  }
  window.addEventListener('blur', gimbalStop);
  document.addEventListener('visibilitychange', gimbalStop);
  $('recentre').onclick = () => command({cmd: 'position', param: 'normal'}, 'Re-centre');
}

function ask(text) {
  const d = $('confirm');
  $('confirm-text').textContent = text;
  return new Promise((done) => {
    d.onclose = () => done(d.returnValue === 'yes');
    d.returnValue = '';
    d.showModal();
  });
}

function controls() {
  $('rec').onclick = () => {
    const stop = snap && snap.camera.recording;
    command({cmd: 'record', param: stop ? 'stop' : 'start'}, stop ? 'Stop' : 'Record');
  };
  $('shoot').onclick = () => command({cmd: 'shot'}, 'Shoot');
  $('m-photo').onclick = () => command({cmd: 'camera', param: 'mode', value1: 'photo'}, 'Photo mode');
  $('m-video').onclick = () => command({cmd: 'camera', param: 'mode', value1: 'video'}, 'Video mode');
  $('p-focus').onchange = (e) => command({cmd: 'focus', param: 'manual', value1: e.target.value}, 'Focus');
  for (const b of document.querySelectorAll('button[data-cmd]')) b.onclick = () => command(JSON.parse(b.dataset.cmd), b.textContent);
  gimbalPad();
  $('raw-send').onclick = () => {
    let o;
    try { o = JSON.parse($('raw').value); } catch (e) { return say('Not sent: not JSON', true); }
    command(o, 'Command', true);
  };
  $('restart').onclick = async () => {
    if (await ask('Restart the daemon? The camera link drops for a few seconds.')) command({cmd: 'restart'}, 'Restart', true);
  };
  $('reboot').onclick = async () => {
    if (await ask('Reboot the rig? Everything stops for about a minute, this page too.')) command({cmd: 'reboot'}, 'Reboot', true);
  };
}

// --- settings -----------------------------------------------------------
// Grouped as the daemon's report orders them. Each field: report key, the
// updateparam name, kind, label, then options (select) or the place in a
// pair (1, 2). Nothing is sent until the group's Apply.
const IFACES = [['0', 'none'], ['1', 'wifi0'], ['2', 'wlan0']];
const SETTINGS = [
  ['Camera and control', [
    ['camtype', 'camtype', 'select', 'Camera type', [['0', 'X3'], ['1', 'X5 / X5R'], ['2', 'auto detect']]],
    ['dmode', 'device_mode', 'select', 'Work as', [['0', 'Osmo'], ['1', 'Inspire']]],
    ['cmode', 'coop_mode', 'select', 'Flight controller', [['0', 'none'], ['1', 'cooperative']]],
    ['ctrl_en', 'ctrl_enabled', 'check', 'Camera control'],
  ]],
  ['RC input', [
    ['rcin_en', 'rcin_enabled', 'check', 'RC input'],
    ['rcin_mode', 'rcin_mode', 'text', 'RC 1 mode (pwm, ppm)', 1],
    ['rcin2_mode', 'rcin_mode', 'text', 'RC 2 mode (sbus, ppm)', 2],
    ['rcin_map', 'rcin_map', 'text', 'Channel map'],
    ['rcin_pan', 'rcin_pan', 'number', 'Pan speed'],
    ['rcin_tilt', 'rcin_tilt', 'number', 'Tilt speed'],
    ['rcin_dutch', 'rcin_dutch', 'number', 'Roll speed'],
    ['rcin_paninv', 'rcin_pan_inv', 'check', 'Invert pan'],
    ['rcin_tiltinv', 'rcin_tilt_inv', 'check', 'Invert tilt'],
    ['rcin_dutchinv', 'rcin_dutch_inv', 'check', 'Invert roll'],
    ['rcin_exp', 'rcin_exp', 'check', 'Exponential'],
    ['rcin_abs', 'rcin_abs', 'check', 'Absolute'],
  ]],
  ['Video and display', [
    ['v_dis', 'disable_video_stream', 'check', 'No video to viewers'],
    ['v_hf', 'video_hflip', 'check', 'Flip video horizontally'],
    ['v_vf', 'video_vflip', 'check', 'Flip video vertically'],
    ['v_f', 'video_fix', 'check', 'Video fix'],
    ['hdmistate', 'hdmi_enabled', 'check', 'HDMI output'],
    ['osdbrdw', 'osd_borders', 'number', 'OSD border width', 1],
    ['osdbrdh', 'osd_borders', 'number', 'OSD border height', 2],
    ['osdtof', 'osd_top_offset', 'number', 'OSD top offset'],
    ['osdbof', 'osd_bottom_offset', 'number', 'OSD bottom offset'],
    ['osd_en', 'osd_enabled', 'check', 'OSD'],
    ['hud_en', 'hud_enabled', 'check', 'HUD'],
    ['ic_en', 'internal_camera_enabled', 'check', 'Internal camera'],
    ['ic_fs', 'internal_camera_fullscreen', 'check', 'Internal camera full screen'],
    ['fa_en', 'fa_enabled', 'check', 'Focus assistant'],
  ]],
  ['Wi-Fi and access point', [
    ['ap_iface', 'wifi', 'select', 'Access point interface', IFACES],
    ['ap_ssid', 'wifi', 'text', 'Access point name'],
    ['ap_psk', 'wifi', 'password', 'Access point password'],
    ['ap_mode', 'wifi', 'select', 'Band', [['2', '2.4 GHz'], ['5', '5 GHz']]],
    ['ap_channel', 'wifi', 'number', 'Channel'],
    ['ap_country', 'wifi', 'text', 'Country'],
    ['lan_iface', 'wifi', 'select', 'Network interface', IFACES],
    ['lan_ssid', 'wifi', 'text', 'Network name'],
    ['lan_psk', 'wifi', 'password', 'Network password'],
  ]],
];
// What a change sets off, said before it is applied.
const CONSEQUENCE = {
  device_mode: 'the daemon restarts: the camera link drops for a few seconds',
  coop_mode: 'the daemon restarts: the camera link drops for a few seconds',
  ctrl_enabled: 'the daemon restarts: the camera link drops for a few seconds',
  camtype: 'the video receiver restarts',
  rcin_enabled: 'the RC receiver restarts', rcin_mode: 'the RC receiver restarts',
  rcin_map: 'the RC receiver restarts', rcin_exp: 'the RC receiver restarts',
  video_hflip: 'the display restarts', video_vflip: 'the display restarts',
  video_fix: 'the display restarts', osd_borders: 'the display and HUD restart',
  osd_top_offset: 'the HUD restarts', osd_bottom_offset: 'the HUD restarts',
  internal_camera_enabled: 'the Pi camera view restarts',
  internal_camera_fullscreen: 'the Pi camera view restarts',
  hdmi_enabled: 'the HDMI output switches',
  wifi: 'the Wi-Fi restarts: this page goes away for about 30 s',
};
// The wifi setting's values in order (value4 .. value12).
const WIFI_ORDER = ['lan_iface', 'lan_ssid', 'lan_psk', 'ap_iface', 'ap_ssid', 'ap_psk', 'ap_mode', 'ap_channel', 'ap_country'];
let settingsVersion = -1;
let report = null;

const field = (key) => $('s-' + key);
function fieldValue(el) { return el.type === 'checkbox' ? (el.checked ? '1' : '0') : el.value; }
function stored(el) {
  if (!report || report[el.dataset.key] === undefined) return undefined;
  const v = report[el.dataset.key];
  return el.type === 'checkbox' ? (Number(v) !== 0 ? '1' : '0') : String(v);
}
// A password is never shown: typing one is the change.
function changed(el) { return el.type === 'password' ? el.value !== '' : stored(el) !== undefined && fieldValue(el) !== stored(el); }

function setField(el) {
  const v = stored(el);
  if (el.type === 'password') { el.value = ''; return; }
  if (v === undefined) return;
  if (el.type === 'checkbox') { el.checked = v === '1'; return; }
  if (el.tagName === 'SELECT' && ![...el.options].some((o) => o.value === v)) {
    const o = document.createElement('option');
    o.value = v;
    o.textContent = v + ' (as stored)';
    el.append(o);
  }
  el.value = v;
}

function groupState(fs) {
  const fields = [...fs.querySelectorAll('[data-key]')];
  const dirty = fields.filter(changed);
  for (const el of fields) el.classList.toggle('changed', dirty.includes(el));
  fs.querySelector('.apply').disabled = dirty.length === 0;
  fs.querySelector('.undo').disabled = dirty.length === 0;
  return dirty;
}

async function applyGroup(fs) {
  const dirty = groupState(fs);
  const names = [...new Set(dirty.map((el) => el.dataset.name))];
  const effects = [...new Set(names.map((n) => CONSEQUENCE[n]).filter(Boolean))];
  const effect = effects.join('; ');
  if (effect && !(await ask('Apply? ' + effect[0].toUpperCase() + effect.slice(1) + '.'))) return;
  for (const name of names) {
    const els = [...fs.querySelectorAll('[data-name="' + name + '"]')];
    const o = {name};
    if (name === 'wifi') {
      WIFI_ORDER.forEach((k, i) => {
        const el = field(k);
        let v = fieldValue(el);
        if (k === 'ap_mode') v = v === '2' ? '2.4' : v;
        // An untyped password is left out: the stored one stays.
        if (el.type !== 'password' || v !== '') o['value' + (i + 4)] = v;
      });
    } else if (els.length === 2) {
      o.value = fieldValue(els[0]);
      o.value2 = fieldValue(els[1]);
    } else {
      o.value = fieldValue(els[0]);
    }
    const what = name === 'wifi' ? 'Wi-Fi settings' : els[0].closest('label').textContent.trim();
    if (!(await setting(o, what))) return;
  }
  for (const el of dirty) if (el.type === 'password') el.value = '';
  groupState(fs);
}

function buildSettings() {
  const box = $('settings-form');
  box.textContent = '';
  for (const [title, fields] of SETTINGS) {
    const fs = document.createElement('fieldset');
    const lg = document.createElement('legend');
    lg.textContent = title;
    fs.append(lg);
    for (const [key, name, kind, text, extra] of fields) {
      const label = document.createElement('label');
      let el;
      if (kind === 'select') {
        el = document.createElement('select');
        for (const [v, t] of extra) {
          const o = document.createElement('option');
          o.value = v; o.textContent = t;
          el.append(o);
        }
      } else {
        el = document.createElement('input');
        el.type = kind === 'check' ? 'checkbox' : kind;
        if (kind === 'number') el.inputMode = 'numeric';
        if (kind === 'password') { el.placeholder = 'unchanged'; el.autocomplete = 'new-password'; }
      }
      el.dataset.key = key;
      el.dataset.name = name;
      el.id = 's-' + key;
      el.oninput = el.onchange = () => groupState(fs);
      if (kind === 'check') label.className = 'check';
      label.append(kind === 'check' ? el : document.createTextNode(text));
      label.append(kind === 'check' ? document.createTextNode(text) : el);
      fs.append(label);
    }
    const row = document.createElement('div');
    row.className = 'row';
    const undo = document.createElement('button');
    undo.className = 'undo';
    undo.textContent = 'Undo';
    undo.onclick = () => { for (const el of fs.querySelectorAll('[data-key]')) setField(el); groupState(fs); };
    const apply = document.createElement('button');
    apply.className = 'apply';
    apply.textContent = 'Apply';
    apply.onclick = () => applyGroup(fs);
    row.append(undo, apply);
    fs.append(row);
    box.append(fs);
    groupState(fs);
  }
}

async function loadSettings() {
  try {
    const r = await fetch('/api/settings', {credentials: 'same-origin'});
    if (!r.ok) return;
    report = await r.json();
  } catch (e) { return; }
  $('settings-state').textContent = 'Daemon ' + (report.version || '?') + '. Changes wait for Apply.';
  for (const fs of document.querySelectorAll('#settings-form fieldset')) {
    for (const el of fs.querySelectorAll('[data-key]')) {
      // What the operator is editing stays as typed.
      if (document.activeElement !== el && !el.classList.contains('changed')) setField(el);
    }
    groupState(fs);
  }
}

// --- PIN and start ------------------------------------------------------

let waitTimer = 0;
function showLogin(why) {
  if (events) { events.close(); events = null; }
  clearTimeout(retryTimer);
  streamUp = false;
  gimbalStop();
  locked = true;
  $('app').hidden = true;
  $('bar').hidden = true;
  $('login').hidden = false;
  $('login-why').textContent = why || 'This console asks for a PIN.';
  $('status').textContent = 'PIN needed';
  $('status').className = 'pill warn';
  $('age').hidden = true;
  $('pin').value = '';
  $('pin').focus();
}

function pinError(text, waitMs) {
  const m = $('pin-msg');
  const go = $('pin-go');
  clearInterval(waitTimer);
  m.className = 'bad';
  m.hidden = false;
  $('pin').value = '';
  $('pin').focus();
  const until = Date.now() + (waitMs || 0);
  const tick = () => {
    const s = Math.ceil((until - Date.now()) / 1000);
    m.textContent = text + (s > 0 ? ': try again in ' + s + ' s' : '');
    go.disabled = s > 0;
    if (s <= 0) clearInterval(waitTimer);
  };
  tick();
  waitTimer = setInterval(tick, 250);
}

async function start() {
  refused = '';
  const auth = await askAuth();
  if (!auth) {
    paintStatus();
    retryTimer = setTimeout(start, 1000);
    return;
  }
  if (auth.pin && !auth.session) return showLogin();
  locked = false;
  $('login').hidden = true;
  $('pin-msg').hidden = true;
  $('app').hidden = false;
  $('bar').hidden = false;
  if (!vocab) {
    try {
      vocab = await fetch('/api/vocabulary', {credentials: 'same-origin'}).then((r) => r.json());
    } catch (e) {
      retryTimer = setTimeout(start, 1000);
      return;
    }
  }
  if (!started) {
    started = true;
    pickers();
    controls();
    buildSettings();
  }
  listen();
  loadSettings();
}

$('login').onsubmit = async (e) => {
  e.preventDefault();
  let r, j;
  try {
    r = await fetch('/api/login', {
      method: 'POST', credentials: 'same-origin',
      headers: {'Content-Type': 'application/json'}, body: JSON.stringify({pin: $('pin').value})});
    j = await r.json().catch(() => ({}));
  } catch (x) {
    return pinError('The console is not reachable');
  }
  if (r.ok) {
    $('pin').value = '';
    return start();
  }
  pinError(j.error || 'Refused (' + r.status + ')', j.retry_ms);
};

start();
