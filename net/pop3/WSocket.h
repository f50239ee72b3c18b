// A thin, blocking IPv4 TCP client socket that raises CWSocketException on
// every failure of the platform's socket layer.
#pragma once

#include "platform/Socket.h"
#include "platform/UniqueSocket.h"

#include <cstddef>
#include <string>

// The one exception of the POP3 transport. Raised as a pointer to a heap
// object (ThrowSocketError); the catcher deletes it after reading
// m_nErrorCode.
class CWSocketException {
public:
    explicit CWSocketException(int errorCode) : m_nErrorCode(errorCode) {}
    virtual ~CWSocketException() = default;

    // Run-time class name (the framework's class query).
    virtual const char* GetRuntimeClassName() const { return "CWSocketException"; }

    // The system's message text for m_nErrorCode, cut to fit size bytes
    // including the NUL. helpContext, when given, is set to 0. False and an
    // empty buffer when the system has no text.
    virtual bool GetErrorMessage(char* buffer, unsigned size,
                                 unsigned* helpContext = nullptr) const;

    int m_nErrorCode;
};

// Raises a new CWSocketException; code 0 means "the socket layer's last
// error".
[[noreturn]] void ThrowSocketError(int code);

class CWSocket {
public:
    CWSocket() = default;
    virtual ~CWSocket() = default; // m_hSocket closes an open socket

    CWSocket(const CWSocket&) = delete;
    CWSocket& operator=(const CWSocket&) = delete;

    // A new socket; one already open is closed first.
    port::SocketHandle Create(int type = port::kSocketStream);
    void Bind(const char* address = nullptr);
    void Connect(const char* host, int port);
    long Send(const void* data, std::size_t length);
    long Receive(void* buffer, std::size_t capacity);
    bool IsReadable(unsigned long timeoutMs);
    int Close();
    port::SocketHandle Handle() const { return m_hSocket.Get(); }

    // Connect to the proxy (its failure raised unchanged), then negotiate a
    // tunnel to host:port (net/proxy/ProxyTunnel.h); a failed negotiation
    // closes the socket and raises its code. Each reply byte is waited for
    // at most timeoutMs. user null or empty: no credentials.
    void ConnectThroughSocks4(const char* host, int port, const char* proxyHost, int proxyPort,
                              unsigned long timeoutMs);
    void ConnectThroughSocks5(const char* host, int port, const char* proxyHost, int proxyPort,
                              const char* user, const char* password, unsigned long timeoutMs);
    // reply receives the proxy's reply head. userAgent null: no User-Agent.
    void ConnectThroughHttpProxy(const char* host, int port, const char* proxyHost, int proxyPort,
                                 std::string& reply, const char* user, const char* password,
                                 unsigned long timeoutMs, const char* userAgent);

    // The open socket, or none (the invalid handle).
    port::UniqueSocket m_hSocket;
};
