// A slot's port in a station: a port session on the slot's port name, resolved anew at every
// opening.
#include "station/Station.h"

#include <filesystem>

namespace station {

namespace {

session::SessionSettings SessionSettingsOf(const StationSettings& s) {
    session::SessionSettings settings;
    settings.Working = s.Working;
    settings.Loader = s.Loader;
    settings.PromptReplies = s.PromptReplies;
    settings.ReconnectSeconds = s.ReconnectSeconds;
    return settings;
}

session::PortTarget TargetOf(const SlotSetup& setup) {
    session::PortTarget target;
    std::string ignored;
    if (!session::ResolvePort(setup.Port, target, ignored)) target.Name = setup.Port;
    return target;
}

class SessionSlotPort : public SlotPort {
  public:
    SessionSlotPort(const SlotSetup& setup, const StationSettings& settings,
                    const FirmwarePackageData& package, session::SessionEvents& events)
        : PortName(setup.Port),
          Session(TargetOf(setup), SessionSettingsOf(settings), &package, events, nullptr) {}

    bool Present(std::string* device) override {
        session::PortTarget target;
        std::string ignored;
        if (!session::ResolvePort(PortName, target, ignored) || target.Device.empty()) return false;
        if (device) *device = target.Device;
        // A COM number resolves only to a device that is there; a path must be looked at.
        if (target.Number > 0) return true;
        std::error_code error;
        return std::filesystem::exists(target.Device, error) || error;
    }
    bool Open(session::RunReport& report) override { return Session.Open(report); }
    void Close() override { Session.Close(); }
    bool IsPortOpen() const override { return Session.IsPortOpen(); }
    bool Vanished() override { return Session.Vanished(); }
    std::string Device() const override { return Session.Device(); }
    void Interrupt() override { Session.Interrupt(); }
    bool Interrupted() const override { return Session.Interrupted(); }
    // The port is at the working mode as Open leaves it: not reopened twice to get there, which
    // a station probing every second would pay for in threads started and ended.
    session::AskOutcome AskVersion(std::string& text) override {
        return Session.AskVersion(text, false);
    }
    session::AskOutcome AskText(const std::string& command, std::string& reply) override {
        return Session.AskText(command, reply, false);
    }
    bool PingLoader() override { return Session.PingLoader(); }
    void SetTrace(session::Trace* trace) override { Session.SetTrace(trace); }
    session::RunReport Flash(const std::string& packagePath, const std::string& md5) override {
        return Session.Flash(packagePath, md5);
    }
    session::RunStage Stage() const override { return Session.Stage(); }
    int Reconnects() const override { return Session.Reconnects(); }

  private:
    const std::string PortName;
    session::PortSession Session;
};

} // namespace

SlotPortMaker SessionPorts(const StationSettings& settings, const FirmwarePackageData& package) {
    return [&settings, &package](const SlotSetup& setup, session::SessionEvents& events) {
        return std::make_unique<SessionSlotPort>(setup, settings, package, events);
    };
}

} // namespace station
