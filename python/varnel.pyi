"""The MSC1210 serial boot loader from Python (stub for editors and type checkers)."""
from typing import Callable, List, Literal, Optional, Sequence, Tuple

__version__: str

Progress = Callable[[int, int], None]

class Error(RuntimeError):
    """A run failed; .kind names how, .exit_status is what a program exits with."""
    kind: str
    exit_status: int
    address: Optional[int]

class BadFile(Error): ...
class Refused(Error): ...
class VerifyFailed(Error):
    differences: List[Tuple[int, int, int]]
class NoAnswer(Error): ...
class Damaged(Error): ...
class PortError(Error): ...
class RecordLost(Error): ...
class Interrupted(Error): ...

class Info:
    chip: str
    id: int
    firmware: str
    clock_hz: int
    clock_step_hz: int
    flash_bytes: int

class ProgramResult:
    bytes_written: int
    bytes_sent: int
    bytes_skipped: int
    verified: bool
    replies_read_again: int

class PortInfo:
    device: str
    by_id: str
    status: str
    details: str

def ports() -> List[PortInfo]: ...

class Image:
    def __init__(self) -> None: ...
    @staticmethod
    def load(path: str) -> Image: ...
    @staticmethod
    def from_bytes(data: bytes, base: int = 0) -> Image: ...
    def put(self, address: int, data: bytes) -> None: ...
    def get(self, address: int, count: int) -> bytes: ...
    @property
    def ranges(self) -> List[Tuple[int, int]]: ...
    @property
    def sha256(self) -> str: ...
    @property
    def name(self) -> str: ...
    def intel_hex(self) -> str: ...
    def __len__(self) -> int: ...

class Target:
    def __init__(self, port: str, baud: int = 9600, reset: str = "", reset_command: str = "",
                 clock_hz: int = 0, timeout: float = 3.0, trace: str = "") -> None: ...
    def __enter__(self) -> Target: ...
    def __exit__(self, *args: object) -> bool: ...
    @property
    def port(self) -> str: ...
    def connect(self) -> Info: ...
    def read(self, memory: str, first: int, last: int, twice: bool = False,
             progress: Optional[Progress] = None) -> bytes: ...
    def program(self, image: Image, verify: bool = False, erase_config: bool = True,
                write_config: bool = True, hcr0: Optional[int] = None, hcr1: Optional[int] = None,
                progress: Optional[Progress] = None) -> ProgramResult: ...
    def verify(self, image: Image, progress: Optional[Progress] = None) -> List[Tuple[int, int, int]]: ...
    def blank_check(self, progress: Optional[Progress] = None) -> Optional[int]: ...
    def erase(self, scope: str = "flash") -> None: ...
    def cancel(self) -> None: ...
    def close(self) -> None: ...

class BoardEvent:
    """What a board of a station did, as its port's thread reports it."""
    port: str
    board: int
    """1, 2, ... on its port."""
    state: Literal["waiting", "connecting", "erasing", "programming", "verifying", "ok", "failed", "output"]
    """'output' is a line of the board's own report (a verify's summary, info's facts) in message."""
    percent: int
    """Of the current state."""
    serial: Optional[int]
    """The board's serial number, once it took one (after its erase)."""
    message: str
    """What went wrong ('failed'), the line ('output'), the chip ('connecting' at 100)."""
    target: Optional[Info]
    """The board's facts, once connected."""
    exit_status: int
    """For 'ok' and 'failed': 0, or what varnel-cli would exit with."""
    done: int
    """Bytes of the current state done ('programming', 'verifying')."""
    total: int
    """Bytes of the current state in all; 0 where it counts none."""

class Station:
    """A production station: a board at a time on each of several ports, side by side.

    Everything is checked on construction, before any port opens (BadFile,
    RecordLost). on_event(event) gets a BoardEvent from the ports' threads,
    one call at a time.
    """
    def __init__(self, *, ports: Sequence[str], command: str = "program", file: str = "",
                 image: Optional[Image] = None, baud: int = 9600, reset: str = "",
                 reset_command: str = "", clock_hz: int = 0, timeout: float = 3.0,
                 verify: bool = True, send_all: bool = False, allow_missing_end: bool = False,
                 erase: str = "flash", serial: Optional[Tuple[int, int, str]] = None,
                 serial_file: str = "", db: str = "", serial_counter: str = "default",
                 log: str = "", loop: bool = False, count: int = 0,
                 on_event: Optional[Callable[[BoardEvent], None]] = None) -> None:
        """command: 'program', 'verify', 'erase', 'blank-check' or 'info'.
        serial: (address, length, 'le' | 'be' | 'ascii'), a number per board taken after its
        erase from serial_file (the next number, one decimal line) or from the PostgreSQL
        database db (counter serial_counter). log: JSON Lines, a record per board.
        loop: board after board on every port; count boards per port (0: until stop())."""
    def run(self) -> int:
        """Runs until every port is done or stop(); 0 when all went well, else the exit
        status varnel-cli would give. Ctrl+C stops the station (every download gets its
        end record) and raises KeyboardInterrupt."""
    def stop(self) -> None:
        """From any thread (an event callback too): ends every board in flight."""
    @property
    def file_sha256(self) -> str:
        """SHA-256 of the program file as read once for every board."""
