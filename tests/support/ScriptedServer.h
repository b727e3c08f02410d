// A TCP server on 127.0.0.1 that plays a fixed script to one client and records every byte
// the client sends, so a protocol test can assert the exact transcript. Every wait is bounded:
// a script that the client does not follow ends by itself.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {

class ScriptedServer {
  public:
    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Script steps, played in order once a client connects.
    ScriptedServer& Send(const std::string& bytes) { return Add(Step::SendBytes, bytes); }
    // Waits for one line ending in "\r\n" (up to StepTimeout).
    ScriptedServer& ExpectLine() { return Add(Step::Line); }
    ScriptedServer& ExpectData() { return Add(Step::Data); }  // the end of SMTP data, "\r\n.\r\n"
    ScriptedServer& Pause(int ms) { return Add(Step::Sleep, "", ms); }
    ScriptedServer& Close() { return Add(Step::Hangup); }  // closes the connection at once
    // Sends bytes one at a time, everyMs apart (a server that answers without end); stops
    // when the client hangs up.
    ScriptedServer& Trickle(const std::string& bytes, int everyMs) {
        return Add(Step::Drip, bytes, everyMs);
    }
    // How long ExpectLine/ExpectData wait, and how long the server keeps listening after the
    // script before it closes (default 10 s each).
    ScriptedServer& StepTimeout(int ms) {
        stepTimeoutMs_ = ms;
        return *this;
    }

    // A reply script in one go. script[0] is the greeting, sent at once; every later entry is
    // the reply to one line from the client. Entries may start with "." (the reply comes after
    // the end of SMTP data), "~" (sent 300 ms after the one before, not after a line),
    // "!close" (the server hangs up after the line), "!trickle" (the rest, one byte every
    // 100 ms); "!silent" as the greeting: the server says nothing at all. Each reply gets
    // CR LF unless it ends in a line break or "+" (sent as it is, without the "+").
    ScriptedServer& Play(const std::vector<std::string>& script);

    // Binds a free port and starts serving one connection; false when it cannot bind.
    bool Start();
    int Port() const { return port_; }

    // Waits until the session is over (the client closed, the script closed or the final
    // listening time ran out) and gives every byte the client sent.
    std::string Transcript();
    // Whether a client connected at all (valid after Transcript()).
    bool Connected() const { return connected_; }
    // Whether the client hung up while a Trickle step was still sending (after Transcript()).
    bool ClientLeftDuringTrickle() const { return leftDuringTrickle_; }

  private:
    struct Step {
        enum Kind { SendBytes, Line, Data, Sleep, Hangup, Drip } kind;
        std::string bytes;
        int ms = 0;
    };
    ScriptedServer& Add(Step::Kind kind, const std::string& bytes = "", int ms = 0) {
        steps_.push_back({kind, bytes, ms});
        return *this;
    }
    void Serve();

    std::vector<Step> steps_;
    int stepTimeoutMs_ = 10000;
    int listenFd_ = -1;
    int port_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::string transcript_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> leftDuringTrickle_{false};
};

}  // namespace qvtest
