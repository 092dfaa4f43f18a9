#!/usr/bin/env python3
"""Writes the header samples of the signature tests: the first bytes of a
file of each format, made by hand from the formats' published layouts (no
real files are copied). One file per signature of the shipped database,
named EXT-N.bin (N counts the type's signatures from 1). Run it from any
folder; it writes into samples/ beside itself."""
import os
import struct
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "samples")


def pad(data, size=512):
    """Fills the header out with a deterministic body, as the rest of a file would."""
    filler = bytes((i * 37 + 11) & 0xFF for i in range(size))
    return data + filler[len(data):] if len(data) < size else data


def ftyp(brand, compatible=(b"isom",)):
    body = brand + struct.pack(">I", 0x200) + b"".join(compatible)
    box = struct.pack(">I", 8 + len(body)) + b"ftyp" + body
    return pad(box + struct.pack(">I", 16) + b"free" + b"\0" * 8 + struct.pack(">I", 400) + b"mdat")


def riff(form, first_chunk):
    return pad(b"RIFF" + struct.pack("<I", 100000) + form + first_chunk)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def bmp(info_size):
    pixels = 54 if info_size == 40 else 14 + info_size
    info = struct.pack("<IiiHHIIiiII", info_size, 16, 16, 1, 24, 0, 768, 2835, 2835, 0, 0)
    info += b"\0" * (info_size - len(info))
    return pad(b"BM" + struct.pack("<IHHI", pixels + 768, 0, 0, pixels) + info)


def tiff_le(extra=b""):
    return pad(b"II*\0" + struct.pack("<I", 8) + struct.pack("<H", 1) + struct.pack("<HHII", 0x100, 3, 1, 640) + extra)


SAMPLES = {
    "JPG-1": pad(b"\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x48\x00\x48\x00\x00"
                 b"\xFF\xDB\x00\x43\x00" + bytes(range(1, 65))),
    "PNG-1": pad(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 2, 0, 0, 0))),
    "GIF-1": pad(b"GIF89a" + struct.pack("<HHBBB", 16, 16, 0xF7, 0, 0)),
    "GIF-2": pad(b"GIF87a" + struct.pack("<HHBBB", 16, 16, 0xF7, 0, 0)),
    "BMP-1": bmp(40),
    "BMP-2": bmp(108),
    "BMP-3": bmp(124),
    # Canon CR2: a TIFF header whose first directory is at 16, then "CR", version 2.0
    "CR2-1": pad(b"II*\0" + struct.pack("<I", 16) + b"CR\x02\x00" + struct.pack("<I", 0) + struct.pack("<H", 14)),
    "RW2-1": pad(b"IIU\0" + struct.pack("<I", 8) + struct.pack("<H", 12)),
    "ORF-1": pad(b"IIRS" + struct.pack("<I", 8) + struct.pack("<H", 10)),
    "ORF-2": pad(b"IIRO" + struct.pack("<I", 8) + struct.pack("<H", 10)),
    "ORF-3": pad(b"MMOR" + struct.pack(">I", 8) + struct.pack(">H", 10)),
    "CRW-1": pad(b"II" + struct.pack("<I", 0x1A) + b"HEAPCCDR" + struct.pack("<HH", 1, 2)),
    "RAF-1": pad(b"FUJIFILMCCD-RAW 0201FF383501" + b"\0" * 4 + b"X-T3"),
    "X3F-1": pad(b"FOVb" + struct.pack("<I", 0x00020003) + bytes(16)),
    "MRW-1": pad(b"\0MRM" + struct.pack(">I", 0x100) + b"\0PRD"),
    "CR3-1": ftyp(b"crx ", (b"crx ", b"isom")),
    "HEI-1": ftyp(b"heic", (b"mif1", b"heic")),
    "HEI-2": ftyp(b"heix", (b"mif1", b"heix")),
    "HEI-3": ftyp(b"mif1", (b"mif1", b"miaf")),
    "TIF-1": tiff_le(),
    "TIF-2": pad(b"MM\0*" + struct.pack(">I", 8) + struct.pack(">H", 1) + struct.pack(">HHII", 0x100, 3, 1, 640)),
    "AVI-1": riff(b"AVI ", b"LIST" + struct.pack("<I", 192) + b"hdrlavih" + struct.pack("<I", 56)),
    "MOV-1": ftyp(b"qt  ", (b"qt  ",)),
    "MOV-2": pad(struct.pack(">I", 0x1000) + b"moov" + struct.pack(">I", 108) + b"mvhd"),
    "MOV-3": pad(struct.pack(">I", 8) + b"wide" + struct.pack(">I", 0x10000) + b"mdat"),
    "3GP-1": ftyp(b"3gp4", (b"isom", b"3gp4")),
    "3GP-2": ftyp(b"3g2a", (b"3g2a",)),
    "M4V-1": ftyp(b"M4V ", (b"M4V ", b"M4A ", b"mp42", b"isom")),
    "WMV-1": pad(bytes.fromhex("3026B2758E66CF11A6D900AA0062CE6C") + struct.pack("<QIBB", 0x1000, 6, 1, 2)),
    "MPG-1": pad(b"\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8\x00\x00\x01\xBB"),
    "MPG-2": pad(b"\x00\x00\x01\xB3\x16\x00\xF0\x15\xFF\xFF\xE0\x18\x00\x00\x01\xB8"),
    "MKV-1": pad(b"\x1A\x45\xDF\xA3\x9F\x42\x86\x81\x01\x42\xF7\x81\x01\x42\x82\x88matroska"),
    "WAV-1": riff(b"WAVE", b"fmt " + struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16)),
    "MP3-1": pad(b"ID3\x03\x00\x00\x00\x00\x0F\x76TIT2" + struct.pack(">I", 6) + b"\0\0\0Song"),
    "M4A-1": ftyp(b"M4A ", (b"M4A ", b"mp42", b"isom")),
    "M4A-2": ftyp(b"M4B ", (b"M4B ", b"mp42", b"isom")),
    "AMR-1": pad(b"#!AMR-WB\n" + b"\x04\x10\x20\x30"),
    "AMR-2": pad(b"#!AMR\n" + b"\x3C\x48\xF5\x1F"),
    "OGG-1": pad(b"OggS\x00\x02" + bytes(8) + struct.pack("<II", 0x1234, 0) + b"\x01\x1E\x01vorbis"),
    "FLA-1": pad(b"fLaC\x80\x00\x00\x22" + struct.pack(">HH", 4096, 4096)),
    "AIF-1": pad(b"FORM" + struct.pack(">I", 100000) + b"AIFFCOMM" + struct.pack(">IhIh", 18, 2, 44100, 16)),
    "MP4-1": ftyp(b"isom", (b"isom", b"iso2", b"avc1", b"mp41")),
    "MP4-2": ftyp(b"mp41", (b"mp41", b"isom")),
    "MP4-3": ftyp(b"mp42", (b"mp42", b"isom")),
    "MP4-4": ftyp(b"avc1", (b"avc1", b"isom")),
    "MP4-5": ftyp(b"iso2", (b"iso2", b"isom")),
    "MP4-6": ftyp(b"MSNV", (b"MSNV", b"mp42")),
    # an ISO media file of a brand the list does not name (Motion JPEG 2000)
    "MP4-7": ftyp(b"mjp2", (b"mjp2",)),
}

if __name__ == "__main__":
    os.makedirs(HERE, exist_ok=True)
    for name, data in SAMPLES.items():
        with open(os.path.join(HERE, name + ".bin"), "wb") as out:
            out.write(data)
