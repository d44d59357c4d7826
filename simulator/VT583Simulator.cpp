#include "simulator/VT583Simulator.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace sim {

namespace {

constexpr std::int64_t SECONDS_PER_DAY = 86400;
// Days from 1899-12-30 (DATE 0) to 1970-01-01.
constexpr std::int64_t DAYS_1899_TO_1970 = 25569;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

int DaysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

int NextPage(int page) { return page >= PAGE_LAST ? PAGE_FIRST : page + 1; }

int DecodeMode(std::uint8_t flags)
{
    if (flags & 0x10) return 2;
    return (flags & 0x08) ? 1 : 0;
}

std::uint8_t Sum(const std::uint8_t* bytes, int from, int to)  // bytes from .. to-1
{
    unsigned sum = 0;
    for (int i = from; i < to; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

const std::vector<std::uint8_t> REFUSAL_BODY = {0x55};
const std::vector<std::uint8_t> ACK_BODY = {ACK_OK};

}  // namespace

// ---------------------------------------------------------------- date helpers

bool VT583Simulator::FieldsAreValid(const OleDateTimeFields& f)
{
    return f.year >= 100 && f.year <= 9999 && f.month >= 1 && f.month <= 12 && f.day >= 1 &&
           f.day <= DaysInMonth(f.year, f.month) && f.hour >= 0 && f.hour <= 23 && f.minute >= 0 && f.minute <= 59 &&
           f.second >= 0 && f.second <= 59;
}

std::int64_t VT583Simulator::SecondsFromFields(const OleDateTimeFields& f)
{
    const std::int64_t days =
        DaysFromCivil(f.year, static_cast<unsigned>(f.month), static_cast<unsigned>(f.day)) + DAYS_1899_TO_1970;
    return days * SECONDS_PER_DAY + f.hour * 3600 + f.minute * 60 + f.second;
}

OleDateTimeFields VT583Simulator::FieldsFromSeconds(std::int64_t seconds)
{
    std::int64_t days = seconds / SECONDS_PER_DAY;
    std::int64_t rest = seconds % SECONDS_PER_DAY;
    if (rest < 0) {
        rest += SECONDS_PER_DAY;
        --days;
    }
    OleDateTimeFields f;
    CivilFromDays(days - DAYS_1899_TO_1970, f.year, f.month, f.day);
    f.hour = static_cast<int>(rest / 3600);
    f.minute = static_cast<int>(rest / 60 % 60);
    f.second = static_cast<int>(rest % 60);
    return f;
}

// ---------------------------------------------------------------- construction and memory

VT583Simulator::VT583Simulator() : m_mem(MEMORY_SIZE, 0x00)
{
    std::fill(m_mem.begin() + ADDR_PERIODS, m_mem.begin() + ADDR_PERIODS + 40, 0xFF);
    std::fill(m_mem.begin() + ADDR_PAGE_COUNTS, m_mem.end(), 0xFF);
    SetModel(MODEL_CODE);
    SetDeviceId(0x00123456);
    SetFlagByte(0x05);
    SetInterval(60);
    SetOffsets(100, 20);
    SetMaxMin(700, 90, 350, 40);
    SetClock(OleDateTimeFields{2026, 1, 1, 0, 0, 0});
}

void VT583Simulator::SetModel(int code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mem[ADDR_MODEL] = static_cast<std::uint8_t>(code % 100);
    m_mem[ADDR_MODEL + 1] = static_cast<std::uint8_t>(code / 100);
}

void VT583Simulator::SetDeviceId(std::uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < 4; ++i) m_mem[ADDR_CONFIG + i] = static_cast<std::uint8_t>(id >> (24 - 8 * i));
}

void VT583Simulator::SetFlagByte(std::uint8_t flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mem[ADDR_CONFIG + 4] = flags;
}

void VT583Simulator::SetMode(int mode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mem[ADDR_CONFIG + 4] = static_cast<std::uint8_t>((m_mem[ADDR_CONFIG + 4] & ~0x18) | ((mode & 3) << 3));
}

void VT583Simulator::SetInterval(int seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mem[ADDR_CONFIG + 5] = static_cast<std::uint8_t>((seconds >> 8) & 0x7F);
    m_mem[ADDR_CONFIG + 6] = static_cast<std::uint8_t>(seconds & 0xFF);
}

void VT583Simulator::SetOffsets(int tempOffset, int humiOffset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mem[ADDR_CONFIG + 7] = static_cast<std::uint8_t>((tempOffset >> 8) & 0xFF);
    m_mem[ADDR_CONFIG + 8] = static_cast<std::uint8_t>(tempOffset & 0xFF);
    m_mem[ADDR_CONFIG + 9] = static_cast<std::uint8_t>(humiOffset & 0xFF);
}

void VT583Simulator::SetPeriodBlock(const std::uint8_t block[40])
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::copy(block, block + 40, m_mem.begin() + ADDR_PERIODS);
}

