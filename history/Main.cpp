#include "history/Main.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "database/CDB.h"
#include "device/CDeviceState.h"
#include "history/DatabaseError.h"
#include "history/DeviceCombo.h"
#include "history/ExportFile.h"
#include "history/TimeRange.h"
#include "platform/MessageBox.h"
#include "platform/NumberText.h"
#include "platform/StringTable.h"
#include "platform/VectorState.h"
#include "resources/resource.h"
#include "ui/DialogUnits.h"

namespace {

QString Text(int id) { return QString::fromStdString(LoadString(id)); }

QLabel* MakeStatic(QWidget* parent, const char* name, const QRect& rect)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(rect);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& rect)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(rect);
    return button;
}

// The columns a search reads, found once per query.
struct RecordColumns {
    explicit RecordColumns(const CRecordset& record)
        : time(record.ColumnIndex("Time")), temp(record.ColumnIndex("Temp")), humi(record.ColumnIndex("Humi"))
    {}
    int time, temp, humi;
};

// The temperature texts of one search. The readings take few distinct values, and formatting
// every row's number anew would be a good part of a long search: a text once made is reused.
class TemperatureTexts {
public:
    TemperatureTexts(H_Rows& rows, int tempUnit)
        : m_rows(rows), m_bFahrenheit(tempUnit == 0), m_noValue(rows.Temperature("--.-"))
    {}

    // The text of a stored reading, "%0.1f" in the display unit or "--.-". The range test always
    // looks at the Celsius value.
    std::uint16_t Text(std::optional<double> stored)
    {
        const float c = stored ? static_cast<float>(*stored) : NAN;
        if (!std::isfinite(c) || c > 60.0f || c < -40.0f) return m_noValue;
        std::uint32_t bits;
        std::memcpy(&bits, &c, sizeof bits);
        Entry& entry = m_entries[(bits * 2654435761u) >> (32 - kBits)];
        if (!entry.used || entry.bits != bits) {
            entry.text = m_rows.Temperature(FixedText(TempInUnit(c, m_bFahrenheit)));
            entry.bits = bits;
            entry.used = true;
        }
        return entry.text;
    }

private:
    static constexpr int kBits = 10;
    struct Entry {
        std::uint32_t bits = 0;
        std::uint16_t text = 0;
        bool used = false;
    };
    H_Rows& m_rows;
    std::array<Entry, std::size_t{1} << kBits> m_entries{};
    bool m_bFahrenheit;
    std::uint16_t m_noValue;
};

// Appends the current record as a row.
void AppendRow(H_Rows& rows, const CRecordset& record, const RecordColumns& columns, TemperatureTexts& temperatures)
{
    const std::optional<std::int64_t> humi = record.GetInt(columns.humi);
    rows.Append(record.GetText(columns.time).value_or(std::string_view()),
                temperatures.Text(record.GetDouble(columns.temp)),
                !humi || *humi < 0 || *humi > 99 ? H_Rows::kNoHumidity : static_cast<int>(*humi));
}

// Little-endian UTF-16 code units of text, appended to out.
void AppendUtf16Le(QByteArray& out, const QString& text)
{
    const qsizetype start = out.size();
    out.resize(start + text.size() * 2);
    qToLittleEndian<char16_t>(text.utf16(), text.size(), out.data() + start);
}

// The export is written in pieces of about this size as its lines are made, so that its memory
// does not grow with the rows.
constexpr qsizetype kExportChunkBytes = qsizetype{1} << 20;

// Writes what the list shows to path as UTF-16 text: the byte-order mark, the captions and every
// row, the columns in the order they were created whatever the header order, each line ended by
// CR LF. False, with the reason in error, when the file was not completely written; ExportFile
// then leaves no part of it.
bool WriteListText(const H_ListModel& model, const QString& path, QString* error)
{
    ExportFile file(path);
    const int columns = model.columnCount();
    const int items = model.ItemCount();
    QByteArray chunk;
    chunk.reserve(kExportChunkBytes + 4096);
    chunk.append("\xFF\xFE", 2);
    QString line;
    auto writeLine = [&](auto cell) {
        line.resize(0);
        for (int c = 0; c < columns; ++c) {
            line += cell(c);
            if (c != 3) line += QLatin1Char('\t');
        }
        line += QLatin1String("\r\n");
        AppendUtf16Le(chunk, line);
        if (chunk.size() < kExportChunkBytes) return true;
        const bool written = file.Write(chunk);
        chunk.resize(0);  // the room is kept for the next piece
        return written;
    };
    bool written =
        file.Open() && writeLine([&model](int c) { return model.headerData(c, Qt::Horizontal).toString().left(259); });
    for (int i = 0; written && i < items; ++i) written = writeLine([&model, i](int c) { return model.CellText(i, c); });
    written = written && file.Write(chunk) && file.Commit();
    if (!written && error) *error = file.ErrorString();
    return written;
}

}  // namespace

