#include "history/Grapsh.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimeEdit>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database/CDB.h"
#include "device/CDeviceState.h"
#include "history/CTchart1.h"
#include "history/DatabaseError.h"
#include "history/DeviceCombo.h"
#include "history/TimeRange.h"
#include "platform/MessageBox.h"
#include "platform/NumberText.h"
#include "platform/StringTable.h"
#include "platform/VectorState.h"
#include "resources/resource.h"
#include "ui/DialogLayout.h"
#include "ui/DialogUnits.h"

namespace {

enum TextSlot {
    SLOT_START_TIME,
    SLOT_END_TIME,
    SLOT_DEVICE_ID,
    SLOT_TYPE,
    SLOT_SEARCH,
    SLOT_TEMPERATURE,
    SLOT_HUMIDITY,
    SLOT_GRAPH,
    SLOT_EXIT,
    SLOT_EXPORT_IMAGE,
};

constexpr int kTextIds[10] = {IDS_START_TIME,  IDS_END_TIME, IDS_DEVICE_ID, IDS_TYPE, IDS_SEARCH,
                              IDS_TEMPERATURE, IDS_HUMIDITY, IDS_GRAPH,     IDS_EXIT, IDS_EXPORT_IMAGE};

QLabel* MakeStatic(QWidget* parent, const char* name, const QRect& rect)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(rect);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& rect)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(rect);
    button->setAutoDefault(false);
    return button;
}

// A stored humidity as a number: an integer as it is, any other value's text read as a decimal
// integer (leading blanks, an optional sign, the digits up to the first other character; 0 when
// there are none), each within the range of an int.
std::optional<double> HumidityValue(const CRecordset& record, int column)
{
    std::optional<std::int64_t> value = record.GetStoredInt(column);
    if (!value) {
        const std::optional<std::string_view> text = record.GetText(column);
        if (!text) return std::nullopt;
        value = LeadingInteger(*text);
    }
    return static_cast<double>(std::clamp<std::int64_t>(*value, INT_MIN, INT_MAX));
}

}  // namespace

