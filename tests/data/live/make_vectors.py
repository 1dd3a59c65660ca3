#!/usr/bin/env python3
"""Makes the live-view test vectors with ffmpeg (and checks them with ffprobe).

Writes, next to this script:
  h264_640x360_25fps.h264         4 s of H.264 (Annex B byte stream, Main profile, 640x360, 25 fps,
                                  a fixed group of 25 frames, no B-frames, 800 kbit/s) made by
                                  libx264 from ffmpeg's testsrc2 pattern
  h264_640x360_25fps.packets.csv  the packet list "ffprobe -show_packets" reports for it:
                                  one line per access unit, "size,flags" ("K_" for a key frame)
  h264_640x360_25fps.facts        key=value facts: width, height, fps, gop, frames, bit rate
                                  (kbit/s), file size, and the tool versions
  tone_8k.s16                     the audio source: 4.04 s (64 x 505 samples) of tones, a sweep
                                  and noise, 8000 Hz mono, signed 16-bit little-endian
  tone_8k.alaw, tone_8k.ulaw      the source coded by ffmpeg's pcm_alaw and pcm_mulaw encoders
  tone_8k_alaw_ref.s16,           what ffmpeg's pcm_alaw and pcm_mulaw decoders make of them
  tone_8k_ulaw_ref.s16            (G.711 decoding is exact: these are the expected samples)
  tone_8k.ima                     the source coded by ffmpeg's adpcm_ima_wav encoder with 256-byte
                                  blocks (505 samples each): the raw blocks of the WAVE data chunk
  tone_8k_ima_ref.s16             those blocks decoded with the IMA/DVI reference computation
                                  (each part of a step's difference truncated on its own), by the
                                  Python decoder below; tests/media checks that spandsp and our
                                  decoder give exactly these samples
  audio.facts                     key=value facts about the audio files, with how far ffmpeg's own
                                  adpcm_ima_wav decoder lies from the reference samples (it
                                  truncates a step's difference once and so drifts; see
                                  docs/codecs.md)

Tests and the simulator read only these files; ffmpeg is needed only to run this script again.
Usage: python3 tests/data/live/make_vectors.py
"""
import math
import os
import random
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

VIDEO = "h264_640x360_25fps"
WIDTH, HEIGHT, FPS, GOP, SECONDS, KBPS = 640, 360, 25, 25, 4, 800

RATE = 8000
BLOCK_ALIGN = 256
SAMPLES_PER_BLOCK = (BLOCK_ALIGN - 4) * 2 + 1  # 505
BLOCKS = 64
SAMPLES = BLOCKS * SAMPLES_PER_BLOCK  # 32320, 4.04 s

STEPS = [7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60, 66, 73, 80, 88,
         97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371, 408, 449, 494, 544, 598, 658, 724,
         796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660, 4026,
         4428, 4871, 5358, 5894, 6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500,
         20350, 22385, 24623, 27086, 29794, 32767]
INDEX_MOVE = [-1, -1, -1, -1, 2, 4, 6, 8]


def run(args, **kw):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kw).stdout


def tool_version(tool):
    return run([tool, "-version"]).splitlines()[0]


def make_video():
    path = os.path.join(HERE, VIDEO + ".h264")
    run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=%dx%d:rate=%d" % (WIDTH, HEIGHT, FPS),
         "-t", str(SECONDS), "-an", "-c:v", "libx264", "-preset", "veryfast", "-threads", "1", "-profile:v", "main",
         "-pix_fmt", "yuv420p",
         "-x264-params", "keyint=%d:min-keyint=%d:scenecut=0:bframes=0:rc-lookahead=0" % (GOP, GOP),
         "-b:v", "%dk" % KBPS, "-maxrate", "%dk" % KBPS, "-bufsize", "%dk" % KBPS, "-f", "h264", path])
    packets = run(["ffprobe", "-v", "error", "-show_packets", "-show_entries", "packet=size,flags", "-of", "csv=p=0",
                   path])
    rows = [line.split(",") for line in packets.split()]
    size = os.path.getsize(path)
    assert sum(int(r[0]) for r in rows) == size, "the access units cover the file"
    keys = [i for i, r in enumerate(rows) if r[1].startswith("K")]
    assert len(rows) == FPS * SECONDS and keys == list(range(0, len(rows), GOP)), keys
    stream = run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_name,profile,width,height,r_frame_rate",
                  "-of", "default=noprint_wrappers=1", path])
    with open(os.path.join(HERE, VIDEO + ".packets.csv"), "w") as f:
        f.write(packets)
    with open(os.path.join(HERE, VIDEO + ".facts"), "w") as f:
        f.write("# ffprobe stream facts:\n")
        for line in stream.split():
            f.write("# %s\n" % line)
        f.write("width=%d\nheight=%d\nfps=%d\ngop=%d\nframes=%d\nkey_frames=%d\nbit_rate_kbps=%d\nfile_size=%d\n"
                % (WIDTH, HEIGHT, FPS, GOP, len(rows), len(keys), KBPS, size))
        f.write("encoder=%s\nprobe=%s\n" % (tool_version("ffmpeg"), tool_version("ffprobe")))


