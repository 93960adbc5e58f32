#include "Vantor/SpaceMouseInput.h"

#include "KestrixClient/KestrixConnection.h"

namespace vantor {

KestrixInput::KestrixInput(std::shared_ptr<kestrix::client::KestrixConnection> connection)
    : connection_(std::move(connection)) {}

KestrixInput::~KestrixInput() {
    // Nothing may call back into an owner that is going away.
    connection_->onEvent = nullptr;
    connection_->onAppsWithOwnClient = nullptr;
}

void KestrixInput::setOnEvent(std::function<void(const Event&)> handler) {
    connection_->onEvent = std::move(handler);
}

void KestrixInput::setOnAppsWithOwnClient(
    std::function<void(const std::set<std::string>&)> handler) {
    connection_->onAppsWithOwnClient = std::move(handler);
}

const std::vector<kestrix::SpaceMouseDevice>& KestrixInput::devices() const {
    return connection_->devices();
}

bool KestrixInput::holds() const {
    return connection_->holds();
}

const std::set<std::string>& KestrixInput::appsWithOwnClient() const {
    return connection_->appsWithOwnClient();
}

void KestrixInput::start() {
    connection_->start();
}

void KestrixInput::stop() {
    connection_->stop();
}

void KestrixInput::setClaim(const kestrix::Claim& claim) {
    connection_->setClaim(claim);
}

void KestrixInput::holdReading(bool hold) {
    connection_->holdReading(hold);
}

void KestrixInput::readWaiting() {
    connection_->readWaiting();
}

} // namespace vantor
