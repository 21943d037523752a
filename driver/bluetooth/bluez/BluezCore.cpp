// The BlueZ radio's core: the connection to the system bus and to bluetoothd, the reasons it
// logs, the leases that keep the connection, and the registries of the radio's objects.
#include "BluezCore.h"

#include "BluezObjects.h"

#include <unistd.h>

#include <algorithm>

namespace tarvolt::bluez {

namespace {

bool NotOnTheBus(const Reply &reply)
{
    return reply.errorName == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           reply.errorName == "org.freedesktop.DBus.Error.NameHasNoOwner";
}

} // namespace

BluezCore::BluezCore(BluezOptions options, LogSink log) : options_(std::move(options)), log_(std::move(log)) {}

BluezCore::~BluezCore() { Shutdown(); }

void BluezCore::Shutdown()
{
    std::shared_ptr<BusConnection> connection;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        connection = std::move(connection_);
    }
    if (connection)
        connection->Close();
}

Lease::Lease(std::shared_ptr<BluezCore> core) : core_(std::move(core)) { core_->Acquire(); }

Lease::~Lease() { core_->Release(); }

void BluezCore::Acquire()
{
    std::lock_guard<std::mutex> lock(connectionMutex_);
    ++leases_;
}

void BluezCore::Release()
{
    std::shared_ptr<BusConnection> connection;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        if (--leases_ > 0)
            return;
        connection = std::move(connection_);
    }
    // The worker has let go of everything: what it sent is on its way, and the loop may end
    // (from a task of the loop itself it ends after that task).
    if (connection)
        connection->Close();
}

int BluezCore::Held()
{
    std::lock_guard<std::mutex> lock(connectionMutex_);
    return leases_ + (connection_ ? 1 : 0);
}

void BluezCore::SetInterrupted(bool interrupted)
{
    std::shared_ptr<BusConnection> connection;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        interrupted_ = interrupted;
        connection = connection_;
    }
    if (connection)
        connection->SetInterrupted(interrupted);
    {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        waitsInterrupted_ = interrupted;
    }
    mirrorChanged_.notify_all();
}

void BluezCore::Report(const std::string &reason)
{
    {
        std::lock_guard<std::mutex> lock(reportMutex_);
        if (reason == lastReason_)
            return;
        lastReason_ = reason;
    }
    if (log_)
        log_("BlueZ: " + reason);
}

void BluezCore::Clear()
{
    std::lock_guard<std::mutex> lock(reportMutex_);
    lastReason_.clear();
}

void BluezCore::ReportBadProperty(const std::string &path, const std::string &name, const Value &value,
                                  const char *expected)
{
    {
        std::lock_guard<std::mutex> lock(reportMutex_);
        const std::string key = path + '|' + name + '|' + value.Signature();
        // Bounded, so that a peer that keeps inventing types cannot grow it without end.
        if (badProperties_.count(key) != 0 || badProperties_.size() >= 256)
            return;
        badProperties_.insert(key);
    }
    if (log_)
        log_("BlueZ: " + name + " of " + path + " has " + value.Describe() + " instead of type " + expected +
             "; it is ignored");
}

std::string BluezCore::CallFailure(const std::string &what, const Reply &reply) const
{
    const std::string &name = reply.errorName;
    if (name == "org.freedesktop.DBus.Error.AccessDenied")
        return what + " was refused by the system bus (" + reply.errorMessage +
               "): its policy does not let this user talk to bluetoothd";
    if (name == kErrorNoReply)
        return "bluetoothd did not answer " + what + " in time";
    if (NotOnTheBus(reply) && InFlatpak())
        return "org.bluez cannot be seen on the system bus from Flatpak's sandbox: Steam from Flathub may talk "
               "to bluetoothd only when allowed (flatpak override --user --system-talk-name=org.bluez "
               "com.valvesoftware.Steam, then restart Steam), unless bluetoothd is not running at all";
    if (NotOnTheBus(reply))
        return "bluetoothd is not running (nothing owns org.bluez on the system bus)";
    if (name == kErrorDisconnected)
        return "the connection to the system bus was lost";
    if (name == kErrorInterrupted)
        return what + " was interrupted";
    return what + " failed: " + name + (reply.errorMessage.empty() ? "" : " (" + reply.errorMessage + ")");
}

