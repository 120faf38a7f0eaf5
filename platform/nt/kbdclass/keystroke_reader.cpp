#include "platform/nt/kbdclass/keystroke_reader.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "platform/nt/kbdclass/keyboard_class.h"
#include "platform/nt/ntddkbd.h"
#include "platform/nt/ps.h"

namespace k52::nt {

namespace {

LARGE_INTEGER relative(Duration d) {
  LARGE_INTEGER t;
  t.QuadPart = -std::chrono::duration_cast<std::chrono::nanoseconds>(d).count() / 100;
  return t;
}

NTSTATUS readDone(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
  (void)irp;
  return STATUS_MORE_PROCESSING_REQUIRED;  // the reader frees the request
}

}  // namespace

KeystrokeReader::KeystrokeReader(KeystrokeReaderConfig config) : config_(config) {
  if (config_.recordsPerRead == 0) throw std::invalid_argument("a read needs room for a record");
}

KeystrokeReader::~KeystrokeReader() = default;

void KeystrokeReader::start() {
  if (PsCreateSystemThread(&thread_, 0, nullptr, nullptr, nullptr, threadMain, this) !=
      STATUS_SUCCESS) {
    throw std::runtime_error("cannot start the keystroke reader");
  }
}

void KeystrokeReader::stop() {
  if (thread_ == nullptr) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  // The read may go out just after a completion; keep completing until the
  // thread is gone.
  for (;;) {
    kbdclass::CompleteWaitingRead(STATUS_CANCELLED);
    LARGE_INTEGER poll = relative(std::chrono::milliseconds(10));
    if (ZwWaitForSingleObject(thread_, FALSE, &poll) == STATUS_SUCCESS) break;
  }
  ZwClose(thread_);
  thread_ = nullptr;
}

void KeystrokeReader::threadMain(PVOID self) {
  static_cast<KeystrokeReader*>(self)->run();
}

void KeystrokeReader::run() {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, kbdclass::kClassDeviceName);
  PFILE_OBJECT file = nullptr;
  PDEVICE_OBJECT top = nullptr;
  if (!NT_SUCCESS(IoGetDeviceObjectPointer(&name, FILE_READ_DATA, &file, &top))) {
    throw std::runtime_error("no keyboard class device");
  }
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    // A read that came back empty but well is a filter restarting the
    // read path (hooking in or out): nothing to process, so the next read
    // goes out at once and meets the keystrokes that follow on the new path.
    if (readOnce(file) == Batch::kRestarted) continue;
    LARGE_INTEGER pause = relative(config_.processingTime);
    KeDelayExecutionThread(KernelMode, FALSE, &pause);
  }
  ObDereferenceObject(file);
}

// Every read goes to whatever is on top of the class device's stack now.
KeystrokeReader::Batch KeystrokeReader::readOnce(PFILE_OBJECT file) {
  PDEVICE_OBJECT top = IoGetAttachedDevice(file->DeviceObject);
  std::vector<KEYBOARD_INPUT_DATA> records(config_.recordsPerRead);
  const auto length = static_cast<ULONG>(records.size() * sizeof(KEYBOARD_INPUT_DATA));
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
  irp->AssociatedIrp.SystemBuffer = records.data();
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_READ;
  next->Parameters.Read.Length = length;
  next->FileObject = file;
  IoSetCompletionRoutine(irp, readDone, &done, TRUE, TRUE, TRUE);
  IoCallDriver(top, irp);
  KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);

  const NTSTATUS status = irp->IoStatus.Status;
  const std::size_t n =
      std::min<std::size_t>(irp->IoStatus.Information, length) / sizeof(KEYBOARD_INPUT_DATA);
  IoFreeIrp(irp);

  std::lock_guard lock(mutex_);
  ++reads_;
  if (!NT_SUCCESS(status) || n == 0) {
    ++emptyReads_;
    return status == STATUS_SUCCESS ? Batch::kRestarted : Batch::kFailed;
  }
  largestBatch_ = std::max(largestBatch_, n);
  for (std::size_t i = 0; i < n; ++i) {
    codes_.push_back(static_cast<std::uint8_t>(records[i].MakeCode |
                                               ((records[i].Flags & KEY_BREAK) ? 0x80 : 0)));
  }
  return Batch::kRecords;
}

std::vector<std::uint8_t> KeystrokeReader::codes() const {
  std::lock_guard lock(mutex_);
  return codes_;
}

std::size_t KeystrokeReader::reads() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

std::size_t KeystrokeReader::largestBatch() const {
  std::lock_guard lock(mutex_);
  return largestBatch_;
}

std::size_t KeystrokeReader::emptyReads() const {
  std::lock_guard lock(mutex_);
  return emptyReads_;
}

}  // namespace k52::nt
