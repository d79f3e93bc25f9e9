// The whole workflow without a window or a cable: the sample release, a
// recording window, fake ports on a virtual clock and simulated units.
#pragma once

#include "detection.h"
#include "device_model.h"
#include "device_peer.h"
#include "fake_comm.h"
#include "fake_dump_files.h"
#include "fake_window.h"
#include "loaded_catalog.h"
#include "record_files.h"
#include "serial_link.h"
#include "start_button.h"
#include "update_session.h"
#include "workflow.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

namespace kronex::test {

class WorkflowRig {
  public:
    explicit WorkflowRig(const ReleaseTable& release);
    WorkflowRig(); // the sample release, whatever release the program embeds
    ~WorkflowRig();

    FakeComm comm;
    SerialLink link{comm};
    FakeWindow window;
    LoadedCatalog catalog;
    std::filesystem::path dumpFile;
    FakeDumpFiles dumpFiles;           // the user's own folder: "user" beside dumpFile
    std::filesystem::path unitRecords; // empty: no records kept
    RecordFiles* recordFiles = nullptr;
    bool recordRequired = false;
    // Answers the question about another user's record, as kronex-update's
    // technician does; the session is then run for kronex-update, not the
    // window, which never asks.
    std::function<bool(const KeptRecord&)> confirmRecord;

    std::string serialNumber; // as the last run left it
    SessionResult session;    // as the last runSession left it

    // A simulated unit on COMn.
    devsim::DeviceModel& unitOn(int n, devsim::Faults faults = {});
    // COMn exists but nothing answers.
    void silentPortOn(int n) { comm.port(n); }

    // The session walks `release` while keeping the values loaded from the
    // release given at construction.
    void useRelease(const ReleaseTable& release) { release_ = &release; }

    // Presses the start button; OK at message 0 unless told otherwise.
    void click();
    // Runs the update session alone, as after a successful check on COMn.
    bool runSession(int n);
    // A folder of its own for unit records, removed with the rig.
    std::filesystem::path recordFolder() const { return dir_ / "records"; }

  private:
    const ReleaseTable* release_;
    std::filesystem::path dir_;
    std::map<int, std::unique_ptr<devsim::DeviceModel>> units_;
    Workflow workflow(SessionObserver& observer);
};

} // namespace kronex::test
