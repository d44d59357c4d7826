#pragma once
// The program's only path to the recorder: discovery, the open device, and framed exchanges
// (one output report answered by one input report, checksum, fixed retry rule).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "device/DeviceProtocol.h"
#include "platform/HidTransport.h"
#include "platform/OleDateTime.h"

class CHidLink {
public:
    CHidLink();
    ~CHidLink();
    CHidLink(const CHidLink&) = delete;
    CHidLink& operator=(const CHidLink&) = delete;

    // The transport used by FindDevice; not owned. By default a process-wide hidapi transport.
    void SetTransport(HidTransport* transport);
    HidTransport* Transport() const;

    // First matching interface in enumeration order, opened; nullptr when none could be opened.
    // Sets m_strDevicePath to the last interface tried.
    std::shared_ptr<HidHandle> FindDevice(const std::string& skip = {});
    // Closes any open handles, finds the device and accepts it when its model code is 583.
    // Always 1; success shows as IsDeviceOpen().
    // skip: an interface just reported removed, which may still be listed for a moment.
    int Open(const std::string& skip = {});
    // Closes every handle and forgets the device path. Waits for an exchange under way.
    void Close();
    // The removal and the close: the device counts as gone at once and its handles are closed,
    // keeping the device path. Never waits for the link: when an exchange holds it, the handles
    // close as that attempt ends, and no further attempt reaches the device.
    void CloseHandles();
    // The program-wide test for a connected device (m_hDevice set).
    bool IsDeviceOpen() const { return m_bDeviceOpen.load(); }

    int WriteReport(const std::uint8_t* request, int length);        // 1 written, 0 failed
    int ReadReport(std::uint8_t* reply);                             // 64-byte buffer; 1 valid length byte
    static std::uint8_t Checksum(const std::uint8_t* frame, int n);  // sum of bytes 2 .. n-1

    // Acknowledged commands: 1 = acknowledged (0xAA), 0 = failed after the retries.
    // The clock is set only to a time the recorder can hold (DeviceClockHolds); another sends
    // nothing and fails.
    int SetClock();                                    // the local time now (m_fnNow)
    int SetClock(const OleDateTimeFields& localTime);  // a given time
    // The PC's local time, to the second; tests replace it before any thread uses the link.
    std::function<OleDateTime()> m_fnNow;
    static void BuildClockRequest(const OleDateTimeFields& localTime, std::uint8_t request[11]);
    int SendSetParams(const std::uint8_t request[11]);
    int SendSetPeriods(const std::uint8_t request[45]);
    // With only (an OpenSerial): sent to that opened recorder alone; 0 when another one, or none,
    // is open.
    int SendShortCommand(const std::uint8_t request[5], unsigned only = 0);
    // Counts the recorders opened: tells the open one from one opened after it.
    unsigned OpenSerial() const { return m_nOpens; }

    // Reads: 1 = read, 0 = failed after the retries.
    int ReadLive(int& humidity, int& temperature);
    // Reads count bytes of device memory at address into out (at least 59 bytes long). A reply
    // with fewer bytes than asked is a failed read; one with more is taken.
    int ReadMemory(std::uint16_t address, std::uint8_t* out, int count);

    // Path of the interface found last. Written by whichever thread opens (under m_csPath);
    // other threads read it through DevicePath.
    std::string m_strDevicePath;
    std::string DevicePath() const;
    // The open device. One hidraw handle serves reads and writes; all three name it while open.
    // Changed only under m_csIo.
    std::shared_ptr<HidHandle> m_hDevice, m_hWrite, m_hRead;
    std::atomic<int> m_bLiveBusy{0};
    std::atomic<int> m_bCmdBusy{0};
    std::uint8_t m_OutBuf[64] = {};
    std::uint8_t m_InBuf[64] = {};
    std::mutex m_csIo;  // held for each exchange attempt, and for handle changes
    int m_nTimeoutMs = LINK_TIMEOUT_MS;

private:
    enum class BusyRule { Command, Live, Memory };
    // The exchange loop shared by all six operations; reply receives the 61 bytes kept. A reply
    // whose body is shorter than minBody bytes counts as a checksum failure.
    int Exchange(const std::uint8_t* request, int length, BusyRule rule, bool acknowledged, int minBody,
                 std::uint8_t* reply, unsigned only = 0);
    // Drops the three handles; the caller holds m_csIo.
    void DropHandles();
    std::atomic<bool> m_bDeviceOpen{false};
    std::atomic<unsigned> m_nOpens{0};           // raised under m_csIo
    std::atomic<bool> m_bCloseRequested{false};  // CloseHandles found the link busy
    mutable std::mutex m_csPath;                 // guards m_strDevicePath (never held for long)
    HidTransport* m_pTransport = nullptr;
};
