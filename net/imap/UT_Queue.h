// CUT_Queue: the byte queue taken by CUT_WSClient::SendFromQueue and
// ReceiveToQueue, and CUT_BoundedQueue, a fixed-capacity FIFO of it.
#pragma once

#include <cstddef>
#include <vector>

class CUT_Queue {
public:
    virtual ~CUT_Queue() = default;

    // Takes up to size bytes from the front; returns the count (0 when
    // empty).
    virtual int Read(char* buffer, int size) = 0;
    // Appends up to length bytes; returns the count written.
    virtual int Write(const char* data, int length) = 0;
    // Bytes that can still be written.
    virtual int GetFreeSpace() const = 0;
};

// A ring buffer of a fixed capacity. Write takes what fits.
class CUT_BoundedQueue : public CUT_Queue {
public:
    explicit CUT_BoundedQueue(int capacity);

    int Read(char* buffer, int size) override;
    int Write(const char* data, int length) override;
    int GetFreeSpace() const override;

    // Bytes waiting to be read.
    int GetDataSize() const { return m_nCount; }

private:
    std::vector<char> m_buffer;
    std::size_t m_nHead = 0; // index of the oldest byte
    int m_nCount = 0;
};
