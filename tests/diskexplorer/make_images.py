#!/usr/bin/python3
"""Makes the NTFS test images of the disk space explorer's tests.

make_images.py OUTDIR

Each image is formatted with mkntfs, mounted through ntfs-3g (FUSE), filled,
and walked while mounted to write the expected folder figures to IMAGE.expected:
every name of a file counts in its folder, a file's size is the sum of its
streams' logical sizes, DOS short names are not names. One line per folder:
path, size, file count, total size, total file count (tab-separated; the root
is "\\"). One extra file goes in with ntfscp on the unmounted image.
Images already made by this same script are kept.
"""
import hashlib
import os
import subprocess
import sys
import tempfile

STREAMS = "streams_interface=xattr"


def fill_small(root):
    os.makedirs(f"{root}/docs/sub")
    os.makedirs(f"{root}/other")
    os.makedirs(f"{root}/empty")
    os.makedirs(f"{root}/\u00fcn\u00ef")
    write(f"{root}/docs/readme.txt", 100)
    os.setxattr(f"{root}/docs/readme.txt", "user.summary", b"s" * 50)
    write(f"{root}/docs/sub/deep.bin", 5000)
    os.link(f"{root}/docs/readme.txt", f"{root}/other/readme-link.txt")
    write(f"{root}/other/LongFileName.text", 10)
    os.setxattr(f"{root}/other/LongFileName.text", "system.ntfs_dos_name", b"LONGFI~1.TXT")
    with open(f"{root}/sparse.bin", "wb") as f:
        f.truncate(1 << 30)
    write(f"{root}/docs/deleted.tmp", 3000)
    os.remove(f"{root}/docs/deleted.tmp")
    write(f"{root}/\u00fcn\u00ef/\u65e5\u672c\u8a9e.txt", 33)
    write(f"{root}/\u00fcn\u00ef/emoji-\U0001F600.txt", 44)


def fill_large(root):
    fill_small(root)
    os.makedirs(f"{root}/many")
    for i in range(10000):
        write(f"{root}/many/f{i:05d}", i % 100)
    deep = f"{root}/deep"
    for level in range(300):
        deep += "/d"
        os.makedirs(deep)
        if level % 50 == 49:
            write(f"{deep}/level{level + 1}.txt", level + 1)
    # 121 names: the $FILE_NAME attributes need extension records and an $ATTRIBUTE_LIST.
    os.makedirs(f"{root}/links/a")
    os.makedirs(f"{root}/links/b")
    write(f"{root}/links/multi.txt", 777)
    for i in range(120):
        os.link(f"{root}/links/multi.txt", f"{root}/links/{'ab'[i % 2]}/name-{i:03d}.txt")
    # A cluster of data after every hole: 600 fragments, whose run list
    # spreads over several extension records.
    os.makedirs(f"{root}/frag")
    with open(f"{root}/frag/fragmented.bin", "wb") as f:
        for i in range(600):
            f.seek(i * 8192)
            f.write(b"f" * 4096)
            f.flush()
            os.fsync(f.fileno())


def fill_bench(root, files):
    for d in range(files // 1000):
        os.makedirs(f"{root}/b{d:03d}")
        for i in range(1000):
            write(f"{root}/b{d:03d}/f{i:04d}", (i * 37) % 900)


def write(path, size):
    with open(path, "wb") as f:
        f.write(b"x" * size)


def expected_figures(root):
    """Folder figures of the mounted tree."""
    folders = {}

    def walk(path, rel):
        size = count = total = total_count = 0
        with os.scandir(path) as entries:
            for entry in entries:
                if entry.is_dir(follow_symlinks=False):
                    t, tc = walk(entry.path, rel + "\\" + entry.name)
                    total += t
                    total_count += tc
                else:
                    s = entry.stat(follow_symlinks=False).st_size
                    for name in os.listxattr(entry.path, follow_symlinks=False):
                        if name.startswith("user."):
                            s += len(os.getxattr(entry.path, name, follow_symlinks=False))
                    size += s
                    count += 1
        total += size
        total_count += count
        folders[rel or "\\"] = (size, count, total, total_count)
        return total, total_count

    walk(root, "")
    return folders


def make(path, size_mb, fill, extra_copy=None):
    if os.path.exists(path):
        os.remove(path)
    with open(path, "wb") as f:
        f.truncate(size_mb << 20)
    subprocess.run(["mkntfs", "-F", "-q", "-f", "-c", "4096", "-s", "512", path], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory() as mount:
        subprocess.run(["ntfs-3g", "-o", STREAMS, path, mount], check=True)
        try:
            fill(mount)
        finally:
            subprocess.run(["umount", mount], check=True)
    if extra_copy:
        # A file put in without a mount, as ntfscp writes it.
        with tempfile.NamedTemporaryFile() as source:
            source.write(b"c" * extra_copy[1])
            source.flush()
            subprocess.run(["ntfscp", "-f", "-q", path, source.name, extra_copy[0]], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory() as mount:
        subprocess.run(["ntfs-3g", "-o", STREAMS + ",ro", path, mount], check=True)
        try:
            figures = expected_figures(mount)
        finally:
            subprocess.run(["umount", mount], check=True)
    with open(path + ".expected", "w", encoding="utf-8") as out:
        for folder in sorted(figures):
            out.write("%s\t%d\t%d\t%d\t%d\n" % ((folder,) + figures[folder]))


def main():
    out = sys.argv[1]
    bench_files = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    os.makedirs(out, exist_ok=True)
    stamp = hashlib.sha256(open(__file__, "rb").read()).hexdigest()
    images = [("small.img", 8, fill_small, ("copied.txt", 1234)), ("large.img", 96, fill_large, None)]
    if bench_files:
        images = [("bench.img", 64 + bench_files * 3 // 1000, lambda r: fill_bench(r, bench_files), None)]
    for name, size_mb, fill, extra in images:
        path = os.path.join(out, name)
        stamp_path = path + ".stamp"
        if os.path.exists(path + ".expected") and os.path.exists(stamp_path) and \
                open(stamp_path).read() == stamp:
            continue
        make(path, size_mb, fill, extra)
        with open(stamp_path, "w") as f:
            f.write(stamp)


if __name__ == "__main__":
    main()
