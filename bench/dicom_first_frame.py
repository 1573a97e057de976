#!/usr/bin/python3
"""Open to first frame of a DICOM series against the same grid as a .dat
file: VOLUME.dat (a 512 x 512 x 256 head, say) is written as one DICOM file
per slice by pydicom (CT, unsigned 16-bit samples with a rescale intercept
of -1024, so that the densities the program derives are the .dat file's
own), then volren-render draws the first frame of each with ray casting.
Medians of --rounds runs: wall time, the kernel's ru_maxrss (the largest
single process: the program or its reader), and the peak resident memory of
the whole process tree, the program and its reader together, sampled every
5 ms. Both pictures must be the same.

usage: dicom_first_frame.py VOLREN_RENDER VOLUME.dat FILE.tf [--rounds N]
"""
import argparse
import array
import hashlib
import os
import statistics
import subprocess
import sys
import tempfile
import time

from pydicom.dataset import FileDataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

CT_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.2"


def write_series(volume, folder):
    with open(volume, "rb") as f:
        header = array.array("H", f.read(6))
        nx, ny, nz = header
        plane = nx * ny
        series = generate_uid()
        study = generate_uid()
        for z in range(nz):
            pixels = f.read(plane * 2)
            meta = FileMetaDataset()
            meta.MediaStorageSOPClassUID = CT_IMAGE_STORAGE
            meta.MediaStorageSOPInstanceUID = generate_uid()
            meta.TransferSyntaxUID = ExplicitVRLittleEndian
            name = os.path.join(folder, "slice%04d.dcm" % z)
            ds = FileDataset(name, {}, file_meta=meta, preamble=b"\0" * 128)
            ds.SOPClassUID = CT_IMAGE_STORAGE
            ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
            ds.StudyInstanceUID = study
            ds.SeriesInstanceUID = series
            ds.Modality = "CT"
            ds.PatientName = "Bench^Head"
            ds.InstanceNumber = z + 1
            ds.ImagePositionPatient = [0.0, 0.0, float(z)]
            ds.ImageOrientationPatient = [1.0, 0.0, 0.0, 0.0, 1.0, 0.0]
            ds.PixelSpacing = [1.0, 1.0]
            ds.SliceThickness = 1.0
            ds.Rows = ny
            ds.Columns = nx
            ds.SamplesPerPixel = 1
            ds.PhotometricInterpretation = "MONOCHROME2"
            ds.BitsAllocated = 16
            ds.BitsStored = 12
            ds.HighBit = 11
            ds.PixelRepresentation = 0
            ds.RescaleIntercept = -1024
            ds.RescaleSlope = 1
            ds.PixelData = pixels
            ds.is_little_endian = True
            ds.is_implicit_VR = False
            ds.save_as(name, write_like_original=False)
    return nx, ny, nz


def tree_rss_kib(root):
    """Resident memory of a process and all its descendants, in KiB."""
    total = 0
    pending = [root]
    while pending:
        pid = pending.pop()
        try:
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
            for task in os.listdir("/proc/%d/task" % pid):
                with open("/proc/%d/task/%s/children" % (pid, task)) as f:
                    pending.extend(int(c) for c in f.read().split())
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("render")
    parser.add_argument("volume")
    parser.add_argument("tf")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        series = os.path.join(scratch, "series")
        os.mkdir(series)
        nx, ny, nz = write_series(args.volume, series)
        rows = []
        pictures = {}
        for name, path in (("DICOM series (%d files)" % nz, series), (".dat", args.volume)):
            out = os.path.join(scratch, "frame%d.png" % len(pictures))
            command = [args.render, path, "-o", out, "--tf", args.tf, "--method", "ray-casting", "--converge", "0"]
            walls, trees, largest = [], [], []
            for _ in range(args.rounds):
                start = time.perf_counter()
                process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                tree = 0
                while True:
                    finished, status, usage = os.wait4(process.pid, os.WNOHANG)
                    if finished:
                        break
                    tree = max(tree, tree_rss_kib(process.pid))
                    time.sleep(0.005)
                walls.append(time.perf_counter() - start)
                if status != 0:
                    sys.exit("%s ended with status %d" % (" ".join(command), status))
                trees.append(tree)
                largest.append(usage.ru_maxrss)
            with open(out, "rb") as f:
                pictures[name] = hashlib.sha256(f.read()).hexdigest()
            rows.append((name, statistics.median(walls), statistics.median(largest) / 1024,
                         statistics.median(trees) / 1024))
        print("Open to first frame, %d x %d x %d, ray casting, volren-render --converge 0, median of %d runs"
              % (nx, ny, nz, args.rounds))
        print()
        print("| input | wall s | largest process MiB | process tree MiB |")
        print("|---|---:|---:|---:|")
        for row in rows:
            print("| %s | %.2f | %.0f | %.0f |" % row)
        series_row, dat_row = rows
        print()
        print("DICOM / .dat: time %.2f (target at most 1.5), largest process %.2f, process tree %.2f "
              "(target at most 1.25); pictures %s"
              % (series_row[1] / dat_row[1], series_row[2] / dat_row[2], series_row[3] / dat_row[3],
                 "identical" if len(set(pictures.values())) == 1 else "DIFFER"))


if __name__ == "__main__":
    main()