// In a Flatpak sandbox a bluetoothd that cannot be seen is most likely hidden, and starting it
// would not help.
radio::Readiness BluezCore::ReadinessAfter(const Reply &reply) const
{
    if ((NotOnTheBus(reply) && !InFlatpak()) || reply.errorName == kErrorDisconnected)
        return radio::Readiness::StackMissing;
    return radio::Readiness::Unusable;
}

bool BluezCore::InFlatpak() const
{
    return !options_.flatpakInfoPath.empty() && access(options_.flatpakInfoPath.c_str(), F_OK) == 0;
}

std::shared_ptr<BusConnection> BluezCore::Current()
{
    std::lock_guard<std::mutex> lock(connectionMutex_);
    return connection_ && connection_->IsOpen() ? connection_ : nullptr;
}

void BluezCore::MarkStale()
{
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    fresh_ = false;
}

std::shared_ptr<BusConnection> BluezCore::OpenLocked(radio::RadioCheck &failure)
{
    std::string &reason = failure.detail;
    // Without the library or a bus there is no way to bluetoothd: the stack is missing as a whole.
    failure.readiness = radio::Readiness::StackMissing;
    if (api_ == nullptr) {
        api_ = LoadSdBus(libraryError_, options_.libraries);
        if (api_ == nullptr) {
            reason = "the D-Bus library sd-bus (libsystemd.so.0) could not be loaded (" + libraryError_ +
                     "); Bluetooth is not available";
            return nullptr;
        }
    }
    const std::vector<std::string> matches = {
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
        "arg0='org.bluez'",
        "type='signal',interface='org.freedesktop.DBus.ObjectManager',path='/'",
        "type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
        "path_namespace='/org/bluez'",
    };
    const std::weak_ptr<BluezCore> weak = weak_from_this();
    // The handlers reach the connection whose loop calls them; that loop outlives every such call.
    // Signals before the connection is known here precede the first snapshot of the tree.
    auto connectionRef = std::make_shared<std::atomic<BusConnection *>>(nullptr);
    auto connection = BusConnection::Open(
        *api_, options_.busAddress, matches,
        [weak, connectionRef](const Signal &signal) {
            BusConnection *connection = connectionRef->load();
            if (auto core = weak.lock(); core && connection)
                core->OnSignal(signal, *connection);
        },
        [weak, connectionRef] {
            BusConnection *connection = connectionRef->load();
            if (auto core = weak.lock(); core && connection)
                core->OnDisconnect(*connection);
        },
        reason);
    if (!connection)
        return nullptr;
    *connectionRef = connection.get();
    connection->SetInterrupted(interrupted_);
    return connection;
}

std::shared_ptr<BusConnection> BluezCore::Ready(bool refresh)
{
    radio::RadioCheck failure;
    std::shared_ptr<BusConnection> connection = Connect(refresh, failure);
    if (!connection)
        Report(failure.detail);
    return connection;
}

radio::RadioCheck BluezCore::Check()
{
    // The connection closes again after the check unless a radio object holds it too.
    Lease lease(shared_from_this());
    radio::RadioCheck failure;
    if (!Connect(true, failure))
        return failure;
    if (FirstPoweredAdapter(failure.detail, &failure.readiness).empty())
        return failure;
    return {};
}

