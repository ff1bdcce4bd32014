"""The Python module against rawdat-convert: the same header, the same bytes, the same messages."""
import json
import os
import shutil
import subprocess

import numpy as np
import pytest

import rawdat

CONVERT = os.environ["RAWDAT_CONVERT"]
SAMPLES = os.environ["RAWDAT_SAMPLES"]


def cli(folder, *args):
    return subprocess.run([CONVERT, *args], cwd=folder, capture_output=True, text=True)


@pytest.fixture
def sample(tmp_path):
    for f in ("LAB6.DAT", "CPS120.CAL"):
        shutil.copy(os.path.join(SAMPLES, f), tmp_path / f)
    return tmp_path


def dat_counts(path, channels):
    # The DAT layout: 1045 header bytes, then blocks of a framing byte, 32 Singles, a framing byte.
    raw = open(path, "rb").read()
    blocks = np.frombuffer(raw, np.uint8, (channels // 32) * 130, 1045).reshape(-1, 130)
    return np.rint(blocks[:, 1:129].copy().view("<f4").reshape(-1)).astype(float)


def test_read_gives_the_json_header_and_the_counts(sample):
    p = rawdat.read(str(sample / "LAB6.DAT"))
    out = cli(sample, "info", "--json", str(sample / "LAB6.DAT"))
    assert out.returncode == 0, out.stderr
    assert p.header == json.loads(out.stdout)
    assert p.ranges == p.header["ranges"]
    assert p.header["calibration"]["found"] is True
    assert len(p.x) == len(p.y) == p.header["channels"] == 4096
    np.testing.assert_array_equal(p.y, dat_counts(sample / "LAB6.DAT", 4096))
    assert p.x[0] == p.header["calibration"]["two_theta"]["from"]
    assert p.x[-1] == p.header["calibration"]["two_theta"]["to"]
    assert np.all(np.diff(p.x) > 0)


def test_convert_writes_the_bytes_of_the_converter(sample):
    written = rawdat.convert(str(sample / "LAB6.DAT"), also=("xy", "csv"))
    names = ["LAB6.RAW", "LAB6.2CL", "LAB6.xy", "LAB6.csv"]
    assert written == [str(sample / n) for n in names]
    ours = {n: (sample / n).read_bytes() for n in names}
    assert rawdat.convert(str(sample / "LAB6.DAT")) == []  # kept: its outputs exist
    assert rawdat.convert(str(sample / "LAB6.DAT"), force=True, also=["xy", "csv"]) == written
    for n in names:
        os.remove(sample / n)
    out = cli(sample, "--also", "xy,csv", str(sample / "LAB6.DAT"))
    assert out.returncode == 0, out.stderr
    for n in names:
        assert (sample / n).read_bytes() == ours[n], n
    # The RAW file read back: the grid and counts of its range.
    raw = rawdat.read(str(sample / "LAB6.RAW"))
    assert raw.header["variant"] == "RAW2"
    # The same range, but the counting time: the RAW2 writer stores 1 second a step.
    dat = rawdat.read(str(sample / "LAB6.DAT")).ranges[0]
    assert raw.ranges == [dict(dat, time_per_step=1.0)]
    assert len(raw.x) == raw.ranges[0]["points"]


def test_errors_carry_the_converters_message(sample, monkeypatch):
    (sample / "CUT.DAT").write_bytes((sample / "LAB6.DAT").read_bytes()[:1500])
    out = cli(sample, "-q", "CUT.DAT")
    assert out.returncode == 1
    monkeypatch.chdir(sample)
    with pytest.raises(rawdat.Error) as e:
        rawdat.convert("CUT.DAT")
    assert str(e.value) + "\n" == out.stderr
    assert str(e.value).startswith("CUT.DAT: Lecture au-del")
    assert sorted(os.listdir(sample)) == ["CPS120.CAL", "CUT.DAT", "LAB6.DAT"]
    with pytest.raises(rawdat.Error, match=r"^absent\.DAT: file not opened$"):
        rawdat.read("absent.DAT")