void VT583Simulator::SetExtraMarker(std::uint8_t marker)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mem[ADDR_EXTRA] = marker;
}

void VT583Simulator::SetMaxMin(std::uint16_t maxTemp, std::uint8_t maxHumi, std::uint16_t minTemp, std::uint8_t minHumi)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mem[ADDR_MAXMIN] = static_cast<std::uint8_t>(maxTemp >> 8);
    m_mem[ADDR_MAXMIN + 1] = static_cast<std::uint8_t>(maxTemp & 0xFF);
    m_mem[ADDR_MAXMIN + 2] = maxHumi;
    m_mem[ADDR_MAXMIN + 3] = static_cast<std::uint8_t>(minTemp >> 8);
    m_mem[ADDR_MAXMIN + 4] = static_cast<std::uint8_t>(minTemp & 0xFF);
    m_mem[ADDR_MAXMIN + 5] = minHumi;
}

void VT583Simulator::SetLive(std::uint8_t humi, std::uint16_t temp)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_liveHumi = humi;
    m_liveTemp = temp;
}

std::uint8_t VT583Simulator::FlagByte() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mem[ADDR_CONFIG + 4];
}

int VT583Simulator::Mode() const { return DecodeMode(FlagByte()); }

int VT583Simulator::Interval() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return (m_mem[ADDR_CONFIG + 5] & 0x7F) << 8 | m_mem[ADDR_CONFIG + 6];
}

std::uint8_t VT583Simulator::Peek(int address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mem[static_cast<std::size_t>(address & 0xFFFF)];
}

void VT583Simulator::Poke(int address, std::uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mem[static_cast<std::size_t>(address & 0xFFFF)] = value;
}

std::vector<std::uint8_t> VT583Simulator::ReadBytes(int address, int count) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::uint8_t> out;
    for (int i = 0; i < count; ++i) out.push_back(m_mem[static_cast<std::size_t>((address + i) & 0xFFFF)]);
    return out;
}

void VT583Simulator::WriteBytes(int address, const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        m_mem[static_cast<std::size_t>((address + static_cast<int>(i)) & 0xFFFF)] = bytes[i];
}

// ---------------------------------------------------------------- clock and recording

void VT583Simulator::SetClock(const OleDateTimeFields& fields)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::int64_t now = SecondsFromFields(fields);
    // The next record keeps its distance from the clock; the time line breaks, so a new page.
    m_nextRecordAt = now + std::max<std::int64_t>(0, m_nextRecordAt - m_clock);
    m_clock = now;
    m_newSegment = true;
}

OleDateTimeFields VT583Simulator::Clock() const { return FieldsFromSeconds(ClockSeconds()); }

std::int64_t VT583Simulator::ClockSeconds() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clock;
}

void VT583Simulator::StartRecording()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recording = true;
    m_nextRecordAt = m_clock;
    m_newSegment = true;
}

void VT583Simulator::StartRecording(const OleDateTimeFields& at)
{
    SetClock(at);
    StartRecording();
}

void VT583Simulator::StopRecording()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recording = false;
}

bool VT583Simulator::IsRecording() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_recording;
}

int VT583Simulator::AdvanceSeconds(std::int64_t seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return AdvanceLocked(seconds);
}

int VT583Simulator::AdvanceLocked(std::int64_t seconds)
{
    const std::int64_t target = m_clock + seconds;
    int taken = 0;
    while (m_recording && m_nextRecordAt <= target) {
        m_clock = m_nextRecordAt;
        taken += TakeOneRecord();
        const int interval = (m_mem[ADDR_CONFIG + 5] & 0x7F) << 8 | m_mem[ADDR_CONFIG + 6];
        m_nextRecordAt += std::max(1, interval);
    }
    m_clock = target;
    return taken;
}

int VT583Simulator::TakeRecords(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int taken = 0;
    while (taken < n && m_recording) taken += AdvanceLocked(std::max<std::int64_t>(0, m_nextRecordAt - m_clock));
    return taken;
}

