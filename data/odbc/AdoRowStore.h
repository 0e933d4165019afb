// AdoRowStore: the rows a static cursor holds in memory, each packed into one
// run of bytes (a one-byte kind per value, then its payload: fixed bytes for
// numbers and dates, a length and the bytes for texts). A result of millions
// of values then costs little more than its data, instead of one full value
// object (and a heap text) per value. Rows are unpacked one at a time into
// value objects when the cursor moves to them.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "data/odbc/AdoVariant.h"

class AdoRowStore
{
public:
    // Packs `row` as the next row; every row has the same number of values.
    void Append(const std::vector<AdoVariant>& row);
    // Unpacks row `index` (from 0) into `row`, which is sized to the row's
    // value count; text buffers of `row` are reused.
    void Read(size_t index, std::vector<AdoVariant>& row) const;

    size_t RowCount() const { return m_rows.size(); }
    // Bytes held: the blocks and the row index.
    size_t HeldBytes() const;
    // Releases every row.
    void Clear();

private:
    unsigned char* Reserve(size_t bytes);

    // Rows never span blocks; a block is allocated once and never moved, so
    // the store never holds twice its size while it grows.
    std::vector<std::unique_ptr<unsigned char[]>> m_blocks;
    size_t m_blockBytes = 0;  // total size of m_blocks
    unsigned char* m_free = nullptr;
    size_t m_left = 0;
    std::vector<const unsigned char*> m_rows;  // start of each row
    size_t m_valuesPerRow = 0;
};
