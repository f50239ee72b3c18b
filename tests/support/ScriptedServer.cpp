#include "support/ScriptedServer.h"

#include "net/tls/TlsChannel.h"
#include "platform/Socket.h"
#include "platform/UniqueSocket.h"
#include "support/LoopbackSockets.h"
#include "support/TestEnv.h"

#include <algorithm>
#include <chrono>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdexcept>
#include <utility>

namespace tavlo::test {
namespace {

using Clock = std::chrono::steady_clock;
using port::SocketHandle;

// Waits are cut into slices so that a stop request is noticed quickly.
constexpr int kSliceMs = 50;
// A client line longer than this is a fault of the client under test.
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

Clock::time_point DeadlineIn(int ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

// The reasons the TLS library queued on this thread, oldest first.
std::string TakeTlsErrors() {
    std::string text;
    while (const unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.empty())
            text += "; ";
        text += buf;
    }
    return text;
}

std::string Printable(std::string_view s) {
    std::string out;
    for (const char c : s.substr(0, 200)) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20)
            out += '?';
        else
            out += c;
    }
    if (s.size() > 200)
        out += "...";
    return out;
}

int RecordServerName(SSL* ssl, int*, void*);

} // namespace

// --- steps ------------------------------------------------------------------

Step Step::Send(std::string bytes) {
    Step s;
    s.kind = Kind::Send;
    s.bytes = std::move(bytes);
    return s;
}

Step Step::Expect(std::string line) {
    Step s;
    s.kind = Kind::Expect;
    s.bytes = std::move(line);
    return s;
}

Step Step::ReadLine() {
    Step s;
    s.kind = Kind::ReadLine;
    return s;
}

Step Step::ExpectBytes(std::string bytes) {
    Step s;
    s.kind = Kind::ExpectBytes;
    s.bytes = std::move(bytes);
    return s;
}

Step Step::Sleep(int ms) {
    Step s;
    s.kind = Kind::Sleep;
    s.ms = ms;
    return s;
}

Step Step::Trickle(std::string bytes, std::size_t chunk, int delayMs) {
    Step s;
    s.kind = Kind::Trickle;
    s.bytes = std::move(bytes);
    s.chunk = chunk == 0 ? 1 : chunk;
    s.ms = delayMs;
    return s;
}

Step Step::CloseConnection() {
    Step s;
    s.kind = Kind::CloseConnection;
    return s;
}

Step Step::SendForever(std::string pattern, std::size_t capBytes) {
    Step s;
    s.kind = Kind::SendForever;
    s.bytes = pattern.empty() ? std::string("x") : std::move(pattern);
    s.cap = capBytes;
    return s;
}

Step Step::WaitForClientClose() {
    Step s;
    s.kind = Kind::WaitForClientClose;
    return s;
}

Step Step::Custom(std::function<bool(ScriptedConnection&)> fn) {
    Step s;
    s.kind = Kind::Custom;
    s.custom = std::move(fn);
    return s;
}

TlsServerIdentity TestTlsIdentity(std::string_view name) {
    const std::string base = "tls/" + std::string(name);
    return {TestDataPath(base + ".crt"), TestDataPath(base + ".key")};
}

// --- one connection -----------------------------------------------------------

class ConnectionImpl final : public ScriptedConnection {
public:
    // The connection's socket is the connection's: it closes it. The TLS
    // channel only borrows it (and ends before the socket is closed).
    ConnectionImpl(ScriptedServer& server, std::size_t index, port::UniqueSocket socket)
        : m_server(server), m_index(index), m_owned(std::move(socket)), m_socket(m_owned.Get()) {}

    ConnectionImpl(const ConnectionImpl&) = delete;
    ConnectionImpl& operator=(const ConnectionImpl&) = delete;

