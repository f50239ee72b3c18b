// Fetches message 1 of INBOX (RFC 3501 FETCH BODY.PEEK[]) with the IMAP
// client into its data source and prints how long the FETCH took.
//
//   imap_fetch_bench HOST PORT USER [--tls]     (the password is the first
//                                                line of standard input)
//
// Prints one line: "BYTES SECONDS KIND", KIND being "memory" or "mapped-file"
// for the source the body landed in. Exit code 0 on success. The peak memory
// of the process is its caller's to measure (scripts/bench-imap.py).
#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_IMAP4Client.h"
#include "platform/Socket.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

int Fail(const char* what, ResultCode rc) {
    std::fprintf(stderr, "imap_fetch_bench: %s failed: %s\n", what, ResultCodeName(rc));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (argc == 5 && std::strcmp(argv[4], "--tls") != 0) || argc > 5) {
        std::fprintf(stderr, "usage: imap_fetch_bench HOST PORT USER [--tls] < password\n");
        return 2;
    }
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (!port::SocketLayerStartup()) {
        std::fprintf(stderr, "imap_fetch_bench: the socket layer did not start\n");
        return 1;
    }

    int rc = 0;
    {
        CUT_IMAP4Client client;
        if (argc == 5)
            client.UseSecurePort();
        client.SetPort(std::atoi(argv[2]));
        if (const ResultCode r = client.OpenSession(argv[1], argv[3], password); r != UT::Success)
            return Fail("LOGIN", r);
        if (const ResultCode r = client.ExamineMailbox("INBOX"); r != UT::Success)
            return Fail("EXAMINE", r);

        const auto started = std::chrono::steady_clock::now();
        const ResultCode fetched =
            client.FetchMessages("1", CUT_IMAP4Client::kFetchWhole, false, false);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        const MessageRecord* record = nullptr;
        if (fetched != UT::Success)
            rc = Fail("FETCH", fetched);
        else if (client.GetMessageRecord(0, record) != UT::Success || record->body == nullptr)
            rc = Fail("FETCH (no body)", UT::Failed);
        if (rc == 0) {
            const auto* mapped = dynamic_cast<const CUT_MapFileDataSource*>(record->body);
            const auto* memory = dynamic_cast<const CUT_BufferDataSource*>(record->body);
            const unsigned long long bytes = mapped != nullptr   ? mapped->GetLength()
                                             : memory != nullptr ? memory->GetLength()
                                                                 : 0;
            std::printf("%llu %.6f %s\n", bytes, took.count(),
                        mapped != nullptr ? "mapped-file" : "memory");
        }
        client.CloseSession();
    }
    port::SocketLayerCleanup();
    return rc;
}
