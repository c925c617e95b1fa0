"""An update of 3 GiB spread over many small files, on both builds: the
amounts and the bar are right at its start, in its middle and at its end,
although no single file comes near any 32-bit limit. The faulty server
holds the transfer at the start and in the middle until the test has seen
the launcher there; the Windows window is photographed under Xvfb and
compared with the same state painted by the splash probe, and the POSIX
launcher's progress lines are read.

Cheap to make and serve: every file's archive is one hard-linked 8 MiB
stored zip; the launcher writes its 3 GiB, which the test removes again."""
import hashlib
import shutil
import zipfile

import pytest

from conftest import win_path
from splash_helpers import BAR, FILE_LINE, SKIN, Probe, install_skins, region, same, screenshot, wait_for
from updates import FAULTY, SETTINGS, faulty, run_posix  # noqa: F401 (faulty is a fixture)

MiB = 1 << 20
COUNT = 384                 # files of 8 MiB each: 3 GiB
ARCHIVE = 8 * MiB           # each file's archive as served
MIDDLE = COUNT // 2 - 1     # held with about half of its archive sent
# Just short of a MiB past the half: WinINet may keep up to one read (under
# 1 MiB) of what was sent until more comes, and the amounts (in MB) and the
# bar must read the same either way.
KEPT = ARCHIVE // 2 + MiB - 1
BAR_WIDTH = 422
# Last, and long to unpack after its small archive: the full bar stays up.
LAST, LAST_SIZE = "data/many/zz_last.bin", 160 * MiB


def name(i):
    return f"data/many/f{i:03d}.bin"


@pytest.fixture(scope="module")
def release(tmp_path_factory):
    """(server root, total bytes to fetch)."""
    root = tmp_path_factory.mktemp("many")
    up = root / "3d" / "data" / "many"
    up.mkdir(parents=True)
    (root / "swf").mkdir()
    (root / "swf" / "clan_icons_list.txt").write_bytes(b"")

    def stored(path, size):
        info = zipfile.ZipInfo("f.bin", date_time=(2024, 5, 1, 0, 0, 0))
        with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
            z.writestr(info, bytes(size))

    stored(root / "one.zip", ARCHIVE)
    body = ARCHIVE - (root / "one.zip").stat().st_size + ARCHIVE  # the archive exactly 8 MiB
    stored(root / "one.zip", body)
    assert (root / "one.zip").stat().st_size == ARCHIVE
    digest = hashlib.md5(bytes(body)).hexdigest().upper()
    lines = []
    for i in range(COUNT):
        (up / f"f{i:03d}.bin").hardlink_to(root / "one.zip")
        lines.append(f"{name(i)}\tx\t0\t{ARCHIVE}\t{digest}")
    with zipfile.ZipFile(root / "3d" / LAST, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(zipfile.ZipInfo("zz_last.bin", date_time=(2024, 5, 1, 0, 0, 0)), bytes(LAST_SIZE),
                   zipfile.ZIP_DEFLATED)
    last = (root / "3d" / LAST).stat().st_size
    lines.append(f"{LAST}\tx\t0\t{last}\t{hashlib.md5(bytes(LAST_SIZE)).hexdigest().upper()}")
    with zipfile.ZipFile(root / "3d" / "files.txt", "w") as z:
        z.writestr("files.txt", ("\r\n".join(lines) + "\r\n").encode())
    return root, COUNT * ARCHIVE + last


def held(server, tmp_path):
    """Holds the first file unsent and the middle one half sent, each until
    its gate file exists; returns the gates."""
    gates = [tmp_path / "start.open", tmp_path / "middle.open"]
    server.set_rules({"/3d/" + name(0): {"mode": "stall", "keep": 0, "until": str(gates[0])},
                      "/3d/" + name(MIDDLE): {"mode": "stall", "keep": KEPT, "until": str(gates[1])}})
    return gates


# (current file, bytes done) where the window is seen: at the start, in the
# middle and at the end.
def points(total):
    middle = MIDDLE * ARCHIVE + KEPT
    shown = [middle - MiB + 1, middle]  # the least and the most the window may show
    assert len({d >> 20 for d in shown}) == len({d * BAR_WIDTH // total for d in shown}) == 1
    return [(name(0), 0), (name(MIDDLE), middle), (LAST, total)]


def installed_and_removed(inst, body_count):
    """The files are all there; then their gigabytes go."""
    folder = inst.path / "data" / "many"
    files = sorted(folder.iterdir())
    assert len(files) == body_count
    assert all(f.stat().st_size == (LAST_SIZE if f.name == "zz_last.bin" else files[0].stat().st_size)
               for f in files)
    shutil.rmtree(folder)


def test_posix_progress_lines_at_start_middle_and_end(release, netns, posix_install, nginx):
    # A line for every file as it starts, with what was counted before it.
    root, total = release
    nginx(root)
    inst = posix_install()
    inst.write_ini(**SETTINGS)
    run = run_posix(netns, inst, [])
    assert run.code == 0, run.stderr[-2000:]
    lines = [line[len("progress: "):] for line in run.stderr.splitlines() if line.startswith("progress: ")]
    mb = total >> 20
    for i in (0, COUNT // 2):
        done = i * ARCHIVE
        want = f"{name(i)}  {done >> 20} / {mb} MB ({done * 100 // total}%)"
        assert want in lines, (want, [x for x in lines if x.startswith(name(i))])
    assert lines[-1].endswith(f"  {mb} / {mb} MB (100%)"), lines[-3:]
    installed_and_removed(inst, COUNT + 1)


def test_window_bar_and_amounts_at_start_middle_and_end(release, netwine, win_install, faulty, xvfb, tmp_path):
    root, total = release
    inst = win_install()
    install_skins(inst, {"tervalis.png": SKIN.read_bytes()})
    # What each point must look like, painted by the probe with the
    # launcher's own code from the amounts the test expects.
    probe = Probe(netwine, inst.path)
    try:
        want = []
        for file, done in points(total):
            probe.show(file=file, total=total, done=done)
            shot = screenshot(xvfb)
            want.append([region(shot, probe.origin, box) for box in (BAR, FILE_LINE)])
        origin = probe.origin
    finally:
        probe.close()
    netwine.wait_all()

    server = faulty(root)
    gates = held(server, tmp_path)
    inst.write_ini(**dict(SETTINGS, update_server=FAULTY, icons_server=FAULTY))
    exe = win_path(inst.launcher)
    proc = netwine.spawn(exe, f'"{exe}"')
    try:
        seen = []
        for point, expected in zip(["start", "middle", "end"], want):
            # The end shows only while the last file unpacks.
            shot = wait_for(lambda: (lambda s: s if all(same(region(s, origin, box), e) for box, e in
                                                        zip((BAR, FILE_LINE), expected)) else None)(screenshot(xvfb)),
                            300 if point != "end" else 120, step=0.02)
            seen.append(point)
            assert shot, f"the window never showed the {point} as the probe paints it; seen {seen[:-1]}"
            if len(seen) <= len(gates):
                gates[len(seen) - 1].touch()
        proc.communicate(timeout=300)
    finally:
        if proc.poll() is None:
            proc.kill()
    netwine.wait_all()
    assert len(inst.wait_game_runs()) == 1
    installed_and_removed(inst, COUNT + 1)
