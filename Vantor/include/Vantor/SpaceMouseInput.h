#pragma once

#include "KestrixClient/ConnectionEvent.h"
#include "KestrixProtocol/ProtocolRecords.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kestrix::client {
class KestrixConnection;
}

namespace vantor {

// The broker connection as the Scroller sees it.
class SpaceMouseInput {
public:
    using Event = kestrix::client::ConnectionEvent;

    virtual ~SpaceMouseInput() = default;

    virtual void setOnEvent(std::function<void(const Event&)> handler) = 0;
    virtual void
    setOnAppsWithOwnClient(std::function<void(const std::set<std::string>&)> handler) = 0;

    virtual const std::vector<kestrix::SpaceMouseDevice>& devices() const = 0;
    virtual bool holds() const = 0;
    virtual const std::set<std::string>& appsWithOwnClient() const = 0;

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void setClaim(const kestrix::Claim& claim) = 0;
    // While held, events arrive only from readWaiting(), which the owner calls at its own pace;
    // an input that has nothing to hold delivers as events come.
    virtual void holdReading(bool) {}
    virtual void readWaiting() {}
};

// The real connection to the broker behind the seam.
class KestrixInput final : public SpaceMouseInput {
public:
    explicit KestrixInput(std::shared_ptr<kestrix::client::KestrixConnection> connection);
    ~KestrixInput() override;

    void setOnEvent(std::function<void(const Event&)> handler) override;
    void setOnAppsWithOwnClient(std::function<void(const std::set<std::string>&)> handler) override;
    const std::vector<kestrix::SpaceMouseDevice>& devices() const override;
    bool holds() const override;
    const std::set<std::string>& appsWithOwnClient() const override;
    void start() override;
    void stop() override;
    void setClaim(const kestrix::Claim& claim) override;
    void holdReading(bool hold) override;
    void readWaiting() override;

    kestrix::client::KestrixConnection& connection() { return *connection_; }

private:
    std::shared_ptr<kestrix::client::KestrixConnection> connection_;
};

} // namespace vantor
