// A test with the system serial layer, a throw-away device namespace and a
// pty pair linked as COM3. Ports the test opens are closed after it.
#pragma once

#include "comm_api.h"
#include "device_namespace.h"
#include "pty_pair.h"

#include <gtest/gtest.h>
#include <vector>

namespace kronex::test {

inline bool isValid(HANDLE h) {
    return h != nullptr && reinterpret_cast<std::intptr_t>(h) > 0;
}

class PortFixture : public ::testing::Test {
  protected:
    static constexpr int kLinkedCom = 3;

    PortFixture() { devices.link(kLinkedCom, unit.slavePath()); }
    ~PortFixture() override;

    // CreateFileA as the link calls it, for "\\.\COMn".
    HANDLE openCom(int n);
    // COM3, which must open.
    HANDLE openLinkedPort();
    BOOL close(HANDLE h);

    void setReadTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant);
    // A plain ReadFile/WriteFile without an OVERLAPPED; the count moved.
    DWORD write(HANDLE port, const Bytes& bytes);
    Bytes read(HANDLE port, DWORD count);

    CommApi& api = systemCommApi();
    DeviceNamespace devices;
    PtyPair unit;

  private:
    std::vector<HANDLE> opened_;
};

} // namespace kronex::test
