// The recorder's configuration, readings and settings: decoders of its memory blocks and the
// encoders of the two settings requests.
#include <cstdint>

#include "device/CDeviceState.h"

namespace {

// A period slot: year (BCD, from 2000), month (binary, low nibble), day, hour, minute (BCD).
OleDateTime DecodePeriodSlot(const std::uint8_t* slot)
{
    return OleDateTime(2000 + BcdDecode(slot[0]), slot[1] & 0x0F, BcdDecode(slot[2]), BcdDecode(slot[3]),
                       BcdDecode(slot[4]), 0);
}

// The five bytes of one slot. An invalid slot takes every field as -1, which gives 7F FF FF FF FF.
void EncodePeriodSlot(const OleDateTime& time, std::uint8_t* slot)
{
    OleDateTimeFields f;
    if (!time.IsValid() || !time.GetFields(f)) f = OleDateTimeFields{};
    slot[0] = BcdEncode(f.year - 2000);
    slot[1] = static_cast<std::uint8_t>(f.month);
    slot[2] = BcdEncode(f.day);
    slot[3] = BcdEncode(f.hour);
    slot[4] = BcdEncode(f.minute);
}

}  // namespace

int CDeviceState::ReadConfig()
{
    // A read that a removal or another open overtook describes the recorder that went.
    const unsigned began = m_nGeneration;
    std::uint8_t config[MEMORY_READ_MAX + 5] = {};
    if (!m_Link.ReadMemory(ADDR_CONFIG, config, 10)) return 0;

    const std::uint32_t id = (std::uint32_t(config[0]) << 24) | (std::uint32_t(config[1]) << 16) |
                             (std::uint32_t(config[2]) << 8) | config[3];
    const int flags = config[4];
    const int mode = (flags & 0x10) ? 2 : (flags & 0x08) ? 1 : 0;
    // Another recorder than before starts a new generation.
    if (!SetDeviceId(id, began)) return 0;
    auto publishSettings = [&] {
        m_nTempUnit = flags & 1;
        m_nDateFormat = (flags >> 1) & 1;
        m_nTimeFormat = (flags >> 2) & 1;
        m_nAutoOff = (flags >> 5) & 1;
        m_nInterval = ((config[5] & 0x7F) << 8) | config[6];
        m_nTempOffset = (config[7] << 8) | config[8];
        m_nHumiOffset = config[9];
    };

    std::uint8_t periods[MEMORY_READ_MAX + 5] = {};
    if (!m_Link.ReadMemory(ADDR_PERIODS, periods, 40)) {
        // The settings just read stand; the periods keep their old values.
        std::lock_guard<std::mutex> lock(m_csConfig);
        publishSettings();
        m_nMode = mode;
        return 0;
    }
    OleDateTime slots[8];
    for (int k = 0; k < 8; ++k) slots[k] = DecodePeriodSlot(periods + 5 * k);
    {
        // Mode, enable flags and periods change together for the paint.
        std::lock_guard<std::mutex> lock(m_csConfig);
        publishSettings();
        m_nMode = mode;
        for (int k = 0; k < 4; ++k) m_bPeriodOn[k] = (periods[1] >> (4 + k)) & 1;
        for (int k = 0; k < 8; ++k) m_Period[k] = slots[k];
    }

    std::uint8_t extra[MEMORY_READ_MAX + 5] = {};
    if (!m_Link.ReadMemory(ADDR_EXTRA, extra, 16)) return 0;
    if (extra[0] == EXTRA_UNUSABLE) return 0;
    return 1;
}

CDeviceState::ConfigRead CDeviceState::ReadConfigAndSetClock(const std::function<void(ConfigRead)>& progress)
{
    if (!ReadConfig()) return ConfigRead::Failed;
    const unsigned generation = m_nConfigGeneration;
    if (m_nGeneration != generation) return ConfigRead::DeviceChanged;
    if (m_dwDeviceID == 0) return ConfigRead::NoDeviceId;
    if (progress) progress(ConfigRead::ConfigDone);
    ConfigRead result = ConfigRead::ClockSet;
    OleDateTimeFields now;
    if (!m_Link.m_fnNow().GetFields(now) || !DeviceClockHolds(now.year)) {
        // The recorder cannot hold this time: nothing is sent, the rest goes on.
        result = ConfigRead::ClockNotHeld;
    } else if (!m_Link.SetClock(now)) {
        return ConfigRead::ClockFailed;
    }
    LoadDeviceRow();
    // A recorder removed or swapped meanwhile is read again.
    if (!EndConfigRead(generation)) return ConfigRead::DeviceChanged;
    return result;
}