int VT583Simulator::FillRing(int mode, int records)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        EraseRing();
    }
    SetMode(mode);
    StartRecording();
    return TakeRecords(records);
}

void VT583Simulator::SetReadingSource(std::function<SimReading(std::uint64_t)> source)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_readingSource = std::move(source);
}

SimReading VT583Simulator::SyntheticReading(std::uint64_t sequence)
{
    SimReading r;
    r.humi = static_cast<std::uint8_t>(21 + (sequence * 7) % 98);
    r.temp = static_cast<std::uint16_t>(101 + (sequence * 37) % 999);
    return r;
}

void VT583Simulator::EraseRing()
{
    std::fill(m_mem.begin() + ADDR_PAGE_COUNTS, m_mem.begin() + ADDR_PAGE_COUNTS + PAGE_COUNT, 0xFF);
    std::fill(m_mem.begin() + PageHeaderAddress(PAGE_FIRST), m_mem.begin() + PageHeaderAddress(PAGE_LAST) + 8, 0xFF);
    m_page = 0;
    m_newSegment = true;
}

int VT583Simulator::TakeOneRecord()
{
    const std::uint8_t flags = m_mem[ADDR_CONFIG + 4];
    const int mode = DecodeMode(flags);
    const int interval = (m_mem[ADDR_CONFIG + 5] & 0x7F) << 8 | m_mem[ADDR_CONFIG + 6];

    bool newPage = m_newSegment || m_page == 0;
    int count = 0;  // count byte of the current page
    if (!newPage) {
        count = m_mem[m_page];
        const int hdr = PageHeaderAddress(m_page);
        const int pageInterval = m_mem[hdr + 6] << 8 | m_mem[hdr + 7];
        OleDateTimeFields f{2000 + BcdDecode(m_mem[hdr]), BcdDecode(m_mem[hdr + 1]), BcdDecode(m_mem[hdr + 2]),
                            BcdDecode(m_mem[hdr + 3]),    BcdDecode(m_mem[hdr + 4]), BcdDecode(m_mem[hdr + 5])};
        const bool follows = count < PAGE_RECORDS - 1 && pageInterval == interval && FieldsAreValid(f) &&
                             SecondsFromFields(f) + static_cast<std::int64_t>(count + 1) * interval == m_clock;
        newPage = !follows;
    }

    const SimReading reading = m_readingSource ? m_readingSource(m_sequence) : SyntheticReading(m_sequence);
    int index;
    if (newPage) {
        int page = m_page == 0 ? PAGE_FIRST : m_page + 1;
        if (page > PAGE_LAST) {
            if (mode != 1) {  // acyclic and segmented recording stop when the ring is full
                m_recording = false;
                return 0;
            }
            page = PAGE_FIRST;
        }
        if (mode == 1) {  // cycle: one empty page ahead of the newest one
            const int gap = NextPage(page);
            m_mem[gap] = 0xFF;
            std::fill_n(m_mem.begin() + PageHeaderAddress(gap), 8, 0xFF);
        }
        std::fill_n(m_mem.begin() + PageDataAddress(page), 3 * PAGE_RECORDS, 0xFF);
        const OleDateTimeFields f = FieldsFromSeconds(m_clock);
        const int hdr = PageHeaderAddress(page);
        m_mem[hdr] = BcdEncode(f.year - 2000);
        m_mem[hdr + 1] = BcdEncode(f.month);
        m_mem[hdr + 2] = BcdEncode(f.day);
        m_mem[hdr + 3] = BcdEncode(f.hour);
        m_mem[hdr + 4] = BcdEncode(f.minute);
        m_mem[hdr + 5] = BcdEncode(f.second);
        m_mem[hdr + 6] = static_cast<std::uint8_t>(interval >> 8);
        m_mem[hdr + 7] = static_cast<std::uint8_t>(interval & 0xFF);
        m_mem[page] = 0;
        m_page = page;
        index = 0;
    } else {
        index = count + 1;
        m_mem[m_page] = static_cast<std::uint8_t>(index);
    }
    const int at = PageDataAddress(m_page) + 3 * index;
    m_mem[at] = reading.humi;
    m_mem[at + 1] = static_cast<std::uint8_t>(reading.temp >> 8);
    m_mem[at + 2] = static_cast<std::uint8_t>(reading.temp & 0xFF);
    m_newSegment = false;
    ++m_sequence;
    return 1;
}

