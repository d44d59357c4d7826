#include "platform/HidTransport.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <mutex>

namespace {

// hid_init is not thread-safe and must run once before any other hidapi call.
bool HidInit()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = hid_init() == 0; });
    return ok;
}

class HidApiHandle : public HidHandle {
public:
    explicit HidApiHandle(hid_device* device) : m_device(device) {}
    ~HidApiHandle() override { hid_close(m_device); }
    HidApiHandle(const HidApiHandle&) = delete;
    HidApiHandle& operator=(const HidApiHandle&) = delete;

    int Write(const std::uint8_t* data, std::size_t length) override { return hid_write(m_device, data, length); }

    int Read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
    {
        return hid_read_timeout(m_device, buffer, length, timeoutMs);
    }

private:
    hid_device* m_device;
};

}  // namespace

HidApiTransport::HidApiTransport() { HidInit(); }

// hidapi stays initialised for the process: other transports may still be in use.
HidApiTransport::~HidApiTransport() = default;

std::vector<HidDeviceInfo> HidApiTransport::Enumerate(std::uint16_t vendorId, std::uint16_t productId)
{
    std::vector<HidDeviceInfo> found;
    if (!HidInit()) return found;
    hid_device_info* list = hid_enumerate(vendorId, productId);
    for (const hid_device_info* info = list; info; info = info->next) {
        if (!info->path) continue;
        const std::string path = info->path;
        // One interface can be listed more than once; the first listing counts.
        if (std::any_of(found.begin(), found.end(), [&](const HidDeviceInfo& d) { return d.path == path; })) continue;
        found.push_back(HidDeviceInfo{path, info->vendor_id, info->product_id});
    }
    hid_free_enumeration(list);
    return found;
}

std::unique_ptr<HidHandle> HidApiTransport::Open(const std::string& path)
{
    if (!HidInit()) return nullptr;
    hid_device* device = hid_open_path(path.c_str());
    if (!device) return nullptr;
    return std::make_unique<HidApiHandle>(device);
}
