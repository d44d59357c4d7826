// The real platform services that other tests replace with stand-ins: the save-file dialogs of the
// history and graph exports, the About link handed to the desktop, and the restart's start of a
// detached process.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "history/Grapsh.h"
#include "history/Main.h"
#include "ui/DialogTestSupport.h"
#include "ui/ModalHelper.h"

namespace {

// Answers the real save dialog as a user does: goes to the folder, moves down the list of types
// by typeSteps entries, types the name and presses Enter; an empty name presses Escape.
void AnswerSaveDialog(const QString& folder, const QString& name, int typeSteps = 0)
{
    WhenModal(QString(), [=](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        if (name.isEmpty()) {
            QTest::keyClick(dialog, Qt::Key_Escape);
            return;
        }
        dialog->setDirectory(folder);
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(types, nullptr);
        for (int i = 0; i < typeSteps; ++i) QTest::keyClick(types, Qt::Key_Down);
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        QTest::keyClicks(edit, name);
        QTest::keyClick(edit, Qt::Key_Return);
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the save dialog stays open";
            dialog->reject();
        }
    });
}

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Receives the links the desktop is asked to open.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls << url; }
};

using PlatformServicesTest = DialogTest;

}  // namespace

TEST_F(PlatformServicesTest, ExportsGoThroughTheRealSaveDialog)
{
    const QString folder = QString::fromStdString(m_dir.Path());
    {
        Main dlg;
        // A name without an extension takes the chosen type's: text by default, then the second type.
        AnswerSaveDialog(folder, QStringLiteral("records"));
        dlg.OnBnClickedExportCsv();
        const QByteArray text = Contents(folder + QStringLiteral("/records.csv"));
        EXPECT_TRUE(text.startsWith(QByteArray("\xFF\xFE", 2)));
        EXPECT_TRUE(text.contains(QByteArray("N\0u\0m\0b\0e\0r\0", 12)));

        AnswerSaveDialog(folder, QStringLiteral("second"), 1);
        dlg.OnBnClickedExportCsv();
        EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/second.pdf")));
        EXPECT_EQ(m_boxes->Count(), 2u);

        // Escape: nothing written, nothing said.
        AnswerSaveDialog(folder, QString());
        dlg.OnBnClickedExportCsv();
        EXPECT_EQ(m_boxes->Count(), 2u);
    }
    {
        Grapsh dlg;
        dlg.show();
        AnswerSaveDialog(folder, QStringLiteral("graph"));
        dlg.OnBnClickedExportImage();
        QImage image;
        EXPECT_TRUE(image.loadFromData(Contents(folder + QStringLiteral("/graph.jpeg")), "JPEG"));
        EXPECT_FALSE(image.isNull());
    }
    for (const auto& box : m_boxes->Entries()) EXPECT_EQ(box.text, "Successfully exported the history records");
}

TEST_F(PlatformServicesTest, AboutLinkGoesToTheDesktopAsAWebAddress)
{
    LinkCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "Open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
    for (const char* web : {"www.example.org", "https://example.org/help"}) {
        WriteFile(theDeviceState.m_strIniPath, std::string("[About]\nWeb=") + web + "\n");
        CAboutDlg dlg(theDeviceState.m_strIniPath);
        QTest::mouseClick(&dlg, Qt::LeftButton, Qt::NoModifier, dlg.m_rcLink.center());
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    EXPECT_EQ(catcher.urls, QList<QUrl>({QUrl(QStringLiteral("http://www.example.org")),
                                         QUrl(QStringLiteral("https://example.org/help"))}));
}

TEST_F(PlatformServicesTest, RestartStartsTheProgramDetached)
{
    // A stand-in program in a folder whose name has a space; it notes its arguments.
    const std::string folder = m_dir.File("my programs");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string program = folder + "/quorvantis";
    const std::string note = m_dir.File("started");
    WriteFile(program, "#!/bin/sh\necho \"$#\" > '" + note + ".tmp' && mv '" + note + ".tmp' '" + note + "'\n");
    ASSERT_EQ(::chmod(program.c_str(), 0700), 0);

    CMainFrame frame;
    frame.m_fnStartProcess(program);
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo::exists(QString::fromStdString(note)); }));
    EXPECT_EQ(Contents(QString::fromStdString(note)), QByteArray("0\n"));
}

#include "test_PlatformServices.moc"
