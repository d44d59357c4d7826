#pragma once
// The closing notice: a borderless picture with "Program is closing" that closes itself.
#include <QDialog>
#include <QFont>
#include <QImage>
#include <QRect>

class CloseDialo : public QDialog {
    Q_OBJECT
public:
    // ms: how long the notice stays before it closes itself.
    explicit CloseDialo(QWidget* parent = nullptr, int ms = 2100);

    // Where the notice's text is drawn, and the font it is drawn in.
    static QRect TextRect();
    static QFont TextFont();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void OnTimer();

    int m_nMs;
    QImage m_background;  // tiled over the client area
};