    bool Handshake(SSL_CTX* ctx) {
        ERR_clear_error();
        if (!m_tls.Attach(ctx, m_socket, TlsChannel::Role::Server))
            return HandshakeFailed("cannot create the server session: " + TakeTlsErrors());
        SSL_set_app_data(m_tls.Get(), this);
        const auto& trickle = m_server.m_options.handshakeTrickle;
        // Trickled flights are written into memory first, then sent in pieces.
        BIO* flights = trickle ? BIO_new(BIO_s_mem()) : nullptr;
        if (trickle) {
            if (flights == nullptr)
                return HandshakeFailed("cannot create a memory buffer: " + TakeTlsErrors());
            SSL_set0_wbio(m_tls.Get(), flights); // the session owns it now
        }
        const auto deadline = DeadlineIn(m_server.m_options.ioTimeoutMs);
        for (;;) {
            const TlsChannel::Status st = m_tls.TryHandshake();
            if (flights != nullptr && !SendTrickled(flights, *trickle))
                return HandshakeFailed("trickling the handshake failed: " + m_ioError);
            if (st == TlsChannel::Status::Ok)
                break;
            if (st == TlsChannel::Status::WantRead || st == TlsChannel::Status::WantWrite) {
                const Wait w = WaitFor(st == TlsChannel::Status::WantWrite, deadline);
                if (w != Wait::Ready)
                    return HandshakeFailed(WaitText(w));
                continue;
            }
            std::string reason = TakeTlsErrors();
            if (reason.empty())
                reason = "connection closed during the handshake";
            return HandshakeFailed(reason);
        }
        if (flights != nullptr) {
            // From here on the session writes to the socket itself again.
            BIO* direct = BIO_new_socket(static_cast<int>(m_socket), BIO_NOCLOSE);
            if (direct == nullptr)
                return HandshakeFailed("cannot restore the socket: " + TakeTlsErrors());
            SSL_set0_wbio(m_tls.Get(), direct);
        }
        m_server.Record(m_index, [](ConnectionRecord& r) { r.tlsHandshakeOk = true; });
        return true;
    }

    void OnServerName(const char* name) {
        const std::string text = name != nullptr ? name : "";
        m_server.Record(m_index, [&](ConnectionRecord& r) { r.tlsServerName = text; });
    }

    bool RunScript(const Script& script) {
        for (std::size_t i = 0; i < script.size(); ++i) {
            m_stepIndex = i;
            if (m_server.m_stop)
                return false;
            if (!RunStep(script[i]))
                return false;
            if (m_closed)
                break; // CloseConnection or a flood the client ended
        }
        return true;
    }

    // Ends the connection without losing data in flight: the close
    // notification (TLS), end of our sending side, then reading (and
    // recording) until the client closes too, so that closing never resets
    // a connection whose last reply the client has not read yet.
    void CloseGracefully() {
        if (m_closed)
            return;
        m_closed = true;
        m_tls.SendCloseNotify();
        port::SocketShutdown(m_socket, port::ShutdownHow::Send);
        const auto deadline = DeadlineIn(m_server.m_options.lingerMs);
        while (!m_eof && !m_server.m_stop && ReadLineQuietly(deadline)) {
        }
    }

    // ScriptedConnection

    bool Send(std::string_view bytes) override {
        if (SendAll(bytes))
            return true;
        Fail("sending " + std::to_string(bytes.size()) + " bytes failed: " + m_ioError);
        return false;
    }

    std::optional<std::string> ReadLine() override {
        auto line = ReadLineQuietly();
        if (!line)
            Fail(m_eof ? "the client closed the connection instead of sending a line"
                       : "no line from the client: " + m_ioError);
        return line;
    }

    std::optional<std::string> ReadBytes(std::size_t n) override {
        const auto deadline = DeadlineIn(m_server.m_options.ioTimeoutMs);
        while (m_buffer.size() < n) {
            if (!Fill(deadline)) {
                Fail("expected " + std::to_string(n) + " bytes, got " +
                     std::to_string(m_buffer.size()) +
                     (m_eof ? " before the client closed" : ": " + m_ioError));
                return std::nullopt;
            }
        }
        std::string out = m_buffer.substr(0, n);
        m_buffer.erase(0, n);
        return out;
    }

    void Sleep(int ms) override {
        const auto deadline = DeadlineIn(ms);
        while (!m_server.m_stop) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                break;
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kSliceMs)));
        }
    }

    void Fail(std::string message) override {
        m_server.AddError("connection " + std::to_string(m_index) + ", step " +
                          std::to_string(m_stepIndex) + ": " + message);
    }

    std::size_t index() const override { return m_index; }