std::vector<SimRecord> VT583Simulator::Records() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SimRecord> out;
    if (m_page == 0) return out;
    // Oldest first: the used pages after the newest one, around the ring, ending with the newest.
    int page = m_page;
    for (int n = 0; n < PAGE_COUNT; ++n) {
        page = NextPage(page);
        const int count = m_mem[page];
        if (count > PAGE_RECORDS - 1) continue;
        const int hdr = PageHeaderAddress(page);
        OleDateTimeFields f{2000 + BcdDecode(m_mem[hdr]), BcdDecode(m_mem[hdr + 1]), BcdDecode(m_mem[hdr + 2]),
                            BcdDecode(m_mem[hdr + 3]),    BcdDecode(m_mem[hdr + 4]), BcdDecode(m_mem[hdr + 5])};
        if (!FieldsAreValid(f)) continue;
        const int interval = m_mem[hdr + 6] << 8 | m_mem[hdr + 7];
        const std::int64_t start = SecondsFromFields(f);
        for (int k = 0; k <= count; ++k) {
            SimRecord r;
            r.page = page;
            r.recordNo = k + 1;
            r.seconds = start + static_cast<std::int64_t>(k) * interval;
            r.time = FieldsFromSeconds(r.seconds);
            r.date = static_cast<double>(r.seconds) / SECONDS_PER_DAY;
            r.interval = interval;
            const int at = PageDataAddress(page) + 3 * k;
            r.rawHumi = m_mem[at];
            r.rawTemp = static_cast<std::uint16_t>(m_mem[at + 1] << 8 | m_mem[at + 2]);
            r.humi = HumiValueFromRaw(r.rawHumi);
            r.temp = TempValueFromRaw(r.rawTemp);
            out.push_back(r);
        }
    }
    return out;
}

int VT583Simulator::NewestPage() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_page;
}

// ---------------------------------------------------------------- faults, log

void VT583Simulator::InjectFault(Fault fault, int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < count; ++i) m_faults.push_back(fault);
}

void VT583Simulator::ClearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
    m_refusedCommand = -1;
}

void VT583Simulator::SetLatencyMs(int ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_latencyMs = ms;
}

void VT583Simulator::HoldReplies()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holdReplies = true;
}

void VT583Simulator::ReleaseReplies()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdReplies = false;
    }
    m_released.notify_all();
}

int VT583Simulator::HeldReads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_heldReads;
}

void VT583Simulator::Unplug()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_plugged = false;
        m_hasReply = false;
    }
    m_released.notify_all();
}

void VT583Simulator::Replug()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_plugged) ++m_generation;
        m_plugged = true;
    }
    m_released.notify_all();
}

bool VT583Simulator::IsPlugged() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_plugged;
}

std::uint64_t VT583Simulator::PlugGeneration() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_generation;
}

std::vector<std::vector<std::uint8_t>> VT583Simulator::RequestLog() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

void VT583Simulator::ClearLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
}

SimCounters VT583Simulator::Counters() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counters;
}

// ---------------------------------------------------------------- reports

std::vector<std::uint8_t> VT583Simulator::MakeReply(const std::vector<std::uint8_t>& body) const
{
    std::vector<std::uint8_t> reply(REPORT_IN_BYTES, 0);
    reply[0] = FRAME_START;
    reply[1] = static_cast<std::uint8_t>(body.size() + 1);
    std::copy(body.begin(), body.end(), reply.begin() + 2);
    reply[2 + body.size()] = Sum(reply.data(), 2, 2 + static_cast<int>(body.size()));
    return reply;
}

void VT583Simulator::RefuseCommand(const std::uint8_t command[2])
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refusedCommand = command[0] << 8 | command[1];
}

