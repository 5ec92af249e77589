#!/usr/bin/python3
"""check_totals.py IMAGEDIR MFTTOTALS WINE-RUN

For every image made by make_images.py: the folder figures that MftTotals
reads through the explorer's scanner must equal those of the mounted tree
(IMAGE.expected) and those of the independent reader, for every folder; and
the volume data it answers must match ntfsinfo -m. NTFS's own metadata folder
$Extend is hidden in a mounted tree and left out of the comparison.
"""
import glob
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def parse(text):
    figures = {}
    for line in text.splitlines():
        if not line or line.startswith("Error ") or line.startswith("\\$Extend"):
            continue
        fields = line.split("\t")
        figures[fields[0]] = tuple(int(f) for f in fields[1:])
    return figures


def mft_totals(tool, wine, args):
    run = subprocess.run([wine, tool] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=240)
    out = run.stdout.decode("utf-8").replace("\r\n", "\n")
    if run.returncode != 0:
        sys.exit("MftTotals failed (%d):\n%s%s" % (run.returncode, out, run.stderr.decode(errors="replace")))
    sections, current = {}, None
    for line in out.split("\n"):
        if line.startswith("== "):
            current = line[3:]
            sections[current] = []
        elif current is not None:
            sections[current].append(line)
    return {k: "\n".join(v) for k, v in sections.items()}


def compare(label, expected, actual):
    problems = []
    for folder in sorted(set(expected) | set(actual)):
        if expected.get(folder) != actual.get(folder):
            problems.append("%s %s: expected %s, got %s" % (label, folder, expected.get(folder), actual.get(folder)))
    return problems


def ntfsinfo(image):
    out = subprocess.run(["ntfsinfo", "-m", image], stdout=subprocess.PIPE, check=True).stdout.decode()
    values = {}
    for line in out.splitlines():
        line = line.strip()
        if ":" in line:
            key, value = line.split(":", 1)
            values[key.strip()] = value.strip()
    return values


def main():
    folder, tool, wine = sys.argv[1:4]
    images = sorted(glob.glob(os.path.join(folder, "*.img")))
    if not images:
        sys.exit("no images in " + folder)
    # One wine start for all images; with one image there is no header.
    args = [windows_path(i) for i in images] + ([windows_path(images[0])] if len(images) == 1 else [])
    scanned = mft_totals(tool, wine, args)
    problems = []
    for image in images:
        name = os.path.basename(image)
        with open(image + ".expected", encoding="utf-8") as f:
            mounted = parse(f.read())
        reader = parse(subprocess.run([sys.executable, os.path.join(HERE, "ntfs_reader.py"), image],
                                      stdout=subprocess.PIPE, check=True).stdout.decode("utf-8"))
        mine = parse(scanned[windows_path(image)])
        if len(mounted) < 2:
            problems.append(name + ": the mounted tree has no folders")
        problems += compare(name + " scanner/mounted", mounted, mine)
        problems += compare(name + " reader/mounted", mounted, reader)

        volume = dict(l.split("\t") for l in mft_totals(tool, wine, ["--volume", windows_path(image)] * 2)
                      [windows_path(image)].splitlines() if "\t" in l)
        info = ntfsinfo(image)
        pairs = [("TotalClusters", info["Volume Size in Clusters"]), ("BytesPerSector", info["Sector Size"]),
                 ("BytesPerCluster", info["Cluster Size"]), ("BytesPerFileRecordSegment", info["MFT Record Size"]),
                 ("MftStartLcn", info["LCN of Data Attribute for FILE_MFT"]),
                 ("Mft2StartLcn", info["LCN of Data Attribute for File_MFTMirr"]),
                 ("FreeClusters", info["Free Clusters"].split()[0])]
        mft = dict(l.split("\t") for l in subprocess.run(
            [sys.executable, os.path.join(HERE, "ntfs_reader.py"), "--mft", image],
            stdout=subprocess.PIPE, check=True).stdout.decode().splitlines())
        pairs.append(("MftValidDataLength", mft["MftValidDataLength"]))
        for key, want in pairs:
            if int(volume.get(key, -1)) != int(want):
                problems.append("%s volume %s: expected %s, got %s" % (name, key, want, volume.get(key)))
        print("%s: %d folders agree" % (name, len(mounted)))
    if problems:
        print("\n".join(problems[:40]))
        sys.exit("%d differences" % len(problems))


if __name__ == "__main__":
    main()
