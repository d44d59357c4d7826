#pragma once
// The About dialog: product name and version, the copyright line and an optional link, the last
// two from Main.ini.
#include <QDialog>
#include <QRect>

#include <functional>
#include <string>

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // iniPath: the Main.ini of the data folder.
    explicit CAboutDlg(const std::string& iniPath, QWidget* parent = nullptr);

    // How a link is opened; tests replace it.
    std::function<void(const QString& link)> m_fnOpenLink;

    QRect m_rcLink;      // the link's rectangle in client coordinates (right and bottom exclusive)
    QString m_strLink;   // About / Web
    QString m_strLabel;  // the label above the link

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void OnInitDialog();
    void OnLButtonDown(const QPoint& point);

    std::string m_strIniPath;
    QLabel* m_pIcon = nullptr;
    QLabel* m_pVersion = nullptr;
    QLabel* m_pCopyright = nullptr;
    QPushButton* m_pExit = nullptr;
    QLabel* m_pVisit = nullptr;
    QLabel* m_pLink = nullptr;
};
