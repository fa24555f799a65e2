'use strict';
// The console page: live state from /api/events, controls through
// /api/command, settings through /api/settings. Only this host is asked.
const $ = (id) => document.getElementById(id);
let snap = null;
let vocab = null;
let events = null;

function say(text, bad) {
  const m = $('msg');
  m.textContent = text;
  m.className = bad ? 'bad' : '';
}

async function post(url, body) {
  try {
    const r = await fetch(url, {
      method: 'POST', credentials: 'same-origin',
      headers: {'Content-Type': 'application/json'}, body: JSON.stringify(body)});
    const j = await r.json().catch(() => ({}));
    if (r.status === 401) return showLogin();
    if (!r.ok) say(j.error || ('error ' + r.status), true);
    else say('sent ' + (body.cmd || body.name || ''));
    return r.ok;
  } catch (e) {
    say('console not reachable', true);
    return false;
  }
}
const command = (o) => post('/api/command', o);
const setting = (o) => post('/api/settings', o);

function fill(select, values, current) {
  select.textContent = '';
  const none = document.createElement('option');
  none.value = ''; none.textContent = '-';
  select.append(none);
  for (const v of values) {
    const o = document.createElement('option');
    o.value = o.textContent = v;
    select.append(o);
  }
  if (current !== undefined) select.value = current;
}

function show(id, text) { $(id).textContent = text === null || text === undefined ? '-' : text; }

function mmss(s) { return Math.floor(s / 60) + ':' + String(s % 60).padStart(2, '0'); }

// A picker shows the camera's value unless the operator is using it.
function reflect(id, value) {
  const el = $(id);
  if (document.activeElement === el || value === null || value === undefined) return;
  el.value = String(value);
}

function render(s) {
  snap = s;
  const st = $('status');
  st.textContent = s.link.status;
  st.className = 'pill ' + (s.link.connected ? 'ok' : s.daemon.reachable ? 'warn' : 'bad');
  const c = s.camera;
  const rs = $('rec-state');
  rs.textContent = c.recording ? 'REC ' + mmss(c.record_seconds) : c.known ? c.mode : '-';
  rs.className = 'pill ' + (c.recording ? 'bad' : '');
  const rec = $('rec');
  rec.textContent = c.recording ? 'Stop' : 'Record';
  rec.classList.toggle('on', c.recording);
  show('v-mode', c.known ? c.mode : null);
  show('v-iso', c.iso);
  show('v-shutter', c.shutter === null ? null : /s$/.test(c.shutter) ? c.shutter : '1/' + c.shutter);
  show('v-aperture', c.aperture === null ? null : 'f/' + c.aperture);
  show('v-ev', c.ev === null ? null : (c.ev > 0 ? '+' : '') + c.ev.toFixed(1));
  show('v-wb', c.wb === 'custom' ? c.wb_kelvin + ' K' : c.wb);
  show('v-focus', s.focus.known ? s.focus.percent + ' %' : null);
  show('v-zoom', s.zoom + ' %');
  const g = s.gimbal;
  show('v-gimbal', g.known ? [g.pan, g.tilt, g.dutch].map((x) => x.toFixed(1)).join(' / ') : null);
  show('v-viewers', s.viewers);
  show('v-video', s.link.video ? 'yes' : 'no');
  show('v-rig', s.link.device_mode || '-');
  show('v-file', c.newest_file);
  const h = $('v-health');
  h.hidden = !s.health;
  if (s.health) h.textContent = 'Health ' + JSON.stringify(s.health, null, 1);
  reflect('p-iso', c.iso);
  reflect('p-shutter', c.shutter);
  reflect('p-aperture', c.aperture);
  reflect('p-ev', c.ev === null ? null : c.ev.toFixed(1));
  reflect('p-wb', c.wb);
  if (s.settings_version !== settingsVersion) {
    settingsVersion = s.settings_version;
    loadSettings();
  }
}

function listen() {
  if (events) events.close();
  events = new EventSource('/api/events');
  events.onmessage = (e) => { try { render(JSON.parse(e.data)); } catch (x) { /* torn line */ } };
  events.onerror = () => {
    const st = $('status');
    st.textContent = 'console not reachable';
    st.className = 'pill bad';
  };
}

// --- controls -----------------------------------------------------------

