#!/usr/bin/env python3
"""Mutation fuzzer for damaged cards: both scans of tranquo-cli over mutants.

Starts from FAT12/16/32 card images made by the tests' image builder
(make-fuzz-seeds) and by mkfs.fat + mtools (nested folders, long names,
fragmented and deleted files), damages them (BPB fields, FAT entries,
directory entries, long-name entries, raw bytes of the metadata, truncation,
fields set to zero or to their maximum), and runs

    tranquo-cli --attach MUTANT --yes recover --dest DIR

(turbo scan, then deep scan) on each, with a time limit. A run fails when it
crashes, hangs, prints a sanitizer report, exits with a status other than 0
or 1, changes a byte of the image, or leaves a file outside DIR. Failing
mutants are kept in OUT/failures/ with the run's output.

    bench/fuzz_cards.py --build build-sanitize --seconds 600 --seed 1 --out /tmp/fuzz
    bench/fuzz_cards.py --build build-sanitize --replay MUTANT.img

See bench/README.md.
"""
import argparse
import hashlib
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import time
from collections import Counter
from xml.etree import ElementTree

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


# ---------------------------------------------------------------- seeds

def sh(*args, **kw):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, **kw)


def make_mkfs_seed(path, fat, size_kib, rng):
    """A card by mkfs.fat and mtools: folders, long names, a fragmented file
    (written between two files that are then deleted) and deleted files."""
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1", MTOOLS_NO_VFAT="0")
    if os.path.exists(path):
        os.remove(path)
    with open(path, "wb") as f:
        f.truncate(size_kib * 1024)
    args = ["mkfs.fat", "-F", str(fat), "-n", "FUZZCARD"]
    if fat != 12:
        args += ["-s", "1"]  # small cards: the cluster count stays in the kind's range
    sh(*args, path, env=dict(env, PATH=env["PATH"] + ":/usr/sbin:/sbin"))
    tmp = path + ".files"
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)

    def put(name, size, dest):
        local = os.path.join(tmp, name)
        with open(local, "wb") as f:
            f.write(b"\xff\xd8\xff\xe0" + rng.randbytes(size - 6) + b"\xff\xd9")
        sh("mcopy", "-i", path, local, "::" + dest, env=env)

    sh("mmd", "-i", path, "::/DCIM", env=env)
    sh("mmd", "-i", path, "::/DCIM/100CANON", env=env)
    sh("mmd", "-i", path, "::/DCIM/Summer holiday pictures", env=env)
    sh("mmd", "-i", path, "::/DCIM/100CANON/Nested folder", env=env)
    for i in range(6):
        put("IMG_%04d.JPG" % i, rng.randint(3000, 20000), "/DCIM/100CANON/IMG_%04d.JPG" % i)
    put("gap1.jpg", 5000, "/DCIM/gap1.jpg")
    put("A photo with a long name.jpg", 9000, "/DCIM/Summer holiday pictures/A photo with a long name.jpg")
    put("gap2.jpg", 5000, "/DCIM/gap2.jpg")
    sh("mdel", "-i", path, "::/DCIM/gap1.jpg", env=env)
    sh("mdel", "-i", path, "::/DCIM/gap2.jpg", env=env)
    # Fills both gaps and goes on after the last file: fragmented.
    put("Fragmented photo.jpg", 30000, "/DCIM/Summer holiday pictures/Fragmented photo.jpg")
    put("deep.jpg", 4000, "/DCIM/100CANON/Nested folder/deep.jpg")
    sh("mdel", "-i", path, "::/DCIM/100CANON/IMG_0001.JPG", env=env)
    sh("mdel", "-i", path, "::/DCIM/100CANON/IMG_0004.JPG", env=env)
    sh("mdel", "-i", path, "::/DCIM/Summer holiday pictures/A photo with a long name.jpg", env=env)
    shutil.rmtree(tmp)


def make_seeds(build, work, only, tool):
    """The seed images whose names contain `only`; `tool` is make-fuzz-seeds
    (built in BUILD when not given)."""
    seeds_dir = os.path.join(work, "seeds")
    shutil.rmtree(seeds_dir, ignore_errors=True)
    os.makedirs(seeds_dir)
    if not tool:
        subprocess.run(["cmake", "--build", build, "--target", "make-fuzz-seeds"], check=True,
                       stdout=subprocess.DEVNULL)
        tool = os.path.join(build, "tests", "make-fuzz-seeds")
    subprocess.run([tool, seeds_dir], check=True, stdout=subprocess.DEVNULL)
    rng = random.Random(7)
    for fat, size_kib in ((12, 1440), (16, 8192), (32, 34 * 1024)):
        name = "mkfs-fat%d.img" % fat
        if only in name:
            make_mkfs_seed(os.path.join(seeds_dir, name), fat, size_kib, rng)
    return sorted(os.path.join(seeds_dir, f) for f in os.listdir(seeds_dir) if f.endswith(".img") and only in f)


