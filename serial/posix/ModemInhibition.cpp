#include "serial/ModemInhibition.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <systemd/sd-bus.h>

namespace {

constexpr const char* Service = "org.freedesktop.ModemManager1";
constexpr const char* ManagerPath = "/org/freedesktop/ModemManager1";
constexpr const char* ManagerInterface = "org.freedesktop.ModemManager1";
constexpr const char* ModemInterface = "org.freedesktop.ModemManager1.Modem";
constexpr const char* ObjectManagerInterface = "org.freedesktop.DBus.ObjectManager";
// Microseconds. The window asks on its user-interface thread, so a modem manager that hangs
// may hold it up for 2 s at most; an answer that comes later counts as a refusal (the warning
// says the port may be probed).
constexpr uint64_t ListTimeout = 2'000'000;
constexpr uint64_t InhibitTimeout = 2'000'000;
constexpr uint64_t ReleaseTimeout = 2'000'000;

struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

struct CallError {
    CallError() = default;
    CallError(const CallError&) = delete;
    CallError& operator=(const CallError&) = delete;
    ~CallError() { sd_bus_error_free(&Value); }
    // The manager is simply not there (we never start it by asking).
    bool NoOwner() const {
        return sd_bus_error_has_name(&Value, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
               sd_bus_error_has_name(&Value, SD_BUS_ERROR_NAME_HAS_NO_OWNER);
    }
    std::string Text(int r) const {
        if (Value.message) return Value.message;
        if (Value.name) return Value.name;
        return std::strerror(r < 0 ? -r : r);
    }
    sd_bus_error Value = SD_BUS_ERROR_NULL;
};

// The device's name as the kernel gives it: the path after /dev/, links resolved.
std::string KernelName(const std::string& path) {
    char resolved[PATH_MAX];
    const std::string real = realpath(path.c_str(), resolved) ? resolved : path;
    return real.rfind("/dev/", 0) == 0 ? real.substr(5) : std::string();
}

// A call to the modem manager that never has the bus start it.
int Call(sd_bus* bus, const char* path, const char* interface, const char* member, uint64_t timeout,
         CallError& error, Message* reply, const char* uid = nullptr, bool inhibit = false) {
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus, &raw, Service, path, interface, member);
    if (r < 0) return r;
    Message call(raw);
    if ((r = sd_bus_message_set_auto_start(raw, 0)) < 0) return r;
    if (uid && (r = sd_bus_message_append(raw, "sb", uid, int(inhibit))) < 0) return r;
    sd_bus_message* answer = nullptr;
    r = sd_bus_call(bus, raw, timeout, &error.Value, &answer);
    if (reply)
        reply->reset(answer);
    else
        sd_bus_message_unref(answer);
    return r;
}

// The variant's contents are of this type.
bool VariantHolds(sd_bus_message* m, const char* type) {
    const char* contents = nullptr;
    return sd_bus_message_peek_type(m, nullptr, &contents) > 0 && contents &&
           std::strcmp(contents, type) == 0;
}

// One modem's properties (a{sv}): its Device, and whether `name` is one of its Ports.
int ReadModem(sd_bus_message* m, const std::string& name, std::string& device, bool& owns) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* property = nullptr;
        if ((r = sd_bus_message_read(m, "s", &property)) < 0) return r;
        if (std::strcmp(property, "Device") == 0 && VariantHolds(m, "s")) {
            const char* value = nullptr;
            if ((r = sd_bus_message_read(m, "v", "s", &value)) < 0) return r;
            device = value;
        } else if (std::strcmp(property, "Ports") == 0 && VariantHolds(m, "a(su)")) {
            if ((r = sd_bus_message_enter_container(m, 'v', "a(su)")) < 0) return r;
            if ((r = sd_bus_message_enter_container(m, 'a', "(su)")) < 0) return r;
            const char* port = nullptr;
            uint32_t type = 0;
            while ((r = sd_bus_message_read(m, "(su)", &port, &type)) > 0)
                owns = owns || name == port;
            if (r < 0) return r;
            if ((r = sd_bus_message_exit_container(m)) < 0) return r;
            if ((r = sd_bus_message_exit_container(m)) < 0) return r;
        } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
            return r;
        }
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