Grapsh::Grapsh(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral(QV_ID_NAME(IDD_GRAPSH)));
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    resize(DluSize(623, 323));

    m_dtStartDate = m_dtStartTime = m_dtEndDate = m_dtEndTime = OleDateTime::GetCurrentTime();

    // The frame first, so that the controls in it lie above it.
    m_pGroup = new QGroupBox(this);
    m_pGroup->setObjectName(QStringLiteral(QV_ID_NAME(IDC_GRAPH_GROUP)));
    m_pGroup->setGeometry(DluRect(7, 263, 609, 53));

    m_chart = new CTchart1(this);
    m_chart->setObjectName(QStringLiteral(QV_ID_NAME(IDC_GRAPH_CHART)));
    m_chart->setGeometry(DluRect(7, 26, 609, 235));

    m_pStartLabel = MakeStatic(this, QV_ID_NAME(IDC_GRAPH_START_LABEL), DluRect(14, 276, 100, 8));
    m_ctlStartDate = CreateDatePicker(this, QStringLiteral(QV_ID_NAME(IDC_GRAPH_START_DATE)), DluRect(14, 289, 62, 15));
    m_ctlStartTime = CreateTimePicker(this, QStringLiteral(QV_ID_NAME(IDC_GRAPH_START_TIME)), DluRect(81, 289, 56, 15));
    m_pEndLabel = MakeStatic(this, QV_ID_NAME(IDC_GRAPH_END_LABEL), DluRect(154, 276, 109, 8));
    m_ctlEndDate = CreateDatePicker(this, QStringLiteral(QV_ID_NAME(IDC_GRAPH_END_DATE)), DluRect(154, 289, 62, 15));
    m_ctlEndTime = CreateTimePicker(this, QStringLiteral(QV_ID_NAME(IDC_GRAPH_END_TIME)), DluRect(222, 289, 56, 15));
    m_pDeviceLabel = MakeStatic(this, QV_ID_NAME(IDC_GRAPH_DEVICE_LABEL), DluRect(288, 277, 58, 8));
    m_cbDevice = new QComboBox(this);
    m_cbDevice->setObjectName(QStringLiteral(QV_ID_NAME(IDC_GRAPH_DEVICE)));
    m_cbDevice->setGeometry(DluRect(287, 290, 78, 14));
    m_pTypeLabel = MakeStatic(this, QV_ID_NAME(IDC_GRAPH_TYPE_LABEL), DluRect(385, 277, 34, 8));
    m_cbType = new QComboBox(this);
    m_cbType->setObjectName(QStringLiteral(QV_ID_NAME(IDC_GRAPH_TYPE)));
    m_cbType->setGeometry(DluRect(384, 290, 62, 14));
    m_pExport = MakeButton(this, QV_ID_NAME(IDC_GRAPH_EXPORT), DluRect(468, 274, 122, 14));
    m_pSearch = MakeButton(this, QV_ID_NAME(IDC_GRAPH_SEARCH), DluRect(468, 289, 50, 14));
    m_pExit = MakeButton(this, QV_ID_NAME(IDC_GRAPH_EXIT), DluRect(540, 289, 50, 14));
    m_pNote = MakeStatic(this, QV_ID_NAME(IDC_GRAPH_NOTE), DluRect(289, 304, 298, 8));
    m_pTitle = MakeStatic(this, QV_ID_NAME(IDC_GRAPH_TITLE), DluRect(7, 11, 67, 15));

    ApplyMinimumWindowSize(this);
    m_layout = std::make_unique<DialogLayout>(
        this, m_chart,
        std::vector<QWidget*>{m_pSearch, m_cbType, m_cbDevice, m_ctlEndTime, m_ctlEndDate, m_ctlStartTime,
                              m_ctlStartDate, m_pStartLabel, m_pEndLabel, m_pDeviceLabel, m_pTypeLabel, m_pGroup,
                              m_pExit, m_pNote, m_pExport});

    // A choice of type or device waits for Search.
    connect(m_pSearch, &QPushButton::clicked, this, &Grapsh::OnBnClickedSearch);
    connect(m_pExit, &QPushButton::clicked, this, [this] { OnBnClickedExit(this); });
    connect(m_pExport, &QPushButton::clicked, this, &Grapsh::OnBnClickedExportImage);
    EnterEndsDialog(this);

    OnInitDialog();
}

Grapsh::~Grapsh() = default;

void Grapsh::DoDataExchange(bool save)
{
    ExchangeDate(m_ctlStartDate, m_dtStartDate, save);
    ExchangeTime(m_ctlStartTime, m_dtStartTime, save);
    ExchangeDate(m_ctlEndDate, m_dtEndDate, save);
    ExchangeTime(m_ctlEndTime, m_dtEndTime, save);
}

void Grapsh::OnInitDialog()
{
    for (int slot = 0; slot < 10; ++slot) m_strText[slot] = QString::fromStdString(LoadString(kTextIds[slot]));
    m_pStartLabel->setText(m_strText[SLOT_START_TIME]);
    m_pEndLabel->setText(m_strText[SLOT_END_TIME]);
    m_pDeviceLabel->setText(m_strText[SLOT_DEVICE_ID]);
    m_pTypeLabel->setText(m_strText[SLOT_TYPE]);
    m_pSearch->setText(m_strText[SLOT_SEARCH]);
    m_pExit->setText(m_strText[SLOT_EXIT]);
    m_pExport->setText(m_strText[SLOT_EXPORT_IMAGE]);
    setWindowTitle(m_strText[SLOT_GRAPH]);

    m_cbType->insertItem(0, m_strText[SLOT_HUMIDITY]);
    m_cbType->insertItem(1, m_strText[SLOT_TEMPERATURE]);
    m_cbType->setCurrentIndex(0);

    DefaultStartRange(m_dtStartDate, m_dtStartTime);
    DoDataExchange(false);
    // Before the first search the time axis shows the dialog's own range, not the epoch; an
    // export then writes that picture.
    const OleDateTime start = CombineDateTime(m_dtStartDate, m_dtStartTime);
    const OleDateTime end = CombineDateTime(m_dtEndDate, m_dtEndTime);
    if (start.IsValid() && end.IsValid()) m_chart->SetTimeAxis(start.m_dt, end.m_dt);

    FillDeviceCombo(m_cbDevice, theDeviceState.m_dbGraph);
    SelectConnectedDevice(m_cbDevice);

    LayoutControls(true);
    LayoutControls(false);
}

