"""The varnel module end to end against the boot-loader simulator."""
import json
import os
import random
import signal
import threading

import pytest
import varnel


def random_bytes(n, seed):
    r = random.Random(seed)
    return bytes(r.randrange(256) for _ in range(n))


def test_connect_program_with_serial_read_verify_blank_check(sim):
    with varnel.Target(sim(), baud=38400) as t:
        info = t.connect()
        assert (info.chip, info.id, info.flash_bytes) == ("MSC1210Y5", 3, 32768)
        assert abs(info.clock_hz - 11059200) <= info.clock_step_hz

        img = varnel.Image.from_bytes(random_bytes(600, 1), base=0x0200)
        img.put(0x7FF0, b"\x2a\x00\x00\x00")
        assert img.ranges == [(0x0200, 0x0457), (0x7FF0, 0x7FF3)]
        steps = []
        r = t.program(img, verify=True, progress=lambda done, total: steps.append((done, total)))
        assert (r.bytes_written, r.verified) == (604, True)
        assert (604, 604) in steps and all(d <= n for d, n in steps)

        assert t.read("code", 0x0200, 0x0457) == img.get(0x0200, 0x258)
        assert t.read("code", 0x7FF0, 0x7FF3, twice=True) == b"\x2a\x00\x00\x00"
        assert t.verify(img) == []
        assert t.blank_check() == 0x0200
        t.erase()
        assert t.blank_check() is None


def test_differences_and_each_error(sim, tmp_path):
    img = varnel.Image.from_bytes(random_bytes(256, 2), base=0x1000)
    weak = 0x1010
    with varnel.Target(sim("--weak-cell", "1010:01"), baud=38400, timeout=0.5) as t:
        with pytest.raises(varnel.BadFile):  # no connect yet
            t.read("code", 0, 15)
        t.connect()
        t.program(img)
        expected = [(weak, img.get(weak, 1)[0], img.get(weak, 1)[0] ^ 1)]
        assert t.verify(img) == expected
        with pytest.raises(varnel.VerifyFailed) as failed:
            t.program(img, verify=True)
        assert failed.value.differences == expected
        assert (failed.value.kind, failed.value.exit_status, failed.value.address) == (
            "VerifyFailed", 1, weak)
        assert isinstance(failed.value, varnel.Error)

    bad = tmp_path / "bad.hex"
    bad.write_text(":0400000001020304F2\n:04001000XX\n")
    with pytest.raises(varnel.BadFile, match="line 2") as e:
        varnel.Image.load(str(bad))
    assert e.value.exit_status == 2
    with pytest.raises(varnel.PortError) as e:
        varnel.Target(str(tmp_path / "no-such-port"))
    assert e.value.exit_status == 4

    with varnel.Target(sim("--refuse-erase", "--silent-after", "12"), baud=38400, timeout=0.5) as t:
        t.connect()
        with pytest.raises(varnel.Refused) as e:
            t.erase()
        assert e.value.exit_status == 1
        with pytest.raises(varnel.NoAnswer) as e:
            t.read("code", 0, 0x7FFF)
        assert e.value.exit_status == 3
    with varnel.Target(sim("--damage", "1,20"), baud=38400) as t:
        t.connect()
        with pytest.raises(varnel.Damaged) as e:
            t.read("iram", 0x00, 0xFF)
        assert e.value.exit_status == 3


def test_two_targets_program_at_once_from_two_threads(sim):
    images = [varnel.Image.from_bytes(random_bytes(2048, s)) for s in (3, 4)]
    results = {}

    def run(path, img, key):
        with varnel.Target(path, baud=38400) as t:
            t.connect()
            t.program(img, verify=True)
            results[key] = t.read("code", 0, 2047)

    threads = [threading.Thread(target=run, args=(sim(), img, k)) for k, img in enumerate(images)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert results == {0: images[0].get(0, 2048), 1: images[1].get(0, 2048)}


def test_ctrl_c_ends_the_download_with_the_end_record_then_raises(sim, tmp_path):
    trace = tmp_path / "run.trace"
    with varnel.Target(sim("--paced"), baud=9600, trace=str(trace)) as t:
        t.connect()
        sent = []

        def progress(done, total):
            if done > 256 and not sent:
                sent.append(done)
                os.kill(os.getpid(), signal.SIGINT)

        with pytest.raises(KeyboardInterrupt):
            t.program(varnel.Image.from_bytes(random_bytes(8192, 5)), progress=progress)
        lines = [l for l in trace.read_text().splitlines() if " > " in l]
        assert ":00000001FF" in lines[-1]
        assert t.connect().chip == "MSC1210Y5"


def test_station_of_two_boards_with_serial_numbers_and_a_log(sim, tmp_path):
    """A production loop's run: a number per board after its erase, a record each."""
    code = random_bytes(2000, 5)
    (tmp_path / "fw.bin").write_bytes(code)
    (tmp_path / "serial.txt").write_text("70\n")
    ports = [sim(), sim()]
    events = []
    station = varnel.Station(ports=ports, file=str(tmp_path / "fw.bin"), baud=38400,
                             serial=(0x7FFE, 2, "ascii"), serial_file=str(tmp_path / "serial.txt"),
                             log=str(tmp_path / "log.jsonl"), on_event=events.append)
    assert station.run() == 0
    assert (tmp_path / "serial.txt").read_text() == "72\n"
    done = {e.port: e for e in events if e.state == "ok"}
    assert sorted(done) == sorted(ports)
    assert sorted(e.serial for e in done.values()) == [70, 71]
    assert all(e.target.chip == "MSC1210Y5" for e in done.values())
    assert {e.message for e in events if e.state == "output"} == {"verify: 2002 bytes match fw.bin"}
    records = [json.loads(line) for line in (tmp_path / "log.jsonl").read_text().splitlines()]
    assert sorted((r["port"], r["serial"], r["result"]) for r in records) == \
        sorted((e.port, e.serial, "ok") for e in done.values())
    for port, e in done.items():
        with varnel.Target(port, baud=38400) as t:
            t.connect()
            assert t.read("code", 0, 1999) == code
            assert t.read("code", 0x7FFE, 0x7FFF) == str(e.serial).encode()
    # A bad file is refused before any port opens.
    (tmp_path / "cut.hex").write_text(":0400000001020304F2\n")
    with pytest.raises(varnel.BadFile, match="no end record"):
        varnel.Station(ports=ports, file=str(tmp_path / "cut.hex"))
