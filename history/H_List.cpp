#include "history/H_List.h"

#include <QHeaderView>
#include <QScrollBar>

#include <optional>

namespace {

constexpr std::size_t kTimeLength = 19;  // "YYYY-MM-DD hh:mm:ss"
constexpr std::uint64_t kOtherTime = std::uint64_t{1} << 39;

// The fields of a time text of the usual form, each within its natural range (the calendar is not
// checked: the text comes back digit for digit); nullopt for any other text.
std::optional<std::uint64_t> PackTime(std::string_view text)
{
    if (text.size() != kTimeLength) return std::nullopt;
    static constexpr char kShape[] = "0000-00-00 00:00:00";
    for (std::size_t i = 0; i < kTimeLength; ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) return std::nullopt;
    }
    const auto two = [&](std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
    const int year = two(0) * 100 + two(2), month = two(5), day = two(8);
    const int hour = two(11), minute = two(14), second = two(17);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return ((((std::uint64_t(year) * 12 + (month - 1)) * 31 + (day - 1)) * 24 + hour) * 60 + minute) * 60 + second;
}

QString UnpackTime(std::uint64_t packed)
{
    char text[kTimeLength];
    const auto put = [&](std::size_t at, int value) {
        text[at] = static_cast<char>('0' + value / 10);
        text[at + 1] = static_cast<char>('0' + value % 10);
    };
    put(17, static_cast<int>(packed % 60)), packed /= 60;
    put(14, static_cast<int>(packed % 60)), packed /= 60;
    put(11, static_cast<int>(packed % 24)), packed /= 24;
    put(8, static_cast<int>(packed % 31) + 1), packed /= 31;
    put(5, static_cast<int>(packed % 12) + 1), packed /= 12;
    put(2, static_cast<int>(packed % 100));
    put(0, static_cast<int>(packed / 100));
    text[4] = text[7] = '-';
    text[10] = ' ';
    text[13] = text[16] = ':';
    return QString::fromLatin1(text, kTimeLength);
}

}  // namespace

void H_Rows::clear()
{
    m_size = 0;
    m_otherTimes.clear();
    m_temperatures.clear();
    m_temperatureIndex.clear();
}

std::uint16_t H_Rows::Temperature(std::string_view text)
{
    const auto [it, added] =
        m_temperatureIndex.try_emplace(std::string(text), static_cast<std::uint16_t>(m_temperatures.size()));
    if (added) m_temperatures.append(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    return it->second;
}

void H_Rows::Append(std::string_view time, std::uint16_t temperature, int humidity)
{
    if (m_size == m_blocks.size() * kBlockRows) m_blocks.emplace_back(new H_Row[kBlockRows]);
    H_Row& row = m_blocks[m_size / kBlockRows][m_size % kBlockRows];
    time = time.substr(0, kTimeLength);
    if (const std::optional<std::uint64_t> packed = PackTime(time)) {
        row.time = *packed;
    } else {
        row.time = kOtherTime | m_otherTimes.size();
        m_otherTimes.emplace_back(time);
    }
    row.temp = temperature;
    row.humi = static_cast<std::uint64_t>(humidity) & 0xFF;
    ++m_size;
}

QString H_Rows::TimeText(std::size_t i) const
{
    const std::uint64_t time = Row(i).time;
    if (time & kOtherTime) {
        const std::string& text = m_otherTimes[time & ~kOtherTime];
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    return UnpackTime(time);
}

QString H_Rows::TemperatureText(std::size_t i) const { return m_temperatures.value(Row(i).temp); }

QString H_Rows::HumidityText(std::size_t i) const
{
    const int humidity = Row(i).humi;
    return humidity == kNoHumidity ? QStringLiteral("--.-") : QString::number(humidity);
}

H_ListModel::H_ListModel(const H_Rows& rows, QObject* parent) : QAbstractTableModel(parent), m_rows(rows) {}

void H_ListModel::SetColumns(const QStringList& captions)
{
    beginResetModel();
    m_captions = captions;
    endResetModel();
}

void H_ListModel::SetItemCount(int count)
{
    beginResetModel();
    m_nItemCount = count;
    endResetModel();
}

int H_ListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_nItemCount; }

int H_ListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_captions.size());
}

QString H_ListModel::CellText(int item, int column) const
{
    if (item < 0 || static_cast<std::size_t>(item) >= m_rows.size()) return QString();
    const auto i = static_cast<std::size_t>(item);
    switch (column) {
    case 0: return QString::number(item + 1);
    case 1: return m_rows.TimeText(i);
    case 2: return m_rows.TemperatureText(i);
    case 3: return m_rows.HumidityText(i);
    default: return QString();
    }
}

QVariant H_ListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) return QVariant();
    if (role == Qt::DisplayRole) return CellText(index.row(), index.column());
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return QVariant();
}

QVariant H_ListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_captions.size()) return QVariant();
    if (role == Qt::DisplayRole) return m_captions[section];
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return QVariant();
}

H_List::H_List(QWidget* parent) : QTableView(parent)
{
    // A report list: grid lines, whole rows selected, movable headers, no row header.
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->hide();
    // Fixed row height: the view never measures a row, whatever the count.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { OnHScroll(); });
}

void H_List::SetModel(H_ListModel* model)
{
    m_pModel = model;
    setModel(model);
}

// Every horizontal step repaints the whole list, so no half-drawn cell stays behind.
void H_List::OnHScroll() { viewport()->update(); }
