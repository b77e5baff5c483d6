// flash-with-serial PORT [FILE] [SERIAL]: programs FILE (or a small test
// image) with SERIAL as four little-endian bytes at 7FF0h, verifies it and
// reads the number back. Exits with the status the error's kind gives.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <varnel/varnel.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PORT [FILE] [SERIAL]\n", argv[0]);
    return 2;
  }
  try {
    varnel::TargetOptions options;
    options.baud = 38400;
    varnel::Target target(argv[1], options);
    const varnel::Info info = target.connect();
    std::printf("%s, %u bytes of flash, clock about %u Hz\n", info.chip.c_str(), info.flash_bytes,
                info.clock_hz);

    varnel::Image image = argc > 2 ? varnel::Image::load(argv[2])
                                   : varnel::Image::from_bytes(std::vector<std::uint8_t>{
                                         0x02, 0x00, 0x03, 0x80, 0xFE});
    const unsigned long serial = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1;
    image.put(0x7FF0, {static_cast<std::uint8_t>(serial), static_cast<std::uint8_t>(serial >> 8),
                       static_cast<std::uint8_t>(serial >> 16),
                       static_cast<std::uint8_t>(serial >> 24)});
    const varnel::ProgramResult result = target.program(image, {.verify = true});
    const std::vector<std::uint8_t> back = target.read(varnel::Memory::Code, 0x7FF0, 0x7FF3);
    std::printf("programmed %zu bytes, verified; serial %lu reads back as %02X %02X %02X %02X\n",
                result.bytes_written, serial, back[0], back[1], back[2], back[3]);
    return 0;
  } catch (const varnel::VerifyFailed& e) {
    for (const varnel::Difference& d : e.differences()) {
      std::fprintf(stderr, "%04X: expected %02X, read %02X\n", d.address, d.expected, d.actual);
    }
    std::fprintf(stderr, "%s\n", e.what());
    return e.exit_status();
  } catch (const varnel::Error& e) {
    std::fprintf(stderr, "%s: %s\n", varnel::kind_name(e.kind()), e.what());
    return e.exit_status();
  }
}
