#!/usr/bin/env python3
"""Builds the archives the archive reader tests read, with real tools:
Python's zipfile and Info-ZIP's zip. Damaged variants are made by patching
bytes of good archives. Usage: make_archives.py <output dir>"""

import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

OUT = sys.argv[1]
DOS_TIME = (2020, 5, 17, 13, 45, 30)


def payload(size, seed):
    """Half random, half repetitive bytes: deflate has work to do."""
    rnd = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += bytes(rnd.getrandbits(8) for _ in range(64))
        out += b"tervalis " * 8
    return bytes(out[:size])


def info(name, method=zipfile.ZIP_STORED, host=3, attrs=0o644 << 16, extra=b""):
    zi = zipfile.ZipInfo(name, DOS_TIME)
    zi.compress_type = method
    zi.create_system = host
    zi.external_attr = attrs
    zi.extra = extra
    return zi


def write_zip(name, members):
    path = os.path.join(OUT, name)
    with zipfile.ZipFile(path, "w") as z:
        for zi, data in members:
            z.writestr(zi, data)
    return path


def data_offset(path, member):
    """Offset of the member's data in the archive file."""
    with zipfile.ZipFile(path) as z:
        zi = z.getinfo(member)
    with open(path, "rb") as f:
        f.seek(zi.header_offset)
        hdr = f.read(30)
    name_len, extra_len = struct.unpack("<HH", hdr[26:30])
    return zi.header_offset + 30 + name_len + extra_len, zi.header_offset


def patch(src, dst, offset, new_bytes):
    data = bytearray(open(src, "rb").read())
    data[offset:offset + len(new_bytes)] = new_bytes
    open(os.path.join(OUT, dst), "wb").write(data)


def run_zip(args, cwd):
    subprocess.run(["zip", "-q"] + args, cwd=cwd, check=True)


def zip64_archive(archive, name, data, claimed_size=None, crc=None):
    """One deflated member in the full zip64 form large archives take (7-Zip
    and others past 4 GiB): sizes and offset only in zip64 extra blocks, a
    zip64 end record and its locator. claimed_size and crc lie when given."""
    import zlib
    co = zlib.compressobj(6, zlib.DEFLATED, -15)
    comp = co.compress(data) + co.flush()
    size = len(data) if claimed_size is None else claimed_size
    crc = zlib.crc32(data) if crc is None else crc
    n = name.encode()
    dos_time, dos_date = 0x6DAF, 0x50B1
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 8, dos_time, dos_date, crc, 0xFFFFFFFF, 0xFFFFFFFF,
                        len(n), 20) + n + struct.pack("<HHQQ", 1, 16, size, len(comp))
    cen = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 8, dos_time, dos_date, crc, 0xFFFFFFFF,
                      0xFFFFFFFF, len(n), 28, 0, 0, 0, 0x20, 0xFFFFFFFF) + n + \
        struct.pack("<HHQQQ", 1, 24, size, len(comp), 0)
    cd_off = len(local) + len(comp)
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 1, 1, len(cen), cd_off)
    locator = struct.pack("<IIQI", 0x07064B50, 0, cd_off + len(cen), 1)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    open(os.path.join(OUT, archive), "wb").write(local + comp + cen + end64 + locator + end)


