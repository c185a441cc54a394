// The host heap: objects handed across the plug-in boundary are allocated
// and freed by the host library, whichever module news or deletes them.
#include "host/plugapi.h"

#include <cstdlib>

void* MaxHeapOperators::operator new(std::size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

void MaxHeapOperators::operator delete(void* ptr) noexcept
{
    std::free(ptr);
}

void* MaxHeapOperators::operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size ? size : 1);
}

void MaxHeapOperators::operator delete(void* ptr, const std::nothrow_t&) noexcept
{
    std::free(ptr);
}