void Grapsh::LayoutControls(bool record)
{
    if (record)
        m_layout->Record();
    else
        m_layout->Apply();
}

void Grapsh::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (m_layout && m_layout->IsRecorded()) LayoutControls(false);
}

void Grapsh::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ApplyMinimumWindowSize(this);
}

void Grapsh::OnBnClickedSearch()
{
    DoDataExchange(true);
    const bool humidity = m_cbType->currentIndex() == 0;

    const auto range = SelectTimeRange(m_dtStartDate, m_dtStartTime, m_dtEndDate, m_dtEndTime);
    if (!range) return;
    // A malformed ID or time text gives no clause: it names no row.
    const std::string where = TimeRangeWhere(*range, m_cbDevice->currentText().toStdString());

    // One pass over the rows: the first tells whether there are any, and the axes change only then.
    CDB& db = theDeviceState.m_dbGraph;
    CRecordset& record = db.m_pRecord;
    if (!where.empty()) {
        if (db.Open(theDeviceState.m_strDbPath) != 0) return;  // the open has said why
        if (db.SelectRecords(where) != 0) {
            ShowDatabaseError(db);
            return;
        }
    }
    if (where.empty() || record.IsEOF()) {
        record.Close();
        m_chart->ClearSeries();
        return;
    }

    const int unit = theDeviceState.m_nTempUnit;
    const bool fahrenheit = !humidity && unit == 0;
    if (humidity)
        m_chart->SetValueAxis(0, 100, m_strText[SLOT_HUMIDITY] + QStringLiteral(" (%)"));
    else if (fahrenheit)
        m_chart->SetValueAxis(-22, 122, m_strText[SLOT_TEMPERATURE] + QStringLiteral(" (\u00B0F)"));
    else
        m_chart->SetValueAxis(-30, 50, m_strText[SLOT_TEMPERATURE] + QStringLiteral(" (\u00B0C)"));
    m_chart->SetTimeAxis(range->start.m_dt, range->end.m_dt);

    // The old points go before the new ones are read. The new ones are built at the chart's
    // resolution as the rows come. A row without a value (NULL, or a temperature that is no
    // number) has no point.
    m_chart->ClearSeries();
    ChartPoints points = m_chart->NewPoints();
    const int timeColumn = record.ColumnIndex("Time");
    const int valueColumn = record.ColumnIndex(humidity ? "Humi" : "Temp");
    OleDateTimeParser parse;
    bool failed = false;
    // The chart's code may leave the vector registers' upper halves in use, which would slow
    // every row.
    ClearUpperVectorState();
    while (!failed && !record.IsEOF()) {
        // A time that does not parse is kept at DATE 0 (no date at all) or -1 (no such date).
        const OleDateTime time = parse(record.GetText(timeColumn).value_or(std::string_view()));
        std::optional<double> value;
        if (humidity) {
            value = HumidityValue(record, valueColumn);
        } else if (const auto temp = record.GetDouble(valueColumn)) {
            value = TempInUnit(static_cast<float>(*temp), fahrenheit);
        }
        if (value) points.Add(time.m_dt, *value);
        if (record.MoveNext() < 0) failed = true;
    }
    if (failed) ShowDatabaseError(db);  // and the chart stays empty
    record.Close();
    if (!failed) m_chart->ReplacePoints(points);
}

void Grapsh::OnBnClickedExportImage()
{
    const std::string done = LoadString(IDS_EXPORT_SUCCESS);
    QString path;
    if (m_fnGetSaveFileName) {
        path = m_fnGetSaveFileName();
    } else {
        QFileDialog dialog(nullptr);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(QStringLiteral("(*.jpeg)"));
        dialog.setDefaultSuffix(QStringLiteral("jpeg"));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
    }
    if (path.isEmpty()) return;
    // A name typed without an extension gets the picture's own.
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".jpeg");

    QString reason;
    if (!m_chart->SaveJpeg(path, &reason)) {
        ShowFileWriteError(path, reason);
        return;
    }
    AfxMessageBox(done, MsgButtons::Ok, MsgIcon::Information);
}
