#include "tools/purse/ctapi_binding.h"

#include <algorithm>

namespace k52::balview {

CtApiBinding::CtApiBinding(CtApiFunctions functions, std::unique_ptr<win32::Library> library)
    : library_(std::move(library)), functions_(functions) {
  if (functions_.init) functions_.init(kTerminal, kPort);
}

CtApiBinding::~CtApiBinding() {
  if (functions_.close) functions_.close(kTerminal);
  // library_ goes after the call, so the code it runs is still mapped.
}

std::unique_ptr<CtApiBinding> CtApiBinding::load(std::string_view libraryName,
                                                 const win32::Prefix& prefix) {
  auto library = win32::Library::load(libraryName, prefix);
  CtApiFunctions functions;
  if (library) {
    functions.init = reinterpret_cast<CtInitFn>(library->entry("CT_init"));
    functions.data = reinterpret_cast<CtDataFn>(library->entry("CT_data"));
    functions.close = reinterpret_cast<CtCloseFn>(library->entry("CT_close"));
  }
  return std::make_unique<CtApiBinding>(functions, std::move(library));
}

Answer CtApiBinding::send(std::uint8_t dad, std::span<const std::uint8_t> command) {
  Answer answer;
  if (!functions_.data) return answer;
  // A fresh buffer for every command, so that nothing of an earlier answer
  // can be taken for part of this one.
  std::vector<std::uint8_t> response(kResponseCapacity);
  std::uint8_t destination = dad;
  std::uint8_t source = kSourceAddress;
  std::uint16_t lenr = kResponseCapacity;
  answer.result =
      functions_.data(kTerminal, &destination, &source, static_cast<std::uint16_t>(command.size()),
                      command.data(), &lenr, response.data());
  // A library that claims more than the buffer holds is believed only as far
  // as the buffer goes.
  response.resize(std::min<std::size_t>(lenr, kResponseCapacity));
  answer.bytes = std::move(response);
  return answer;
}

}  // namespace k52::balview