function pickers() {
  fill($('p-iso'), vocab.iso);
  fill($('p-shutter'), vocab.shutter);
  fill($('p-ev'), vocab.ev);
  fill($('p-wb'), vocab.wb.concat(['custom']));
  fill($('p-video-mode'), vocab.video_mode);
  const k = $('p-wb-k');
  k.min = vocab.wb_custom.min; k.max = vocab.wb_custom.max; k.step = vocab.wb_custom.step;
  k.value = 5600;
  for (const id of ['p-iso', 'p-shutter', 'p-ev', 'p-video-mode']) {
    const el = $(id);
    el.onchange = () => { if (el.value) command({cmd: el.dataset.cmd, param: el.value}); el.blur(); };
  }
  $('p-wb').onchange = () => {
    const v = $('p-wb').value;
    $('wb-k-box').hidden = v !== 'custom';
    if (v === 'custom') command({cmd: 'wb', param: 'custom', value1: String($('p-wb-k').value)});
    else if (v) command({cmd: 'wb', param: v});
  };
  k.onchange = () => command({cmd: 'wb', param: 'custom', value1: String(k.value)});
}

function controls() {
  $('rec').onclick = () => command({cmd: 'record', param: snap && snap.camera.recording ? 'stop' : 'start'});
  $('shoot').onclick = () => command({cmd: 'shot'});
  $('p-aperture').onchange = (e) => command({cmd: 'aperture', param: e.target.value});
  $('p-cammode').onchange = (e) => { if (e.target.value) command({cmd: 'camera', param: 'mode', value1: e.target.value}); };
  $('p-focus').onchange = (e) => command({cmd: 'focus', param: 'manual', value1: e.target.value});
  $('recentre').onclick = () => command({cmd: 'position', param: 'normal'});
  for (const b of document.querySelectorAll('[data-nudge]')) {
    b.onclick = async () => {
      const [p, t] = b.dataset.nudge.split(',').map((x) => String(Number(x) * 30));
      await command({cmd: 'position', param: 'moverel', value1: p, value2: t});
      setTimeout(() => command({cmd: 'position', param: 'moverel', value1: '0', value2: '0'}), 400);
    };
  }
  for (const b of document.querySelectorAll('button[data-cmd]')) b.onclick = () => command(JSON.parse(b.dataset.cmd));
  $('raw-send').onclick = () => {
    let o;
    try { o = JSON.parse($('raw').value); } catch (e) { return say('not JSON', true); }
    command(o);
  };
  $('restart').onclick = () => { if (confirm('Restart the daemon? The camera link drops for a moment.')) command({cmd: 'restart'}); };
  $('reboot').onclick = () => { if (confirm('Reboot the rig? Everything stops for about a minute.')) command({cmd: 'reboot'}); };
}

