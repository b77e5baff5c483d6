// The varnel Python module over libvarnel. A verb runs with the GIL
// released, so Targets in several Python threads work at once; while it
// runs, the calling thread looks for Ctrl+C, which cancels the run (a
// download gets its end record first) and then raises KeyboardInterrupt.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <future>
#include <thread>

#include <varnel/varnel.h>

namespace py = pybind11;

namespace {

// The Python exception class of each error kind, made at import.
std::map<varnel::ErrorKind, py::object>& ErrorClasses() {
  static auto* classes = new std::map<varnel::ErrorKind, py::object>();
  return *classes;
}

py::bytes Bytes(const std::vector<std::uint8_t>& data) {
  return py::bytes(reinterpret_cast<const char*>(data.data()), data.size());
}

std::vector<std::uint8_t> FromBytes(const py::bytes& data) {
  const std::string text = data;
  return {text.begin(), text.end()};
}

varnel::Memory MemoryNamed(const std::string& name) {
  if (name == "code") return varnel::Memory::Code;
  if (name == "xdata") return varnel::Memory::Xdata;
  if (name == "iram") return varnel::Memory::Iram;
  if (name == "sfr") return varnel::Memory::Sfr;
  if (name == "cfg" || name == "config") return varnel::Memory::Config;
  throw py::value_error("unknown memory '" + name + "': code, xdata, iram, sfr or cfg");
}

varnel::Progress Wrapped(const py::object& progress) {
  if (progress.is_none()) return {};
  // Called on the Target's thread: the GIL is taken for the call.
  // The last copy may go on that thread too: it lets go of the function
  // under the GIL.
  std::shared_ptr<py::object> function(new py::object(progress), [](py::object* f) {
    py::gil_scoped_acquire gil;
    delete f;
  });
  return [function](std::size_t done, std::size_t total) {
    py::gil_scoped_acquire gil;
    (*function)(done, total);
  };
}

// Runs a verb on a helper thread while this one waits without the GIL,
// looking for signals every 50 ms. Ctrl+C cancels the run; once it has
// ended, KeyboardInterrupt is raised.
template <typename Result>
Result Blocking(varnel::Target& target, const std::function<Result()>& verb) {
  std::packaged_task<Result()> task(verb);
  std::future<Result> result = task.get_future();
  std::optional<py::error_already_set> interrupted;
  {
    std::thread worker(std::move(task));
    for (;;) {
      std::future_status status;
      {
        py::gil_scoped_release free;
        status = result.wait_for(std::chrono::milliseconds(50));
      }
      if (status == std::future_status::ready) break;
      if (!interrupted && PyErr_CheckSignals() != 0) {
        interrupted.emplace();  // takes the pending exception
        target.cancel();
      }
    }
    worker.join();
  }
  if (interrupted) {
    try {
      result.get();
    } catch (const varnel::Interrupted&) {
    }
    throw std::move(*interrupted);
  }
  return result.get();
}


const char* StateName(varnel::BoardEvent::State state) {
  using S = varnel::BoardEvent::State;
  switch (state) {
    case S::Waiting: return "waiting";
    case S::Connecting: return "connecting";
    case S::Erasing: return "erasing";
    case S::Programming: return "programming";
    case S::Verifying: return "verifying";
    case S::Ok: return "ok";
    case S::Failed: return "failed";
    case S::Output: return "output";
  }
  return "";
}

varnel::StationCommand CommandNamed(const std::string& name) {
  if (name == "program") return varnel::StationCommand::Program;
  if (name == "verify") return varnel::StationCommand::Verify;
  if (name == "erase") return varnel::StationCommand::Erase;
  if (name == "blank-check" || name == "blank_check") return varnel::StationCommand::BlankCheck;
  if (name == "info") return varnel::StationCommand::Info;
  throw py::value_error("unknown command '" + name + "': program, verify, erase, blank-check or info");
}

// A station run from Python: its events go to a callable under the GIL;
// run() waits without it, and Ctrl+C stops the station.
class PyStation {
 public:
  PyStation(varnel::StationOptions options, py::object onEvent) {
    {
      py::gil_scoped_release free;
      station_ = std::make_unique<varnel::Station>(std::move(options));
    }
    if (onEvent.is_none()) return;
    std::shared_ptr<py::object> function(new py::object(std::move(onEvent)), [](py::object* f) {
      py::gil_scoped_acquire gil;
      delete f;
    });
    station_->on_event([function, this](const varnel::BoardEvent& e) {
      py::gil_scoped_acquire gil;
      try {
        (*function)(e);
      } catch (py::error_already_set& error) {
        // A callable that fails stops the station; run() raises its error.
        if (!failed_) failed_.emplace(std::move(error));
        station_->stop();
      }
    });
  }

