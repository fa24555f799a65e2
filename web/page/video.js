// The live picture in the console. GET /api/video is one endless fragmented
// MP4 stream (an init segment, then one fragment per frame from a key frame
// on); it goes into Media Source Extensions (ManagedMediaSource on iPhone
// Safari), which work on a plain-http LAN address where WebCodecs do not.
// The playhead is kept at the live edge; nothing is fetched while the page
// is hidden or the picture is tapped away.
(() => {
  'use strict';
  const LIVE_LAG = 0.3;   // s behind the newest frame that counts as live
  const JUMP_LAG = 1.0;   // s behind: jump to the edge instead of catching up
  const KEEP_BACK = 10;   // s of played picture kept in the buffer
  const BOX_MAX = 16 << 20;

  const MS = window.ManagedMediaSource || window.MediaSource;
  let slot = document.getElementById('video-slot');
  if (!slot) {
    slot = document.createElement('div');
    slot.id = 'video-slot';
    const header = document.querySelector('header');
    if (header) header.after(slot); else document.body.prepend(slot);
  }
  slot.innerHTML = '<div class="vid-box"><video id="video" muted playsinline autoplay ' +
    'disableremoteplayback></video><p class="vid-msg" role="status">connecting to the video…</p>' +
    '<small class="vid-info"></small></div><button type="button" class="vid-show" hidden>' +
    'Show the picture</button>';
  const box = slot.querySelector('.vid-box');
  const video = slot.querySelector('video');
  const msg = slot.querySelector('.vid-msg');
  const info = slot.querySelector('.vid-info');
  const showBtn = slot.querySelector('.vid-show');
  video.disableRemotePlayback = true;  // ManagedMediaSource needs it (or an AirPlay source)

  let run = null;          // the running connection, or null
  let hiddenByTap = localStorage.getItem('pqw-video-hidden') === '1';
  let retryTimer = 0;
  let lastFrames = 0, lastFramesAt = performance.now(), framesSeenAt = 0;
  let damagedAt = -1e9, damagedRun = 0;

  function say(text) {
    msg.textContent = text;
    msg.hidden = !text;
  }

  function u32(b, i) { return ((b[i] << 24) | (b[i + 1] << 16) | (b[i + 2] << 8) | b[i + 3]) >>> 0; }
  function type(b, i) { return String.fromCharCode(b[i + 4], b[i + 5], b[i + 6], b[i + 7]); }

  // The codecs string from the avcC of an init segment: avc1.PPCCLL.
  function codecOf(init) {
    for (let i = 0; i + 12 < init.length; i++) {
      if (init[i] === 0x61 && init[i + 1] === 0x76 && init[i + 2] === 0x63 && init[i + 3] === 0x43) {
        const h = (x) => x.toString(16).padStart(2, '0');
        return 'avc1.' + h(init[i + 5]) + h(init[i + 6]) + h(init[i + 7]);
      }
    }
    return 'avc1.42E01E';
  }

  function stop() {
    if (!run) return;
    const r = run;
    run = null;
    r.abort.abort();
    clearInterval(r.timer);
    try { if (r.ms.readyState === 'open') r.ms.endOfStream(); } catch (e) { /* closing anyway */ }
    video.removeAttribute('src');
    video.srcObject = null;
    video.load();
    URL.revokeObjectURL(r.url);
  }

  function retry(ms, text) {
    // What the browser said, for whoever debugs (and the tests).
    if (video.error) slot.dataset.error = video.error.code + ' ' + (video.error.message || '');
    stop();
    if (text) say(text);
    clearTimeout(retryTimer);
    retryTimer = setTimeout(start, ms);
  }

  // A frame the decoder refuses (a datagram lost before the daemon leaves a
  // hole the byte stream cannot show) ends the element's pipeline: start
  // again at once, at the next key frame; back off if it keeps happening.
  function damaged() {
    if (!run) return;
    const now = performance.now();
    damagedRun = now - damagedAt < 10000 ? damagedRun + 1 : 1;
    damagedAt = now;
    retry(Math.min(150 * damagedRun, 3000), 'picture damaged; it comes back at the next key frame');
  }

  function start() {
    clearTimeout(retryTimer);
    if (run || document.hidden || hiddenByTap) return;
    if (!MS) {
      say('this browser cannot show the live picture (no Media Source Extensions)');
      return;
    }
    const ms = new MS();
    const r = {ms, abort: new AbortController(), sb: null, pending: [], bytes: new Uint8Array(0),
               init: null, codec: '', url: URL.createObjectURL(ms), timer: 0};
    run = r;
    video.src = r.url;
    ms.addEventListener('sourceopen', () => { if (run === r) fetchStream(r); }, {once: true});
    r.timer = setInterval(() => keepLive(r), 250);
  }

  async function fetchStream(r) {
    let resp;
    try {
      resp = await fetch('/api/video', {credentials: 'same-origin', cache: 'no-store', signal: r.abort.signal});
    } catch (e) {
      if (run === r) retry(2000, 'no connection to the console');
      return;
    }
    if (!resp.ok) {
      const j = await resp.json().catch(() => ({}));
      const why = resp.status === 401 ? 'unlock with the PIN to see the picture'
        : resp.status === 503 ? (j.error || 'too many watching the video')
        : (j.error || 'no video (' + resp.status + ')');
      if (run === r) retry(resp.status === 503 ? 5000 : 3000, why);
      return;
    }
    say('waiting for the picture…');
    const reader = resp.body.getReader();
    for (;;) {
      let part;
      try {
        part = await reader.read();
      } catch (e) {
        break;
      }
      if (part.done || run !== r) break;
      if (!take(r, part.value)) return;
    }
    if (run === r) retry(1000, 'the video stream ended; reconnecting');
  }

  // Cuts the byte stream into whole top-level boxes; an init segment
  // (ftyp+moov) or a fragment (moof+mdat) is appended in one piece.
  function take(r, chunk) {
    const b = new Uint8Array(r.bytes.length + chunk.length);
    b.set(r.bytes);
    b.set(chunk, r.bytes.length);
    let at = 0, groupStart = 0;
    while (b.length - at >= 8) {
      const size = u32(b, at), t = type(b, at);
      if (size < 8 || size > BOX_MAX) {
        retry(1000, 'the video stream is damaged; reconnecting');
        return false;
      }
      if (b.length - at < size) break;
      at += size;
      if ((t === 'free' || t === 'skip') && at - size === groupStart) {
        groupStart = at;  // the server's keep-alive while no video comes
      } else if (t === 'moov' || t === 'mdat') {
        const seg = b.subarray(groupStart, at);
        if (t === 'moov') newInit(r, seg);
        r.pending.push(seg);
        groupStart = at;
      }
    }
    r.bytes = b.slice(groupStart);
    pump(r);
    return true;
  }

  function newInit(r, init) {
    const codec = codecOf(init);
    try {
      if (!r.sb) {
        r.sb = r.ms.addSourceBuffer('video/mp4; codecs="' + codec + '"');
        // Frames follow one another whatever their time stamps: a new init
        // segment or a skip to the next key frame leaves no gap.
        r.sb.mode = 'sequence';
        r.sb.addEventListener('updateend', () => pump(r));
        r.sb.addEventListener('error', damaged);
      } else if (codec !== r.codec && r.sb.changeType) {
        r.pending.push({changeType: 'video/mp4; codecs="' + codec + '"'});
      }
      r.codec = codec;
    } catch (e) {
      slot.dataset.error = String(e);
      retry(5000, 'this browser cannot show this video (' + codec + ')');
    }
  }

  function pump(r) {
    if (run !== r || !r.sb || r.sb.updating || !r.pending.length) return;
    const next = r.pending.shift();
    try {
      if (next.changeType) {
        r.sb.changeType(next.changeType);
        return pump(r);
      }
      r.sb.appendBuffer(next);
    } catch (e) {
      if (e.name === 'QuotaExceededError') {
        // Full: drop what was played and try again.
        r.pending.unshift(next);
        trim(r, 1);
      } else {
        slot.dataset.error = String(e);
        retry(1000, 'the picture could not be shown; reconnecting');
      }
    }
  }

  function trim(r, keep) {
    const sb = r.sb;
    if (!sb || sb.updating || !sb.buffered.length) return;
    const from = sb.buffered.start(0), to = video.currentTime - keep;
    if (to - from > 1) sb.remove(from, to);
  }

  function keepLive(r) {
    if (run !== r) return;
    const buf = video.buffered;
    if (r.sb && buf.length) {
      const end = buf.end(buf.length - 1);
      const lag = end - video.currentTime;
      if (lag > JUMP_LAG || video.currentTime < buf.start(0)) {
        video.currentTime = Math.max(buf.start(buf.length - 1), end - 0.1);
      }
      // A little faster while behind, so the picture catches up smoothly
      // and stays well inside LIVE_LAG.
      video.playbackRate = lag > LIVE_LAG ? 1.25 : lag > LIVE_LAG / 2 ? 1.05 : 1.0;
      if (video.paused) video.play().catch(() => {});
      if (video.currentTime - buf.start(0) > KEEP_BACK * 2) trim(r, KEEP_BACK);
    }
    const now = performance.now();
    if (now - lastFramesAt >= 1000) {
      const q = video.getVideoPlaybackQuality ? video.getVideoPlaybackQuality() : null;
      const frames = q ? q.totalVideoFrames - q.droppedVideoFrames : 0;
      const fps = (frames - lastFrames) * 1000 / (now - lastFramesAt);
      if (frames > lastFrames) framesSeenAt = now;
      lastFrames = frames;
      lastFramesAt = now;
      if (video.videoWidth && now - framesSeenAt < 2000) {
        info.textContent = video.videoWidth + '×' + video.videoHeight + ' · ' + Math.round(fps) + ' fps';
        say('');
      } else {
        info.textContent = '';
        explain();
      }
    }
  }

  // Why there is no picture, in the daemon's words.
  async function explain() {
    const s = await fetch('/api/status', {credentials: 'same-origin', cache: 'no-store'})
      .then((x) => x.ok ? x.json() : null).catch(() => null);
    if (!run || (video.videoWidth && performance.now() - framesSeenAt < 2000)) return;
    if (!s) return say('no connection to the console');
    if (!s.daemon || !s.daemon.reachable) return say('no video: the daemon is not reachable');
    const v = s.video;
    say(v && v.message ? v.message
      : framesSeenAt ? 'picture interrupted; it comes back at the next key frame' : 'waiting for the picture…');
  }

  function setHidden(h) {
    hiddenByTap = h;
    localStorage.setItem('pqw-video-hidden', h ? '1' : '0');
    box.hidden = h;
    showBtn.hidden = !h;
    if (h) stop(); else start();
  }

  box.addEventListener('click', () => setHidden(true));
  showBtn.addEventListener('click', () => setHidden(false));
  document.addEventListener('visibilitychange', () => {
    // Hidden: stop fetching at once. Visible again: a new stream, which
    // starts at the next key frame.
    if (document.hidden) stop(); else start();
  });
  video.addEventListener('error', damaged);
  setHidden(hiddenByTap);
})();
