#include "net/imap/UT_Queue.h"

#include <algorithm>

CUT_BoundedQueue::CUT_BoundedQueue(int capacity)
    : m_buffer(static_cast<std::size_t>(std::max(capacity, 0))) {}

int CUT_BoundedQueue::Read(char* buffer, int size) {
    if (buffer == nullptr || size <= 0)
        return 0;
    const int n = std::min(size, m_nCount);
    for (int i = 0; i < n; ++i) {
        buffer[i] = m_buffer[m_nHead];
        m_nHead = (m_nHead + 1) % m_buffer.size();
    }
    m_nCount -= n;
    return n;
}

int CUT_BoundedQueue::Write(const char* data, int length) {
    if (data == nullptr || length <= 0)
        return 0;
    const int n = std::min(length, GetFreeSpace());
    std::size_t tail =
        (m_nHead + static_cast<std::size_t>(m_nCount)) % std::max<std::size_t>(m_buffer.size(), 1);
    for (int i = 0; i < n; ++i) {
        m_buffer[tail] = data[i];
        tail = (tail + 1) % m_buffer.size();
    }
    m_nCount += n;
    return n;
}

int CUT_BoundedQueue::GetFreeSpace() const {
    return static_cast<int>(m_buffer.size()) - m_nCount;
}
