// A throw-away device namespace: XDG_STATE_HOME points at a fresh folder
// whose kronex/dosdevices/comN links the test sets; put back on destruction.
#pragma once

#include <optional>
#include <string>

namespace kronex::test {

class DeviceNamespace {
  public:
    DeviceNamespace();
    ~DeviceNamespace();
    DeviceNamespace(const DeviceNamespace&) = delete;
    DeviceNamespace& operator=(const DeviceNamespace&) = delete;

    // Makes COMn stand for target (which need not exist).
    void link(int n, const std::string& target);
    // The folder XDG_STATE_HOME points at.
    const std::string& stateHome() const { return root_; }

  private:
    std::string root_;
    std::optional<std::string> savedStateHome_;
};

} // namespace kronex::test
