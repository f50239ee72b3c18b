// An HTTP client for tests: answers every request with a set answer and
// records what was asked.
#pragma once

#include "platform/HttpClient.h"

#include <string>
#include <utility>
#include <vector>

namespace tavlo::test {

class FakeHttpClient : public port::HttpClient {
public:
    struct Request {
        std::string url;
        std::string agent;
        unsigned timeoutMs = 0;
    };

    explicit FakeHttpClient(port::HttpFirstLine answer = {}) : m_answer(std::move(answer)) {}

    port::HttpFirstLine GetFirstLine(const std::string& url, const std::string& agent,
                                     unsigned receiveTimeoutMs) override {
        m_requests.push_back({url, agent, receiveTimeoutMs});
        return m_answer;
    }

    void SetAnswer(port::HttpFirstLine answer) { m_answer = std::move(answer); }
    const std::vector<Request>& Requests() const { return m_requests; }

private:
    port::HttpFirstLine m_answer;
    std::vector<Request> m_requests;
};

} // namespace tavlo::test
