#include "memory_reserve.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// Enough for the JSON library to take apart a value of some 300,000 elements. Never
// touched, so it costs address space and commit charge, which is what runs out when an
// allocation fails (an address-space limit, strict overcommit), but no memory in use.
constexpr std::size_t kReserveBytes = std::size_t{8} << 20;

void* reserve = nullptr;

// Called by operator new when an allocation fails; the allocation is not retried.
void releaseReserve() {
  std::free(reserve);
  reserve = nullptr;
  throw std::bad_alloc();
}

}  // namespace

void holdMemoryReserve() {
  // malloc, not new: the reserve must come from the allocator that operator new uses, and
  // must not itself reach the handler.
  if (reserve == nullptr) reserve = std::malloc(kReserveBytes);
  std::set_new_handler(releaseReserve);
}
