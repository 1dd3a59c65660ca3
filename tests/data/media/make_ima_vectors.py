#!/usr/bin/env python3
"""Makes the IMA ADPCM block decoder's reference vectors with ffmpeg.

Writes, next to this script:
  ima_blocks.wav         44 mono IMA ADPCM blocks of 505 samples (WAVE format 0x11, block
                         align 256): 16 blocks that ffmpeg's own encoder made from a synthetic
                         signal (tones, a sweep, noise and a clipped burst), 16 blocks of random
                         codes under random heads, 4 blocks that drive the decoder into both
                         clipping limits and the table's ends, then 8 "exact" blocks whose codes
                         are only 0, 4, 8 and 12 (see below).
  ima_blocks_ffmpeg.s16  what ffmpeg's adpcm_ima_wav decoder makes of ima_blocks.wav
                         (signed 16-bit little-endian, 505 samples per block).
  ima_blocks_facts.txt   the stream and packet facts ffprobe reports about ima_blocks.wav, and
                         how ffmpeg's samples relate to the two ways of computing a step.

Why the exact blocks: the IMA reference computes a step's quantised difference as
step/8 + step*b2 + step/2*b1 + step/4*b0, truncating each term; ffmpeg's adpcm_ima_wav decoder
computes ((2*m + 1) * step) / 8 for the 3-bit magnitude m, truncating once. The two agree for
every step when m is 0 or 4 and differ by up to 2 otherwise (for steps that are not multiples
of 8), and the difference accumulates in the prediction. On blocks made only of the codes 0,
4, 8 and 12 the two must agree sample for sample, so those blocks check the block framing
(head, nibble order, sign, index movement and clamping, clipping) against ffmpeg exactly.

The tests read only these files; ffmpeg is needed only to run this script again.
Usage: python3 tests/data/media/make_ima_vectors.py
"""
import math
import os
import random
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 8000
BLOCK_ALIGN = 256
SAMPLES_PER_BLOCK = (BLOCK_ALIGN - 4) * 2 + 1  # 505


def synthetic_signal(count, rng):
    out = []
    for i in range(count):
        t = i / RATE
        v = 6000 * math.sin(2 * math.pi * 440 * t) + 3000 * math.sin(2 * math.pi * 1250 * t)
        v += 9000 * math.sin(2 * math.pi * (100 + 1800 * t) * t)  # a sweep
        v += rng.gauss(0, 1500)
        if 3000 <= i < 4200:  # a loud burst that clips at both limits
            v *= 6
        out.append(max(-32768, min(32767, int(round(v)))))
    return out


def encode_with_ffmpeg(samples, workdir):
    raw = os.path.join(workdir, "signal.s16")
    wav = os.path.join(workdir, "ffmpeg_ima.wav")
    with open(raw, "wb") as f:
        f.write(struct.pack("<%dh" % len(samples), *samples))
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "s16le", "-ar", str(RATE), "-ac", "1", "-i", raw,
                    "-c:a", "adpcm_ima_wav", "-block_size", str(BLOCK_ALIGN), wav], check=True)
    return data_chunk(open(wav, "rb").read())