int CDeviceState::ReadMaxMin()
{
    std::uint8_t block[MEMORY_READ_MAX + 5] = {};
    if (!m_Link.ReadMemory(ADDR_MAXMIN, block, 6)) return 0;
    m_nMaxTemp = TempValueFromRaw((block[0] << 8) | block[1]);
    m_nMaxHumi = HumiValueFromRaw(block[2]);
    m_nMinTemp = TempValueFromRaw((block[3] << 8) | block[4]);
    m_nMinHumi = HumiValueFromRaw(block[5]);
    return 1;
}

int CDeviceState::ReadRealtime()
{
    int h = 0, t = 0;
    if (!m_Link.ReadLive(h, t)) return 0;

    if (t > 1200) {
        m_nTempRaw = TEMP_NONE;
        m_nTemp = TEMP_NONE;
    } else {
        // The reading without the device's own calibration offset.
        const int raw = t - m_nTempOffset;
        m_nTempRaw = (raw > 1000 || raw < 0) ? TEMP_NONE : raw;
        m_nTemp = TempValueFromRaw(static_cast<unsigned>(t));
    }
    if (h == 0 || h >= 140) {
        m_nHumiRaw = HUMI_NONE;
        m_nHumi = HUMI_NONE;
    } else {
        const int raw = h - m_nHumiOffset;
        m_nHumiRaw = (raw > 99 || raw < 1) ? HUMI_NONE : raw;
        m_nHumi = HumiValueFromRaw(static_cast<unsigned>(h));
    }
    return 1;
}

void CDeviceState::BuildParametersRequest(int unit, int dateFormat, int timeFormat, int mode, int autoOff, int interval,
                                          int tempOffset, int humiOffset, int intervalChanged, std::uint8_t request[11])
{
    request[0] = FRAME_START;
    request[1] = 0x09;
    request[2] = CMD_SET_PARAMS[0];
    request[3] = CMD_SET_PARAMS[1];
    request[4] = static_cast<std::uint8_t>((unit & 1) | (dateFormat & 1) << 1 | (timeFormat & 1) << 2 |
                                           (mode & 3) << 3 | (autoOff & 1) << 5);
    request[5] = static_cast<std::uint8_t>(((interval >> 8) & 0x7F) | (intervalChanged ? 0x80 : 0));
    request[6] = static_cast<std::uint8_t>(interval & 0xFF);
    request[7] = static_cast<std::uint8_t>((tempOffset >> 8) & 0xFF);
    request[8] = static_cast<std::uint8_t>(tempOffset & 0xFF);
    request[9] = static_cast<std::uint8_t>(humiOffset & 0xFF);
    request[10] = CHidLink::Checksum(request, 10);
}

int CDeviceState::SetParameters(int unit, int dateFormat, int timeFormat, int mode, int autoOff, int interval,
                                int tempOffset, int humiOffset, int intervalChanged)
{
    std::uint8_t request[11];
    BuildParametersRequest(unit, dateFormat, timeFormat, mode, autoOff, interval, tempOffset, humiOffset,
                           intervalChanged, request);
    return m_Link.SendSetParams(request) ? 1 : 0;
}

void CDeviceState::BuildPeriodsRequest(const OleDateTime slots[8], const int flags[4], std::uint8_t request[45])
{
    request[0] = FRAME_START;
    request[1] = 0x2B;
    request[2] = CMD_SET_PERIODS[0];
    request[3] = CMD_SET_PERIODS[1];
    for (int k = 0; k < 8; ++k) EncodePeriodSlot(slots[k], request + 4 + 5 * k);
    const int enabled = (flags[0] & 1) | (flags[1] & 1) << 1 | (flags[2] & 1) << 2 | (flags[3] & 1) << 3;
    // For an invalid first slot the 0xFF month and the flags overflow together, as the device expects.
    request[5] = static_cast<std::uint8_t>(request[5] + 16 * enabled);
    request[44] = CHidLink::Checksum(request, 44);
}

int CDeviceState::SetPeriods(const OleDateTime slots[8], const int flags[4])
{
    std::uint8_t request[45];
    BuildPeriodsRequest(slots, flags, request);
    return m_Link.SendSetPeriods(request) ? 1 : 0;
}
