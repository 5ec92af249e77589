#!/usr/bin/python3
"""An NTFS image reader of its own, independent of the explorer's scanner.

ntfs_reader.py IMAGE           folder figures, in the format of MftTotals
ntfs_reader.py --mft IMAGE     the $MFT's initialized size and record size

It reads every MFT record from the image itself (boot sector, $MFT run list,
update sequence fix-ups, the in-use flag of the record header), gathers each
file's attributes through its $ATTRIBUTE_LIST, and adds each file name's size
(all its streams) to its folder and every folder above it.
"""
import struct
import sys

ROOT = 5
FIRST_USER = 16
MASK48 = (1 << 48) - 1


class Image:
    def __init__(self, path):
        self.file = open(path, "rb")
        boot = self.read(0, 512)
        assert boot[3:11] == b"NTFS    ", "not an NTFS image"
        sector = struct.unpack_from("<H", boot, 0x0B)[0]
        self.cluster = sector * boot[0x0D]
        per_record = struct.unpack_from("<b", boot, 0x40)[0]
        self.record_size = per_record * self.cluster if per_record > 0 else 1 << -per_record
        mft_lcn = struct.unpack_from("<Q", boot, 0x30)[0]
        self.mft_runs = [(0, mft_lcn, 1 << 40)]  # enough to read record 0
        mft = self.raw_record(0)
        data = [a for a in attributes(mft) if a["type"] == 0x80 and a["name"] == ""][0]
        self.mft_runs = data["runs"]
        self.mft_initialized = data["initialized"]
        self.count = self.mft_initialized // self.record_size

    def read(self, offset, size):
        self.file.seek(offset)
        return self.file.read(size)

    def read_stream(self, runs, offset, size):
        out = b""
        while size > 0:
            vcn, within = divmod(offset, self.cluster)
            for start, lcn, length in runs:
                if start <= vcn < start + length:
                    piece = min(size, (start + length - vcn) * self.cluster - within)
                    out += self.read((lcn + vcn - start) * self.cluster + within, piece)
                    offset += piece
                    size -= piece
                    break
            else:
                raise ValueError("offset outside the stream")
        return out

    def raw_record(self, number):
        data = bytearray(self.read_stream(self.mft_runs, number * self.record_size, self.record_size))
        if data[:4] != b"FILE":
            return None
        usa, entries = struct.unpack_from("<HH", data, 4)
        for i in range(1, entries):
            end = i * 512 - 2
            if data[end:end + 2] != data[usa:usa + 2]:
                return None
            data[end:end + 2] = data[usa + 2 * i:usa + 2 * i + 2]
        return bytes(data)


def runs_of(attr, at):
    runs, vcn, lcn = [], struct.unpack_from("<Q", attr, 0x10)[0], 0
    at = struct.unpack_from("<H", attr, 0x20)[0]
    while at < len(attr) and attr[at]:
        nl, no = attr[at] & 15, attr[at] >> 4
        length = int.from_bytes(attr[at + 1:at + 1 + nl], "little")
        if no:
            lcn += int.from_bytes(attr[at + 1 + nl:at + 1 + nl + no], "little", signed=True)
            runs.append((vcn, lcn, length))
        vcn += length
        at += 1 + nl + no
    return runs


def attributes(record):
    out, at = [], struct.unpack_from("<H", record, 0x14)[0]
    while True:
        kind, length = struct.unpack_from("<II", record, at)
        if kind == 0xFFFFFFFF:
            return out
        attr = record[at:at + length]
        name_length, name_offset = attr[9], struct.unpack_from("<H", attr, 0x0A)[0]
        a = {"type": kind, "name": attr[name_offset:name_offset + 2 * name_length].decode("utf-16-le"),
             "resident": attr[8] == 0}
        if a["resident"]:
            value_length, value_offset = struct.unpack_from("<IH", attr, 0x10)
            a["value"] = attr[value_offset:value_offset + value_length]
            a["size"], a["first"] = value_length, True
        else:
            a["first"] = struct.unpack_from("<Q", attr, 0x10)[0] == 0
            a["size"], a["initialized"] = struct.unpack_from("<QQ", attr, 0x30)
            a["runs"] = runs_of(attr, at)
        out.append(a)
        at += length


def gather(image, number, record):
    """Every attribute of a base record, through its attribute list."""
    attrs = attributes(record)
    lists = [a for a in attrs if a["type"] == 0x20]
    if not lists:
        return attrs
    entries = lists[0]["value"] if lists[0]["resident"] else \
        image.read_stream(lists[0]["runs"], 0, lists[0]["size"])
    others, at = [], 0
    while at + 26 <= len(entries):
        length = struct.unpack_from("<H", entries, at + 4)[0]
        ref = struct.unpack_from("<Q", entries, at + 16)[0] & MASK48
        if ref != number and ref not in others:
            others.append(ref)
        at += length
    for ref in others:
        extension = image.raw_record(ref)
        if extension and struct.unpack_from("<Q", extension, 0x20)[0] & MASK48 == number:
            attrs += attributes(extension)
    return attrs


def figures(image):
    names, sizes, folders = {}, {}, set()
    for number in range(image.count):
        record = image.raw_record(number)
        if not record or not record[0x16] & 1 or struct.unpack_from("<Q", record, 0x20)[0]:
            continue
        attrs = gather(image, number, record)
        names[number] = [(struct.unpack_from("<Q", a["value"], 0)[0] & MASK48,
                          a["value"][0x42:0x42 + 2 * a["value"][0x40]].decode("utf-16-le", "surrogatepass"))
                         for a in attrs if a["type"] == 0x30 and a["value"][0x41] != 2]
        sizes[number] = sum(a["size"] for a in attrs if a["type"] == 0x80 and a["first"])
        if record[0x16] & 2:
            folders.add(number)
    figures = {f: [0, 0, 0, 0] for f in folders}
    for number, file_names in names.items():
        if number in folders or number < FIRST_USER:
            continue
        for parent, _ in file_names:
            # The file system's own folders ($Extend) hold its own files.
            if parent < FIRST_USER and parent != ROOT:
                continue
            figures[parent][0] += sizes[number]
            figures[parent][1] += 1
            seen, at = set(), parent
            while at not in seen:
                seen.add(at)
                figures[at][2] += sizes[number]
                figures[at][3] += 1
                if at == ROOT:
                    break
                at = names[at][0][0]

    def path(number):
        parts = []
        while number != ROOT:
            parent, name = names[number][0]
            parts.append(name)
            number = parent
        return "\\" + "\\".join(reversed(parts))

    return {path(f): figures[f] for f in folders if f == ROOT or f >= FIRST_USER}


def main():
    if sys.argv[1] == "--mft":
        image = Image(sys.argv[2])
        print("MftValidDataLength\t%d\nBytesPerFileRecordSegment\t%d" % (image.mft_initialized, image.record_size))
        return
    result = figures(Image(sys.argv[1]))
    out = sys.stdout.buffer
    for folder in sorted(result):
        out.write(("%s\t%d\t%d\t%d\t%d\n" % ((folder,) + tuple(result[folder]))).encode("utf-8", "surrogatepass"))


if __name__ == "__main__":
    main()
