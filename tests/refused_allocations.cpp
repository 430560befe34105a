// The global allocation functions of the unit tests, replaced so that a test
// can refuse allocations for a while. Every form that frees what the plain
// and nothrow forms allocate is replaced too, so that a sanitizer's runtime
// sees each block freed as it was allocated; the array forms, left alone,
// come in a pair of their own.
#include "refused_allocations.h"

#include <cstdlib>
#include <new>

namespace {

constexpr int unlimited = -1;
int allowance = unlimited;  // allocations left before they are refused

void* allocate(std::size_t size) noexcept {
    if (allowance == 0) {
        return nullptr;
    }
    if (allowance > 0) {
        --allowance;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* allocate_or_throw(std::size_t size) {
    void* block = allocate(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

}  // namespace

refused_allocations::refused_allocations(int allowed) {
    allowance = allowed < 0 ? 0 : allowed;
}

refused_allocations::~refused_allocations() {
    allowance = unlimited;
}

void* operator new(std::size_t size) {
    return allocate_or_throw(size);
}

void* operator new(std::size_t size, const std::nothrow_t& /*unused*/) noexcept {
    return allocate(size);
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t /*size*/) noexcept {
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t& /*unused*/) noexcept {
    std::free(block);
}