// Looks through GetManagedObjects' answer (a{oa{sa{sv}}}) for the modem with port `name`.
int FindModem(sd_bus_message* m, const std::string& name, std::string& modem, std::string& device) {
    int r = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
        const char* path = nullptr;
        if ((r = sd_bus_message_read(m, "o", &path)) < 0) return r;
        if ((r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}")) < 0) return r;
        std::string uid;
        bool owns = false;
        while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
            const char* interface = nullptr;
            if ((r = sd_bus_message_read(m, "s", &interface)) < 0) return r;
            r = std::strcmp(interface, ModemInterface) == 0 ? ReadModem(m, name, uid, owns)
                                                            : sd_bus_message_skip(m, "a{sv}");
            if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) return r;
        }
        if (r < 0) return r;
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
        if (owns && !uid.empty()) {
            modem = path;
            device = uid;
            return 1;
        }
    }
    return r;
}

// The device node itself, links followed: a device that goes and comes back is a new node
// (another inode or change time) even where it gets the same name.
std::string NodeIdentity(const std::string& path) {
    struct stat node {};
    if (stat(path.c_str(), &node) != 0) return {};
    return std::to_string(node.st_dev) + ":" + std::to_string(node.st_ino) + ":" +
           std::to_string(node.st_rdev) + ":" + std::to_string(node.st_ctim.tv_sec) + "." +
           std::to_string(node.st_ctim.tv_nsec);
}

} // namespace

struct ModemInhibition::Bus {
    explicit Bus(sd_bus* bus) : Handle(bus) {}
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;
    ~Bus() { sd_bus_flush_close_unref(Handle); }
    sd_bus* const Handle;
};

ModemInhibition::ModemInhibition() = default;

ModemInhibition::~ModemInhibition() {
    Release();
}

ModemInhibitionState ModemInhibition::Inhibit(const std::string& devicePath) {
    Release();
    Path = devicePath;
    Name = KernelName(devicePath);
    ModemPath.clear();
    DeviceUid.clear();
    Reason.clear();
    const std::string node = NodeIdentity(devicePath);
    if (!node.empty() && node == QuietDevice) {
        LastAnswer = Current = QuietAnswer;
        return Current;
    }
    LastAnswer = Current = Ask();
    // Not "no manager": one that starts later must be asked.
    QuietDevice = Current == ModemInhibitionState::NotListed ? node : std::string();
    QuietAnswer = Current;
    return Current;
}

ModemInhibitionState ModemInhibition::Ask() {
    sd_bus* raw = nullptr;
    // The system bus where sd-bus finds it: DBUS_SYSTEM_BUS_ADDRESS, else the standard socket.
    if (sd_bus_open_system(&raw) < 0) return ModemInhibitionState::NoManager;
    auto bus = std::make_unique<Bus>(raw);

    CallError listError;
    Message objects;
    int r = Call(raw, ManagerPath, ObjectManagerInterface, "GetManagedObjects", ListTimeout,
                 listError, &objects);
    if (r < 0) {
        if (listError.NoOwner()) return ModemInhibitionState::NoManager;
        Reason = listError.Text(r);
        return ModemInhibitionState::Refused;
    }
    if (Name.empty() || FindModem(objects.get(), Name, ModemPath, DeviceUid) <= 0)
        return ModemInhibitionState::NotListed;

    CallError inhibitError;
    r = Call(raw, ManagerPath, ManagerInterface, "InhibitDevice", InhibitTimeout, inhibitError,
             nullptr, DeviceUid.c_str(), true);
    if (r < 0) {
        Reason = inhibitError.Text(r);
        return ModemInhibitionState::Refused;
    }
    // The modem manager keeps the inhibition for as long as this connection stays.
    Connection = std::move(bus);
    return ModemInhibitionState::Inhibited;
}

void ModemInhibition::Release() {
    if (Current == ModemInhibitionState::Inhibited && Connection) {
        CallError ignored;
        Call(Connection->Handle, ManagerPath, ManagerInterface, "InhibitDevice", ReleaseTimeout,
             ignored, nullptr, DeviceUid.c_str(), false);
    }
    Connection.reset();
    Current = ModemInhibitionState::None;
}