# ---------------------------------------------------------------- layout

class Layout:
    """Where a healthy seed keeps its boot sector, FATs and directories."""

    def __init__(self, data):
        self.base = 0
        if data[0] not in (0xEB, 0xE9) and data[510:512] == b"\x55\xaa":
            self.base = struct.unpack_from("<I", data, 454)[0] * 512
        b = self.base
        u8 = lambda o: data[b + o]
        u16 = lambda o: struct.unpack_from("<H", data, b + o)[0]
        u32 = lambda o: struct.unpack_from("<I", data, b + o)[0]
        self.bps, self.spc, self.rsvd, self.nfats = u16(11), u8(13), u16(14), u8(16)
        self.root_entries = u16(17)
        total = u16(19) or u32(32)
        self.fat_size = u16(22) or u32(36)
        self.root_dir_sectors = (self.root_entries * 32 + self.bps - 1) // self.bps
        self.first_data = self.rsvd + self.nfats * self.fat_size + self.root_dir_sectors
        self.count = (total - self.first_data) // self.spc
        self.kind = 12 if self.count < 4085 else 16 if self.count < 65525 else 32
        self.exfat = False
        self.name = "FAT%d" % self.kind
        self.root_cluster = u32(44) if self.kind == 32 else 0
        self.cluster_bytes = self.bps * self.spc
        self.data = data
        self.fat_start = b + self.rsvd * self.bps
        self.entries = []  # byte offsets of 32-byte directory entries
        self.used_clusters = []
        if self.kind == 32:
            self.walk_dir(self.root_cluster, set())
        else:
            start = b + (self.rsvd + self.nfats * self.fat_size) * self.bps
            self.scan_entries(range(start, start + self.root_entries * 32, 32), set())

    def fat_get(self, c):
        o = self.fat_start
        if self.kind == 12:
            v = struct.unpack_from("<H", self.data, o + c * 3 // 2)[0]
            return v >> 4 if c & 1 else v & 0xFFF
        if self.kind == 16:
            return struct.unpack_from("<H", self.data, o + c * 2)[0]
        return struct.unpack_from("<I", self.data, o + c * 4)[0] & 0x0FFFFFFF

    def eoc(self):
        return {12: 0xFF8, 16: 0xFFF8, 32: 0x0FFFFFF8}[self.kind]

    def chain(self, c):
        out = []
        while 2 <= c < self.count + 2 and c not in out and len(out) < 100000:
            out.append(c)
            c = self.fat_get(c)
        return out

    def cluster_offset(self, c):
        return self.base + (self.first_data + (c - 2) * self.spc) * self.bps

    def walk_dir(self, first, seen):
        if first in seen:
            return
        seen.add(first)
        clusters = self.chain(first) or [first]
        slots = []
        for c in clusters:
            if not 2 <= c < self.count + 2:
                continue
            o = self.cluster_offset(c)
            slots.extend(range(o, o + self.cluster_bytes, 32))
        self.scan_entries(slots, seen)

    def scan_entries(self, slots, seen):
        for o in slots:
            if o + 32 > len(self.data):
                return
            e = self.data[o:o + 32]
            if e[0] == 0:
                self.entries.append(o)  # the first free slot is worth damaging too
                return
            self.entries.append(o)
            attr = e[11]
            if attr & 0x3F == 0x0F or e[0] == 0x2E:
                continue
            first = struct.unpack_from("<H", e, 26)[0] | (struct.unpack_from("<H", e, 20)[0] << 16 if self.kind == 32 else 0)
            if first >= 2:
                self.used_clusters.append(first)
            if attr & 0x10 and first >= 2:
                self.walk_dir(first, seen)


class ExFatLayout(Layout):
    """The same for an exFAT seed: 32-bit FAT entries after the boot
    regions, the cluster heap, and entry sets (file, stream, names) whose
    checksum a mutation may set right again."""

    def __init__(self, data):
        self.base, self.data, self.exfat, self.kind, self.name = 0, data, True, 32, "exFAT"
        u32 = lambda o: struct.unpack_from("<I", data, o)[0]
        self.bps, self.spc = 1 << data[108], 1 << data[109]
        self.rsvd, self.nfats, self.root_entries = u32(80), data[110], 0
        self.fat_size, self.first_data, self.count = u32(84), u32(88), u32(92)
        self.root_cluster = u32(96)
        self.cluster_bytes = self.bps * self.spc
        self.fat_start = self.rsvd * self.bps
        self.entries, self.used_clusters, self.sets = [], [], []
        self.walk_dir(self.root_cluster, set())

    def fat_get(self, c):
        return struct.unpack_from("<I", self.data, self.fat_start + c * 4)[0]

    def eoc(self):
        return 0xFFFFFFFF

    def chain(self, c, length=None):
        out = []
        while 2 <= c < self.count + 2 and c not in out and len(out) < 100000:
            out.append(c)
            if length is not None:
                if len(out) * self.cluster_bytes >= length:
                    break
                c += 1  # one run of clusters
            else:
                c = self.fat_get(c)
        return out

    def walk_dir(self, first, seen, contiguous_length=None):
        if first in seen:
            return
        seen.add(first)
        slots = []
        for c in self.chain(first, contiguous_length) or [first]:
            o = self.cluster_offset(c)
            slots.extend(range(o, o + self.cluster_bytes, 32))
        i = 0
        while i < len(slots) and slots[i] + 32 <= len(self.data):
            o = slots[i]
            self.entries.append(o)
            t = self.data[o]
            if t == 0:
                return
            if t in (0x85, 0x05) and i + 2 < len(slots):
                n = self.data[o + 1]
                stream = slots[i + 1]
                self.sets.append(slots[i:i + n + 1])
                first_cluster, length = struct.unpack_from("<I", self.data, stream + 20)[0], \
                    struct.unpack_from("<Q", self.data, stream + 24)[0]
                if first_cluster >= 2:
                    self.used_clusters.append(first_cluster)
                if struct.unpack_from("<H", self.data, o + 4)[0] & 0x10 and first_cluster >= 2:
                    self.walk_dir(first_cluster, seen, length if self.data[stream + 1] & 2 else None)
            i += 1


def exfat_set_checksum(data, set_slots):
    total = 0
    for k, o in enumerate(set_slots):
        for j in range(32):
            if k == 0 and j in (2, 3):
                continue
            b = data[o + j] | (0x80 if j == 0 else 0)
            total = ((0x8000 if total & 1 else 0) + (total >> 1) + b) & 0xFFFF
    return total


EXFAT_FIELDS = [(64, 8), (72, 8), (80, 4), (84, 4), (88, 4), (92, 4), (96, 4), (106, 2), (108, 1), (109, 1),
                (110, 1), (510, 2), (11, 1)]


def mutate_exfat_set(lay, rng, patches):
    """A field of an entry set (lengths, first cluster, flags, name), with the
    set's checksum made to match again most times."""
    if not lay.sets:
        return mutate_bytes(lay, rng, patches)
    slots = rng.choice(lay.sets)
    out = bytearray(lay.data)
    for _ in range(rng.choice([1, 1, 2, 4])):
        off, width = rng.choice([(1, 1), (4, 2), (33, 1), (35, 1), (40, 8), (52, 4), (56, 8), (66, 2), (68, 2),
                                 (0, 1), (32, 1), (64, 1)])
        o = slots[off // 32] + off % 32 if off // 32 < len(slots) else slots[0]
        cur = int.from_bytes(out[o:o + width], "little")
        value = rng.choice([interesting(rng, width, cur), lay.root_cluster, lay.count + 1, 0x2F, 0x2E2E,
                            rng.choice(lay.used_clusters or [2])]) & ((1 << (8 * width)) - 1)
        out[o:o + width] = value.to_bytes(width, "little")
        patches.append((o, bytes(out[o:o + width])))
    if rng.random() < 0.8:
        patches.append((slots[0] + 2, struct.pack("<H", exfat_set_checksum(out, slots))))


# ---------------------------------------------------------------- mutations

def interesting(rng, width, current=None):
    top = (1 << (8 * width)) - 1
    pool = [0, 1, 2, top, top - 1, 1 << (8 * width - 1), rng.randint(0, top), rng.randint(0, min(top, 300))]
    if width >= 2:
        pool += [0x200, 0x1000, 0x8000 & top, 1 << rng.randint(0, 8 * width - 1)]
    if current is not None:
        pool += [(current * 2) & top, current // 2, (current + 1) & top, max(current - 1, 0)]
    return rng.choice(pool)


def put(patches, offset, width, value):
    patches.append((offset, (value & ((1 << (8 * width)) - 1)).to_bytes(width, "little")))


BPB_FIELDS_COMMON = [(0, 3), (11, 2), (13, 1), (14, 2), (16, 1), (17, 2), (19, 2), (21, 1), (22, 2),
                     (28, 4), (32, 4), (510, 2)]
BPB_FIELDS_FAT32 = [(36, 4), (40, 2), (42, 2), (44, 4), (48, 2), (50, 2)]


def mutate_bpb(lay, rng, patches):
    fields = EXFAT_FIELDS if lay.exfat else BPB_FIELDS_COMMON + (BPB_FIELDS_FAT32 if lay.kind == 32 else [])
    for _ in range(rng.choice([1, 1, 1, 2, 3])):
        off, width = rng.choice(fields)
        cur = int.from_bytes(lay.data[lay.base + off:lay.base + off + width], "little")
        put(patches, lay.base + off, width, interesting(rng, width, cur))
    if lay.kind == 32 and rng.random() < 0.3:  # the backup too, so that it cannot help
        for off, data in list(patches):
            patches.append((off + (12 if lay.exfat else 6) * lay.bps, data))


def mutate_extreme(lay, rng, patches):
    """Every geometry field at zero, or at its maximum."""
    fields = EXFAT_FIELDS[:-2] if lay.exfat else BPB_FIELDS_COMMON[1:-1] + (BPB_FIELDS_FAT32 if lay.kind == 32 else [])
    value = rng.choice(["zero", "max", "mix"])
    for off, width in fields:
        if value == "mix" and rng.random() < 0.5:
            continue
        v = 0 if value == "zero" else (1 << (8 * width)) - 1
        put(patches, lay.base + off, width, v)


def fat_put(lay, patches, c, value, copies):
    for k in range(copies):
        o = lay.fat_start + k * lay.fat_size * lay.bps
        if lay.kind == 12:
            p = o + c * 3 // 2
            old = struct.unpack_from("<H", lay.data, p)[0]
            v = (old & 0x000F) | ((value & 0xFFF) << 4) if c & 1 else (old & 0xF000) | (value & 0xFFF)
            patches.append((p, struct.pack("<H", v)))
        elif lay.kind == 16:
            patches.append((o + c * 2, struct.pack("<H", value & 0xFFFF)))
        else:
            patches.append((o + c * 4, struct.pack("<I", value & 0xFFFFFFFF)))


def mutate_fat(lay, rng, patches):
    copies = lay.nfats if rng.random() < 0.7 else 1
    for _ in range(rng.choice([1, 1, 2, 4, 16])):
        if lay.used_clusters and rng.random() < 0.7:
            chain = lay.chain(rng.choice(lay.used_clusters)) or [2]
            c = rng.choice(chain)
        else:
            c = rng.choice([0, 1, 2, lay.count + 1, rng.randint(0, lay.count + 1)])
        top = {12: 0xFFF, 16: 0xFFFF, 32: 0xFFFFFFFF}[lay.kind]
        value = rng.choice([0, 1, c, max(c - 1, 2), 2, lay.count + 1, lay.count + 2, top,
                            lay.eoc() - 1, lay.eoc() - 9 + 8 - 1, rng.randint(0, top),
                            rng.randint(2, lay.count + 1), rng.choice(lay.used_clusters or [2])])
        fat_put(lay, patches, c, value, copies)


def mutate_dirent(lay, rng, patches):
    if lay.exfat and rng.random() < 0.7:
        return mutate_exfat_set(lay, rng, patches)
    if not lay.entries:
        return mutate_bytes(lay, rng, patches)
    for _ in range(rng.choice([1, 1, 2, 3, 8])):
        o = rng.choice(lay.entries)
        e = lay.data[o:o + 32]
        is_lfn = e[11] & 0x3F == 0x0F
        if is_lfn and rng.random() < 0.7:
            what = rng.choice(["ordinal", "checksum", "chars", "lfncluster", "attr"])
        else:
            what = rng.choice(["first", "first", "size", "size", "attr", "name0", "name", "dots", "hi"])
        if what == "ordinal":
            put(patches, o, 1, rng.choice([0x40, 0x41, 0x00, 0x7F, 0xFF, 0xE5, 0x54, 0x55, e[0] ^ 0x40,
                                           rng.randint(0, 255)]))
        elif what == "checksum":
            put(patches, o + 13, 1, rng.randint(0, 255))
        elif what == "chars":
            spots = [1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30]
            for _ in range(rng.randint(1, 5)):
                put(patches, o + rng.choice(spots), 2,
                    rng.choice([0x2F, 0x5C, 0x2E, 0, 0xFFFF, 0xD800, 0xDC00, 0x0A, 0x3A, rng.randint(0, 0xFFFF)]))
        elif what == "lfncluster":
            put(patches, o + 26, 2, interesting(rng, 2))
        elif what == "first":
            put(patches, o + 26, 2, rng.choice([0, 1, lay.count + 1, lay.count + 2, 0xFFFF,
                                                rng.choice(lay.used_clusters or [2]), interesting(rng, 2)]))
        elif what == "hi":
            put(patches, o + 20, 2, interesting(rng, 2))
        elif what == "size":
            put(patches, o + 28, 4, rng.choice([0, 1, 0xFFFFFFFF, 0x7FFFFFFF, lay.count * lay.cluster_bytes + 1,
                                                lay.cluster_bytes, interesting(rng, 4)]))
        elif what == "attr":
            put(patches, o + 11, 1, rng.choice([0x0F, 0x10, 0x08, 0x3F, 0x18, 0x16, 0x00, 0xFF,
                                                rng.randint(0, 255)]))
        elif what == "name0":
            put(patches, o, 1, rng.choice([0xE5, 0x00, 0x05, 0x2E, 0x20, 0x2F, rng.randint(0, 255)]))
        elif what == "name":
            name = rng.choice([b"..         ", b".          ", b"../../ESC  ", b"A/B     JPG", b"\\..\\X   JPG",
                               b"           ", bytes(rng.randint(0, 255) for _ in range(11))])
            patches.append((o, name))
        elif what == "dots":  # "." / ".." and folders that point at themselves or their parent
            put(patches, o + 26, 2, rng.choice([0, 2, lay.root_cluster or 0, rng.choice(lay.used_clusters or [2])]))
            put(patches, o + 11, 1, 0x10)


def plausible_entry(lay, rng):
    """32 bytes that pass for a directory entry: an 8.3 name, a first cluster
    of the volume, a size of up to a few clusters or of the whole card."""
    if rng.random() < 0.15:  # a long-name entry
        e = bytearray(rng.randbytes(32))
        e[0] = rng.choice([0x41, 0x42, 0x01, 0x02, 0x43]) | rng.choice([0, 0x40])
        e[11], e[12], e[26], e[27] = 0x0F, 0, 0, 0
        return bytes(e)
    alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_~"
    name = bytes(rng.choice(alphabet) for _ in range(8)) + rng.choice([b"JPG", b"MOV", b"WAV", b"MP3", b"THM", b"   "])
    if rng.random() < 0.3:
        name = b"\xe5" + name[1:]
    attr = rng.choice([0x20, 0x20, 0x10, 0x10, 0x00, 0x30, 0x01])
    first = rng.choice([rng.randint(2, lay.count + 1), rng.choice(lay.used_clusters or [2]), lay.root_cluster or 2])
    size = 0 if attr & 0x10 else rng.choice([rng.randint(1, 4 * lay.cluster_bytes), rng.randint(1, 1 << 20),
                                             (lay.count - 1) * lay.cluster_bytes])
    return name + struct.pack("<BBBHHHHHHHI", attr, 0, 0, 0x6000, 0x5A21, 0x5A21, first >> 16 if lay.kind == 32 else 0,
                              0x6000, 0x5A21, first & 0xFFFF, size)


def mutate_dirfill(lay, rng, patches):
    """Runs of plausible entries over a directory: folders and files that
    point anywhere, as a card whose directory clusters were overwritten."""
    if not lay.entries:
        return mutate_bytes(lay, rng, patches)
    start = rng.choice(lay.entries)
    for k in range(rng.choice([2, 8, 16, 64])):
        o = start + 32 * k
        if o + 32 > len(lay.data):
            break
        patches.append((o, plausible_entry(lay, rng)))


def folder_entry(lay, name, cluster):
    return name + struct.pack("<BBBHHHHHHHI", 0x10, 0, 0, 0x6000, 0x5A21, 0x5A21,
                              cluster >> 16 if lay.kind == 32 else 0, 0x6000, 0x5A21, cluster & 0xFFFF, 0)


def mutate_nest(lay, rng, patches):
    """Folders chained deep: each free cluster a folder whose one entry is
    the next, hung below a directory's first free slot."""
    free = [o for o in lay.entries if lay.data[o] == 0]
    first = max(lay.used_clusters or [2]) + rng.randint(50, 500)
    depth = min(rng.choice([50, 200, 1000, 5000, 100000]), lay.count + 1 - first)
    if not free or depth < 2:
        return mutate_dirent(lay, rng, patches)
    for i in range(depth):
        c = first + i
        block = folder_entry(lay, b".          ", c) + folder_entry(lay, b"..         ", c - 1 if i else 0)
        if i + 1 < depth:
            block += folder_entry(lay, rng.choice([b"N          ", b"DCIM       "]), c + 1)
        patches.append((lay.cluster_offset(c), block + bytes(32)))
        fat_put(lay, patches, c, lay.eoc() | 7, lay.nfats)
    patches.append((rng.choice(free), folder_entry(lay, b"N          ", first)))


def mutate_wipe(lay, rng, patches):
    """A FAT wiped (a quick format that left the folders), and more damage."""
    for c in range(2, lay.count + 2):
        if lay.fat_get(c):
            fat_put(lay, patches, c, 0, lay.nfats)
    rng.choice([mutate_dirfill, mutate_dirent, mutate_nest, mutate_bytes])(lay, rng, patches)


def mutate_bytes(lay, rng, patches):
    meta_end = lay.base + lay.first_data * lay.bps
    regions = [(0, min(meta_end, len(lay.data)))]
    if lay.entries:
        regions.append((min(lay.entries), max(lay.entries) + 32))
    lo, hi = rng.choice(regions)
    for _ in range(rng.choice([1, 2, 8, 32, 128])):
        o = rng.randrange(lo, hi)
        patches.append((o, bytes([rng.randint(0, 255)])))


def mutate_mbr(lay, rng, patches):
    """The partition table in front of the volume: start, size and type."""
    if lay.base == 0:
        return mutate_bpb(lay, rng, patches)
    for _ in range(rng.choice([1, 2])):
        off, width = rng.choice([(454, 4), (458, 4), (450, 1), (446, 1), (510, 2), (470, 4), (474, 4)])
        cur = int.from_bytes(lay.data[off:off + width], "little")
        put(patches, off, width, interesting(rng, width, cur))


def mutate_jpeg(lay, rng, patches):
    """The photos' headers, for the deep scan: segment markers and lengths,
    or a photo's start put on a sector of its own with a damaged header."""
    if not lay.used_clusters or rng.random() < 0.3:
        c = rng.randint(2, lay.count + 1)
        o = lay.cluster_offset(c)
        header = b"\xff\xd8\xff" + bytes([rng.choice([0xE0, 0xE1, 0xDB, 0xC0, 0xFE, rng.randint(0, 255)])])
        header += bytes(rng.randint(0, 255) for _ in range(rng.randint(0, 64)))
        patches.append((o, header))
        return
    o = lay.cluster_offset(rng.choice(lay.used_clusters))
    head = lay.data[o:o + 2048]
    markers = [i for i in range(len(head) - 3) if head[i] == 0xFF and head[i + 1] not in (0, 0xFF)]
    for _ in range(rng.choice([1, 1, 2, 4])):
        if markers and rng.random() < 0.7:
            m = rng.choice(markers)
            put(patches, o + m + 2, 2, rng.choice([0, 1, 2, 0xFFFF, 0xFFFE, 0x8000, rng.randint(0, 0xFFFF)]))
        else:
            patches.append((o + rng.randrange(0, 2048), bytes([rng.randint(0, 255)])))


def truncate_point(lay, rng):
    n = len(lay.data)
    meta_end = lay.base + lay.first_data * lay.bps
    return rng.choice([rng.randrange(0, 512), rng.randrange(0, max(meta_end, 1)),
                       rng.randrange(0, n) // 512 * 512, rng.randrange(0, n),
                       meta_end + rng.randrange(0, 4) * lay.bps, n - rng.randrange(1, 4096)])


KINDS = ["bpb", "fat", "dirent", "dirfill", "nest", "wipe", "bytes", "truncate", "extreme", "mbr", "jpeg", "combo"]


MUTATIONS = {"bpb": mutate_bpb, "fat": mutate_fat, "dirent": mutate_dirent, "dirfill": mutate_dirfill,
             "nest": mutate_nest, "wipe": mutate_wipe, "bytes": mutate_bytes, "extreme": mutate_extreme,
             "mbr": mutate_mbr, "jpeg": mutate_jpeg}
COMBINED = ["bpb", "fat", "dirent", "dirfill", "bytes", "truncate", "jpeg"]


def make_mutant(data, lay, rng, kind):
    patches = []
    cut = None
    if kind == "truncate":
        cut = truncate_point(lay, rng)
    elif kind in MUTATIONS:
        MUTATIONS[kind](lay, rng, patches)
    else:  # combo
        for _ in range(rng.randint(2, 4)):
            k = rng.choice(COMBINED)
            if k == "truncate":
                cut = truncate_point(lay, rng) if rng.random() < 0.3 else cut
            else:
                MUTATIONS[k](lay, rng, patches)
    out = bytearray(data)
    for off, b in patches:
        if 0 <= off and off + len(b) <= len(out):
            out[off:off + len(b)] = b
    if cut is not None:
        del out[cut:]
    return bytes(out)


# ---------------------------------------------------------------- runs

def sanitizer_env(env, registry):
    env = dict(env)
    env["TRANQUO_REGISTRY"] = registry
    env["ASAN_OPTIONS"] = "halt_on_error=1:abort_on_error=0:detect_leaks=1:exitcode=86"
    env["UBSAN_OPTIONS"] = "halt_on_error=1:print_stacktrace=1:exitcode=87"
    env["LSAN_OPTIONS"] = "suppressions=%s:print_suppressions=0:exitcode=86" % os.path.join(
        ROOT, "tests/sanitizer/lsan.supp")
    env["LC_ALL"] = "C.UTF-8"
    return env


class Runner:
    def __init__(self, build, work, timeout_floor):
        self.bin = os.path.join(build, "bin")
        self.work = work
        self.home = os.path.join(work, "home")
        os.makedirs(self.home, exist_ok=True)
        self.registry = os.path.join(self.home, "registry")
        self.env = sanitizer_env(dict(os.environ, HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, ".config")),
                                 self.registry)
        subprocess.run([os.path.join(self.bin, "tranquo-regsvr"), "-s", os.path.join(self.bin, "libTyphex.so")],
                       env=self.env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.timeout_floor = timeout_floor

    def run(self, image_bytes, timeout, keep_folders=False):
        """Runs both scans over the bytes; returns (verdict, detail, output,
        seconds). keep_folders: the turbo scan saves the card's folder tree."""
        box = os.path.join(self.work, "box")
        shutil.rmtree(box, ignore_errors=True)
        inner = os.path.join(box, "a", "b")
        dest = os.path.join(inner, "dest")
        os.makedirs(dest)
        image = os.path.join(box, "card.img")
        with open(image, "wb") as f:
            f.write(image_bytes)
        before = hashlib.sha256(image_bytes).hexdigest()
        mtime = os.stat(image).st_mtime_ns
        cmd = [os.path.join(self.bin, "tranquo-cli"), "--attach", image, "--yes", "-q", "recover", "--dest", dest]
        if keep_folders:
            cmd.append("--keep-folders")
        limit = max(len(image_bytes) * 64, 1 << 30)

        def limits():
            os.setpgrp()
            import resource
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        start = time.monotonic()
        proc = subprocess.Popen(cmd, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, preexec_fn=limits)
        try:
            out, err = proc.communicate(timeout=timeout)
            hung = False
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, err = proc.communicate()
            hung = True
        elapsed = time.monotonic() - start
        text = (out + err).decode("utf-8", "replace")
        verdict, detail = "ok", ""
        with open(image, "rb") as f:
            after = hashlib.sha256(f.read()).hexdigest()
        if hung:
            verdict, detail = "hang", "no end after %.0f s" % elapsed
        elif "AddressSanitizer" in text or "LeakSanitizer" in text:
            verdict, detail = "asan", first_line(text, "Sanitizer")
        elif "runtime error:" in text:
            verdict, detail = "ubsan", first_line(text, "runtime error:")
        elif proc.returncode < 0:
            verdict, detail = "crash", "signal %d" % -proc.returncode
        elif proc.returncode not in (0, 1):
            verdict, detail = "status", "exit status %d" % proc.returncode
        if verdict == "ok" and (after != before or os.stat(image).st_mtime_ns != mtime):
            verdict, detail = "write", "the image was changed"
        if verdict == "ok":
            escaped = outside_files(box, image, dest)
            if escaped:
                verdict, detail = "escape", ", ".join(escaped[:3])
        if verdict == "ok":
            report = os.path.join(dest, "My Recovered Mobile Device", "report.xml")
            try:
                if os.path.exists(report):
                    ElementTree.parse(report)
            except ElementTree.ParseError as error:
                verdict, detail = "report", "report.xml is no XML: %s" % error
        return verdict, detail, text, elapsed


def first_line(text, marker):
    for line in text.splitlines():
        if marker in line:
            return line.strip()[:200]
    return marker


def outside_files(box, image, dest):
    bad = []
    for root, dirs, files in os.walk(box):
        for name in files + dirs:
            path = os.path.join(root, name)
            if path == image or path == dest or path.startswith(dest + os.sep):
                if os.path.islink(path):
                    bad.append(path)
                continue
            if path in (os.path.join(box, "a"), os.path.join(box, "a", "b")):
                continue
            bad.append(path)
    return bad


# ---------------------------------------------------------------- campaign

def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build-sanitize"))
    ap.add_argument("--out", default="/tmp/tranquo-fuzz")
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--runs", type=int, default=0, help="stop after this many mutants (0: by time)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--kinds", default=",".join(KINDS))
    ap.add_argument("--seeds", default="", help="only seed images whose name contains this")
    ap.add_argument("--seeds-tool", help="make-fuzz-seeds to use (default: built in BUILD)")
    ap.add_argument("--timeout-factor", type=float, default=20)
    ap.add_argument("--timeout-floor", type=float, default=30)
    ap.add_argument("--replay", help="run one image and print the run's output")
    ap.add_argument("--keep-folders", action="store_true", help="with --replay: recover with --keep-folders")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    work = os.path.abspath(args.out)
    os.makedirs(work, exist_ok=True)
    runner = Runner(build, work, args.timeout_floor)
    if args.replay:
        with open(args.replay, "rb") as f:
            data = f.read()
        verdict, detail, text, elapsed = runner.run(data, 600, args.keep_folders)
        print(text)
        print("%s %s (%.1f s)" % (verdict, detail, elapsed))
        return 0 if verdict == "ok" else 1

    seeds = make_seeds(build, work, args.seeds, args.seeds_tool)
    bases = []
    for path in seeds:
        with open(path, "rb") as f:
            data = f.read()
        lay = ExFatLayout(data) if data[3:11] == b"EXFAT   " else Layout(data)
        verdict, detail, text, elapsed = runner.run(data, 600)
        print("seed %s: %s, %d clusters, %d entries, %s in %.1f s" % (
            os.path.basename(path), lay.name, lay.count, len(lay.entries), verdict, elapsed), flush=True)
        if verdict != "ok":
            print(text)
            return 1
        bases.append((path, data, lay, max(args.timeout_floor, elapsed * args.timeout_factor)))

    rng = random.Random(args.seed)
    kinds = args.kinds.split(",")
    failures = os.path.join(work, "failures")
    os.makedirs(failures, exist_ok=True)
    counts, faults, statuses = Counter(), Counter(), Counter()
    deadline = time.monotonic() + args.seconds
    start = time.monotonic()
    n = 0
    # kill -TERM ends the campaign after the current run, with its summary.
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    while not stop and ((args.runs and n < args.runs) or (not args.runs and time.monotonic() < deadline)):
        n += 1
        path, data, lay, timeout = rng.choice(bases)
        kind = rng.choice(kinds)
        mutant = make_mutant(data, lay, rng, kind)
        keep = rng.random() < 0.5
        verdict, detail, text, elapsed = runner.run(mutant, timeout, keep)
        if verdict == "ok" and elapsed > timeout / 4:
            verdict, detail = "slow", "%.1f s" % elapsed  # worth a look: a quarter of the time limit
        counts[kind] += 1
        statuses[verdict] += 1
        if verdict != "ok":
            faults[(kind, verdict)] += 1
            name = "%s-%s-%s-%d%s" % (verdict, kind, os.path.basename(path)[:-4], n, "-keep" if keep else "")
            with open(os.path.join(failures, name + ".img"), "wb") as f:
                f.write(mutant)
            with open(os.path.join(failures, name + ".txt"), "w") as f:
                f.write(detail + "\n\n" + text)
            print("FAULT %s: %s %s" % (name, verdict, detail), flush=True)
        if n % 50 == 0:
            print("%d mutants, %.0f s, %s" % (n, time.monotonic() - start, dict(statuses)), flush=True)
    print("mutants per kind: %s" % dict(sorted(counts.items())))
    print("verdicts: %s" % dict(statuses))
    print("faults (kind, verdict): %s" % dict(faults))
    print("time: %.0f s, %d mutants" % (time.monotonic() - start, n))
    # Slow runs are worth a look but no fault: a busy machine makes them too.
    return 1 if any(verdict != "slow" for _, verdict in faults) else 0


if __name__ == "__main__":
    sys.exit(main())