Main::Main()
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                           Qt::WindowCloseButtonHint),
      m_dtStartDate(OleDateTime::GetCurrentTime()), m_dtStartTime(m_dtStartDate), m_dtEndDate(m_dtStartDate),
      m_dtEndTime(m_dtStartDate)
{
    setObjectName(QStringLiteral(QV_ID_NAME(IDD_MAIN)));
    setFont(DialogFont());
    resize(DluSize(526, 288));

    // Template order, which is also the keyboard order.
    m_list = new H_List(this);
    m_list->setObjectName(QStringLiteral(QV_ID_NAME(IDC_HISTORY_LIST)));
    m_list->setGeometry(DluRect(7, 18, 512, 206));
    m_pModel = new H_ListModel(m_rows, this);
    m_list->SetModel(m_pModel);

    m_pStartLabel = MakeStatic(this, QV_ID_NAME(IDC_HISTORY_START_LABEL), DluRect(12, 239, 117, 8));
    m_pEndLabel = MakeStatic(this, QV_ID_NAME(IDC_HISTORY_END_LABEL), DluRect(150, 239, 119, 8));
    m_pSearch = MakeButton(this, QV_ID_NAME(IDC_HISTORY_SEARCH), DluRect(390, 252, 50, 14));
    m_pDeviceLabel = MakeStatic(this, QV_ID_NAME(IDC_HISTORY_DEVICE_LABEL), DluRect(293, 239, 51, 8));

    m_cbDevice = new QComboBox(this);
    m_cbDevice->setObjectName(QStringLiteral(QV_ID_NAME(IDC_HISTORY_DEVICE)));
    // The template's height includes the drop-down; the closed box is one line high.
    m_cbDevice->setGeometry(DluRect(293, 253, 78, 14));
    m_cbDevice->setMaxVisibleItems(8);

    m_ctlStartDate =
        CreateDatePicker(this, QStringLiteral(QV_ID_NAME(IDC_HISTORY_START_DATE)), DluRect(13, 252, 62, 15));
    m_ctlStartTime =
        CreateTimePicker(this, QStringLiteral(QV_ID_NAME(IDC_HISTORY_START_TIME)), DluRect(80, 252, 56, 15));
    m_ctlEndDate = CreateDatePicker(this, QStringLiteral(QV_ID_NAME(IDC_HISTORY_END_DATE)), DluRect(151, 252, 62, 15));
    m_ctlEndTime = CreateTimePicker(this, QStringLiteral(QV_ID_NAME(IDC_HISTORY_END_TIME)), DluRect(219, 252, 56, 15));

    m_pGroup = new QGroupBox(this);
    m_pGroup->setObjectName(QStringLiteral(QV_ID_NAME(IDC_HISTORY_GROUP)));
    m_pGroup->setGeometry(DluRect(7, 229, 512, 52));
    m_pGroup->lower();  // a frame behind the controls it surrounds

    m_pStatus = MakeStatic(this, QV_ID_NAME(IDC_HISTORY_STATUS), DluRect(7, 7, 235, 8));
    m_pExit = MakeButton(this, QV_ID_NAME(IDC_HISTORY_EXIT), DluRect(458, 252, 50, 14));
    m_pNote = MakeStatic(this, QV_ID_NAME(IDC_HISTORY_NOTE), DluRect(294, 266, 214, 8));
    m_pExport = MakeButton(this, QV_ID_NAME(IDC_HISTORY_EXPORT), DluRect(390, 235, 118, 14));

    m_layout = std::make_unique<DialogLayout>(
        this, m_list,
        std::vector<QWidget*>{m_pStartLabel, m_pSearch, m_cbDevice, m_ctlEndTime, m_ctlEndDate, m_ctlStartTime,
                              m_ctlStartDate, m_pEndLabel, m_pDeviceLabel, m_pGroup, m_pExit, m_pNote, m_pExport},
        m_pStatus);

    connect(m_pSearch, &QPushButton::clicked, this, &Main::OnBnClickedSearch);
    connect(m_cbDevice, &QComboBox::activated, this, [] { OnDoNothing(); });
    connect(m_pExit, &QPushButton::clicked, this, [this] { OnBnClickedExit(this); });
    connect(m_pExport, &QPushButton::clicked, this, &Main::OnBnClickedExportCsv);
    EnterEndsDialog(this);

    OnInitDialog();
}

Main::~Main() = default;

void Main::DoDataExchange(bool save)
{
    ExchangeDate(m_ctlStartDate, m_dtStartDate, save);
    ExchangeTime(m_ctlStartTime, m_dtStartTime, save);
    ExchangeDate(m_ctlEndDate, m_dtEndDate, save);
    ExchangeTime(m_ctlEndTime, m_dtEndTime, save);
}

