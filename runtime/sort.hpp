// Sorting of fixed-size records through a comparison callback. The sorts order a private array of
// record indexes and move no record before the last comparison, so a comparator that throws leaves
// the records as they were, and one that answers inconsistently still yields a permutation.
#pragma once
#include "runtime/arena.hpp"

namespace zel::record_sort {

// Answers below 1 when record a may stay before record b (0: the two are equal), 1 or more when a
// must go after b. `operation` and `flags` are the caller's, handed over unchanged.
using compare_fn = i32 (*)(const u8* a, const u8* b, u32 operation, u32 flags);
// The same question about the records at indexes a and b (counted from 0 in the input order).
using index_compare_fn = i32 (*)(u32 a, u32 b, u32 operation, u32 flags);

// Sort n records of `size` bytes at base. The comparator sees every record at its input place, so
// the memory must stay put while it runs: when the comparator may run language code (which can
// move a series buffer), sort a caller-owned copy or use the order entry points below.
void merge_stable(u8* base, i32 n, u32 size, u32 operation, u32 flags, compare_fn compare);
void quick_unstable(u8* base, i32 n, u32 size, u32 operation, u32 flags, compare_fn compare);

// Fill order[0..n) with the record indexes 0..n-1 in sorted order, touching no record; the
// comparator gets indexes and re-reads the records wherever they are now.
void merge_stable_order(u32* order, i32 n, u32 operation, u32 flags, index_compare_fn compare);
void quick_unstable_order(u32* order, i32 n, u32 operation, u32 flags, index_compare_fn compare);

// Rearranges the n records at base so that place i holds what was record order[i]. order must be
// a permutation of 0..n-1 (as the sorts above leave it); it is unchanged on return.
void apply_order(u8* base, u32* order, i32 n, u32 size);

} // namespace zel::record_sort
