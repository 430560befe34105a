// Memory running out, on demand: the unit tests' own operator new (see
// refused_allocations.cpp) throws std::bad_alloc, and its nothrow form gives
// nullptr, once `allowed` allocations have been made while a
// refused_allocations object lives.
#pragma once

struct refused_allocations {
    explicit refused_allocations(int allowed = 0);
    ~refused_allocations();
    refused_allocations(const refused_allocations&) = delete;
    refused_allocations& operator=(const refused_allocations&) = delete;
};