def audio_source():
    rng = random.Random(20261211)
    out = []
    for i in range(SAMPLES):
        t = i / RATE
        v = 5000 * math.sin(2 * math.pi * 440 * t) + 2500 * math.sin(2 * math.pi * 1250 * t)
        v += 7000 * math.sin(2 * math.pi * (100 + 900 * t) * t)  # a sweep
        v += rng.gauss(0, 800)
        v *= 0.5 + 0.5 * math.sin(2 * math.pi * 0.5 * t) ** 2  # slow swell, quiet parts included
        out.append(max(-32768, min(32767, int(round(v)))))
    return struct.pack("<%dh" % len(out), *out)


def data_chunk(wav):
    pos = 12
    while pos + 8 <= len(wav):
        cid, size = struct.unpack_from("<4sI", wav, pos)
        if cid == b"data":
            return wav[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    raise ValueError("no data chunk")


def ima_reference_decode(blocks):
    """The IMA/DVI reference decoding of 256-byte blocks: head (first sample, step index, 0), then
    the codes, earlier sample in the low nibble; each part of the difference truncated."""
    out = []
    for b in range(0, len(blocks), BLOCK_ALIGN):
        block = blocks[b:b + BLOCK_ALIGN]
        pred, index = struct.unpack_from("<hB", block, 0)
        index = min(index, 88)
        out.append(pred)
        for byte in block[4:]:
            for code in (byte & 15, byte >> 4):
                step, m = STEPS[index], code & 7
                diff = (step >> 3) + (step if m & 4 else 0) + (step >> 1 if m & 2 else 0) + (step >> 2 if m & 1 else 0)
                pred = max(-32768, min(32767, pred - diff if code & 8 else pred + diff))
                index = max(0, min(88, index + INDEX_MOVE[m]))
                out.append(pred)
    return struct.pack("<%dh" % len(out), *out)


def make_audio():
    src = os.path.join(HERE, "tone_8k.s16")
    with open(src, "wb") as f:
        f.write(audio_source())
    pcm_in = ["-f", "s16le", "-ar", str(RATE), "-ac", "1", "-i", src]
    facts = ["source_samples=%d" % SAMPLES, "sample_rate=%d" % RATE, "channels=1"]
    for law, fmt in (("alaw", "alaw"), ("ulaw", "mulaw")):
        coded = os.path.join(HERE, "tone_8k.%s" % law)
        ref = os.path.join(HERE, "tone_8k_%s_ref.s16" % law)
        run(["ffmpeg", "-v", "error", "-y"] + pcm_in + ["-c:a", "pcm_" + fmt, "-f", fmt, coded])
        run(["ffmpeg", "-v", "error", "-y", "-f", fmt, "-ar", str(RATE), "-ac", "1", "-i", coded,
             "-c:a", "pcm_s16le", "-f", "s16le", ref])
        assert os.path.getsize(coded) == SAMPLES and os.path.getsize(ref) == 2 * SAMPLES
        facts.append("%s_bytes=%d" % (law, SAMPLES))
    with tempfile.TemporaryDirectory() as work:
        wav = os.path.join(work, "ima.wav")
        run(["ffmpeg", "-v", "error", "-y"] + pcm_in + ["-c:a", "adpcm_ima_wav", "-block_size", str(BLOCK_ALIGN), wav])
        blocks = data_chunk(open(wav, "rb").read())
        ffmpeg_pcm = os.path.join(work, "ffmpeg.s16")
        run(["ffmpeg", "-v", "error", "-y", "-i", wav, "-c:a", "pcm_s16le", "-f", "s16le", ffmpeg_pcm])
        ffmpeg_samples = open(ffmpeg_pcm, "rb").read()
    assert len(blocks) == BLOCKS * BLOCK_ALIGN, len(blocks)
    with open(os.path.join(HERE, "tone_8k.ima"), "wb") as f:
        f.write(blocks)
    ref = ima_reference_decode(blocks)
    with open(os.path.join(HERE, "tone_8k_ima_ref.s16"), "wb") as f:
        f.write(ref)
    n = len(ref) // 2
    a = struct.unpack("<%dh" % n, ref)
    b = struct.unpack("<%dh" % (len(ffmpeg_samples) // 2), ffmpeg_samples)[:n]
    differ = sum(1 for x, y in zip(a, b) if x != y)
    worst = max(abs(x - y) for x, y in zip(a, b))
    facts += ["ima_blocks=%d" % BLOCKS, "ima_block_align=%d" % BLOCK_ALIGN,
              "ima_samples_per_block=%d" % SAMPLES_PER_BLOCK,
              "ima_ffmpeg_decoder_differs=%d of %d samples, by %d at most" % (differ, n, worst),
              "encoder=%s" % tool_version("ffmpeg")]
    with open(os.path.join(HERE, "audio.facts"), "w") as f:
        f.write("\n".join(facts) + "\n")


def main():
    make_video()
    make_audio()


if __name__ == "__main__":
    main()
