#pragma once

#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace quillon {

// A growable array of plain values held with malloc and realloc. A dataset's columns grow
// while an answer streams in (its row count unknown) and give back their spare room when
// it is complete: realloc does that in place, where std::vector::shrink_to_fit allocates
// anew and copies every value, a copy of the whole dataset on the path of every query.
template<typename T>
class PodArray
{
    static_assert(std::is_trivially_copyable_v<T>, "values are moved by realloc");

public:
    PodArray() = default;
    ~PodArray() { std::free(m_data); }
    PodArray(const PodArray &other) { assign(other); }
    PodArray(PodArray &&other) noexcept { swap(other); }
    PodArray &operator=(const PodArray &other)
    {
        if (this != &other)
            assign(other);
        return *this;
    }
    PodArray &operator=(PodArray &&other) noexcept
    {
        PodArray gone(std::move(other));
        swap(gone);
        return *this;
    }

    void push_back(T value)
    {
        if (m_size == m_capacity)
            resizeStorage(m_capacity ? m_capacity * 2 : 16);
        m_data[m_size++] = value;
    }
    T &operator[](size_t i) { return m_data[i]; }
    const T &operator[](size_t i) const { return m_data[i]; }
    size_t size() const { return m_size; }
    void reserve(size_t n)
    {
        if (n > m_capacity)
            resizeStorage(n);
    }
    void shrink_to_fit()
    {
        if (m_capacity > m_size)
            resizeStorage(m_size);
    }

private:
    void swap(PodArray &other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }
    void assign(const PodArray &other)
    {
        m_size = 0;
        reserve(other.m_size);
        if (other.m_size)
            std::memcpy(m_data, other.m_data, other.m_size * sizeof(T));
        m_size = other.m_size;
    }
    void resizeStorage(size_t n)
    {
        if (n == 0) {
            std::free(m_data);
            m_data = nullptr;
            m_capacity = 0;
            return;
        }
        void *p = std::realloc(m_data, n * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        m_data = static_cast<T *>(p);
        m_capacity = n;
    }

    T *m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

} // namespace quillon
