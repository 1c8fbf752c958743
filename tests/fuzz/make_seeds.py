#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Seed corpora of the fuzz targets, made from the generated test discs (tests/fixtures/gen_disc.py)
and the sample disc, so that nothing large is checked in.

    make_seeds.py --discs DIR --veld PATH --out DIR [--sample DIR]

DIR/<variant>/BDMV are the generated discs; PATH is a built `veld`, used to extract pictures and to
rebuild a menu, whose rebuilt IG stream and stream-information cache become seeds too. OUT/<target>/
receives one file per seed, named by its SHA-1. Inputs are cut to small sizes: clip streams keep their
PSI, PCR and a few packets of each stream, and of each IG stream only the segments of small objects
(whole PES packets are left out, so the stream stays well formed)."""

import argparse
import glob
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

TARGETS = ("clpi", "mpls", "index", "movie_object", "nav_cmd", "segment_file", "composition", "rle",
           "picture", "ts_packet", "psi", "demux", "raw_track", "stream_info_cache", "disc",
           "playlist_adjust")

SOURCE_PACKET = 192
BIG_OBJECT = 2048        # ODS segments with more body bytes than this are left out of cut streams
OTHER_PACKETS = 8        # packets kept of each stream that is not IG
PSI_PACKETS = 6          # packets kept of each of PAT, SIT, PMT and PCR


class Seeds:
    def __init__(self, out):
        self.out = out
        self.count = {t: 0 for t in TARGETS}
        for t in TARGETS:
            os.makedirs(os.path.join(out, t), exist_ok=True)

    def add(self, target, data):
        if not data:
            return
        name = hashlib.sha1(data).hexdigest()
        path = os.path.join(self.out, target, name)
        if not os.path.exists(path):
            with open(path, "wb") as f:
                f.write(data)
            self.count[target] += 1


def read(path):
    with open(path, "rb") as f:
        return f.read()


# ---- segment files ---------------------------------------------------------------------------------

def segments(data):
    """(offset, type, length) of each framed segment; stops at the first that does not fit."""
    out, p = [], 0
    while p + 13 <= len(data):
        seg_type, length = data[p + 10], struct.unpack(">H", data[p + 11:p + 13])[0]
        if p + 13 + length > len(data):
            break
        out.append((p, seg_type, length))
        p += 13 + length
    return out


def display_sets(data):
    """The framed segments of each display set (lists of (offset, type, length))."""
    sets, current = [], []
    for seg in segments(data):
        current.append(seg)
        if seg[1] == 0x80:
            sets.append(current)
            current = []
    return sets


def small_stream(data, max_sets):
    """The first display sets of a segment file without their large objects."""
    out = bytearray()
    for ds in display_sets(data)[:max_sets]:
        for p, seg_type, length in ds:
            if seg_type == 0x15 and length > BIG_OBJECT:
                continue
            out += data[p:p + 13 + length]
    return bytes(out)


def compositions_and_objects(data):
    """Joined ICS fragments and joined object data of every display set."""
    comps, objects = [], []
    for ds in display_sets(data):
        ics = b"".join(data[p + 13 + 9:p + 13 + length] for p, t, length in ds if t == 0x18)
        if ics:
            comps.append(ics)
        by_id = {}
        for p, t, length in ds:
            if t == 0x15 and length > 4:
                body = data[p + 13:p + 13 + length]
                by_id.setdefault(struct.unpack(">H", body[0:2])[0], bytearray()).extend(body[4:])
        objects += [bytes(v) for v in by_id.values() if len(v) <= 65536]
    return comps, objects


# ---- clip streams -------------------------------------------------------------------------------------

def pes_segment(ts):
    """(segment type, length) of the segment that starts the PES packet in a 188-byte packet."""
    p = 4
    if (ts[3] >> 4) & 2:
        p += 1 + ts[4]
    if p + 9 > 188 or ts[p:p + 3] != b"\x00\x00\x01":
        return None
    p += 9 + ts[p + 8]
    if p + 3 > 188:
        return None
    return ts[p], struct.unpack(">H", ts[p + 1:p + 3])[0]


def cut_clip(data, max_sets):
    """A small clip stream: PSI and PCR packets, a few packets of each stream, and of each IG stream the
    PES packets of its first display sets without the large objects."""
    kept, counts, ends, skipping = [], {}, {}, {}
    for i in range(len(data) // SOURCE_PACKET):
        pkt = data[i * SOURCE_PACKET:(i + 1) * SOURCE_PACKET]
        ts = pkt[4:]
        if ts[0] != 0x47:
            continue
        pid = ((ts[1] & 0x1F) << 8) | ts[2]
        start = bool(ts[1] & 0x40)
        if 0x1400 <= pid <= 0x141F:
            if ends.get(pid, 0) >= max_sets:
                continue
            if start:
                seg = pes_segment(ts)
                skipping[pid] = seg is not None and seg[0] == 0x15 and seg[1] > BIG_OBJECT
                if seg is not None and seg[0] == 0x80:
                    ends[pid] = ends.get(pid, 0) + 1
            if not skipping.get(pid):
                kept.append(pkt)
            continue
        limit = PSI_PACKETS if pid in (0x0000, 0x001F, 0x0100, 0x1001) else OTHER_PACKETS
        if counts.get(pid, 0) < limit:
            counts[pid] = counts.get(pid, 0) + 1
            kept.append(pkt)
    return b"".join(kept)


def packet_samples(data):
    """One packet of each kind (PID, payload unit start, adaptation field control) of a clip."""
    seen, out = set(), []
    for i in range(len(data) // SOURCE_PACKET):
        ts = data[i * SOURCE_PACKET + 4:(i + 1) * SOURCE_PACKET]
        key = (((ts[1] & 0x1F) << 8) | ts[2], ts[1] & 0x40, (ts[3] >> 4) & 3)
        if key not in seen:
            seen.add(key)
            out.append(ts)
    return out


def psi_sections(data):
    """The first PAT, SIT and PMT sections of a clip (a PMT may span packets)."""
    found, pending = {}, {}
    for i in range(len(data) // SOURCE_PACKET):
        ts = data[i * SOURCE_PACKET + 4:(i + 1) * SOURCE_PACKET]
        pid = ((ts[1] & 0x1F) << 8) | ts[2]
        if pid not in (0x0000, 0x001F, 0x0100) or pid in found:
            continue
        p = 4 + (1 + ts[4] if (ts[3] >> 4) & 2 else 0)
        if ts[1] & 0x40:
            p += 1 + ts[p]
            pending[pid] = bytearray(ts[p:])
        elif pid in pending:
            pending[pid] += ts[p:]
        else:
            continue
        sec = pending[pid]
        if len(sec) >= 3:
            need = 3 + (((sec[1] & 0x0F) << 8) | sec[2])
            if len(sec) >= need:
                found[pid] = bytes(sec[:need])
    return list(found.values())


# ---- navigation ------------------------------------------------------------------------------------------

def movie_object_commands(data):
    """Every 12-byte command of a movie-object file."""
    out = []
    if len(data) < 50:
        return out
    p = 40 + 4 + 4
    count = struct.unpack(">H", data[p:p + 2])[0]
    p += 2
    for _ in range(count):
        if p + 4 > len(data):
            break
        n = struct.unpack(">H", data[p + 2:p + 4])[0]
        p += 4
        for _ in range(n):
            if p + 12 <= len(data):
                out.append(data[p:p + 12])
            p += 12
    return out


# ---- pictures ------------------------------------------------------------------------------------------

def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def indexed_png(width, height, depth, colours, alpha):
    """An indexed PNG of stripes: each row uses the next colour."""
    per_byte = 8 // depth
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        value = y % colours
        line = bytearray()
        for x in range(0, width, per_byte):
            b = 0
            for k in range(per_byte):
                b = (b << depth) | ((value + (x + k) // 3) % colours)
            line.append(b)
        rows += line
    plte = bytes(c for i in range(colours) for c in ((i * 37) & 255, (i * 91) & 255, (i * 53) & 255))
    out = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, 3, 0, 0, 0))
    out += png_chunk(b"PLTE", plte)
    if alpha:
        out += png_chunk(b"tRNS", bytes(0 if i == 0 else 255 for i in range(colours)))
    out += png_chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + png_chunk(b"IEND", b"")
    return out


# ---- whole discs ---------------------------------------------------------------------------------------

def bundle(files):
    out = bytearray()
    for name, data in files:
        raw = name.encode()
        out += bytes([len(raw)]) + raw + struct.pack(">I", len(data)) + data
    return bytes(out)


def disc_files(bdmv, max_sets):
    """The files of a BDMV folder for a bundle: navigation files, playlists, clip information (and their
    BACKUP copies) and cut clip streams."""
    files = []
    for rel in ("index.bdmv", "MovieObject.bdmv"):
        if os.path.exists(os.path.join(bdmv, rel)):
            files.append((rel, read(os.path.join(bdmv, rel))))
    for folder in ("PLAYLIST", "CLIPINF", "BACKUP/PLAYLIST", "BACKUP/CLIPINF"):
        for path in sorted(glob.glob(os.path.join(bdmv, folder, "*"))):
            files.append((folder + "/" + os.path.basename(path), read(path)))
    for path in sorted(glob.glob(os.path.join(bdmv, "STREAM", "*.m2ts"))):
        files.append(("STREAM/" + os.path.basename(path), cut_clip(read(path), max_sets)))
    return files


def tail(rebuilt_mask, kept_mask, offset, length, start_45k, flags):
    return struct.pack(">BBiIIBB", rebuilt_mask, kept_mask, offset, length, start_45k, flags, 0)


# ---- veld ----------------------------------------------------------------------------------------------

def run_veld(veld, args):
    env = dict(os.environ, LC_ALL="C.UTF-8", ASAN_OPTIONS="detect_leaks=0")
    return subprocess.run([veld] + args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, env=env, check=False)


def veld_outputs(veld, disc_root, scratch):
    """Pictures of an extraction, and the rebuilt IG streams and their caches of a replacement in which
    one picture was edited."""
    work_parent = os.path.join(scratch, os.path.basename(disc_root))
    os.makedirs(work_parent, exist_ok=True)
    r = run_veld(veld, ["extract", os.path.join(disc_root, "BDMV"), work_parent, "--yes", "--quiet"])
    if r.returncode != 0:
        sys.exit("make_seeds: veld extract failed on %s:\n%s" % (disc_root, r.stderr.decode(errors="replace")))
    work = os.path.join(work_parent, "VELD")
    pictures = sorted(glob.glob(os.path.join(work, "Images", "**", "*.gif"), recursive=True))
    # An edit is found by its pixels: a picture rolled by a few pixels (ImageMagick) keeps its colours and
    # changes unless it is one colour all over; the next picture is tried then.
    for picture in pictures[:8]:
        edit = subprocess.run(["convert", picture, "-roll", "+3+2", picture], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=False)
        if edit.returncode != 0:
            sys.exit("make_seeds: convert failed on %s:\n%s" % (picture, edit.stderr.decode(errors="replace")))
        r = run_veld(veld, ["replace", os.path.join(disc_root, "BDMV"), work, "--no-copy-back", "--quiet"])
        if r.returncode != 0:
            sys.exit("make_seeds: veld replace failed on %s:\n%s" % (disc_root, r.stderr.decode(errors="replace")))
        if glob.glob(os.path.join(work, "Igs", "*.ig")):
            break
    igs = sorted(glob.glob(os.path.join(work, "Igs", "*.ig")))
    caches = sorted(glob.glob(os.path.join(work, "Igs", "*.rsif")))
    return pictures, igs, caches


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--discs", required=True, help="folder of the generated discs (one per variant)")
    ap.add_argument("--veld", required=True, help="a built veld binary")
    ap.add_argument("--out", required=True, help="seed folder (one sub-folder per target)")
    ap.add_argument("--sample", help="the sample disc (examples/sample-disc)")
    args = ap.parse_args()

    roots = sorted(d for d in glob.glob(os.path.join(args.discs, "*")) if os.path.isdir(os.path.join(d, "BDMV")))
    if args.sample and os.path.isdir(os.path.join(args.sample, "BDMV")):
        roots.append(args.sample)
    if not roots:
        sys.exit("make_seeds: no disc in %s" % args.discs)
    seeds = Seeds(args.out)
    scratch = tempfile.mkdtemp(prefix="veld-seeds-")
    try:
        for root in roots:
            bdmv = os.path.join(root, "BDMV")
            seeds.add("index", read(os.path.join(bdmv, "index.bdmv")))
            mobj = read(os.path.join(bdmv, "MovieObject.bdmv"))
            seeds.add("movie_object", mobj)
            commands = movie_object_commands(mobj)
            seeds.add("nav_cmd", b"".join(commands))
            for c in commands[:8]:
                seeds.add("nav_cmd", c)
            for path in sorted(glob.glob(os.path.join(bdmv, "CLIPINF", "*.clpi"))):
                seeds.add("clpi", read(path))
            for path in sorted(glob.glob(os.path.join(bdmv, "PLAYLIST", "*.mpls"))):
                mpls = read(path)
                seeds.add("mpls", mpls)
                seeds.add("playlist_adjust", mpls + tail(0xFF, 0xFF, 108000000, 270000, 63000, 0x10))
                seeds.add("playlist_adjust", mpls + tail(0x01, 0xFD, -5000, 540000, 0, 0x13))
                seeds.add("playlist_adjust", mpls + tail(0x03, 0x00, 0, 270000, 63000, 0x00))
            for path in sorted(glob.glob(os.path.join(bdmv, "STREAM", "*.m2ts"))):
                clip = read(path)
                for ts in packet_samples(clip)[:48]:
                    seeds.add("ts_packet", ts)
                seeds.add("ts_packet", b"".join(packet_samples(clip)[:48]))
                for section in psi_sections(clip):
                    seeds.add("psi", section)
                seeds.add("demux", cut_clip(clip, 1))
                seeds.add("demux", cut_clip(clip, 2))
            for path in sorted(glob.glob(os.path.join(root, "ig", "*.ig"))):
                stream = read(path)
                for n in (1, 2):
                    seeds.add("segment_file", small_stream(stream, n))
                    seeds.add("raw_track", small_stream(stream, n))
                comps, objects = compositions_and_objects(stream)
                for c in comps:
                    seeds.add("composition", c)
                for o in objects:
                    seeds.add("rle", o)
            seeds.add("disc", bundle(disc_files(bdmv, 1)))
            if root != args.sample:
                pictures, igs, caches = veld_outputs(args.veld, root, scratch)
                for path in sorted(pictures, key=os.path.getsize)[:6]:
                    seeds.add("picture", read(path))
                for path in igs:
                    seeds.add("raw_track", small_stream(read(path), 1))
                for path in caches:
                    seeds.add("stream_info_cache", read(path))
        for depth, colours, alpha in ((8, 200, True), (4, 16, False), (2, 4, True), (1, 2, False)):
            seeds.add("picture", indexed_png(23, 7, depth, colours, alpha))
        for text in ("JumpTitle 3", "Set GPR5 + 10", "If PSR1 == GPR4095", "SetButtonPage 1 2", "Nop"):
            seeds.add("nav_cmd", text.encode())
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("make_seeds: " + ", ".join("%s %d" % (t, seeds.count[t]) for t in TARGETS))
    empty = [t for t in TARGETS if not os.listdir(os.path.join(args.out, t))]
    if empty:
        sys.exit("make_seeds: no seed for " + ", ".join(empty))


if __name__ == "__main__":
    main()
