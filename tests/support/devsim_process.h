// kronex-devsim run as a child process, and a port opened on its terminal the
// way the updater opens one.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kronex::devsim::test {

class DevsimProcess {
  public:
    // Starts the program with these arguments and XDG_STATE_HOME=stateHome.
    DevsimProcess(const std::vector<std::string>& args, const std::string& stateHome);
    ~DevsimProcess(); // kills it if still running

    // The first line of its output ("" if none came in time).
    std::string readLine(std::chrono::milliseconds timeout);
    // Closes its standard input.
    void closeInput();
    // Sends the signal and waits; the exit code, or -1 if it died otherwise or hung.
    int stop(int signal);
    // Waits without a signal; as stop().
    int wait(std::chrono::milliseconds timeout);

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    int input_ = -1;
};

class TestPort {
  public:
    explicit TestPort(const std::string& path); // raw, non-blocking, no controlling tty
    ~TestPort();
    bool isOpen() const { return fd_ >= 0; }
    void send(const std::vector<std::uint8_t>& bytes);
    // Up to count bytes, whatever came before the timeout.
    std::vector<std::uint8_t> receive(std::size_t count, std::chrono::milliseconds timeout);

  private:
    int fd_ = -1;
};

} // namespace kronex::devsim::test
