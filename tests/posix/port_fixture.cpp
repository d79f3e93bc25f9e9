#include "port_fixture.h"

#include <algorithm>
#include <string>

namespace kronex::test {

PortFixture::~PortFixture() {
    for (HANDLE h : opened_)
        api.CloseHandle(h);
}

HANDLE PortFixture::openCom(int n) {
    const std::string name = "\\\\.\\COM" + std::to_string(n);
    HANDLE h = api.CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (isValid(h))
        opened_.push_back(h);
    return h;
}

HANDLE PortFixture::openLinkedPort() {
    HANDLE h = openCom(kLinkedCom);
    EXPECT_TRUE(isValid(h)) << "error " << api.GetLastError();
    return h;
}

BOOL PortFixture::close(HANDLE h) {
    opened_.erase(std::remove(opened_.begin(), opened_.end(), h), opened_.end());
    return api.CloseHandle(h);
}

void PortFixture::setReadTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    t.WriteTotalTimeoutMultiplier = 5000;
    t.WriteTotalTimeoutConstant = 5000;
    ASSERT_TRUE(api.SetCommTimeouts(port, &t));
}

DWORD PortFixture::write(HANDLE port, const Bytes& bytes) {
    DWORD written = 0;
    EXPECT_TRUE(
        api.WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    return written;
}

Bytes PortFixture::read(HANDLE port, DWORD count) {
    Bytes buffer(count);
    DWORD got = 0;
    EXPECT_TRUE(api.ReadFile(port, buffer.data(), count, &got, nullptr));
    buffer.resize(got);
    return buffer;
}

} // namespace kronex::test
