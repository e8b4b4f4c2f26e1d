#!/usr/bin/env python3
"""Reference listings of a ZIP archive from Python's zipfile, in quelt-cli's formats.

Names and comments are decoded as quelt does: UTF-8 with flag bit 11; CP437 when made on
a DOS-like host; otherwise UTF-8 when valid, else CP437."""
import sys
import zipfile

DOS_HOSTS = {0, 6, 11, 14}


def raw_bytes(text, flags):
    return text.encode("utf-8") if flags & 0x800 else text.encode("cp437")


def decode(raw, flags, made_by_host):
    if flags & 0x800:
        return raw.decode("utf-8")
    if made_by_host in DOS_HOSTS:
        return raw.decode("cp437")
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("cp437")


def escaped(name):
    """As quelt-cli list --tsv writes a path: \\, \\t, \\n, \\r, other controls as \\xHH."""
    out = []
    for c in name:
        if c in "\\\t\n\r":
            out.append({"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r"}[c])
        elif ord(c) < 0x20 or ord(c) == 0x7F:
            out.append(f"\\x{ord(c):02x}")
        else:
            out.append(c)
    return "".join(out)


def listing(path):
    with zipfile.ZipFile(path) as z:
        for i in z.infolist():
            name = decode(raw_bytes(i.orig_filename, i.flag_bits), i.flag_bits, i.create_system)
            y, mo, d, h, mi, s = i.date_time
            print(f"{escaped(name)}\t{i.file_size}\t{i.compress_size}\t{i.compress_type}\t"
                  f"{i.CRC:08x}\t{y:04d}-{mo:02d}-{d:02d} {h:02d}:{mi:02d}:{s:02d}\t"
                  f"{i.flag_bits & 1}")


def comments(path):
    with zipfile.ZipFile(path) as z:
        c = z.comment
        try:
            text = c.decode("utf-8")
        except UnicodeDecodeError:
            text = c.decode("cp437")
        print(text.encode("utf-8").hex())
        for i in z.infolist():
            print(decode(i.comment, i.flag_bits, i.create_system).encode("utf-8").hex())


if __name__ == "__main__":
    {"list": listing, "comments": comments}[sys.argv[1]](sys.argv[2])