def data_chunk(wav):
    pos = 12
    while pos + 8 <= len(wav):
        cid, size = struct.unpack_from("<4sI", wav, pos)
        if cid == b"data":
            return wav[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    raise ValueError("no data chunk")


def random_blocks(count, rng):
    blocks = []
    for _ in range(count):
        head = struct.pack("<hBB", rng.randint(-32768, 32767), rng.randint(0, 88), 0)
        blocks.append(head + bytes(rng.randrange(256) for _ in range(BLOCK_ALIGN - 4)))
    return blocks


def edge_blocks():
    return [
        struct.pack("<hBB", 30000, 88, 0) + bytes([0x77]) * (BLOCK_ALIGN - 4),   # up into +32767
        struct.pack("<hBB", -30000, 88, 0) + bytes([0xFF]) * (BLOCK_ALIGN - 4),  # down into -32768
        struct.pack("<hBB", 0, 0, 0) + bytes([0x00]) * (BLOCK_ALIGN - 4),        # index stays at 0
        struct.pack("<hBB", -32768, 88, 0) + bytes([0x7F, 0xF7]) * ((BLOCK_ALIGN - 4) // 2),
    ]


def exact_blocks(count, rng):
    """Blocks whose codes are only 0, 4, 8 and 12; the first two climb into the clipping limits."""
    blocks = [
        struct.pack("<hBB", 20000, 60, 0) + bytes([0x44]) * (BLOCK_ALIGN - 4),
        struct.pack("<hBB", -20000, 60, 0) + bytes([0xCC]) * (BLOCK_ALIGN - 4),
    ]
    codes = [0x0, 0x4, 0x8, 0xC]
    for _ in range(count - 2):
        head = struct.pack("<hBB", rng.randint(-32768, 32767), rng.randint(0, 88), 0)
        blocks.append(head + bytes(rng.choice(codes) | rng.choice(codes) << 4 for _ in range(BLOCK_ALIGN - 4)))
    return blocks


STEPS = [7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60, 66, 73, 80, 88,
         97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371, 408, 449, 494, 544, 598, 658, 724,
         796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660, 4026,
         4428, 4871, 5358, 5894, 6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500,
         20350, 22385, 24623, 27086, 29794, 32767]
INDEX_MOVE = [-1, -1, -1, -1, 2, 4, 6, 8]


def model_decode(block, single_truncation):
    """Decodes one block with either way of computing the step's difference (for the facts file)."""
    pred, index = struct.unpack_from("<hB", block, 0)
    out = [pred]
    for byte in block[4:]:
        for code in (byte & 15, byte >> 4):
            step, m = STEPS[index], code & 7
            if single_truncation:
                diff = ((2 * m + 1) * step) >> 3
            else:
                diff = (step >> 3) + (step if m & 4 else 0) + (step >> 1 if m & 2 else 0) + (step >> 2 if m & 1 else 0)
            pred = max(-32768, min(32767, pred - diff if code & 8 else pred + diff))
            index = max(0, min(88, index + INDEX_MOVE[m]))
            out.append(pred)
    return out


def compare_models(blocks, ffmpeg_samples):
    lines = []
    for name, first, last in (("general blocks 0-35", 0, 36), ("exact blocks 36-43", 36, 44)):
        for label, single in (("reference (truncated parts)", False), ("single truncation", True)):
            differing, worst = 0, 0
            for b in range(first, last):
                model = model_decode(blocks[b], single)
                ref = ffmpeg_samples[b * SAMPLES_PER_BLOCK:(b + 1) * SAMPLES_PER_BLOCK]
                for x, y in zip(model, ref):
                    if x != y:
                        differing += 1
                        worst = max(worst, abs(x - y))
            total = (last - first) * SAMPLES_PER_BLOCK
            lines.append("%s, %s: %d of %d samples differ from ffmpeg (largest difference %d)\n"
                         % (name, label, differing, total, worst))
    return "".join(lines)


def wav_ima(blocks):
    data = b"".join(blocks)
    samples = len(blocks) * SAMPLES_PER_BLOCK
    fmt = struct.pack("<HHIIHHHH", 0x11, 1, RATE, RATE * BLOCK_ALIGN // SAMPLES_PER_BLOCK, BLOCK_ALIGN, 4, 2,
                      SAMPLES_PER_BLOCK)
    fact = struct.pack("<I", samples)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"fact" + struct.pack("<I", len(fact)) + fact +
            b"data" + struct.pack("<I", len(data)) + data)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    rng = random.Random(20261211)
    with tempfile.TemporaryDirectory() as work:
        encoded = encode_with_ffmpeg(synthetic_signal(16 * SAMPLES_PER_BLOCK, rng), work)
    blocks = [encoded[i:i + BLOCK_ALIGN] for i in range(0, 16 * BLOCK_ALIGN, BLOCK_ALIGN)]
    blocks += random_blocks(16, rng) + edge_blocks() + exact_blocks(8, rng)
    assert all(len(b) == BLOCK_ALIGN for b in blocks)

    wav_path = os.path.join(HERE, "ima_blocks.wav")
    pcm_path = os.path.join(HERE, "ima_blocks_ffmpeg.s16")
    with open(wav_path, "wb") as f:
        f.write(wav_ima(blocks))
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", wav_path, "-f", "s16le", "-c:a", "pcm_s16le", pcm_path],
                   check=True)
    pcm_len = os.path.getsize(pcm_path)
    assert pcm_len == len(blocks) * SAMPLES_PER_BLOCK * 2, pcm_len

    with open(pcm_path, "rb") as f:
        pcm = f.read()
    ffmpeg_samples = struct.unpack("<%dh" % (len(pcm) // 2), pcm)
    version = subprocess.run(["ffmpeg", "-version"], capture_output=True, text=True, check=True).stdout.splitlines()[0]
    stream = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                             "stream=codec_name,codec_tag_string,sample_rate,channels,bits_per_sample,block_align,"
                             "duration_ts", "-of", "default=noprint_wrappers=1", wav_path],
                            capture_output=True, text=True, check=True).stdout
    packets = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "packet=pts,duration,size", "-of", "csv=p=0",
                              wav_path], capture_output=True, text=True, check=True).stdout
    with open(os.path.join(HERE, "ima_blocks_facts.txt"), "w") as f:
        f.write("Reference tool: %s\n" % version)
        f.write("Decoded with: ffmpeg -i ima_blocks.wav -f s16le -c:a pcm_s16le ima_blocks_ffmpeg.s16\n")
        f.write("Blocks: 0-15 from ffmpeg's adpcm_ima_wav encoder (-block_size 256), 16-31 random codes, "
                "32-35 clipping/edge, 36-43 exact (codes 0, 4, 8, 12 only)\n")
        f.write("Decoded samples: %d (%d bytes)\n\n" % (pcm_len // 2, pcm_len))
        f.write("ffprobe stream:\n" + stream + "\n")
        f.write("ffprobe packets (pts,duration,size):\n" + packets + "\n")
        f.write("ffmpeg's samples against the two ways of computing a step's difference:\n")
        f.write(compare_models(blocks, ffmpeg_samples))


if __name__ == "__main__":
    main()