  int Run() {
    std::packaged_task<int()> task([this] { return station_->run(); });
    std::future<int> result = task.get_future();
    std::optional<py::error_already_set> interrupted;
    {
      std::thread worker(std::move(task));
      for (;;) {
        std::future_status status;
        {
          py::gil_scoped_release free;
          status = result.wait_for(std::chrono::milliseconds(50));
        }
        if (status == std::future_status::ready) break;
        if (!interrupted && PyErr_CheckSignals() != 0) {
          interrupted.emplace();
          station_->stop();
        }
      }
      py::gil_scoped_release free;
      worker.join();
    }
    const int status = result.get();
    if (interrupted) throw std::move(*interrupted);
    if (failed_) {
      py::error_already_set error = std::move(*failed_);
      failed_.reset();
      throw error;
    }
    return status;
  }

  void Stop() { station_->stop(); }
  const std::string& Sha256() const { return station_->file_sha256(); }

 private:
  std::unique_ptr<varnel::Station> station_;
  std::optional<py::error_already_set> failed_;
};

}  // namespace

PYBIND11_MODULE(varnel, m) {
  m.doc() = R"(The MSC1210 serial boot loader from Python.

    with varnel.Target("/dev/ttyUSB0", baud=38400, reset="pulse") as t:
        info = t.connect()
        img = varnel.Image.load("fw.ihx")
        img.put(0x7FF0, b"\x2a\x00\x00\x00")
        t.program(img, verify=True)

Errors are varnel.Error and its subclasses, each with .kind and
.exit_status.)";
  m.attr("__version__") = varnel::version();

  // The exceptions: varnel.Error, and one subclass per kind.
  py::object base = py::reinterpret_steal<py::object>(
      PyErr_NewExceptionWithDoc("varnel.Error",
                                "A run of the library failed; .kind names how, .exit_status is "
                                "what a program exits with.",
                                PyExc_RuntimeError, nullptr));
  m.attr("Error") = base;
  struct Kind {
    varnel::ErrorKind kind;
    const char* doc;
  };
  for (const Kind& k : {
           Kind{varnel::ErrorKind::BadFile, "A file, an image or an argument cannot be used; nothing was sent."},
           Kind{varnel::ErrorKind::Refused, "The boot loader said no."},
           Kind{varnel::ErrorKind::VerifyFailed, "The flash differs from the image; .differences lists where."},
           Kind{varnel::ErrorKind::NoAnswer, "The boot loader did not answer in time."},
           Kind{varnel::ErrorKind::Damaged, "The boot loader never answered in a form that can be taken."},
           Kind{varnel::ErrorKind::PortError, "The port cannot be opened or failed."},
           Kind{varnel::ErrorKind::RecordLost, "A board's record could not be written."},
           Kind{varnel::ErrorKind::Interrupted, "The run was cancelled."},
       }) {
    const std::string name = varnel::kind_name(k.kind);
    py::object cls = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
        ("varnel." + name).c_str(), k.doc, base.ptr(), nullptr));
    cls.attr("kind") = name;
    cls.attr("exit_status") = varnel::exit_status(k.kind);
    m.attr(name.c_str()) = cls;
    ErrorClasses()[k.kind] = cls;
  }
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const varnel::Error& e) {
      py::object cls = ErrorClasses().at(e.kind());
      py::object error = cls(e.what());
      error.attr("address") = e.address() ? py::cast(*e.address()) : py::none();
      if (const auto* failed = dynamic_cast<const varnel::VerifyFailed*>(&e)) {
        py::list differences;
        for (const varnel::Difference& d : failed->differences()) {
          differences.append(py::make_tuple(d.address, d.expected, d.actual));
        }
        error.attr("differences") = differences;
      }
      PyErr_SetObject(cls.ptr(), error.ptr());
    }
  });

  py::class_<varnel::Info>(m, "Info", "What a connect found.")
      .def_readonly("chip", &varnel::Info::chip, "The chip's name, as MSC1210Y5.")
      .def_readonly("id", &varnel::Info::id, "The identification register E9h.")
      .def_readonly("firmware", &varnel::Info::firmware,
                    "The loader's version; empty when it was awake already.")
      .def_readonly("clock_hz", &varnel::Info::clock_hz, "The core clock estimate in Hz.")
      .def_readonly("clock_step_hz", &varnel::Info::clock_step_hz,
                    "One step of that estimate at this rate, in Hz.")
      .def_readonly("flash_bytes", &varnel::Info::flash_bytes, "The flash size.")
      .def("__repr__", [](const varnel::Info& i) {
        return "<varnel.Info " + i.chip + " " + std::to_string(i.clock_hz) + " Hz>";
      });

  py::class_<varnel::ProgramResult>(m, "ProgramResult", "How a programming run went.")
      .def_readonly("bytes_written", &varnel::ProgramResult::bytes_written)
      .def_readonly("bytes_sent", &varnel::ProgramResult::bytes_sent,
                    "Of them those sent; the rest the erase had left FFh already.")
      .def_readonly("bytes_skipped", &varnel::ProgramResult::bytes_skipped)
      .def_readonly("verified", &varnel::ProgramResult::verified)
      .def_readonly("replies_read_again", &varnel::ProgramResult::replies_read_again);

  py::class_<varnel::PortInfo>(m, "PortInfo", "A serial port of this machine.")
      .def_readonly("device", &varnel::PortInfo::device)
      .def_readonly("by_id", &varnel::PortInfo::by_id)
      .def_readonly("status", &varnel::PortInfo::status)
      .def_readonly("details", &varnel::PortInfo::details)
      .def("__repr__", [](const varnel::PortInfo& p) {
        return "<varnel.PortInfo " + p.device + " " + p.status + ">";
      });
  m.def("ports", &varnel::ports, "The serial ports of this machine that exist.");

  py::class_<varnel::Image>(m, "Image", "What a programming run writes: bytes at flash addresses.")
      .def(py::init<>())
      .def_static("load", &varnel::Image::load, py::arg("path"),
                  "An Intel HEX file (.hex, .ihx) or a raw image (.bin, at 0000h), every "
                  "record checked; varnel.BadFile names the line and the fault.")
      .def_static(
          "from_bytes",
          [](const py::bytes& data, std::uint32_t base) {
            return varnel::Image::from_bytes(FromBytes(data), base);
          },
          py::arg("data"), py::arg("base") = 0, "Raw bytes placed at base.")
      .def(
          "put",
          [](varnel::Image& image, std::uint32_t address, const py::bytes& data) {
            image.put(address, FromBytes(data));
          },
          py::arg("address"), py::arg("data"), "Sets bytes from address on (a serial number).")
      .def(
          "get",
          [](const varnel::Image& image, std::uint32_t address, std::size_t count) {
            return Bytes(image.get(address, count));
          },
          py::arg("address"), py::arg("count"),
          "count bytes from address; FFh where the image holds none.")
      .def_property_readonly(
          "ranges",
          [](const varnel::Image& image) {
            py::list runs;
            for (const varnel::Range& r : image.ranges()) runs.append(py::make_tuple(r.first, r.last));
            return runs;
          },
          "The runs of addresses written, as (first, last) pairs, both included.")
      .def_property_readonly("sha256", &varnel::Image::sha256,
                             "SHA-256 of the file as loaded (as sha256sum says), or of "
                             "intel_hex() once changed.")
      .def_property_readonly("name", &varnel::Image::name)
      .def("intel_hex", &varnel::Image::intel_hex, "The image as Intel HEX text.")
      .def("__len__", &varnel::Image::size);

  py::class_<varnel::Target>(m, "Target", R"(One board on one serial port.

Opens the port on construction; a context manager that closes it on exit.
Every verb returns when its run has ended, or raises a varnel.Error.)")
      .def(py::init([](const std::string& port, int baud, const std::string& reset,
                       const std::string& resetCommand, std::uint32_t clockHz, double timeout,
                       const std::string& trace) {
             varnel::TargetOptions o;
             o.baud = baud;
             o.reset = reset;
             o.reset_command = resetCommand;
             o.clock_hz = clockHz;
             o.timeout_ms = static_cast<int>(timeout * 1000);
             o.trace_path = trace;
             py::gil_scoped_release free;
             return std::make_unique<varnel::Target>(port, o);
           }),
           py::arg("port"), py::arg("baud") = 9600, py::arg("reset") = "",
           py::arg("reset_command") = "", py::arg("clock_hz") = 0, py::arg("timeout") = 3.0,
           py::arg("trace") = "",
           "reset: '' (none), 'pulse', 'pulse-inverted' or steps such as "
           "'dtr=1,rts=0,40,rts=1,400'; timeout: seconds a reply may take beyond its line "
           "time; trace: a file for every byte both ways.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](varnel::Target& t, py::args) {
        t.close();
        return false;
      })
      .def("close", &varnel::Target::close, "Closes the port; later verbs raise PortError.")
      .def_property_readonly("port", &varnel::Target::port)
      .def(
          "connect",
          [](varnel::Target& t) {
            return Blocking<varnel::Info>(t, [&t] { return t.connect(); });
          },
          "Resets the board when asked, wakes the boot loader, identifies the chip: Info.")
      .def(
          "read",
          [](varnel::Target& t, const std::string& memory, std::uint32_t first,
             std::uint32_t last, bool twice, const py::object& progress) {
            varnel::ReadOptions o;
            o.twice = twice;
            o.progress = Wrapped(progress);
            const varnel::Memory which = MemoryNamed(memory);
            return Bytes(Blocking<std::vector<std::uint8_t>>(
                t, [&] { return t.read(which, first, last, o); }));
          },
          py::arg("memory"), py::arg("first"), py::arg("last"), py::arg("twice") = false,
          py::arg("progress") = py::none(),
          "Addresses first..last of 'code', 'xdata', 'iram', 'sfr' or 'cfg' as bytes; "
          "twice=True reads every block twice.")
      .def(
          "program",
          [](varnel::Target& t, const varnel::Image& image, bool verify, bool eraseConfig,
             bool writeConfig, std::optional<std::uint8_t> hcr0, std::optional<std::uint8_t> hcr1,
             const py::object& progress) {
            varnel::ProgramOptions o;
            o.verify = verify;
            o.erase_config = eraseConfig;
            o.write_config = writeConfig;
            o.hcr0 = hcr0;
            o.hcr1 = hcr1;
            o.progress = Wrapped(progress);
            return Blocking<varnel::ProgramResult>(t, [&] { return t.program(image, o); });
          },
          py::arg("image"), py::arg("verify") = false, py::arg("erase_config") = true,
          py::arg("write_config") = true, py::arg("hcr0") = py::none(),
          py::arg("hcr1") = py::none(), py::arg("progress") = py::none(),
          "Erases, downloads the image, writes HCR1 and HCR0, and with verify=True reads it "
          "back (VerifyFailed). progress(done, total) is called as it goes.")
      .def(
          "verify",
          [](varnel::Target& t, const varnel::Image& image, const py::object& progress) {
            const varnel::Progress p = Wrapped(progress);
            const auto found = Blocking<std::vector<varnel::Difference>>(
                t, [&] { return t.verify(image, p); });
            py::list differences;
            for (const varnel::Difference& d : found) {
              differences.append(py::make_tuple(d.address, d.expected, d.actual));
            }
            return differences;
          },
          py::arg("image"), py::arg("progress") = py::none(),
          "[(address, expected, actual)] where the flash differs; empty when it holds the image.")
      .def(
          "blank_check",
          [](varnel::Target& t, const py::object& progress) {
            const varnel::Progress p = Wrapped(progress);
            return Blocking<std::optional<std::uint32_t>>(t, [&] { return t.blank_check(p); });
          },
          py::arg("progress") = py::none(),
          "The first address that does not hold FFh, or None when the flash is blank.")
      .def(
          "erase",
          [](varnel::Target& t, const std::string& scope) {
            varnel::EraseScope s = varnel::EraseScope::Flash;
            if (scope == "flash+cfg") {
              s = varnel::EraseScope::FlashAndConfig;
            } else if (scope == "cfg") {
              s = varnel::EraseScope::Config;
            } else if (scope != "flash") {
              throw py::value_error("erase: 'flash', 'flash+cfg' or 'cfg', not '" + scope + "'");
            }
            Blocking<int>(t, [&] {
              t.erase(s);
              return 0;
            });
          },
          py::arg("scope") = "flash", "Erases 'flash', 'flash+cfg' or 'cfg'.")
      .def("cancel", &varnel::Target::cancel,
           "From any thread: ends the run in flight as Ctrl+C does.");
  py::class_<varnel::BoardEvent>(m, "BoardEvent", "What a board of a station did.")
      .def_readonly("port", &varnel::BoardEvent::port)
      .def_readonly("board", &varnel::BoardEvent::board, "1, 2, ... on its port.")
      .def_property_readonly(
          "state", [](const varnel::BoardEvent& e) { return StateName(e.state); },
          "'waiting', 'connecting', 'erasing', 'programming', 'verifying', 'ok', 'failed', or "
          "'output' for a line of the board's own report (message).")
      .def_readonly("percent", &varnel::BoardEvent::percent, "Of the current state.")
      .def_readonly("serial", &varnel::BoardEvent::serial, "The board's number once it took one.")
      .def_readonly("message", &varnel::BoardEvent::message,
                    "What went wrong (failed), the line (output), the chip (connecting).")
      .def_readonly("target", &varnel::BoardEvent::target, "The Info of the board, once connected.")
      .def_readonly("exit_status", &varnel::BoardEvent::exit_status, "For 'ok' and 'failed'.")
      .def_readonly("done", &varnel::BoardEvent::done, "Bytes of the current state done, where it counts them.")
      .def_readonly("total", &varnel::BoardEvent::total, "Bytes of the current state in all, 0 where it counts none.")
      .def("__repr__", [](const varnel::BoardEvent& e) {
        return "<varnel.BoardEvent " + e.port + " board " + std::to_string(e.board) + " " +
               StateName(e.state) + ">";
      });

  py::class_<PyStation>(m, "Station", R"(A production station: boards on several ports at once.

Checks the file, the ports, the serial-number counter, the database and the
log on construction (varnel.BadFile, varnel.RecordLost), before any port
opens. on_event(event) is called with a BoardEvent from the ports' threads,
one at a time.)")
      .def(py::init([](std::vector<std::string> ports, const std::string& command,
                       const std::string& file, std::optional<varnel::Image> image, int baud,
                       const std::string& reset, const std::string& resetCommand,
                       std::uint32_t clockHz, double timeout, bool verify, bool sendAll,
                       bool allowMissingEnd, const std::string& erase,
                       std::optional<std::tuple<std::uint32_t, std::uint32_t, std::string>> serial,
                       const std::string& serialFile, const std::string& db,
                       const std::string& serialCounter, const std::string& log, bool loop,
                       int count, py::object onEvent) {
             varnel::StationOptions o;
             o.ports = std::move(ports);
             o.command = CommandNamed(command);
             o.file = file;
             o.image = std::move(image);
             o.baud = baud;
             o.reset = reset;
             o.reset_command = resetCommand;
             o.clock_hz = clockHz;
             o.timeout_ms = static_cast<int>(timeout * 1000);
             o.verify = verify;
             o.send_all = sendAll;
             o.allow_missing_end = allowMissingEnd;
             if (erase == "flash+cfg") {
               o.erase_scope = varnel::EraseScope::FlashAndConfig;
             } else if (erase == "cfg") {
               o.erase_scope = varnel::EraseScope::Config;
             } else if (erase != "flash") {
               throw py::value_error("erase: 'flash', 'flash+cfg' or 'cfg', not '" + erase + "'");
             }
             if (serial) {
               const auto& [address, length, format] = *serial;
               varnel::SerialSpec spec;
               spec.address = address;
               spec.length = length;
               if (format == "be") {
                 spec.format = varnel::SerialSpec::Format::Be;
               } else if (format == "ascii") {
                 spec.format = varnel::SerialSpec::Format::Ascii;
               } else if (format != "le") {
                 throw py::value_error("serial format: 'le', 'be' or 'ascii', not '" + format + "'");
               }
               o.serial = spec;
             }
             o.serial_file = serialFile;
             o.db = db;
             o.serial_counter = serialCounter;
             o.log_path = log;
             o.loop = loop;
             o.count = count;
             return std::make_unique<PyStation>(std::move(o), std::move(onEvent));
           }),
           py::kw_only(), py::arg("ports"), py::arg("command") = "program", py::arg("file") = "",
           py::arg("image") = py::none(), py::arg("baud") = 9600, py::arg("reset") = "",
           py::arg("reset_command") = "", py::arg("clock_hz") = 0, py::arg("timeout") = 3.0,
           py::arg("verify") = true, py::arg("send_all") = false,
           py::arg("allow_missing_end") = false, py::arg("erase") = "flash",
           py::arg("serial") = py::none(), py::arg("serial_file") = "", py::arg("db") = "",
           py::arg("serial_counter") = "default", py::arg("log") = "", py::arg("loop") = false,
           py::arg("count") = 0, py::arg("on_event") = py::none(),
           "serial: (address, length, 'le'|'be'|'ascii'), its numbers from serial_file or the "
           "database db (a PostgreSQL connection string, counter serial_counter); log: a JSON "
           "Lines file, a record per board; loop: board after board on each port, count per "
           "port (0: until stop()).")
      .def("run", &PyStation::Run,
           "Runs until every port is done or stop(); the exit status (0 all well). Ctrl+C "
           "stops the station (downloads get their end record) and raises KeyboardInterrupt.")
      .def("stop", &PyStation::Stop, "From any thread: ends every board in flight.")
      .def_property_readonly("file_sha256", &PyStation::Sha256,
                             "SHA-256 of the program file as read for every board.");
}
