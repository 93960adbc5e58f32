#pragma once

#include "KestrixCore/HIDBackend.h"
#include "KestrixProtocol/MainLoop.h"
#include "LinuxHIDBackend.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestrix::core {

// One handle on a hidraw node. Seizing opens the node and grabs the evdev nodes of the same HID
// device (EVIOCGRAB), which fails with EBUSY while another process has grabbed them.
class HidrawHandle final : public HIDHandle {
public:
    HidrawHandle(MainLoop& loop, std::shared_ptr<HIDSystemCalls> calls, std::string node,
                 std::vector<std::string> eventNodes, std::map<std::string, PropertyValue> own);
    ~HidrawHandle() override;

    std::optional<PropertyValue> property(const std::string& name) const override;
    void setInputHandler(std::uint8_t* buffer, std::size_t size, InputHandler handler) override;
    HIDResult open(bool seize) override;
    void activate() override;
    void close() override;
    void cancel() override;
    HIDResult getFeature(std::uint8_t reportID, std::uint8_t* buffer, std::size_t& length) override;
    HIDResult setOutputReport(std::uint8_t reportID, const std::uint8_t* bytes,
                              std::size_t length) override;

private:
    void readable();

    MainLoop& loop_;
    std::shared_ptr<HIDSystemCalls> calls_;
    std::string node_;
    std::vector<std::string> eventNodes_;
    std::map<std::string, PropertyValue> own_;
    std::uint8_t* buffer_ = nullptr;
    std::size_t size_ = 0;
    InputHandler handler_;
    int fd_ = -1;
    std::vector<int> grabbed_;
    std::unique_ptr<Watch> watch_;
};

} // namespace kestrix::core
