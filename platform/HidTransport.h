#pragma once
// HID access as the link needs it: list the interfaces of one vendor/product in enumeration order,
// open one by path, write one output report, read one input report with a time-out.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct HidDeviceInfo {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

class HidHandle {
public:
    virtual ~HidHandle() = default;
    // Sends one report exactly as given (first byte first). Returns the bytes written, -1 on error.
    virtual int Write(const std::uint8_t* data, std::size_t length) = 0;
    // Reads one report. Returns the bytes read, 0 on time-out, -1 when the device is gone or failed.
    virtual int Read(std::uint8_t* buffer, std::size_t length, int timeoutMs) = 0;
};

class HidTransport {
public:
    virtual ~HidTransport() = default;
    // Matching interfaces in enumeration order, each path once. None attached: an empty list.
    virtual std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) = 0;
    // nullptr when the path cannot be opened.
    virtual std::unique_ptr<HidHandle> Open(const std::string& path) = 0;
};

// The real transport over hidapi (hidraw backend).
class HidApiTransport : public HidTransport {
public:
    HidApiTransport();
    ~HidApiTransport() override;
    std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) override;
    std::unique_ptr<HidHandle> Open(const std::string& path) override;
};
