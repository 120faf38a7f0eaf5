// Keyboard reads through the channel driver's read filter, batch by batch.
//
// The first input byte picks the mode. Mixed mode builds a stream of key
// strokes that are never terminal traffic, interleaved with well-formed
// terminal frames, cut into reads of varying size: every key stroke must
// come out unchanged and in order, and the FIFO must hold exactly the frame
// bytes. Raw mode sends arbitrary codes: what comes out must be a
// subsequence of what went in, and nothing may be written past a read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "drivers/kbdchannel/channel.h"
#include "platform/nt/kernel.h"
#include "platform/nt/virtual_scheduler.h"

namespace {

using namespace k52::nt;
using namespace k52::kbdchannel;

// One kernel with the driver loaded serves every input.
ChannelExtension* loadedChannel() {
  static Kernel* kernel = [] {
    auto* k = new Kernel(std::make_unique<VirtualScheduler>(1));
    k->bus();  // ports float; the filter never touches them
    if (k->loadDriver(kDriverName, DriverEntry) != STATUS_SUCCESS) std::abort();
    return k;
  }();
  (void)kernel;
  return channel();
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

bool isTerminalCode(std::uint8_t c) {
  return c == 0x64 || c == 0x7F || c == 0xFF || c == 0xFE || (c >= 0x10 && c <= 0x1F);
}

// A key stroke code that the filter must leave alone.
std::uint8_t keystroke(std::uint8_t raw) {
  std::uint8_t c = raw;
  while (isTerminalCode(c)) c = static_cast<std::uint8_t>(c + 0x23);
  return c;
}

KEYBOARD_INPUT_DATA record(std::uint8_t code) {
  KEYBOARD_INPUT_DATA r{};
  r.UnitId = 0;
  r.MakeCode = code & 0x7F;
  r.Flags = (code & 0x80) ? KEY_BREAK : KEY_MAKE;
  return r;
}

std::uint8_t codeOf(const KEYBOARD_INPUT_DATA& r) {
  return static_cast<std::uint8_t>(r.MakeCode | ((r.Flags & KEY_BREAK) ? 0x80 : 0));
}

// Runs `codes` through the filter in reads of sizes taken from `input`; the
// codes that remain, in order.
std::vector<std::uint8_t> filter(const std::vector<std::uint8_t>& codes, Input& input) {
  std::vector<std::uint8_t> out;
  std::size_t at = 0;
  while (at < codes.size()) {
    const std::size_t n = std::min<std::size_t>(1 + input.next() % 32, codes.size() - at);
    // A guard record past the read's end must survive untouched.
    std::vector<KEYBOARD_INPUT_DATA> records(n + 1);
    for (std::size_t i = 0; i < n; ++i) records[i] = record(codes[at + i]);
    records[n] = record(0xAA);
    records[n].ExtraInformation = 0x5A5A5A5A;
    IRP irp{};
    irp.AssociatedIrp.SystemBuffer = records.data();
    irp.IoStatus.Status = STATUS_SUCCESS;
    irp.IoStatus.Information = n * sizeof(KEYBOARD_INPUT_DATA);
    vrlPCSCReadComplete(hookDeviceObj, &irp, nullptr);
    if (irp.IoStatus.Information % sizeof(KEYBOARD_INPUT_DATA) != 0 ||
        irp.IoStatus.Information > n * sizeof(KEYBOARD_INPUT_DATA) ||
        records[n].ExtraInformation != 0x5A5A5A5A || codeOf(records[n]) != 0xAA) {
      std::abort();
    }
    const std::size_t kept = irp.IoStatus.Information / sizeof(KEYBOARD_INPUT_DATA);
    for (std::size_t i = 0; i < kept; ++i) out.push_back(codeOf(records[i]));
    at += n;
  }
  return out;
}

std::vector<std::uint8_t> drainFifo(ChannelExtension* ext) {
  std::vector<std::uint8_t> bytes;
  FifoEntry entry{};
  while (Fifout(ext, &entry) == STATUS_SUCCESS) {
    if (entry.port != 0x60 || entry.kind != 1 || entry.value > 0xFF) std::abort();
    bytes.push_back(static_cast<std::uint8_t>(entry.value));
  }
  return bytes;
}

bool isSubsequence(const std::vector<std::uint8_t>& part, const std::vector<std::uint8_t>& all) {
  std::size_t j = 0;
  for (std::uint8_t c : all) {
    if (j < part.size() && part[j] == c) ++j;
  }
  return j == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ChannelExtension* ext = loadedChannel();
  InitializeParams(ext);
  ext->nibblePhase = 0;
  ClearFifo(ext);
  ext->filterMode = kFilterOn | kFilterAttached;
  Input input(data, size);
  const bool mixed = input.next() & 1;

  std::vector<std::uint8_t> codes;
  std::vector<std::uint8_t> keys;
  std::vector<std::uint8_t> frameBytes;
  if (mixed) {
    while (!input.empty() && codes.size() < 4096) {
      const std::uint8_t what = input.next();
      if (what & 0x80) {
        const std::uint8_t c = keystroke(input.next());
        codes.push_back(c);
        keys.push_back(c);
        continue;
      }
      // A frame of up to 15 bytes, with key strokes between its nibbles.
      const std::uint8_t length = what & 0x0F;
      std::vector<std::uint8_t> bytes = {0, length};
      for (int i = 0; i < length; ++i) bytes.push_back(input.next());
      codes.push_back(0x64);
      codes.push_back((what & 0x40) ? 0xFF : 0x7F);
      for (std::uint8_t b : bytes) {
        for (std::uint8_t nibble : {std::uint8_t(b >> 4), std::uint8_t(b & 0x0F)}) {
          codes.push_back(static_cast<std::uint8_t>(0x10 + nibble));
          if ((what & 0x20) && (input.next() & 0x03) == 0) {
            const std::uint8_t c = keystroke(input.next());
            codes.push_back(c);
            keys.push_back(c);
          }
        }
      }
      frameBytes.insert(frameBytes.end(), bytes.begin(), bytes.end());
    }
  } else {
    while (!input.empty() && codes.size() < 4096) codes.push_back(input.next());
  }

  Input sizes(data, size);
  const std::vector<std::uint8_t> out = filter(codes, sizes);
  const std::vector<std::uint8_t> fifo = drainFifo(ext);
  if (mixed) {
    frameBytes.resize(std::min<std::size_t>(frameBytes.size(), kFifoSize));
    if (out != keys || fifo != frameBytes) std::abort();
  } else if (!isSubsequence(out, codes) || fifo.size() > kFifoSize) {
    std::abort();
  }
  return 0;
}
