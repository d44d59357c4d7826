#include "app/CAboutDlg.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "platform/Profile.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "ui/DialogUnits.h"

namespace {

// A plain static text: it takes no clicks, so a click on it reaches the dialog.
QLabel* MakeStatic(QWidget* parent, const QString& name, const QRect& rect)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(rect);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace

CAboutDlg::CAboutDlg(const std::string& iniPath, QWidget* parent) : QDialog(parent), m_strIniPath(iniPath)
{
    setObjectName(QStringLiteral(QV_ID_NAME(IDD_ABOUTBOX)));
    setFixedSize(DluSize(191, 63));
    setFont(DialogFont());
    m_fnOpenLink = [](const QString& link) { QDesktopServices::openUrl(QUrl::fromUserInput(link)); };

    m_pIcon = MakeStatic(this, QStringLiteral(QV_ID_NAME(IDR_MAINFRAME)), QRect(DluToPxX(14), DluToPxY(14), 32, 32));
    m_pIcon->setPixmap(QPixmap(QStringLiteral(":/images/%1.png").arg(IDR_MAINFRAME)));
    m_pVersion = MakeStatic(this, QStringLiteral(QV_ID_NAME(IDC_ABOUT_PRODUCT)), DluRect(42, 14, 114, 8));
    m_pCopyright = MakeStatic(this, QStringLiteral(QV_ID_NAME(IDC_ABOUT_COPYRIGHT)), DluRect(42, 26, 114, 8));
    m_pVisit = MakeStatic(this, QStringLiteral(QV_ID_NAME(IDC_ABOUT_VISIT)), DluRect(10, 36, 73, 8));
    m_pLink = MakeStatic(this, QStringLiteral(QV_ID_NAME(IDC_ABOUT_LINK)), DluRect(21, 44, 104, 10));

    m_pExit = new QPushButton(this);
    m_pExit->setObjectName(QStringLiteral(QV_ID_NAME(IDC_ABOUT_EXIT)));
    m_pExit->setGeometry(DluRect(134, 42, 50, 14));
    m_pExit->setDefault(true);
    connect(m_pExit, &QPushButton::clicked, this, &QDialog::reject);

    OnInitDialog();
}

void CAboutDlg::OnInitDialog()
{
    m_pExit->setText(QString::fromStdString(LoadString(IDS_EXIT)));
    m_pVersion->setText(QString::fromStdString(LoadString(IDS_PRODUCT_VERSION)));
    setWindowTitle(QString::fromStdString(LoadString(IDS_ABOUT_TITLE)));

    m_strLabel = QString::fromStdString(LoadString(IDS_PLEASE_VISIT));
    m_pVisit->setText(m_strLabel);

    m_strLink = QString::fromStdString(GetPrivateProfileString("About", "Web", "", m_strIniPath));
    m_pCopyright->setText(QString::fromStdString(GetPrivateProfileString("Copyright", "Copyright", "", m_strIniPath)));

    if (m_strLink.isEmpty()) {
        m_pLink->hide();
        m_pVisit->hide();
        m_rcLink = QRect();
    } else {
        m_pLink->setText(m_strLink);
        QFont font = m_pLink->font();
        font.setUnderline(true);
        m_pLink->setFont(font);
        QPalette palette = m_pLink->palette();
        palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
        m_pLink->setPalette(palette);
        m_rcLink = m_pLink->geometry();
    }
}

void CAboutDlg::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) OnLButtonDown(event->position().toPoint());
    QDialog::mousePressEvent(event);
}

void CAboutDlg::OnLButtonDown(const QPoint& point)
{
    // Strictly inside on all four sides; the edges themselves do not count.
    const int left = m_rcLink.x(), top = m_rcLink.y();
    const int right = left + m_rcLink.width(), bottom = top + m_rcLink.height();
    if (left < point.x() && point.x() < right && top < point.y() && point.y() < bottom && !m_strLink.isEmpty() &&
        m_fnOpenLink)
        m_fnOpenLink(m_strLink);
}