int VT583Simulator::WriteReport(const std::uint8_t* data, std::size_t length, std::uint64_t generation)
{
    int latency;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        latency = m_latencyMs;
    }
    if (latency > 0) std::this_thread::sleep_for(std::chrono::milliseconds(latency));

    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counters.writes;
    if (!m_plugged || generation != m_generation) {
        ++m_counters.failedWrites;
        return -1;
    }
    m_log.emplace_back(data, data + length);
    Fault fault{};
    bool faulty = false;
    if (!m_faults.empty()) {
        fault = m_faults.front();
        m_faults.pop_front();
        faulty = true;
        ++m_counters.faultsApplied;
    } else if (length > 3 && m_refusedCommand == (data[2] << 8 | data[3])) {
        fault = Fault::Refusal;
        faulty = true;
        ++m_counters.faultsApplied;
    }
    if (faulty && (fault == Fault::WriteFail || fault == Fault::Unplug)) {
        ++m_counters.failedWrites;
        if (fault == Fault::Unplug) {
            m_plugged = false;
            m_hasReply = false;
        }
        return -1;
    }
    // A reply still unread means that a second request came in before the first was answered.
    if (m_hasReply) ++m_counters.interleaved;
    m_hasReply = false;
    ++m_requestSeq;
    if (faulty && fault == Fault::NoReply) return static_cast<int>(length);
    HandleRequest(data, length, faulty ? &fault : nullptr);
    return static_cast<int>(length);
}

int VT583Simulator::ReadReport(std::uint8_t* buffer, std::size_t length, std::uint64_t generation)
{
    int latency;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        latency = m_latencyMs;
    }
    if (latency > 0) std::this_thread::sleep_for(std::chrono::milliseconds(latency));

    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_holdReplies && m_plugged && generation == m_generation) {
        ++m_heldReads;
        m_released.wait(lock, [&] { return !m_holdReplies || !m_plugged || generation != m_generation; });
        --m_heldReads;
    }
    ++m_counters.reads;
    if (!m_plugged || generation != m_generation) return -1;
    if (!m_hasReply) {
        ++m_counters.timeouts;
        return 0;
    }
    if (m_reply.requestSeq != m_requestSeq) ++m_counters.interleaved;
    const std::size_t n = std::min(length, m_reply.bytes.size());
    std::copy_n(m_reply.bytes.begin(), n, buffer);
    m_hasReply = false;
    ++m_counters.replies;
    return static_cast<int>(n);
}

void VT583Simulator::HandleRequest(const std::uint8_t* data, std::size_t length, Fault* fault)
{
    if (length < 5 || data[0] != FRAME_START || data[1] < 3 || static_cast<std::size_t>(data[1]) + 2 > length ||
        Sum(data, 2, data[1] + 1) != data[data[1] + 1]) {
        ++m_counters.badRequests;
        return;
    }
    const int L = data[1];
    const std::uint8_t c0 = data[2], c1 = data[3];
    const std::uint8_t* args = data + 4;
    const int nargs = L - 3;
    auto is = [&](const std::uint8_t cmd[2], int n) { return c0 == cmd[0] && c1 == cmd[1] && nargs == n; };

    const bool refused = fault && *fault == Fault::Refusal;
    std::vector<std::uint8_t> body;
    if (is(CMD_READ_MEMORY, 3)) {
        const int address = args[0] << 8 | args[1];
        const int n = args[2];
        if (n > MEMORY_READ_MAX) {
            ++m_counters.badRequests;
            return;
        }
        ++m_counters.memoryReads;
        for (int i = 0; i < n; ++i) body.push_back(m_mem[static_cast<std::size_t>((address + i) & 0xFFFF)]);
    } else if (is(CMD_READ_LIVE, 0)) {
        ++m_counters.liveReads;
        body = {m_liveHumi, static_cast<std::uint8_t>(m_liveTemp >> 8), static_cast<std::uint8_t>(m_liveTemp & 0xFF)};
    } else if (is(CMD_SET_CLOCK, 6)) {
        ++m_counters.clockSets;
        // Year, day and time in BCD, the month in binary.
        const OleDateTimeFields f{2000 + BcdDecode(args[0]), args[1],           BcdDecode(args[2]), BcdDecode(args[3]),
                                  BcdDecode(args[4]),        BcdDecode(args[5])};
        if (!refused && FieldsAreValid(f)) {
            const std::int64_t now = SecondsFromFields(f);
            m_nextRecordAt = now + std::max<std::int64_t>(0, m_nextRecordAt - m_clock);
            m_clock = now;
            m_newSegment = true;
            body = ACK_BODY;
        } else {
            body = REFUSAL_BODY;
        }
    } else if (is(CMD_SET_PARAMS, 6)) {
        ++m_counters.paramSets;
        if (!refused) {
            m_mem[ADDR_CONFIG + 4] = args[0];
            m_mem[ADDR_CONFIG + 5] = args[1] & 0x7F;  // bit 7 only says "interval changed"
            std::copy_n(args + 2, 4, m_mem.begin() + ADDR_CONFIG + 6);
        }
        body = ACK_BODY;
    } else if (is(CMD_SET_PERIODS, 40)) {
        ++m_counters.periodSets;
        if (!refused) std::copy_n(args, 40, m_mem.begin() + ADDR_PERIODS);
        body = ACK_BODY;
    } else if (is(CMD_ERASE_RECORDS, 0)) {
        ++m_counters.erases;
        if (!refused) EraseRing();
        body = ACK_BODY;
    } else {
        ++m_counters.unknownRequests;
        return;
    }

    if (refused) body = REFUSAL_BODY;
    if (fault && *fault == Fault::ShortReply && !body.empty()) body.pop_back();
    if (fault && *fault == Fault::LongReply) body.push_back(0x5A);
    std::vector<std::uint8_t> reply = MakeReply(body);
    if (fault) {
        switch (*fault) {
        case Fault::LengthZero: reply[1] = 0; break;
        case Fault::LengthOver64: reply[1] = 65; break;
        case Fault::LengthOver59: reply[1] = 60; break;
        case Fault::BadChecksum: reply[reply[1] + 1] = static_cast<std::uint8_t>(reply[reply[1] + 1] + 1); break;
        default: break;
        }
    }
    m_reply.bytes = std::move(reply);
    m_reply.requestSeq = m_requestSeq;
    m_hasReply = true;
}

