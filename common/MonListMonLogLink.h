#pragma once
#include <cstddef>
#include <cstdint>

// Owned by a connections row record: the row's creation sequence and its connect record number.
struct _MonListMonLogLink {
  std::uint32_t rowSequence;      // the list's row counter when the row was created
  std::uint32_t logRecordNumber;  // record counter before the connect record; 0 when nothing was logged
  std::uint32_t reserved;
};

static_assert(sizeof(_MonListMonLogLink) == 12);
