// The monitor's web page: log in, watch the live picture and the level, browse the events,
// switch monitoring and the mode. Talks only to /api/ of the same server.
'use strict';

const ja = (navigator.language || '').toLowerCase().startsWith('ja');
const TEXT = {
  password: ['Password', 'パスワード'], login: ['Log in', 'ログイン'],
  logout: ['Log out', 'ログアウト'], level: ['Motion level', '動体検知'],
  sensitivity: ['sensitivity', '感度'], events: ['Events', 'イベント'], close: ['Close', '閉じる'],
  on: ['Monitoring ON', '監視中'], off: ['Monitoring OFF', '監視停止'],
  wrong: ['Wrong password', 'パスワードが違います'],
  wait: ['Too many tries: wait %s s', '試行が多すぎます：%s 秒お待ちください'],
  mode: ['Mode', 'モード'], gone: ['(deleted)', '（削除済み）'],
  warning: ['warning', '警告'], mailFailed: ['mail failed', 'メール失敗'],
  noEvents: ['No events', 'イベントはありません'],
};
const t = (key) => TEXT[key][ja ? 1 : 0];
const $ = (id) => document.getElementById(id);

let csrf = '';
let status = null;
let liveTimer = 0, statusTimer = 0;
let liveUrl = '';
let pictures = [];  // the current day's events with a picture, in list order
let shown = -1;

document.documentElement.lang = ja ? 'ja' : 'en';
for (const el of document.querySelectorAll('[data-t]')) el.textContent = t(el.dataset.t);

async function api(path, options = {}) {
  const r = await fetch(path, { credentials: 'same-origin', ...options });
  if (r.status === 401 && path !== '/api/login') { showLogin(); throw new Error('login'); }
  return r;
}

async function post(path, fields) {
  return api(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/x-www-form-urlencoded', 'X-CSRF-Token': csrf },
    body: new URLSearchParams(fields),
  });
}

function showLogin() {
  clearInterval(liveTimer); clearInterval(statusTimer);
  liveTimer = statusTimer = 0;
  $('room').hidden = true; $('logout').hidden = true; $('viewer').hidden = true;
  $('login').hidden = false; $('password').focus();
}

function showRoom() {
  $('login').hidden = true; $('room').hidden = false; $('logout').hidden = false;
  if (!statusTimer) statusTimer = setInterval(refreshStatus, 1000);
  if (!liveTimer) liveTimer = setInterval(refreshLive, 200);  // 5 pictures a second
  // The events' thumbnails after the live picture: they would hold up its connection.
  refreshLive().then(() => loadEvents(''));
}

$('login').addEventListener('submit', async (e) => {
  e.preventDefault();
  const r = await api('/api/login', {
    method: 'POST', headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
    body: new URLSearchParams({ password: $('password').value }),
  });
  $('password').value = '';
  if (r.ok) {
    csrf = (await r.json()).csrf;
    $('login-error').textContent = '';
    await refreshStatus();
    showRoom();
  } else if (r.status === 429) {
    $('login-error').textContent = t('wait').replace('%s', r.headers.get('Retry-After') || '?');
  } else {
    $('login-error').textContent = t('wrong');
  }
});

$('logout').addEventListener('click', async () => {
  await post('/api/logout', {}).catch(() => {});
  showLogin();
});

let liveBusy = false;
async function refreshLive() {
  if (liveBusy || document.hidden) return;  // a slow phone gets fewer pictures, never a queue
  liveBusy = true;
  try {
    const r = await api('/api/snapshot.jpg');
    if (r.ok) {
      const url = URL.createObjectURL(await r.blob());
      $('live').src = url;
      if (liveUrl) URL.revokeObjectURL(liveUrl);
      liveUrl = url;
    }
  } catch (e) { /* shown by the next status */ }
  liveBusy = false;
}

async function refreshStatus() {
  const r = await api('/api/status');
  if (!r.ok) return;
  status = await r.json();
  csrf = status.csrf;
  const m = $('monitoring');
  m.textContent = t(status.monitoring ? 'on' : 'off');
  m.setAttribute('aria-pressed', status.monitoring ? 'true' : 'false');
  for (const b of document.querySelectorAll('.mode')) {
    const on = Number(b.dataset.mode) === status.mode;
    b.classList.toggle('on', on);
    b.setAttribute('aria-pressed', on ? 'true' : 'false');
    b.title = t('mode') + ' ' + b.dataset.mode;
  }
  $('level').textContent = status.level;
  $('sensitivity').textContent = status.sensitivity;
  $('camera').textContent = status.camera;
  drawGraph(status.levels, status.sensitivity);
}

