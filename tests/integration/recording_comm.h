// The platform's serial calls with a note of every port the program opens.
#pragma once

#include "forwarding_comm.h"

#include <string>
#include <vector>

namespace kronex::test {

class RecordingComm : public ForwardingComm {
  public:
    using ForwardingComm::ForwardingComm;
    std::vector<std::string> opened;

    HANDLE CreateFileA(LPCSTR name, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f,
                       HANDLE t) override {
        opened.emplace_back(name);
        return ForwardingComm::CreateFileA(name, a, s, sa, c, f, t);
    }
};

} // namespace kronex::test
