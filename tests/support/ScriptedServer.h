// A scripted line-protocol server on loopback for tests.
//
// The server listens on 127.0.0.1 with a port the system picks and, on a
// thread of its own, accepts one connection per script (in order) and plays
// that script: it sends bytes, reads CR-LF lines into a transcript, compares them
// with expected lines, sleeps, trickles, closes, floods. Optionally it speaks
// TLS (server side, from the first byte) with a given certificate and key.
//
// Every wait is bounded by a time-out, so a misbehaving client can never hang
// a test; the destructor stops the server and joins its thread.
//
//   ScriptedServer server({{Step::Send("+OK ready\r\n"), Step::Expect("QUIT"),
//                           Step::Send("+OK bye\r\n")}});
//   ... client connects to 127.0.0.1:server.port() ...
//   server.WaitUntilFinished();
//   EXPECT_EQ(server.transcript(), (std::vector<std::string>{"QUIT"}));
#pragma once

#include "platform/UniqueSocket.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tavlo::test {

class ScriptedConnection;

// One step of a connection's script. Build steps with the static factories.
struct Step {
    enum class Kind {
        Send,            // send `bytes` (all of them)
        Expect,          // read one line, record it, fail the script unless it equals `bytes`
        ReadLine,        // read one line and record it
        ExpectBytes,     // read exactly bytes.size() raw bytes, fail unless they equal `bytes`
        Sleep,           // pause for `ms`
        Trickle,         // send `bytes` in pieces of `chunk` bytes, `ms` apart
        CloseConnection, // end this connection now (graceful close; the client sees end of stream)
        SendForever, // send `bytes` over and over until the client closes or `cap` bytes went out
        WaitForClientClose, // read (recording lines) until the client closes its side
        Custom,             // run `custom`; a false result ends the script
    };

    Kind kind = Kind::Send;
    std::string bytes;
    std::size_t chunk = 1;
    int ms = 0;
    std::size_t cap = 0;
    std::function<bool(ScriptedConnection&)> custom;

    static Step Send(std::string bytes);
    static Step Expect(std::string line);
    static Step ReadLine();
    static Step ExpectBytes(std::string bytes);
    static Step Sleep(int ms);
    static Step Trickle(std::string bytes, std::size_t chunk, int delayMs);
    static Step CloseConnection();
    static Step SendForever(std::string pattern, std::size_t capBytes = kDefaultForeverCap);
    static Step WaitForClientClose();
    static Step Custom(std::function<bool(ScriptedConnection&)> fn);

    static constexpr std::size_t kDefaultForeverCap = std::size_t{64} << 20; // 64 MiB
};

using Script = std::vector<Step>;

// Certificate chain and key files (PEM) of a TLS server.
struct TlsServerIdentity {
    std::string certFile;
    std::string keyFile;
};

// The identity NAME from the test data: tls/NAME.crt and tls/NAME.key
// ("server", "impostor", "selfsigned", "wronghost").
TlsServerIdentity TestTlsIdentity(std::string_view name);

// A server whose handshake flights go out slowly: pieces of chunk bytes,
// delayMs apart.
struct HandshakeTrickle {
    std::size_t chunk = 1;
    int delayMs = 0;
};

struct ScriptedServerOptions {
    std::optional<TlsServerIdentity> tls;             // TLS from the first byte when set
    std::optional<HandshakeTrickle> handshakeTrickle; // with tls: trickle the handshake
    int ioTimeoutMs = 10000;                          // bound of every single wait for the client
    int acceptTimeoutMs = 10000;                      // bound of the wait for each connection
    // After its last step (and on CloseConnection) a connection is closed
    // gracefully: the server ends its sending side, then keeps reading (and
    // recording lines) until the client closes too, for at most this long,
    // so that closing never resets a reply the client has not read yet.
    int lingerMs = 3000;
};

// What happened on one accepted connection.
struct ConnectionRecord {
    // The lines received, in order, without their CR-LF. A line the client
    // ended with a bare LF keeps that "\n" so that it never compares equal to
    // a proper line.
    std::vector<std::string> lines;
    std::string received; // every byte received (decrypted under TLS)
    bool tls = false;     // TLS was offered on this connection
    bool tlsHandshakeOk = false;
    std::string tlsError;         // why the handshake failed (library's reason)
    std::string tlsServerName;    // server name the client sent (SNI); empty when none
    bool clientClosed = false;    // end of stream from the client was seen
    bool tlsCloseNotify = false;  // the client ended TLS with a close notification
    bool scriptCompleted = false; // every step ran without failing
};

// Handed to Custom steps: the same primitives the built-in steps use. All
// waits honour the server's I/O time-out and its stop request.
class ScriptedConnection {
public:
    virtual ~ScriptedConnection() = default;
    virtual bool Send(std::string_view bytes) = 0;
    // One line without its CR-LF, recorded in the transcript; nullopt on end
    // of stream, time-out or failure.
    virtual std::optional<std::string> ReadLine() = 0;
    // Exactly n bytes; nullopt when they do not arrive.
    virtual std::optional<std::string> ReadBytes(std::size_t n) = 0;
    virtual void Sleep(int ms) = 0;
    // Records a script failure (shown by ScriptedServer::errors()).
    virtual void Fail(std::string message) = 0;
    virtual std::size_t index() const = 0; // 0-based number of this connection
};

class ScriptedServer {
public:
    // One script per expected connection, accepted one after the other.
    // Listens before returning; throws std::runtime_error when it cannot.
    explicit ScriptedServer(std::vector<Script> connections, ScriptedServerOptions options = {});
    // A server for one connection.
    explicit ScriptedServer(Script script, ScriptedServerOptions options = {});
    ~ScriptedServer();

    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t port() const { return m_port; }

    // Lines received on all connections so far, in order.
    std::vector<std::string> transcript() const;
    // Records of the connections accepted so far.
    std::vector<ConnectionRecord> connections() const;
    // Script failures: unexpected lines, time-outs, missing connections,
    // failed TLS handshakes. Empty when everything went as scripted.
    std::vector<std::string> errors() const;

    // Waits until every connection has run its script and been closed (or
    // the server gave up waiting for a connection). True when that happened
    // within timeoutMs. Close the client first, or this waits out lingerMs.
    bool WaitUntilFinished(int timeoutMs = 20000);
    // Stops waiting, closes everything and joins the thread. Idempotent.
    void Stop();

private:
    friend class ConnectionImpl;

    void Run();
    void RunConnection(std::size_t index, port::UniqueSocket socket);
    void Record(std::size_t index, const std::function<void(ConnectionRecord&)>& update);
    void AddError(std::string message);

    std::vector<Script> m_scripts;
    ScriptedServerOptions m_options;
    port::UniqueSocket m_listener;
    std::uint16_t m_port = 0;
    void* m_tlsContext = nullptr; // SSL_CTX*, kept opaque here

    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_finishedCv;
    bool m_finished = false;
    std::vector<ConnectionRecord> m_records;
    std::vector<std::string> m_errors;
    std::thread m_thread;
};

} // namespace tavlo::test