def main():
    os.makedirs(OUT, exist_ok=True)
    big = payload(100000, 1)
    open(os.path.join(OUT, "big.bin"), "wb").write(big)

    write_zip("stored.zip", [(info("hello.txt"), b"hello stored\n")])
    write_zip("deflated.zip", [(info("data/big.bin", zipfile.ZIP_DEFLATED), big)])
    write_zip("empty_member.zip", [(info("empty.txt"), b"")])

    # Names a hostile or careless packer may write.
    long_tail = "x" * 240 + "/../TervalisOnline2D.exe" + "y" * 40
    names = ["C:\\x\\..\\TervalisOnline2D.exe", "/abs/name", "a\\..\\b", "..\\up.txt",
             "\\\\server\\share", "c:/d:/e", long_tail, "n" * 300]
    write_zip("names.zip", [(info(n), b"n") for n in names])

    # Attributes: DOS host bits, Unix host modes, a directory.
    write_zip("attrs.zip", [
        (info("dos_ro.txt", host=0, attrs=0x21), b"dos read-only\n"),
        (info("dos_hidden.txt", host=0, attrs=0x22), b"dos hidden\n"),
        (info("ntfs_sys.txt", host=11, attrs=0x24), b"ntfs system\n"),
        (info("unix_ro.txt", host=3, attrs=0o100444 << 16), b"unix read-only\n"),
        (info("unix_rw.txt", host=3, attrs=0o100644 << 16), b"unix writable\n"),
        (info("sub/dir/", host=3, attrs=(0o40755 << 16) | 0x10), b""),
    ])

    # Extended timestamp: write time only (flags 1), and all three (flags 7).
    ut1 = b"UT" + struct.pack("<HBi", 5, 1, 1234567890)
    ut7 = b"UT" + struct.pack("<HBiii", 13, 7, 1000000000, 1100000000, -86400)
    cut = b"UT" + struct.pack("<HBi", 5, 7, 1500000000)  # flags promise more than the block holds
    other = b"\x0a\x00" + struct.pack("<H", 4) + b"\0\0\0\0"  # an unrelated block first
    write_zip("ut.zip", [(info("ut1.txt", extra=ut1), b"ut1\n"),
                         (info("ut7.txt", extra=other + ut7), b"ut7\n"),
                         (info("ut_cut.txt", extra=cut), b"cut\n")])

    # Info-ZIP's zip: Unix modes, its own "UT" blocks, directories, a
    # streamed member (data descriptor) and an encrypted one.
    work = tempfile.mkdtemp()
    try:
        tree = os.path.join(work, "tree")
        os.makedirs(os.path.join(tree, "sub", "deeper"))
        f = os.path.join(tree, "sub", "deeper", "file.txt")
        open(f, "wb").write(b"from info-zip\n")
        os.utime(f, (1300000000, 1234500000))
        ro = os.path.join(tree, "readonly.txt")
        open(ro, "wb").write(b"read only\n")
        os.chmod(ro, 0o444)
        run_zip(["-r", os.path.join(OUT, "infozip.zip"), "sub", "readonly.txt"], tree)
        run_zip(["-0", os.path.join(OUT, "infozip_stored.zip"), "readonly.txt"], tree)
        run_zip(["-P", "secret", os.path.join(OUT, "encrypted.zip"), "readonly.txt"], tree)
        # Through a pipe zip cannot seek back: sizes go in a data descriptor.
        streamed = subprocess.run(["zip", "-q", "-", "-"], input=big, stdout=subprocess.PIPE, check=True).stdout
        open(os.path.join(OUT, "streamed.zip"), "wb").write(streamed)
    finally:
        shutil.rmtree(work)

    # Damage. Deflated data whose first block has the reserved type 3.
    path = os.path.join(OUT, "deflated.zip")
    off, hdr = data_offset(path, "data/big.bin")
    patch(path, "bad_deflate.zip", off, b"\xff")
    # Stored data with one byte changed: reads to the end, fails the CRC-32.
    path = os.path.join(OUT, "stored.zip")
    off, hdr = data_offset(path, "hello.txt")
    patch(path, "bad_crc.zip", off, b"J")
    # Local header names another compression method than the central record.
    patch(path, "bad_header.zip", hdr + 8, struct.pack("<H", 8))
    # Central record announces more data than the deflate stream holds.
    path = os.path.join(OUT, "deflated.zip")
    raw = bytearray(open(path, "rb").read())
    cen = raw.rfind(b"PK\x01\x02")
    _, hdr = data_offset(path, "data/big.bin")
    raw[cen + 24:cen + 28] = struct.pack("<I", len(big) + 1000)
    raw[hdr + 22:hdr + 26] = struct.pack("<I", len(big) + 1000)
    open(os.path.join(OUT, "short.zip"), "wb").write(raw)

    # Zip64: whole, claiming 6 GiB it does not hold, with a wrong CRC-32.
    zip64_archive("zip64.zip", "data/big.bin", big)
    zip64_archive("zip64_huge.zip", "data/big.bin", big, claimed_size=6 << 30)
    zip64_archive("zip64_bad_crc.zip", "data/big.bin", big, crc=0x12345678)

    open(os.path.join(OUT, "not_a_zip.html"), "wb").write(b"<html><body>404 Not Found</body></html>\n")
    open(os.path.join(OUT, "empty_file.zip"), "wb").write(b"")
    open(os.path.join(OUT, "stamp"), "w").write("ok\n")


main()
