// XVector: a list of item pointers, either in insertion order or, with a
// comparison function, kept sorted and searched by binary search. The vector
// does not own its items except through DeleteAll, which destroys them.
#pragma once

#include <cstdint>
#include <vector>

template <class T>
class XVector
{
public:
    // Negative, zero or positive as the first item sorts before, with or after the second.
    using CompareFn = int (*)(const T* a, const T* b);

    explicit XVector(uint32_t growthStep = 16, CompareFn compare = nullptr)
        : m_step(growthStep == 0 ? 1 : growthStep), m_compare(compare) {}
    XVector(const XVector&) = delete;
    XVector& operator=(const XVector&) = delete;
    virtual ~XVector() = default;                  // frees the array, not the items

    uint32_t GetCount() const { return static_cast<uint32_t>(m_items.size()); }
    T* GetAt(uint32_t index) const { return index < m_items.size() ? m_items[index] : nullptr; }
    T* operator[](uint32_t index) const { return GetAt(index); }

    // Unsorted: appends. Sorted: inserts after every item that compares equal,
    // so equal items keep the order in which they were added.
    void Add(T* item)
    {
        Reserve();
        if (!m_compare) {
            m_items.push_back(item);
            return;
        }
        m_items.insert(m_items.begin() + InsertPosition(item), item);
    }

    // Sorted: index of one item comparing equal to key (any of several).
    // Unsorted: index of that very pointer. -1 when there is none.
    int32_t FindIndex(const T* key) const
    {
        if (!m_compare) {
            for (size_t i = 0; i < m_items.size(); ++i)
                if (m_items[i] == key)
                    return static_cast<int32_t>(i);
            return -1;
        }
        size_t low = 0, high = m_items.size();
        while (low < high) {
            size_t mid = low + (high - low) / 2;
            int c = m_compare(key, m_items[mid]);
            if (c == 0)
                return static_cast<int32_t>(mid);
            if (c < 0)
                high = mid;
            else
                low = mid + 1;
        }
        return -1;
    }

    T* Find(const T* key) const
    {
        int32_t index = FindIndex(key);
        return index < 0 ? nullptr : m_items[index];
    }

    // Takes the found entry out without destroying it; no match, no change.
    void Remove(const T* item)
    {
        int32_t index = FindIndex(item);
        if (index >= 0)
            RemoveAt(static_cast<uint32_t>(index));
    }

    void RemoveAt(uint32_t index)
    {
        if (index >= m_items.size())
            return;
        m_items.erase(m_items.begin() + index);
        if (m_items.capacity() >= m_items.size() + 2 * m_step)
            m_items.shrink_to_fit();
    }

    // Destroys every item in order, up to the first empty slot, and empties the vector.
    void DeleteAll()
    {
        for (T* item : m_items) {
            if (!item)
                break;
            delete item;
        }
        Clear();
    }

    // Empties the vector without destroying the items.
    void Clear()
    {
        m_items.clear();
        m_items.shrink_to_fit();
    }

    typename std::vector<T*>::const_iterator begin() const { return m_items.begin(); }
    typename std::vector<T*>::const_iterator end() const { return m_items.end(); }

    // Walks the items present when it was made; Next gives nullptr at the end.
    class Iterator
    {
    public:
        explicit Iterator(const XVector& vector) : m_items(vector.m_items) {}
        T* Next() { return m_index < m_items.size() ? m_items[m_index++] : nullptr; }

    private:
        std::vector<T*> m_items;
        size_t m_index = 0;
    };

private:
    void Reserve()
    {
        if (m_items.size() == m_items.capacity())
            m_items.reserve(m_items.capacity() + m_step);
    }

    // Position after the last item that is not greater than the new one.
    size_t InsertPosition(const T* item) const
    {
        size_t low = 0, high = m_items.size();
        while (low < high) {
            size_t mid = low + (high - low) / 2;
            if (m_compare(item, m_items[mid]) < 0)
                high = mid;
            else
                low = mid + 1;
        }
        return low;
    }

    std::vector<T*> m_items;
    uint32_t m_step;
    CompareFn m_compare;
};
