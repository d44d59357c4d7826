#pragma once
// The device settings dialog. One object lives in the main frame for its whole life, so the
// settings block that Save fills outlasts the dialog and is read by the settings-writer thread.
#include <QDialog>
#include <QRect>
#include <QString>

#include <string>

#include "platform/OleDateTime.h"
#include "settings/SettingsBlock.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimeEdit;

class CSetupParam : public QDialog, public SettingsBlockFields {
    Q_OBJECT
public:
    explicit CSetupParam(QWidget* parent = nullptr);
    ~CSetupParam() override;

    // Every showing (exec, open or show) starts with OnInitDialog, as a newly created dialog would.
    void setVisible(bool visible) override;

    // Reads the configuration again and fills every control. Always true.
    bool OnInitDialog();
    // Copies the members into the controls (save = false) or the controls into the members.
    void DoDataExchange(bool save);

    // Handlers of the controls.
    void OnBnClickedSave();
    void OnCbnSelchangeUnit();
    void OnBnClickedSeconds();
    void OnBnClickedMinute();
    void OnEnSetfocusTempOffset();
    void OnEnSetfocusInterval();
    void OnEnSetfocusHumiOffset();
    void OnEnKillfocusHumiOffset();
    void OnEnKillfocusTempOffset();
    void OnEnKillfocusInterval();
    void OnCbnSelchangeMode();
    void OnBnClickedPeriod1();
    void OnBnClickedPeriod2();
    void OnBnClickedPeriod3();
    void OnBnClickedPeriod4();

    QCheckBox* m_chkAutoOff = nullptr;
    // Texts loaded at opening; slots 26 and 27 are the settings writer's failure messages.
    std::string m_strMsg[28];
    QString m_strTempOffset;
    QComboBox* m_cmbSeconds = nullptr;
    QString m_strInterval;
    QRect m_rcWindow;
    int m_nFullHeight = 0;
    int m_nFullWidth = 0;
    // The live readings at opening (temperatures in the shared scale, 0xFFFF = none).
    int m_nCurTemp = 0;
    int m_nCurTempRaw = 0;
    int m_nCurHumiRaw = 0;
    // The opened recorder the dialog read (CHidLink::OpenSerial), 0 when none.
    unsigned m_nReadFrom = 0;

    QString m_strHumiOffset;

    // Period pickers: the date value is a day at midnight, the time value an hour and minute on
    // day zero. Each time picker also has its control (for the display format).
    OleDateTime m_dtEndDate1, m_dtEndTime1;
    QTimeEdit* m_ctlEndTime1 = nullptr;
    OleDateTime m_dtStartDate1, m_dtStartTime1;
    QTimeEdit* m_ctlStartTime1 = nullptr;
    OleDateTime m_dtEndDate4, m_dtEndTime4;
    QTimeEdit* m_ctlEndTime4 = nullptr;
    OleDateTime m_dtStartDate4, m_dtStartTime4;
    QTimeEdit* m_ctlStartTime4 = nullptr;
    OleDateTime m_dtEndDate2, m_dtEndTime2;
    QTimeEdit* m_ctlEndTime2 = nullptr;
    OleDateTime m_dtStartDate2, m_dtStartTime2;
    QTimeEdit* m_ctlStartTime2 = nullptr;
    OleDateTime m_dtEndDate3, m_dtEndTime3;
    QTimeEdit* m_ctlEndTime3 = nullptr;
    OleDateTime m_dtStartDate3, m_dtStartTime3;
    QTimeEdit* m_ctlStartTime3 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The widgets of one recording period (k = 0..3).
    struct PeriodControls {
        QGroupBox* group = nullptr;
        QGroupBox* startGroup = nullptr;
        QGroupBox* endGroup = nullptr;
        QCheckBox* check = nullptr;
        QDateEdit* startDate = nullptr;
        QTimeEdit* startTime = nullptr;
        QDateEdit* endDate = nullptr;
        QTimeEdit* endTime = nullptr;
        QLabel* dateCaption[2] = {};  // start, end
        QLabel* timeCaption[2] = {};
    };
    // Moves a period's inner boxes and their controls down until its frame line is clear of
    // their titles (nothing when it is).
    static void KeepPeriodTitlesClear(PeriodControls& p);

    void CreateControls();
    // Puts the controls back into their freshly created state before a showing.
    void ResetControls();
    void EnablePeriod(int k);
    // The window size for the given mode, centred on the screen.
    void PlaceWindow(bool full);
    // A stored temperature offset in the given unit (1 °C, 0 °F) by the offset formula, whatever its
    // range (the opening shows "--.-" outside 0..200 itself).
    static QString TempOffsetText(int offset, int unit);
    // Messages of a period order check.
    static int StartAfterNowId(int k);
    static int EndAfterStartId(int k);
    static int StartAfterEndId(int k, int previous);
    // Values of the pickers of period k.
    OleDateTime& StartDate(int k);
    OleDateTime& StartTime(int k);
    OleDateTime& EndDate(int k);
    OleDateTime& EndTime(int k);

    PeriodControls m_period[4];
    QGroupBox* m_pDisplayGroup = nullptr;
    QGroupBox* m_pLcdGroup = nullptr;
    QGroupBox* m_pIntervalGroup = nullptr;
    QGroupBox* m_pOffsetGroup = nullptr;
    QLabel* m_pUnitLabel = nullptr;
    QLabel* m_pDateLabel = nullptr;
    QLabel* m_pTimeFormatLabel = nullptr;
    QLabel* m_pModeLabel = nullptr;
    QLabel* m_pIntervalLabel = nullptr;
    QLabel* m_pTempOffsetLabel = nullptr;
    QLabel* m_pHumiOffsetLabel = nullptr;
    QLabel* m_pTempUnitLabel = nullptr;
    QLabel* m_pHumiUnitLabel = nullptr;
    QLabel* m_pIntervalTip = nullptr;
    QLabel* m_pTempHint1 = nullptr;
    QLabel* m_pTempHint2 = nullptr;
    QLabel* m_pHumiHint1 = nullptr;
    QLabel* m_pHumiHint2 = nullptr;
    QComboBox* m_pUnit = nullptr;
    QComboBox* m_pDateFormat = nullptr;
    QComboBox* m_pTimeFormat = nullptr;
    QComboBox* m_pMode = nullptr;
    QLineEdit* m_pInterval = nullptr;
    QLineEdit* m_pTempOffset = nullptr;
    QLineEdit* m_pHumiOffset = nullptr;
    QRadioButton* m_pMinute = nullptr;
    QRadioButton* m_pSecond = nullptr;
    QPushButton* m_pSave = nullptr;
    QPushButton* m_pExit = nullptr;
};