int Main::OnInitDialog()
{
    DoDataExchange(false);

    setWindowTitle(Text(IDS_HISTORY));
    m_pStartLabel->setText(Text(IDS_START_TIME));
    m_pEndLabel->setText(Text(IDS_END_TIME));
    m_pDeviceLabel->setText(Text(IDS_DEVICE_ID));
    m_pSearch->setText(Text(IDS_SEARCH));
    m_pExit->setText(Text(IDS_EXIT));
    m_pExport->setText(Text(IDS_EXPORT_CSV));
    m_pStatus->setText(QString());

    DefaultStartRange(m_dtStartDate, m_dtStartTime);
    DoDataExchange(false);

    // The temperature caption keeps the unit of this moment.
    const int unit = theDeviceState.m_nTempUnit.load();
    const QString degree = QString(QChar(0x00B0));
    m_pModel->SetColumns({Text(IDS_NUMBER), Text(IDS_RECORD_TIME),
                          Text(IDS_TEMPERATURE) + QStringLiteral("(") + degree +
                              (unit == 0 ? QStringLiteral("F)") : QStringLiteral("C)")),
                          Text(IDS_HUMIDITY) + QStringLiteral("(%)")});
    for (int c = 0; c < 4; ++c) m_list->setColumnWidth(c, 150);

    FillDeviceCombo(m_cbDevice, theDeviceState.m_dbHistory);
    SelectConnectedDevice(m_cbDevice);

    LayoutControls(1);
    LayoutControls(0);
    return 1;
}

void Main::OnBnClickedSearch()
{
    if (m_bSearching) return;

    DoDataExchange(true);
    const std::optional<TimeRange> range = SelectTimeRange(m_dtStartDate, m_dtStartTime, m_dtEndDate, m_dtEndTime);
    if (!range) return;
    const std::string where = TimeRangeWhere(*range, m_cbDevice->currentText().toStdString());

    m_bSearching = true;
    CDB& db = theDeviceState.m_dbHistory;
    const int opened = db.Open(theDeviceState.m_strDbPath);  // a failed open has shown its own box
    const int selected = opened == 0 ? db.SelectRecords(where) : -1;
    m_rows.clear();
    m_pStatus->setText(Text(IDS_READING_DATA));

    bool failed = selected != 0;
    if (failed && opened == 0) ShowDatabaseError(db);

    const int unit = theDeviceState.m_nTempUnit.load();
    CRecordset& record = db.m_pRecord;
    const RecordColumns columns(record);
    TemperatureTexts temperatures(m_rows, unit);
    QElapsedTimer sincePaint;
    sincePaint.start();
    int counter = 1;
    // The widgets' code run before may leave the vector registers' upper halves in use, which
    // would slow every row.
    ClearUpperVectorState();
    while (!failed && !record.IsEOF()) {
        // Let the window paint during a long read; input waits until the rows are complete, so
        // nothing can act on half-filled rows or start a second search.
        if ((counter & 255) == 0 && sincePaint.elapsed() >= m_nPaintIntervalMs) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            ClearUpperVectorState();  // and so may the painting
            sincePaint.restart();
        }
        AppendRow(m_rows, record, columns, temperatures);
        if (record.MoveNext() < 0) {
            failed = true;
            ShowDatabaseError(db);
        }
        ++counter;
    }
    record.Close();

    if (failed) {
        // A partial result would look complete: show none.
        m_rows.clear();
        EndSearch(0, IDS_PROCESSING_FAILED);
    } else {
        EndSearch(static_cast<int>(m_rows.size()), IDS_DATA_READ_COMPLETE);
    }
}

void Main::EndSearch(int itemCount, int statusId)
{
    m_pModel->SetItemCount(itemCount);
    m_pStatus->setText(Text(statusId));
    m_bSearching = false;
    if (m_nPendingResult >= 0) {
        const int result = m_nPendingResult;
        m_nPendingResult = -1;
        QDialog::done(result);
    }
}

void Main::done(int result)
{
    // A close that arrives while the rows are read (the window system's close button) ends the
    // dialog once the search is over.
    if (m_bSearching) {
        m_nPendingResult = result;
        return;
    }
    QDialog::done(result);
}

QString Main::DefaultSaveFileName()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("(*.csv)"), QStringLiteral("(*.pdf)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.contains(QLatin1String("pdf")) ? QStringLiteral("pdf") : QStringLiteral("csv"));
    });
    if (dialog.exec() != QDialog::Accepted) return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void Main::OnBnClickedExportCsv()
{
    if (m_bSearching) return;
    const std::string success = LoadString(IDS_EXPORT_SUCCESS);
    const QString path = m_fnGetSaveFileName ? m_fnGetSaveFileName() : DefaultSaveFileName();
    if (path.isEmpty()) return;

    QString reason;
    if (!WriteListText(*m_pModel, path, &reason)) {
        ShowFileWriteError(path, reason);
        return;
    }
    AfxMessageBox(success, MsgButtons::Ok, MsgIcon::Information);
}

void Main::LayoutControls(int record)
{
    if (record)
        m_layout->Record();
    else
        m_layout->Apply();
}

void Main::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (m_layout && m_layout->IsRecorded()) LayoutControls(0);
}

void Main::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ApplyMinimumWindowSize(this);
}