std::shared_ptr<BusConnection> BluezCore::Connect(bool refresh, radio::RadioCheck &failure)
{
    std::lock_guard<std::mutex> lock(connectionMutex_);
    if (!connection_ || !connection_->IsOpen()) {
        if (connection_)
            connection_->Close();  // its loop has ended with the bus; this only joins it
        connection_.reset();
        {
            std::lock_guard<std::mutex> mirror(mirrorMutex_);
            fresh_ = false;
        }
        connection_ = OpenLocked(failure);
        if (!connection_)
            return nullptr;
    }
    bool fresh;
    {
        std::lock_guard<std::mutex> mirror(mirrorMutex_);
        fresh = fresh_ && !refresh;
    }
    if (!fresh && !RefreshLocked(*connection_, failure))
        return nullptr;
    return connection_;
}

void BluezCore::Register(const std::shared_ptr<BluezWatcher> &watcher)
{
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    watchers_.erase(std::remove_if(watchers_.begin(), watchers_.end(), [](auto &w) { return w.expired(); }),
                    watchers_.end());
    watchers_.push_back(watcher);
}

void BluezCore::Register(const std::shared_ptr<BluezDevice> &device)
{
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(), [](auto &d) { return d.expired(); }),
                   devices_.end());
    devices_.push_back(device);
}

void BluezCore::Register(const std::shared_ptr<BluezCharacteristic> &characteristic)
{
    std::lock_guard<std::mutex> lock(mirrorMutex_);
    characteristics_.erase(
        std::remove_if(characteristics_.begin(), characteristics_.end(), [](auto &c) { return c.expired(); }),
        characteristics_.end());
    characteristics_.push_back(characteristic);
}

std::vector<std::shared_ptr<BluezCharacteristic>> BluezCore::SubscribedUnder(const std::string &devicePath)
{
    // Every live one is taken under the lock and sorted out after it: one whose last other
    // reference goes meanwhile ends here, outside the lock.
    std::vector<std::shared_ptr<BluezCharacteristic>> all;
    std::vector<bool> subscribed;
    {
        std::lock_guard<std::mutex> lock(mirrorMutex_);
        for (auto &weak : characteristics_)
            if (auto c = weak.lock()) {
                subscribed.push_back(c->DevicePath() == devicePath && c->NotifyingLocked());
                all.push_back(std::move(c));
            }
    }
    std::vector<std::shared_ptr<BluezCharacteristic>> out;
    for (size_t i = 0; i < all.size(); ++i)
        if (subscribed[i])
            out.push_back(all[i]);
    return out;
}

std::vector<std::shared_ptr<BluezWatcher>> BluezCore::LiveWatchersLocked(Tasks &tasks)
{
    std::vector<std::shared_ptr<BluezWatcher>> out;
    for (auto &weak : watchers_)
        if (auto w = weak.lock()) {
            tasks.push_back([w] {});
            out.push_back(std::move(w));
        }
    return out;
}

std::vector<std::shared_ptr<BluezDevice>> BluezCore::LiveDevicesLocked(const std::string &path, Tasks &tasks)
{
    std::vector<std::shared_ptr<BluezDevice>> out;
    for (auto &weak : devices_)
        if (auto d = weak.lock()) {
            tasks.push_back([d] {});
            if ((path.empty() || d->Path() == path) && !d->ClosedLocked())
                out.push_back(std::move(d));
        }
    return out;
}

std::vector<std::shared_ptr<BluezCharacteristic>> BluezCore::LiveCharacteristicsLocked(const std::string &path,
                                                                                      Tasks &tasks)
{
    std::vector<std::shared_ptr<BluezCharacteristic>> out;
    for (auto &weak : characteristics_)
        if (auto c = weak.lock()) {
            tasks.push_back([c] {});
            if (path.empty() || c->Path() == path)
                out.push_back(std::move(c));
        }
    return out;
}

void BluezCore::BadPropertyTask(const std::string &path, const std::string &name, const Value &value,
                                const char *expected, Tasks &tasks)
{
    const std::weak_ptr<BluezCore> weak = weak_from_this();
    tasks.push_back([weak, path, name, value, expected] {
        if (auto core = weak.lock())
            core->ReportBadProperty(path, name, value, expected);
    });
}

} // namespace tarvolt::bluez
