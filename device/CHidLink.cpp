#include "device/CHidLink.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/OleDateTime.h"

namespace {

HidTransport& DefaultTransport()
{
    static HidApiTransport transport;
    return transport;
}

void WaitWhileSet(const std::atomic<int>& a, const std::atomic<int>* b = nullptr)
{
    while (a.load() != 0 || (b && b->load() != 0)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace

CHidLink::CHidLink() : m_fnNow([] { return OleDateTime::GetCurrentTime(); }) {}

CHidLink::~CHidLink() { Close(); }

void CHidLink::SetTransport(HidTransport* transport) { m_pTransport = transport; }

HidTransport* CHidLink::Transport() const { return m_pTransport ? m_pTransport : &DefaultTransport(); }

std::shared_ptr<HidHandle> CHidLink::FindDevice(const std::string& skip)
{
    HidTransport* transport = Transport();
    for (const HidDeviceInfo& info : transport->Enumerate(HID_VENDOR_ID, HID_PRODUCT_ID)) {
        if (!skip.empty() && info.path == skip) continue;
        std::shared_ptr<HidHandle> handle = transport->Open(info.path);
        {
            std::lock_guard<std::mutex> lock(m_csPath);
            m_strDevicePath = info.path;  // kept whether or not the open succeeded
        }
        if (!handle) continue;
        if (info.vendorId != HID_VENDOR_ID || info.productId != HID_PRODUCT_ID) continue;
        m_hRead = handle;
        m_hWrite = handle;
        return handle;
    }
    return nullptr;
}

int CHidLink::Open(const std::string& skip)
{
    std::shared_ptr<HidHandle> handle;
    {
        std::lock_guard<std::mutex> lock(m_csIo);
        DropHandles();
        handle = FindDevice(skip);
    }
    if (!handle) return 1;

    // The model read is an ordinary exchange: it takes m_csIo per attempt and waits for the busy
    // flags of other threads, so the lock must not be held around it.
    std::uint8_t model[MEMORY_READ_MAX] = {};
    const bool read = ReadMemory(ADDR_MODEL, model, 2) == 1;
    const bool accepted = read && model[0] + 100 * model[1] == MODEL_CODE;

    std::lock_guard<std::mutex> lock(m_csIo);
    if (m_bCloseRequested) DropHandles();
    if (m_hRead != handle) return 1;  // closed or replaced meanwhile (removal)
    if (accepted) {
        m_hDevice = handle;
        ++m_nOpens;
        m_bDeviceOpen = true;
    } else {
        // Not our recorder: nothing may talk to it.
        m_hRead.reset();
        m_hWrite.reset();
    }
    return 1;
}

void CHidLink::Close()
{
    {
        std::lock_guard<std::mutex> lock(m_csIo);
        DropHandles();
    }
    std::lock_guard<std::mutex> lock(m_csPath);
    m_strDevicePath.clear();
}

std::string CHidLink::DevicePath() const
{
    std::lock_guard<std::mutex> lock(m_csPath);
    return m_strDevicePath;
}

void CHidLink::CloseHandles()
{
    m_bDeviceOpen = false;
    m_bCloseRequested = true;
    // A slow recorder keeps an exchange in the lock for up to its time-out, and the download takes
    // it again at once: waiting for it here would freeze the window.
    std::unique_lock<std::mutex> lock(m_csIo, std::try_to_lock);
    if (lock.owns_lock()) DropHandles();
}

void CHidLink::DropHandles()
{
    m_bCloseRequested = false;
    m_bDeviceOpen = false;
    m_hDevice.reset();
    m_hRead.reset();
    m_hWrite.reset();
}

int CHidLink::WriteReport(const std::uint8_t* request, int length)
{
    if (!m_hWrite) return 0;
    std::memset(m_OutBuf, 0, sizeof m_OutBuf);
    if (length > REPORT_OUT_BYTES) length = REPORT_OUT_BYTES;
    if (length > 0) std::memcpy(m_OutBuf, request, static_cast<std::size_t>(length));
    return m_hWrite->Write(m_OutBuf, REPORT_OUT_BYTES) == REPORT_OUT_BYTES ? 1 : 0;
}

int CHidLink::ReadReport(std::uint8_t* reply)
{
    if (!m_hRead) return 0;
    std::memset(m_InBuf, 0, sizeof m_InBuf);
    if (m_hRead->Read(m_InBuf, REPORT_IN_BYTES, m_nTimeoutMs) <= 0) return 0;  // time-out or gone
    std::memcpy(reply, m_InBuf, REPORT_KEPT_BYTES);
    const int length = static_cast<std::int8_t>(m_InBuf[1]);
    return length >= 1 && length <= 64 ? 1 : 0;
}

std::uint8_t CHidLink::Checksum(const std::uint8_t* frame, int n)
{
    unsigned sum = 0;
    for (int i = 2; i < n; ++i) sum += frame[i];
    return static_cast<std::uint8_t>(sum);
}

int CHidLink::Exchange(const std::uint8_t* request, int length, BusyRule rule, bool acknowledged, int minBody,
                       std::uint8_t* reply, unsigned only)
{
    std::uint8_t buffer[REPORT_IN_BYTES] = {};
    int readFailures = 0, checksumFailures = 0, refusals = 0;
    for (;;) {
        // Commands overtake live readings, and both overtake memory reads, between attempts.
        switch (rule) {
        case BusyRule::Command: m_bCmdBusy = 1; break;
        case BusyRule::Live:
            m_bLiveBusy = 1;
            WaitWhileSet(m_bCmdBusy);
            break;
        case BusyRule::Memory: WaitWhileSet(m_bLiveBusy, &m_bCmdBusy); break;
        }
        std::unique_lock<std::mutex> lock(m_csIo);
        // A close asked for while another attempt held the lock: this one finds no device.
        if (m_bCloseRequested) DropHandles();
        auto endAttempt = [&] {
            if (m_bCloseRequested) DropHandles();
            lock.unlock();
            if (rule == BusyRule::Command) m_bCmdBusy = 0;
            if (rule == BusyRule::Live) m_bLiveBusy = 0;
            // Asked for between the test above and the unlock: done here, not left to the next one.
            if (m_bCloseRequested && lock.try_lock()) {
                DropHandles();
                lock.unlock();
            }
        };

        // A request meant for one opened recorder never reaches another opened in its place.
        if (only != 0 && (!m_hDevice || m_nOpens != only)) {
            endAttempt();
            return 0;
        }
        if (!WriteReport(request, length)) {  // a failed write is never retried
            endAttempt();
            return 0;
        }
        if (!ReadReport(buffer)) {
            endAttempt();
            if (readFailures++) return 0;
            continue;
        }
        const int l = buffer[1];
        // A body shorter than asked would hand on bytes the recorder never sent.
        if (l > MEMORY_READ_MAX || Checksum(buffer, l + 1) != buffer[l + 1] || l - 1 < minBody) {
            endAttempt();
            if (checksumFailures++) return 0;
            continue;
        }
        if (acknowledged && buffer[2] != ACK_OK) {
            endAttempt();
            if (refusals++) return 0;
            continue;
        }
        if (reply) std::memcpy(reply, buffer, REPORT_KEPT_BYTES);
        endAttempt();
        return 1;
    }
}

void CHidLink::BuildClockRequest(const OleDateTimeFields& t, std::uint8_t request[11])
{
    request[0] = FRAME_START;
    request[1] = 0x09;
    request[2] = CMD_SET_CLOCK[0];
    request[3] = CMD_SET_CLOCK[1];
    request[4] = BcdEncode(t.year - 2000);
    request[5] = static_cast<std::uint8_t>(t.month);  // the month goes in binary
    request[6] = BcdEncode(t.day);
    request[7] = BcdEncode(t.hour);
    request[8] = BcdEncode(t.minute);
    request[9] = BcdEncode(t.second);
    request[10] = Checksum(request, 10);
}

int CHidLink::SetClock()
{
    OleDateTimeFields now;
    if (!m_fnNow().GetFields(now)) return 0;
    return SetClock(now);
}

int CHidLink::SetClock(const OleDateTimeFields& localTime)
{
    // Year 1995 would go out as 0xFB: a clock the recorder cannot hold is never sent.
    if (!DeviceClockHolds(localTime.year)) return 0;
    std::uint8_t request[11];
    BuildClockRequest(localTime, request);
    return Exchange(request, 11, BusyRule::Command, true, 0, nullptr);
}

int CHidLink::SendSetParams(const std::uint8_t request[11])
{
    return Exchange(request, 11, BusyRule::Command, true, 0, nullptr);
}

int CHidLink::SendSetPeriods(const std::uint8_t request[45])
{
    return Exchange(request, 45, BusyRule::Command, true, 0, nullptr);
}

int CHidLink::SendShortCommand(const std::uint8_t request[5], unsigned only)
{
    return Exchange(request, 5, BusyRule::Command, true, 0, nullptr, only);
}

int CHidLink::ReadLive(int& humidity, int& temperature)
{
    static const std::uint8_t request[5] = {FRAME_START, 0x03, CMD_READ_LIVE[0], CMD_READ_LIVE[1], 0x02};
    std::uint8_t reply[REPORT_IN_BYTES] = {};
    if (!Exchange(request, 5, BusyRule::Live, false, 3, reply)) return 0;
    humidity = reply[2];
    temperature = reply[3] * 256 + reply[4];
    return 1;
}

int CHidLink::ReadMemory(std::uint16_t address, std::uint8_t* out, int count)
{
    std::uint8_t request[8] = {FRAME_START,
                               0x06,
                               CMD_READ_MEMORY[0],
                               CMD_READ_MEMORY[1],
                               static_cast<std::uint8_t>(address >> 8),
                               static_cast<std::uint8_t>(address & 0xFF),
                               static_cast<std::uint8_t>(count),
                               0};
    request[7] = Checksum(request, 7);
    std::uint8_t reply[REPORT_IN_BYTES] = {};
    if (!Exchange(request, 8, BusyRule::Memory, false, count, reply)) return 0;
    std::memcpy(out, reply + 2, MEMORY_READ_MAX);
    return 1;
}
