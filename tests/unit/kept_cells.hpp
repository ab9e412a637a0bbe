// Values a test keeps alive across allocations. A cell names its node, and a node that a C++ local
// may hold never moves, so a copy held in a local stays valid while the kept cell is marked; the
// buffer behind it is always re-read through the node. Kept cells live until `release_kept` (a
// fixture's TearDown, a `kept_scope`) or the end of the test, so a test may hold as many as it
// needs without minding the stack height.
#pragma once
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/collector.hpp"

namespace zel::test {

// The cells kept by the running test; a new test starts with none, leaving the old ones to the
// collector.
inline std::vector<cell>& kept_cells() {
    static std::vector<cell> cells;
    static const void* owner = nullptr;
    const void* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (test != owner) {
        owner = test;
        cells.clear();
    }
    return cells;
}

inline cell keep(const cell& value) {
    static const bool hooked = [] {
        gc::add_mark_callback([] {
            for (cell& c : kept_cells()) gc::mark_cell(&c);
        });
        return true;
    }();
    (void)hooked;
    kept_cells().push_back(value);
    return value;
}

inline void release_kept() {
    kept_cells().clear();
}

// Releases what was kept while it lived, for tests without a fixture.
class kept_scope {
  public:
    kept_scope() : height_(kept_cells().size()) {}
    ~kept_scope() { kept_cells().resize(height_); }
    kept_scope(const kept_scope&) = delete;
    kept_scope& operator=(const kept_scope&) = delete;

  private:
    std::size_t height_;
};

} // namespace zel::test