private:
    enum class Wait { Ready, TimedOut, Stopped, Failed };

    static std::string WaitText(Wait w) {
        switch (w) {
        case Wait::TimedOut:
            return "timed out waiting for the client";
        case Wait::Stopped:
            return "the server was stopped";
        case Wait::Failed:
            return "waiting on the socket failed";
        case Wait::Ready:
            break;
        }
        return "ready";
    }

    bool HandshakeFailed(const std::string& reason) {
        m_server.Record(m_index, [&](ConnectionRecord& r) { r.tlsError = reason; });
        m_server.AddError("connection " + std::to_string(m_index) +
                          ": TLS handshake failed: " + reason);
        return false;
    }

    Wait WaitFor(bool write, Clock::time_point deadline) {
        for (;;) {
            if (m_server.m_stop)
                return Wait::Stopped;
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return Wait::TimedOut;
            const long us =
                static_cast<long>(std::min<long long>(left.count(), std::int64_t{kSliceMs} * 1000));
            const int r = write ? port::SocketWaitWritable(m_socket, 0, us)
                                : port::SocketWaitReadable(m_socket, 0, us);
            if (r > 0)
                return Wait::Ready;
            if (r < 0)
                return Wait::Failed;
        }
    }

    // "Would block" shares its error number with an unfinished
    // non-blocking connect on both socket layers.
    static bool WouldBlock() { return port::IsConnectInProgress(port::LastSocketError()); }

    // Receives what is there into m_buffer. False at end of stream (m_eof),
    // on time-out, stop or failure (m_ioError).
    bool Fill(Clock::time_point deadline) {
        if (m_eof)
            return false;
        char buf[16384];
        for (;;) {
            long n = 0;
            bool wantWrite = false;
            if (m_tls.IsActive()) {
                std::size_t got = 0;
                const TlsChannel::Status st = m_tls.TryRead(buf, sizeof buf, got);
                switch (st) {
                case TlsChannel::Status::Ok:
                    n = static_cast<long>(got);
                    break;
                case TlsChannel::Status::Closed:
                    if (m_tls.PeerSentCloseNotify())
                        m_server.Record(m_index,
                                        [](ConnectionRecord& r) { r.tlsCloseNotify = true; });
                    ERR_clear_error();
                    n = 0;
                    break;
                case TlsChannel::Status::WantRead:
                case TlsChannel::Status::WantWrite:
                    n = -1;
                    break;
                case TlsChannel::Status::Failed:
                    m_ioError = "TLS read failed: " + TakeTlsErrors();
                    MarkClientGone();
                    return false;
                }
                wantWrite = st == TlsChannel::Status::WantWrite;
            } else {
                n = port::SocketReceive(m_socket, buf, sizeof buf);
                if (n < 0 && !WouldBlock()) {
                    m_ioError =
                        "receive failed (error " + std::to_string(port::LastSocketError()) + ")";
                    MarkClientGone();
                    return false;
                }
            }
            if (n > 0) {
                m_buffer.append(buf, static_cast<std::size_t>(n));
                const std::string piece(buf, static_cast<std::size_t>(n));
                m_server.Record(m_index, [&](ConnectionRecord& r) { r.received += piece; });
                return true;
            }
            if (n == 0) {
                MarkClientGone();
                return false;
            }
            const Wait w = WaitFor(wantWrite, deadline);
            if (w != Wait::Ready) {
                m_ioError = WaitText(w);
                return false;
            }
        }
    }

    void MarkClientGone() {
        m_eof = true;
        m_server.Record(m_index, [](ConnectionRecord& r) { r.clientClosed = true; });
    }

    // One line, recorded; no script failure on end of stream or time-out.
    std::optional<std::string> ReadLineQuietly() {
        return ReadLineQuietly(DeadlineIn(m_server.m_options.ioTimeoutMs));
    }

    std::optional<std::string> ReadLineQuietly(Clock::time_point deadline) {
        for (;;) {
            const auto lf = m_buffer.find('\n');
            if (lf != std::string::npos) {
                std::string line = m_buffer.substr(0, lf + 1);
                m_buffer.erase(0, lf + 1);
                if (line.size() >= 2 && line[line.size() - 2] == '\r')
                    line.resize(line.size() - 2);
                m_server.Record(m_index, [&](ConnectionRecord& r) { r.lines.push_back(line); });
                return line;
            }
            if (m_buffer.size() > kMaxLineBytes) {
                m_ioError = "line longer than " + std::to_string(kMaxLineBytes) + " bytes";
                return std::nullopt;
            }
            if (!Fill(deadline))
                return std::nullopt;
        }
    }

    // Sends what the session wrote into memory, in the pieces and at the
    // pace of the trickle, straight onto the socket.
    bool SendTrickled(BIO* flights, const HandshakeTrickle& trickle) {
        char buf[16384];
        for (;;) {
            const int n = BIO_read(flights, buf, sizeof buf);
            if (n <= 0)
                return true;
            std::string_view rest(buf, static_cast<std::size_t>(n));
            while (!rest.empty()) {
                if (m_trickleStarted)
                    Sleep(trickle.delayMs);
                m_trickleStarted = true;
                const std::string_view piece =
                    rest.substr(0, std::max<std::size_t>(trickle.chunk, 1));
                if (!SendAll(piece, true))
                    return false;
                rest.remove_prefix(piece.size());
            }
        }
    }

    // All the bytes, through TLS once it is up unless raw.
    bool SendAll(std::string_view bytes, bool raw = false) {
        auto deadline = DeadlineIn(m_server.m_options.ioTimeoutMs);
        while (!bytes.empty()) {
            if (m_server.m_stop) {
                m_ioError = WaitText(Wait::Stopped);
                return false;
            }
            long n = -1;
            bool wantRead = false;
            if (m_tls.IsActive() && !raw) {
                std::size_t written = 0;
                const TlsChannel::Status st = m_tls.TryWrite(bytes.data(), bytes.size(), written);
                if (st == TlsChannel::Status::Ok) {
                    n = static_cast<long>(written);
                } else if (st != TlsChannel::Status::WantRead &&
                           st != TlsChannel::Status::WantWrite) {
                    m_ioError = "TLS write failed: " + TakeTlsErrors();
                    MarkClientGone();
                    return false;
                } else {
                    wantRead = st == TlsChannel::Status::WantRead;
                }
            } else {
                n = port::SocketSend(m_socket, bytes.data(), bytes.size());
                if (n < 0 && !WouldBlock()) {
                    m_ioError =
                        "send failed (error " + std::to_string(port::LastSocketError()) + ")";
                    MarkClientGone();
                    return false;
                }
            }
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                deadline = DeadlineIn(m_server.m_options.ioTimeoutMs); // progress
                continue;
            }
            const Wait w = WaitFor(!wantRead, deadline);
            if (w != Wait::Ready) {
                m_ioError = WaitText(w);
                return false;
            }
        }
        return true;
    }

    bool SendForever(const std::string& pattern, std::size_t cap) {
        std::string block;
        while (block.size() < 65536)
            block += pattern;
        std::size_t sent = 0;
        while (sent < cap) {
            const std::size_t n = std::min(block.size(), cap - sent);
            if (!SendAll(std::string_view(block).substr(0, n))) {
                if (m_eof) {
                    m_closed = true; // the client hung up: the flood did its job
                    return true;
                }
                Fail("flood stopped after " + std::to_string(sent) + " bytes: " + m_ioError);
                return false;
            }
            sent += n;
        }
        return true;
    }

    bool RunStep(const Step& step) {
        switch (step.kind) {
        case Step::Kind::Send:
            return Send(step.bytes);
        case Step::Kind::Expect: {
            const auto line = ReadLine();
            if (!line)
                return false;
            if (*line != step.bytes) {
                Fail("expected \"" + Printable(step.bytes) + "\", got \"" + Printable(*line) +
                     "\"");
                return false;
            }
            return true;
        }
        case Step::Kind::ReadLine:
            return ReadLine().has_value();
        case Step::Kind::ExpectBytes: {
            const auto got = ReadBytes(step.bytes.size());
            if (!got)
                return false;
            if (*got != step.bytes) {
                Fail("expected bytes \"" + Printable(step.bytes) + "\", got \"" + Printable(*got) +
                     "\"");
                return false;
            }
            return true;
        }
        case Step::Kind::Sleep:
            Sleep(step.ms);
            return !m_server.m_stop;
        case Step::Kind::Trickle:
            for (std::size_t off = 0; off < step.bytes.size(); off += step.chunk) {
                if (off > 0)
                    Sleep(step.ms);
                if (!Send(std::string_view(step.bytes).substr(off, step.chunk)))
                    return false;
            }
            return true;
        case Step::Kind::CloseConnection:
            CloseGracefully();
            return true;
        case Step::Kind::SendForever:
            return SendForever(step.bytes, step.cap);
        case Step::Kind::WaitForClientClose:
            while (ReadLineQuietly()) {
            }
            if (!m_eof) {
                Fail("the client did not close the connection: " + m_ioError);
                return false;
            }
            m_closed = true;
            return true;
        case Step::Kind::Custom:
            return step.custom ? step.custom(*this) : true;
        }
        return false;
    }

    ScriptedServer& m_server;
    const std::size_t m_index;
    port::UniqueSocket m_owned;
    const SocketHandle m_socket;
    TlsChannel m_tls;     // declared after the socket: ends before it is closed
    std::string m_buffer; // received, not yet consumed
    std::string m_ioError;
    std::size_t m_stepIndex = 0;
    bool m_eof = false;
    bool m_closed = false;
    bool m_trickleStarted = false;
};