// --- settings -----------------------------------------------------------
// Each field: report key, the updateparam name, kind; pairs send value and
// value2 together. "restart" settings make the daemon start again.
const SETTINGS = [
  ['Wi-Fi and access point', [
    ['lan_iface', 'wifi', 'select', 'Network interface', [['0', 'none'], ['1', 'wifi0'], ['2', 'wlan0']]],
    ['lan_ssid', 'wifi', 'text', 'Network name'],
    ['lan_psk', 'wifi', 'password', 'Network password'],
    ['ap_iface', 'wifi', 'select', 'Access point interface', [['0', 'none'], ['1', 'wifi0'], ['2', 'wlan0']]],
    ['ap_ssid', 'wifi', 'text', 'Access point name'],
    ['ap_psk', 'wifi', 'password', 'Access point password'],
    ['ap_mode', 'wifi', 'select', 'Band', [['2', '2.4 GHz'], ['5', '5 GHz']]],
    ['ap_channel', 'wifi', 'number', 'Channel'],
    ['ap_country', 'wifi', 'text', 'Country'],
  ]],
  ['Display and OSD', [
    ['osd_en', 'osd_enabled', 'check', 'OSD'],
    ['hud_en', 'hud_enabled', 'check', 'HUD'],
    ['fa_en', 'fa_enabled', 'check', 'Focus assistant'],
    ['ic_en', 'internal_camera_enabled', 'check', 'Internal camera'],
    ['ic_fs', 'internal_camera_fullscreen', 'check', 'Internal camera full screen'],
    ['v_dis', 'disable_video_stream', 'check', 'No video to viewers'],
    ['v_hf', 'video_hflip', 'check', 'Flip video horizontally'],
    ['v_vf', 'video_vflip', 'check', 'Flip video vertically'],
    ['v_f', 'video_fix', 'check', 'Video fix'],
    ['osdbrdw', 'osd_borders', 'number', 'OSD border width', 1],
    ['osdbrdh', 'osd_borders', 'number', 'OSD border height', 2],
    ['osdtof', 'osd_top_offset', 'number', 'OSD top offset'],
    ['osdbof', 'osd_bottom_offset', 'number', 'OSD bottom offset'],
  ]],
  ['RC input', [
    ['rcin_en', 'rcin_enabled', 'check', 'RC input'],
    ['rcin_mode', 'rcin_mode', 'text', 'RC 1 mode', 1],
    ['rcin2_mode', 'rcin_mode', 'text', 'RC 2 mode', 2],
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
  ['Camera', [
    ['camtype', 'camtype', 'select', 'Camera type', [['0', 'X3'], ['1', 'X5 / X5R'], ['2', 'auto detect']]],
    ['dmode', 'device_mode', 'select', 'Work as (restarts)', [['0', 'Osmo'], ['1', 'Inspire']]],
    ['cmode', 'coop_mode', 'number', 'Cooperative mode (restarts)'],
    ['ctrl_en', 'ctrl_enabled', 'check', 'Control (restarts)'],
  ]],
  ['HDMI', [
    ['hdmistate', 'hdmi_enabled', 'check', 'HDMI output'],
  ]],
];
const RESTARTS = new Set(['device_mode', 'coop_mode', 'ctrl_enabled']);
const WIFI_ORDER = ['lan_iface', 'lan_ssid', 'lan_psk', 'ap_iface', 'ap_ssid', 'ap_psk', 'ap_mode', 'ap_channel', 'ap_country'];
let settingsVersion = -1;
let report = null;

function fieldValue(key) {
  const el = document.querySelector('[data-key="' + key + '"]');
  if (!el) return '';
  return el.type === 'checkbox' ? (el.checked ? '1' : '0') : el.value;
}

function sendField(name, key, pair) {
  if (RESTARTS.has(name) && !confirm('This setting restarts the daemon. Go on?')) return loadSettings();
  if (name === 'wifi') {
    const o = {name: 'wifi'};
    WIFI_ORDER.forEach((k, i) => {
      let v = fieldValue(k);
      if (k === 'ap_mode') v = v === '2' ? '2.4' : v;
      // Passwords come to the page as ""; one left empty is not sent, and
      // pqw-web keeps the saved one.
      if (k.endsWith('_psk') && v === '') return;
      o['value' + (i + 4)] = v;
    });
    return setting(o);
  }
  if (pair) {
    const keys = [...document.querySelectorAll('[data-name="' + name + '"]')].map((e) => e.dataset.key);
    return setting({name, value: fieldValue(keys[0]), value2: fieldValue(keys[1])});
  }
  return setting({name, value: fieldValue(key)});
}

function buildSettings() {
  const box = $('settings-form');
  box.textContent = '';
  for (const [title, fields] of SETTINGS) {
    const fs = document.createElement('fieldset');
    const lg = document.createElement('legend');
    lg.textContent = title;
    fs.append(lg);
    for (const [key, name, kind, text, extra, extra2] of fields) {
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
      }
      el.dataset.key = key;
      el.dataset.name = name;
      el.id = 's-' + key;
      const pair = typeof (kind === 'select' ? extra2 : extra) === 'number';
      el.onchange = () => sendField(name, key, pair);
      if (kind === 'check') label.className = 'check';
      label.append(kind === 'check' ? el : document.createTextNode(text));
      label.append(kind === 'check' ? document.createTextNode(text) : el);
      fs.append(label);
    }
    box.append(fs);
  }
}

async function loadSettings() {
  try {
    const r = await fetch('/api/settings', {credentials: 'same-origin'});
    if (!r.ok) return;
    report = await r.json();
  } catch (e) { return; }
  $('settings-state').textContent = 'version ' + (report.version || '?');
  for (const el of document.querySelectorAll('[data-key]')) {
    if (document.activeElement === el) continue;
    const v = report[el.dataset.key];
    if (v === undefined) continue;
    if (el.type === 'checkbox') el.checked = Number(v) !== 0;
    else el.value = String(v);
  }
}

// --- start --------------------------------------------------------------

function showLogin() {
  $('app').hidden = true;
  $('login').hidden = false;
  $('status').textContent = 'PIN needed';
}

async function start() {
  const auth = await fetch('/api/auth', {credentials: 'same-origin'}).then((r) => r.json()).catch(() => null);
  if (auth && auth.pin && !auth.session) return showLogin();
  $('login').hidden = true;
  $('app').hidden = false;
  vocab = await fetch('/api/vocabulary', {credentials: 'same-origin'}).then((r) => r.json());
  pickers();
  controls();
  buildSettings();
  listen();
  loadSettings();
}

$('login').onsubmit = async (e) => {
  e.preventDefault();
  const r = await fetch('/api/login', {
    method: 'POST', credentials: 'same-origin',
    headers: {'Content-Type': 'application/json'}, body: JSON.stringify({pin: $('pin').value})});
  const j = await r.json().catch(() => ({}));
  if (r.ok) start();
  else $('pin-msg').textContent = (j.error || 'refused') + (j.retry_ms ? ', try again in ' + Math.ceil(j.retry_ms / 1000) + ' s' : '');
};

start();