// ---------------------------------------------------------------- transport

namespace {

class SimHandle : public HidHandle {
public:
    SimHandle(std::shared_ptr<VT583Simulator> device, std::uint64_t generation)
        : m_device(std::move(device)), m_generation(generation)
    {}
    int Write(const std::uint8_t* data, std::size_t length) override
    {
        return m_device->WriteReport(data, length, m_generation);
    }
    int Read(std::uint8_t* buffer, std::size_t length, int /*timeoutMs*/) override
    {
        return m_device->ReadReport(buffer, length, m_generation);
    }

private:
    std::shared_ptr<VT583Simulator> m_device;
    std::uint64_t m_generation;
};

}  // namespace

SimulatorTransport::SimulatorTransport() = default;
SimulatorTransport::~SimulatorTransport() = default;

std::shared_ptr<VT583Simulator> SimulatorTransport::Attach(const std::string& path, std::uint16_t vendorId,
                                                           std::uint16_t productId)
{
    return Attach(path, std::make_shared<VT583Simulator>(), vendorId, productId);
}

std::shared_ptr<VT583Simulator> SimulatorTransport::Attach(const std::string& path,
                                                           std::shared_ptr<VT583Simulator> device,
                                                           std::uint16_t vendorId, std::uint16_t productId)
{
    device->Replug();
    std::shared_ptr<VT583Simulator> replaced;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.path == path; });
        if (it != m_entries.end()) {
            if (it->device != device) replaced = it->device;
            m_entries.erase(it);
        }
        m_entries.push_back(Entry{path, vendorId, productId, device, false});
    }
    if (replaced) replaced->Unplug();  // a new device under the same path: the old one is gone
    return device;
}

bool SimulatorTransport::Detach(const std::string& path)
{
    std::shared_ptr<VT583Simulator> device;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.path == path; });
        if (it == m_entries.end()) return false;
        device = it->device;
        m_entries.erase(it);
    }
    device->Unplug();
    return true;
}

std::shared_ptr<VT583Simulator> SimulatorTransport::Device(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Entry& e : m_entries)
        if (e.path == path) return e.device;
    return nullptr;
}

void SimulatorTransport::SetOpenFails(const std::string& path, bool fails)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Entry& e : m_entries)
        if (e.path == path) e.openFails = fails;
}

int SimulatorTransport::OpenCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_openCount;
}

std::vector<HidDeviceInfo> SimulatorTransport::Enumerate(std::uint16_t vendorId, std::uint16_t productId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<HidDeviceInfo> out;
    for (const Entry& e : m_entries)
        if (e.vendorId == vendorId && e.productId == productId && e.device->IsPlugged())
            out.push_back(HidDeviceInfo{e.path, e.vendorId, e.productId});
    return out;
}

std::unique_ptr<HidHandle> SimulatorTransport::Open(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Entry& e : m_entries) {
        if (e.path != path) continue;
        if (e.openFails || !e.device->IsPlugged()) return nullptr;
        ++m_openCount;
        return std::make_unique<SimHandle>(e.device, e.device->PlugGeneration());
    }
    return nullptr;
}

}  // namespace sim
