#include "app/QtMessageBoxService.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

QtMessageBoxService::QtMessageBoxService() { setObjectName(QStringLiteral("QtMessageBoxService")); }

MsgAnswer QtMessageBoxService::Show(const std::string& text, const std::string& caption,
                                    MsgButtons buttons, MsgIcon icon)
{
    return ShowWithDefault(text, caption, buttons, icon, MsgDefault::First);
}

MsgAnswer QtMessageBoxService::ShowWithDefault(const std::string& text, const std::string& caption,
                                               MsgButtons buttons, MsgIcon icon,
                                               MsgDefault defaultButton)
{
    if (QThread::currentThread() == thread())
        return ShowHere(text, caption, buttons, icon, defaultButton);
    MsgAnswer answer = MsgAnswer::Ok;
    QMetaObject::invokeMethod(
        this, [&] { answer = ShowHere(text, caption, buttons, icon, defaultButton); },
        Qt::BlockingQueuedConnection);
    return answer;
}

MsgAnswer QtMessageBoxService::ShowHere(const std::string& text, const std::string& caption,
                                        MsgButtons buttons, MsgIcon icon,
                                        MsgDefault defaultButton)
{
    const bool second = defaultButton == MsgDefault::Second;
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Stop: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    switch (buttons) {
    case MsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    case MsgButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(second ? QMessageBox::Cancel : QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MsgButtons::YesNo:
        // A Yes/No question cannot be escaped; it needs an answer.
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(second ? QMessageBox::No : QMessageBox::Yes);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    default: break;
    }
    // A box closed some other way (its window closed) counts as the safe answer.
    if (buttons == MsgButtons::YesNo) return MsgAnswer::No;
    if (buttons == MsgButtons::OkCancel) return MsgAnswer::Cancel;
    return MsgAnswer::Ok;
}
