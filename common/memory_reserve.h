// What happens when memory runs out.
#pragma once

// Sets aside an emergency reserve of address space, released the moment an allocation
// fails. The failure still stands (std::bad_alloc), but the unwinding that follows has room
// for the destructors that allocate, above all the JSON library's, which needs 16 bytes per
// element to take a large value apart and would otherwise end the process in
// std::terminate. Call again once a failure has been handled to set a new reserve aside.
void holdMemoryReserve();