namespace {

int RecordServerName(SSL* ssl, int*, void*) {
    if (auto* conn = static_cast<ConnectionImpl*>(SSL_get_app_data(ssl)))
        conn->OnServerName(SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name));
    return SSL_TLSEXT_ERR_OK;
}

} // namespace

// --- the server ---------------------------------------------------------------

ScriptedServer::ScriptedServer(Script script, ScriptedServerOptions options)
    : ScriptedServer(std::vector<Script>{std::move(script)}, std::move(options)) {}

ScriptedServer::ScriptedServer(std::vector<Script> connections, ScriptedServerOptions options)
    : m_scripts(std::move(connections)), m_options(std::move(options)) {
    EnsureSocketLayer();
    if (m_options.tls) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        if (ctx == nullptr)
            throw std::runtime_error("cannot create a TLS server context: " + TakeTlsErrors());
        m_tlsContext = ctx;
        SSL_CTX_set_tlsext_servername_callback(ctx, RecordServerName);
        if (SSL_CTX_use_certificate_chain_file(ctx, m_options.tls->certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, m_options.tls->keyFile.c_str(), SSL_FILETYPE_PEM) !=
                1 ||
            SSL_CTX_check_private_key(ctx) != 1) {
            const std::string why = TakeTlsErrors();
            SSL_CTX_free(ctx);
            m_tlsContext = nullptr;
            throw std::runtime_error("cannot load TLS identity " + m_options.tls->certFile + ": " +
                                     why);
        }
    }
    m_listener = ListenLoopback(0, m_port);
    if (!m_listener || port::SocketSetNonBlocking(m_listener.Get(), true) != 0) {
        const int err = port::LastSocketError();
        m_listener.Reset();
        SSL_CTX_free(static_cast<SSL_CTX*>(m_tlsContext));
        throw std::runtime_error("cannot listen on loopback (error " + std::to_string(err) + ")");
    }
    m_thread = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
    Stop();
    SSL_CTX_free(static_cast<SSL_CTX*>(m_tlsContext));
}

