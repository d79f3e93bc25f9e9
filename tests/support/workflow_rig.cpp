#include "workflow_rig.h"

#include "release_fixture.h"
#include "update_session.h"

#include <atomic>
#include <stdexcept>
#include <unistd.h>

namespace kronex::test {

namespace {

std::filesystem::path freshDirectory() {
    static std::atomic<int> counter{0};
    auto dir = std::filesystem::temp_directory_path() /
               ("kronex-rig-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace

WorkflowRig::WorkflowRig() : WorkflowRig(sampleRelease()) {}

WorkflowRig::WorkflowRig(const ReleaseTable& release) : release_(&release), dir_(freshDirectory()) {
    auto loaded = loadCatalog(release);
    if (auto* problem = std::get_if<LayoutProblem>(&loaded))
        throw std::runtime_error(problem->describe());
    catalog = std::get<LoadedCatalog>(loaded);
    window.maximum = catalog.progressMax;
    dumpFile = dir_ / "TEXTO2.TXT";
    dumpFiles.userHome = dir_ / "user";
    comm.recordTransfers = false;
}

WorkflowRig::~WorkflowRig() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

devsim::DeviceModel& WorkflowRig::unitOn(int n, devsim::Faults faults) {
    auto& unit = units_[n] = std::make_unique<devsim::DeviceModel>(faults);
    comm.port(n).peer = devicePeer(*unit);
    return *unit;
}

namespace {

// The reports go to the window; the question is answered as told.
class AskingReports final : public SessionObserver {
  public:
    AskingReports(MainWindowOps& window, const std::function<bool(const KeptRecord&)>& answer)
        : window_(window), answer_(answer) {}
    void checkBegins() override { window_.checkBegins(); }
    void checkEnded() override { window_.checkEnded(); }
    void sessionBegins(std::string_view serial) override { window_.sessionBegins(serial); }
    void stepReached(SessionStep step) override { window_.stepReached(step); }
    void advanced(int units) override { window_.advanced(units); }
    void between() override { window_.between(); }
    void sessionCompleted() override { window_.sessionCompleted(); }
    bool useForeignRecord(const KeptRecord& k) override { return answer_(k); }

  private:
    MainWindowOps& window_;
    const std::function<bool(const KeptRecord&)>& answer_;
};

} // namespace

Workflow WorkflowRig::workflow(SessionObserver& observer) {
    Workflow w{observer, link, *release_, catalog, dumpFile, serialNumber};
    w.unitRecords = unitRecords;
    w.recordFiles = recordFiles;
    w.recordRequired = recordRequired;
    w.dumpFiles = &dumpFiles;
    return w;
}

void WorkflowRig::click() {
    Workflow w = workflow(window);
    sbATUClick(window, w);
    serialNumber = w.serialNumber;
}

bool WorkflowRig::runSession(int n) {
    link.port.ABRE_PORTA(n);
    AskingReports asking(window, confirmRecord);
    Workflow w = workflow(confirmRecord ? static_cast<SessionObserver&>(asking) : window);
    if (CART_V2(window, link.exchange, w.serialNumber, &w.checkedIdentity) != 0)
        return false;
    w.port = n;
    session = ATUALIZA(w);
    serialNumber = w.serialNumber;
    link.port.FECHA_PORTA();
    return session.completed;
}

} // namespace kronex::test
