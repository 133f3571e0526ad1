// No iTunes exists on Linux: the application object can never be created. The automation
// system needs no per-thread set-up here, so Initialize and Uninitialize do nothing.
#include "platform/itunes/ITunes.h"

#include <QThread>

namespace platform::itunes {
namespace {

class SystemITunes final : public IComponent {
public:
    void Initialize() override {}
    void Uninitialize() override {}
    std::shared_ptr<IApplication> CreateApplication() override {
        throw Error(QStringLiteral("iTunes is not installed on this computer"));
    }
    void Sleep(int milliseconds) override { QThread::msleep(static_cast<unsigned long>(milliseconds)); }
};

} // namespace

IComponent& SystemComponent() {
    static SystemITunes component;
    return component;
}

} // namespace platform::itunes
