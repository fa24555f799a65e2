#!/usr/bin/python3
"""A camera's video producer for tests and benchmarks: makes an H.264 test
stream with Debian's ffmpeg (moving pattern, a key frame every 2 s, the frame
number as a 16-bit stripe of white blocks along the top), and sends a byte
stream to a UDP port at its real rate, cut into datagrams of at most 1400
bytes with no regard for NAL boundaries, optionally losing a share of them
for a while.

  web_video_send.py make OUT.h264 [WxH:SECONDS ...]
  web_video_send.py send FILE HOST PORT [--fps 30] [--loss 0.05 --loss-from S --loss-to S]
                    [--log FILE] [--loop] [--seconds S]
"""
import os
import random
import shutil
import socket
import subprocess
import sys
import time

STRIPE_BITS = 16


def ffmpeg_present():
    return shutil.which("ffmpeg") is not None


def make(out, parts, fps=30, bitrate=None):
    """Concatenated Annex B parts, each its own size (a new SPS at each);
    with bitrate ("8M"), at that constant rate (filler data included)."""
    if os.path.exists(out):
        return out
    tmp = out + ".tmp"
    with open(tmp, "wb") as all_parts:
        first = 0
        for i, (size, seconds) in enumerate(parts):
            w, h = (int(x) for x in size.split("x"))
            block = max(4, w // (STRIPE_BITS + 2))
            # One white block per set bit of the frame number (from the start
            # of the whole stream), on a black bar.
            boxes = ["drawbox=x=0:y=0:w=%d:h=%d:color=black:t=fill" % (w, block + 4)]
            for bit in range(STRIPE_BITS):
                boxes.append("drawbox=x=%d:y=2:w=%d:h=%d:color=white:t=fill:enable='eq(mod(floor((n+%d)/%d),2),1)'"
                             % (2 + bit * block, block - 2, block, first, 1 << bit))
            part = "%s.%d.h264" % (out, i)
            subprocess.run(
                ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                 "-i", "testsrc2=size=%s:rate=%d" % (size, fps), "-t", str(seconds),
                 "-vf", ",".join(boxes), "-c:v", "libx264", "-profile:v", "baseline",
                 "-pix_fmt", "yuv420p", "-g", str(2 * fps), "-keyint_min", str(2 * fps),
                 "-sc_threshold", "0"] +
                (["-x264-params", "repeat-headers=1:nal-hrd=cbr", "-b:v", bitrate, "-minrate", bitrate,
                  "-maxrate", bitrate, "-bufsize", bitrate] if bitrate else
                 ["-x264-params", "repeat-headers=1", "-b:v", "2M"]) +
                ["-f", "h264", part], check=True)
            with open(part, "rb") as f:
                all_parts.write(f.read())
            os.unlink(part)
            first += seconds * fps
    os.replace(tmp, out)
    return out


def frames_of(data):
    """Byte offsets where each access unit ends (same rule as the receiver)."""
    starts = []
    i = data.find(b"\x00\x00\x01")
    while i >= 0:
        starts.append(i + 3)
        i = data.find(b"\x00\x00\x01", i + 3)
    ends = []
    vcl = False
    for s in starts:
        t = data[s] & 0x1F
        begins = t in (6, 7, 8, 9) or (t in (1, 5) and data[s + 1] & 0x80)
        if vcl and begins:
            cut = s - 3
            while cut > 0 and data[cut - 1] == 0:
                cut -= 1
            ends.append(cut)
            vcl = False
        if t in (1, 5):
            vcl = True
    ends.append(len(data))
    return ends


def send(path, host, port, fps=30.0, loss=0.0, loss_from=0.0, loss_to=0.0, log=None, loop=False,
         seconds=0.0, mtu=1400, rate=0.0):
    data = open(path, "rb").read()
    ends = frames_of(data)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
    rng = random.Random(20)
    logf = open(log, "w") if log else None
    t0 = time.monotonic()
    frame = 0
    sent = lost = 0
    while True:
        at = 0
        for end in ends:
            due = t0 + frame / fps
            now = time.monotonic()
            if due > now:
                time.sleep(due - now)
            elapsed = time.monotonic() - t0
            if seconds and elapsed >= seconds:
                return sent, lost
            # Datagrams of varying size, so that start codes fall anywhere.
            while at < end:
                n = min(end - at, rng.randint(mtu - 400, mtu))
                if loss and loss_from <= elapsed < loss_to and rng.random() < loss:
                    lost += 1
                else:
                    sock.sendto(data[at:at + n], (host, port))
                    sent += 1
                at += n
            if logf:
                # The frame's place in the file (its stripe number) and when
                # its last datagram went.
                logf.write("%d %.6f\n" % (frame % len(ends), time.time()))
                logf.flush()
            frame += 1
        if not loop:
            return sent, lost


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "make":
        parts = [(p.split(":")[0], int(p.split(":")[1])) for p in sys.argv[3:]] or [("640x360", 10)]
        make(sys.argv[2], parts)
        return
    if len(sys.argv) >= 5 and sys.argv[1] == "send":
        opts = {}
        args = sys.argv[5:]
        for k, v in zip(args[::2], args[1::2]):
            opts[k.lstrip("-").replace("-", "_")] = v
        sent, lost = send(sys.argv[2], sys.argv[3], int(sys.argv[4]), fps=float(opts.get("fps", 30)),
                          loss=float(opts.get("loss", 0)), loss_from=float(opts.get("loss_from", 0)),
                          loss_to=float(opts.get("loss_to", 0)), log=opts.get("log"),
                          loop=opts.get("loop") == "1", seconds=float(opts.get("seconds", 0)))
        print("sent %d datagrams, lost %d on purpose" % (sent, lost))
        return
    sys.stderr.write(__doc__)
    sys.exit(2)


if __name__ == "__main__":
    main()