void ScriptedServer::Stop() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool ScriptedServer::WaitUntilFinished(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_finishedCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return m_finished; });
}

std::vector<std::string> ScriptedServer::transcript() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> all;
    for (const auto& r : m_records)
        all.insert(all.end(), r.lines.begin(), r.lines.end());
    return all;
}

std::vector<ConnectionRecord> ScriptedServer::connections() const {
    std::lock_guard lock(m_mutex);
    return m_records;
}

std::vector<std::string> ScriptedServer::errors() const {
    std::lock_guard lock(m_mutex);
    return m_errors;
}

void ScriptedServer::Record(std::size_t index,
                            const std::function<void(ConnectionRecord&)>& update) {
    std::lock_guard lock(m_mutex);
    if (index < m_records.size())
        update(m_records[index]);
}

void ScriptedServer::AddError(std::string message) {
    std::lock_guard lock(m_mutex);
    m_errors.push_back(std::move(message));
}

void ScriptedServer::Run() {
    for (std::size_t i = 0; i < m_scripts.size() && !m_stop; ++i) {
        const auto deadline = DeadlineIn(m_options.acceptTimeoutMs);
        port::UniqueSocket s;
        while (!m_stop && Clock::now() < deadline) {
            if (port::SocketWaitReadable(m_listener.Get(), 0, kSliceMs * 1000) <= 0)
                continue;
            s = AcceptConnection(m_listener.Get());
            if (s)
                break; // else the client gave up between the wait and the accept
        }
        if (!s) {
            if (!m_stop)
                AddError("connection " + std::to_string(i) + ": no client connected within " +
                         std::to_string(m_options.acceptTimeoutMs) + " ms");
            break;
        }
        RunConnection(i, std::move(s));
    }
    m_listener.Reset();
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_finishedCv.notify_all();
}

void ScriptedServer::RunConnection(std::size_t index, port::UniqueSocket socket) {
    {
        std::lock_guard lock(m_mutex);
        m_records.emplace_back();
        m_records.back().tls = m_tlsContext != nullptr;
    }
    const SocketHandle h = socket.Get();
    ConnectionImpl conn(*this, index, std::move(socket));
    if (port::SocketSetNonBlocking(h, true) != 0) {
        AddError("connection " + std::to_string(index) + ": cannot make the socket non-blocking");
        return;
    }
    if (m_tlsContext != nullptr && !conn.Handshake(static_cast<SSL_CTX*>(m_tlsContext)))
        return;
    const bool completed = conn.RunScript(m_scripts[index]);
    conn.CloseGracefully();
    Record(index, [&](ConnectionRecord& r) { r.scriptCompleted = completed; });
}

} // namespace tavlo::test