function drawGraph(levels, sensitivity) {
  const c = $('graph');
  const g = c.getContext('2d');
  const w = c.width, h = c.height;
  g.clearRect(0, 0, w, h);
  const top = Math.max(sensitivity * 1.5, ...levels, 1);
  const y = (v) => h - 2 - (v / top) * (h - 4);
  g.strokeStyle = '#e33'; g.setLineDash([6, 4]); g.beginPath();
  g.moveTo(0, y(sensitivity)); g.lineTo(w, y(sensitivity)); g.stroke();
  g.setLineDash([]); g.strokeStyle = '#3c8'; g.beginPath();
  levels.forEach((v, i) => {
    const x = levels.length > 1 ? (i / (levels.length - 1)) * w : 0;
    if (i) g.lineTo(x, y(v)); else g.moveTo(x, y(v));
  });
  g.stroke();
}

$('monitoring').addEventListener('click', async () => {
  if (!status) return;
  await post('/api/monitoring', { on: status.monitoring ? '0' : '1' });
  await refreshStatus();
});

for (const b of document.querySelectorAll('.mode')) {
  b.addEventListener('click', async () => {
    await post('/api/mode', { mode: b.dataset.mode });
    await refreshStatus();
  });
}

async function loadEvents(day) {
  const r = await api('/api/events' + (day ? '?day=' + encodeURIComponent(day) : ''));
  if (!r.ok) return;
  const data = await r.json();
  const days = $('days');
  days.replaceChildren(...data.days.map((d) => new Option(d, d, false, d === data.day)));
  const list = $('events');
  pictures = [];
  const items = data.events.map((e) => {
    const li = document.createElement('li');
    li.className = e.kind + (e.warning ? ' warning' : '') + (e.mailFailed ? ' mail-failed' : '');
    if (e.picture) {
      const img = document.createElement('img');
      img.loading = 'lazy';
      img.src = e.picture;
      img.alt = e.text;
      const index = pictures.length;
      pictures.push(e);
      img.addEventListener('click', () => openViewer(index));
      li.append(img);
    }
    const caption = document.createElement('div');
    let text = e.time + ' ' + (e.kind === 'mail' ? e.text : '');
    if (e.warning) text += ' ⚠ ' + t('warning');
    if (e.mailFailed) text += ' ✉✗ ' + t('mailFailed');
    caption.textContent = text;
    if (e.kind !== 'mail' && !e.picture) {
      const gone = document.createElement('span');
      gone.className = 'gone';
      gone.textContent = ' ' + e.text + ' ' + t('gone');
      caption.append(gone);
    }
    li.append(caption);
    return li;
  });
  if (!items.length) {
    const li = document.createElement('li');
    li.textContent = t('noEvents');
    items.push(li);
  }
  list.replaceChildren(...items);
}

$('days').addEventListener('change', () => loadEvents($('days').value));

function openViewer(index) {
  if (index < 0 || index >= pictures.length) return;
  shown = index;
  $('viewer-img').src = pictures[index].picture;
  $('viewer-text').textContent = pictures[index].time + ' ' + pictures[index].text;
  $('prev').disabled = index === 0;
  $('next').disabled = index === pictures.length - 1;
  $('viewer').hidden = false;
}
$('prev').addEventListener('click', () => openViewer(shown - 1));
$('next').addEventListener('click', () => openViewer(shown + 1));
$('close').addEventListener('click', () => { $('viewer').hidden = true; });
document.addEventListener('keydown', (e) => {
  if ($('viewer').hidden) return;
  if (e.key === 'ArrowLeft') openViewer(shown - 1);
  else if (e.key === 'ArrowRight') openViewer(shown + 1);
  else if (e.key === 'Escape') $('viewer').hidden = true;
});

// A session cookie from an earlier visit lets the page in without the password (the page itself
// asks for the first live picture, while this script still loads).
refreshStatus().then(() => { if (status) showRoom(); }).catch(() => {});
